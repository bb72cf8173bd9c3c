// Index keys as the Access engine stores them in index pages: one flag byte per key column, then the value
// bytes in an order-preserving form (big-endian, sign bit flipped; text through the sort order's tables).
#pragma once

#include "convert.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace jet {

enum class SortOrder {
    GeneralLegacy,  // LCID 0x0409, sort version 0 (Access 2000-2007 and many later files)
    General,        // LCID 0x0409, sort version 1 (the default of Access 2010 and later)
    General97,      // Access 97 (Jet 3) General order over windows-1252 bytes
};

// Flag bytes in front of each key column.
namespace key_flag {
inline constexpr std::uint8_t AscValue = 0x7F;
inline constexpr std::uint8_t AscNull = 0x00;
inline constexpr std::uint8_t DescValue = 0x80;
inline constexpr std::uint8_t DescNull = 0xFF;
}  // namespace key_flag

// Access 97 text: the bytes of `codePage` (0 = windows-1252) to UTF-16, and back. codePageBytes returns false
// and sets `bad` to the first character the code page cannot hold; the writer knows only windows-1252.
std::u16string codePageText(std::uint16_t codePage, std::span<const std::uint8_t> bytes);
bool codePageBytes(std::uint16_t codePage, std::u16string_view text, std::vector<std::uint8_t>& out, char16_t& bad);
// "U+20AC '€'"
std::string describeChar(char16_t c);

// True when every character of `text` can be keyed in the sort order `order`; otherwise `bad` receives the
// first one that cannot. Both Jet4/ACE orders key every character of the Basic Multilingual Plane; Access 97's
// keys the characters of windows-1252.
bool canKeyText(std::u16string_view text, SortOrder order, char16_t& bad);

// Appends the value bytes (no flag byte) of a text key: the first 255 characters, trailing blanks left out.
// Throws jet::Error naming a character that the sort order has no key for.
void appendTextKey(std::vector<std::uint8_t>& out, std::u16string_view text, SortOrder order, bool ascending);

// Appends flag byte and value bytes for one key column. `cell` is in the stored form of convert.h; text
// values use `cell.text`.
void appendColumnKey(std::vector<std::uint8_t>& out, sql::ColumnType type, const Cell& cell, SortOrder order,
                     bool ascending);

// Convenience for the catalogue: flag + big-endian, sign-flipped 32-bit integer.
void appendLongKey(std::vector<std::uint8_t>& out, std::int32_t value, bool ascending = true);

}  // namespace jet
