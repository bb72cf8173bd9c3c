#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "db/error.h"
#include "db/variant.h"

using db::Variant;

namespace {

struct TextCase {
    const char* what;
    Variant value;
    const char* text;
};

TEST(VariantText, EveryKindHasItsLocaleFreeForm) {
    db::Guid g;
    for (int i = 0; i < 16; ++i) g.bytes[std::size_t(i)] = std::uint8_t(0xa0 + i);
    const TextCase cases[] = {
        {"null", Variant(db::Null{}), ""},
        {"empty", Variant(), ""},
        {"true", Variant(true), "True"},
        {"false", Variant(false), "False"},
        {"byte", Variant(std::uint8_t(255)), "255"},
        {"int16", Variant(std::int16_t(-32768)), "-32768"},
        {"int32", Variant(std::int32_t(2147483647)), "2147483647"},
        {"int64", Variant(std::int64_t(-9223372036854775807LL - 1)), "-9223372036854775808"},
        {"double shortest", Variant(0.1), "0.1"},
        {"double third", Variant(1.0 / 3), "0.3333333333333333"},
        {"double large", Variant(1e21), "1e+21"},
        {"double integral", Variant(12.0), "12"},
        {"float shortest", Variant(0.1f), "0.1"},
        {"currency fraction", Variant(db::Currency{125000}), "12.5"},
        {"currency whole", Variant(db::Currency{70000}), "7"},
        {"currency negative", Variant(db::Currency{-2500}), "-0.25"},
        {"currency extreme", Variant(db::Currency{std::numeric_limits<std::int64_t>::min()}),
         "-922337203685477.5808"},
        {"decimal", Variant(db::Decimal::parse("-123.4500")), "-123.45"},
        {"decimal 28 digits", Variant(db::Decimal::parse("9999999999999999999999999999")),
         "9999999999999999999999999999"},
        {"decimal small", Variant(db::Decimal::parse("0.0000000000000000000000000001")),
         "0.0000000000000000000000000001"},
        {"date midnight", Variant(db::Date{db::daysFromCivil(2024, 1, 31)}), "2024-01-31"},
        {"date and time", Variant(db::Date{db::daysFromCivil(2024, 1, 31, 12, 0, 0)}), "2024-01-31 12:00:00"},
        {"time alone on day 0", Variant(db::Date{0.75}), "18:00:00"},
        {"day 0 midnight", Variant(db::Date{0}), "1899-12-30"},
        {"before 1899 with time", Variant(db::Date{-1.25}), "1899-12-29 06:00:00"},
        {"fraction of second", Variant(db::Date{db::daysFromCivil(2001, 2, 3, 4, 5, 6.5)}), "2001-02-03 04:05:06.5"},
        {"text", Variant(std::string("it's")), "it's"},
        {"bytes", Variant(db::Bytes{0x0a, 0x0b, 0xff}), "\\x0a0bff"},
        {"guid", Variant(g), "{A0A1A2A3-A4A5-A6A7-A8A9-AAABACADAEAF}"},
    };
    // textInto gives the same text, whatever the string held before (longer, shorter or the previous case's).
    std::string reused(200, '#');
    for (const auto& c : cases) {
        EXPECT_EQ(c.value.toText(), c.text) << c.what;
        c.value.textInto(reused);
        EXPECT_EQ(reused, c.text) << c.what;
        std::string fresh = "x";
        c.value.textInto(fresh);
        EXPECT_EQ(fresh, c.text) << c.what;
    }
}

TEST(VariantText, DoublesReadBackExactly) {
    const double values[] = {0.1, 1.0 / 3, 123456789.123456789, 5e-324, 1.7976931348623157e308, -2.5e-7};
    for (double v : values) EXPECT_EQ(std::strtod(Variant(v).toText().c_str(), nullptr), v);
}

TEST(DecimalParse, RefusesWhatItCannotHoldExactly) {
    EXPECT_THROW(db::Decimal::parse("12345678901234567890123456789"), db::Error); // 29 digits
    EXPECT_THROW(db::Decimal::parse("1.2.3"), db::Error);
    EXPECT_THROW(db::Decimal::parse(""), db::Error);
    EXPECT_THROW(db::Decimal::parse("-"), db::Error);
    EXPECT_THROW(db::Decimal::parse("1e5"), db::Error);
    // Trailing zeros beyond 28 digits carry no value and are accepted.
    EXPECT_EQ(db::Decimal::parse("1.00000000000000000000000000000").toString(), "1");
    EXPECT_EQ(db::Decimal::parse("-0.0").toString(), "0");
    EXPECT_EQ(db::Decimal::parse("+000123").toString(), "123");
}

TEST(DateConversion, CivilDaysMatchAccessDayCounts) {
    EXPECT_DOUBLE_EQ(db::daysFromCivil(1899, 12, 30), 0);
    EXPECT_DOUBLE_EQ(db::daysFromCivil(1900, 1, 1), 2);
    EXPECT_DOUBLE_EQ(db::daysFromCivil(2000, 1, 1), 36526);
    EXPECT_DOUBLE_EQ(db::daysFromCivil(1899, 12, 29, 6), -1.25);
    EXPECT_EQ(db::formatDate(db::daysFromCivil(100, 1, 1)), "0100-01-01");
    EXPECT_EQ(db::formatDate(db::daysFromCivil(9999, 12, 31, 23, 59, 59)), "9999-12-31 23:59:59");
}

} // namespace
