#include "convert.h"

#include "writer_error.h"

#include <bit>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace jet {

namespace {

using sql::ColumnType;
using u128 = unsigned __int128;

std::string_view trim(std::string_view s)
{
    const auto blank = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
    while (!s.empty() && blank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && blank(s.back()))
        s.remove_suffix(1);
    return s;
}

bool iequals(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

[[noreturn]] void mismatch(const ColumnShape& col, std::string_view what)
{
    throwError(err::TypeMismatch, "Data type mismatch: '" + std::string(what) + "' cannot be stored in the " +
                                      sql::columnTypeName(col.type) + " field '" + col.name + "'.");
}

[[noreturn]] void overflow(const ColumnShape& col)
{
    throwError(err::Overflow, "Numeric field overflow: the value does not fit the " +
                                  std::string(sql::columnTypeName(col.type)) + " field '" + col.name + "'.");
}

// A decimal number as sign, digits (no leading zeros needed) and a power of ten.
struct DecNumber {
    bool negative = false;
    std::string digits;  // at least one digit
    int exponent = 0;    // value = digits * 10^exponent
};

bool parseDecimal(std::string_view s, DecNumber& out)
{
    s = trim(s);
    std::size_t i = 0;
    out = {};
    if (i < s.size() && (s[i] == '+' || s[i] == '-'))
        out.negative = s[i++] == '-';
    // The digits before and after the point, each taken as one run.
    const auto digitRun = [&s](std::size_t from) {
        std::size_t to = from;
        while (to < s.size() && s[to] >= '0' && s[to] <= '9')
            ++to;
        return to;
    };
    const std::size_t intFrom = i, intTo = digitRun(i);
    std::size_t fracFrom = intTo, fracTo = intTo;
    if (intTo < s.size() && s[intTo] == '.') {
        fracFrom = intTo + 1;
        fracTo = digitRun(fracFrom);
    }
    const bool any = intTo > intFrom || fracTo > fracFrom;
    out.digits.reserve(intTo - intFrom + fracTo - fracFrom);
    out.digits.append(s.substr(intFrom, intTo - intFrom));
    out.digits.append(s.substr(fracFrom, fracTo - fracFrom));
    out.exponent = -static_cast<int>(fracTo - fracFrom);
    i = fracTo;
    if (!any)
        return false;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        int sign = 1;
        if (i < s.size() && (s[i] == '+' || s[i] == '-'))
            sign = s[i++] == '-' ? -1 : 1;
        int e = 0;
        bool expDigits = false;
        while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) {
            e = std::min(e * 10 + (s[i++] - '0'), 100000);
            expDigits = true;
        }
        if (!expDigits)
            return false;
        out.exponent += sign * e;
    }
    if (i != s.size())
        return false;
    const auto nz = out.digits.find_first_not_of('0');
    if (nz == std::string::npos)
        out.digits = "0";
    else
        out.digits.erase(0, nz);
    if (out.digits == "0")
        out.negative = false;
    return true;
}

// Rounds |d| * 10^scale to an integer (half to even); false when it exceeds `limit` (or 39 digits).
bool scaledMagnitude(const DecNumber& d, int scale, u128 limit, u128& out)
{
    const int shift = d.exponent + scale;
    const std::string& digits = d.digits;
    const bool zero = digits == "0";
    std::size_t keep = digits.size();  // digits before the point once scaled
    std::size_t zeros = 0;             // zeros appended after them
    int roundDigit = -1;
    bool sticky = false;
    if (shift >= 0) {
        if (!zero)
            zeros = static_cast<std::size_t>(shift);
    } else {
        const std::size_t drop = static_cast<std::size_t>(-shift);
        if (drop > digits.size()) {
            roundDigit = 0;  // the first dropped digit is an implicit leading zero
            sticky = !zero;
            keep = 0;
        } else {
            keep = digits.size() - drop;
            roundDigit = digits[keep] - '0';
            sticky = digits.find_first_not_of('0', keep + 1) != std::string::npos;
        }
    }
    if (keep + zeros > 39)
        return false;
    u128 v = 0;
    auto push = [&v](unsigned digit) {
        const u128 nv = v * 10 + digit;
        if (nv / 10 != v)
            return false;
        v = nv;
        return true;
    };
    for (std::size_t i = 0; i < keep; ++i)
        if (!push(static_cast<unsigned>(digits[i] - '0')))
            return false;
    for (std::size_t i = 0; i < zeros; ++i)
        if (!push(0))
            return false;
    if (roundDigit > 5 || (roundDigit == 5 && (sticky || (v & 1) != 0)))
        ++v;
    if (v > limit)
        return false;
    out = v;
    return true;
}

