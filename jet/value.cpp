#include "jet/value.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "jet/dump.h"

namespace jet {

namespace {

// Shortest round-trip digits and decimal exponent: value = 0.DIGITS x 10^exp10.
struct Shortest {
    char digits[40];
    int count = 0;
    int exp10 = 0; // JavaScript's "n"
};

template <class F>
Shortest shortestDigits(F v) {
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific);
    Shortest s;
    const char* p = buf;
    const char* end = res.ptr;
    int e = 0;
    // form: d[.ddd]e[+-]XX
    const char* ePos = static_cast<const char*>(std::memchr(buf, 'e', static_cast<std::size_t>(end - buf)));
    for (const char* q = p; q < ePos; ++q)
        if (*q >= '0' && *q <= '9') s.digits[s.count++] = *q;
    std::from_chars(ePos + 1 + (ePos[1] == '+' ? 1 : 0), end, e);
    // strip trailing zeros of the digit string (to_chars gives none except for "0")
    while (s.count > 1 && s.digits[s.count - 1] == '0') --s.count;
    s.exp10 = e + 1;
    return s;
}

std::string jsNumber(const Shortest& s, bool negative) {
    std::string out;
    if (negative) out += '-';
    const int k = s.count, n = s.exp10;
    if (k <= n && n <= 21) {
        out.append(s.digits, static_cast<std::size_t>(k));
        out.append(static_cast<std::size_t>(n - k), '0');
    } else if (0 < n && n <= 21) {
        out.append(s.digits, static_cast<std::size_t>(n));
        out += '.';
        out.append(s.digits + n, static_cast<std::size_t>(k - n));
    } else if (-6 < n && n <= 0) {
        out += "0.";
        out.append(static_cast<std::size_t>(-n), '0');
        out.append(s.digits, static_cast<std::size_t>(k));
    } else {
        out += s.digits[0];
        if (k > 1) {
            out += '.';
            out.append(s.digits + 1, static_cast<std::size_t>(k - 1));
        }
        out += 'e';
        int e = n - 1;
        out += (e < 0 ? '-' : '+');
        out += std::to_string(e < 0 ? -e : e);
    }
    return out;
}

template <class F>
std::string formatFloating(F v) {
    if (std::isnan(v)) return "NaN";
    if (std::isinf(v)) return v < 0 ? "-Infinity" : "Infinity";
    if (v == 0) return "0";
    bool neg = std::signbit(v);
    return jsNumber(shortestDigits(neg ? -v : v), neg);
}

std::string u128ToString(unsigned __int128 v) {
    if (v == 0) return "0";
    char buf[48];
    int i = 48;
    // 128-bit division is a library call: the 64-bit part, the common case, divides natively.
    while (v > UINT64_MAX) {
        buf[--i] = static_cast<char>('0' + static_cast<int>(v % 10));
        v /= 10;
    }
    for (auto low = static_cast<std::uint64_t>(v); low; low /= 10) buf[--i] = static_cast<char>('0' + static_cast<int>(low % 10));
    return std::string(buf + i, buf + 48);
}

// Digits with a decimal point `scale` places from the right, trailing fraction zeros cut.
std::string scaledToString(std::string digits, unsigned scale, bool negative) {
    if (scale > 0) {
        if (digits.size() <= scale) digits.insert(0, scale - digits.size() + 1, '0');
        digits.insert(digits.size() - scale, 1, '.');
        while (digits.back() == '0') digits.pop_back();
        if (digits.back() == '.') digits.pop_back();
    }
    if (negative && digits != "0") digits.insert(0, 1, '-');
    return digits;
}

// Days since 0001-01-01 → civil date (proleptic Gregorian). Hinnant's algorithm.
void civilFromDays(std::int64_t z, int& y, int& m, int& d) {
    z += 719468 - 719162; // shift from 0001-01-01 to 1970-01-01 based, then to 0000-03-01
    // 0001-01-01 is day -719162 relative to 1970-01-01
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    std::int64_t yy = yoe + era * 400;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(yy + (m <= 2 ? 1 : 0));
}

// Day number (since 0001-01-01) of 1899-12-30.
constexpr std::int64_t kDaysTo1899_12_30 = 693593;

std::int64_t floorDiv(std::int64_t a, std::int64_t b) {
    std::int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
    return q;
}

// x in [0,1): round x*1000 to an integer, half to even, exactly.
std::int64_t roundMillisHalfEven(double x) {
    if (x <= 0) return 0;
    int exp = 0;
    double m = std::frexp(x, &exp); // x = m * 2^exp, m in [0.5,1)
    auto mant = static_cast<std::uint64_t>(std::ldexp(m, 53)); // x = mant * 2^(exp-53)
    int shift = 53 - exp;                                      // > 0 since x < 1
    unsigned __int128 prod = static_cast<unsigned __int128>(mant) * 1000u;
    if (shift >= 120) return 0;
    unsigned __int128 q = prod >> shift;
    unsigned __int128 rem = prod - (q << shift);
    unsigned __int128 half = static_cast<unsigned __int128>(1) << (shift - 1);
    if (rem > half || (rem == half && (q & 1))) ++q;
    return static_cast<std::int64_t>(q);
}

void appendPadded(std::string& out, long long v, int width) {
    // At least `width` digits, zeros in front (printf's "%0*llu"), written back to front.
    char buf[24];
    char* const end = buf + sizeof buf;
    char* p = end;
    bool neg = v < 0;
    unsigned long long u = neg ? 0ULL - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v);
    do {
        *--p = static_cast<char>('0' + u % 10);
        u /= 10;
    } while (u != 0);
    while (end - p < width) *--p = '0';
    if (neg) out += '-';
    out.append(p, end);
}

