// Page codecs on the real encrypted fixtures: the right password decodes every page
// to a page the format knows, encoding gives back the stored bytes exactly, a wrong or
// missing password is 3031, damaged descriptors are refused cleanly.

#include "jet/codec.h"
#include "jet/codec_primitives.h"
#include "jet/error.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

using jet::Format;
using jet::Protection;

const std::string kFiles = std::string(QM_ACCESS_FIXTURES) + "/files/";

std::vector<std::uint8_t> readFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    EXPECT_TRUE(f.good()) << path;
    return {std::istreambuf_iterator<char>(f), {}};
}

Format formatOf(std::uint8_t versionByte) {
    static const Format formats[] = {Format::Jet3,  Format::Jet4,  Format::Ace12, Format::Ace14,
                                     Format::Ace15, Format::Ace16, Format::Ace17};
    return formats[std::min<std::size_t>(versionByte, 6)];
}

// A fixture file loaded whole, with page 0's RC4 mask removed in a copy.
struct Loaded {
    std::vector<std::uint8_t> bytes;
    std::vector<std::uint8_t> header; // page 0, unmasked
    Format format = Format::Jet4;
    std::size_t pageSize = 4096;
    std::size_t pageCount() const { return bytes.size() / pageSize; }
    std::vector<std::uint8_t> storedPage(std::size_t n) const {
        auto first = bytes.begin() + static_cast<std::ptrdiff_t>(n * pageSize);
        return {first, first + static_cast<std::ptrdiff_t>(pageSize)};
    }
};

Loaded load(const std::string& rel) {
    Loaded l;
    l.bytes = readFile(kFiles + rel);
    if (l.bytes.size() < 4096) {
        ADD_FAILURE() << "fixture too short: " << rel;
        return l;
    }
    l.format = formatOf(l.bytes[0x14]);
    l.pageSize = l.format == Format::Jet3 ? 2048 : 4096;
    l.header.assign(l.bytes.begin(), l.bytes.begin() + static_cast<std::ptrdiff_t>(l.pageSize));
    const std::size_t maskLen = l.format == Format::Jet3 ? 126 : 128;
    std::vector<std::uint8_t> mask(maskLen, 0);
    const std::uint8_t maskKey[4] = {0xC7, 0xDA, 0x39, 0x6B};
    jet::crypto::rc4(maskKey, mask);
    for (std::size_t i = 0; i < maskLen; ++i) l.header[0x18 + i] ^= mask[i];
    return l;
}

struct EncryptedCase {
    const char* file;
    const char* password;
    Protection kind;
    const char* cipher;
    const char* hash;
    int keyBits;
};

// What each protected fixture really holds (read from its descriptor).
const EncryptedCase kEncrypted[] = {
    {"mdb-reader/password/V2010_with-password.accdb", "password", Protection::OfficeAgile, "AES-256-CBC", "SHA512", 256},
    {"mdb-reader/encryption/office-agile-4.4.accdb", "password", Protection::OfficeAgile, "AES-256-CBC", "SHA512", 256},
    {"mdb-reader/encryption/office-agile-4.2.accdb", "password", Protection::OfficeRc4CryptoApi, "RC4-128", "SHA1", 128},
    {"jackcess-encrypt/db2007-enc.accdb", "Test123", Protection::OfficeAgile, "AES-128-CBC", "SHA1", 128},
    {"jackcess-encrypt/db2013-enc.accdb", "1234", Protection::OfficeAgile, "AES-256-CBC", "SHA512", 256},
};

std::string caseName(const testing::TestParamInfo<EncryptedCase>& info) {
    std::string s = info.param.file;
    s = s.substr(s.find_last_of('/') + 1);
    for (auto& c : s)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return s;
}

class EncryptedFixture : public testing::TestWithParam<EncryptedCase> {};

TEST_P(EncryptedFixture, DescriptorIsRecognised) {
    const auto& c = GetParam();
    Loaded l = load(c.file);
    auto info = jet::describeEncryption(l.header, l.format);
    EXPECT_EQ(info.kind, c.kind);
    EXPECT_EQ(info.cipher, c.cipher);
    EXPECT_EQ(info.hash, c.hash);
    EXPECT_EQ(info.keyBits, c.keyBits);
    EXPECT_NE(info.encodingKey, 0u);
    if (c.kind == Protection::OfficeAgile) {
        EXPECT_EQ(info.versionMajor, 4);
        EXPECT_EQ(info.versionMinor, 4);
        EXPECT_EQ(info.spinCount, 100000u);
    }
}

