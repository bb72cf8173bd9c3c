#include "index_key.h"

#include "collation.h"
#include "text.h"
#include "writer_error.h"

#include <algorithm>
#include <cstdio>

namespace jet {

std::string describeChar(char16_t c)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "U+%04X", static_cast<unsigned>(c));
    std::string s = buf;
    const std::string utf8 = utf16ToUtf8(std::u16string(1, c));
    if (c >= 0x20 && !(c >= 0xD800 && c <= 0xDFFF))
        s += " '" + utf8 + "'";
    return s;
}

namespace {

void invert(std::vector<std::uint8_t>& out, std::size_t from)
{
    for (std::size_t i = from; i < out.size(); ++i)
        out[i] = static_cast<std::uint8_t>(~out[i]);
}

template <typename U>
void appendBigEndian(std::vector<std::uint8_t>& out, U v)
{
    for (int i = static_cast<int>(sizeof(U)) - 1; i >= 0; --i)
        out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

template <typename U>
U readLE(const std::vector<std::uint8_t>& b)
{
    U v = 0;
    for (std::size_t i = 0; i < sizeof(U) && i < b.size(); ++i)
        v |= static_cast<U>(static_cast<U>(b[i]) << (8 * i));
    return v;
}

// Binary keys: the bytes in groups of eight, each group followed by a count byte — 9 while more groups
// follow, else the number of real bytes in the (zero-padded) last group. Descending keys invert the data
// bytes and the last count byte only.
void appendBinaryKey(std::vector<std::uint8_t>& out, const std::uint8_t* data, std::size_t size, bool ascending)
{
    if (size == 0)
        return;  // an empty value is the flag byte alone (checked on Access's own index entries)
    std::size_t pos = 0;
    while (size - pos > 8) {
        for (std::size_t i = 0; i < 8; ++i)
            out.push_back(ascending ? data[pos + i] : static_cast<std::uint8_t>(~data[pos + i]));
        out.push_back(0x09);
        pos += 8;
    }
    const std::size_t rest = size - pos;
    for (std::size_t i = 0; i < 8; ++i) {
        const std::uint8_t b = i < rest ? data[pos + i] : 0;
        out.push_back(ascending ? b : static_cast<std::uint8_t>(~b));
    }
    out.push_back(ascending ? static_cast<std::uint8_t>(rest) : static_cast<std::uint8_t>(~rest));
}

}  // namespace

std::u16string codePageText(std::uint16_t codePage, std::span<const std::uint8_t> bytes)
{
    std::u16string s;
    if (codePage == 0 || codePage == 1252) {
        s.reserve(bytes.size());
        for (std::uint8_t b : bytes)
            s.push_back(collation::cp1252Char(b));
        return s;
    }
    std::string utf8;
    codePageToUtf8(codePage, bytes.data(), bytes.size(), utf8);
    return utf8ToUtf16(utf8);
}

bool codePageBytes(std::uint16_t codePage, std::u16string_view text, std::vector<std::uint8_t>& out, char16_t& bad)
{
    const bool known = codePage == 0 || codePage == 1252;
    for (char16_t c : text) {
        std::uint8_t b = 0;
        if (known ? !collation::cp1252Byte(c, b) : c >= 0x80) {
            bad = c;
            return false;
        }
        out.push_back(known ? b : static_cast<std::uint8_t>(c));
    }
    return true;
}

namespace {

// Access 97 General order: the key bytes of every character; then, when accented letters occur, an accent
// part of nibbles (0, per accented letter: a 2 for each plain letter with accented forms since the last one,
// then the accent code; 0 again, padded to a byte); without accents a single 00.
void appendText97Key(std::vector<std::uint8_t>& out, std::u16string_view text, bool ascending)
{
    std::vector<std::uint8_t> bytes;
    char16_t bad = 0;
    if (!codePageBytes(1252, text, bytes, bad))
        throwError(err::Unsupported, "The text " + describeChar(bad) +
                                         " cannot be stored in this Access 97 database: its code page "
                                         "(windows-1252) has no such character.");
    if (bytes.size() > 255)
        bytes.resize(255);
    const std::size_t start = out.size();
    std::vector<std::uint8_t> nibbles;
    std::size_t bases = 0;
    for (std::uint8_t b : bytes) {
        const collation::Char97& k = collation::kGeneral97[b];
        out.insert(out.end(), k.bytes, k.bytes + k.length);
        if (k.kind == collation::Kind97::Base) {
            ++bases;
        } else if (k.kind == collation::Kind97::Accented) {
            if (nibbles.empty())
                nibbles.push_back(0);
            nibbles.insert(nibbles.end(), bases, 0x2);
            nibbles.push_back(k.accent);
            bases = 0;
        }
    }
    if (nibbles.empty()) {
        out.push_back(0x00);
    } else {
        nibbles.push_back(0);
        if (nibbles.size() % 2)
            nibbles.push_back(0);
        for (std::size_t i = 0; i < nibbles.size(); i += 2)
            out.push_back(static_cast<std::uint8_t>(nibbles[i] << 4 | nibbles[i + 1]));
    }
    if (!ascending)
        invert(out, start);
}

}  // namespace

bool canKeyText(std::u16string_view text, SortOrder order, char16_t& bad)
{
    if (order == SortOrder::General97) {
        std::uint8_t unused = 0;
        for (char16_t c : text)
            if (!collation::cp1252Byte(c, unused)) {
                bad = c;
                return false;
            }
        return true;
    }
    collation::CharKey unused;
    for (char16_t c : text)
        if (!collation::charKey(c, order == SortOrder::General, unused) && c != 0) {
            bad = c;
            return false;
        }
    return true;
}

namespace {

// The parts of a Jet4/ACE text key after the primary bytes.
struct TextKeyParts {
    std::vector<std::uint8_t> accents;  // the secondary part: each keyed character's secondary bytes
    std::size_t accentChars = 0;        // characters that `accents` covers
    std::size_t modifierPrefix = 0;     // bytes of a modifier that came before any keyed character
    std::vector<std::uint8_t> kana;     // one size flag per kana character
    std::vector<std::uint8_t> hidden;

