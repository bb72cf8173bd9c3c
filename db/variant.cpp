#include "db/variant.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "db/error.h"

namespace db {

namespace {

constexpr unsigned __int128 kTen28 = [] {
    unsigned __int128 v = 1;
    for (int i = 0; i < 28; ++i) v *= 10;
    return v;
}();

std::string u128ToString(unsigned __int128 v) {
    if (v == 0) return "0";
    char buf[48];
    int n = 0;
    // 128-bit division is a library call: the 64-bit part, the common case, divides natively.
    while (v > UINT64_MAX) {
        buf[n++] = char('0' + int(v % 10));
        v /= 10;
    }
    for (auto low = static_cast<std::uint64_t>(v); low; low /= 10) buf[n++] = char('0' + int(low % 10));
    return std::string(std::make_reverse_iterator(buf + n), std::make_reverse_iterator(buf));
}

// Inserts a decimal point `scale` digits from the right and strips trailing
// fraction zeros (and a bare point).
std::string placePoint(std::string digits, int scale, bool negative) {
    if (scale > 0) {
        if (int(digits.size()) <= scale) digits.insert(0, std::size_t(scale - int(digits.size()) + 1), '0');
        digits.insert(digits.size() - std::size_t(scale), 1, '.');
        while (digits.back() == '0') digits.pop_back();
        if (digits.back() == '.') digits.pop_back();
    }
    if (negative && digits != "0") digits.insert(0, 1, '-');
    return digits;
}

// Days since 0000-03-01 based civil conversions (proleptic Gregorian).
long long civilToDays(long long y, unsigned m, unsigned d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = unsigned(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + (long long)doe - 719468; // days since 1970-01-01
}

void daysToCivil(long long z, long long& y, unsigned& m, unsigned& d) {
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = unsigned(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = (long long)yoe + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y += (m <= 2);
}

const long long kEpoch1899 = civilToDays(1899, 12, 30);

} // namespace

Decimal Decimal::parse(const std::string& text) {
    Decimal d;
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) d.negative = text[i++] == '-';
    bool digits = false, point = false;
    int scale = 0;
    for (; i < text.size(); ++i) {
        char c = text[i];
        if (c == '.' && !point) {
            point = true;
            continue;
        }
        if (c < '0' || c > '9') throw Error(-1, "Not a decimal number: '" + text + "'");
        digits = true;
        if (d.mantissa == 0 && c == '0' && !point) continue;
        if (d.mantissa >= kTen28 / 10 && (d.mantissa * 10 + unsigned(c - '0')) >= kTen28) {
            // More digits than a decimal holds: drop trailing fraction zeros only.
            if (point && c == '0') continue;
            throw Error(-1, "The number '" + text + "' has more than 28 significant digits");
        }
        d.mantissa = d.mantissa * 10 + unsigned(c - '0');
        if (point) ++scale;
    }
    if (!digits) throw Error(-1, "Not a decimal number: '" + text + "'");
    if (scale > 28) throw Error(-1, "The number '" + text + "' has more than 28 decimal places");
    d.scale = std::uint8_t(scale);
    if (d.mantissa == 0) d.negative = false;
    return d;
}

std::string Decimal::toString() const { return placePoint(u128ToString(mantissa), scale, negative); }

std::string formatDouble(double v) {
    if (std::isnan(v)) return "NaN";
    if (std::isinf(v)) return v > 0 ? "Infinity" : "-Infinity";
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

std::string formatFloat(float v) {
    if (std::isnan(v)) return "NaN";
    if (std::isinf(v)) return v > 0 ? "Infinity" : "-Infinity";
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

std::string formatCurrency(std::int64_t scaled) {
    const bool negative = scaled < 0;
    unsigned __int128 magnitude = negative ? (unsigned __int128)(-(__int128)scaled) : (unsigned __int128)scaled;
    return placePoint(u128ToString(magnitude), 4, negative);
}

double daysFromCivil(int year, int month, int day, int hour, int minute, double second) {
    const double date = double(civilToDays(year, unsigned(month), unsigned(day)) - kEpoch1899);
    const double time = (hour * 3600.0 + minute * 60.0 + second) / 86400.0;
    return date < 0 ? date - time : date + time;
}

std::string formatDate(double days) {
    if (!std::isfinite(days)) return formatDouble(days);
    // The integer part is the date; the fraction's magnitude the time of day.
    double whole = std::trunc(days);
    double fraction = std::fabs(days - whole);
    long long ms = std::llround(fraction * 86400000.0);
    long long dayCount = (long long)whole;
    if (ms >= 86400000LL) {
        ms -= 86400000LL;
        dayCount += days < 0 ? -1 : 1;
    }
    long long y;
    unsigned m, d;
    daysToCivil(dayCount + kEpoch1899, y, m, d);
    const int hh = int(ms / 3600000), mi = int(ms / 60000 % 60), ss = int(ms / 1000 % 60), frac = int(ms % 1000);
    // Formatted by hand: a transfer formats a date per row and cell, and printf is the slow part.
    const auto digits = [](std::string& out, long long v, int width) {
        char buf[20];
        int n = 0;
        do {
            buf[n++] = char('0' + v % 10);
            v /= 10;
        } while (v > 0 || n < width);
        while (n > 0) out.push_back(buf[--n]);
    };
    std::string date;
    if (y >= 0 && y <= 9999) {
        digits(date, y, 4);
        date.push_back('-');
        digits(date, m, 2);
        date.push_back('-');
        digits(date, d, 2);
    } else {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%04lld-%02u-%02u", y, m, d);
        date = buf;
    }
    std::string t;
    digits(t, hh, 2);
    t.push_back(':');
    digits(t, mi, 2);
    t.push_back(':');
    digits(t, ss, 2);
    if (frac) {
        t.push_back('.');
        digits(t, frac, 3);
        while (t.back() == '0') t.pop_back();
    }
    if (dayCount == 0 && ms != 0) return t;
    if (ms == 0) return date;
    return std::string(date) + " " + t;
}

std::string formatGuid(const Guid& g) {
    static const char* hex = "0123456789ABCDEF";
    std::string s = "{";
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) s += '-';
        s += hex[g.bytes[std::size_t(i)] >> 4];
        s += hex[g.bytes[std::size_t(i)] & 15];
    }
    return s + "}";
}

std::string formatBytes(const Bytes& b) {
    static const char* hex = "0123456789abcdef";
    std::string s = "\\x";
    s.reserve(2 + b.size() * 2);
    for (auto c : b) {
        s += hex[c >> 4];
        s += hex[c & 15];
    }
    return s;
}

std::string Variant::toText() const {
    struct Visitor {
        std::string operator()(const Empty&) const { return {}; }
        std::string operator()(const Null&) const { return {}; }
        std::string operator()(bool b) const { return b ? "True" : "False"; }
        std::string operator()(std::int8_t v) const { return std::to_string(int(v)); }
        std::string operator()(std::uint8_t v) const { return std::to_string(unsigned(v)); }
        std::string operator()(std::int16_t v) const { return std::to_string(v); }
        std::string operator()(std::int32_t v) const { return std::to_string(v); }
        std::string operator()(std::int64_t v) const { return std::to_string(v); }
        std::string operator()(float v) const { return formatFloat(v); }
        std::string operator()(double v) const { return formatDouble(v); }
        std::string operator()(const Currency& c) const { return formatCurrency(c.scaled); }
        std::string operator()(const Decimal& d) const { return d.toString(); }
        std::string operator()(const Date& d) const { return formatDate(d.days); }
        std::string operator()(const std::string& s) const { return s; }
        std::string operator()(const Bytes& b) const { return formatBytes(b); }
        std::string operator()(const Guid& g) const { return formatGuid(g); }
    };
    return std::visit(Visitor{}, v_);
}

} // namespace db
