#pragma once
// jet::Value — one cell of an Access table, as the engine decodes it.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace jet {

using Bytes = std::vector<std::uint8_t>;

// Currency: signed 64-bit count of 1/10000 units (Access stores exactly this).
struct Currency {
    std::int64_t scaled = 0;
    std::string toString() const; // "12.5", "7", "-0.25" (trailing fraction zeros and bare '.' stripped)
    bool operator==(const Currency&) const = default;
};

// Decimal ("Numeric"): value = (negative ? -1 : 1) * mantissa / 10^scale.
// Access's decimals have at most 28 digits (96-bit mantissa); the 128-bit field
// holds whatever the file stores.
struct Decimal {
    unsigned __int128 mantissa = 0;
    std::uint8_t scale = 0;
    bool negative = false;
    std::string toString() const; // plain decimal, trailing fraction zeros and bare '.' stripped; "-0" → "0"
    bool operator==(const Decimal&) const = default;
};

// Broken-down local date and time (no time zone), what the text forms are built from.
struct CivilDateTime {
    int year = 1899, month = 12, day = 30;
    int hour = 0, minute = 0, second = 0;
    std::uint32_t nanos = 0; // 0 .. 999'999'999
};

// Date/Time: days since 1899-12-30 00:00 as Access stores them. The integer part is
// the date; the fraction is always a positive time of day, also for negative days
// (-1.25 is 1899-12-29 06:00).
struct DateTime {
    double days = 0;
    // Broken down with millisecond precision, rounded the way Jackcess does.
    // Returns false for values outside year 1..9999 or not finite.
    bool toCivil(CivilDateTime& out) const;
    std::string toText() const; // "YYYY-MM-DDTHH:MM:SS[.fff]" (fraction only when not zero, trailing zeros cut)
    bool operator==(const DateTime&) const = default;
};

// Date/Time Extended (ACE 17+): exact to 100 ns, years 0001..9999.
struct DateTimeExt {
    std::int64_t days = 0;  // days since 0001-01-01 (proleptic Gregorian), 0001-01-01 = 0
    std::int64_t ticks = 0; // 100 ns units since midnight, 0 .. 863'999'999'999
    CivilDateTime toCivil() const;
    std::string toText() const; // "YYYY-MM-DDTHH:MM:SS[.fffffff]" (fraction only when not zero, trailing zeros cut)
    bool operator==(const DateTimeExt&) const = default;
};

// GUID / Replication ID; bytes in textual order ({00112233-4455-6677-8899-AABBCCDDEEFF}).
struct Guid {
    std::array<std::uint8_t, 16> bytes{};
    std::string toText() const; // "{UPPER-CASE}" with braces
    bool operator==(const Guid&) const = default;
};

// One file of an attachment column, decoded as Access shows it (data unwrapped and inflated).
struct Attachment {
    std::string name; // file name
    std::string type; // file type (extension), as stored
    Bytes data;       // file contents
    bool operator==(const Attachment&) const = default;
};
using Attachments = std::vector<Attachment>;

// Key of a complex value whose contents are not expanded (unknown complex kinds).
struct ComplexRef {
    std::int32_t id = 0;
    bool operator==(const ComplexRef&) const = default;
};

// A value that can appear inside a multi-value or version-history list.
using ScalarValue = std::variant<std::monostate, bool, std::uint8_t, std::int16_t, std::int32_t, std::int64_t, float,
                                 double, Currency, Decimal, DateTime, DateTimeExt, std::string, Bytes, Guid>;

// Multi-value column: the chosen values of the row, in stored order.
struct MultiValues {
    std::int32_t id = 0; // the complex key stored in the row
    std::vector<ScalarValue> values;
    bool operator==(const MultiValues&) const = default;
};

// Version history of an append-only memo: newest first.
struct Version {
    ScalarValue value;
    DateTime modified;
    bool operator==(const Version&) const = default;
};
struct VersionHistory {
    std::int32_t id = 0;
    std::vector<Version> versions;
    bool operator==(const VersionHistory&) const = default;
};

// One cell. std::monostate is Null.
//   Boolean → bool, Byte → uint8_t, Integer → int16_t, Long → int32_t, Large Number → int64_t,
//   Single → float, Double → double, Currency, Decimal, Date/Time → DateTime, Date/Time Extended → DateTimeExt,
//   Text/Memo → std::string (UTF-8), Binary/OLE/unknown types → Bytes, GUID → Guid,
//   attachment column → Attachments, multi-value → MultiValues, version history → VersionHistory,
//   other complex columns → ComplexRef.
// Careful: constructing a Value from a string literal picks bool; use std::string explicitly.
using Value = std::variant<std::monostate, bool, std::uint8_t, std::int16_t, std::int32_t, std::int64_t, float, double,
                           Currency, Decimal, DateTime, DateTimeExt, std::string, Bytes, Guid, Attachments,
                           MultiValues, VersionHistory, ComplexRef>;

inline bool isNull(const Value& v) { return std::holds_alternative<std::monostate>(v); }

// The complex key of a complex-column value (Attachments carry none: nullopt).
std::optional<std::int32_t> complexId(const Value& v);

// Text helpers (the canonical forms of the fixtures README).
std::string formatDouble(double v); // shortest round-trip text, JavaScript style ("0.1", "1e+21", "1.5e-7", "NaN")
std::string formatFloat(float v);   // shortest text that reads back to the same float
std::string toHex(const std::uint8_t* data, std::size_t size); // lowercase
inline std::string toHex(const Bytes& b) { return toHex(b.data(), b.size()); }

// The canonical text of a scalar (what the JSON dump shows, without JSON quoting):
// Null → "", true/false, integers, currency/decimal plain, doubles as formatDouble, dates ISO,
// bytes lowercase hex, GUID braced. Complex values give their JSON text.
std::string toText(const Value& v);
// Appends toText(v) for the values whose text is plain (numbers, dates, Yes/No, GUIDs: no commas, quotes or line
// breaks) and returns true; returns false, appending nothing, for the others (text, bytes, complex values, Null).
bool appendPlainText(std::string& out, const Value& v);
std::string toText(const ScalarValue& v);

// The items a list cell shows as text: an attachment cell its file names, a multi-value cell its
// values, both in the order Access keeps them. Version history and unknown complex kinds have none.
std::vector<ScalarValue> listItems(const Value& v);

// How the items of a list cell are joined into one text.
enum class ListJoin {
    Plain,   // joined by ';' as they are (attachment names, as Access's own provider shows them)
    Escaped, // joined by ';', each ';' and '\' inside an item preceded by '\': splits back unambiguously
};
std::string joinListItems(const std::vector<std::string>& items, ListJoin join);

} // namespace jet
