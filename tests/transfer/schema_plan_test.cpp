// The schema plan without a server: type table, default expressions, names within 63 bytes,
// the statements' texts, and the values' text forms.
#include <gtest/gtest.h>

#include "transfer/cell_text.h"
#include "transfer/schema_plan.h"

namespace {

using jet::ColumnType;

jet::ColumnSchema column(const std::string& name, ColumnType type, int size = 0) {
    jet::ColumnSchema c;
    c.column.name = name;
    c.column.type = static_cast<std::uint8_t>(type);
    c.column.size = size;
    return c;
}

TEST(SchemaPlanTypes, EveryAccessTypeHasItsServerType) {
    struct Case {
        jet::ColumnSchema c;
        const char* want;
    };
    jet::ColumnSchema decimal = column("d", ColumnType::Numeric);
    decimal.column.precision = 18;
    decimal.column.scale = 4;
    jet::ColumnSchema calculated = decimal;
    calculated.column.calculated = true;
    jet::ColumnSchema multi = column("m", ColumnType::Complex);
    multi.column.complexKind = jet::ComplexKind::MultiValue;
    multi.elementType = static_cast<std::uint8_t>(ColumnType::Text);
    multi.elementSize = 40;
    jet::ColumnSchema attachment = column("a", ColumnType::Complex);
    attachment.column.complexKind = jet::ComplexKind::Attachment;
    const Case cases[] = {
        {column("b", ColumnType::Boolean), "boolean"},
        {column("y", ColumnType::Byte), "smallint"},
        {column("i", ColumnType::Integer), "smallint"},
        {column("l", ColumnType::Long), "integer"},
        {column("n", ColumnType::BigInt), "bigint"},
        {column("s", ColumnType::Single), "real"},
        {column("f", ColumnType::Double), "double precision"},
        {column("c", ColumnType::Currency), "numeric(19,4)"},
        {decimal, "numeric(18,4)"},
        {calculated, "numeric"},
        {column("t", ColumnType::DateTime), "timestamp without time zone"},
        {column("x", ColumnType::DateTimeExt), "timestamp(6) without time zone"},
        {column("v", ColumnType::Text, 50), "varchar(50)"},
        {column("memo", ColumnType::Memo), "text"},
        {column("g", ColumnType::Guid), "uuid"},
        {column("bin", ColumnType::Binary, 16), "bytea"},
        {column("ole", ColumnType::Ole), "bytea"},
        {multi, "varchar(40)[]"},
        {attachment, "jsonb"},
    };
    for (const auto& c : cases) EXPECT_EQ(transfer::postgresType(c.c), c.want) << c.c.column.name;
    EXPECT_EQ(transfer::postgresType(column("x", ColumnType::DateTimeExt), {.extendedNeedsText = true}), "varchar(27)");
}

TEST(SchemaPlanDefaults, OnlyTheSimpleFormsAreCarried) {
    const auto number = column("n", ColumnType::Long), text = column("t", ColumnType::Text, 20),
               yesNo = column("b", ColumnType::Boolean), date = column("d", ColumnType::DateTime);
    EXPECT_EQ(transfer::postgresDefault("0", number), "0");
    EXPECT_EQ(transfer::postgresDefault("=-12.5", number), "-12.5");
    EXPECT_EQ(transfer::postgresDefault("\"it's \"\"x\"\"\"", text), "'it''s \"x\"'");
    EXPECT_EQ(transfer::postgresDefault("7", text), "'7'");
    EXPECT_EQ(transfer::postgresDefault("Yes", yesNo), "true");
    EXPECT_EQ(transfer::postgresDefault("False", yesNo), "false");
    EXPECT_EQ(transfer::postgresDefault("-1", yesNo), "true");
    EXPECT_EQ(transfer::postgresDefault("True", number), "-1");
    EXPECT_EQ(transfer::postgresDefault("Now()", date), "LOCALTIMESTAMP");
    EXPECT_EQ(transfer::postgresDefault("date()", date), "CURRENT_DATE");
    EXPECT_EQ(transfer::postgresDefault("Time()", date), "(DATE '1899-12-30' + LOCALTIME)");
    // Anything else is left out, never guessed.
    for (const char* other : {"[Qty]*[Price]", "\"a\" & \"b\"", "DateAdd(\"d\",1,Date())", "#1/1/2000#", "Now()"})
        EXPECT_FALSE(transfer::postgresDefault(other, text).has_value()) << other;
    EXPECT_FALSE(transfer::postgresDefault("\"abc\"", number).has_value());
}

TEST(SchemaPlanNames, UniqueAndWithin63BytesOnACharacterBoundary) {
    transfer::NameAllocator names;
    names.reserve("Orders_PrimaryKey");
    EXPECT_EQ(names.allocate("Orders_PrimaryKey"), "Orders_PrimaryKey_1");
    EXPECT_EQ(names.allocate("Orders_PrimaryKey"), "Orders_PrimaryKey_2");
    std::string greek;
    for (int i = 0; i < 40; ++i) greek += "Σ"; // 80 bytes
    const std::string first = names.allocate(greek), second = names.allocate(greek);
    EXPECT_EQ(first.size(), 62u); // 31 whole letters
    EXPECT_LE(second.size(), transfer::kMaxNameBytes);
    EXPECT_NE(first, second);
    EXPECT_EQ(second.substr(second.size() - 2), "_1");
    EXPECT_EQ(second.substr(0, 60), greek.substr(0, 60)); // 30 letters, then the number
}

TEST(SchemaPlanStatements, KeysIndexesIdentityAndCommentsFollowTheRows) {
    jet::TableSchema t;
    t.name = "Order \"Lines\"";
    t.description = "One line per product";
    auto id = column("ID", ColumnType::Long);
    id.autoNumber = jet::AutoNumber::Long;
    auto code = column("Code", ColumnType::Text, 10);
    code.required = true;
    code.description = "Shop's code";
    auto total = column("Total", ColumnType::Currency);
    total.defaultValue = "[Qty]*[Price]";
    auto paid = column("Paid", ColumnType::Boolean);
    t.columns = {id, code, total, paid};
    t.indexes = {{"PrimaryKey", {{"ID", true}}, true, true, false, true, false, {}},
                 {"Code", {{"Code", true}, {"Total", false}}, false, true, false, false, false, {}},
                 {"Rel", {{"Code", true}}, false, false, false, false, true, "Products"}};
    transfer::NameAllocator names;
    const auto plan = transfer::planTable(t, names);
    EXPECT_EQ(transfer::createTableSql(plan),
              "CREATE TABLE \"Order \"\"Lines\"\"\"(\"ID\" integer GENERATED BY DEFAULT AS IDENTITY NOT NULL,"
              "\"Code\" varchar(10),\"Total\" numeric(19,4),\"Paid\" boolean DEFAULT false NOT NULL)");
    std::vector<std::string> after;
    for (const auto& s : plan.afterRows) after.push_back(s.sql);
    EXPECT_EQ(after, (std::vector<std::string>{
                         "ALTER TABLE \"Order \"\"Lines\"\"\" ADD CONSTRAINT \"Order \"\"Lines\"\"_PrimaryKey\" PRIMARY KEY (\"ID\")",
                         "CREATE UNIQUE INDEX \"Order \"\"Lines\"\"_Code\" ON \"Order \"\"Lines\"\"\" (\"Code\",\"Total\" DESC)",
                         "ALTER TABLE \"Order \"\"Lines\"\"\" ALTER COLUMN \"Code\" SET NOT NULL",
                         "SELECT setval(pg_get_serial_sequence('\"Order \"\"Lines\"\"\"', 'ID'), "
                         "GREATEST(COALESCE(MAX(\"ID\"), 0) + 1, 1), false) FROM \"Order \"\"Lines\"\"\"",
                         "COMMENT ON TABLE \"Order \"\"Lines\"\"\" IS 'One line per product'",
                         "COMMENT ON COLUMN \"Order \"\"Lines\"\"\".\"Code\" IS 'Shop''s code'",
                     }));
    EXPECT_EQ(plan.leftOut, std::vector<std::string>{"Order \"Lines\".Total: default value [Qty]*[Price] (not a simple value)"});
    EXPECT_EQ(transfer::copySql(plan), "COPY \"Order \"\"Lines\"\"\"(\"ID\",\"Code\",\"Total\",\"Paid\") FROM STDIN");

    jet::RelationshipSchema r;
    r.name = "ProductsLines";
    r.table = "Lines";
    r.columns = {"Code"};
    r.referencedTable = "Products";
    r.referencedColumns = {"Code"};
    r.flags = jet::relation_flag::CascadeUpdates | jet::relation_flag::CascadeSetNull;
    EXPECT_EQ(transfer::foreignKeySql(r, "ProductsLines"),
              "ALTER TABLE \"Lines\" ADD CONSTRAINT \"ProductsLines\" FOREIGN KEY (\"Code\") REFERENCES "
              "\"Products\"(\"Code\") ON UPDATE CASCADE ON DELETE SET NULL");
}

TEST(CellText, ValuesInTheirServerTypesInputForms) {
    using transfer::CellForm;
    EXPECT_EQ(transfer::cellText(jet::Value{}, CellForm::Plain), std::nullopt);
    EXPECT_EQ(transfer::cellText(jet::Value{std::string()}, CellForm::Plain), ""); // empty stays empty
    EXPECT_EQ(transfer::cellText(jet::Value{true}, CellForm::Plain), "true");
    EXPECT_EQ(transfer::cellText(jet::Value{std::uint8_t(255)}, CellForm::Plain), "255");
    EXPECT_EQ(transfer::cellText(jet::Value{0.1f}, CellForm::Plain), "0.1");
    EXPECT_EQ(transfer::cellText(jet::Value{jet::Currency{-2500}}, CellForm::Plain), "-0.25");
    EXPECT_EQ(transfer::cellText(jet::Value{jet::DateTime{-1.25}}, CellForm::Plain), "1899-12-29 06:00:00");
    EXPECT_EQ(transfer::cellText(jet::Value{jet::Bytes{0x00, 0xff}}, CellForm::Binary), "\\x00ff");
    jet::MultiValues mv;
    mv.values = {std::string("a\"b"), std::string("c\\d"), std::monostate{}};
    EXPECT_EQ(transfer::cellText(jet::Value{mv}, CellForm::Array), R"({"a\"b","c\\d",NULL})");
    jet::Attachments files{{"n.txt", "txt", {'h', 'i', '!'}}};
    EXPECT_EQ(transfer::cellText(jet::Value{files}, CellForm::Json), R"([{"name":"n.txt","type":"txt","data":"aGkh"}])");
    EXPECT_THROW(transfer::cellText(jet::Value{jet::DateTime{1e9}}, CellForm::Plain), std::exception);

    std::string copy;
    transfer::appendCopyField(copy, std::string("a\tb\\c\nd"));
    copy += '|';
    transfer::appendCopyField(copy, std::nullopt);
    EXPECT_EQ(copy, "a\\tb\\\\c\\nd|\\N");
    EXPECT_EQ(transfer::insertLiteral(std::string("it's")), "'it''s'");
    EXPECT_EQ(transfer::insertLiteral(std::nullopt), "NULL");
    EXPECT_EQ(transfer::base64({'a'}), "YQ==");
    EXPECT_EQ(transfer::base64({'a', 'b'}), "YWI=");
    EXPECT_EQ(transfer::base64({}), "");
}

} // namespace
