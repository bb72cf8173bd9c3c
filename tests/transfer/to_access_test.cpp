// PostgreSQL to Access, headless, against the real server and a copy of a real Access file.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>
#include <filesystem>

#include "db/access.h"
#include "jet/check.h"
#include "page.h"
#include "transfer/handlers.h"
#include "transfer/helpers.h"
#include "transfer/transfer.h"

namespace {

using env::kNull;
using env::Rows;

class ToAccess : public ::testing::Test {
protected:
    void SetUp() override {
        REQUIRE_POSTGRES();
        env::ownSchema("qm_to_access");
        file = dir.copy("mdb-reader/V2000/test.mdb", "work.mdb");
        pg = std::make_unique<env::Session>(env::Session::postgres());
        for (const char* t : {"orders", "kinds", "wide", "a.b", "nothing", "Table1", "table3"})
            pg->exec("DROP TABLE IF EXISTS \"" + std::string(t) + "\"");
        pg->exec("CREATE TABLE orders(id int, amount numeric(10,2), note text, paid bool)");
        pg->exec("INSERT INTO orders VALUES (1, 12.5, NULL, true), (NULL, 12.5, 'it''s', false), "
                 "(3, 0, '', false), (4, -1.25, 'VALUESNULL', true)");
        page = std::make_unique<Page>(file);
        for (const char* t : {"Table1", "Table2", "Table3", "Table4"}) page->access.addItem(t);
        for (const char* t : {"orders", "kinds", "wide", "a.b", "nothing"}) page->postgres.addItem(t);
    }

    transfer::TransferSummary send() {
        auto context = page->context();
        return transfer::sendTablesToAccess(context);
    }
    env::Session access() { return env::Session::access(file); }

    env::TempDir dir;
    std::string file;
    std::unique_ptr<env::Session> pg;
    std::unique_ptr<Page> page;
};

TEST_F(ToAccess, OrdersArriveWithProgressAndListEntry) {
    page->postgres.select({"orders"});
    const auto summary = send();
    EXPECT_TRUE(summary.complete());
    EXPECT_EQ(page->dialogs.reports, std::vector<std::string>{});
    auto a = access();
    EXPECT_EQ(a.rows("SELECT * FROM `orders`"), (Rows{{"1", "12.5", kNull, "True"},
                                                      {kNull, "12.5", "it's", "False"},
                                                      {"3", "0", kNull, "False"},
                                                      {"4", "-1.25", "VALUESNULL", "True"}}));
    const auto fields = a.fields("SELECT * FROM `orders`");
    ASSERT_EQ(fields.size(), 4u);
    EXPECT_EQ(fields[0].type, db::ado::adInteger);
    EXPECT_EQ(fields[1].type, db::ado::adNumeric);
    EXPECT_EQ(fields[1].precision, 10);
    EXPECT_EQ(fields[1].scale, 2);
    EXPECT_EQ(fields[2].type, db::ado::adLongVarWChar); // text becomes MEMO
    EXPECT_EQ(fields[3].type, db::ado::adVarWChar);     // bool: VARCHAR, as the rules say
    EXPECT_EQ(page->progress.values, (std::vector<int>{25, 50, 75, 100, 0}));
    EXPECT_EQ(page->progress.text(), "Progress Bar");
    EXPECT_EQ(page->access.items(), (std::vector<std::string>{"orders", "Table1", "Table2", "Table3", "Table4"}));
}

TEST_F(ToAccess, EveryValueKeepsItsValue) {
    pg->exec("CREATE TABLE kinds(r real, d double precision, n numeric, big numeric(40,5), b bytea, "
             "v varchar(300), s varchar(20), t timestamp, i bigint)");
    pg->exec("INSERT INTO kinds VALUES (1.5, 0.1, 123456.789, 12345.5, '\\x00ff10'::bytea, repeat('x', 300), "
             "'short', '2024-01-31 12:34:56', 2147483647)");
    pg->exec("INSERT INTO kinds VALUES (NULL, NULL, -0.001, NULL, NULL, NULL, NULL, NULL, NULL)");
    page->postgres.addItem("kinds");
    page->postgres.select({"kinds"});
    send();
    EXPECT_EQ(page->dialogs.reports, std::vector<std::string>{});
    auto a = access();
    const auto f = a.fields("SELECT * FROM `kinds`");
    ASSERT_EQ(f.size(), 9u);
    const struct {
        int type, precision, scale;
    } expected[] = {{db::ado::adSingle, -2, -2},  {db::ado::adDouble, -2, -2},  {db::ado::adNumeric, 28, 3},
                    {db::ado::adNumeric, 28, 1},  {db::ado::adLongVarBinary, -2, -2}, {db::ado::adLongVarWChar, -2, -2},
                    {db::ado::adVarWChar, -2, -2}, {db::ado::adDate, -2, -2},    {db::ado::adInteger, -2, -2}};
    for (std::size_t i = 0; i < f.size(); ++i) {
        SCOPED_TRACE(f[i].name);
        EXPECT_EQ(f[i].type, expected[i].type);
        if (expected[i].precision != -2) {
            EXPECT_EQ(f[i].precision, expected[i].precision);
            EXPECT_EQ(f[i].scale, expected[i].scale);
        }
    }
    const Rows rows = a.rows("SELECT * FROM `kinds`");
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0], (std::vector<std::string>{"1.5", "0.1", "123456.789", "12345.5", "\\x00ff10",
                                                 std::string(300, 'x'), "short", "2024-01-31 12:34:56",
                                                 "2147483647"}));
    EXPECT_EQ(rows[1], (std::vector<std::string>{kNull, kNull, "-0.001", kNull, kNull, kNull, kNull, kNull, kNull}));
}

