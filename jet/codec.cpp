#include "jet/codec.h"
#include "jet/codec_hook.h"

#include "jet/codec_primitives.h"
#include "jet/error.h"

#include <openssl/crypto.h>
#include <openssl/rand.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <iterator>
#include <mutex>
#include <optional>
#include <stdexcept>

namespace jet {

namespace {

using crypto::Bytes;
using crypto::BlockCipher;
using crypto::Digest;
using crypto::SecretBytes;

constexpr std::size_t kEncodingKeyOffset = 0x3E;
constexpr std::size_t kDescriptorOffset = 0x299;
constexpr std::uint32_t kMaxSpinCount = 10'000'000; // the largest the Office format allows

[[noreturn]] void throwWrongPassword() {
    throw Error(errc::NotValidPassword, "Not a valid password.");
}

[[noreturn]] void throwUnsupported(const std::string& fileName, const std::string& what) {
    std::string s = "Cannot open ";
    s += fileName.empty() ? std::string("the database") : "'" + fileName + "'";
    s += ": it is encrypted with " + what + ", which this program cannot read.";
    throw Error(errc::EncryptedNotSupported, s);
}

[[noreturn]] void throwBadDescriptor(const std::string& fileName, const std::string& detail) {
    throwCorrupt(fileName.empty() ? std::string("database") : fileName, "encryption header: " + detail);
}

std::array<std::uint8_t, 4> blockKey(std::uint32_t encodingKey, std::uint32_t pageNumber) {
    std::array<std::uint8_t, 4> b{};
    writeU32(b.data(), encodingKey ^ pageNumber);
    return b;
}

// Cuts or pads (with `pad`) to exactly n bytes.
void fixLength(Bytes& b, std::size_t n, std::uint8_t pad) {
    b.resize(n, pad);
}

bool sameBytes(const std::uint8_t* a, const std::uint8_t* b, std::size_t n) {
    return CRYPTO_memcmp(a, b, n) == 0;
}

// --- reading the descriptor -------------------------------------------------

// Bounds-checked little-endian reader over the descriptor bytes.
class Cursor {
public:
    Cursor(std::span<const std::uint8_t> data, const std::string& fileName) : d_(data), file_(fileName) {}
    std::uint32_t u32() {
        need(4);
        auto v = readU32(d_.data() + pos_);
        pos_ += 4;
        return v;
    }
    std::uint16_t u16() {
        need(2);
        auto v = readU16(d_.data() + pos_);
        pos_ += 2;
        return v;
    }
    Bytes bytes(std::size_t n) {
        need(n);
        Bytes b(d_.begin() + static_cast<std::ptrdiff_t>(pos_), d_.begin() + static_cast<std::ptrdiff_t>(pos_ + n));
        pos_ += n;
        return b;
    }
    std::span<const std::uint8_t> rest() const { return d_.subspan(pos_); }
    std::size_t pos() const { return pos_; }
    void seek(std::size_t p) {
        if (p > d_.size()) throwBadDescriptor(file_, "truncated");
        pos_ = p;
    }

private:
    void need(std::size_t n) const {
        if (pos_ + n > d_.size()) throwBadDescriptor(file_, "truncated");
    }
    std::span<const std::uint8_t> d_;
    std::size_t pos_ = 0;
    const std::string& file_;
};

// The descriptor bytes (starting with the version), from an unmasked page 0.
std::span<const std::uint8_t> descriptorOf(std::span<const std::uint8_t> page, const std::string& fileName) {
    if (page.size() < kDescriptorOffset + 2 + 4) throwBadDescriptor(fileName, "header page too short");
    std::size_t len = readU16(page.data() + kDescriptorOffset);
    if (len < 4 || kDescriptorOffset + 2 + len > page.size()) throwBadDescriptor(fileName, "bad descriptor length");
    return page.subspan(kDescriptorOffset + 2, len);
}

// CryptoAPI EncryptionHeader + EncryptionVerifier (descriptor versions x.2).
struct CryptoApiHeader {
    std::uint32_t flags = 0;
    std::uint32_t algId = 0;
    std::uint32_t hashAlgId = 0;
    std::uint32_t keyBits = 0;
    std::u16string cspName;
    Bytes salt;
    Bytes encryptedVerifier;
    std::uint32_t verifierHashSize = 0;
    Bytes encryptedVerifierHash;
};

namespace flag {
constexpr std::uint32_t CryptoApi = 0x04;
constexpr std::uint32_t External = 0x10;
constexpr std::uint32_t Aes = 0x20;
} // namespace flag
namespace alg {
constexpr std::uint32_t Rc4 = 0x6801;
constexpr std::uint32_t Aes128 = 0x660E;
constexpr std::uint32_t Aes192 = 0x660F;
constexpr std::uint32_t Aes256 = 0x6610;
constexpr std::uint32_t Sha1 = 0x8004;
} // namespace alg

bool isAes(std::uint32_t id) { return id == alg::Aes128 || id == alg::Aes192 || id == alg::Aes256; }

int aesBits(std::uint32_t id) {
    switch (id) {
    case alg::Aes128: return 128;
    case alg::Aes192: return 192;
    case alg::Aes256: return 256;
    }
    return 0;
}

std::string lowerAscii(std::u16string_view s) {
    std::string r;
    for (char16_t c : s) r += (c < 128) ? static_cast<char>(std::tolower(static_cast<int>(c))) : '?';
    return r;
}

CryptoApiHeader readCryptoApiHeader(std::span<const std::uint8_t> desc, const std::string& fileName) {
    Cursor c(desc, fileName);
    c.seek(4);
    CryptoApiHeader h;
    c.u32(); // copy of the header flags
    std::uint32_t headerSize = c.u32();
    std::size_t headerStart = c.pos();
    if (headerSize < 32 || headerStart + headerSize > desc.size()) throwBadDescriptor(fileName, "bad header size");
    h.flags = c.u32();
    c.u32(); // sizeExtra
    h.algId = c.u32();
    h.hashAlgId = c.u32();
    h.keyBits = c.u32();
    c.u32(); // provider type
    c.u32();
    c.u32(); // reserved
    while (c.pos() + 2 <= headerStart + headerSize) {
        char16_t ch = c.u16();
        if (ch == 0) break;
        h.cspName += ch;
    }
    c.seek(headerStart + headerSize);

    // Defaults when the header leaves the algorithm to the flags.
    if (h.algId == 0 && !(h.flags & flag::External) && (h.flags & flag::CryptoApi))
        h.algId = (h.flags & flag::Aes) ? alg::Aes128 : alg::Rc4;
    if (h.hashAlgId == 0 && !(h.flags & flag::External)) h.hashAlgId = alg::Sha1;
    if (h.keyBits == 0) {
        if (h.algId == alg::Rc4) {
            // The CryptoAPI "base" provider means 40-bit keys, the stronger ones 128.
            std::string csp = lowerAscii(h.cspName);
            auto b = csp.find_first_not_of(' ');
            auto e = csp.find_last_not_of(' ');
            csp = b == std::string::npos ? std::string() : csp.substr(b, e - b + 1);
            h.keyBits = (csp.empty() || csp.find(" base ") != std::string::npos) ? 40 : 128;
        } else {
            h.keyBits = static_cast<std::uint32_t>(aesBits(h.algId));
        }
    }

    // The verifier only means something for the ciphers we know; the caller refuses the rest.
    if (h.algId != alg::Rc4 && !isAes(h.algId)) return h;
    std::uint32_t saltSize = c.u32();
    if (saltSize != 16) throwBadDescriptor(fileName, "salt size is not 16");
    h.salt = c.bytes(16);
    h.encryptedVerifier = c.bytes(16);
    h.verifierHashSize = c.u32();
    h.encryptedVerifierHash = c.bytes(h.algId == alg::Rc4 ? 20 : 32);
    if (h.verifierHashSize == 0 || h.verifierHashSize > h.encryptedVerifierHash.size())
        throwBadDescriptor(fileName, "bad verifier hash size");
    return h;
}

// --- a tiny reader for the agile XML ------------------------------------------

using Attributes = std::vector<std::pair<std::string, std::string>>;

struct XmlElement {
    std::string name;      // as written, prefix included
    Attributes attributes;
    std::size_t end = 0;   // just past the tag
};

std::string_view localName(std::string_view qname) {
    auto colon = qname.find(':');
    return colon == std::string_view::npos ? qname : qname.substr(colon + 1);
}

std::string decodeEntities(std::string_view v) {
    std::string out;
    for (std::size_t i = 0; i < v.size(); ++i) {
        if (v[i] != '&') {
            out += v[i];
            continue;
        }
        auto semi = v.find(';', i);
        if (semi == std::string_view::npos) {
            out += v[i];
            continue;
        }
        std::string_view ent = v.substr(i + 1, semi - i - 1);
        if (ent == "amp") out += '&';
        else if (ent == "lt") out += '<';
        else if (ent == "gt") out += '>';
        else if (ent == "quot") out += '"';
        else if (ent == "apos") out += '\'';
        else {
            out.append(v.substr(i, semi - i + 1));
        }
        i = semi;
    }
    return out;
}

// The next start tag at or after `from` (comments, declarations and end tags skipped).
std::optional<XmlElement> nextStartTag(std::string_view xml, std::size_t from) {
    std::size_t p = from;
    while ((p = xml.find('<', p)) != std::string_view::npos) {
        if (p + 1 >= xml.size()) return std::nullopt;
        char k = xml[p + 1];
        if (k == '/' || k == '?' || k == '!') {
            auto close = xml.find('>', p);
            if (close == std::string_view::npos) return std::nullopt;
            p = close + 1;
            continue;
        }
        XmlElement e;
        std::size_t i = p + 1;
        auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
        while (i < xml.size() && !isSpace(xml[i]) && xml[i] != '>' && xml[i] != '/') e.name += xml[i++];
        for (;;) {
            while (i < xml.size() && isSpace(xml[i])) ++i;
            if (i >= xml.size()) return std::nullopt;
            if (xml[i] == '>' || xml[i] == '/') {
                auto close = xml.find('>', i);
                if (close == std::string_view::npos) return std::nullopt;
                e.end = close + 1;
                return e;
            }
            std::string attr;
            while (i < xml.size() && xml[i] != '=' && !isSpace(xml[i]) && xml[i] != '>') attr += xml[i++];
            while (i < xml.size() && isSpace(xml[i])) ++i;
            if (i >= xml.size() || xml[i] != '=') return std::nullopt;
            ++i;
            while (i < xml.size() && isSpace(xml[i])) ++i;
            if (i >= xml.size() || (xml[i] != '"' && xml[i] != '\'')) return std::nullopt;
            char q = xml[i++];
            auto close = xml.find(q, i);
            if (close == std::string_view::npos) return std::nullopt;
            e.attributes.emplace_back(attr, decodeEntities(xml.substr(i, close - i)));
            i = close + 1;
        }
    }
    return std::nullopt;
}

const std::string* attribute(const XmlElement& e, std::string_view name) {
    for (auto& [k, v] : e.attributes)
        if (k == name) return &v;
    return nullptr;
}

// Parameters of one agile cipher setup (keyData or the password key encryptor).
struct AgileParams {
    Bytes salt;
    std::uint32_t blockSize = 0;
    std::uint32_t keyBits = 0;
    std::uint32_t hashSize = 0;
    std::string cipherAlgorithm;
    std::string cipherChaining;
    std::string hashAlgorithm;
    // password key encryptor only
    std::uint32_t spinCount = 0;
    Bytes encryptedVerifierHashInput;
    Bytes encryptedVerifierHashValue;
    Bytes encryptedKeyValue;
};

struct AgileDescriptor {
    AgileParams keyData;
    AgileParams password;
};

std::uint32_t numberAttr(const XmlElement& e, std::string_view name, const std::string& fileName) {
    const std::string* v = attribute(e, name);
    if (!v || v->empty() || v->size() > 9 || !std::all_of(v->begin(), v->end(), [](char c) { return c >= '0' && c <= '9'; }))
        throwBadDescriptor(fileName, "missing or bad '" + std::string(name) + "'");
    return static_cast<std::uint32_t>(std::stoul(*v));
}

std::string textAttr(const XmlElement& e, std::string_view name, const std::string& fileName) {
    const std::string* v = attribute(e, name);
    if (!v) throwBadDescriptor(fileName, "missing '" + std::string(name) + "'");
    return *v;
}

Bytes base64Attr(const XmlElement& e, std::string_view name, const std::string& fileName) {
    try {
        return crypto::base64Decode(textAttr(e, name, fileName));
    } catch (const std::invalid_argument&) {
        throwBadDescriptor(fileName, "bad base64 in '" + std::string(name) + "'");
    }
}

void readCommon(const XmlElement& e, AgileParams& p, const std::string& fileName) {
    p.salt = base64Attr(e, "saltValue", fileName);
    p.blockSize = numberAttr(e, "blockSize", fileName);
    p.keyBits = numberAttr(e, "keyBits", fileName);
    p.hashSize = numberAttr(e, "hashSize", fileName);
    p.cipherAlgorithm = textAttr(e, "cipherAlgorithm", fileName);
    p.cipherChaining = textAttr(e, "cipherChaining", fileName);
    p.hashAlgorithm = textAttr(e, "hashAlgorithm", fileName);
    if (p.blockSize < 2 || p.blockSize > 64 || p.keyBits == 0 || p.keyBits % 8 != 0 || p.salt.empty())
        throwBadDescriptor(fileName, "bad cipher parameters");
}

constexpr std::string_view kPasswordEncryptorUri = "http://schemas.microsoft.com/office/2006/keyEncryptor/password";

AgileDescriptor readAgileDescriptor(std::span<const std::uint8_t> desc, const std::string& fileName) {
    Cursor c(desc, fileName);
    c.seek(4);
    if (c.u32() != 0x40) throwBadDescriptor(fileName, "unexpected reserved value");
    auto rest = c.rest();
    std::string_view xml(reinterpret_cast<const char*>(rest.data()), rest.size());

    AgileDescriptor d;
    bool haveKeyData = false, havePassword = false;
    bool inPasswordEncryptor = false;
    std::size_t pos = 0;
    while (auto e = nextStartTag(xml, pos)) {
        pos = e->end;
        std::string_view local = localName(e->name);
        if (local == "keyData" && !haveKeyData) {
            readCommon(*e, d.keyData, fileName);
            haveKeyData = true;
        } else if (local == "keyEncryptor") {
            const std::string* uri = attribute(*e, "uri");
            inPasswordEncryptor = uri && *uri == kPasswordEncryptorUri;
        } else if (local == "encryptedKey" && inPasswordEncryptor && !havePassword) {
            readCommon(*e, d.password, fileName);
            d.password.spinCount = numberAttr(*e, "spinCount", fileName);
            d.password.encryptedVerifierHashInput = base64Attr(*e, "encryptedVerifierHashInput", fileName);
            d.password.encryptedVerifierHashValue = base64Attr(*e, "encryptedVerifierHashValue", fileName);
            d.password.encryptedKeyValue = base64Attr(*e, "encryptedKeyValue", fileName);
            havePassword = true;
        }
    }
    if (!haveKeyData) throwBadDescriptor(fileName, "no keyData");
    if (!havePassword) throwUnsupported(fileName, "Office agile encryption without a password key");
    if (d.password.spinCount > kMaxSpinCount) throwBadDescriptor(fileName, "spin count too large");
    return d;
}

// "AES", 256, "ChainingModeCBC" -> OpenSSL's "AES-256-CBC"; nullopt when not supported.
std::optional<std::string> opensslCipherName(const AgileParams& p) {
    std::string a = p.cipherAlgorithm;
    std::transform(a.begin(), a.end(), a.begin(), [](unsigned char ch) { return static_cast<char>(std::toupper(ch)); });
    if (a != "AES" || (p.keyBits != 128 && p.keyBits != 192 && p.keyBits != 256) || p.blockSize != 16) return std::nullopt;
    std::string mode;
    if (p.cipherChaining == "ChainingModeCBC") mode = "CBC";
    else if (p.cipherChaining == "ChainingModeCFB") mode = "CFB8";
    else return std::nullopt;
    return "AES-" + std::to_string(p.keyBits) + "-" + mode;
}

std::optional<std::string> opensslDigestName(std::string_view office) {
    std::string h(office);
    std::transform(h.begin(), h.end(), h.begin(), [](unsigned char ch) { return static_cast<char>(std::toupper(ch)); });
    h.erase(std::remove(h.begin(), h.end(), '-'), h.end());
    if (h == "SHA1" || h == "SHA256" || h == "SHA384" || h == "SHA512" || h == "MD5") return h;
    return std::nullopt;
}

// --- the codecs -------------------------------------------------------------

class JetPageCodec final : public PageCodec {
public:
    explicit JetPageCodec(std::uint32_t key) : key_(key) {}
    void decode(std::uint32_t n, std::uint8_t* data, std::size_t size) const override {
        if (n == 0) return;
        auto k = blockKey(key_, n);
        crypto::rc4(k, {data, size});
    }
    void encode(std::uint32_t n, std::uint8_t* data, std::size_t size) const override { decode(n, data, size); }

private:
    std::uint32_t key_;
};

// Office agile: one AES key for the file, the IV of page n is
// Hash(keyData salt || encodingKey ^ n) cut to the block size.
class AgileCodec final : public PageCodec {
public:
    AgileCodec(std::uint32_t encodingKey, const AgileDescriptor& d, const std::string& cipherName, SecretBytes key)
        : encodingKey_(encodingKey), salt_(d.keyData.salt), blockSize_(d.keyData.blockSize),
          digest_(*opensslDigestName(d.keyData.hashAlgorithm)), decrypt_(cipherName, false),
          encrypt_(cipherName, true) {
        decrypt_.setKey(key.span());
        encrypt_.setKey(key.span());
    }

