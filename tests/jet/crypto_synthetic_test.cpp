// The encryption kinds no fixture carries (Office standard AES, its non-standard
// sibling, Office binary RC4): descriptors built here from the published layout, keys
// derived here with plain OpenSSL calls, independently of jet/codec.cpp. The codec
// must accept the right password, refuse others, and decode pages encrypted here.

#include "jet/codec.h"
#include "jet/codec_primitives.h"
#include "jet/error.h"

#include <gtest/gtest.h>

#include <openssl/evp.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes le32(std::uint32_t v) { return {std::uint8_t(v), std::uint8_t(v >> 8), std::uint8_t(v >> 16), std::uint8_t(v >> 24)}; }
Bytes le16(std::uint16_t v) { return {std::uint8_t(v), std::uint8_t(v >> 8)}; }

Bytes digest(const char* name, const Bytes& data) {
    Bytes out(EVP_MAX_MD_SIZE);
    unsigned int len = 0;
    EXPECT_EQ(EVP_Digest(data.data(), data.size(), out.data(), &len, EVP_get_digestbyname(name), nullptr), 1);
    out.resize(len);
    return out;
}

Bytes aesEcb(const Bytes& key, Bytes data, bool encrypt) {
    const EVP_CIPHER* c = key.size() == 16 ? EVP_aes_128_ecb() : key.size() == 24 ? EVP_aes_192_ecb() : EVP_aes_256_ecb();
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(), &EVP_CIPHER_CTX_free);
    EXPECT_EQ(EVP_CipherInit_ex(ctx.get(), c, nullptr, key.data(), nullptr, encrypt ? 1 : 0), 1);
    EVP_CIPHER_CTX_set_padding(ctx.get(), 0);
    int n = 0, m = 0;
    EXPECT_EQ(EVP_CipherUpdate(ctx.get(), data.data(), &n, data.data(), static_cast<int>(data.size())), 1);
    EXPECT_EQ(EVP_CipherFinal_ex(ctx.get(), data.data() + n, &m), 1);
    return data;
}

Bytes utf16(const std::string& ascii) {
    Bytes b;
    for (char c : ascii) {
        b.push_back(static_cast<std::uint8_t>(c));
        b.push_back(0);
    }
    return b;
}

Bytes randomBytes(std::size_t n, std::mt19937& rng) {
    Bytes b(n);
    for (auto& x : b) x = static_cast<std::uint8_t>(rng());
    return b;
}

// A plain page 0 with an encoding key and a descriptor.
Bytes headerWith(std::uint32_t encodingKey, const Bytes& descriptor) {
    Bytes page(4096, 0);
    page[0x01] = 0x01;
    page[0x14] = 0x03;
    std::memcpy(page.data() + 0x3E, le32(encodingKey).data(), 4);
    std::memcpy(page.data() + 0x299, le16(static_cast<std::uint16_t>(descriptor.size())).data(), 2);
    std::memcpy(page.data() + 0x29B, descriptor.data(), descriptor.size());
    return page;
}

// --- standard and non-standard AES ------------------------------------------------

struct StandardCase {
    const char* name;
    std::uint32_t flags;  // 0x24: CryptoAPI + AES (standard); 0x04: CryptoAPI only (non-standard)
    std::uint32_t algId;
    int keyBits;
    int rounds;
    jet::Protection kind;
};

const StandardCase kStandard[] = {
    {"standard AES-128", 0x24, 0x660E, 128, 50000, jet::Protection::OfficeStandardAes},
    {"standard AES-256", 0x24, 0x6610, 256, 50000, jet::Protection::OfficeStandardAes},
    {"non-standard AES-192", 0x04, 0x660F, 192, 0, jet::Protection::OfficeNonStandard},
    {"non-standard AES-256", 0x0C, 0x6610, 256, 0, jet::Protection::OfficeNonStandard},
};