TEST_F(ToAccess, ValuesAccessCannotHoldFailLoudlyOncePerTable) {
    pg->exec("CREATE TABLE wide(n numeric, note text)");
    pg->exec("INSERT INTO wide VALUES (1, 'a'), (12345678901234567890123456789.5, 'b'), "
             "(2, 'c'), (99999999999999999999999999999999, 'd'), (3, 'e')");
    page->postgres.select({"wide"});
    const auto summary = send();
    ASSERT_EQ(page->dialogs.reports.size(), 1u);
    const Report report = parseReport(page->dialogs.reports[0]);
    EXPECT_EQ(report.line, 230);
    EXPECT_EQ(report.sql, "INSERT INTO `wide` VALUES('12345678901234567890123456789.5', 'b')");
    EXPECT_EQ(page->dialogs.messages, std::vector<std::string>{"2 of 5 rows of the table wide could not be sent."});
    EXPECT_EQ(summary.rowsFailed, 2);
    EXPECT_EQ(access().rows("SELECT * FROM `wide`"), (Rows{{"1", "a"}, {"2", "c"}, {"3", "e"}}));
}

// A row the engine itself refuses is reported with the text of its INSERT, quotes doubled and Nulls written
// out, though rows that go in never have theirs made.
TEST_F(ToAccess, ARowTheEngineRefusesIsReportedWithItsInsert) {
    pg->exec("DROP TABLE IF EXISTS odd");
    pg->exec("CREATE TABLE odd(id int, at timestamp, note text)");
    pg->exec("INSERT INTO odd VALUES (1, '2024-01-31 10:00', 'a'), (NULL, 'infinity', 'it''s'), "
             "(3, '1850-06-01 23:59:59', NULL), (4, '-infinity', 'x')");
    page->postgres.addItem("odd");
    page->postgres.select({"odd"});
    const auto summary = send();
    ASSERT_EQ(page->dialogs.reports.size(), 1u);
    const Report report = parseReport(page->dialogs.reports[0]);
    EXPECT_EQ(report.line, 252);
    EXPECT_EQ(report.sql, "INSERT INTO `odd` VALUES(NULL, 'infinity', 'it''s')");
    EXPECT_NE(report.description.find("infinity"), std::string::npos) << report.description;
    EXPECT_EQ(summary.rowsFailed, 2);
    EXPECT_EQ(page->dialogs.messages, std::vector<std::string>{"2 of 4 rows of the table odd could not be sent."});
    EXPECT_EQ(access().rows("SELECT * FROM `odd`"),
              (Rows{{"1", "2024-01-31 10:00:00", "a"}, {"3", "1850-06-01 23:59:59", kNull}}));
}

