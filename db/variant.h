#pragma once
#include <array>
#include <compare>
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace db {

// Exact decimal: value = (negative ? -1 : 1) * mantissa / 10^scale,
// mantissa below 10^28 (Access's 96-bit decimals; PostgreSQL numerics that fit).
struct Decimal {
    unsigned __int128 mantissa = 0;
    std::uint8_t scale = 0;
    bool negative = false;
    // Parses "-123.4500", "1e5" is not accepted. Throws db::Error on bad text or overflow.
    static Decimal parse(const std::string& text);
    std::string toString() const; // plain form, trailing fraction zeros kept as scale says
    bool operator==(const Decimal&) const = default;
};

// Currency: a 64-bit integer counting ten-thousandths.
struct Currency {
    std::int64_t scaled = 0;
    bool operator==(const Currency&) const = default;
};

// Date: days since 1899-12-30, fraction is the time of day (Access's rule for
// negative days: integer part is the date, |fraction| the time).
struct Date {
    double days = 0;
    bool operator==(const Date&) const = default;
};

struct Guid {
    std::array<std::uint8_t, 16> bytes{}; // in the textual order of the braces form
    bool operator==(const Guid&) const = default;
};

struct Null {
    bool operator==(const Null&) const = default;
};
struct Empty {
    bool operator==(const Empty&) const = default;
};

using Bytes = std::vector<std::uint8_t>;

// The value of one field: may be Null.
class Variant {
public:
    using Storage = std::variant<Empty, Null, bool, std::int8_t, std::uint8_t, std::int16_t, std::int32_t,
                                 std::int64_t, float, double, Currency, Decimal, Date, std::string, Bytes, Guid>;

    Variant() = default;
    template <class T>
    Variant(T v) : v_(std::move(v)) {}
    Variant(const char* s) : v_(std::string(s)) {}

    bool isNull() const { return std::holds_alternative<Null>(v_); }
    bool isEmpty() const { return std::holds_alternative<Empty>(v_); }
    template <class T>
    bool is() const { return std::holds_alternative<T>(v_); }
    template <class T>
    const T& get() const { return std::get<T>(v_); }
    const Storage& storage() const { return v_; }

    // The value's text form: never locale-dependent, accepted by PostgreSQL and by
    // the Access engine. Null and Empty give "".
    std::string toText() const;
    // The same text written into `out`, whose buffer is reused.
    void textInto(std::string& out) const;

    bool operator==(const Variant&) const = default;

private:
    Storage v_ = Empty{};
};

// Helpers shared by the text form and the parsers.
std::string formatDouble(double v);   // shortest text that reads back exactly
std::string formatFloat(float v);     // shortest text that reads back to the same float
std::string formatDate(double days);  // YYYY-MM-DD HH:MM:SS[.fff], date alone at midnight, time alone on day 0
std::string formatCurrency(std::int64_t scaled);
std::string formatGuid(const Guid& g);   // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}
std::string formatBytes(const Bytes& b); // \x + lowercase hex

// Civil date <-> Access day count.
double daysFromCivil(int year, int month, int day, int hour = 0, int minute = 0, double second = 0);

} // namespace db