    void decode(std::uint32_t n, std::uint8_t* data, std::size_t size) const override { run(decrypt_, n, data, size); }
    void encode(std::uint32_t n, std::uint8_t* data, std::size_t size) const override { run(encrypt_, n, data, size); }

private:
    void run(BlockCipher& cipher, std::uint32_t n, std::uint8_t* data, std::size_t size) const {
        if (n == 0) return;
        if (size % blockSize_ != 0) throwCorrupt("database", "page size is not a multiple of the cipher block");
        auto bk = blockKey(encodingKey_, n);
        std::lock_guard lock(mutex_);
        Bytes iv = digest_.hash({salt_, bk});
        fixLength(iv, blockSize_, 0x36);
        cipher.run(iv, {data, size});
    }

    std::uint32_t encodingKey_;
    Bytes salt_;
    std::size_t blockSize_;
    mutable std::mutex mutex_;
    mutable Digest digest_;
    mutable BlockCipher decrypt_;
    mutable BlockCipher encrypt_;
};

// RC4 CryptoAPI: RC4 keyed by SHA1(SHA1(salt || password) || encodingKey ^ n).
class Rc4CryptoApiCodec final : public PageCodec {
public:
    Rc4CryptoApiCodec(std::uint32_t encodingKey, SecretBytes baseHash, std::uint32_t keyBits)
        : encodingKey_(encodingKey), baseHash_(std::move(baseHash)), keyBits_(keyBits), sha1_("SHA1") {}

