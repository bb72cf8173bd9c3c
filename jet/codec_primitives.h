#pragma once
// Thin RAII wrappers over the OpenSSL pieces the page codecs use: message digests
// and block ciphers without padding, plus a byte buffer that wipes itself.
// Internal to jet/ (codec.cpp, its tests and the benchmark).

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <span>
#include <string>
#include <vector>

struct evp_md_st;
struct evp_md_ctx_st;
struct evp_cipher_st;
struct evp_cipher_ctx_st;

namespace jet::crypto {

using Bytes = std::vector<std::uint8_t>;

// Key material: wiped with OPENSSL_cleanse when it goes away or is reassigned.
class SecretBytes {
public:
    SecretBytes() = default;
    explicit SecretBytes(Bytes b) : b_(std::move(b)) {}
    SecretBytes(const SecretBytes&) = delete;
    SecretBytes& operator=(const SecretBytes&) = delete;
    SecretBytes(SecretBytes&& o) noexcept : b_(std::move(o.b_)) { o.b_.clear(); }
    SecretBytes& operator=(SecretBytes&& o) noexcept;
    ~SecretBytes();

    Bytes& bytes() { return b_; }
    const Bytes& bytes() const { return b_; }
    std::span<const std::uint8_t> span() const { return b_; }
    std::size_t size() const { return b_.size(); }

private:
    void wipe();
    Bytes b_;
};

struct MdDeleter {
    void operator()(evp_md_st* p) const;
};
struct MdCtxDeleter {
    void operator()(evp_md_ctx_st* p) const;
};
struct CipherDeleter {
    void operator()(evp_cipher_st* p) const;
};
struct CipherCtxDeleter {
    void operator()(evp_cipher_ctx_st* p) const;
};

// A hash function by OpenSSL name ("SHA1", "SHA512", "MD5", ...). Not thread-safe:
// one context is reused for every call.
class Digest {
public:
    explicit Digest(const std::string& name);
    std::size_t size() const { return size_; }
    // Hash of the concatenation of the parts.
    Bytes hash(std::initializer_list<std::span<const std::uint8_t>> parts) const;
    // Same, written to out (size() bytes; out may alias one of the parts).
    void hashInto(std::initializer_list<std::span<const std::uint8_t>> parts, std::uint8_t* out) const;

private:
    std::unique_ptr<evp_md_st, MdDeleter> md_;
    std::unique_ptr<evp_md_ctx_st, MdCtxDeleter> ctx_;
    std::size_t size_ = 0;
};

// A block cipher by OpenSSL name ("AES-256-CBC", "AES-128-ECB", "AES-128-CFB8"),
// one direction, no padding. The key is set once; run() takes the IV for each call
// (ignored by ECB), so a page costs no new key schedule.
class BlockCipher {
public:
    BlockCipher(const std::string& name, bool encrypt);
    void setKey(std::span<const std::uint8_t> key);
    // Processes data in place; its size must be a multiple of the block size.
    void run(std::span<const std::uint8_t> iv, std::span<std::uint8_t> data);
    std::size_t keyLength() const { return keyLength_; }
    std::size_t ivLength() const { return ivLength_; }

private:
    std::unique_ptr<evp_cipher_st, CipherDeleter> cipher_;
    std::unique_ptr<evp_cipher_ctx_st, CipherCtxDeleter> ctx_;
    bool encrypt_;
    bool keyed_ = false;
    std::size_t keyLength_ = 0;
    std::size_t ivLength_ = 0;
};

// RC4 in place (the same operation encodes and decodes).
void rc4(std::span<const std::uint8_t> key, std::span<std::uint8_t> data);

} // namespace jet::crypto