void appendCivilText(std::string& s, const CivilDateTime& c) {
    appendPadded(s, c.year, 4);
    s += '-';
    appendPadded(s, c.month, 2);
    s += '-';
    appendPadded(s, c.day, 2);
    s += 'T';
    appendPadded(s, c.hour, 2);
    s += ':';
    appendPadded(s, c.minute, 2);
    s += ':';
    appendPadded(s, c.second, 2);
    if (c.nanos != 0) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "%09u", c.nanos);
        int len = 9;
        while (len > 0 && buf[len - 1] == '0') --len;
        s += '.';
        s.append(buf, static_cast<std::size_t>(len));
    }
}

std::string civilText(const CivilDateTime& c) {
    std::string s;
    s.reserve(32);
    appendCivilText(s, c);
    return s;
}

// What scaledToString(u128ToString(magnitude), 4, negative) gives, for a Currency, appended.
void appendCurrency(std::string& out, std::int64_t scaled) {
    const bool negative = scaled < 0;
    const auto magnitude = negative ? 0ULL - static_cast<unsigned long long>(scaled) : static_cast<unsigned long long>(scaled);
    char digits[24];
    char* const end = digits + sizeof digits;
    char* p = end;
    unsigned long long u = magnitude;
    do {
        *--p = static_cast<char>('0' + u % 10);
        u /= 10;
    } while (u != 0);
    while (end - p < 5) *--p = '0'; // at least one digit before the point
    char* fractionEnd = end;
    while (fractionEnd > end - 4 && fractionEnd[-1] == '0') --fractionEnd;
    if (negative && magnitude != 0) out += '-';
    out.append(p, end - 4);
    if (fractionEnd > end - 4) {
        out += '.';
        out.append(end - 4, fractionEnd);
    }
}

} // namespace

std::string formatDouble(double v) { return formatFloating(v); }
std::string formatFloat(float v) { return formatFloating(v); }

std::string toHex(const std::uint8_t* data, std::size_t size) {
    static const char* hex = "0123456789abcdef";
    std::string s(size * 2, '0');
    for (std::size_t i = 0; i < size; ++i) {
        s[2 * i] = hex[data[i] >> 4];
        s[2 * i + 1] = hex[data[i] & 15];
    }
    return s;
}

std::string Currency::toString() const {
    bool neg = scaled < 0;
    unsigned __int128 mag = neg ? static_cast<unsigned __int128>(-(static_cast<__int128>(scaled)))
                                : static_cast<unsigned __int128>(scaled);
    return scaledToString(u128ToString(mag), 4, neg);
}

std::string Decimal::toString() const { return scaledToString(u128ToString(mantissa), scale, negative); }

bool DateTime::toCivil(CivilDateTime& c) const {
    const double v = days;
    if (!std::isfinite(v) || v > 2958466.0 || v < -693594.0) return false; // about years 1..9999
    // As Jackcess: integer part is the date, |fraction| the time of day, millisecond rounding.
    auto dateLong = static_cast<std::int64_t>(v); // truncation toward zero
    double secondsDouble = std::fmod(std::fabs(v), 1.0) * 86400.0;
    auto timeSeconds = static_cast<std::int64_t>(secondsDouble);
    std::int64_t k = roundMillisHalfEven(std::fmod(secondsDouble, 1.0));
    double rounded = static_cast<double>(k) / 1000.0;
    auto millis = static_cast<std::int64_t>(rounded * 1000.0);
    std::int64_t totalMs = (dateLong * 86400 + timeSeconds) * 1000 + millis;
    std::int64_t dayNo = floorDiv(totalMs, 86400000);
    std::int64_t msOfDay = totalMs - dayNo * 86400000;
    civilFromDays(dayNo + kDaysTo1899_12_30, c.year, c.month, c.day);
    c.hour = static_cast<int>(msOfDay / 3600000);
    c.minute = static_cast<int>(msOfDay / 60000 % 60);
    c.second = static_cast<int>(msOfDay / 1000 % 60);
    c.nanos = static_cast<std::uint32_t>(msOfDay % 1000) * 1000000u;
    return true;
}

std::string DateTime::toText() const {
    CivilDateTime c;
    if (!toCivil(c)) return formatDouble(days);
    return civilText(c);
}