    static SecretBytes pageKey(const Digest& sha1, const SecretBytes& base, std::uint32_t keyBits,
                               std::span<const std::uint8_t> block) {
        SecretBytes k(sha1.hash({base.span(), block}));
        fixLength(k.bytes(), keyBits / 8, 0);
        // CryptoAPI quirk: a 40-bit key is used as a 128-bit key with zero bytes.
        if (keyBits == 40) fixLength(k.bytes(), 16, 0);
        return k;
    }

    void decode(std::uint32_t n, std::uint8_t* data, std::size_t size) const override {
        if (n == 0) return;
        auto bk = blockKey(encodingKey_, n);
        std::lock_guard lock(mutex_);
        SecretBytes k = pageKey(sha1_, baseHash_, keyBits_, bk);
        crypto::rc4(k.span(), {data, size});
    }
    void encode(std::uint32_t n, std::uint8_t* data, std::size_t size) const override { decode(n, data, size); }

private:
    std::uint32_t encodingKey_;
    SecretBytes baseHash_;
    std::uint32_t keyBits_;
    mutable std::mutex mutex_;
    mutable Digest sha1_;
};

// Office standard (ECMA-376) AES and the non-standard variant: AES-ECB with a key
// derived per page from the iterated password hash.
class StandardAesCodec final : public PageCodec {
public:
    StandardAesCodec(std::uint32_t encodingKey, SecretBytes iteratedHash, std::uint32_t keyBits)
        : encodingKey_(encodingKey), iterated_(std::move(iteratedHash)), keyBits_(keyBits), sha1_("SHA1"),
          decrypt_("AES-" + std::to_string(keyBits) + "-ECB", false),
          encrypt_("AES-" + std::to_string(keyBits) + "-ECB", true) {}