// An Access 97 file has no Decimal type: numbers go into CURRENCY where it
// holds them exactly; a value it cannot hold fails loudly, never rounded.
TEST_F(ToAccess, NumbersIntoAnAccess97File) {
    const std::string old = dir.copy("mdb-reader/V1997/test.mdb", "old.mdb");
    pg->exec("CREATE TABLE wide(n numeric(12,4), note text)");
    pg->exec("INSERT INTO wide VALUES (1.5, 'a'), (-12345678.1234, 'b'), (NULL, 'c')");
    Page oldPage(old);
    oldPage.postgres.addItem("wide");
    oldPage.postgres.select({"wide"});
    auto context = oldPage.context();
    EXPECT_TRUE(transfer::sendTablesToAccess(context).complete()) << ::testing::PrintToString(oldPage.dialogs.reports);
    auto a = env::Session::access(old);
    EXPECT_EQ(a.fields("SELECT * FROM `wide`")[0].type, db::ado::adCurrency);
    EXPECT_EQ(a.rows("SELECT * FROM `wide`"), (Rows{{"1.5", "a"}, {"-12345678.1234", "b"}, {kNull, "c"}}));

    // Undeclared precision: measured from the values; one needs five decimals.
    pg->exec("CREATE TABLE kinds(n numeric)");
    pg->exec("INSERT INTO kinds VALUES (2.25), (0.00001)");
    Page again(old);
    again.postgres.addItem("kinds");
    again.postgres.select({"kinds"});
    auto second = again.context();
    EXPECT_FALSE(transfer::sendTablesToAccess(second).complete());
    ASSERT_EQ(again.dialogs.reports.size(), 1u);
    const Report report = parseReport(again.dialogs.reports[0]);
    EXPECT_EQ(report.sql, "CREATE TABLE `kinds`(`n` DECIMAL(28,5));");
    EXPECT_NE(report.description.find("Decimal"), std::string::npos) << report.description;
    EXPECT_EQ(again.access.items(), std::vector<std::string>{}) << "a table that was not created entered the list";
}