    // Characters before `here` that gave no secondary bytes count as "no accent" (02).
    void fillTo(std::size_t here)
    {
        if (accentChars < here) {
            accents.insert(accents.end(), here - accentChars, 0x02);
            accentChars = here;
        }
    }

    void accent(std::size_t here, const std::uint8_t* bytes, std::size_t length)
    {
        fillTo(here);
        accents.insert(accents.end(), bytes, bytes + length);
        ++accentChars;
    }

    // A character with secondary bytes only (a combining mark) adds its weight to the last secondary byte.
    void modify(std::size_t here, std::uint8_t weight)
    {
        fillTo(here);
        if (accents.empty()) {
            accents.push_back(weight);
            modifierPrefix = 1;
        } else {
            accents.back() = static_cast<std::uint8_t>(accents.back() + weight);
        }
    }

    void hide(std::size_t here, std::uint8_t code)
    {
        // The hidden part records where the character stood, counted in secondary-part bytes (a modifier
        // before the first keyed character does not count).
        const std::size_t q = accents.size() + (here - accentChars) - modifierPrefix;
        const unsigned pos = static_cast<unsigned>((7 + 4 * q) | 0x8000);
        hidden.insert(hidden.end(), {static_cast<std::uint8_t>(pos >> 8), static_cast<std::uint8_t>(pos), 0x06, code});
    }

