// The Access schema plan without a server: the type table for each kind of file, AutoNumbers, what is kept as
// text and named, and the INSERT texts (empty text kept, Null only for Null, quotes doubled).
#include <gtest/gtest.h>

#include "transfer/access_schema_plan.h"

namespace {

using transfer::AccessTarget;
using transfer::PgColumn;

PgColumn column(const std::string& type, int typmod = -1) {
    PgColumn c;
    c.name = type;
    c.type = type;
    c.typmod = typmod;
    return c;
}

int numericTypmod(int p, int s) { return ((p << 16) | s) + 4; }

std::string typeIn(const PgColumn& c, const AccessTarget& target) {
    const auto plan = transfer::planAccessTable("t", {c}, target);
    return plan.columns.at(0).type;
}

constexpr AccessTarget kAccess97{false, false}, kAccess2007{true, false}, kAccess2016{true, true},
    kAccess2019{.decimal = true, .bigInt = true, .dateTimeExtended = true};

TEST(AccessSchemaPlan, TypesByFileFormat) {
    struct Case {
        PgColumn c;
        const char *in97, *in2007, *in2016;
    };
    PgColumn nullableBool = column("bool");
    nullableBool.holdsNull = true;
    PgColumn measured = column("numeric");
    measured.integerDigits = 5;
    measured.scale = 3;
    PgColumn wide = column("numeric");
    wide.integerDigits = 30;
    PgColumn fine = column("timestamp");
    fine.subMillisecond = true;
    const Case cases[] = {
        {column("bool"), "BIT", "BIT", "BIT"},
        {nullableBool, "SMALLINT", "SMALLINT", "SMALLINT"},
        {column("int2"), "SMALLINT", "SMALLINT", "SMALLINT"},
        {column("int4"), "INT", "INT", "INT"},
        {column("int8"), "VARCHAR(20)", "DECIMAL(19,0)", "BIGINT"},
        {column("float4"), "REAL", "REAL", "REAL"},
        {column("float8"), "DOUBLE", "DOUBLE", "DOUBLE"},
        {column("numeric", numericTypmod(10, 2)), "CURRENCY", "DECIMAL(10,2)", "DECIMAL(10,2)"},
        {column("numeric", numericTypmod(28, 6)), "MEMO", "DECIMAL(28,6)", "DECIMAL(28,6)"},
        {measured, "CURRENCY", "DECIMAL(8,3)", "DECIMAL(8,3)"},
        {wide, "MEMO", "MEMO", "MEMO"},
        {column("money"), "CURRENCY", "CURRENCY", "CURRENCY"},
        {column("varchar", 24), "VARCHAR(20)", "VARCHAR(20)", "VARCHAR(20)"},
        {column("varchar", 300), "MEMO", "MEMO", "MEMO"},
        {column("varchar"), "MEMO", "MEMO", "MEMO"},
        {column("bpchar", 9), "VARCHAR(5)", "VARCHAR(5)", "VARCHAR(5)"},
        {column("uuid"), "GUID", "GUID", "GUID"},
        {column("bytea"), "OLEOBJECT", "OLEOBJECT", "OLEOBJECT"},
        {column("date"), "DATETIME", "DATETIME", "DATETIME"},
        {column("timestamptz"), "DATETIME", "DATETIME", "DATETIME"},
        {fine, "MEMO", "MEMO", "MEMO"},
        {column("time"), "DATETIME", "DATETIME", "DATETIME"},
        {column("jsonb"), "MEMO", "MEMO", "MEMO"},
        {column("interval"), "MEMO", "MEMO", "MEMO"},
        {column("_int4"), "MEMO", "MEMO", "MEMO"},
        {column("inet"), "MEMO", "MEMO", "MEMO"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.c.type + " " + std::to_string(c.c.typmod));
        EXPECT_EQ(typeIn(c.c, kAccess97), c.in97);
        EXPECT_EQ(typeIn(c.c, kAccess2007), c.in2007);
        EXPECT_EQ(typeIn(c.c, kAccess2016), c.in2016);
    }
}

// Digits below the millisecond keep every digit in Date/Time Extended where the file has it, read with
// microseconds; a time of day stays on Access's day 0.
TEST(AccessSchemaPlan, FineTimesBecomeDateTimeExtendedInAccess2019Files) {
    PgColumn stamp = column("timestamptz"), time = column("time");
    stamp.name = "s";
    time.name = "t";
    stamp.subMillisecond = time.subMillisecond = true;
    const auto plan = transfer::planAccessTable("x", {stamp, time}, kAccess2019);
    ASSERT_EQ(plan.columns.size(), 2u);
    EXPECT_EQ(plan.columns[0].type, "DATETIME2");
    EXPECT_NE(plan.columns[0].select.find("HH24:MI:SS.US AD"), std::string::npos) << plan.columns[0].select;
    EXPECT_EQ(plan.columns[1].type, "DATETIME2");
    EXPECT_NE(plan.columns[1].select.find("'1899-12-30 ' || to_char("), std::string::npos) << plan.columns[1].select;
    EXPECT_TRUE(plan.asText.empty());
    // Without the fine digits the plain Date/Time stays, in 2019 files too.
    stamp.subMillisecond = false;
    EXPECT_EQ(transfer::planAccessTable("x", {stamp}, kAccess2019).columns[0].type, "DATETIME");
    stamp.subMillisecond = true;
    EXPECT_EQ(transfer::planAccessTable("x", {stamp}, kAccess2016).asText.size(), 1u);
}

TEST(AccessSchemaPlan, WhatTheRowsAreAskedFor) {
    using transfer::Measure;
    PgColumn identityBig = column("int8");
    identityBig.identity = true;
    EXPECT_EQ(transfer::measureFor(column("bool")), Measure::Nulls);
    EXPECT_EQ(transfer::measureFor(column("numeric")), Measure::Digits);
    EXPECT_EQ(transfer::measureFor(column("numeric", numericTypmod(12, 2))), Measure::None);
    EXPECT_EQ(transfer::measureFor(column("numeric", numericTypmod(40, 2))), Measure::Digits);
    EXPECT_EQ(transfer::measureFor(column("timestamp")), Measure::Fractions);
    EXPECT_EQ(transfer::measureFor(column("timestamp", 3)), Measure::None);
    EXPECT_EQ(transfer::measureFor(column("time", 6)), Measure::Fractions);
    EXPECT_EQ(transfer::measureFor(identityBig), Measure::Range);
    EXPECT_EQ(transfer::measureFor(column("int8")), Measure::None);
    EXPECT_EQ(transfer::measureFor(column("text")), Measure::None);
}

TEST(AccessSchemaPlan, OneAutoNumberATableWithinLongInteger) {
    PgColumn first = column("int4"), second = column("int2"), big = column("int8"), huge = column("int8");
    first.name = "a";
    second.name = "b";
    big.name = "c";
    huge.name = "d";
    first.identity = second.identity = big.identity = huge.identity = true;
    big.highest = 2147483647;
    huge.highest = 2147483648LL;
    auto plan = transfer::planAccessTable("t", {first, second}, kAccess2016);
    EXPECT_EQ(plan.columns[0].type, "COUNTER");
    EXPECT_TRUE(plan.columns[0].autoNumber);
    EXPECT_EQ(plan.columns[1].type, "SMALLINT");
    EXPECT_EQ(plan.autoNumbers, 1);
    ASSERT_EQ(plan.leftOut.size(), 1u);
    EXPECT_NE(plan.leftOut[0].find("t.b: a second identity column"), std::string::npos);

    plan = transfer::planAccessTable("t", {huge, big}, kAccess2007);
    EXPECT_EQ(plan.columns[0].type, "DECIMAL(19,0)");
    EXPECT_EQ(plan.columns[1].type, "COUNTER");
    ASSERT_EQ(plan.leftOut.size(), 1u);
    EXPECT_NE(plan.leftOut[0].find("t.d: identity values beyond Long Integer"), std::string::npos);
}

TEST(AccessSchemaPlan, StatementsAndValues) {
    PgColumn when = column("timestamp", 0), note = column("text"), flag = column("bool"), pad = column("bpchar", 8);
    when.name = "when";
    note.name = "note";
    flag.name = "ok";
    pad.name = "code";
    const auto plan = transfer::planAccessTable("Ör ders", {when, note, flag, pad}, kAccess2016);
    EXPECT_EQ(transfer::accessCreateSql(plan), "CREATE TABLE `Ör ders`(`when` DATETIME,`note` MEMO,`ok` BIT,"
                                               "`code` VARCHAR(4))");
    EXPECT_EQ(transfer::accessSelectSql(plan),
              "SELECT CASE WHEN isfinite(\"when\") THEN to_char(\"when\", 'YYYY-MM-DD HH24:MI:SS.MS AD') ELSE "
              "\"when\"::text END, \"note\"::text, CASE \"ok\" WHEN true THEN '-1' WHEN false THEN '0' END, "
              "CASE WHEN \"code\" IS NOT NULL THEN concat(\"code\") END FROM \"Ör ders\"");
    EXPECT_EQ(transfer::accessInsertSql(plan, {"2024-01-31 12:00:00.000 AD", "", std::nullopt, "it's"}),
              "INSERT INTO `Ör ders` VALUES('2024-01-31 12:00:00.000','',NULL,'it''s')");
    // A date before the common era keeps its marker, so that the engine refuses it rather than moving it.
    EXPECT_EQ(transfer::accessValueText(transfer::AccessForm::DateTime, "0044-03-15 00:00:00.000 BC"),
              "0044-03-15 00:00:00.000 BC");
    EXPECT_EQ(transfer::accessValueText(transfer::AccessForm::Text, "x AD"), "x AD");
}

TEST(AccessSchemaPlan, SimpleDefaultsInAccessSyntax) {
    using transfer::accessDefault;
    struct Case {
        const char *sql, *type;
        std::optional<std::string> want;
    };
    const Case cases[] = {
        {"0", "INT", "0"},
        {"'-5'::integer", "INT", "-5"},
        {"'-1.5'::numeric", "DECIMAL(8,2)", "-1.5"},
        {"'abc'::character varying", "VARCHAR(20)", "\"abc\""},
        {"'it''s \"x\"'::text", "MEMO", "\"it's \"\"x\"\"\""},
        {"''::text", "MEMO", "\"\""},
        {"'12'::character varying", "VARCHAR(5)", "\"12\""},
        {"true", "BIT", "Yes"},
        {"false", "BIT", "No"},
        {"true", "SMALLINT", "-1"},
        {"now()", "DATETIME", "Now()"},
        {"CURRENT_TIMESTAMP", "DATETIME", "Now()"},
        {"CURRENT_DATE", "DATETIME", "Date()"},
        {"now()", "MEMO", std::nullopt}, // a date kept as text
        {"(1 + 2)", "INT", std::nullopt},
        {"'2020-01-01'::date", "DATETIME", std::nullopt},
        {"'abc'::text", "INT", std::nullopt},
        {"gen_random_uuid()", "GUID", std::nullopt},
        {"'x'::text || 'y'::text", "MEMO", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(accessDefault(c.sql, c.type), c.want) << c.sql << " " << c.type;
}

TEST(AccessSchemaPlan, RequiredDefaultsAndDescriptionsBecomeProperties) {
    PgColumn id = column("int4"), name = column("varchar", 44), flag = column("bool"), at = column("timestamp", 0);
    id.name = "id";
    id.identity = id.notNull = true;
    id.defaultSql = "nextval('t_id_seq'::regclass)";
    name.name = "name";
    name.notNull = true;
    name.defaultSql = "'n'::character varying";
    name.comment = "Der Name";
    flag.name = "flag";
    flag.notNull = true;
    flag.defaultSql = "true";
    at.name = "at";
    at.defaultSql = "clock_timestamp()";
    const auto plan = transfer::planAccessTable("t", {id, name, flag, at}, kAccess2007, "Die Tabelle");
    ASSERT_EQ(plan.properties.size(), 3u);
    EXPECT_EQ(plan.properties[0].column, ""); // the table's description first
    EXPECT_EQ(plan.properties[0].description, "Die Tabelle");
    EXPECT_EQ(plan.properties[1].column, "name");
    EXPECT_EQ(plan.properties[1].required, true);
    EXPECT_EQ(plan.properties[1].defaultValue, "\"n\"");
    EXPECT_EQ(plan.properties[1].description, "Der Name");
    EXPECT_EQ(plan.properties[2].column, "flag"); // a Yes/No field is never Required in Access
    EXPECT_EQ(plan.properties[2].required, std::nullopt);
    EXPECT_EQ(plan.properties[2].defaultValue, "Yes");
    EXPECT_EQ(plan.required, 1);
    EXPECT_EQ(plan.defaults, 2);
    EXPECT_EQ(plan.descriptions, 2);
    EXPECT_EQ(plan.leftOut, std::vector<std::string>{"t.at: default clock_timestamp() (not a simple value Access can hold)"});
}

} // namespace
