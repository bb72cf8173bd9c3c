// Literal conversion into stored column values: the text forms the transfer sends, the range and length errors.
#include "jet/convert.h"
#include "jet/error.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstring>

namespace {

using jet::sql::ColumnType;
using jet::sql::Literal;

Literal text(const std::string& s)
{
    Literal l;
    l.kind = Literal::Kind::Text;
    l.text = s;
    return l;
}

Literal number(const std::string& s)
{
    Literal l;
    l.kind = Literal::Kind::Number;
    l.text = s;
    return l;
}

jet::ColumnShape shape(ColumnType t, int size = 0, int precision = 18, int scale = 0)
{
    jet::ColumnShape s;
    s.type = t;
    s.size = size;
    s.precision = precision;
    s.scale = scale;
    s.name = "f";
    return s;
}

std::int64_t asInt(const jet::Cell& c)
{
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < c.bytes.size(); ++i)
        v |= static_cast<std::uint64_t>(c.bytes[i]) << (8 * i);
    const unsigned bits = static_cast<unsigned>(8 * c.bytes.size());
    if (bits > 8 && bits < 64 && (v >> (bits - 1) & 1))  // Byte is unsigned
        v |= ~0ull << bits;
    return static_cast<std::int64_t>(v);
}

double asDouble(const jet::Cell& c)
{
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < 8; ++i)
        v |= static_cast<std::uint64_t>(c.bytes[i]) << (8 * i);
    return std::bit_cast<double>(v);
}

struct IntCase {
    ColumnType type;
    const char* in;
    std::int64_t out;
    std::size_t width;
};

TEST(WriteConvert, IntegersFromTextAndNumbers)
{
    const IntCase cases[] = {
        {ColumnType::Byte, "7", 7, 1},          {ColumnType::Byte, " 255 ", 255, 1},
        {ColumnType::Integer, "-32768", -32768, 2}, {ColumnType::Integer, "2.5", 2, 2},  // half to even
        {ColumnType::Integer, "3.5", 4, 2},     {ColumnType::Long, "2147483647", 2147483647, 4},
        {ColumnType::Long, "-2147483648", -2147483648ll, 4}, {ColumnType::Long, "1e3", 1000, 4},
        {ColumnType::Long, "True", -1, 4},      {ColumnType::Long, "false", 0, 4},
        {ColumnType::BigInt, "-9223372036854775808", INT64_MIN, 8},
        {ColumnType::BigInt, "9223372036854775807", INT64_MAX, 8},
        {ColumnType::Currency, "3.5", 35000, 8}, {ColumnType::Currency, "-0.00005", 0, 8},
        {ColumnType::Currency, "0.00015", 2, 8}, {ColumnType::Currency, "922337203685477.5807", INT64_MAX, 8},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.in);
        for (const Literal& l : {text(c.in), number(c.in)}) {
            if (l.kind == Literal::Kind::Number && std::isalpha(static_cast<unsigned char>(c.in[0])))
                continue;
            const jet::Cell cell = jet::convertLiteral(l, shape(c.type));
            ASSERT_FALSE(cell.null);
            EXPECT_EQ(cell.bytes.size(), c.width);
            EXPECT_EQ(asInt(cell), c.out);
        }
    }
}

TEST(WriteConvert, ValuesThatDoNotFitFailWithAccessNumbers)
{
    const struct {
        jet::ColumnShape s;
        const char* in;
        int number;
    } cases[] = {
        {shape(ColumnType::Byte), "256", 3349},
        {shape(ColumnType::Byte), "-1", 3349},
        {shape(ColumnType::Integer), "32768", 3349},
        {shape(ColumnType::Long), "2147483648", 3349},
        {shape(ColumnType::Long), "7x", 3464},
        {shape(ColumnType::Long), "", 3464},
        {shape(ColumnType::Single), "1e39", 3349},
        {shape(ColumnType::Double), "1e999", 3349},
        {shape(ColumnType::Double), "abc", 3464},
        {shape(ColumnType::Decimal, 0, 5, 2), "1000", 3349},
        {shape(ColumnType::Decimal, 0, 5, 2), "999.995", 3349},
        {shape(ColumnType::Currency), "922337203685477.5808", 3349},
        {shape(ColumnType::DateTime), "2024-02-30", 3464},
        {shape(ColumnType::DateTime), "2024-01-31 25:00:00", 3464},
        {shape(ColumnType::DateTime), "yesterday", 3464},
        {shape(ColumnType::Text, 3), "abcd", 3163},
        {shape(ColumnType::Binary, 2), "\\x010203", 3163},
        {shape(ColumnType::Binary, 2), "\\x0g", 3464},
        {shape(ColumnType::Guid), "{1234}", 3464},
        {shape(ColumnType::Boolean), "maybe", 3464},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.in);
        try {
            jet::convertLiteral(text(c.in), c.s);
            ADD_FAILURE() << "accepted";
        } catch (const jet::Error& e) {
            EXPECT_EQ(e.number(), c.number) << e.what();
            EXPECT_NE(std::string(e.what()).find("'f'"), std::string::npos) << "the message names the field: " << e.what();
        }
    }
}