    static SecretBytes pageKey(const Digest& sha1, const SecretBytes& iterated, std::uint32_t keyBits,
                               std::span<const std::uint8_t> block) {
        SecretBytes h(sha1.hash({iterated.span(), block}));
        std::array<std::uint8_t, 64> x1{}, x2{};
        x1.fill(0x36);
        x2.fill(0x5C);
        for (std::size_t i = 0; i < h.size() && i < 64; ++i) {
            x1[i] ^= h.bytes()[i];
            x2[i] ^= h.bytes()[i];
        }
        SecretBytes key(sha1.hash({x1}));
        Bytes second = sha1.hash({x2});
        key.bytes().insert(key.bytes().end(), second.begin(), second.end());
        OPENSSL_cleanse(second.data(), second.size());
        OPENSSL_cleanse(x1.data(), x1.size());
        OPENSSL_cleanse(x2.data(), x2.size());
        fixLength(key.bytes(), keyBits / 8, 0);
        return key;
    }

    void decode(std::uint32_t n, std::uint8_t* data, std::size_t size) const override { run(decrypt_, n, data, size); }
    void encode(std::uint32_t n, std::uint8_t* data, std::size_t size) const override { run(encrypt_, n, data, size); }

private:
    void run(BlockCipher& cipher, std::uint32_t n, std::uint8_t* data, std::size_t size) const {
        if (n == 0) return;
        if (size % 16 != 0) throwCorrupt("database", "page size is not a multiple of the cipher block");
        auto bk = blockKey(encodingKey_, n);
        std::lock_guard lock(mutex_);
        SecretBytes k = pageKey(sha1_, iterated_, keyBits_, bk);
        cipher.setKey(k.span());
        cipher.run({}, {data, size});
    }

    std::uint32_t encodingKey_;
    SecretBytes iterated_;
    std::uint32_t keyBits_;
    mutable std::mutex mutex_;
    mutable Digest sha1_;
    mutable BlockCipher decrypt_;
    mutable BlockCipher encrypt_;
};

// Office binary RC4 (1.1): MD5 based, 128-bit RC4 key per page.
class BinaryRc4Codec final : public PageCodec {
public:
    BinaryRc4Codec(std::uint32_t encodingKey, SecretBytes baseHash)
        : encodingKey_(encodingKey), baseHash_(std::move(baseHash)), md5_("MD5") {}

    static SecretBytes pageKey(const Digest& md5, const SecretBytes& base, std::span<const std::uint8_t> block) {
        SecretBytes k(md5.hash({base.span(), block}));
        fixLength(k.bytes(), 16, 0);
        return k;
    }