// Every page decodes to a page type the format defines, page 1 is the global usage
// map's data page and page 2 the MSysObjects TDEF, and encoding the plain page gives
// back the stored bytes exactly (so a writer's pages are what Access would store).
TEST_P(EncryptedFixture, EveryPageDecodesAndEncodesBackToTheStoredBytes) {
    const auto& c = GetParam();
    Loaded l = load(c.file);
    auto codec = jet::makePageCodec(l.header, l.format, c.password, c.file);
    ASSERT_NE(codec, nullptr);
    ASSERT_GT(l.pageCount(), 3u);

    std::size_t known = 0;
    for (std::size_t n = 1; n < l.pageCount(); ++n) {
        auto stored = l.storedPage(n);
        auto page = stored;
        codec->decode(static_cast<std::uint32_t>(n), page.data(), page.size());
        EXPECT_NE(page, stored) << "page " << n << " was not encrypted?";
        const std::uint8_t type = page[0];
        // 0x00: freed page; 0x08/0x09: pages Access released.
        const bool knownType = type <= 0x05 || type == 0x08 || type == 0x09;
        EXPECT_TRUE(knownType) << "page " << n << " decodes to type " << int(type);
        if (type >= 0x01 && type <= 0x05) {
            EXPECT_EQ(page[1], 0x01) << "page " << n;
            ++known;
        }
        if (n == 1) {
            EXPECT_EQ(type, 0x01);
        }
        if (n == 2) {
            EXPECT_EQ(type, 0x02);
            // MSysObjects: a non-empty definition.
            EXPECT_GT(jet::readU32(page.data() + 8), 0u);
        }
        auto again = page;
        codec->encode(static_cast<std::uint32_t>(n), again.data(), again.size());
        EXPECT_EQ(again, stored) << "page " << n << " does not encode back";
    }
    EXPECT_GT(known, l.pageCount() / 2);
}

TEST_P(EncryptedFixture, PageZeroIsLeftAlone) {
    const auto& c = GetParam();
    Loaded l = load(c.file);
    auto codec = jet::makePageCodec(l.header, l.format, c.password);
    ASSERT_NE(codec, nullptr);
    auto page0 = l.storedPage(0);
    auto copy = page0;
    codec->decode(0, copy.data(), copy.size());
    EXPECT_EQ(copy, page0);
    codec->encode(0, copy.data(), copy.size());
    EXPECT_EQ(copy, page0);
}

