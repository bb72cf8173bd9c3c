// Column types and values: the ADO numbers and variants PostgreSQL columns
// arrive as, first from text alone, then over a real table with every type,
// read both whole (Execute) and through a cursor (record set Open).

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "db/pg_session.h"
#include "pg_test_support.h"

namespace {

using db::Variant;

db::Decimal dec(const char* text) { return db::Decimal::parse(text); }
db::Guid guid(std::initializer_list<int> bytes) {
    db::Guid g;
    int i = 0;
    for (int b : bytes) g.bytes[std::size_t(i++)] = std::uint8_t(b);
    return g;
}
double timeOfDay(int h, int m, double s) { return (h * 3600 + m * 60 + s) / 86400.0; }

// OIDs as the server reports them.
enum : Oid { kBool = 16, kBytea = 17, kInt8 = 20, kInt2 = 21, kInt4 = 23, kText = 25, kFloat4 = 700, kFloat8 = 701,
             kMoney = 790, kDate = 1082, kTime = 1083, kTimestamp = 1114, kTimestamptz = 1184, kNumeric = 1700,
             kUuid = 2950, kJson = 114, kInterval = 1186 };

struct TextCase {
    Oid type;
    std::string text;
    Variant expected;
};

TEST(PgValue, TextFormsBecomeTheMatchingVariant) {
    const std::vector<TextCase> cases = {
        {kInt2, "-32768", std::int16_t(-32768)},
        {kInt4, "2147483647", std::int32_t(2147483647)},
        {kInt8, "-9223372036854775808", std::numeric_limits<std::int64_t>::min()},
        {kFloat4, "1.5", 1.5f},
        {kFloat4, "-Infinity", -std::numeric_limits<float>::infinity()},
        {kFloat8, "0.1", 0.1},
        {kFloat8, "1e+308", 1e308},
        {kFloat8, "Infinity", std::numeric_limits<double>::infinity()},
        {kNumeric, "12345678.90", dec("12345678.90")},
        {kNumeric, "-0.0001", dec("-0.0001")},
        {kNumeric, "1234567890123456789012345678", dec("1234567890123456789012345678")},
        {kNumeric, "12345678901234567890123456789", std::string("12345678901234567890123456789")},
        {kNumeric, "0.12345678901234567890123456789", std::string("0.12345678901234567890123456789")},
        {kNumeric, "NaN", std::string("NaN")},
        {kNumeric, "Infinity", std::string("Infinity")},
        {kMoney, "$1,234.56", db::Currency{12345600}},
        {kMoney, "-$0.01", db::Currency{-100}},
        {kMoney, "$92,233,720,368,547,758.07", std::string("$92,233,720,368,547,758.07")},
        {kBool, "t", true},
        {kBool, "f", false},
        {kText, "héllo\tworld", std::string("héllo\tworld")},
        {kBytea, "\\x00ff10", db::Bytes{0x00, 0xff, 0x10}},
        {kBytea, "\\x", db::Bytes{}},
        {kBytea, "a\\000b", db::Bytes{'a', 0, 'b'}},
        {kDate, "1899-12-30", db::Date{0}},
        {kDate, "2024-02-29", db::Date{db::daysFromCivil(2024, 2, 29)}},
        {kDate, "1800-01-01", db::Date{db::daysFromCivil(1800, 1, 1)}},
        {kDate, "0044-03-15 BC", db::Date{db::daysFromCivil(-43, 3, 15)}},
        {kDate, "infinity", std::string("infinity")},
        {kTime, "13:45:30.5", db::Date{timeOfDay(13, 45, 30.5)}},
        {kTime, "00:00:00", db::Date{0}},
        {kTime, "24:00:00", std::string("24:00:00")},
        {kTimestamp, "2024-02-29 13:45:30.25", db::Date{db::daysFromCivil(2024, 2, 29, 13, 45, 30.25)}},
        {kTimestamp, "1899-12-29 06:00:00", db::Date{db::daysFromCivil(1899, 12, 29, 6)}},
        {kTimestamp, "-infinity", std::string("-infinity")},
        {kTimestamptz, "2024-01-01 05:30:00+05:30", db::Date{db::daysFromCivil(2024, 1, 1, 5, 30)}},
        {kTimestamptz, "2024-01-01 23:59:59.75-08", db::Date{db::daysFromCivil(2024, 1, 1, 23, 59, 59.75)}},
        {kUuid, "a0eebc99-9c0b-4ef8-bb6d-6bb9bd380a11",
         guid({0xa0, 0xee, 0xbc, 0x99, 0x9c, 0x0b, 0x4e, 0xf8, 0xbb, 0x6d, 0x6b, 0xb9, 0xbd, 0x38, 0x0a, 0x11})},
        {kJson, "{\"a\": 1}", std::string("{\"a\": 1}")},
        {kInterval, "1 day 02:00:00", std::string("1 day 02:00:00")},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(db::pgValue(c.type, c.text), c.expected) << "type " << c.type << " text " << c.text;
    }
    EXPECT_TRUE(std::isnan(db::pgValue(kFloat8, "NaN").get<double>()));
}

TEST(PgFieldInfo, TypesAndSizesAsTheOdbcDriverReportsThem) {
    struct Case {
        Oid type;
        int typmod;
        int ado, size, precision, scale;
    };
    const std::vector<Case> cases = {
        {21, -1, 2, -1, -1, -1},       {23, -1, 3, -1, -1, -1},    {20, -1, 20, -1, -1, -1},
        {700, -1, 4, -1, -1, -1},      {701, -1, 5, -1, -1, -1},   {1700, -1, 131, -1, -1, -1},
        {1700, (12 << 16 | 4) + 4, 131, -1, 12, 4},                {1700, (5 << 16 | 2043) + 4, 131, -1, 5, -5},
        {790, -1, 6, -1, -1, -1},      {16, -1, 11, -1, -1, -1},   {25, -1, 203, -1, -1, -1},
        {1043, 24, 202, 20, -1, -1},   {1043, -1, 202, -1, -1, -1}, {1042, 9, 130, 5, -1, -1},
        {19, -1, 202, 63, -1, -1},     {1082, -1, 133, -1, -1, -1}, {1083, -1, 134, -1, -1, -1},
        {1114, -1, 135, -1, -1, -1},   {1184, -1, 135, -1, -1, -1}, {17, -1, 205, -1, -1, -1},
        {2950, -1, 72, -1, -1, -1},    {114, -1, 203, -1, -1, -1},  {1186, -1, 203, -1, -1, -1},
        {3802, -1, 203, -1, -1, -1},   {1007, -1, 203, -1, -1, -1},
    };
    for (const auto& c : cases) {
        const auto f = db::pgFieldInfo("c", c.type, c.typmod);
        EXPECT_EQ(f.type, c.ado) << "oid " << c.type;
        EXPECT_EQ(f.definedSize, c.size) << "oid " << c.type;
        EXPECT_EQ(f.precision, c.precision) << "oid " << c.type;
        EXPECT_EQ(f.scale, c.scale) << "oid " << c.type;
    }
}

TEST(CopyText, EscapesTheCopyDelimiters) {
    std::string line;
    db::appendCopyText(line, "a\tb\nc\\d\re");
    EXPECT_EQ(line, "a\\tb\\nc\\\\d\\re");
}

// One column per type; row 1 holds the value, row 2 Null everywhere.
struct ColumnCase {
    std::string type;    // SQL type
    std::string literal; // SQL literal of row 1
    int ado;
    Variant expected;
    int definedSize = -1, precision = -1, scale = -1;
};

std::vector<ColumnCase> columnCases() {
    return {
        {"smallint", "-32768", 2, std::int16_t(-32768)},
        {"integer", "2147483647", 3, std::int32_t(2147483647)},
        {"bigint", "-9223372036854775808", 20, std::numeric_limits<std::int64_t>::min()},
        {"real", "1.5", 4, 1.5f},
        {"double precision", "0.1", 5, 0.1},
        {"double precision", "'-Infinity'", 5, -std::numeric_limits<double>::infinity()},
        {"numeric(10,2)", "12345678.9", 131, dec("12345678.90"), -1, 10, 2},
        {"numeric", "'1234567890123456789012345678'", 131, dec("1234567890123456789012345678")},
        {"numeric", "'-12345678901234567890.12345678'", 131, dec("-12345678901234567890.12345678")},
        {"numeric", "'123456789012345678901234567890.5'", 131, std::string("123456789012345678901234567890.5")},
        {"numeric(40,35)", "'1.00000000000000000000000000000000001'", 131,
         std::string("1.00000000000000000000000000000000001"), -1, 40, 35},
        {"numeric", "'NaN'", 131, std::string("NaN")},
        {"money", "'-1234.56'", 6, db::Currency{-12345600}},
        {"boolean", "true", 11, true},
        {"text", "'it''s ünïcode ✓'", 203, std::string("it's ünïcode ✓")},
        {"varchar(20)", "'abc'", 202, std::string("abc"), 20},
        {"char(5)", "'ab'", 130, std::string("ab   "), 5},
        {"name", "'pg_name'", 202, std::string("pg_name"), 63},
        {"date", "'2024-02-29'", 133, db::Date{db::daysFromCivil(2024, 2, 29)}},
        {"date", "'1700-03-01'", 133, db::Date{db::daysFromCivil(1700, 3, 1)}},
        {"date", "'infinity'", 133, std::string("infinity")},
        {"time", "'13:45:30.5'", 134, db::Date{timeOfDay(13, 45, 30.5)}},
        {"timestamp", "'2024-02-29 13:45:30.25'", 135, db::Date{db::daysFromCivil(2024, 2, 29, 13, 45, 30.25)}},
        // The session's zone is set to Asia/Kolkata below: midnight UTC is 05:30 there.
        {"timestamptz", "'2024-01-01 00:00:00+00'", 135, db::Date{db::daysFromCivil(2024, 1, 1, 5, 30)}},
        {"bytea", "'\\x00ff10'::bytea", 205, db::Bytes{0x00, 0xff, 0x10}},
        {"uuid", "'A0EEBC99-9C0B-4EF8-BB6D-6BB9BD380A11'", 72,
         guid({0xa0, 0xee, 0xbc, 0x99, 0x9c, 0x0b, 0x4e, 0xf8, 0xbb, 0x6d, 0x6b, 0xb9, 0xbd, 0x38, 0x0a, 0x11})},
        {"interval", "'1 day 2 hours'", 203, std::string("1 day 02:00:00")},
        {"jsonb", "'{\"a\": [1, 2]}'", 203, std::string("{\"a\": [1, 2]}")},
        {"integer[]", "'{1,2,3}'", 203, std::string("{1,2,3}")},
    };
}

class PgColumns : public pgtest::PgFixture {
protected:
    void SetUp() override {
        PgFixture::SetUp();
        if (IsSkipped()) return;
        pgtest::exec(*pg, "SET TimeZone = 'Asia/Kolkata'");
        std::string create = "CREATE TABLE every_type (", values = "INSERT INTO every_type VALUES (", nulls =
                                                                                                         "INSERT INTO every_type VALUES (";
        const auto cases = columnCases();
        for (std::size_t i = 0; i < cases.size(); ++i) {
            const std::string sep = i ? ", " : "";
            create += sep + "c" + std::to_string(i) + " " + cases[i].type;
            values += sep + cases[i].literal;
            nulls += sep + "NULL";
        }
        pgtest::exec(*pg, create + ")");
        pgtest::exec(*pg, values + ")");
        pgtest::exec(*pg, nulls + ")");
    }

