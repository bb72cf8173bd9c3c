// The Access SQL parser: the statements the program sends, their general forms, and syntax errors that name
// the position.
#include "jet/error.h"
#include "jet/sql.h"

#include <gtest/gtest.h>

#include <random>

namespace {

using namespace jet::sql;

TEST(WriteSql, StatementsTheTransferSends)
{
    {
        const auto st = parse("DROP TABLE `x y`;");
        ASSERT_TRUE(std::holds_alternative<DropTable>(st));
        EXPECT_EQ(std::get<DropTable>(st).table, "x y");
    }
    {
        const auto st = parse("CREATE TABLE `T`(`a` VARCHAR,`b` DECIMAL,`c` INT,`d` OLEOBJECT,`e` DATETIME,`f` FLOAT);");
        ASSERT_TRUE(std::holds_alternative<CreateTable>(st));
        const auto& ct = std::get<CreateTable>(st);
        EXPECT_EQ(ct.table, "T");
        ASSERT_EQ(ct.columns.size(), 6u);
        EXPECT_EQ(ct.columns[0].type, ColumnType::Text);
        EXPECT_EQ(ct.columns[0].size, 255);
        EXPECT_EQ(ct.columns[1].type, ColumnType::Decimal);
        EXPECT_EQ(ct.columns[1].precision, 18);
        EXPECT_EQ(ct.columns[1].scale, 0);
        EXPECT_EQ(ct.columns[2].type, ColumnType::Long);
        EXPECT_EQ(ct.columns[3].type, ColumnType::Ole);
        EXPECT_EQ(ct.columns[4].type, ColumnType::DateTime);
        EXPECT_EQ(ct.columns[5].type, ColumnType::Double);
    }
    {
        const auto st = parse("INSERT INTO `T` VALUES('7', 'O''Brien', NULL, '')");
        ASSERT_TRUE(std::holds_alternative<Insert>(st));
        const auto& ins = std::get<Insert>(st);
        ASSERT_EQ(ins.values.size(), 4u);
        EXPECT_EQ(ins.values[0].kind, Literal::Kind::Text);
        EXPECT_EQ(ins.values[0].text, "7");
        EXPECT_EQ(ins.values[1].text, "O'Brien");
        EXPECT_EQ(ins.values[2].kind, Literal::Kind::Null);
        EXPECT_EQ(ins.values[3].kind, Literal::Kind::Text);
        EXPECT_EQ(ins.values[3].text, "");
        EXPECT_EQ(ins.values[1].position, 29u);  // 1-based, at the opening quote
    }
    {
        const auto st = parse("SELECT a1.* INTO [new name] FROM `old` AS a1");
        ASSERT_TRUE(std::holds_alternative<SelectInto>(st));
        EXPECT_EQ(std::get<SelectInto>(st).target, "new name");
        EXPECT_EQ(std::get<SelectInto>(st).source, "old");
    }
    {
        const auto st = parse("select * from [Orders];");
        ASSERT_TRUE(std::holds_alternative<SelectAll>(st));
        EXPECT_EQ(std::get<SelectAll>(st).table, "Orders");
    }
}

struct TypeCase {
    const char* text;
    ColumnType type;
    int size, precision, scale;
    bool notNull, autoNumber;
};

TEST(WriteSql, EveryTypeWord)
{
    const TypeCase cases[] = {
        {"TEXT", ColumnType::Text, 255, 0, 0, false, false},
        {"TEXT(10)", ColumnType::Text, 10, 0, 0, false, false},
        {"varchar(1) NOT NULL", ColumnType::Text, 1, 0, 0, true, false},
        {"CHAR(255) NULL", ColumnType::Text, 255, 0, 0, false, false},
        {"MEMO", ColumnType::Memo, 0, 0, 0, false, false},
        {"LONGTEXT", ColumnType::Memo, 0, 0, 0, false, false},
        {"BYTE", ColumnType::Byte, 0, 0, 0, false, false},
        {"SMALLINT", ColumnType::Integer, 0, 0, 0, false, false},
        {"SHORT", ColumnType::Integer, 0, 0, 0, false, false},
        {"INT", ColumnType::Long, 0, 0, 0, false, false},
        {"INTEGER", ColumnType::Long, 0, 0, 0, false, false},
        {"LONG", ColumnType::Long, 0, 0, 0, false, false},
        {"BIGINT", ColumnType::BigInt, 0, 0, 0, false, false},
        {"REAL", ColumnType::Single, 0, 0, 0, false, false},
        {"SINGLE", ColumnType::Single, 0, 0, 0, false, false},
        {"FLOAT", ColumnType::Double, 0, 0, 0, false, false},
        {"DOUBLE", ColumnType::Double, 0, 0, 0, false, false},
        {"DECIMAL", ColumnType::Decimal, 0, 18, 0, false, false},
        {"NUMERIC(28)", ColumnType::Decimal, 0, 28, 0, false, false},
        {"DECIMAL(10, 4)", ColumnType::Decimal, 0, 10, 4, false, false},
        {"CURRENCY", ColumnType::Currency, 0, 0, 0, false, false},
        {"MONEY", ColumnType::Currency, 0, 0, 0, false, false},
        {"DATETIME", ColumnType::DateTime, 0, 0, 0, false, false},
        {"DATE", ColumnType::DateTime, 0, 0, 0, false, false},
        {"BIT", ColumnType::Boolean, 0, 0, 0, false, false},
        {"YESNO", ColumnType::Boolean, 0, 0, 0, false, false},
        {"LOGICAL", ColumnType::Boolean, 0, 0, 0, false, false},
        {"OLEOBJECT", ColumnType::Ole, 0, 0, 0, false, false},
        {"LONGBINARY", ColumnType::Ole, 0, 0, 0, false, false},
        {"BINARY(16)", ColumnType::Binary, 16, 0, 0, false, false},
        {"GUID", ColumnType::Guid, 0, 0, 0, false, false},
        {"COUNTER", ColumnType::Long, 0, 0, 0, false, true},
        {"AUTOINCREMENT", ColumnType::Long, 0, 0, 0, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const auto st = parse(std::string("CREATE TABLE t (c ") + c.text + ")");
        const auto& col = std::get<CreateTable>(st).columns.at(0);
        EXPECT_EQ(col.type, c.type);
        if (c.type == ColumnType::Text || c.type == ColumnType::Binary) {
            EXPECT_EQ(col.size, c.size);
        }
        if (c.type == ColumnType::Decimal) {
            EXPECT_EQ(col.precision, c.precision);
            EXPECT_EQ(col.scale, c.scale);
        }
        EXPECT_EQ(col.notNull, c.notNull);
        EXPECT_EQ(col.autoNumber, c.autoNumber);
    }
}

TEST(WriteSql, LiteralsOfEveryKind)
{
    const auto st = parse("INSERT INTO t (a, [b c], `d`) VALUES (-12.5e3, 0x0A0b, +7);");
    const auto& ins = std::get<Insert>(st);
    EXPECT_EQ(ins.columns, (std::vector<std::string>{"a", "b c", "d"}));
    EXPECT_EQ(ins.values[0].kind, Literal::Kind::Number);
    EXPECT_EQ(ins.values[0].text, "-12.5e3");
    EXPECT_EQ(ins.values[1].kind, Literal::Kind::Binary);
    EXPECT_EQ(ins.values[1].bytes, (std::vector<std::uint8_t>{0x0A, 0x0B}));
    EXPECT_EQ(ins.values[2].text, "+7");
}

struct BadCase {
    const char* sql;
    int number;
    const char* position;  // text the message must contain
};

TEST(WriteSql, SyntaxErrorsNameThePosition)
{
    const BadCase cases[] = {
        {"CREATE TABLE `T`);", 3290, "position 17"},            // the transfer's statement for no columns
        {"CREATE TABLE `T`(`a` VARCHAR,);", 3290, "position 30"},
        {"CREATE TABLE T (a NOSUCHTYPE)", 3290, "position 19"},
        {"CREATE TABLE T (a TEXT(0))", 3290, "position 24"},
        {"CREATE TABLE T (a TEXT(256))", 3290, "size must be 1 to 255"},
        {"CREATE TABLE T (a DECIMAL(29))", 3290, "precision"},
        {"CREATE TABLE T (a DECIMAL(5,6))", 3290, "scale"},
        {"INSERT INTO `T` VALUES('7'", 3134, "end of the statement"},
        {"INSERT INTO `T` VALUES('7)", 3129, "unterminated text"},
        {"INSERT INTO T VALUES(0x123)", 3129, "odd number"},
        {"INSERT INTO T VALUES(abc)", 3134, "position 22"},
        {"INSERT INTO T VALUES(1) extra", 3134, "position 25"},
        {"DROP TABLE", 3295, "end of the statement"},
        {"DROP TABLE a b", 3295, "position 14"},
        {"DROP TABLE `unterminated", 3129, "unterminated `name`"},
        {"SELECT a1.* INTO n FROM o AS a2", 3141, "alias 'a2'"},
        {"UPDATE t SET a = 1", 3129, "position 1"},
        {"", 3129, "end of the statement"},
        {"CREATE TABLE T (a TEXT) ; ;", 3290, "position 27"},
        {"INSERT INTO T VALUES(1) # comment", 3129, "unexpected character '#'"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sql);
        try {
            parse(c.sql);
            ADD_FAILURE() << "accepted";
        } catch (const jet::Error& e) {
            EXPECT_EQ(e.number(), c.number) << e.what();
            EXPECT_NE(std::string(e.what()).find(c.position), std::string::npos) << e.what();
        }
    }
}

TEST(WriteSql, KeysIndexesAndTheirSyntaxErrors)
{
    {
        const auto ct = std::get<CreateTable>(parse(
            "CREATE TABLE t (a COUNTER PRIMARY KEY, b TEXT(20) NOT NULL UNIQUE, c LONG CONSTRAINT cu UNIQUE NOT NULL,"
            " CONSTRAINT pk2 PRIMARY KEY (a, [b]), UNIQUE (c, b), CONSTRAINT `u 3` UNIQUE (b))"));
        ASSERT_EQ(ct.columns.size(), 3u);
        EXPECT_TRUE(ct.columns[1].notNull);
        EXPECT_TRUE(ct.columns[2].notNull);
        ASSERT_EQ(ct.constraints.size(), 6u);
        const auto& k = ct.constraints;
        EXPECT_TRUE(k[0].primary && k[0].columnLevel && k[0].name.empty() && k[0].columns[0].name == "a");
        EXPECT_TRUE(!k[1].primary && k[1].columnLevel && k[1].columns[0].name == "b");
        EXPECT_EQ(k[2].name, "cu");
        EXPECT_TRUE(k[3].primary && !k[3].columnLevel && k[3].name == "pk2");
        ASSERT_EQ(k[3].columns.size(), 2u);
        EXPECT_EQ(k[3].columns[1].name, "b");
        EXPECT_TRUE(!k[4].primary && k[4].name.empty() && k[4].columns.size() == 2u);
        EXPECT_EQ(k[5].name, "u 3");
    }
    {
        // DEFAULT gives the Access expression of the DefaultValue property.
        const auto ct = std::get<CreateTable>(parse("CREATE TABLE t (a INT DEFAULT -1.5e3 NOT NULL, b TEXT DEFAULT "
                                                    "'say \"hi\"', c BIT DEFAULT false, d DATETIME DEFAULT date ( ))"));
        EXPECT_EQ(ct.columns[0].defaultValue, "-1.5e3");
        EXPECT_TRUE(ct.columns[0].notNull);
        EXPECT_EQ(ct.columns[1].defaultValue, "\"say \"\"hi\"\"\"");
        EXPECT_EQ(ct.columns[2].defaultValue, "No");
        EXPECT_EQ(ct.columns[3].defaultValue, "Date()");
        EXPECT_THROW(parse("CREATE TABLE t (a INT DEFAULT)"), jet::Error);
        EXPECT_THROW(parse("CREATE TABLE t (a INT DEFAULT x + 1)"), jet::Error);
    }
    {
        const auto ci = std::get<CreateIndex>(parse("create unique index [ix a] on T (a DESC, b asc, c) with disallow null;"));
        EXPECT_TRUE(ci.unique && ci.disallowNull && !ci.primary && !ci.ignoreNull);
        EXPECT_EQ(ci.name, "ix a");
        EXPECT_EQ(ci.table, "T");
        ASSERT_EQ(ci.columns.size(), 3u);
        EXPECT_FALSE(ci.columns[0].ascending);
        EXPECT_TRUE(ci.columns[1].ascending && ci.columns[2].ascending);
        EXPECT_TRUE(std::get<CreateIndex>(parse("CREATE INDEX p ON t (a) WITH PRIMARY")).primary);
        EXPECT_TRUE(std::get<CreateIndex>(parse("CREATE INDEX p ON t (a) WITH IGNORE NULL")).ignoreNull);
        const auto di = std::get<DropIndex>(parse("DROP INDEX `ix a` ON [T];"));
        EXPECT_EQ(di.name, "ix a");
        EXPECT_EQ(di.table, "T");
    }
    const char* bad[] = {"CREATE INDEX ON t (a)", "CREATE INDEX i t (a)", "CREATE INDEX i ON t ()",
                         "CREATE INDEX i ON t (a) WITH", "CREATE INDEX i ON t (a) WITH NULL",
                         "CREATE UNIQUE TABLE t (a LONG)", "DROP INDEX i", "DROP INDEX i ON",
                         "CREATE TABLE t (a LONG, PRIMARY (a))", "CREATE TABLE t (a LONG, CONSTRAINT PRIMARY KEY (a))",
                         "CREATE TABLE t (a LONG PRIMARY)", "CREATE TABLE t (a LONG, UNIQUE (a DESC))"};
    for (const char* s : bad) {
        try {
            parse(s);
            ADD_FAILURE() << "accepted: " << s;
        } catch (const jet::Error& e) {
            EXPECT_GE(e.number(), 3000) << s;
        }
    }
}

TEST(WriteSql, ScriptsSplitOutsideQuotes)
{
    const auto parts = splitScript("CREATE TABLE [a;b] (x TEXT);\nINSERT INTO `a;b` VALUES('x;y'';z');  ;\n  \nDROP TABLE x");
    ASSERT_EQ(parts.size(), 3u);
    EXPECT_EQ(parts[0], "CREATE TABLE [a;b] (x TEXT)");
    EXPECT_EQ(parts[1], "\nINSERT INTO `a;b` VALUES('x;y'';z')");
    EXPECT_EQ(std::get<Insert>(parse(parts[1])).values[0].text, "x;y';z");
    EXPECT_EQ(parts[2], "\n  \nDROP TABLE x");
}

// Damaged statements (bytes changed, dropped, repeated) fail with jet::Error and nothing else.
TEST(WriteSql, DamagedStatementsNeverCrash)
{
    const std::string seeds[] = {
        "CREATE TABLE `T`(`a` VARCHAR,`b` DECIMAL(10,2),`c` TEXT(20) NOT NULL);",
        "INSERT INTO [T] (a, b) VALUES('x''y', -1.5e3, 0x0a0B, NULL);",
        "SELECT a1.* INTO `n` FROM `o` AS a1",
        "DROP TABLE [x];",
        "CREATE UNIQUE INDEX [i] ON t (a DESC, b) WITH IGNORE NULL;",
        "CREATE TABLE t (a LONG CONSTRAINT p PRIMARY KEY, b TEXT UNIQUE, CONSTRAINT u UNIQUE (a, b))",
        "DROP INDEX i ON t",
    };
    const char alphabet[] = "`[]'(),;.*-+0xXeE9 aZ\"\\\n\t\x80\xff";
    std::mt19937 rng(7);
    int accepted = 0, refused = 0;
    for (int round = 0; round < 20000; ++round) {
        std::string s = seeds[rng() % std::size(seeds)];
        const int edits = 1 + static_cast<int>(rng() % 4);
        for (int e = 0; e < edits && !s.empty(); ++e) {
            const std::size_t at = rng() % s.size();
            switch (rng() % 3) {
            case 0: s[at] = alphabet[rng() % (sizeof alphabet - 1)]; break;
            case 1: s.erase(at, 1 + rng() % 3); break;
            default: s.insert(at, s.substr(at, rng() % 6)); break;
            }
        }
        try {
            parse(s);
            ++accepted;
        } catch (const jet::Error& e) {
            ++refused;
            EXPECT_GE(e.number(), 3000) << s;
            const std::string m = e.what();
            EXPECT_TRUE(m.find("position ") != std::string::npos || m.find("end of the statement") != std::string::npos)
                << "the message must say where: " << m;
        }
    }
    EXPECT_GT(refused, 10000);
    EXPECT_GT(accepted, 100);
}

}  // namespace
