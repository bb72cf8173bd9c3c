#include "jet/header.h"

#include <cmath>
#include <cstring>

#include "jet/crypto.h"
#include "jet/error.h"
#include "jet/text.h"

namespace jet {

namespace {
[[noreturn]] void unrecognized(const std::string& path, const std::string& why) {
    throw Error(errc::UnrecognizedFormat, "Unrecognized database format '" + path + "'. (" + why + ")");
}
} // namespace

HeaderInfo parseHeader(std::span<const std::uint8_t> b, const std::string& path) {
    static const char kJet[] = "Standard Jet DB";
    static const char kAce[] = "Standard ACE DB";
    if (b.size() < 0x100) {
        if (b.size() >= 20 && b[0] == 0 && b[1] == 1 &&
            (std::memcmp(b.data() + 4, kJet, 15) == 0 || std::memcmp(b.data() + 4, kAce, 15) == 0))
            throwCorrupt(path, "the file is only " + std::to_string(b.size()) + " bytes long; it is truncated");
        unrecognized(path, "the file is too short to be an Access database");
    }
    bool jet = std::memcmp(b.data() + 4, kJet, 16) == 0;
    bool ace = std::memcmp(b.data() + 4, kAce, 16) == 0;
    if (b[0] != 0 || b[1] != 1 || b[2] != 0 || b[3] != 0 || (!jet && !ace)) {
        if (std::memcmp(b.data() + 4, "MSISAM Database", 15) == 0)
            unrecognized(path, "a Microsoft Money (MSISAM) file, not an Access database");
        unrecognized(path, "no Jet/ACE database signature");
    }
    HeaderInfo h;
    std::uint8_t v = b[0x14];
    switch (v) {
    case 0: h.format = Format::Jet3; break;
    case 1: h.format = Format::Jet4; break;
    case 2: h.format = Format::Ace12; break;
    case 3: h.format = Format::Ace14; break;
    case 4: h.format = Format::Ace15; break;
    case 5: h.format = Format::Ace16; break;
    case 6: h.format = Format::Ace17; break;
    default: unrecognized(path, "unknown engine version byte 0x" + std::to_string(v));
    }
    const FormatInfo& f = formatInfo(h.format);
    h.pageSize = f.pageSize;
    if (b.size() < f.pageSize) throwCorrupt(path, "the file is shorter than its header page; it is truncated");
    h.page.assign(b.begin(), b.begin() + f.pageSize);
    rc4(kHeaderMaskKey, 4, h.page.data() + f.headerMaskedStart, static_cast<std::size_t>(f.headerMaskedSize));
    const std::uint8_t* p = h.page.data();
    h.codePage = readU16(p + f.headerCodePage);
    h.encodingKey = readU32(p + f.headerEncodingKey);
    h.sortOrder = readU16(p + f.headerSortOrder);
    if (!f.jet3) h.sortVersion = p[f.headerSortOrder + 3];
    if (f.headerCreationDate >= 0) std::memcpy(&h.creationDate, p + f.headerCreationDate, 8);

    const bool isAce = static_cast<int>(h.format) >= static_cast<int>(Format::Ace12);
    if (isAce) {
        if (h.encodingKey != 0) {
            h.aceEncrypted = true;
            std::uint16_t len = readU16(p + 0x299);
            h.encryptionKind = "Office encryption";
            if (len >= 8 && 0x29B + static_cast<std::size_t>(len) <= f.pageSize) {
                std::uint16_t major = readU16(p + 0x29B), minor = readU16(p + 0x29D);
                std::uint32_t flags = readU32(p + 0x29F);
                if (major == 4 && minor == 4) h.encryptionKind = "Office agile encryption (AES)";
                else if ((minor == 2) && (flags & 0x04) && (flags & 0x20))
                    h.encryptionKind = "Office standard encryption (AES)";
                else if ((minor == 2) && (flags & 0x04)) h.encryptionKind = "Office RC4 CryptoAPI encryption";
                else if (minor == 3) h.encryptionKind = "Office extensible encryption";
                else h.encryptionKind = "Office encryption " + std::to_string(major) + "." + std::to_string(minor);
            }
        }
    } else {
        // Database password: Jet4 UCS-2 XOR-ed with the creation date's integer part; Jet3 code page bytes.
        std::uint8_t pw[40];
        std::memcpy(pw, p + f.headerPassword, static_cast<std::size_t>(f.headerPasswordSize));
        if (!f.jet3) {
            std::uint8_t mask[4];
            double d = h.creationDate;
            std::int32_t m = 0;
            if (std::isfinite(d) && d > -2147483648.0 && d < 2147483648.0) m = static_cast<std::int32_t>(std::floor(d));
            writeU32(mask, static_cast<std::uint32_t>(m));
            for (int i = 0; i < f.headerPasswordSize; ++i) pw[i] ^= mask[i % 4];
            std::size_t n = 0;
            // UCS-2: up to the first NUL code unit
            while (n + 1 < 40 && (pw[n] | pw[n + 1]) != 0) n += 2;
            TextDecoder td;
            td.unicode = true;
            td.decode(pw, n, h.storedPassword);
        } else {
            std::size_t n = 0;
            while (n < 20 && pw[n] != 0) ++n;
            codePageToUtf8(h.codePage, pw, n, h.storedPassword);
        }
    }
    return h;
}

} // namespace jet
