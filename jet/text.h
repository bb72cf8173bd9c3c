#pragma once
// Text decoding: Jet3 code-page bytes and Jet4/ACE UCS-2 with Access's Unicode
// compression, both to UTF-8. Layout: docs/format/text.md.

#include <cstddef>
#include <cstdint>
#include <string>

namespace jet {

struct TextDecoder {
    bool unicode = true;        // Jet4/ACE: UCS-2LE, optionally compressed (FF FE prefix)
    std::uint16_t codePage = 1252; // Jet3 only

    // Appends the UTF-8 form of a stored text value to out.
    void decode(const std::uint8_t* data, std::size_t size, std::string& out) const;
    std::string decode(const std::uint8_t* data, std::size_t size) const {
        std::string s;
        decode(data, size, s);
        return s;
    }
};

// Single pieces, usable on their own.
void appendUtf8(std::string& out, std::uint32_t codePoint);
// UTF-16LE code units to UTF-8; unpaired surrogates are kept as 3-byte sequences (WTF-8)
// so that nothing is lost; the JSON writer escapes them as \uXXXX.
void utf16leToUtf8(const std::uint8_t* data, std::size_t size, std::string& out);
// Access's Unicode compression (the FF FE marker already removed).
void decompressUnicode(const std::uint8_t* data, std::size_t size, std::string& out);
// Single-byte/double-byte code page to UTF-8. Known: 1250-1258, 874, 437, 850, 932 (Shift-JIS lead
// bytes pass through as U+FFFD pairs), others decode as windows-1252.
void codePageToUtf8(std::uint16_t codePage, const std::uint8_t* data, std::size_t size, std::string& out);

} // namespace jet
