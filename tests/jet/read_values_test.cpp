// The small decoders and text forms of the reading engine, value by value.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "jet/dump.h"
#include "jet/inflate.h"
#include "jet/row.h"
#include "jet/tdef.h"
#include "jet/text.h"
#include "jet/value.h"

namespace {

TEST(ValueText, DoublesAsJavaScriptPrintsThem) {
    EXPECT_EQ(jet::formatDouble(0.1), "0.1");
    EXPECT_EQ(jet::formatDouble(1e21), "1e+21");
    EXPECT_EQ(jet::formatDouble(1e20), "100000000000000000000");
    EXPECT_EQ(jet::formatDouble(1.5e-7), "1.5e-7");
    EXPECT_EQ(jet::formatDouble(0.000001), "0.000001");
    EXPECT_EQ(jet::formatDouble(-444.555), "-444.555");
    EXPECT_EQ(jet::formatDouble(-0.0), "0");
    EXPECT_EQ(jet::formatDouble(3.0), "3");
    EXPECT_EQ(jet::formatDouble(1.7976931348623157e308), "1.7976931348623157e+308");
    EXPECT_EQ(jet::formatDouble(5e-324), "5e-324");
    EXPECT_EQ(jet::formatDouble(std::numeric_limits<double>::quiet_NaN()), "NaN");
    EXPECT_EQ(jet::formatDouble(-std::numeric_limits<double>::infinity()), "-Infinity");
    EXPECT_EQ(jet::formatFloat(0.1f), "0.1");
    EXPECT_EQ(jet::formatFloat(2583.2092f), "2583.2092");
    EXPECT_EQ(jet::formatFloat(1.27413e-10f), "1.27413e-10");
}

TEST(ValueText, CurrencyAndDecimal) {
    EXPECT_EQ((jet::Currency{35000}).toString(), "3.5");
    EXPECT_EQ((jet::Currency{-2500}).toString(), "-0.25");
    EXPECT_EQ((jet::Currency{70000}).toString(), "7");
    EXPECT_EQ((jet::Currency{0}).toString(), "0");
    EXPECT_EQ((jet::Currency{std::numeric_limits<std::int64_t>::min()}).toString(), "-922337203685477.5808");
    EXPECT_EQ((jet::Decimal{125, 1, false}).toString(), "12.5");
    EXPECT_EQ((jet::Decimal{1, 28, true}).toString(), "-0.0000000000000000000000000001");
    EXPECT_EQ((jet::Decimal{0, 4, true}).toString(), "0");
    EXPECT_EQ((jet::Decimal{1200, 2, false}).toString(), "12");
}

TEST(ValueText, Dates) {
    EXPECT_EQ((jet::DateTime{27293.0}).toText(), "1974-09-21T00:00:00");
    EXPECT_EQ((jet::DateTime{-1.25}).toText(), "1899-12-29T06:00:00");
    EXPECT_EQ((jet::DateTime{0.0}).toText(), "1899-12-30T00:00:00");
    EXPECT_EQ((jet::DateTime{0.5 + 1.0 / 86400 / 1000 * 334}).toText(), "1899-12-30T12:00:00.334");
    // 23:59:59.9996 rounds up into the next day
    EXPECT_EQ((jet::DateTime{1.0 - 0.0004 / 86400}).toText(), "1899-12-31T00:00:00");
    jet::DateTimeExt x{737592, (22LL * 3600 + 45 * 60 + 12) * 10000000 + 3456789};
    EXPECT_EQ(x.toText(), "2020-06-17T22:45:12.3456789");
    EXPECT_EQ((jet::DateTimeExt{0, 0}).toText(), "0001-01-01T00:00:00");
    EXPECT_EQ((jet::DateTimeExt{3652058, 0}).toText(), "9999-12-31T00:00:00");
}

// The CSV dump appends the plain values directly: the text must be toText's, value for value.
TEST(ValueText, AppendedPlainTextIsTheCanonicalText) {
    std::vector<jet::Value> values{true, false, std::uint8_t{255}, std::int16_t{-32768}, std::int32_t{-7},
                                   std::int64_t{std::numeric_limits<std::int64_t>::min()}, 1.5f, -0.1, 1e21,
                                   std::numeric_limits<double>::quiet_NaN(), jet::Decimal{1, 28, true},
                                   jet::DateTime{1e300}, jet::DateTimeExt{737592, 123456789}};
    for (std::int64_t scaled : {std::int64_t{0}, std::int64_t{1}, std::int64_t{-1}, std::int64_t{10000},
                                std::int64_t{-2500}, std::int64_t{123450}, std::numeric_limits<std::int64_t>::min(),
                                std::numeric_limits<std::int64_t>::max()})
        values.emplace_back(jet::Currency{scaled});
    std::uint64_t seed = 13;
    for (int i = 0; i < 2000; ++i) {
        seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
        values.emplace_back(jet::Currency{static_cast<std::int64_t>(seed) >> (seed % 50)});
        values.emplace_back(jet::DateTime{static_cast<double>(seed >> 11) / 9007199254740992.0 * 2958466.0 * 1.2 -
                                          693594.0 * 1.1});
    }
    for (const jet::Value& v : values) {
        std::string out = "x";
        ASSERT_TRUE(jet::appendPlainText(out, v)) << jet::toText(v);
        EXPECT_EQ(out, "x" + jet::toText(v));
    }
    std::string out;
    for (const jet::Value& v : {jet::Value{}, jet::Value{std::string("a,b")}, jet::Value{jet::Bytes{1, 2}}})
        EXPECT_FALSE(jet::appendPlainText(out, v));
    EXPECT_EQ(out, "");
}

TEST(ValueText, GuidAndHex) {
    jet::Guid g;
    for (int i = 0; i < 16; ++i) g.bytes[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i * 17);
    EXPECT_EQ(g.toText(), "{00112233-4455-6677-8899-AABBCCDDEEFF}");
    std::uint8_t b[] = {0x00, 0xab, 0x10};
    EXPECT_EQ(jet::toHex(b, 3), "00ab10");
}

TEST(ValueText, JsonStrings) {
    std::string s;
    jet::appendJsonString(s, std::string("a\"b\\c\n\x01\x7f\xc3\xa4", 10));
    EXPECT_EQ(s, "\"a\\\"b\\\\c\\n\\u0001\x7f\xc3\xa4\"");
    s.clear();
    jet::appendJsonString(s, "\xed\xa0\xbd"); // an unpaired surrogate kept as WTF-8
    EXPECT_EQ(s, "\"\\ud83d\"");
    s.clear();
    jet::appendJsonValue(s, jet::Value(std::int64_t{42}));
    EXPECT_EQ(s, "\"42\"");
    s.clear();
    jet::appendJsonValue(s, jet::Value(std::numeric_limits<double>::infinity()));
    EXPECT_EQ(s, "\"Infinity\"");
}

TEST(Text, UnicodeCompressionAndCodePages) {
    jet::TextDecoder td;
    const std::uint8_t plain[] = {'a', 0, 0xe4, 0, 0x3d, 0xd8, 0x00, 0xde}; // a ä 😀
    EXPECT_EQ(td.decode(plain, sizeof plain), "a\xc3\xa4\xf0\x9f\x98\x80");
    const std::uint8_t comp[] = {0xff, 0xfe, 'a', 'b', 0x00, 0x1f, 0x04, 0x00, 'c'}; // "ab", then U+041F, then "c"
    EXPECT_EQ(td.decode(comp, sizeof comp), "ab\xd0\x9f" "c");
    jet::TextDecoder jet3;
    jet3.unicode = false;
    jet3.codePage = 1252;
    const std::uint8_t cp[] = {'C', 'a', 'f', 0xe9, 0x80, 0x81};
    EXPECT_EQ(jet3.decode(cp, sizeof cp), "Caf\xc3\xa9\xe2\x82\xac\xc2\x81");
    jet3.codePage = 1251;
    const std::uint8_t cyr[] = {0xcf, 0xf0, 0xe8};
    EXPECT_EQ(jet3.decode(cyr, sizeof cyr), "\xd0\x9f\xd1\x80\xd0\xb8");
}

TEST(Inflate, ZlibStream) {
    const std::uint8_t z[] = {0x78, 0x9c, 0xcb, 0x48, 0xcd, 0xc9, 0xc9, 0x57, 0xc8, 0x40, 0x27, 0x75, 0x14, 0xb2,
                              0x52, 0x4b, 0x14, 0x31, 0x84, 0x89, 0x96, 0x04, 0x00, 0x6b, 0xfe, 0x1f, 0x21};
    std::vector<std::uint8_t> out;
    std::string err;
    ASSERT_TRUE(jet::zlibInflate(z, sizeof z, out, 1000, &err)) << err;
    std::string expect;
    for (int i = 0; i < 3; ++i) expect += "hello hello hello hello, jet!";
    EXPECT_EQ(std::string(out.begin(), out.end()), expect);
    EXPECT_FALSE(jet::zlibInflate(z, sizeof z, out, 10, &err)); // output limit
    EXPECT_FALSE(jet::zlibInflate(z, 10, out, 1000, &err));     // cut off
}

TEST(Rows, Jet4RowLayout) {
    // Table: id Long (fixed @0), name Text (var 0), flag Boolean; row (7, "abc", true)
    jet::TableDef def;
    jet::ColumnDef id, name, flag;
    id.name = "id";
    id.type = 4;
    id.number = 0;
    id.flags = 0x03;
    id.length = 4;
    name.name = "name";
    name.type = 10;
    name.number = 1;
    name.flags = 0x02;
    name.length = 510;
    flag.name = "flag";
    flag.type = 1;
    flag.number = 2;
    flag.flags = 0x03;
    flag.length = 1;
    def.columns = {id, name, flag};
    def.maxCols = 3;
    def.numVarCols = 1;
    const std::uint8_t row[] = {0x03, 0x00, 0x07, 0x00, 0x00, 0x00, 0xff, 0xfe, 'a', 'b', 'c',
                                0x0b, 0x00, 0x06, 0x00, 0x01, 0x00, 0x07};
    jet::RowView rv;
    rv.parse(row, sizeof row, def, jet::formatInfo(jet::Format::Jet4));
    EXPECT_TRUE(rv.present(def.columns[0]));
    EXPECT_TRUE(rv.present(def.columns[2]));
    jet::Value v;
    jet::TextDecoder td;
    jet::decodeCell(def.columns[0], rv.cell(def.columns[0]), td, v);
    EXPECT_EQ(std::get<std::int32_t>(v), 7);
    jet::decodeCell(def.columns[1], rv.cell(def.columns[1]), td, v);
    EXPECT_EQ(std::get<std::string>(v), "abc");
}

} // namespace