// Tables named in other scripts go into files of both sort orders and are found again in other capitals; a
// character the file's order has no key for (here the halves of an emoji in "General - Legacy") is refused
// with the character named.
TEST_F(ToAccess, NamesInOtherScripts) {
    const std::vector<std::string> tables{"Πελάτες", "Клиенты", "顧客"};
    for (const auto& t : tables) pg->exec("DROP TABLE IF EXISTS \"" + t + "\"");
    pg->exec("CREATE TABLE \"Πελάτες\"(\"Όνομα\" text, n int)");
    pg->exec("INSERT INTO \"Πελάτες\" VALUES ('Αθηνά', 1), ('Σωκράτης', 2)");
    pg->exec("CREATE TABLE \"Клиенты\"(\"Имя\" varchar(40))");
    pg->exec("INSERT INTO \"Клиенты\" VALUES ('Йосиф')");
    pg->exec("CREATE TABLE \"顧客\"(\"名前\" varchar(40))");
    pg->exec("INSERT INTO \"顧客\" VALUES ('やまだ')");

    const std::string general = dir.copy("jackcess/templates/empty2016.accdb", "general.accdb");
    Page p(general);
    for (const auto& t : tables) p.postgres.addItem(t);
    p.postgres.select({"Πελάτες", "Клиенты", "顧客"});
    auto context = p.context();
    EXPECT_TRUE(transfer::sendTablesToAccess(context).complete()) << ::testing::PrintToString(p.dialogs.reports);
    auto a = env::Session::access(general);
    EXPECT_EQ(a.rows("SELECT * FROM `ΠΕΛΆΤΕΣ`"), (Rows{{"Αθηνά", "1"}, {"Σωκράτης", "2"}}));
    EXPECT_EQ(a.rows("SELECT * FROM `клиенты`"), (Rows{{"Йосиф"}}));
    EXPECT_EQ(a.rows("SELECT * FROM `顧客`"), (Rows{{"やまだ"}}));
    EXPECT_EQ(a.fields("SELECT * FROM `Πελάτες`")[0].name, "Όνομα");

    // Sending again: the Access entry in other capitals is the same table, so the program asks first.
    Page again(general);
    again.access.addItem("ΠΕΛΆΤΕΣ");
    again.postgres.addItem("Πελάτες");
    again.postgres.select({"Πελάτες"});
    again.dialogs.answers = {ui::AnswerNo};
    auto second = again.context();
    transfer::sendTablesToAccess(second);
    EXPECT_EQ(again.dialogs.questions, std::vector<std::string>{"Would you like to overwrite Πελάτες?"});
    EXPECT_EQ(again.dialogs.reports, std::vector<std::string>{});

    // The Jet 4 work file has the older sort order: it takes the Cyrillic name too, not the emoji.
    pg->exec("DROP TABLE IF EXISTS \"Ракеты 🚀\"");
    pg->exec("CREATE TABLE \"Ракеты 🚀\"(n int)");
    page->postgres.addItem("Клиенты");
    page->postgres.select({"Клиенты"});
    EXPECT_TRUE(send().complete()) << ::testing::PrintToString(page->dialogs.reports);
    EXPECT_EQ(env::Session::access(file).rows("SELECT * FROM `КЛИЕНТЫ`"), (Rows{{"Йосиф"}}));
    page->dialogs.reports.clear();
    page->postgres.addItem("Ракеты 🚀");
    page->postgres.select({"Ракеты 🚀"});
    const std::string before = env::slurp(file);
    EXPECT_FALSE(send().complete());
    ASSERT_EQ(page->dialogs.reports.size(), 1u);
    const Report report = parseReport(page->dialogs.reports[0]);
    EXPECT_NE(report.description.find("U+D83D"), std::string::npos) << report.description;
    EXPECT_NE(report.description.find("General - Legacy"), std::string::npos) << report.description;
    EXPECT_EQ(page->access.items(), (std::vector<std::string>{"Table1", "Table2", "Table3", "Table4", "Клиенты"}));
    EXPECT_EQ(env::slurp(file), before);
    pg->exec("DROP TABLE \"Ракеты 🚀\"");
}