template <typename T>
void putLE(std::vector<std::uint8_t>& b, T v)
{
    using U = std::make_unsigned_t<T>;
    U u = static_cast<U>(v);
    const std::size_t at = b.size();
    b.resize(at + sizeof(T));  // one allocation, not one per byte
    for (std::size_t i = 0; i < sizeof(T); ++i)
        b[at + i] = static_cast<std::uint8_t>(u >> (8 * i));
}

std::int64_t toInteger(const DecNumber& d, std::int64_t lo, std::int64_t hi, const ColumnShape& col, int scale = 0)
{
    const u128 limit = d.negative ? static_cast<u128>(-(lo + 1)) + 1 : static_cast<u128>(hi);
    u128 m = 0;
    if (!scaledMagnitude(d, scale, limit, m))
        overflow(col);
    return d.negative ? static_cast<std::int64_t>(-static_cast<std::int64_t>(m - 1) - 1)
                      : static_cast<std::int64_t>(m);
}

// The number a literal stands for; text literals are parsed as numbers (Access converts '7' into 7).
DecNumber numberOf(const sql::Literal& lit, const ColumnShape& col)
{
    DecNumber d;
    if (lit.kind == sql::Literal::Kind::Binary)
        mismatch(col, "0x...");
    std::string_view t = lit.text;
    const std::string_view word = trim(t);
    if (lit.kind == sql::Literal::Kind::Text && !word.empty() && std::isalpha(static_cast<unsigned char>(word[0]))) {
        if (iequals(word, "true") || iequals(word, "yes") || iequals(word, "on"))
            t = "-1";
        else if (iequals(word, "false") || iequals(word, "no") || iequals(word, "off"))
            t = "0";
    }
    if (!parseDecimal(t, d))
        mismatch(col, lit.text);
    return d;
}