    void decode(std::uint32_t n, std::uint8_t* data, std::size_t size) const override {
        if (n == 0) return;
        auto bk = blockKey(encodingKey_, n);
        std::lock_guard lock(mutex_);
        SecretBytes k = pageKey(md5_, baseHash_, bk);
        crypto::rc4(k.span(), {data, size});
    }
    void encode(std::uint32_t n, std::uint8_t* data, std::size_t size) const override { decode(n, data, size); }

private:
    std::uint32_t encodingKey_;
    SecretBytes baseHash_;
    mutable std::mutex mutex_;
    mutable Digest md5_;
};

// --- building them ------------------------------------------------------------

// H0 = Hash(salt || password), then Hash(LE32(i) || H) for i = 0 .. rounds-1.
SecretBytes iteratedHash(const Digest& digest, std::span<const std::uint8_t> salt, const SecretBytes& password,
                         std::uint32_t rounds) {
    SecretBytes h(digest.hash({salt, password.span()}));
    std::array<std::uint8_t, 4> counter{};
    for (std::uint32_t i = 0; i < rounds; ++i) {
        writeU32(counter.data(), i);
        digest.hashInto({counter, h.span()}, h.bytes().data());
    }
    return h;
}

// The fixed block values that tell the three wrapped values of an agile password key apart.
constexpr std::uint8_t kVerifierInput[8] = {0xFE, 0xA7, 0xD2, 0x76, 0x3B, 0x4B, 0x9E, 0x79};
constexpr std::uint8_t kVerifierHash[8] = {0xD7, 0xAA, 0x0F, 0x6D, 0x30, 0x61, 0x34, 0x4E};
constexpr std::uint8_t kKeyValue[8] = {0x14, 0x6E, 0x0B, 0xE7, 0xAB, 0xAC, 0xD0, 0xD6};

std::unique_ptr<PageCodec> makeAgile(std::uint32_t encodingKey, std::span<const std::uint8_t> desc,
                                     const SecretBytes& password, const std::string& fileName) {
    AgileDescriptor d = readAgileDescriptor(desc, fileName);
    const AgileParams& pw = d.password;
    auto pwCipher = opensslCipherName(pw);
    auto pageCipher = opensslCipherName(d.keyData);
    auto pwHash = opensslDigestName(pw.hashAlgorithm);
    auto pageHash = opensslDigestName(d.keyData.hashAlgorithm);
    if (!pwCipher || !pageCipher)
        throwUnsupported(fileName, "Office agile encryption using " + d.keyData.cipherAlgorithm + "/" +
                                       d.keyData.cipherChaining);
    if (!pwHash || !pageHash) throwUnsupported(fileName, "Office agile encryption using " + d.keyData.hashAlgorithm);
    if (pw.encryptedKeyValue.size() < d.keyData.keyBits / 8 || pw.encryptedVerifierHashInput.empty() ||
        pw.encryptedVerifierHashValue.empty() || pw.encryptedKeyValue.size() % pw.blockSize != 0 ||
        pw.encryptedVerifierHashInput.size() % pw.blockSize != 0 ||
        pw.encryptedVerifierHashValue.size() % pw.blockSize != 0)
        throwBadDescriptor(fileName, "bad encrypted key sizes");

    Digest digest(*pwHash);
    SecretBytes h = iteratedHash(digest, pw.salt, password, pw.spinCount);

    Bytes iv = pw.salt;
    fixLength(iv, pw.blockSize, 0x36);
    BlockCipher cipher(*pwCipher, false);
    // Each of the three stored values has its own key: Hash(H || block) cut or padded to the key size.
    auto unwrap = [&](std::span<const std::uint8_t> block, const Bytes& encrypted) {
        SecretBytes key(digest.hash({h.span(), block}));
        fixLength(key.bytes(), pw.keyBits / 8, 0x36);
        SecretBytes plain(encrypted);
        cipher.setKey(key.span());
        cipher.run(iv, plain.bytes());
        return plain;
    };
    SecretBytes verifier = unwrap(kVerifierInput, pw.encryptedVerifierHashInput);
    SecretBytes storedHash = unwrap(kVerifierHash, pw.encryptedVerifierHashValue);
    std::size_t verifierLen = std::min<std::size_t>(verifier.size(), pw.salt.size());
    Bytes expected = digest.hash({std::span<const std::uint8_t>(verifier.bytes().data(), verifierLen)});
    if (storedHash.size() < expected.size() || !sameBytes(storedHash.bytes().data(), expected.data(), expected.size()))
        throwWrongPassword();

    SecretBytes key = unwrap(kKeyValue, pw.encryptedKeyValue);
    key.bytes().resize(d.keyData.keyBits / 8);
    return std::make_unique<AgileCodec>(encodingKey, d, *pageCipher, std::move(key));
}

std::unique_ptr<PageCodec> makeCryptoApi(std::uint32_t encodingKey, std::span<const std::uint8_t> desc,
                                         const SecretBytes& password, const std::string& fileName) {
    std::uint32_t outerFlags = readU32(desc.data() + 4);
    if (!(outerFlags & flag::CryptoApi)) throwUnsupported(fileName, "an unknown Office encryption");
    CryptoApiHeader h = readCryptoApiHeader(desc, fileName);
    if (h.hashAlgId != alg::Sha1) throwUnsupported(fileName, "Office encryption with an unknown hash");
    Digest sha1("SHA1");

    bool aesFlag = outerFlags & flag::Aes;
    if (!aesFlag && h.algId == alg::Rc4) {
        if (h.keyBits < 40 || h.keyBits > 512 || h.keyBits % 8 != 0) throwBadDescriptor(fileName, "bad RC4 key size");
        SecretBytes base(sha1.hash({h.salt, password.span()}));
        std::array<std::uint8_t, 4> zero{};
        SecretBytes k = Rc4CryptoApiCodec::pageKey(sha1, base, h.keyBits, zero);
        // One RC4 stream runs over the verifier and then the verifier hash.
        Bytes both = h.encryptedVerifier;
        both.insert(both.end(), h.encryptedVerifierHash.begin(), h.encryptedVerifierHash.end());
        crypto::rc4(k.span(), both);
        Bytes expected = sha1.hash({std::span<const std::uint8_t>(both.data(), 16)});
        if (!sameBytes(both.data() + 16, expected.data(), std::min<std::size_t>(h.verifierHashSize, expected.size())))
            throwWrongPassword();
        return std::make_unique<Rc4CryptoApiCodec>(encodingKey, std::move(base), h.keyBits);
    }
    if (!isAes(h.algId)) throwUnsupported(fileName, "Office encryption with an unknown cipher");
    if (h.keyBits != static_cast<std::uint32_t>(aesBits(h.algId))) throwBadDescriptor(fileName, "bad AES key size");

    // Standard encryption iterates the hash 50000 times; what Access writes with the
    // RC4 flags but an AES algorithm does not iterate at all.
    std::uint32_t rounds = aesFlag ? 50000 : 0;
    SecretBytes iterated = iteratedHash(sha1, h.salt, password, rounds);
    std::array<std::uint8_t, 4> zero{};
    SecretBytes k = StandardAesCodec::pageKey(sha1, iterated, h.keyBits, zero);
    BlockCipher ecb("AES-" + std::to_string(h.keyBits) + "-ECB", false);
    ecb.setKey(k.span());
    Bytes verifier = h.encryptedVerifier;
    Bytes storedHash = h.encryptedVerifierHash;
    ecb.run({}, verifier);
    ecb.run({}, storedHash);
    Bytes expected = sha1.hash({verifier});
    if (!sameBytes(storedHash.data(), expected.data(), std::min<std::size_t>(h.verifierHashSize, expected.size())))
        throwWrongPassword();
    return std::make_unique<StandardAesCodec>(encodingKey, std::move(iterated), h.keyBits);
}

std::unique_ptr<PageCodec> makeBinaryRc4(std::uint32_t encodingKey, std::span<const std::uint8_t> desc,
                                         const SecretBytes& password, const std::string& fileName) {
    Cursor c(desc, fileName);
    c.seek(4);
    Bytes salt = c.bytes(16);
    Bytes encVerifier = c.bytes(16);
    Bytes encVerifierHash = c.bytes(16);
    Digest md5("MD5");
    // Truncated MD5 of the password, then 16 copies of (that || salt), MD5 again, cut to 5 bytes.
    Bytes h0 = md5.hash({password.span()});
    h0.resize(5);
    SecretBytes fill;
    for (int i = 0; i < 16; ++i) {
        fill.bytes().insert(fill.bytes().end(), h0.begin(), h0.end());
        fill.bytes().insert(fill.bytes().end(), salt.begin(), salt.end());
    }
    OPENSSL_cleanse(h0.data(), h0.size());
    SecretBytes base(md5.hash({fill.span()}));
    base.bytes().resize(5);
    std::array<std::uint8_t, 4> zero{};
    SecretBytes k = BinaryRc4Codec::pageKey(md5, base, zero);
    Bytes both = encVerifier;
    both.insert(both.end(), encVerifierHash.begin(), encVerifierHash.end());
    crypto::rc4(k.span(), both);
    Bytes expected = md5.hash({std::span<const std::uint8_t>(both.data(), 16)});
    if (!sameBytes(both.data() + 16, expected.data(), 16)) throwWrongPassword();
    return std::make_unique<BinaryRc4Codec>(encodingKey, std::move(base));
}

bool isJetFormat(Format f) { return f == Format::Jet3 || f == Format::Jet4; }

} // namespace

const char* protectionName(Protection p) {
    switch (p) {
    case Protection::None: return "none";
    case Protection::JetRc4: return "Jet RC4 page encoding";
    case Protection::OfficeAgile: return "Office agile encryption";
    case Protection::OfficeRc4CryptoApi: return "Office RC4 CryptoAPI encryption";
    case Protection::OfficeStandardAes: return "Office standard AES encryption";
    case Protection::OfficeNonStandard: return "Office non-standard AES encryption";
    case Protection::OfficeBinaryRc4: return "Office binary RC4 encryption";
    case Protection::Unsupported: return "unsupported encryption";
    }
    return "?";
}

EncryptionInfo describeEncryption(std::span<const std::uint8_t> plainHeaderPage, Format format) {
    EncryptionInfo info;
    if (plainHeaderPage.size() < kEncodingKeyOffset + 4) return info;
    std::span<const std::uint8_t> page = plainHeaderPage;
    info.encodingKey = readU32(page.data() + kEncodingKeyOffset);
    if (info.encodingKey == 0) return info;
    if (isJetFormat(format)) {
        info.kind = Protection::JetRc4;
        info.cipher = "RC4-32";
        return info;
    }
    std::string name = "database";
    auto desc = descriptorOf(page, name);
    info.versionMajor = readU16(desc.data());
    info.versionMinor = readU16(desc.data() + 2);
    const auto v = std::make_pair(info.versionMajor, info.versionMinor);
    info.kind = Protection::Unsupported;
    try {
        if (v == std::make_pair<std::uint16_t, std::uint16_t>(4, 4)) {
            AgileDescriptor d = readAgileDescriptor(desc, name);
            info.kind = Protection::OfficeAgile;
            info.cipher = opensslCipherName(d.keyData).value_or(d.keyData.cipherAlgorithm);
            info.hash = d.keyData.hashAlgorithm;
            info.keyBits = static_cast<int>(d.keyData.keyBits);
            info.spinCount = d.password.spinCount;
        } else if (v.second == 2 && v.first >= 2 && v.first <= 4) {
            std::uint32_t outer = readU32(desc.data() + 4);
            if (outer & flag::CryptoApi) {
                CryptoApiHeader h = readCryptoApiHeader(desc, name);
                info.hash = h.hashAlgId == alg::Sha1 ? "SHA1" : "?";
                info.keyBits = static_cast<int>(h.keyBits);
                if (!(outer & flag::Aes) && h.algId == alg::Rc4) {
                    info.kind = Protection::OfficeRc4CryptoApi;
                    info.cipher = "RC4-" + std::to_string(h.keyBits);
                } else if (isAes(h.algId)) {
                    info.kind = (outer & flag::Aes) ? Protection::OfficeStandardAes : Protection::OfficeNonStandard;
                    info.cipher = "AES-" + std::to_string(h.keyBits) + "-ECB";
                    info.spinCount = (outer & flag::Aes) ? 50000 : 0;
                }
            }
        } else if (v == std::make_pair<std::uint16_t, std::uint16_t>(1, 1)) {
            info.kind = Protection::OfficeBinaryRc4;
            info.cipher = "RC4-128";
            info.hash = "MD5";
            info.keyBits = 128;
        }
    } catch (const Error&) {
        info.kind = Protection::Unsupported;
    }
    return info;
}

std::unique_ptr<PageCodec> makePageCodec(std::span<const std::uint8_t> plainHeaderPage, Format format,
                                         const std::string& password, const std::string& fileName) {
    if (plainHeaderPage.size() < kEncodingKeyOffset + 4) throwBadDescriptor(fileName, "header page too short");
    std::span<const std::uint8_t> page = plainHeaderPage;
    std::uint32_t encodingKey = readU32(page.data() + kEncodingKeyOffset);
    if (encodingKey == 0) return nullptr;
    if (isJetFormat(format)) return std::make_unique<JetPageCodec>(encodingKey);

    auto desc = descriptorOf(page, fileName);
    std::uint16_t major = readU16(desc.data());
    std::uint16_t minor = readU16(desc.data() + 2);
    SecretBytes pw(crypto::passwordBytes(password));

    if (major == 4 && minor == 4) return makeAgile(encodingKey, desc, pw, fileName);
    if (minor == 2 && major >= 2 && major <= 4) return makeCryptoApi(encodingKey, desc, pw, fileName);
    if (major == 1 && minor == 1) return makeBinaryRc4(encodingKey, desc, pw, fileName);
    if (minor == 3 && (major == 3 || major == 4)) throwUnsupported(fileName, "Office extensible encryption");
    throwUnsupported(fileName, "Office encryption version " + std::to_string(major) + "." + std::to_string(minor));
}

std::unique_ptr<PageCodec> makePageCodecForVersion(std::span<const std::uint8_t> plainHeaderPage,
                                                   std::uint8_t versionByte, const std::string& password,
                                                   const std::string& fileName) {
    static constexpr Format kByVersion[] = {Format::Jet3,  Format::Jet4,  Format::Ace12, Format::Ace14,
                                            Format::Ace15, Format::Ace16, Format::Ace17};
    if (versionByte >= std::size(kByVersion))
        throw Error(errc::UnrecognizedFormat, "Unrecognized database format '" + fileName + "'.");
    return makePageCodec(plainHeaderPage, kByVersion[versionByte], password, fileName);
}

namespace {

void randomBytes(std::span<std::uint8_t> out) {
    if (RAND_bytes(out.data(), static_cast<int>(out.size())) != 1)
        throw Error(errc::NotSupported, "Cannot encrypt the database: no secure random numbers are available.");
}

// The cipher attributes shared by keyData and the password key encryptor, in the order Access writes them.
std::string agileAttributes(const AgileParams& p) {
    return "saltSize=\"" + std::to_string(p.salt.size()) + "\" blockSize=\"" + std::to_string(p.blockSize) +
           "\" keyBits=\"" + std::to_string(p.keyBits) + "\" hashSize=\"" + std::to_string(p.hashSize) +
           "\" cipherAlgorithm=\"" + p.cipherAlgorithm + "\" cipherChaining=\"" + p.cipherChaining +
           "\" hashAlgorithm=\"" + p.hashAlgorithm + "\" saltValue=\"" + crypto::base64Encode(p.salt) + "\"";
}

// The XML of an agile descriptor with one password key encryptor, laid out as Access writes it.
std::string agileXml(const AgileDescriptor& d) {
    std::string x = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n";
    x += "<encryption xmlns=\"http://schemas.microsoft.com/office/2006/encryption\" "
         "xmlns:p=\"http://schemas.microsoft.com/office/2006/keyEncryptor/password\" "
         "xmlns:c=\"http://schemas.microsoft.com/office/2006/keyEncryptor/certificate\">";
    x += "<keyData " + agileAttributes(d.keyData) + "/>";
    x += "<keyEncryptors><keyEncryptor uri=\"" + std::string(kPasswordEncryptorUri) + "\">";
    const AgileParams& p = d.password;
    x += "<p:encryptedKey spinCount=\"" + std::to_string(p.spinCount) + "\" " + agileAttributes(p) +
         " encryptedVerifierHashInput=\"" + crypto::base64Encode(p.encryptedVerifierHashInput) +
         "\" encryptedVerifierHashValue=\"" + crypto::base64Encode(p.encryptedVerifierHashValue) +
         "\" encryptedKeyValue=\"" + crypto::base64Encode(p.encryptedKeyValue) + "\"/>";
    x += "</keyEncryptor></keyEncryptors></encryption>";
    return x;
}

} // namespace

std::unique_ptr<PageCodec> protectNewDatabase(std::span<std::uint8_t> plainHeaderPage, const std::string& password) {
    constexpr std::uint32_t kSpinCount = 100'000;
    constexpr std::size_t kSaltSize = 16;
    constexpr std::size_t kBlockSize = 16;
    constexpr std::uint32_t kKeyBits = 256;
    const std::string cipherName = "AES-256-CBC";

    AgileParams params;
    params.blockSize = kBlockSize;
    params.keyBits = kKeyBits;
    params.hashSize = 64;
    params.cipherAlgorithm = "AES";
    params.cipherChaining = "ChainingModeCBC";
    params.hashAlgorithm = "SHA512";
    AgileDescriptor d;
    d.keyData = params;
    d.password = params;
    d.keyData.salt.resize(kSaltSize);
    d.password.salt.resize(kSaltSize);
    randomBytes(d.keyData.salt);
    randomBytes(d.password.salt);
    d.password.spinCount = kSpinCount;

    std::uint32_t encodingKey = 0;
    while (encodingKey == 0) {
        std::array<std::uint8_t, 4> b{};
        randomBytes(b);
        encodingKey = readU32(b.data());
    }
    SecretBytes fileKey(Bytes(kKeyBits / 8));
    randomBytes(fileKey.bytes());

    // The inverse of makeAgile: each value is encrypted under Hash(H || block) with the encryptor's salt as IV.
    Digest digest("SHA512");
    SecretBytes pw(crypto::passwordBytes(password));
    SecretBytes h = iteratedHash(digest, d.password.salt, pw, kSpinCount);
    BlockCipher cipher(cipherName, true);
    auto wrap = [&](std::span<const std::uint8_t> block, std::span<const std::uint8_t> plain) {
        SecretBytes key(digest.hash({h.span(), block}));
        fixLength(key.bytes(), kKeyBits / 8, 0x36);
        Bytes out(plain.begin(), plain.end());
        out.resize((out.size() + kBlockSize - 1) / kBlockSize * kBlockSize, 0);
        cipher.setKey(key.span());
        cipher.run(d.password.salt, out);
        return out;
    };
    Bytes verifier(kSaltSize);
    randomBytes(verifier);
    d.password.encryptedVerifierHashInput = wrap(kVerifierInput, verifier);
    d.password.encryptedVerifierHashValue = wrap(kVerifierHash, digest.hash({verifier}));
    d.password.encryptedKeyValue = wrap(kKeyValue, fileKey.span());

    const std::string xml = agileXml(d);
    const std::size_t length = 8 + xml.size();
    // The descriptor must end before the table of counters at 0xE00.
    if (plainHeaderPage.size() < 0xE00 || kDescriptorOffset + 2 + length > 0xE00)
        throw Error(errc::NotSupported, "Cannot encrypt the database: the encryption header does not fit.");
    std::uint8_t* p = plainHeaderPage.data();
    writeU32(p + kEncodingKeyOffset, encodingKey);
    writeU16(p + kDescriptorOffset, static_cast<std::uint16_t>(length));
    writeU16(p + kDescriptorOffset + 2, 4);
    writeU16(p + kDescriptorOffset + 4, 4);
    writeU32(p + kDescriptorOffset + 6, 0x40);
    std::memcpy(p + kDescriptorOffset + 10, xml.data(), xml.size());
    return std::make_unique<AgileCodec>(encodingKey, d, cipherName, std::move(fileKey));
}

namespace crypto {

std::string base64Encode(std::span<const std::uint8_t> data) {
    static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((data.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < data.size(); i += 3) {
        const std::size_t n = std::min<std::size_t>(3, data.size() - i);
        std::uint32_t v = static_cast<std::uint32_t>(data[i]) << 16;
        if (n > 1) v |= static_cast<std::uint32_t>(data[i + 1]) << 8;
        if (n > 2) v |= data[i + 2];
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += n > 1 ? kAlphabet[(v >> 6) & 63] : '=';
        out += n > 2 ? kAlphabet[v & 63] : '=';
    }
    return out;
}

std::vector<std::uint8_t> base64Decode(std::string_view text) {
    auto value = [](char c) -> int {
        if (c >= 'A' && c <= 'Z') return c - 'A';
        if (c >= 'a' && c <= 'z') return c - 'a' + 26;
        if (c >= '0' && c <= '9') return c - '0' + 52;
        if (c == '+') return 62;
        if (c == '/') return 63;
        return -1;
    };
    std::vector<std::uint8_t> out;
    std::uint32_t acc = 0;
    int bits = 0, padding = 0, count = 0;
    for (char c : text) {
        if (c == ' ' || c == '\n' || c == '\r' || c == '\t') continue;
        if (c == '=') {
            ++padding;
            ++count;
            continue;
        }
        int v = value(c);
        if (v < 0 || padding > 0) throw std::invalid_argument("base64");
        acc = (acc << 6) | static_cast<std::uint32_t>(v);
        bits += 6;
        ++count;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<std::uint8_t>(acc >> bits));
        }
    }
    if (count % 4 != 0 || padding > 2) throw std::invalid_argument("base64");
    return out;
}

std::vector<std::uint8_t> passwordBytes(std::string_view s) {
    std::vector<std::uint8_t> out;
    std::size_t units = 0;
    auto put = [&](std::uint32_t u) {
        out.push_back(static_cast<std::uint8_t>(u));
        out.push_back(static_cast<std::uint8_t>(u >> 8));
        ++units;
    };
    for (std::size_t i = 0; i < s.size() && units < 255;) {
        auto b = static_cast<unsigned char>(s[i]);
        std::uint32_t cp = 0xFFFD;
        std::size_t len = 1;
        if (b < 0x80) {
            cp = b;
        } else {
            std::size_t need = (b >= 0xF0 && b <= 0xF4) ? 4 : (b >= 0xE0) && b < 0xF0 ? 3 : (b >= 0xC2 && b < 0xE0) ? 2 : 0;
            if (need && i + need <= s.size()) {
                std::uint32_t v = b & (need == 2 ? 0x1F : need == 3 ? 0x0F : 0x07);
                bool ok = true;
                for (std::size_t k = 1; k < need; ++k) {
                    auto cb = static_cast<unsigned char>(s[i + k]);
                    if ((cb & 0xC0) != 0x80) {
                        ok = false;
                        break;
                    }
                    v = (v << 6) | (cb & 0x3F);
                }
                bool overlong = (need == 3 && v < 0x800) || (need == 4 && v < 0x10000);
                if (ok && !overlong && v <= 0x10FFFF && !(v >= 0xD800 && v <= 0xDFFF)) {
                    cp = v;
                    len = need;
                }
            }
        }
        i += len;
        if (cp >= 0x10000) {
            if (units + 2 > 255) break; // a pair that would be cut in half is dropped whole
            cp -= 0x10000;
            put(0xD800 + (cp >> 10));
            put(0xDC00 + (cp & 0x3FF));
        } else {
            put(cp);
        }
    }
    return out;
}

} // namespace crypto

} // namespace jet