CivilDateTime DateTimeExt::toCivil() const {
    CivilDateTime c;
    std::int64_t d = days + floorDiv(ticks, 864000000000LL);
    std::int64_t t = ticks - floorDiv(ticks, 864000000000LL) * 864000000000LL;
    civilFromDays(d, c.year, c.month, c.day);
    std::int64_t secs = t / 10000000;
    c.hour = static_cast<int>(secs / 3600);
    c.minute = static_cast<int>(secs / 60 % 60);
    c.second = static_cast<int>(secs % 60);
    c.nanos = static_cast<std::uint32_t>(t % 10000000) * 100u;
    return c;
}

std::string DateTimeExt::toText() const { return civilText(toCivil()); }

std::string Guid::toText() const {
    static const char* hex = "0123456789ABCDEF";
    std::string s = "{";
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) s += '-';
        s += hex[bytes[static_cast<std::size_t>(i)] >> 4];
        s += hex[bytes[static_cast<std::size_t>(i)] & 15];
    }
    s += '}';
    return s;
}

std::optional<std::int32_t> complexId(const Value& v) {
    if (auto* m = std::get_if<MultiValues>(&v)) return m->id;
    if (auto* h = std::get_if<VersionHistory>(&v)) return h->id;
    if (auto* r = std::get_if<ComplexRef>(&v)) return r->id;
    return std::nullopt;
}

namespace {
struct TextVisitor {
    std::string operator()(std::monostate) const { return {}; }
    std::string operator()(bool b) const { return b ? "true" : "false"; }
    std::string operator()(std::uint8_t v) const { return std::to_string(v); }
    std::string operator()(std::int16_t v) const { return std::to_string(v); }
    std::string operator()(std::int32_t v) const { return std::to_string(v); }
    std::string operator()(std::int64_t v) const { return std::to_string(v); }
    std::string operator()(float v) const { return formatFloat(v); }
    std::string operator()(double v) const { return formatDouble(v); }
    std::string operator()(const Currency& v) const { return v.toString(); }
    std::string operator()(const Decimal& v) const { return v.toString(); }
    std::string operator()(const DateTime& v) const { return v.toText(); }
    std::string operator()(const DateTimeExt& v) const { return v.toText(); }
    std::string operator()(const std::string& v) const { return v; }
    std::string operator()(const Bytes& v) const { return toHex(v); }
    std::string operator()(const Guid& v) const { return v.toText(); }
    template <class T>
    std::string operator()(const T&) const {
        return {};
    }
};
} // namespace

std::string toText(const ScalarValue& v) { return std::visit(TextVisitor{}, v); }

std::vector<ScalarValue> listItems(const Value& v) {
    std::vector<ScalarValue> items;
    if (const auto* files = std::get_if<Attachments>(&v)) {
        items.reserve(files->size());
        for (const auto& f : *files) items.emplace_back(f.name);
    } else if (const auto* m = std::get_if<MultiValues>(&v)) {
        items = m->values;
    }
    return items;
}

std::string joinListItems(const std::vector<std::string>& items, ListJoin join) {
    std::string out;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i) out += ';';
        if (join == ListJoin::Plain) {
            out += items[i];
            continue;
        }
        for (char c : items[i]) {
            if (c == ';' || c == '\\') out += '\\';
            out += c;
        }
    }
    return out;
}

std::string toText(const Value& v) {
    if (std::holds_alternative<Attachments>(v) || std::holds_alternative<MultiValues>(v) ||
        std::holds_alternative<VersionHistory>(v) || std::holds_alternative<ComplexRef>(v)) {
        std::string s;
        appendJsonValue(s, v);
        return s;
    }
    return std::visit(TextVisitor{}, v);
}

namespace {
// appendPlainText: true when it appended the value's text.
struct PlainTextVisitor {
    std::string& out;
    template <class I>
    bool integer(I value) const {
        char buf[24];
        out.append(buf, std::to_chars(buf, buf + sizeof buf, value).ptr);
        return true;
    }
    bool operator()(bool b) const {
        out += b ? "true" : "false";
        return true;
    }
    bool operator()(std::uint8_t x) const { return integer(unsigned(x)); }
    bool operator()(std::int16_t x) const { return integer(int(x)); }
    bool operator()(std::int32_t x) const { return integer(x); }
    bool operator()(std::int64_t x) const { return integer(x); }
    bool operator()(float x) const {
        out += formatFloat(x);
        return true;
    }
    bool operator()(double x) const {
        out += formatDouble(x);
        return true;
    }
    bool operator()(const Currency& x) const {
        appendCurrency(out, x.scaled);
        return true;
    }
    bool operator()(const Decimal& x) const {
        out += x.toString();
        return true;
    }
    bool operator()(const DateTime& x) const {
        CivilDateTime c;
        if (x.toCivil(c)) appendCivilText(out, c);
        else out += formatDouble(x.days);
        return true;
    }
    bool operator()(const DateTimeExt& x) const {
        appendCivilText(out, x.toCivil());
        return true;
    }
    bool operator()(const Guid& x) const {
        out += x.toText();
        return true;
    }
    template <class T>
    bool operator()(const T&) const {
        return false;
    }
};
} // namespace

bool appendPlainText(std::string& out, const Value& v) { return std::visit(PlainTextVisitor{out}, v); }

} // namespace jet
