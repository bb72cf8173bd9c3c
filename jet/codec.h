#pragma once
// Encrypted Access files: choosing and building the page codec from page 0 and the
// database password.
//
// An .accdb protected with a password is encrypted page by page with the Office
// document encryption machinery; its parameters sit in a descriptor on page 0 at
// 0x299 (u16 length, then the descriptor starting with a u16 major/minor version).
// Page 0 itself is never encrypted: only the usual RC4 mask over its 0x18.. region
// applies, and the reader removes that (HeaderInfo::page). Every page n >= 1 is
// encrypted over its whole length with a key or IV derived from the 4-byte "encoding
// key" at 0x3E XOR n.
//
//   HeaderInfo h = parseHeader(fileStart, path);
//   if (auto codec = makePageCodec(h.page, h.format, password, path))
//       source.setCodec(std::move(codec));            // null: nothing to decode
//
// Kinds handled:
//   * Office agile (descriptor 4.4, XML): AES-128/192/256 CBC or CFB, SHA-1/256/384/512
//     or MD5, spin-count key derivation. Access 2010 and later.
//   * Office RC4 CryptoAPI (2.2/3.2/4.2, RC4 + SHA-1, 40..512-bit keys). Access 2007,
//     and later versions in "legacy encryption" mode.
//   * Office standard AES (same descriptor with the AES flag: AES-ECB, 50000 rounds)
//     and the "non-standard" sibling that Access writes with an AES algorithm under
//     the RC4 flags (no rounds).
//   * Office binary RC4 (1.1, MD5).
//   * Jet3/Jet4 page encoding (RC4 keyed by LE32(encoding key XOR n); no password).
// Refused as unsupported (3251): Office extensible encryption (3.3/4.3), unknown
// ciphers and hashes.
//
// A wrong or missing password is jet::Error 3031 "Not a valid password." The
// password is never part of any message, and derived secrets are wiped when the
// codec goes away. Codecs serialise their own calls (one mutex each).

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "jet/format.h"
#include "jet/page_source.h"

namespace jet {

enum class Protection {
    None,
    JetRc4,             // Jet3/Jet4 page encoding
    OfficeAgile,        // 4.4
    OfficeRc4CryptoApi, // 2.2/3.2/4.2, RC4
    OfficeStandardAes,  // 2.2/3.2/4.2, AES flag
    OfficeNonStandard,  // 2.2/3.2/4.2, RC4 flags with an AES algorithm
    OfficeBinaryRc4,    // 1.1
    Unsupported,        // declared, but nothing we can read
};

const char* protectionName(Protection p);

// What page 0 declares, read without a password (for tools and messages).
struct EncryptionInfo {
    Protection kind = Protection::None;
    std::uint32_t encodingKey = 0;  // u32 at 0x3E
    std::uint16_t versionMajor = 0; // descriptor version (Office kinds)
    std::uint16_t versionMinor = 0;
    std::string cipher;             // "AES-256-CBC", "RC4-40", "AES-128-ECB", ...
    std::string hash;               // "SHA512", "SHA1", "MD5"
    int keyBits = 0;
    std::uint32_t spinCount = 0;    // agile and standard AES
    bool encrypted() const { return kind != Protection::None; }
};

// plainHeaderPage: page 0 with its RC4 mask removed (HeaderInfo::page).
EncryptionInfo describeEncryption(std::span<const std::uint8_t> plainHeaderPage, Format format);

// The codec that turns stored pages into plain ones and back, or null when the file
// is neither encrypted nor encoded. Jet3/Jet4 files ignore the password here (their
// database password is a separate check). Errors: 3031 wrong or missing password;
// 3251 an encryption we do not support; 3049 a damaged descriptor. `fileName` is
// only used in messages.
std::unique_ptr<PageCodec> makePageCodec(std::span<const std::uint8_t> plainHeaderPage, Format format,
                                         const std::string& password, const std::string& fileName = {});

// Protects a new .accdb with a password as Access 2010 and later do: Office agile encryption, AES-256-CBC
// with SHA-512 and 100000 rounds of key derivation, with fresh random salts, file key and encoding key.
// plainHeaderPage: page 0 of the new file without its mask, nothing yet at 0x3E or 0x299; the encoding key
// and the descriptor are written there. Returns the codec that encrypts every other page of the file.
// Throws 3251 when no secure random numbers are available.
std::unique_ptr<PageCodec> protectNewDatabase(std::span<std::uint8_t> plainHeaderPage, const std::string& password);

namespace crypto {

// Standard base64 with padding.
std::string base64Encode(std::span<const std::uint8_t> data);

// Standard base64 (whitespace ignored); throws std::invalid_argument on bad input.
std::vector<std::uint8_t> base64Decode(std::string_view text);

// The password as the Office key derivation hashes it: UTF-16LE, at most 255 code
// units; bytes that are not valid UTF-8 count as U+FFFD.
std::vector<std::uint8_t> passwordBytes(std::string_view utf8);

} // namespace crypto

} // namespace jet
