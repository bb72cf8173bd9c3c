#include "index_key.h"

#include "collation.h"
#include "text.h"
#include "writer_error.h"

#include <algorithm>
#include <cstdio>
#include <map>

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

namespace collation {

bool generalExtKey(char16_t c, ExtKey& key)
{
    // Runs are sorted by their first character: find the last run starting at or before c.
    std::size_t lo = 0, hi = kGeneralExtCount;
    while (lo < hi) {
        const std::size_t mid = (lo + hi) / 2;
        if (kGeneralExt[mid].first <= c)
            lo = mid + 1;
        else
            hi = mid;
    }
    if (lo == 0)
        return false;
    const ExtRun& r = kGeneralExt[lo - 1];
    const unsigned offset = static_cast<unsigned>(c - r.first);
    if (offset >= r.count)
        return false;
    if (offset == 0) {  // also the runs of one whose second byte is below 0x02
        key = {r.kind, r.b0, r.b1, r.accent, r.flag};
        return true;
    }
    // Second bytes run from 0x02 to 0xFF: 254 values per first byte.
    const unsigned value = (r.b0 * 254u + (r.b1 - 2u)) + offset;
    key = {r.kind, static_cast<std::uint8_t>(value / 254), static_cast<std::uint8_t>(value % 254 + 2), r.accent,
           r.flag};
    return true;
}

}  // namespace collation

namespace {

// In "General - Legacy", a letter of Latin Extended-A is its base letter's legacy code with the letter's
// accent in the secondary part, as in "General". The base letter's legacy code is found through the
// Latin-1 letters, which have keys in both orders: a table from "General" primary bytes to "General -
// Legacy" ones, made from the two Latin-1 tables (primaries two Latin-1 characters map differently are
// left out). Letters whose base has no Latin-1 letter (ŋ, ı, ĸ) have no key.
bool legacyLatinKey(char16_t c, collation::ExtKey& key)
{
    if (c < 0x100 || c > 0x17F || !collation::generalExtKey(c, key))
        return false;
    if (key.kind != collation::ExtKind::Primary && key.kind != collation::ExtKind::Accented)
        return false;
    struct Entry {
        std::uint8_t length = 0;  // 0: none; 0xFF: two Latin-1 characters disagree
        std::uint8_t bytes[2] = {};
    };
    static const std::map<std::uint16_t, Entry> base = [] {
        std::map<std::uint16_t, Entry> m;
        for (int c = 0; c <= 0xFF; ++c) {
            const collation::CharKey& g = collation::kGeneral[c];
            const collation::CharKey& l = collation::kGeneralLegacy[c];
            const auto primary = [](const collation::CharKey& k) {
                return k.kind == collation::KeyClass::Primary || k.kind == collation::KeyClass::Accented;
            };
            if (!primary(g) || !primary(l) || g.length != 2 || l.length > 2)
                continue;
            Entry e;
            e.length = l.length;
            std::copy(l.bytes, l.bytes + l.length, e.bytes);
            const std::uint16_t from = static_cast<std::uint16_t>(g.bytes[0] << 8 | g.bytes[1]);
            auto [it, fresh] = m.emplace(from, e);
            if (!fresh && (it->second.length != e.length ||
                           !std::equal(e.bytes, e.bytes + e.length, it->second.bytes)))
                it->second.length = 0xFF;
        }
        return m;
    }();
    const auto it = base.find(static_cast<std::uint16_t>(key.b0 << 8 | key.b1));
    if (it == base.end() || it->second.length == 0xFF || it->second.length != 1)
        return false;
    key.b0 = 0;
    key.b1 = it->second.bytes[0];
    return true;
}

// The key of a character above U+00FF in `order`, or false.
bool extKey(char16_t c, SortOrder order, collation::ExtKey& key)
{
    return order == SortOrder::General ? collation::generalExtKey(c, key) : legacyLatinKey(c, key);
}

}  // namespace

