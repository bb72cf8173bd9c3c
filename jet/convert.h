// Converts SQL literals into the stored form of a column, the way the Access engine converts INSERT values:
// text literals are accepted for every type ('7' into a number, '2024-01-31 12:00:00' into a date,
// 'True' into Yes/No, '\x0a0b' into binary), and a value that does not fit fails with an Access-like error.
#pragma once

#include "sql.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace jet {

// What a column needs to know to accept a value.
struct ColumnShape {
    sql::ColumnType type = sql::ColumnType::Text;
    int size = 0;  // Text: characters; Binary: bytes
    int precision = 18;
    int scale = 0;
    std::string name;  // for messages
};

// A value ready to be stored. Fixed types: `bytes` holds the little-endian column bytes. Text and Memo:
// `text` holds UTF-16 code units. Binary and OLE: `bytes` holds the raw value. Boolean: `flag`.
struct Cell {
    bool null = true;
    bool flag = false;
    std::vector<std::uint8_t> bytes;
    std::u16string text;
    // Null again, keeping the buffers.
    void reset()
    {
        null = true;
        flag = false;
        bytes.clear();
        text.clear();
    }
};

Cell convertLiteral(const sql::Literal& lit, const ColumnShape& col);
// The same into `cell`, whose buffers are reused.
void convertLiteral(const sql::Literal& lit, const ColumnShape& col, Cell& cell);

// Helpers, exposed for tests and for other writers.
std::u16string utf8ToUtf16(std::string_view s);  // throws on malformed UTF-8
void utf8ToUtf16(std::string_view s, std::u16string& out);
std::string utf16ToUtf8(std::u16string_view s);

// Parses the date/time text forms we accept into Access day numbers (days since 1899-12-30, time as a
// positive fraction of the day even before the epoch). Returns false when the text is not a date.
bool parseDateTime(std::string_view text, double& days);
// The same forms for Date/Time Extended: days since 0001-01-01 and 100 ns units of the day; years 1-9999, at most
// seven digits after the seconds' point (further digits only when zero).
bool parseDateTimeExt(std::string_view text, std::int64_t& days, std::int64_t& ticks);

}  // namespace jet