// The Access list and the file agree on which names are one table: both orders compare names by their keys
// (case ignored in every script, hiragana and katakana alike, fullwidth and ordinary letters alike, accents
// kept), so the overwrite question, the list and renames follow what the file itself does.
TEST(AccessNames, ListsAndRenamesCompareNamesAsTheFileDoes) {
    env::TempDir dir;
    for (const char* fixture : {"jackcess/templates/empty2003.mdb", "jackcess/templates/empty2016.accdb"}) {
        SCOPED_TRACE(fixture);
        const std::string file = dir.copy(fixture);
        auto a = env::Session::access(file);
        a.exec("CREATE TABLE `Πελάτες` (n LONG)");
        fakes::List list = fakes::List::unsorted({"ΠΕΛΆΤΕΣ", "テスト", "ＡＢＣ Ltd", "Клиенты"});
        for (const char* same : {"Πελάτες", "てすと", "abc ltd", "КЛИЕНТЫ"})
            EXPECT_TRUE(transfer::ListContainsAccessName(list, same, a.connection())) << same;
        for (const char* other : {"Πελατες", "テスト2", "Клиент"})
            EXPECT_FALSE(transfer::ListContainsAccessName(list, other, a.connection())) << other;
        transfer::RemoveAccessListEntries(list, "πελάτες", a.connection());
        transfer::RemoveAccessListEntries(list, "てすと", a.connection());
        EXPECT_EQ(list.items(), (std::vector<std::string>{"ＡＢＣ Ltd", "Клиенты"}));
        a.close();

        EXPECT_TRUE(db::AccessTableExists(file, "", "ΠΕΛΆΤΕΣ"));
        EXPECT_FALSE(db::AccessTableExists(file, "", "Πελατες"));
        fakes::Dialogs dialogs;
        // Another capitalisation is the same name: nothing to rename, nothing asked.
        EXPECT_FALSE(db::RenameAccessTable("Πελάτες", "ΠΕΛΆΤΕΣ", file, "", dialogs));
        EXPECT_TRUE(dialogs.questions.empty());
        EXPECT_TRUE(db::RenameAccessTable("Πελάτες", "Πελατες", file, "", dialogs));
        EXPECT_TRUE(db::AccessTableExists(file, "", "ΠΕΛΑΤΕΣ"));
        EXPECT_FALSE(db::AccessTableExists(file, "", "Πελάτες"));
    }
}

// Rows are written a batch at a time. When the disk fills while a batch is written, the file is as before
// the batch and its rows are run again one by one: the rows that fit land, the first that does not is
// reported with its statement, the rest are counted, and the file stays sound.
TEST_F(ToAccess, ABatchThatCannotBeWrittenIsRunAgainRowByRow) {
    pg->exec("DROP TABLE IF EXISTS big");
    pg->exec("CREATE TABLE big(id int, note text)");
    pg->exec("INSERT INTO big SELECT i, repeat('x', 300) || i FROM generate_series(1, 3000) AS i");
    const std::string target = dir.copy("jackcess/templates/empty2003.mdb", "batch.mdb");
    Page p(target);
    p.postgres.addItem("big");
    p.postgres.select({"big"});
    // A file size limit stands in for a full disk: writes past it fail (EFBIG) instead of growing the file.
    struct FileSizeLimit {
        rlimit old{};
        explicit FileSizeLimit(rlim_t bytes) {
            std::signal(SIGXFSZ, SIG_IGN);
            getrlimit(RLIMIT_FSIZE, &old);
            rlimit now = old;
            now.rlim_cur = bytes;
            setrlimit(RLIMIT_FSIZE, &now);
        }
        ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &old); }
    };
    transfer::TransferSummary summary;
    {
        FileSizeLimit limit(std::filesystem::file_size(target) + 600 * 1024);
        auto context = p.context();
        summary = transfer::sendTablesToAccess(context);
    }
    EXPECT_GT(summary.rowsSent, 500);
    EXPECT_NE(summary.rowsSent % 1000, 0) << "no row of the failed batch landed when run again";
    EXPECT_GT(summary.rowsFailed, 0);
    EXPECT_EQ(summary.rowsSent + summary.rowsFailed, 3000);
    ASSERT_EQ(p.dialogs.reports.size(), 1u);
    const Report report = parseReport(p.dialogs.reports[0]);
    EXPECT_EQ(report.line, 252);
    EXPECT_EQ(report.sql.rfind("INSERT INTO `big` VALUES(", 0), 0u) << report.sql;
    EXPECT_EQ(p.dialogs.messages,
              std::vector<std::string>{std::to_string(summary.rowsFailed) + " of 3000 rows of the table big could not be sent."});
    EXPECT_EQ(env::Session::access(target).rows("SELECT * FROM `big`").size(), std::size_t(summary.rowsSent));
    for (const auto& finding : jet::checkFile(target)) ADD_FAILURE() << jet::describe(finding);
}