bool canKeyText(std::u16string_view text, SortOrder order, char16_t& bad)
{
    collation::ExtKey unused {};
    for (char16_t c : text) {
        if (c <= 0xFF)
            continue;
        if (order != SortOrder::General97 && extKey(c, order, unused))
            continue;
        bad = c;
        return false;
    }
    return true;
}

namespace {

// The parts of a Jet4/ACE text key after the primary bytes.
struct TextKeyParts {
    std::vector<std::uint8_t> accents;  // one byte per keyed position, 0x02 where there is no accent
    bool haveAccents = false;
    std::size_t accentPositions = 0;    // positions covered by `accents`
    std::vector<std::uint8_t> kana;     // one size flag per kana character
    std::vector<std::uint8_t> hidden;

    void accent(std::size_t here, std::uint8_t code)
    {
        haveAccents = true;
        if (accentPositions < here) {
            accents.insert(accents.end(), here - accentPositions, 0x02);
            accentPositions = here;
        }
        accents.push_back(code);
        ++accentPositions;
    }

    void hide(std::size_t here, const std::uint8_t* bytes, std::size_t length)
    {
        // The hidden part records where the character stood, counted in the secondary part's terms.
        const std::size_t q = haveAccents ? accents.size() + (here - accentPositions) : here;
        const unsigned code = static_cast<unsigned>((7 + 4 * q) | 0x8000);
        hidden.push_back(static_cast<std::uint8_t>(code >> 8));
        hidden.push_back(static_cast<std::uint8_t>(code));
        hidden.push_back(0x06);
        hidden.insert(hidden.end(), bytes, bytes + length);
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
    char16_t bad = 0;
    if (!canKeyText(text, order, bad))
        throwError(err::Unsupported,
                   "The text " + describeChar(bad) + " cannot be indexed: " +
                       (order == SortOrder::General
                            ? std::string("this engine has index keys for U+0000 to U+00FF, for the letters "
                                          "and digits of the Latin, Greek, Cyrillic, Armenian, Hebrew, Arabic "
                                          "and Georgian scripts, kana, CJK ideographs and Hangul, and for "
                                          "common punctuation and symbols, not for this character.")
                            : std::string("in a database with the \"General - Legacy\" sort order this engine "
                                          "has index keys only for characters U+0000 to U+00FF and the letters "
                                          "of Latin Extended-A. A database with the \"General\" sort order "
                                          "(the default of Access 2010 and later) takes such names.")));
    // Index keys cover at most 255 characters.
    if (text.size() > 255)
        text = text.substr(0, 255);
    const collation::CharKey* table =
        order == SortOrder::General ? collation::kGeneral : collation::kGeneralLegacy;

    const std::size_t start = out.size();
    TextKeyParts parts;
    std::size_t position = 0;  // characters that produced primary bytes so far

    for (char16_t c : text) {
        const std::size_t here = position;
        if (c > 0xFF) {
            collation::ExtKey k {};
            extKey(c, order, k);
            if (k.kind == collation::ExtKind::Hidden) {
                parts.hide(here, &k.b1, 1);
                continue;
            }
            if (k.kind == collation::ExtKind::Ideograph)
                out.insert(out.end(), {0xFD, 0xFF});
            if (k.b0 != 0)  // legacy Latin letters have one byte
                out.push_back(k.b0);
            out.push_back(k.b1);
            ++position;
            if (k.accent != 0)
                parts.accent(here, k.accent);
            if (k.kind == collation::ExtKind::Kana)
                parts.kana.push_back(k.flag);
            continue;
        }
        const collation::CharKey& k = table[c];
        switch (k.kind) {
        case collation::KeyClass::Ignored:
            break;
        case collation::KeyClass::Primary:
            out.insert(out.end(), k.bytes, k.bytes + k.length);
            ++position;
            break;
        case collation::KeyClass::Accented:
            out.insert(out.end(), k.bytes, k.bytes + k.length);
            ++position;
            parts.accent(here, k.accent);
            break;
        case collation::KeyClass::Hidden:
            parts.hide(here, k.bytes, k.length);
            break;
        }
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
