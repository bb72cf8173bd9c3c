// Access to PostgreSQL with "Keep column types, keys and indexes", headless, against the real server:
// the server's catalogue shows every key, index, identity, NOT NULL, default and foreign key of the
// Access files, and the values read back equal the Access values type for type.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <set>

#include "jet/schema.h"
#include "page.h"
#include "transfer/cell_text.h"
#include "transfer/busy.h"
#include "transfer/handlers.h"
#include "transfer/names.h"
#include "transfer/schema_plan.h"
#include "transfer/transfer.h"

namespace {

using env::Rows;

std::string literal(const std::string& s) { return transfer::sqlLiteral(s); }
std::string quoted(const std::string& s) { return transfer::sqlLiteral("\"" + s + "\""); }

// "12.5000" → "12.5", "7.000" → "7", "2020-01-02T03:04:05.120000" → "...05.12"
std::string trimFraction(std::string s) {
    if (s.find('.') == std::string::npos) return s;
    while (!s.empty() && s.back() == '0') s.pop_back();
    if (!s.empty() && s.back() == '.') s.pop_back();
    return s;
}

class FullSchema : public ::testing::Test {
protected:
    void SetUp() override {
        REQUIRE_POSTGRES();
        env::ownSchema("qm_full_schema");
        pg = std::make_unique<env::Session>(env::Session::postgres());
    }
    void clearSchema() {
        pg->exec("DROP SCHEMA qm_full_schema CASCADE");
        pg->exec("CREATE SCHEMA qm_full_schema");
    }
    // Sends every table of the file with the option on; returns the summary message.
    std::string sendAll(const std::string& file, Page& page) {
        auto db = jet::Database::open(file);
        for (const auto& t : db->userTableNames()) page.access.addItem(t);
        for (int i = 0; i < page.access.count(); ++i) page.access.setSelected(i, true);
        page.access.setCurrentIndex(0);
        auto context = page.context();
        context.fullSchema = true;
        transfer::sendTablesToPostgreSQL(context);
        return page.dialogs.messages.empty() ? std::string() : page.dialogs.messages.back();
    }
    std::string one(const std::string& sql) {
        const Rows r = pg->rows(sql);
        return r.empty() || r[0].empty() ? env::kNull : r[0][0];
    }
    std::vector<std::string> indexColumns(const std::string& table, const std::string& where) {
        Rows r = pg->rows("SELECT string_agg(a.attname || CASE WHEN i.indoption[k.o - 1] & 1 = 1 THEN ' DESC' ELSE '' END, ',' "
                          "ORDER BY k.o) FROM pg_index i CROSS JOIN LATERAL unnest(i.indkey) WITH ORDINALITY k(n, o) "
                          "JOIN pg_attribute a ON a.attrelid = i.indrelid AND a.attnum = k.n WHERE i.indrelid = to_regclass(" +
                          quoted(table) + ") AND " + where + " GROUP BY i.indexrelid ORDER BY 1");
        std::vector<std::string> out;
        for (auto& row : r) out.push_back(row[0]);
        return out;
    }

    void checkCatalogue(const jet::Database& db, const jet::TableSchema& t);
    void checkValues(const jet::Database& db, const jet::TableSchema& t);