TEST_F(ToAccess, EdgeCasesOfOneRun) {
    pg->exec("CREATE TABLE \"a.b\"(x int)");
    pg->exec("DROP TABLE IF EXISTS badcol");
    pg->exec("CREATE TABLE badcol(\"x.y\" int)");
    pg->exec("CREATE TABLE nothing(x int)");
    pg->exec("CREATE TABLE \"Table1\"(x int)"); // in the Access list as Table1
    pg->exec("CREATE TABLE table3(x int)");     // in the Access list as Table3
    pg->exec("INSERT INTO table3 VALUES (7)");
    struct Case {
        const char* what;
        std::vector<std::string> selected;
        bool current;
        std::vector<int> answers;
        std::vector<std::string> messages;
        std::vector<std::string> questions;
        int reportLine; // 0: none
        std::vector<std::string> accessList;
        const char* refused = "";
    };
    // badcol is listed on the Access side too: refusing it must come before the overwrite question.
    const std::vector<std::string> start{"badcol", "Table1", "Table2", "Table3", "Table4"};
    const Case cases[] = {
        {"nothing current", {}, false, {}, {"Please select a table to send."}, {}, 0, start},
        {"a name Access cannot hold is refused", {"a.b"}, true, {}, {}, {}, 130, start, "'a.b'"},
        {"so is a column name, before anything is asked or dropped", {"badcol"}, true, {}, {}, {}, 130, start,
         "'x.y'"},
        {"an empty table is created and listed", {"nothing"}, true, {}, {}, {}, 0,
         {"badcol", "nothing", "Table1", "Table2", "Table3", "Table4"}},
        {"No leaves the Access table", {"Table1"}, true, {ui::AnswerNo}, {}, {"Would you like to overwrite Table1?"}, 0,
         start},
        {"Yes in other letter case replaces Table3 and its entry", {"table3"}, true, {ui::AnswerYes}, {},
         {"Would you like to overwrite table3?"}, 0, {"badcol", "Table1", "Table2", "table3", "Table4"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        page = std::make_unique<Page>(file);
        for (const auto& t : start) page->access.addItem(t);
        for (const char* t : {"a.b", "badcol", "nothing", "Table1", "table3"}) page->postgres.addItem(t);
        for (const auto& s : c.selected) page->postgres.select({s});
        if (c.current && c.selected.empty()) page->postgres.setCurrentIndex(0);
        page->dialogs.answers.assign(c.answers.begin(), c.answers.end());
        send();
        EXPECT_EQ(page->dialogs.messages, c.messages);
        EXPECT_EQ(page->dialogs.questions, c.questions);
        if (c.reportLine) {
            ASSERT_EQ(page->dialogs.reports.size(), 1u);
            const Report r = parseReport(page->dialogs.reports[0]);
            EXPECT_EQ(r.line, c.reportLine);
            EXPECT_NE(r.description.find(c.refused), std::string::npos) << r.description;
        } else {
            EXPECT_EQ(page->dialogs.reports, std::vector<std::string>{});
        }
        EXPECT_EQ(page->access.items(), c.accessList);
    }
    auto a = access();
    EXPECT_EQ(a.rows("SELECT * FROM `table3`"), (Rows{{"7"}}));
    EXPECT_EQ(a.rows("SELECT * FROM `Table1`").size(), 2u); // the Access Table1 is still there
}

TEST_F(ToAccess, ASessionThatDoesNotOpenIsReportedOnce) {
    page->fields.accessFile = (dir.path() / "missing.mdb").string();
    page->postgres.select({"orders", "kinds"});
    const auto summary = send();
    ASSERT_EQ(page->dialogs.reports.size(), 1u);
    EXPECT_EQ(parseReport(page->dialogs.reports[0]).line, 124);
    EXPECT_FALSE(summary.sessionsOpened);
    EXPECT_EQ(page->pointer.state(), 0);
}

} // namespace