Bytes standardKey(const Bytes& salt, const std::string& password, int rounds, std::uint32_t block, int keyBits) {
    Bytes h = digest("SHA1", cat({salt, utf16(password)}));
    for (int i = 0; i < rounds; ++i) h = digest("SHA1", cat({le32(static_cast<std::uint32_t>(i)), h}));
    Bytes f = digest("SHA1", cat({h, le32(block)}));
    Bytes b1(64, 0x36), b2(64, 0x5C);
    for (std::size_t i = 0; i < f.size(); ++i) {
        b1[i] ^= f[i];
        b2[i] ^= f[i];
    }
    Bytes key = cat({digest("SHA1", b1), digest("SHA1", b2)});
    key.resize(static_cast<std::size_t>(keyBits / 8));
    return key;
}

Bytes standardDescriptor(const StandardCase& c, const Bytes& salt, const Bytes& key0, std::mt19937& rng) {
    Bytes csp = utf16("Microsoft Enhanced RSA and AES Cryptographic Provider");
    csp.push_back(0);
    csp.push_back(0);
    Bytes header = cat({le32(c.flags), le32(0), le32(c.algId), le32(0x8004), le32(static_cast<std::uint32_t>(c.keyBits)),
                        le32(0x18), le32(0), le32(0), csp});
    Bytes verifier = randomBytes(16, rng);
    Bytes hash = digest("SHA1", verifier);
    hash.resize(32, 0);
    return cat({le16(4), le16(2), le32(c.flags), le32(static_cast<std::uint32_t>(header.size())), header, le32(16), salt,
                aesEcb(key0, verifier, true), le32(20), aesEcb(key0, hash, true)});
}

TEST(SyntheticEncryption, StandardAndNonStandardAes) {
    std::mt19937 rng(42);
    const std::string password = "Pässwort 1";
    for (const auto& c : kStandard) {
        SCOPED_TRACE(c.name);
        const std::uint32_t encodingKey = 0xA1B2C3D4;
        Bytes salt = randomBytes(16, rng);
        Bytes key0 = standardKey(salt, "P\xE4sswort 1", c.rounds, 0, c.keyBits); // the test's UTF-16 is byte-wise Latin-1
        Bytes page0 = headerWith(encodingKey, standardDescriptor(c, salt, key0, rng));

        auto info = jet::describeEncryption(page0, jet::Format::Ace14);
        EXPECT_EQ(info.kind, c.kind);
        EXPECT_EQ(info.keyBits, c.keyBits);
        EXPECT_EQ(info.spinCount, static_cast<std::uint32_t>(c.rounds));

        auto codec = jet::makePageCodec(page0, jet::Format::Ace14, password);
        ASSERT_NE(codec, nullptr);
        for (std::uint32_t n : {1u, 2u, 77u}) {
            Bytes plain = randomBytes(4096, rng);
            Bytes stored = aesEcb(standardKey(salt, "P\xE4sswort 1", c.rounds, encodingKey ^ n, c.keyBits), plain, true);
            Bytes page = stored;
            codec->decode(n, page.data(), page.size());
            EXPECT_EQ(page, plain) << "page " << n;
            codec->encode(n, page.data(), page.size());
            EXPECT_EQ(page, stored) << "page " << n;
        }
        for (const char* wrong : {"", "P\xC3\xA4sswort 2", "password"}) {
            try {
                jet::makePageCodec(page0, jet::Format::Ace14, wrong);
                ADD_FAILURE() << "accepted a wrong password";
            } catch (const jet::Error& e) {
                EXPECT_EQ(e.number(), jet::errc::NotValidPassword);
            }
        }
    }
}

// --- Office binary RC4 (1.1) ------------------------------------------------------

Bytes binaryRc4Key(const Bytes& salt, const std::string& password, std::uint32_t block) {
    Bytes h0 = digest("MD5", utf16(password));
    h0.resize(5);
    Bytes buf;
    for (int i = 0; i < 16; ++i) buf = cat({buf, h0, salt});
    Bytes base = digest("MD5", buf);
    base.resize(5);
    return digest("MD5", cat({base, le32(block)}));
}