    void appendTo(std::vector<std::uint8_t>& out)
    {
        out.push_back(0x01);
        while (!accents.empty() && accents.back() <= 0x02)
            accents.pop_back();
        out.insert(out.end(), accents.begin(), accents.end());
        if (kana.empty() && hidden.empty())
            return;
        out.insert(out.end(), {0x01, 0x01});
        if (!kana.empty()) {
            // Size flags, three to a byte behind a high bit; trailing "normal" flags are left out.
            while (!kana.empty() && kana.back() == 3)
                kana.pop_back();
            for (std::size_t i = 0; i < kana.size(); i += 3) {
                std::uint8_t b = 0x80;
                for (std::size_t j = 0; j < 3 && i + j < kana.size(); ++j)
                    b = static_cast<std::uint8_t>(b | kana[i + j] << (4 - 2 * j));
                out.push_back(b);
            }
            out.insert(out.end(), {0xFF, 0x02, 0x80, 0xFF, 0x80});
            if (!hidden.empty())
                out.push_back(0xFF);
        }
        if (!hidden.empty()) {
            out.push_back(0x01);
            out.insert(out.end(), hidden.begin(), hidden.end());
        }
    }
};

}  // namespace

void appendTextKey(std::vector<std::uint8_t>& out, std::u16string_view text, SortOrder order, bool ascending)
{
    if (order == SortOrder::General97) {
        appendText97Key(out, text, ascending);
        return;
    }
    // Index keys cover at most 255 characters, and trailing blanks are not keyed.
    if (text.size() > 255)
        text = text.substr(0, 255);
    while (!text.empty() && text.back() == u' ')
        text.remove_suffix(1);
    const bool general = order == SortOrder::General;

    const std::size_t start = out.size();
    TextKeyParts parts;
    std::size_t position = 0;  // characters that produced primary bytes so far
    collation::CharKey k;
    for (char16_t c : text) {
        if (!collation::charKey(c, general, k)) {
            if (c == 0)
                continue;
            out.resize(start);
            throwError(err::Unsupported, "The text " + describeChar(c) + " cannot be indexed: the \"" +
                                             std::string(general ? "General" : "General - Legacy") +
                                             "\" sort order has no key for this character.");
        }
        const std::size_t here = position;
        if (k.cls == collation::CharClass::Hidden) {
            parts.hide(here, k.hidden);
            continue;
        }
        if (k.primaryLength > 0) {
            out.insert(out.end(), k.primary, k.primary + k.primaryLength);
            ++position;
            // "No accent" alone is what the secondary part fills in anyway.
            if (k.secondaryLength != 1 || k.secondary[0] != 0x02)
                parts.accent(here, k.secondary, k.secondaryLength);
        } else if (k.secondaryLength > 0) {
            parts.modify(here, k.secondary[0]);
        }
        if (k.cls == collation::CharClass::SmallKana)
            parts.kana.push_back(2);
        else if (k.cls == collation::CharClass::NormalKana)
            parts.kana.push_back(3);
    }
    parts.appendTo(out);
    if (!ascending) {
        out.push_back(0x00);
        invert(out, start);
    }
    out.push_back(0x00);
}

void appendLongKey(std::vector<std::uint8_t>& out, std::int32_t value, bool ascending)
{
    out.push_back(ascending ? key_flag::AscValue : key_flag::DescValue);
    const std::size_t start = out.size();
    appendBigEndian(out, static_cast<std::uint32_t>(value) ^ 0x80000000u);
    if (!ascending)
        invert(out, start);
}

void appendColumnKey(std::vector<std::uint8_t>& out, sql::ColumnType type, const Cell& cell, SortOrder order,
                     bool ascending)
{
    using sql::ColumnType;
    if (cell.null && type != ColumnType::Boolean) {
        out.push_back(ascending ? key_flag::AscNull : key_flag::DescNull);
        return;
    }
    out.push_back(ascending ? key_flag::AscValue : key_flag::DescValue);
    const std::size_t start = out.size();
    switch (type) {
    case ColumnType::Boolean:
        out.push_back(cell.flag ? 0x00 : 0xFF);
        break;
    case ColumnType::Byte:
        out.push_back(cell.bytes.empty() ? 0 : cell.bytes[0]);
        break;
    case ColumnType::Integer:
        appendBigEndian(out, static_cast<std::uint16_t>(readLE<std::uint16_t>(cell.bytes) ^ 0x8000u));
        break;
    case ColumnType::Long:
        appendBigEndian(out, readLE<std::uint32_t>(cell.bytes) ^ 0x80000000u);
        break;
    case ColumnType::Currency:
    case ColumnType::BigInt:
        appendBigEndian(out, readLE<std::uint64_t>(cell.bytes) ^ 0x8000000000000000ull);
        break;
    case ColumnType::Single: {
        std::uint32_t v = readLE<std::uint32_t>(cell.bytes);
        v = (v & 0x80000000u) ? ~v : (v ^ 0x80000000u);
        appendBigEndian(out, v);
        break;
    }
    case ColumnType::Double:
    case ColumnType::DateTime: {
        std::uint64_t v = readLE<std::uint64_t>(cell.bytes);
        v = (v & 0x8000000000000000ull) ? ~v : (v ^ 0x8000000000000000ull);
        appendBigEndian(out, v);
        break;
    }
    case ColumnType::Text:
    case ColumnType::Memo:
        appendTextKey(out, cell.text, order, ascending);  // inverts by itself
        return;
    case ColumnType::Guid: {
        // In the order the GUID is written ({d1-d2-d3-...}), so that keys sort as the texts do.
        std::uint8_t display[16] = {};
        static const int order16[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
        for (int i = 0; i < 16 && static_cast<std::size_t>(order16[i]) < cell.bytes.size(); ++i)
            display[i] = cell.bytes[static_cast<std::size_t>(order16[i])];
        appendBinaryKey(out, display, 16, ascending);
        return;
    }
    case ColumnType::Binary:
    case ColumnType::DateTimeExt:  // keyed as its 42 stored bytes, as Access keys them
        appendBinaryKey(out, cell.bytes.data(), cell.bytes.size(), ascending);
        return;
    default:
        throwError(err::Unsupported, std::string("Index keys for ") + sql::columnTypeName(type) +
                                         " columns are not supported by this engine.");
    }
    if (!ascending)
        invert(out, start);
}

}  // namespace jet
