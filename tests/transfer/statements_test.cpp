#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "db/error.h"
#include "transfer/statements.h"

using namespace transfer;
using Row = std::vector<std::string>;

namespace {

db::FieldInfo field(const std::string& name, int type, int size = -1, int precision = -1, int scale = -1) {
    db::FieldInfo f;
    f.name = name;
    f.type = type;
    f.definedSize = size;
    f.precision = precision;
    f.scale = scale;
    return f;
}

const std::vector<db::FieldInfo> kOrders = {field("ID", db::ado::adInteger), field("Amount", db::ado::adCurrency),
                                            field("Note", db::ado::adVarWChar, 50),
                                            field("Paid", db::ado::adBoolean)};

TEST(PostgresStatements, CreateTable) {
    const PostgresCreate create = buildPostgresCreate("Orders", kOrders);
    EXPECT_EQ(create.sql, R"(CREATE TABLE "Orders"("ID" TEXT,"Amount" NUMERIC,"Note" TEXT,"Paid" BOOL))");
    EXPECT_EQ(create.currencyColumnList, "1,");
    EXPECT_EQ(create.currency, (std::vector<bool>{false, true, false, false}));

    const PostgresCreate two = buildPostgresCreate("t", {field("a", 6), field("b", 3), field("c", 3), field("d", 6)});
    EXPECT_EQ(two.currencyColumnList, "0,3,");
    // Names never change the statement around them.
    EXPECT_EQ(buildPostgresCreate("a\"b", {field("x\"y", 3)}).sql, R"(CREATE TABLE "a""b"("x""y" TEXT))");
}

TEST(PostgresStatements, InsertValues) {
    const std::vector<bool> cur = buildPostgresCreate("Orders", kOrders).currency;
    const struct {
        const char* what;
        std::string table;
        Row values;
        std::vector<bool> currency;
        const char* sql;
    } rows[] = {
        {"values of every kind", "Orders", {"1", "12.5", "", "True"}, cur,
         R"(INSERT INTO "Orders" VALUES('1', 12.5,NULL, 'True'))"},
        {"Null first, apostrophe", "Orders", {"", "12.5", "it's", ""}, cur,
         R"(INSERT INTO "Orders" VALUES(NULL, 12.5, 'it''s',NULL))"},
        {"all Null", "t", {"", "", ""}, {}, R"(INSERT INTO "t" VALUES(NULL,NULL,NULL))"},
        {"VALUESNULL inside a value stays", "t", {"", "VALUESNULL"}, {},
         R"(INSERT INTO "t" VALUES(NULL, 'VALUESNULL'))"},
        {"VALUESNULL as the first value", "t", {"VALUESNULL", ""}, {},
         R"(INSERT INTO "t" VALUES('VALUESNULL',NULL))"},
        {"VALUESNULL inside the table name", "VALUESNULL", {"", "x"}, {},
         R"(INSERT INTO "VALUESNULL" VALUES(NULL, 'x'))"},
        {"double quote in the table name", "a\"b", {"1"}, {}, R"(INSERT INTO "a""b" VALUES('1'))"},
        {"currency column after others stays unquoted only there", "t", {"1", "2", "3"},
         {false, true, false}, R"(INSERT INTO "t" VALUES('1', 2, '3'))"},
        {"binary as hex text", "t", {"\\x00ff"}, {}, R"(INSERT INTO "t" VALUES('\x00ff'))"},
    };
    for (const auto& r : rows) EXPECT_EQ(buildPostgresInsert(r.table, r.values, r.currency), r.sql) << r.what;
}

TEST(PostgresStatements, CopyLines) {
    const struct {
        Row values;
        const char* line;
    } rows[] = {
        {{"1", "12.5", "", "True"}, "1\t12.5\t\\N\tTrue\n"},
        {{"a\tb", "c\nd", "e\\f", "g\rh"}, "a\\tb\tc\\nd\te\\\\f\tg\\rh\n"},
        {{"it's", "\\x00ff"}, "it's\t\\\\x00ff\n"},
        {{"", ""}, "\\N\t\\N\n"},
        {{"\\N"}, "\\\\N\n"}, // the text \N is not Null
        {{"\t\\\n", "x\r"}, "\\t\\\\\\n\tx\\r\n"}, // escapes back to back, first and last
    };
    for (const auto& r : rows) {
        std::string out;
        appendCopyRow(out, r.values);
        EXPECT_EQ(out, r.line);
    }
    EXPECT_EQ(buildPostgresCopy("a\"b"), R"(COPY "a""b" FROM STDIN)");
}

TEST(AccessStatements, CreateTable) {
    const AccessCreate create = buildAccessCreate(
        "orders",
        {field("id", db::ado::adInteger), field("amount", db::ado::adNumeric, -1, 10, 2),
         field("note", db::ado::adLongVarWChar), field("code", db::ado::adVarWChar, 20),
         field("blob", db::ado::adLongVarBinary), field("ratio", db::ado::adSingle),
         field("total", db::ado::adNumeric)},
        [](int column) {
            EXPECT_EQ(column, 6);
            return DecimalNeed{7, 3};
        });
    EXPECT_EQ(create.sql, "CREATE TABLE `orders`(`id` INT,`amount` DECIMAL(10,2),`note` MEMO,`code` VARCHAR,"
                          "`blob` OLEOBJECT,`ratio` REAL,`total` DECIMAL(28,3));");
    ASSERT_EQ(create.decimals.size(), 7u);
    EXPECT_EQ(create.decimals[1], (DecimalShape{10, 2}));
    EXPECT_EQ(create.decimals[6], (DecimalShape{28, 3}));
    EXPECT_FALSE(create.decimals[0].has_value());

    // Names Access cannot hold are refused before any statement runs.
    EXPECT_THROW(buildAccessCreate("a.b", {field("x", 3)}, nullptr), db::Error);
    EXPECT_THROW(buildAccessCreate("t", {field("x`y", 3)}, nullptr), db::Error);
    EXPECT_EQ(buildAccessCreate("t", {}, nullptr).sql, "CREATE TABLE `t`);");
}

// Access 97 files have no Decimal type: numbers that CURRENCY holds exactly go
// there, the rest stay DECIMAL for the file to refuse.
TEST(AccessStatements, NumericColumnsOfAccess97Files) {
    const AccessCreate create = buildAccessCreate(
        "t",
        {field("price", db::ado::adNumeric, -1, 10, 2), field("wide", db::ado::adNumeric, -1, 20, 2),
         field("fine", db::ado::adNumeric, -1, 10, 6), field("measured", db::ado::adNumeric),
         field("huge", db::ado::adNumeric)},
        [](int column) { return column == 3 ? DecimalNeed{7, 3} : DecimalNeed{15, 0}; }, false);
    EXPECT_EQ(create.sql, "CREATE TABLE `t`(`price` CURRENCY,`wide` DECIMAL(20,2),`fine` DECIMAL(10,6),"
                          "`measured` CURRENCY,`huge` DECIMAL(28,0));");
    EXPECT_EQ(create.decimals[0], kCurrencyShape);
    EXPECT_EQ(create.decimals[3], kCurrencyShape);
    EXPECT_EQ(create.decimals[1], (DecimalShape{20, 2}));
    // A value CURRENCY cannot hold exactly is caught before it is sent.
    EXPECT_TRUE(fitsDecimal("99999999999999.9999", kCurrencyShape));
    EXPECT_FALSE(fitsDecimal("123456789012345", kCurrencyShape));
    EXPECT_FALSE(fitsDecimal("0.00001", kCurrencyShape));
}

TEST(AccessStatements, InsertValues) {
    const struct {
        Row values;
        const char* sql;
    } rows[] = {
        {{"7", "O'Brien"}, "INSERT INTO `t` VALUES('7', 'O''Brien')"},
        {{"7", ""}, "INSERT INTO `t` VALUES('7', NULL)"},
        {{"", "x"}, "INSERT INTO `t` VALUES(NULL, 'x')"},
        {{"", "", ""}, "INSERT INTO `t` VALUES(NULL, NULL, NULL)"},
        {{"\\x00ff"}, "INSERT INTO `t` VALUES('\\x00ff')"},
    };
    for (const auto& r : rows) EXPECT_EQ(buildAccessInsert("t", r.values), r.sql);
}

} // namespace
