#include <gtest/gtest.h>

#include <string>

#include "db/session.h"
#include "transfer/helpers.h"
#include "transfer/names.h"
#include "transfer/statements.h"
#include "transfer/type_rules.h"

using namespace transfer;

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

// Access to PostgreSQL: every ADO type and what its column becomes.
TEST(PostgresTypeRules, EveryAdoType) {
    const struct {
        int type;
        const char* suffix;
        bool currency;
    } rows[] = {
        {0, " TEXT,", false},   {2, " TEXT,", false},   {3, " TEXT,", false},    {4, " TEXT,", false},
        {5, " TEXT,", false},   {6, " NUMERIC,", true}, {7, " TEXT,", false},    {8, " TEXT,", false},
        {11, " BOOL,", false},  {14, " TEXT,", false},  {16, " TEXT,", false},   {17, " TEXT,", false},
        {20, " TEXT,", false},  {21, " TEXT,", false},  {64, " TEXT,", false},   {72, " TEXT,", false},
        {128, " TEXT,", false}, {129, " TEXT,", false}, {131, " TEXT,", false},  {133, " TEXT,", false},
        {134, " TEXT,", false}, {135, " TEXT,", false}, {139, " TEXT,", false},  {200, " TEXT,", false},
        {201, " TEXT,", false}, {202, " TEXT,", false}, {203, " TEXT,", false},  {204, " TEXT,", false},
        {205, " TEXT,", false}, {999, " TEXT,", false},
    };
    for (const auto& r : rows) {
        const PostgresTypeRule& rule = postgresTypeRule(lowerTypeName(field("c", r.type)));
        EXPECT_EQ(rule.suffix, r.suffix) << r.type;
        EXPECT_EQ(rule.currency, r.currency) << r.type;
    }
}

TEST(PostgresTypeRules, FirstMatchingKeywordDecides) {
    // "adlongvarwchar" holds "varwchar" and "longvar": the first rule (160/162) decides.
    EXPECT_EQ(postgresTypeRule("adlongvarwchar").appendLine, 162);
    EXPECT_EQ(postgresTypeRule("adlongvarchar").appendLine, 166);
    EXPECT_EQ(postgresTypeRule("adunsignedtinyint").appendLine, 170);
    EXPECT_EQ(postgresTypeRule("adcurrency").appendLine, 174);
    EXPECT_EQ(postgresTypeRule("addbtimestamp").appendLine, 186); // no "date" in it
    EXPECT_EQ(postgresTypeRule("addbdate").appendLine, 180);
    EXPECT_EQ(postgresTypeRule("").appendLine, 186);
}

// PostgreSQL to Access, with the source column's declared size, precision and scale.
TEST(AccessTypeRules, EveryAdoTypeAndDeclaration) {
    const struct {
        db::FieldInfo f;
        const char* suffix;
    } rows[] = {
        {field("c", 129, 10), "` VARCHAR,"},              // char(10)
        {field("c", 130, 255), "` VARCHAR,"},             // bpchar(255)
        {field("c", 200, 256), "` MEMO,"},                // longer than 255
        {field("c", 202, 80), "` VARCHAR,"},              // varchar(80)
        {field("c", 202, -1), "` MEMO,"},                 // varchar without a length
        {field("c", 201), "` MEMO,"},                     // long text
        {field("c", 203), "` MEMO,"},                     // text
        {field("c", 14, -1, 10, 2), "` DECIMAL(10,2),"},  // decimal as declared
        {field("c", 131, -1, 28, 28), "` DECIMAL(28,28),"},
        {field("c", 139, -1, 5, 0), "` DECIMAL(5,0),"},
        {field("c", 4), "` REAL,"},
        {field("c", 2), "` INT,"},
        {field("c", 3), "` INT,"},
        {field("c", 16), "` INT,"},
        {field("c", 17), "` INT,"},
        {field("c", 18), "` INT,"},
        {field("c", 19), "` INT,"},
        {field("c", 20), "` INT,"},
        {field("c", 21), "` INT,"},
        {field("c", 128), "` OLEOBJECT,"},
        {field("c", 204), "` OLEOBJECT,"},
        {field("c", 205), "` OLEOBJECT,"},
        {field("c", 7), "` DATETIME,"},
        {field("c", 133), "` DATETIME,"},
        {field("c", 135), "` DATETIME,"},
        {field("c", 5), "` FLOAT,"},
        {field("c", 0), "` VARCHAR,"},
        {field("c", 6), "` VARCHAR,"},
        {field("c", 11), "` VARCHAR,"},
        {field("c", 8), "` VARCHAR,"},
        {field("c", 134), "` VARCHAR,"},
        {field("c", 64), "` VARCHAR,"},
        {field("c", 72), "` VARCHAR,"},
        {field("c", 12), "` VARCHAR,"},
        {field("c", 999), "` VARCHAR,"},
    };
    for (const auto& r : rows) {
        const AccessTypeRule& rule = accessTypeRule(lowerTypeName(r.f));
        EXPECT_EQ(accessColumnSuffix(rule, r.f, nullptr), r.suffix)
            << r.f.type << " size " << r.f.definedSize << " precision " << r.f.precision;
    }
}