TEST(SyntheticEncryption, OfficeBinaryRc4) {
    std::mt19937 rng(9);
    const std::string password = "binary-rc4";
    const std::uint32_t encodingKey = 0x01020304;
    Bytes salt = randomBytes(16, rng);
    Bytes verifier = randomBytes(16, rng);
    Bytes both = cat({verifier, digest("MD5", verifier)});
    jet::crypto::rc4(binaryRc4Key(salt, password, 0), both);
    Bytes page0 = headerWith(encodingKey, cat({le16(1), le16(1), salt, both}));

    EXPECT_EQ(jet::describeEncryption(page0, jet::Format::Ace12).kind, jet::Protection::OfficeBinaryRc4);
    auto codec = jet::makePageCodec(page0, jet::Format::Ace12, password);
    ASSERT_NE(codec, nullptr);
    for (std::uint32_t n : {1u, 5u, 4096u}) {
        Bytes plain = randomBytes(4096, rng);
        Bytes stored = plain;
        jet::crypto::rc4(binaryRc4Key(salt, password, encodingKey ^ n), stored);
        Bytes page = stored;
        codec->decode(n, page.data(), page.size());
        EXPECT_EQ(page, plain) << "page " << n;
    }
    EXPECT_THROW(jet::makePageCodec(page0, jet::Format::Ace12, "binary-rc5"), jet::Error);
}

// --- RC4 CryptoAPI with 40-bit keys (Access 2007's default provider) -----------------

// A 40-bit key is used as 16 bytes: the 5 key bytes and 11 zero bytes. A key size of 0
// means the provider's default: 40 bits for the "Base" provider.
TEST(SyntheticEncryption, Rc4CryptoApiFortyBitKeys) {
    std::mt19937 rng(5);
    const std::string password = "Test123";
    const std::uint32_t encodingKey = 0x0BADF00D;
    for (std::uint32_t storedKeySize : {40u, 0u}) {
        SCOPED_TRACE(storedKeySize);
        Bytes salt = randomBytes(16, rng);
        const Bytes base = digest("SHA1", cat({salt, utf16(password)}));
        auto keyFor = [&](std::uint32_t block) {
            Bytes k = digest("SHA1", cat({base, le32(block)}));
            k.resize(5);
            k.resize(16, 0);
            return k;
        };
        Bytes csp = utf16("Microsoft Base Cryptographic Provider v1.0");
        csp.push_back(0);
        csp.push_back(0);
        Bytes header = cat({le32(0x04), le32(0), le32(0x6801), le32(0x8004), le32(storedKeySize), le32(1), le32(0),
                            le32(0), csp});
        Bytes verifier = randomBytes(16, rng);
        Bytes both = cat({verifier, digest("SHA1", verifier)});
        jet::crypto::rc4(keyFor(0), both);
        Bytes page0 = headerWith(encodingKey, cat({le16(4), le16(2), le32(0x04), le32(static_cast<std::uint32_t>(header.size())),
                                                   header, le32(16), salt, Bytes(both.begin(), both.begin() + 16), le32(20),
                                                   Bytes(both.begin() + 16, both.end())}));
        auto info = jet::describeEncryption(page0, jet::Format::Ace12);
        EXPECT_EQ(info.kind, jet::Protection::OfficeRc4CryptoApi);
        EXPECT_EQ(info.keyBits, 40);
        auto codec = jet::makePageCodec(page0, jet::Format::Ace12, password);
        ASSERT_NE(codec, nullptr);
        Bytes plain = randomBytes(4096, rng);
        Bytes stored = plain;
        jet::crypto::rc4(keyFor(encodingKey ^ 9u), stored);
        codec->decode(9, stored.data(), stored.size());
        EXPECT_EQ(stored, plain);
        EXPECT_THROW(jet::makePageCodec(page0, jet::Format::Ace12, "test123"), jet::Error);
    }
}

} // namespace
