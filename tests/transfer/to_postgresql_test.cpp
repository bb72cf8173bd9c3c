// Access to PostgreSQL, headless, against the real server and a copy of a real Access file.
#include <gtest/gtest.h>

#include "page.h"
#include "transfer/busy.h"
#include "transfer/handlers.h"
#include "transfer/transfer.h"

namespace {

using env::kNull;
using env::Rows;

class ToPostgres : public ::testing::Test {
protected:
    void SetUp() override {
        REQUIRE_POSTGRES();
        env::ownSchema("qm_to_postgresql");
        file = dir.copy("mdb-reader/V2000/test.mdb", "work.mdb");
        pg = std::make_unique<env::Session>(env::Session::postgres());
        for (const char* t : {"Orders", "orders", "Empty", "Lines", "a\"b", "Marks", "Table1", "Table3"})
            pg->exec("DROP TABLE IF EXISTS " + quote(t));
        pg->exec("DROP SCHEMA IF EXISTS qm_strict CASCADE");
        auto access = env::Session::access(file);
        access.exec("CREATE TABLE `Orders`(`ID` INT, `Amount` CURRENCY, `Note` VARCHAR(50), `Paid` BIT)");
        access.exec("INSERT INTO `Orders` VALUES(1, 12.5, NULL, True)");
        access.exec("INSERT INTO `Orders` VALUES(NULL, 12.5, 'it''s', False)");
        access.exec("INSERT INTO `Orders` VALUES(3, 0, '', False)");
        access.exec("INSERT INTO `Orders` VALUES(4, -1.25, 'VALUESNULL', True)");
        access.exec("CREATE TABLE `Empty`(`x` INT)");
        access.exec("CREATE TABLE `a\"b`(`c\"d` VARCHAR(10))");
        access.exec("INSERT INTO `a\"b` VALUES('q\"uote')");
        access.close();
        page = std::make_unique<Page>(file);
        for (const char* t : {"Orders", "Empty", "a\"b", "Table1", "Table2", "Table3", "Table4"})
            page->access.addItem(t);
    }
    void TearDown() override { transfer::setCopyLimits({}); }

    static std::string quote(const std::string& name) {
        std::string q = "\"";
        for (char c : name) q += c == '"' ? std::string("\"\"") : std::string(1, c);
        return q + "\"";
    }
    Rows rows(const std::string& sql) { return pg->rows(sql); }
    transfer::TransferSummary send() {
        auto context = page->context();
        return transfer::sendTablesToPostgreSQL(context);
    }