// Numeric columns without a usable declaration get the shape their values need.
TEST(AccessTypeRules, DecimalShapeFromValues) {
    const struct {
        int precision, scale;       // as declared (-1: none)
        int integerDigits, needed;  // as measured
        bool measured;              // whether the values had to be asked
        DecimalShape shape;
    } rows[] = {
        {12, 3, 0, 0, false, {12, 3}},
        {-1, -1, 5, 4, true, {28, 4}},
        {-1, -1, 0, 0, true, {28, 0}},     // no values
        {40, 10, 20, 10, true, {28, 8}},   // more than 28: the fraction gives way
        {-1, -1, 30, 2, true, {28, 0}},    // integers longer than Access holds: they fail on insert
        {10, -2, 3, 0, true, {28, 0}},     // a negative scale is no declaration Access has
    };
    for (const auto& r : rows) {
        bool asked = false;
        const DecimalShape shape = accessDecimalShape(field("n", 131, -1, r.precision, r.scale), [&] {
            asked = true;
            return DecimalNeed{r.integerDigits, r.needed};
        });
        EXPECT_EQ(shape, r.shape) << r.precision << "," << r.scale;
        EXPECT_EQ(asked, r.measured);
    }
}

TEST(AccessTypeRules, ValuesThatFitADecimalExactly) {
    const struct {
        const char* text;
        DecimalShape shape;
        bool fits;
    } rows[] = {
        {"12.5", {10, 2}, true},       {"12.505", {10, 2}, false},  {"12.500", {10, 2}, true},
        {"-99999999.99", {10, 2}, true}, {"100000000", {10, 2}, false}, {"0.5", {1, 1}, true},
        {"0", {1, 0}, true},           {"NaN", {28, 0}, false},     {"1e5", {28, 0}, false},
        {"1234567890123456789012345678", {28, 0}, true},
        {"12345678901234567890123456789", {28, 0}, false},
    };
    for (const auto& r : rows) EXPECT_EQ(fitsDecimal(r.text, r.shape), r.fits) << r.text;
}

TEST(Names, QuotingAndRefusal) {
    EXPECT_EQ(quotePostgresName("Orders"), "\"Orders\"");
    EXPECT_EQ(quotePostgresName("a\"b"), "\"a\"\"b\"");
    EXPECT_EQ(quotePostgresName("x\"); DROP TABLE y; --"), "\"x\"\"); DROP TABLE y; --\"");
    const struct {
        std::string name;
        bool ok;
    } rows[] = {
        {"Orders", true},         {"Order Details", true},    {"it's", true},
        {"a\"b", true},           {std::string(64, 'x'), true}, {std::string(65, 'x'), false},
        {"a.b", false},           {"a!b", false},             {"a`b", false},
        {"a[b", false},           {"a]b", false},             {" lead", false},
        {"tab\tname", false},     {"", false},                {"\xc3\xa9t\xc3\xa9", true},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(accessNameProblem(r.name).empty(), r.ok) << r.name;
        if (r.ok)
            EXPECT_EQ(quoteAccessName(r.name), "`" + r.name + "`");
        else
            EXPECT_THROW(quoteAccessName(r.name), db::Error) << r.name;
    }
}

} // namespace