TEST_P(EncryptedFixture, WrongOrMissingPasswordIsRefused) {
    const auto& c = GetParam();
    Loaded l = load(c.file);
    std::string upper = c.password;
    std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char ch) { return std::toupper(ch); });
    const std::string wrong[] = {"", "wrong", std::string(c.password) + " ", upper, std::string(c.password).substr(1),
                                 std::string(300, 'x')};
    for (const auto& pw : wrong) {
        if (pw == c.password) continue;
        try {
            jet::makePageCodec(l.header, l.format, pw, c.file);
            ADD_FAILURE() << c.file << ": accepted a wrong password of length " << pw.size();
        } catch (const jet::Error& e) {
            EXPECT_EQ(e.number(), jet::errc::NotValidPassword);
            EXPECT_STREQ(e.what(), "Not a valid password.");
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, EncryptedFixture, testing::ValuesIn(kEncrypted), caseName);

// Files without encryption get no codec, whatever password is given; the Jet page
// encoding needs none.
TEST(PageCodecFactory, UnencryptedFilesGetNoCodec) {
    struct {
        const char* file;
        const char* password;
    } cases[] = {
        {"mdb-reader/password/V2010_no-password.accdb", ""},
        {"mdb-reader/password/V2010_no-password.accdb", "password"},
        {"mdb-reader/password/V2000_with-password.mdb", "password"}, // a check, not encryption
        {"mdb-reader/password/V1997_no-password.mdb", ""},
        {"mdb-reader/V2016/currency.accdb", "x"},
    };
    for (const auto& c : cases) {
        Loaded l = load(c.file);
        EXPECT_EQ(jet::makePageCodec(l.header, l.format, c.password), nullptr) << c.file;
        EXPECT_EQ(jet::describeEncryption(l.header, l.format).kind, Protection::None) << c.file;
    }
}

TEST(PageCodecFactory, JetEncodedFileDecodesWithoutPassword) {
    Loaded l = load("jackcess-encrypt/db-enc.mdb");
    EXPECT_EQ(jet::describeEncryption(l.header, l.format).kind, Protection::JetRc4);
    for (const char* pw : {"", "anything"}) {
        auto codec = jet::makePageCodec(l.header, l.format, pw);
        ASSERT_NE(codec, nullptr);
        for (std::uint32_t n = 1; n < l.pageCount(); ++n) {
            auto stored = l.storedPage(n);
            auto page = stored;
            codec->decode(n, page.data(), page.size());
            EXPECT_TRUE(page[0] <= 0x05) << "page " << n;
            if (n == 2) {
                EXPECT_EQ(page[0], 0x02);
            }
            codec->encode(n, page.data(), page.size());
            EXPECT_EQ(page, stored);
        }
    }
}

// Damaged or unknown descriptors: refused with the right number, never a crash and
// never the password in the message.
TEST(PageCodecFactory, DamagedDescriptorsAreRefused) {
    Loaded agile = load("mdb-reader/encryption/office-agile-4.4.accdb");
    Loaded rc4 = load("mdb-reader/encryption/office-agile-4.2.accdb");
    auto xmlOf = [](std::vector<std::uint8_t>& h) {
        return std::string(reinterpret_cast<char*>(h.data()), h.size());
    };
    auto replaceInXml = [&](std::vector<std::uint8_t> h, const std::string& from, const std::string& to) {
        std::string s = xmlOf(h);
        auto pos = s.find(from);
        EXPECT_NE(pos, std::string::npos) << from;
        if (pos != std::string::npos) {
            EXPECT_EQ(from.size(), to.size());
            std::memcpy(h.data() + pos, to.data(), to.size());
        }
        return h;
    };
    auto poke16 = [](std::vector<std::uint8_t> h, std::size_t at, std::uint16_t v) {
        jet::writeU16(h.data() + at, v);
        return h;
    };
    auto poke32 = [](std::vector<std::uint8_t> h, std::size_t at, std::uint32_t v) {
        jet::writeU32(h.data() + at, v);
        return h;
    };
    struct Case {
        const char* what;
        std::vector<std::uint8_t> header;
        int number;
    };
    std::vector<Case> cases = {
        {"descriptor longer than the page", poke16(agile.header, 0x299, 0x0F00), jet::errc::CorruptDatabase},
        {"descriptor too short", poke16(agile.header, 0x299, 2), jet::errc::CorruptDatabase},
        {"extensible encryption 4.3", poke16(agile.header, 0x29D, 3), jet::errc::EncryptedNotSupported},
        {"unknown version 9.9", poke16(poke16(agile.header, 0x29B, 9), 0x29D, 9), jet::errc::EncryptedNotSupported},
        {"agile reserved value", poke32(agile.header, 0x29F, 0x41), jet::errc::CorruptDatabase},
        {"agile cipher DES", replaceInXml(agile.header, "cipherAlgorithm=\"AES\"", "cipherAlgorithm=\"DES\""),
         jet::errc::EncryptedNotSupported},
        {"agile hash WHIRL", replaceInXml(agile.header, "hashAlgorithm=\"SHA512\"", "hashAlgorithm=\"WHIRL1\""),
         jet::errc::EncryptedNotSupported},
        {"agile bad base64", replaceInXml(agile.header, "saltValue=\"DAyc", "saltValue=\"D*yc"),
         jet::errc::CorruptDatabase},
        {"agile no password key", replaceInXml(agile.header, "keyEncryptor/password\"><p:",
                                               "keyEncryptor/passwore\"><p:"),
         jet::errc::EncryptedNotSupported},
        {"agile spin count huge", replaceInXml(agile.header, "spinCount=\"100000\" saltSize=\"16\"",
                                               "spinCount=\"20000000\" ssSize=\"16\""),
         jet::errc::CorruptDatabase},
        {"agile spin count changed", replaceInXml(agile.header, "spinCount=\"100000\"", "spinCount=\"100001\""),
         jet::errc::NotValidPassword},
        {"agile verifier changed", replaceInXml(agile.header, "encryptedVerifierHashInput=\"Pp", "encryptedVerifierHashInput=\"Qp"),
         jet::errc::NotValidPassword},
        {"CryptoAPI salt size", poke32(rc4.header, 0x29B + 12 + 0x7E, 15), jet::errc::CorruptDatabase},
        {"CryptoAPI header size past the end", poke32(rc4.header, 0x29B + 8, 0x7000), jet::errc::CorruptDatabase},
        {"CryptoAPI unknown cipher", poke32(rc4.header, 0x29B + 12 + 8, 0x6602), jet::errc::EncryptedNotSupported},
        {"CryptoAPI unknown hash", poke32(rc4.header, 0x29B + 12 + 12, 0x8003), jet::errc::EncryptedNotSupported},
        {"CryptoAPI without CryptoAPI flag", poke32(rc4.header, 0x29B + 4, 0), jet::errc::EncryptedNotSupported},
        {"CryptoAPI salt changed", poke32(rc4.header, 0x29B + 12 + 0x7E + 4, 0), jet::errc::NotValidPassword},
    };
    for (auto& c : cases) {
        // With the file's own password: the damage alone decides.
        try {
            jet::makePageCodec(c.header, Format::Ace14, "password", "copy.accdb");
            ADD_FAILURE() << c.what << ": accepted";
        } catch (const jet::Error& e) {
            EXPECT_EQ(e.number(), c.number) << c.what << ": " << e.what();
        }
        // With a recognisable wrong one: the message never carries it.
        const std::string secret = "Zq7-s3cr3t";
        try {
            jet::makePageCodec(c.header, Format::Ace14, secret, "copy.accdb");
            ADD_FAILURE() << c.what << ": accepted a wrong password";
        } catch (const jet::Error& e) {
            if (c.number != jet::errc::NotValidPassword) {
                EXPECT_EQ(e.number(), c.number) << c.what;
            }
            EXPECT_EQ(std::string(e.what()).find(secret), std::string::npos) << c.what << ": " << e.what();
        }
    }
}

// Random damage anywhere in the descriptor ends as one of the three expected errors (or,
// rarely, a codec when only unused bytes changed): never another exception or a crash.
TEST(PageCodecFactory, RandomDamageGivesOnlyExpectedErrors) {
    Loaded agile = load("mdb-reader/encryption/office-agile-4.4.accdb");
    Loaded rc4 = load("mdb-reader/encryption/office-agile-4.2.accdb");
    // A spin count of 1 keeps each attempt cheap (same length, so the descriptor keeps its size).
    std::string xml(reinterpret_cast<char*>(agile.header.data()), agile.header.size());
    auto pos = xml.find("spinCount=\"100000\"");
    ASSERT_NE(pos, std::string::npos);
    std::memcpy(agile.header.data() + pos, "spinCount=\"000001\"", 18);

    std::mt19937 rng(1234);
    std::map<int, int> seen;
    for (const Loaded* l : {&agile, &rc4}) {
        const std::size_t len = jet::readU16(l->header.data() + 0x299);
        for (int attempt = 0; attempt < 1500; ++attempt) {
            auto h = l->header;
            const int flips = 1 + static_cast<int>(rng() % 4);
            for (int f = 0; f < flips; ++f) {
                // Mostly inside the descriptor, sometimes its length or the encoding key.
                const std::size_t at = (rng() % 8 == 0) ? 0x299 + rng() % 2 : 0x29B + rng() % len;
                h[at] = static_cast<std::uint8_t>(rng());
            }
            if (rng() % 16 == 0) jet::writeU32(h.data() + 0x3E, static_cast<std::uint32_t>(rng()));
            try {
                auto codec = jet::makePageCodec(h, Format::Ace14, "password");
                ++seen[0];
            } catch (const jet::Error& e) {
                ++seen[e.number()];
                EXPECT_TRUE(e.number() == jet::errc::NotValidPassword || e.number() == jet::errc::CorruptDatabase ||
                            e.number() == jet::errc::EncryptedNotSupported)
                    << e.number() << " " << e.what();
            } catch (const std::exception& e) {
                ADD_FAILURE() << "unexpected exception: " << e.what();
            }
        }
    }
    // The damage reached every kind of check.
    EXPECT_GT(seen[jet::errc::NotValidPassword], 0);
    EXPECT_GT(seen[jet::errc::CorruptDatabase], 0);
    EXPECT_GT(seen[jet::errc::EncryptedNotSupported], 0);
}

TEST(CryptoPieces, PasswordBytesAreUtf16le) {
    struct {
        std::string in;
        std::vector<std::uint8_t> out;
    } cases[] = {
        {"", {}},
        {"Ab1", {'A', 0, 'b', 0, '1', 0}},
        {"\xC3\xA9", {0xE9, 0x00}},                        // é
        {"\xE2\x82\xAC", {0xAC, 0x20}},                    // €
        {"\xF0\x9F\x98\x80", {0x3D, 0xD8, 0x00, 0xDE}},    // U+1F600 as a surrogate pair
        {"a\xFFz", {'a', 0, 0xFD, 0xFF, 'z', 0}},          // invalid byte
        {"\xC0\xAF", {0xFD, 0xFF, 0xFD, 0xFF}},            // overlong
        {"\xE2\x82", {0xFD, 0xFF, 0xFD, 0xFF}},            // cut short
        {"\xED\xA0\x80", {0xFD, 0xFF, 0xFD, 0xFF, 0xFD, 0xFF}}, // encoded surrogate
    };
    for (const auto& c : cases) EXPECT_EQ(jet::crypto::passwordBytes(c.in), c.out) << c.in;

    // At most 255 UTF-16 code units; a surrogate pair that would be cut is dropped whole.
    EXPECT_EQ(jet::crypto::passwordBytes(std::string(300, 'a')).size(), 510u);
    std::string nearEnd = std::string(254, 'a') + "\xF0\x9F\x98\x80";
    EXPECT_EQ(jet::crypto::passwordBytes(nearEnd).size(), 508u);
}

TEST(CryptoPieces, Base64) {
    struct {
        const char* in;
        std::vector<std::uint8_t> out;
    } good[] = {
        {"", {}},
        {"Zg==", {'f'}},
        {"Zm8=", {'f', 'o'}},
        {"Zm9v", {'f', 'o', 'o'}},
        {"Zm9v\nYmFy", {'f', 'o', 'o', 'b', 'a', 'r'}},
        {"/+8=", {0xFF, 0xEF}},
    };
    for (const auto& c : good) EXPECT_EQ(jet::crypto::base64Decode(c.in), c.out) << c.in;
    for (const char* bad : {"Zg=", "Z", "Zm9v*", "Zg==Zg==", "Z===", "Zm9"}) {
        EXPECT_THROW(jet::crypto::base64Decode(bad), std::invalid_argument) << bad;
    }
}

// The primitives against published test vectors (RC4: the classic "Key"/"Plaintext"
// vector; SHA: FIPS 180 "abc"; AES: FIPS 197 appendix C).
TEST(CryptoPieces, PrimitivesMatchPublishedVectors) {
    std::vector<std::uint8_t> text = {'P', 'l', 'a', 'i', 'n', 't', 'e', 'x', 't'};
    const std::uint8_t key[] = {'K', 'e', 'y'};
    jet::crypto::rc4(key, text);
    EXPECT_EQ(text, (std::vector<std::uint8_t>{0xBB, 0xF3, 0x16, 0xE8, 0xD9, 0x40, 0xAF, 0x0A, 0xD3}));

    const std::uint8_t abc[] = {'a', 'b', 'c'};
    auto sha1 = jet::crypto::Digest("SHA1").hash({abc});
    EXPECT_EQ(sha1, (std::vector<std::uint8_t>{0xa9, 0x99, 0x3e, 0x36, 0x47, 0x06, 0x81, 0x6a, 0xba, 0x3e,
                                               0x25, 0x71, 0x78, 0x50, 0xc2, 0x6c, 0x9c, 0xd0, 0xd8, 0x9d}));
    // Split input hashes like the whole.
    const std::uint8_t a[] = {'a'}, bc[] = {'b', 'c'};
    EXPECT_EQ(jet::crypto::Digest("SHA1").hash({a, bc}), sha1);
    auto sha512 = jet::crypto::Digest("SHA512").hash({abc});
    ASSERT_EQ(sha512.size(), 64u);
    EXPECT_EQ(sha512[0], 0xdd);
    EXPECT_EQ(sha512[63], 0x9f);

    std::vector<std::uint8_t> block = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                                       0x88, 0x99, 0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff};
    std::vector<std::uint8_t> k256(32);
    for (std::size_t i = 0; i < 32; ++i) k256[i] = static_cast<std::uint8_t>(i);
    jet::crypto::BlockCipher enc("AES-256-ECB", true);
    enc.setKey(k256);
    enc.run({}, block);
    EXPECT_EQ(block, (std::vector<std::uint8_t>{0x8e, 0xa2, 0xb7, 0xca, 0x51, 0x67, 0x45, 0xbf, 0xea, 0xfc, 0x49,
                                                0x90, 0x4b, 0x49, 0x60, 0x89}));
    EXPECT_THROW(enc.setKey(std::vector<std::uint8_t>(16)), jet::Error);
}

} // namespace
