#include "jet/codec_primitives.h"

#include "jet/error.h"

#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/evp.h>

#include <array>
#include <utility>

namespace jet::crypto {

namespace {

[[noreturn]] void opensslFailure(const std::string& what) {
    unsigned long code = ERR_get_error();
    std::string detail;
    if (code != 0) {
        char buf[256];
        ERR_error_string_n(code, buf, sizeof buf);
        detail = std::string(" (") + buf + ")";
    }
    ERR_clear_error();
    throw Error(errc::NotSupported, "Encryption library failure: " + what + detail);
}

} // namespace

SecretBytes& SecretBytes::operator=(SecretBytes&& o) noexcept {
    if (this != &o) {
        wipe();
        b_ = std::move(o.b_);
        o.b_.clear();
    }
    return *this;
}

SecretBytes::~SecretBytes() { wipe(); }

void SecretBytes::wipe() {
    if (!b_.empty()) OPENSSL_cleanse(b_.data(), b_.size());
}

void MdDeleter::operator()(evp_md_st* p) const { EVP_MD_free(p); }
void MdCtxDeleter::operator()(evp_md_ctx_st* p) const { EVP_MD_CTX_free(p); }
void CipherDeleter::operator()(evp_cipher_st* p) const { EVP_CIPHER_free(p); }
void CipherCtxDeleter::operator()(evp_cipher_ctx_st* p) const { EVP_CIPHER_CTX_free(p); }

Digest::Digest(const std::string& name) : md_(EVP_MD_fetch(nullptr, name.c_str(), nullptr)), ctx_(EVP_MD_CTX_new()) {
    if (!md_) opensslFailure("no hash " + name);
    if (!ctx_) opensslFailure("out of memory");
    size_ = static_cast<std::size_t>(EVP_MD_get_size(md_.get()));
}

void Digest::hashInto(std::initializer_list<std::span<const std::uint8_t>> parts, std::uint8_t* out) const {
    if (EVP_DigestInit_ex2(ctx_.get(), md_.get(), nullptr) != 1) opensslFailure("hash init");
    for (auto part : parts)
        if (!part.empty() && EVP_DigestUpdate(ctx_.get(), part.data(), part.size()) != 1) opensslFailure("hash");
    unsigned int len = 0;
    if (EVP_DigestFinal_ex(ctx_.get(), out, &len) != 1) opensslFailure("hash final");
}

Bytes Digest::hash(std::initializer_list<std::span<const std::uint8_t>> parts) const {
    Bytes out(size_);
    hashInto(parts, out.data());
    return out;
}

BlockCipher::BlockCipher(const std::string& name, bool encrypt)
    : cipher_(EVP_CIPHER_fetch(nullptr, name.c_str(), nullptr)), ctx_(EVP_CIPHER_CTX_new()), encrypt_(encrypt) {
    if (!cipher_) opensslFailure("no cipher " + name);
    if (!ctx_) opensslFailure("out of memory");
    keyLength_ = static_cast<std::size_t>(EVP_CIPHER_get_key_length(cipher_.get()));
    ivLength_ = static_cast<std::size_t>(EVP_CIPHER_get_iv_length(cipher_.get()));
}

void BlockCipher::setKey(std::span<const std::uint8_t> key) {
    if (key.size() != keyLength_) opensslFailure("key length " + std::to_string(key.size()));
    if (EVP_CipherInit_ex2(ctx_.get(), cipher_.get(), key.data(), nullptr, encrypt_ ? 1 : 0, nullptr) != 1)
        opensslFailure("cipher init");
    EVP_CIPHER_CTX_set_padding(ctx_.get(), 0);
    keyed_ = true;
}

void BlockCipher::run(std::span<const std::uint8_t> iv, std::span<std::uint8_t> data) {
    if (!keyed_) opensslFailure("cipher used without a key");
    if (ivLength_ > 0) {
        if (iv.size() != ivLength_) opensslFailure("IV length " + std::to_string(iv.size()));
        // Only the IV changes; the key schedule stays.
        if (EVP_CipherInit_ex2(ctx_.get(), nullptr, nullptr, iv.data(), encrypt_ ? 1 : 0, nullptr) != 1)
            opensslFailure("cipher IV");
    } else if (EVP_CipherInit_ex2(ctx_.get(), nullptr, nullptr, nullptr, encrypt_ ? 1 : 0, nullptr) != 1) {
        opensslFailure("cipher reset");
    }
    int outLen = 0;
    if (EVP_CipherUpdate(ctx_.get(), data.data(), &outLen, data.data(), static_cast<int>(data.size())) != 1)
        opensslFailure("cipher");
    int tail = 0;
    if (EVP_CipherFinal_ex(ctx_.get(), data.data() + outLen, &tail) != 1) opensslFailure("cipher final");
    if (static_cast<std::size_t>(outLen + tail) != data.size()) opensslFailure("cipher length");
}

void rc4(std::span<const std::uint8_t> key, std::span<std::uint8_t> data) {
    if (key.empty()) return;
    // Word-sized state: noticeably faster than bytes (no partial-register stalls).
    std::array<std::uint32_t, 256> s;
    for (std::uint32_t i = 0; i < 256; ++i) s[i] = i;
    std::uint32_t j = 0;
    for (std::uint32_t i = 0; i < 256; ++i) {
        j = (j + s[i] + key[i % key.size()]) & 0xFF;
        std::swap(s[i], s[j]);
    }
    std::uint32_t a = 0, b = 0;
    for (auto& byte : data) {
        a = (a + 1) & 0xFF;
        const std::uint32_t x = s[a];
        b = (b + x) & 0xFF;
        const std::uint32_t y = s[b];
        s[a] = y;
        s[b] = x;
        byte ^= static_cast<std::uint8_t>(s[(x + y) & 0xFF]);
    }
}

} // namespace jet::crypto
