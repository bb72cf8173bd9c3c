#pragma once
// The database header page (page 0): version, page size, code page, sort order,
// encoding key, password. Layout: docs/format/header.md.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "jet/format.h"

namespace jet {

struct HeaderInfo {
    Format format = Format::Jet4;
    std::uint32_t pageSize = 4096;
    std::uint16_t codePage = 1252;   // 0x3C
    std::uint16_t sortOrder = 0x409; // LCID
    std::uint8_t sortVersion = 0;    // Jet4+: 0 General Legacy, 1 General
    std::uint32_t encodingKey = 0;   // 0x3E: Jet pages RC4-encoded when non-zero; ACE: encrypted
    double creationDate = 0;         // Jet4+
    std::string storedPassword;      // Jet3/Jet4: the database password (UTF-8); empty = none
    bool aceEncrypted = false;       // ACE with a crypto descriptor at 0x299
    std::string encryptionKind;      // "agile", "RC4 CryptoAPI", "standard (AES)", ... when aceEncrypted
    std::vector<std::uint8_t> page;  // the header page with the RC4 mask removed
};

// The masked region key of the header (RC4 key 0x6B39DAC7).
constexpr std::uint8_t kHeaderMaskKey[4] = {0xC7, 0xDA, 0x39, 0x6B};

// Parses the header from the start of the file. Throws Error 3343 when the bytes are
// not an Access database header (or the version is unknown), 3049 when the file is too
// short to hold one.
HeaderInfo parseHeader(std::span<const std::uint8_t> fileStart, const std::string& path);

} // namespace jet