double doubleOf(const sql::Literal& lit, const ColumnShape& col)
{
    (void)numberOf(lit, col);  // validates the form
    std::string_view t = trim(lit.text);
    if (iequals(t, "true") || iequals(t, "yes") || iequals(t, "on"))
        return -1.0;
    if (iequals(t, "false") || iequals(t, "no") || iequals(t, "off"))
        return 0.0;
    if (!t.empty() && t.front() == '+')
        t.remove_prefix(1);
    double v = 0;
    auto [p, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
    if (ec == std::errc::result_out_of_range || !std::isfinite(v))
        overflow(col);
    if (ec != std::errc() || p != t.data() + t.size())
        mismatch(col, lit.text);
    return v;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

std::vector<std::uint8_t> bytesOf(const sql::Literal& lit, const ColumnShape& col)
{
    if (lit.kind == sql::Literal::Kind::Binary)
        return lit.bytes;
    if (lit.kind == sql::Literal::Kind::Number)
        mismatch(col, lit.text);
    const std::string& t = lit.text;
    if (t.size() >= 2 && t[0] == '\\' && (t[1] == 'x' || t[1] == 'X')) {
        // The hex form PostgreSQL uses for bytea.
        if (t.size() % 2 != 0)
            mismatch(col, t);
        std::vector<std::uint8_t> out;
        out.reserve((t.size() - 2) / 2);
        for (std::size_t i = 2; i + 1 < t.size(); i += 2) {
            const int hi = hexValue(t[i]), lo = hexValue(t[i + 1]);
            if (hi < 0 || lo < 0)
                mismatch(col, t);
            out.push_back(static_cast<std::uint8_t>(hi << 4 | lo));
        }
        return out;
    }
    // Any other text goes in as its UTF-16 bytes, as the Access engine stores a string in a binary field.
    std::vector<std::uint8_t> out;
    for (char16_t c : utf8ToUtf16(t)) {
        out.push_back(static_cast<std::uint8_t>(c & 0xFF));
        out.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    return out;
}

bool parseGuid(std::string_view s, std::vector<std::uint8_t>& out)
{
    s = trim(s);
    if (s.size() == 38 && s.front() == '{' && s.back() == '}')
        s = s.substr(1, 36);
    if (s.size() != 36 || s[8] != '-' || s[13] != '-' || s[18] != '-' || s[23] != '-')
        return false;
    std::uint8_t raw[16];
    int k = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '-')
            continue;
        const int hi = hexValue(s[i]), lo = i + 1 < s.size() ? hexValue(s[i + 1]) : -1;
        if (hi < 0 || lo < 0)
            return false;
        raw[k++] = static_cast<std::uint8_t>(hi << 4 | lo);
        ++i;
    }
    // Data1, Data2, Data3 are little-endian in the file; the last eight bytes as written.
    const int order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
    out.clear();
    for (int i : order)
        out.push_back(raw[i]);
    return true;
}

// Days from 1899-12-30 to y-m-d (proleptic Gregorian).
std::int64_t daysFromEpoch(int y, int m, int d)
{
    // Days from civil (Howard Hinnant's algorithm), shifted to the Access epoch.
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + static_cast<unsigned>(d) - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const std::int64_t unixDays = era * 146097 + static_cast<std::int64_t>(doe) - 719468;
    return unixDays + 25569;  // 1970-01-01 is day 25569
}

bool validDate(int y, int m, int d)
{
    static const int len[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (m < 1 || m > 12 || d < 1)
        return false;
    const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
    return d <= len[m - 1] + (m == 2 && leap ? 1 : 0);
}

struct Scanner {
    std::string_view s;
    std::size_t i = 0;
    bool done() const { return i >= s.size(); }
    bool take(char c)
    {
        if (i < s.size() && s[i] == c) {
            ++i;
            return true;
        }
        return false;
    }
    bool number(int minDigits, int maxDigits, int& v)
    {
        int n = 0;
        v = 0;
        while (i < s.size() && n < maxDigits && std::isdigit(static_cast<unsigned char>(s[i]))) {
            v = v * 10 + (s[i++] - '0');
            ++n;
        }
        return n >= minDigits;
    }
};

// A time of day as written: hours (24-hour), minutes, seconds and the digits after the seconds' point.
struct Clock {
    int h = 0, mi = 0, se = 0;
    std::string_view fraction;  // digits only, maybe empty
};

bool parseClock(Scanner& sc, Clock& clock)
{
    int h = 0, mi = 0, se = 0;
    if (!sc.number(1, 2, h) || !sc.take(':') || !sc.number(2, 2, mi))
        return false;
    if (sc.take(':')) {
        if (!sc.number(2, 2, se))
            return false;
        if (sc.take('.')) {
            const std::size_t from = sc.i;
            while (!sc.done() && std::isdigit(static_cast<unsigned char>(sc.s[sc.i])))
                ++sc.i;
            if (sc.i == from)
                return false;
            clock.fraction = sc.s.substr(from, sc.i - from);
        }
    }
    // 12-hour forms: "1:05:00 PM".
    std::size_t save = sc.i;
    while (sc.take(' ')) {
    }
    std::string_view rest = sc.s.substr(sc.i);
    if (rest.size() >= 2 && (iequals(rest.substr(0, 2), "AM") || iequals(rest.substr(0, 2), "PM"))) {
        if (h < 1 || h > 12)
            return false;
        const bool pm = iequals(rest.substr(0, 2), "PM");
        h = (h % 12) + (pm ? 12 : 0);
        sc.i += 2;
    } else {
        sc.i = save;
    }
    if (h > 23 || mi > 59 || se > 59)
        return false;
    clock.h = h;
    clock.mi = mi;
    clock.se = se;
    return true;
}

// A date and/or time as written: ISO (YYYY-MM-DD) or Access's US form (M/D/YYYY), then an optional time after
// a blank or 'T'; or a time alone. Years 1-9999 here; each stored type narrows that.
struct CivilText {
    bool haveDate = false;
    int y = 0, m = 0, d = 0;
    Clock clock;
};

bool parseCivilText(std::string_view text, CivilText& out)
{
    text = trim(text);
    Scanner sc{text};
    if (text.size() >= 8 && text.find('-') != std::string_view::npos && text.find('-') >= 4) {
        if (!sc.number(4, 4, out.y) || !sc.take('-') || !sc.number(1, 2, out.m) || !sc.take('-') ||
            !sc.number(1, 2, out.d))
            return false;
        out.haveDate = true;
    } else if (text.find('/') != std::string_view::npos) {
        if (!sc.number(1, 2, out.m) || !sc.take('/') || !sc.number(1, 2, out.d) || !sc.take('/') ||
            !sc.number(4, 4, out.y))
            return false;
        out.haveDate = true;
    }
    if (out.haveDate) {
        if (!validDate(out.y, out.m, out.d) || out.y < 1 || out.y > 9999)
            return false;
        if (!sc.done()) {
            if (!sc.take('T') && !sc.take(' '))
                return false;
            while (sc.take(' ')) {
            }
            if (!parseClock(sc, out.clock))
                return false;
        }
    } else if (!parseClock(sc, out.clock)) {
        return false;
    }
    return sc.done();
}

}  // namespace

bool parseDateTime(std::string_view text, double& days)
{
    CivilText c;
    if (!parseCivilText(text, c) || (c.haveDate && c.y < 100))
        return false;
    double frac = 0, scale = 0.1;
    for (char digit : c.clock.fraction) {
        frac += (digit - '0') * scale;
        scale /= 10;
    }
    const double fraction = (c.clock.h * 3600.0 + c.clock.mi * 60.0 + c.clock.se + frac) / 86400.0;
    if (!c.haveDate) {
        days = fraction;
        return true;
    }
    const std::int64_t whole = daysFromEpoch(c.y, c.m, c.d);
    // Before the epoch the time of day stays a positive fraction: -1.25 is 1899-12-29 06:00.
    days = whole >= 0 ? static_cast<double>(whole) + fraction : static_cast<double>(whole) - fraction;
    return true;
}

bool parseDateTimeExt(std::string_view text, std::int64_t& days, std::int64_t& ticks)
{
    CivilText c;
    if (!parseCivilText(text, c))
        return false;
    // The type holds 100 ns: more digits are accepted only when they are zeros, so nothing is rounded.
    std::int64_t fraction = 0;
    for (std::size_t i = 0; i < c.clock.fraction.size(); ++i) {
        if (i < 7)
            fraction = fraction * 10 + (c.clock.fraction[i] - '0');
        else if (c.clock.fraction[i] != '0')
            return false;
    }
    for (std::size_t i = c.clock.fraction.size(); i < 7; ++i)
        fraction *= 10;
    // Days since 0001-01-01; a time alone is on that first day.
    days = c.haveDate ? daysFromEpoch(c.y, c.m, c.d) - daysFromEpoch(1, 1, 1) : 0;
    ticks = (c.clock.h * 3600LL + c.clock.mi * 60LL + c.clock.se) * 10000000LL + fraction;
    return true;
}

std::u16string utf8ToUtf16(std::string_view s)
{
    std::u16string out;
    utf8ToUtf16(s, out);
    return out;
}

void utf8ToUtf16(std::string_view s, std::u16string& out)
{
    out.clear();
    out.reserve(s.size());
    // ASCII runs, the common case, without the general decoder.
    std::size_t ascii = 0;
    while (ascii < s.size() && static_cast<unsigned char>(s[ascii]) < 0x80)
        ++ascii;
    out.resize(ascii);
    for (std::size_t i = 0; i < ascii; ++i)
        out[i] = static_cast<char16_t>(s[i]);
    for (std::size_t i = ascii; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        char32_t cp = 0;
        int extra = 0;
        if (c < 0x80) {
            cp = c;
        } else if ((c & 0xE0) == 0xC0) {
            cp = c & 0x1F;
            extra = 1;
        } else if ((c & 0xF0) == 0xE0) {
            cp = c & 0x0F;
            extra = 2;
        } else if ((c & 0xF8) == 0xF0) {
            cp = c & 0x07;
            extra = 3;
        } else {
            throwError(err::TypeMismatch, "The text is not valid UTF-8 (byte " + std::to_string(i + 1) + ").");
        }
        if (i + static_cast<std::size_t>(extra) >= s.size())
            throwError(err::TypeMismatch, "The text is not valid UTF-8 (truncated at byte " +
                                              std::to_string(i + 1) + ").");
        for (int k = 1; k <= extra; ++k) {
            const auto cc = static_cast<unsigned char>(s[i + static_cast<std::size_t>(k)]);
            if ((cc & 0xC0) != 0x80)
                throwError(err::TypeMismatch, "The text is not valid UTF-8 (byte " + std::to_string(i + 1) + ").");
            cp = cp << 6 | (cc & 0x3F);
        }
        static const char32_t minimum[] = {0, 0x80, 0x800, 0x10000};
        if (cp < minimum[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            throwError(err::TypeMismatch, "The text is not valid UTF-8 (byte " + std::to_string(i + 1) + ").");
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
        i += 1 + static_cast<std::size_t>(extra);
    }
}

std::string utf16ToUtf8(std::u16string_view s)
{
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        char32_t cp = s[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return out;
}

Cell convertLiteral(const sql::Literal& lit, const ColumnShape& col)
{
    Cell c;
    convertLiteral(lit, col, c);
    return c;
}

void convertLiteral(const sql::Literal& lit, const ColumnShape& col, Cell& c)
{
    c.reset();
    if (lit.kind == sql::Literal::Kind::Null)
        return;
    c.null = false;
    switch (col.type) {
    case ColumnType::Boolean: {
        if (lit.kind == sql::Literal::Kind::Binary)
            mismatch(col, "0x...");
        const DecNumber d = numberOf(lit, col);
        c.flag = d.digits != "0";
        return;
    }
    case ColumnType::Byte:
        putLE(c.bytes, static_cast<std::uint8_t>(toInteger(numberOf(lit, col), 0, 255, col)));
        return;
    case ColumnType::Integer:
        putLE(c.bytes, static_cast<std::int16_t>(toInteger(numberOf(lit, col), -32768, 32767, col)));
        return;
    case ColumnType::Long:
        putLE(c.bytes, static_cast<std::int32_t>(
                           toInteger(numberOf(lit, col), std::numeric_limits<std::int32_t>::min(),
                                     std::numeric_limits<std::int32_t>::max(), col)));
        return;
    case ColumnType::BigInt:
        putLE(c.bytes, toInteger(numberOf(lit, col), std::numeric_limits<std::int64_t>::min(),
                                 std::numeric_limits<std::int64_t>::max(), col));
        return;
    case ColumnType::Currency:
        putLE(c.bytes, toInteger(numberOf(lit, col), std::numeric_limits<std::int64_t>::min(),
                                 std::numeric_limits<std::int64_t>::max(), col, 4));
        return;
    case ColumnType::Single: {
        const double v = doubleOf(lit, col);
        if (std::fabs(v) > std::numeric_limits<float>::max())
            overflow(col);
        putLE(c.bytes, std::bit_cast<std::uint32_t>(static_cast<float>(v)));
        return;
    }
    case ColumnType::Double:
        putLE(c.bytes, std::bit_cast<std::uint64_t>(doubleOf(lit, col)));
        return;
    case ColumnType::DateTime: {
        double days = 0;
        if (lit.kind == sql::Literal::Kind::Number) {
            days = doubleOf(lit, col);
            if (days < -657434.0 || days >= 2958466.0)
                overflow(col);
        } else if (lit.kind != sql::Literal::Kind::Text || !parseDateTime(lit.text, days)) {
            mismatch(col, lit.kind == sql::Literal::Kind::Binary ? "0x..." : lit.text);
        }
        putLE(c.bytes, std::bit_cast<std::uint64_t>(days));
        return;
    }
    case ColumnType::DateTimeExt: {
        std::int64_t days = 0, ticks = 0;
        if (lit.kind != sql::Literal::Kind::Text || !parseDateTimeExt(lit.text, days, ticks))
            mismatch(col, lit.kind == sql::Literal::Kind::Text ? lit.text : std::string("a number"));
        // Stored as text: 19 digits of days since 0001-01-01, ':', 12 digits of seconds of the day and 7 of
        // their 100 ns, then ":7" and a NUL.
        c.bytes.assign(42, 0);
        auto digits = [&](std::size_t at, std::size_t count, std::int64_t v) {
            for (std::size_t i = at + count; i-- > at; v /= 10)
                c.bytes[i] = static_cast<std::uint8_t>('0' + v % 10);
        };
        digits(0, 19, days);
        c.bytes[19] = ':';
        digits(20, 19, ticks);  // seconds (12 digits) and 100 ns (7) read as one number
        c.bytes[39] = ':';
        c.bytes[40] = '7';
        return;
    }
    case ColumnType::Decimal: {
        const DecNumber d = numberOf(lit, col);
        u128 limit = 1;
        for (int i = 0; i < col.precision; ++i)
            limit *= 10;
        u128 m = 0;
        if (!scaledMagnitude(d, col.scale, limit - 1, m))
            overflow(col);
        c.bytes.push_back(d.negative && m != 0 ? 0x80 : 0x00);
        // Four little-endian 32-bit words, most significant word first.
        for (int w = 3; w >= 0; --w)
            putLE(c.bytes, static_cast<std::uint32_t>(m >> (32 * w)));
        return;
    }
    case ColumnType::Guid:
        if (lit.kind != sql::Literal::Kind::Text || !parseGuid(lit.text, c.bytes))
            mismatch(col, lit.kind == sql::Literal::Kind::Binary ? "0x..." : lit.text);
        return;
    case ColumnType::Text:
    case ColumnType::Memo: {
        if (lit.kind == sql::Literal::Kind::Binary)
            mismatch(col, "0x...");
        utf8ToUtf16(lit.text, c.text);
        if (col.type == ColumnType::Text && c.text.size() > static_cast<std::size_t>(col.size))
            throwError(err::FieldTooSmall,
                       "The field is too small to accept the amount of data you attempted to add: field '" +
                           col.name + "' holds " + std::to_string(col.size) + " characters, the value has " +
                           std::to_string(c.text.size()) + ".");
        if (col.type == ColumnType::Memo && c.text.size() > (1u << 29) / 2)
            throwError(err::FieldTooSmall, "The memo value for field '" + col.name + "' is too large.");
        return;
    }
    case ColumnType::Binary:
    case ColumnType::Ole:
        c.bytes = bytesOf(lit, col);
        if (col.type == ColumnType::Binary && c.bytes.size() > static_cast<std::size_t>(col.size))
            throwError(err::FieldTooSmall,
                       "The field is too small to accept the amount of data you attempted to add: field '" +
                           col.name + "' holds " + std::to_string(col.size) + " bytes, the value has " +
                           std::to_string(c.bytes.size()) + ".");
        if (c.bytes.size() >= (1u << 30))
            throwError(err::FieldTooSmall, "The OLE value for field '" + col.name + "' is too large.");
        return;
    }
    mismatch(col, lit.text);
}

}  // namespace jet