TEST(WriteConvert, TextLengthCountsCharactersNotBytes)
{
    const jet::Cell c = jet::convertLiteral(text("Ça été"), shape(ColumnType::Text, 6));
    EXPECT_EQ(c.text, u"Ça été");
    EXPECT_THROW(jet::convertLiteral(text("Ça étés"), shape(ColumnType::Text, 6)), jet::Error);
    // Outside the BMP: two UTF-16 units, as Access counts them.
    EXPECT_EQ(jet::convertLiteral(text("\xF0\x9F\x98\x80"), shape(ColumnType::Memo)).text.size(), 2u);
    EXPECT_THROW(jet::convertLiteral(text("\xC3"), shape(ColumnType::Memo)), jet::Error);
}

struct DateCase {
    const char* in;
    double days;
};

TEST(WriteConvert, DateTextForms)
{
    const DateCase cases[] = {
        {"1899-12-30", 0.0},
        {"2024-01-31", 45322.0},
        {"2024-01-31 12:00:00", 45322.5},
        {"2024-01-31T06:00", 45322.25},
        {"1/31/2024 6:00:00 PM", 45322.75},
        {"12:00:00", 0.5},
        {"00:00:00.5", 0.5 / 86400.0},
        {"1899-12-29 06:00:00", -1.25},  // before the epoch the time stays a positive fraction
        {"1900-01-01", 2.0},
        {"9999-12-31", 2958465.0},
        {"0100-01-01", -657434.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.in);
        const jet::Cell cell = jet::convertLiteral(text(c.in), shape(ColumnType::DateTime));
        EXPECT_NEAR(asDouble(cell), c.days, 1e-9);
    }
    EXPECT_THROW(jet::convertLiteral(text("0099-12-31"), shape(ColumnType::DateTime)), jet::Error);
    EXPECT_NEAR(asDouble(jet::convertLiteral(number("45322.5"), shape(ColumnType::DateTime))), 45322.5, 0);
}

TEST(WriteConvert, YesNoBinaryGuidDecimal)
{
    const struct {
        const char* in;
        bool value;
    } flags[] = {{"True", true}, {"false", false}, {"Yes", true}, {"no", false}, {"-1", true}, {"0", false}, {"1", true}};
    for (const auto& f : flags)
        EXPECT_EQ(jet::convertLiteral(text(f.in), shape(ColumnType::Boolean)).flag, f.value) << f.in;

    EXPECT_EQ(jet::convertLiteral(text("\\x0a0B"), shape(ColumnType::Ole)).bytes, (std::vector<std::uint8_t>{0x0A, 0x0B}));
    Literal bin;
    bin.kind = Literal::Kind::Binary;
    bin.bytes = {1, 2, 3};
    EXPECT_EQ(jet::convertLiteral(bin, shape(ColumnType::Binary, 3)).bytes, bin.bytes);
    EXPECT_THROW(jet::convertLiteral(bin, shape(ColumnType::Text, 10)), jet::Error);

    const jet::Cell g = jet::convertLiteral(text("{00112233-4455-6677-8899-AABBCCDDEEFF}"), shape(ColumnType::Guid));
    EXPECT_EQ(g.bytes, (std::vector<std::uint8_t>{0x33, 0x22, 0x11, 0x00, 0x55, 0x44, 0x77, 0x66, 0x88, 0x99, 0xAA,
                                                  0xBB, 0xCC, 0xDD, 0xEE, 0xFF}));

    // Decimal: sign byte, then four 32-bit words most significant first, each little-endian.
    const jet::Cell d = jet::convertLiteral(text("-123.456"), shape(ColumnType::Decimal, 0, 10, 2));
    ASSERT_EQ(d.bytes.size(), 17u);
    EXPECT_EQ(d.bytes[0], 0x80);
    std::uint32_t low = 0;
    std::memcpy(&low, &d.bytes[13], 4);
    EXPECT_EQ(low, 12346u);  // rounded to the scale
    const jet::Cell big = jet::convertLiteral(text("9999999999999999999999999999"), shape(ColumnType::Decimal, 0, 28, 0));
    EXPECT_EQ(big.bytes[0], 0x00);
    EXPECT_NE(big.bytes[5] | big.bytes[6] | big.bytes[7] | big.bytes[8], 0);  // uses the high words
}

TEST(WriteConvert, NullStaysNullForEveryType)
{
    for (ColumnType t : {ColumnType::Text, ColumnType::Long, ColumnType::DateTime, ColumnType::Ole, ColumnType::Decimal}) {
        const jet::Cell c = jet::convertLiteral(Literal{}, shape(t, 10));
        EXPECT_TRUE(c.null);
    }
}

}  // namespace