    void checkRecordset(db::Recordset& rs, const char* how) {
        const auto cases = columnCases();
        ASSERT_EQ(rs.recordCount(), 2) << how;
        ASSERT_EQ(rs.fieldCount(), int(cases.size())) << how;
        for (std::size_t i = 0; i < cases.size(); ++i) {
            const auto& f = rs.field(int(i));
            const auto& c = cases[i];
            SCOPED_TRACE(std::string(how) + ": " + c.type + " " + c.literal);
            EXPECT_EQ(f.name, "c" + std::to_string(i));
            EXPECT_EQ(f.type, c.ado);
            EXPECT_EQ(f.definedSize, c.definedSize);
            EXPECT_EQ(f.precision, c.precision);
            EXPECT_EQ(f.scale, c.scale);
            EXPECT_EQ(rs.value(int(i)), c.expected) << "got text " << rs.value(int(i)).toText();
        }
        rs.moveNext();
        ASSERT_FALSE(rs.eof()) << how;
        for (std::size_t i = 0; i < cases.size(); ++i)
            EXPECT_TRUE(rs.value(int(i)).isNull()) << how << ": column " << cases[i].type;
        rs.moveNext();
        EXPECT_TRUE(rs.eof()) << how;
    }
};

TEST_F(PgColumns, EveryTypeThroughExecute) {
    auto rs = pg->execute("SELECT * FROM every_type ORDER BY c0 NULLS LAST");
    ASSERT_TRUE(rs);
    checkRecordset(*rs, "execute");
}

TEST_F(PgColumns, EveryTypeThroughACursor) {
    auto rs = pg->openRecordset("SELECT * FROM every_type ORDER BY c0 NULLS LAST;", -1, -1);
    ASSERT_TRUE(rs);
    checkRecordset(*rs, "cursor");
}

TEST_F(PgColumns, ValuesSurviveTheTextFormIntoPostgreSQL) {
    // Each value's text form, cast back to the column's type, is the value
    // the server holds: what the transfers rely on when they write literals.
    auto rs = pg->execute("SELECT * FROM every_type ORDER BY c0 NULLS LAST");
    const auto cases = columnCases();
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const auto& c = cases[i];
        if (c.expected.is<std::string>() || c.type == "timestamptz" || c.type == "money") continue;
        std::string text = rs->value(int(i)).toText();
        std::string quoted;
        for (char ch : text) quoted += ch == '\'' ? std::string("''") : std::string(1, ch);
        const std::string col = "c" + std::to_string(i);
        EXPECT_EQ(pgtest::scalar(*pg, "SELECT count(*) FROM every_type WHERE " + col + " = '" + quoted + "'::" + c.type),
                  "1")
            << c.type << " text form " << text;
    }
}

} // namespace