    env::TempDir dir;
    std::string file;
    std::unique_ptr<env::Session> pg;
    std::unique_ptr<Page> page;
};

TEST_F(ToPostgres, OrdersArriveWithTheirTypesValuesProgressAndListEntry) {
    page->access.select({"Orders"});
    const auto summary = send();
    EXPECT_TRUE(summary.complete());
    EXPECT_EQ(page->dialogs.reports, std::vector<std::string>{});
    EXPECT_EQ(rows("SELECT column_name::text, data_type::text FROM information_schema.columns "
                   "WHERE table_name = 'Orders' AND table_schema = current_schema() ORDER BY ordinal_position"),
              (Rows{{"ID", "text"}, {"Amount", "numeric"}, {"Note", "text"}, {"Paid", "boolean"}}));
    EXPECT_EQ(rows(R"(SELECT "ID", "Amount"::text, "Note", "Paid"::text FROM "Orders" ORDER BY "Amount", "ID")"),
              (Rows{{"4", "-1.25", "VALUESNULL", "true"},
                    {"3", "0", kNull, "false"}, // the empty text is sent as NULL
                    {"1", "12.5", kNull, "true"},
                    {kNull, "12.5", "it's", "false"}}));
    EXPECT_EQ(page->progress.values, (std::vector<int>{25, 50, 75, 100, 0}));
    EXPECT_EQ(page->progress.text(), "Progress Bar");
    EXPECT_EQ(page->postgres.items(), std::vector<std::string>{"Orders"}); // as the server holds it
    EXPECT_EQ(page->pointer.states.front(), 11);
    EXPECT_EQ(page->pointer.state(), 0);
}

TEST_F(ToPostgres, EdgeCasesOfOneRun) {
    struct Case {
        const char* what;
        std::vector<std::string> selected;
        bool current;
        std::vector<std::string> messages;
        std::vector<std::string> listAfter;
        std::vector<std::string> serverTables;
    };
    const Case cases[] = {
        {"nothing current: one message, nothing opened", {}, false, {"Please select a table"}, {}, {}},
        {"current but nothing selected: nothing happens", {}, true, {}, {}, {}},
        {"an empty table is created and listed", {"Empty"}, true, {}, {"Empty"}, {"Empty"}},
        {"a double quote in the names stays inside them", {"a\"b"}, true, {}, {"a\"b"}, {"Empty", "a\"b"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        for (const auto& t : c.selected) pg->exec("DROP TABLE IF EXISTS " + quote(t));
        page = std::make_unique<Page>(file);
        for (const char* t : {"Orders", "Empty", "a\"b"}) page->access.addItem(t);
        for (const auto& s : c.selected) page->access.select({s});
        if (c.current && c.selected.empty()) page->access.setCurrentIndex(0);
        send();
        EXPECT_EQ(page->dialogs.messages, c.messages);
        EXPECT_EQ(page->dialogs.reports, std::vector<std::string>{});
        EXPECT_EQ(page->postgres.items(), c.listAfter);
        std::vector<std::string> tables;
        for (const auto& r : rows("SELECT tablename::text FROM pg_tables WHERE schemaname = current_schema() AND tablename IN ('Empty', 'a\"b') ORDER BY 1"))
            tables.push_back(r[0]);
        EXPECT_EQ(tables, c.serverTables);
        if (!c.current) {
            EXPECT_TRUE(page->pointer.states.empty());
        }
    }
    EXPECT_EQ(rows(R"(SELECT "c""d" FROM "a""b")"), (Rows{{"q\"uote"}}));
    EXPECT_EQ(rows("SELECT count(*) FROM \"Empty\""), (Rows{{"0"}}));
}

TEST_F(ToPostgres, OverwriteQuestion) {
    struct Case {
        const char* what;
        const char* onServer;    // the table that exists before, with one marker row
        const char* listed;      // how the PostgreSQL list shows it
        int answer;
        int reportLine;          // 0: no report
        std::vector<std::string> listAfter;
        const char* ordersRows;  // rows of "Orders" afterwards
    };
    const Case cases[] = {
        {"Yes drops and re-creates", "Orders", "Orders", ui::AnswerYes, 0, {"Orders"}, "4"},
        {"No leaves table and list", "Orders", "Orders", ui::AnswerNo, 0, {"Orders"}, "1"},
        {"other letter case is asked too; its entry stays, the server had no Orders to drop", "orders", "orders",
         ui::AnswerYes, 142, {"orders", "Orders"}, "4"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        for (const char* t : {"Orders", "orders"}) pg->exec("DROP TABLE IF EXISTS " + quote(t));
        pg->exec("CREATE TABLE " + quote(c.onServer) + "(marker int)");
        pg->exec("INSERT INTO " + quote(c.onServer) + " VALUES (1)");
        page = std::make_unique<Page>(file);
        page->access.addItem("Orders");
        page->access.select({"Orders"});
        page->postgres.addItem(c.listed);
        page->dialogs.answers = {c.answer};
        send();
        EXPECT_EQ(page->dialogs.questions, std::vector<std::string>{"Would you like to overwrite Orders?"});
        EXPECT_EQ(page->dialogs.captions, std::vector<std::string>{"Overwrite?"});
        if (c.reportLine) {
            ASSERT_EQ(page->dialogs.reports.size(), 1u);
            EXPECT_EQ(parseReport(page->dialogs.reports[0]).line, c.reportLine);
        } else {
            EXPECT_EQ(page->dialogs.reports, std::vector<std::string>{});
        }
        EXPECT_EQ(page->postgres.items(), c.listAfter);
        EXPECT_EQ(rows("SELECT count(*) FROM \"Orders\""), (Rows{{c.ordersRows}}));
    }
}

TEST_F(ToPostgres, LastEntryFirstAndAFailedCreateSkipsOnlyItsTable) {
    // "Table3" exists on the server without being listed: its CREATE fails.
    pg->exec("CREATE TABLE \"Table3\"(x int)");
    pg->exec("INSERT INTO \"Table3\" VALUES (42)");
    page->access.select({"Table1", "Table3", "Orders"});
    const auto summary = send();
    ASSERT_EQ(page->dialogs.reports.size(), 1u);
    const Report report = parseReport(page->dialogs.reports[0]);
    EXPECT_EQ(report.line, 198);
    EXPECT_EQ(report.sql, R"(CREATE TABLE "Table3"("a" TEXT,"b" TEXT))");
    EXPECT_EQ(rows("SELECT x FROM \"Table3\""), (Rows{{"42"}}));
    EXPECT_EQ(page->postgres.items(), (std::vector<std::string>{"Orders", "Table1"}));
    EXPECT_EQ(summary.tablesSent, 2);
    EXPECT_EQ(summary.tablesFailed, 1);
    // Table1 (lower in the list) went before Orders: it has the older table oid.
    EXPECT_EQ(rows("SELECT relname::text FROM pg_class WHERE relnamespace = current_schema()::regnamespace "
                   "AND relname IN ('Orders', 'Table1') ORDER BY oid"),
              (Rows{{"Table1"}, {"Orders"}}));
    EXPECT_EQ(rows(R"(SELECT "A", "C", "D", "E", "F", "G", "H"::text, "I"::text FROM "Table1" ORDER BY "A")"),
              (Rows{{"a", "0", "0", "0", "0", "1981-12-12", "0", "false"},
                    {"abcdefg", "2", "222", "333333333", "444.555", "1974-09-21", "3.5", "true"}}));
}

TEST_F(ToPostgres, RefusedRowsAreReportedOnceCountedAndTheRestLand) {
    // A server whose TEXT refuses the value 'bad': refused COPY batches go again row by row.
    pg->exec("CREATE SCHEMA qm_strict");
    pg->exec("CREATE DOMAIN qm_strict.text AS pg_catalog.text CHECK (VALUE <> 'bad')");
    auto access = env::Session::access(file);
    access.exec("CREATE TABLE `Lines`(`n` INT, `v` VARCHAR(10))");
    const char* values[] = {"ok", "ok", "bad", "ok", "bad", "ok", "ok"};
    for (int i = 0; i < 7; ++i)
        access.exec("INSERT INTO `Lines` VALUES(" + std::to_string(i) + ", '" + values[i] + "')");
    access.close();
    transfer::setCopyLimits({.batchRows = 2, .chunkBytes = 16});
    ::setenv("PGOPTIONS", "-c search_path=qm_strict,pg_catalog,qm_to_postgresql", 1);
    page->access.addItem("Lines");
    page->access.select({"Lines"});
    const auto summary = send();
    ::setenv("PGOPTIONS", "-c search_path=qm_to_postgresql", 1);
    ASSERT_EQ(page->dialogs.reports.size(), 1u);
    const Report report = parseReport(page->dialogs.reports[0]);
    EXPECT_EQ(report.line, 276);
    EXPECT_EQ(report.sql, R"(INSERT INTO "Lines" VALUES('2', 'bad'))");
    EXPECT_NE(report.description.find("text_check"), std::string::npos) << report.description;
    EXPECT_EQ(page->dialogs.messages, std::vector<std::string>{"2 of 7 rows of the table Lines could not be sent."});
    EXPECT_EQ(summary.rowsSent, 5);
    EXPECT_EQ(summary.rowsFailed, 2);
    EXPECT_EQ(rows("SELECT string_agg(n, ',' ORDER BY n) FROM qm_strict.\"Lines\""), (Rows{{"0,1,3,5,6"}}));
    pg->exec("DROP SCHEMA qm_strict CASCADE");
}

TEST_F(ToPostgres, ASessionThatDoesNotOpenIsReportedOnce) {
    page->fields.port = "1"; // nothing listens there
    page->access.select({"Orders", "Table1", "Table3"});
    const auto summary = send();
    ASSERT_EQ(page->dialogs.reports.size(), 1u);
    EXPECT_EQ(parseReport(page->dialogs.reports[0]).line, 116);
    EXPECT_EQ(parseReport(page->dialogs.reports[0]).sql, "");
    EXPECT_FALSE(summary.sessionsOpened);
    EXPECT_EQ(page->pointer.state(), 0);
    EXPECT_TRUE(page->postgres.items().empty());
}

TEST_F(ToPostgres, NoSecondOperationWhileOneRuns) {
    page->access.select({"Orders"});
    page->postgres.addItem("Marks");
    page->postgres.select({"Marks"});
    pg->exec("CREATE TABLE \"Marks\"(x int)");
    int attempts = 0;
    page->dialogs.onEvents = [&] {
        EXPECT_TRUE(transfer::operationRunning());
        auto context = page->context();
        tables::DeletePostgreSQLTables(context);
        transfer::SendTablesToPostgreSQL(context);
        ++attempts;
    };
    send();
    EXPECT_GT(attempts, 0);
    EXPECT_FALSE(transfer::operationRunning());
    EXPECT_EQ(rows("SELECT count(*) FROM pg_tables WHERE schemaname = current_schema() AND tablename = 'Marks'"), (Rows{{"1"}}));
    EXPECT_EQ(page->postgres.items(), (std::vector<std::string>{"Marks", "Orders"}));
    EXPECT_EQ(page->dialogs.reports, std::vector<std::string>{});
}

} // namespace