    std::unique_ptr<env::Session> pg;
    env::TempDir dir;
};

void FullSchema::checkCatalogue(const jet::Database&, const jet::TableSchema& t) {
    SCOPED_TRACE(t.name);
    std::vector<std::string> wantUnique, wantPlain;
    std::string wantPrimary = env::kNull;
    for (const auto& ix : t.indexes) {
        if (ix.foreignKey) continue;
        bool complex = false;
        std::string cols;
        for (const auto& c : ix.columns) {
            for (const auto& col : t.columns)
                if (col.column.name == c.name && col.column.complexKind != jet::ComplexKind::None) complex = true;
            cols += (cols.empty() ? "" : ",") + c.name + (c.ascending || ix.primary ? "" : " DESC");
        }
        if (complex) continue;
        if (ix.primary) wantPrimary = cols;
        else (ix.unique ? wantUnique : wantPlain).push_back(cols);
    }
    std::sort(wantUnique.begin(), wantUnique.end());
    std::sort(wantPlain.begin(), wantPlain.end());
    const auto primary = indexColumns(t.name, "i.indisprimary");
    EXPECT_EQ(primary.empty() ? env::kNull : primary[0], wantPrimary);
    EXPECT_EQ(indexColumns(t.name, "i.indisunique AND NOT i.indisprimary"), wantUnique);
    EXPECT_EQ(indexColumns(t.name, "NOT i.indisunique"), wantPlain);
    for (const auto& c : t.columns) {
        SCOPED_TRACE(c.column.name);
        const Rows a = pg->rows("SELECT attnotnull::text, attidentity::text, pg_get_expr(d.adbin, d.adrelid) "
                                "FROM pg_attribute a LEFT JOIN pg_attrdef d ON d.adrelid = a.attrelid AND d.adnum = a.attnum "
                                "WHERE a.attrelid = to_regclass(" + quoted(t.name) + ") AND a.attname = " +
                                literal(c.column.name));
        ASSERT_EQ(a.size(), 1u);
        const bool yesNo = c.column.type == std::uint8_t(jet::ColumnType::Boolean) && !c.column.calculated;
        const bool inPrimaryKey = wantPrimary != env::kNull && ("," + wantPrimary + ",").find("," + c.column.name + ",") != std::string::npos;
        EXPECT_EQ(a[0][0], c.required || yesNo || inPrimaryKey || c.autoNumber != jet::AutoNumber::None ? "true" : "false");
        EXPECT_EQ(a[0][1], c.autoNumber == jet::AutoNumber::Long ? "d" : "");
        const bool wantDefault = c.autoNumber == jet::AutoNumber::Guid || yesNo ||
                                 (c.defaultValue && c.autoNumber == jet::AutoNumber::None &&
                                  transfer::postgresDefault(*c.defaultValue, c).has_value());
        EXPECT_EQ(a[0][2] != env::kNull, wantDefault) << a[0][2];
    }
    if (!t.description.empty()) {
        EXPECT_EQ(one("SELECT obj_description(to_regclass(" + quoted(t.name) + "), 'pg_class')"), t.description);
    }
}

// Every cell read back from the server as text of its own type, against the Access value.
void FullSchema::checkValues(const jet::Database& db, const jet::TableSchema& t) {
    SCOPED_TRACE(t.name);
    std::string select;
    for (const auto& c : t.columns) {
        const std::string q = transfer::quotePostgresName(c.column.name);
        std::string e;
        switch (static_cast<jet::ColumnType>(c.column.type)) {
        case jet::ColumnType::Guid: e = "'{' || upper(" + q + "::text) || '}'"; break;
        case jet::ColumnType::Binary:
        case jet::ColumnType::Ole: e = "encode(" + q + ", 'hex')"; break;
        default: e = q + "::text";
        }
        if (c.column.complexKind != jet::ComplexKind::None) e = q + "::text";
        select += (select.empty() ? "" : ",") + e;
    }
    Rows server = pg->rows("SELECT " + select + " FROM " + transfer::quotePostgresName(t.name));
    Rows access;
    auto table = db.openTable(t.name);
    while (table->next()) {
        std::vector<std::string> row;
        for (std::size_t i = 0; i < t.columns.size(); ++i) {
            const jet::Value v = table->value(i);
            const auto& c = t.columns[i];
            if (jet::isNull(v)) {
                row.push_back(env::kNull);
            } else if (c.column.complexKind != jet::ComplexKind::None) {
                // What the server made of the text sent, normalised by the server itself.
                const std::string type = transfer::postgresType(c);
                const auto form = type == "jsonb"             ? transfer::CellForm::Json
                                  : type.ends_with("[]") ? transfer::CellForm::Array
                                                              : transfer::CellForm::ComplexKey;
                row.push_back(one("SELECT " + literal(*transfer::cellText(v, form)) + "::" + type + "::text"));
            } else if (std::holds_alternative<bool>(v)) {
                row.push_back(std::get<bool>(v) ? "true" : "false");
            } else if (auto* d = std::get_if<jet::DateTime>(&v)) {
                row.push_back(d->toText());
            } else if (auto* f = std::get_if<float>(&v)) {
                row.push_back(jet::formatFloat(*f));
            } else if (auto* x = std::get_if<double>(&v)) {
                row.push_back(jet::formatDouble(*x));
            } else {
                row.push_back(jet::toText(v));
            }
        }
        access.push_back(std::move(row));
    }
    // The server's text forms brought to the canonical ones.
    for (auto& row : server)
        for (std::size_t i = 0; i < row.size(); ++i) {
            auto& cell = row[i];
            if (cell == env::kNull) continue;
            const auto type = static_cast<jet::ColumnType>(t.columns[i].column.type);
            if (t.columns[i].column.complexKind != jet::ComplexKind::None) continue;
            if (type == jet::ColumnType::Numeric || type == jet::ColumnType::Currency) cell = trimFraction(cell);
            if (type == jet::ColumnType::DateTime || type == jet::ColumnType::DateTimeExt) {
                if (cell.size() > 10 && cell[10] == ' ') cell[10] = 'T';
                cell = trimFraction(cell);
            }
            if (type == jet::ColumnType::Single) cell = jet::formatFloat(std::strtof(cell.c_str(), nullptr));
            if (type == jet::ColumnType::Double) cell = jet::formatDouble(std::strtod(cell.c_str(), nullptr));
        }
    std::sort(server.begin(), server.end());
    std::sort(access.begin(), access.end());
    EXPECT_EQ(server, access);
}

TEST_F(FullSchema, FixturesArriveWithKeysIndexesIdentitiesDefaultsAndValues) {
    const char* files[] = {
        "jackcess/V1997/testV1997.mdb",        "jackcess/V1997/indexTestV1997.mdb",
        "jackcess/V2000/testV2000.mdb",        "jackcess/V2000/indexTestV2000.mdb",
        "jackcess/V2000/testRefGlobalV2000.mdb", "jackcess/V2000/fixedTextTestV2000.mdb",
        "jackcess/V2000/testIndexPropertiesV2000.mdb", "jackcess/V2007/testV2007.accdb",
        "jackcess/V2007/indexTestV2007.accdb", "jackcess/V2007/fixedTextTestV2007.accdb",
        "jackcess/V2007/testIndexPropertiesV2007.accdb", "jackcess/V2007/complexDataTestV2007.accdb",
        "jackcess/V2010/calcFieldTestV2010.accdb", "jackcess/V2019/extDateTestV2019.accdb",
        "jackcess/V1997/compIndexTestV1997.mdb", "mdb-reader/V2016/attachments.accdb",
        "mdb-reader/V2016/bigint.accdb",       "mdb-reader/V2016/currency.accdb",
        "mdb-reader/V2016/longtext.accdb",     "mdb-reader/V2016/withdeletedcol.accdb",
        "mdb-reader/V2016/withinsertedcol.accdb", "mdb-reader/V2007/numeric.accdb",
    };
    for (const char* rel : files) {
        SCOPED_TRACE(rel);
        clearSchema();
        const std::string file = dir.copy(rel);
        Page page(file);
        const std::string summary = sendAll(file, page);
        EXPECT_EQ(page.dialogs.reports, std::vector<std::string>{});
        EXPECT_NE(summary.find("Keep column types, keys and indexes: "), std::string::npos) << summary;
        auto db = jet::Database::open(file);
        for (const auto& name : db->userTableNames()) {
            const auto schema = jet::readTableSchema(*db, name);
            checkCatalogue(*db, schema);
            checkValues(*db, schema);
        }
        // Every relationship with integrity is a foreign key with Access's rules.
        for (const auto& r : jet::readRelationships(*db)) {
            if (!r.enforced()) continue;
            const Rows fk = pg->rows("SELECT confupdtype::text, confdeltype::text FROM pg_constraint WHERE contype = 'f' "
                                     "AND conrelid = to_regclass(" + quoted(r.table) + ") AND confrelid = to_regclass(" +
                                     quoted(r.referencedTable) + ")");
            ASSERT_EQ(fk.size(), 1u) << r.name;
            EXPECT_EQ(fk[0][0], r.cascadeUpdates() ? "c" : "a") << r.name;
            EXPECT_EQ(fk[0][1], r.cascadeDeletes() ? "c" : r.cascadeSetNull() ? "n" : "a") << r.name;
        }
    }
}

TEST_F(FullSchema, IdentityRestartsAboveTheHighestValueAndEmptyTextStaysEmpty) {
    clearSchema();
    const std::string file = dir.copy("mdb-reader/V2000/test.mdb", "identity.mdb");
    {
        auto access = env::Session::access(file);
        access.exec("CREATE TABLE `Numbered`(`ID` COUNTER, `Note` VARCHAR(20))");
        access.exec("INSERT INTO `Numbered`(`ID`, `Note`) VALUES(41, '')");
        access.exec("INSERT INTO `Numbered`(`ID`, `Note`) VALUES(7, NULL)");
        access.close();
    }
    Page page(file);
    page.access.addItem("Numbered");
    page.access.select({"Numbered"});
    auto context = page.context();
    context.fullSchema = true;
    transfer::sendTablesToPostgreSQL(context);
    EXPECT_EQ(page.dialogs.reports, std::vector<std::string>{});
    pg->exec(R"(INSERT INTO "Numbered"("Note") VALUES('next'))");
    EXPECT_EQ(one(R"(SELECT "ID"::text FROM "Numbered" WHERE "Note" = 'next')"), "42");
    EXPECT_EQ(one(R"(SELECT count(*)::text FROM "Numbered" WHERE "Note" = '')"), "1");
    EXPECT_EQ(one(R"(SELECT count(*)::text FROM "Numbered" WHERE "Note" IS NULL)"), "1");
}

TEST_F(FullSchema, AttachmentsKeepNameTypeAndBytes) {
    clearSchema();
    const std::string file = dir.copy("mdb-reader/V2016/attachments.accdb");
    Page page(file);
    sendAll(file, page);
    auto db = jet::Database::open(file);
    const std::string table = db->userTableNames().at(0);
    auto t = db->openTable(table);
    int column = -1;
    for (std::size_t i = 0; i < t->columns().size(); ++i)
        if (t->columns()[i].complexKind == jet::ComplexKind::Attachment) column = int(i);
    ASSERT_GE(column, 0);
    const std::string name = transfer::quotePostgresName(t->columns()[std::size_t(column)].name);
    Rows server = pg->rows("SELECT e->>'name', e->>'type', encode(decode(e->>'data', 'base64'), 'hex') FROM " +
                           transfer::quotePostgresName(table) + ", jsonb_array_elements(" + name + ") e ORDER BY 1, 3");
    Rows access;
    while (t->next()) {
        const jet::Value v = t->value(std::size_t(column));
        if (const auto* files = std::get_if<jet::Attachments>(&v))
            for (const auto& f : *files) access.push_back({f.name, f.type, jet::toHex(f.data)});
    }
    std::sort(access.begin(), access.end());
    ASSERT_FALSE(access.empty());
    EXPECT_EQ(server, access);
}

TEST_F(FullSchema, MultiValuesBecomeArraysAndVersionHistoryKeepsItsOrder) {
    clearSchema();
    const std::string file = dir.copy("jackcess/V2007/complexDataTestV2007.accdb");
    Page page(file);
    sendAll(file, page);
    EXPECT_EQ(page.dialogs.reports, std::vector<std::string>{});
    EXPECT_EQ(one("SELECT format_type(atttypid, atttypmod) FROM pg_attribute WHERE attrelid = '\"Table1\"'::regclass "
                  "AND attname = 'multi-value-data'"),
              "character varying(255)[]");
    const std::string history = "\"VersionHistory_F5F8918F-0A3F-4DA9-AE71-184EE5012880\"";
    // The values as the fixtures' independent reader gives them.
    EXPECT_EQ(pg->rows("SELECT id, array_to_string(\"multi-value-data\", '|'), (SELECT string_agg(e->>'value', '|' "
                       "ORDER BY o) FROM jsonb_array_elements(" + history + ") WITH ORDINALITY x(e, o)) FROM \"Table1\" "
                       "ORDER BY id"),
              (Rows{{"row1", "", env::kNull},
                    {"row2", "value1|value4", "row2-memo"},
                    {"row3", "value1|value2|value3|value4", "row3-memo-again|row3-memo-revised|row3-memo"},
                    {"row4", "", "row4-memo"}}));
    EXPECT_EQ(one("SELECT " + history + "->0->>'modified' FROM \"Table1\" WHERE id = 'row3'"), "2011-09-12T21:22:45.382");
}

TEST_F(FullSchema, OverwritingAReferencedTableKeepsTheOtherTablesForeignKeys) {
    clearSchema();
    const std::string file = dir.copy("jackcess/V2007/indexTestV2007.accdb");
    {
        Page page(file);
        sendAll(file, page);
    }
    ASSERT_EQ(one("SELECT count(*)::text FROM pg_constraint WHERE contype = 'f'"), "2");
    Page page(file);
    page.postgres.addItem("Table2");
    page.access.addItem("Table2");
    page.access.select({"Table2"});
    page.dialogs.answers.push_back(ui::AnswerYes);
    auto context = page.context();
    context.fullSchema = true;
    transfer::sendTablesToPostgreSQL(context);
    EXPECT_EQ(page.dialogs.reports, std::vector<std::string>{});
    EXPECT_EQ(one("SELECT count(*)::text FROM pg_constraint WHERE contype = 'f' AND confrelid = to_regclass('\"Table2\"')"), "1");
    ASSERT_FALSE(page.dialogs.messages.empty());
    EXPECT_NE(page.dialogs.messages.back().find("created again"), std::string::npos) << page.dialogs.messages.back();
}

TEST_F(FullSchema, AClosingWindowStillGetsTheDroppedForeignKeysBack) {
    clearSchema();
    const std::string file = dir.copy("jackcess/V2007/indexTestV2007.accdb");
    {
        Page page(file);
        sendAll(file, page);
    }
    Page page(file);
    page.postgres.addItem("Table2");
    page.access.addItem("Table2");
    page.access.select({"Table2"});
    page.dialogs.answers.push_back(ui::AnswerYes);
    page.dialogs.onEvents = [] { transfer::requestStop(); }; // the window closes at the first chance
    auto context = page.context();
    context.fullSchema = true;
    transfer::sendTablesToPostgreSQL(context);
    EXPECT_EQ(page.dialogs.messages, std::vector<std::string>{}); // no summary for a closing window
    EXPECT_EQ(page.dialogs.reports, std::vector<std::string>{});
    // The new Table2 has no rows yet, so Table1's rows do not match the key: it is back, checked for new rows only.
    EXPECT_EQ(one("SELECT convalidated::text FROM pg_constraint WHERE contype = 'f' AND confrelid = to_regclass('\"Table2\"')"),
              "false");
}

TEST_F(FullSchema, ARelationshipWithoutItsOtherTableIsLeftOutAndNamed) {
    clearSchema();
    const std::string file = dir.copy("jackcess/V2007/indexTestV2007.accdb");
    Page page(file);
    page.access.addItem("Table1");
    page.access.addItem("Table2");
    page.access.select({"Table1"});
    auto context = page.context();
    context.fullSchema = true;
    transfer::sendTablesToPostgreSQL(context);
    EXPECT_EQ(page.dialogs.reports, std::vector<std::string>{});
    ASSERT_EQ(page.dialogs.messages.size(), 1u); // the summary, as one message
    const std::string summary = page.dialogs.messages[0];
    EXPECT_NE(summary.find("relationship Table2Table1: the table Table2 is neither in this run nor on the server"),
              std::string::npos) << summary;
    EXPECT_NE(summary.find("relationship Table3Table1: the table Table3"), std::string::npos) << summary;
    EXPECT_EQ(one("SELECT count(*)::text FROM pg_constraint WHERE contype = 'f'"), "0");

    // Once the other table is on the server, a later run adds the foreign key the first one left out.
    page.dialogs.messages.clear();
    for (int i = 0; i < page.access.count(); ++i) page.access.setSelected(i, false);
    page.access.select({"Table2"});
    transfer::sendTablesToPostgreSQL(context);
    EXPECT_EQ(one("SELECT confdeltype::text FROM pg_constraint WHERE contype = 'f' AND confrelid = to_regclass('\"Table2\"')"), "c");
}

TEST_F(FullSchema, AStatementAfterTheRowsThatFailsIsReportedWithItsTextAndTheRowsStay) {
    clearSchema();
    pg->exec(R"(CREATE TABLE "Table2"("id" integer, "data" text))"); // no key a foreign key could reference
    const std::string file = dir.copy("jackcess/V2007/indexTestV2007.accdb");
    Page page(file);
    page.access.addItem("Table1");
    page.access.select({"Table1"});
    auto context = page.context();
    context.fullSchema = true;
    const auto result = transfer::sendTablesToPostgreSQL(context);
    EXPECT_EQ(result.tablesSent, 1);
    ASSERT_EQ(page.dialogs.reports.size(), 1u);
    const Report report = parseReport(page.dialogs.reports[0]);
    EXPECT_EQ(report.line, 279);
    EXPECT_EQ(report.sql.rfind("ALTER TABLE \"Table1\" ADD CONSTRAINT \"Table2Table1\" FOREIGN KEY (\"otherfk1\") "
                               "REFERENCES \"Table2\"(\"id\") ON DELETE CASCADE", 0), 0u) << report.sql;
    const std::string summary = page.dialogs.messages.back();
    EXPECT_NE(summary.find("Failed (the rows stay):\r\n  " + report.sql), std::string::npos) << summary;
    EXPECT_NE(one("SELECT count(*)::text FROM \"Table1\""), "0");
}

TEST_F(FullSchema, NothingSelectedMeansNoSummary) {
    Page page(dir.copy("mdb-reader/V2000/test.mdb"));
    page.access.addItem("Table1");
    page.access.setCurrentIndex(0);
    auto context = page.context();
    context.fullSchema = true;
    const auto result = transfer::sendTablesToPostgreSQL(context);
    EXPECT_TRUE(result.sessionsOpened);
    EXPECT_EQ(page.dialogs.messages, std::vector<std::string>{});
    EXPECT_EQ(page.dialogs.reports, std::vector<std::string>{});
}

TEST_F(FullSchema, OverlongNamesAreRefusedBeforeAnythingChanges) {
    clearSchema();
    const std::string file = dir.copy("mdb-reader/V2000/test.mdb", "long.mdb");
    const std::string longColumn(64, 'c');
    {
        auto access = env::Session::access(file);
        access.exec("CREATE TABLE `Wide`(`" + longColumn + "` INT)");
        access.exec("CREATE TABLE `Fine`(`x` INT)");
        access.close();
    }
    for (bool full : {false, true}) {
        Page page(file);
        page.access.addItem("Wide");
        page.access.addItem("Fine");
        page.access.select({"Wide", "Fine"});
        auto context = page.context();
        context.fullSchema = full;
        const auto summary = transfer::sendTablesToPostgreSQL(context);
        EXPECT_EQ(summary.tablesFailed, 1);
        ASSERT_FALSE(page.dialogs.messages.empty());
        EXPECT_NE(page.dialogs.messages.front().find(longColumn), std::string::npos);
        EXPECT_EQ(one("SELECT to_regclass('\"Wide\"')::text"), env::kNull);
        EXPECT_EQ(one("SELECT to_regclass('\"Fine\"')::text"), "\"Fine\"");
        pg->exec("DROP TABLE \"Fine\"");
    }
}

} // namespace
