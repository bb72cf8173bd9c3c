// Table and field names in other scripts: created, filled, found by any capitalisation, copied and dropped
// in databases with the "General" sort order; refused by name in "General - Legacy" ones. Every result is
// read back by our reader, checked by the checker (which re-encodes every catalogue index entry) and, when
// they are installed, by mdb-reader and mdbtools.
#include "jet/check.h"
#include "jet/create_db.h"
#include "jet/database.h"
#include "jet/error.h"
#include "jet/statement.h"
#include "write_test_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

namespace {

namespace fs = std::filesystem;

struct NamedTable {
    std::string name;     // as created
    std::string field;    // its text field
    std::string value;    // the one row's text
};

const std::vector<NamedTable> kTables = {
    {"Πελάτες", "Όνομα", "Αθηνά Παπαδοπούλου"},
    {"Клиенты", "Имя", "Йосиф Їжаченко"},
    {"顧客リスト", "名前", "やまだ たろう"},
    {"고객", "이름", "김민준"},
    {"לקוחות", "שם", "כהן"},
    {"Łódź 2024", "Ulica", "Świętokrzyska"},
    {"Հաճախորդներ", "Անուն", "Արամ"},
    {"Orders – 2024’s «best»", "Net €", "“quoted” … text"},
};

std::set<std::string> names(const std::vector<std::string>& v) { return {v.begin(), v.end()}; }

void fill(const std::string& path)
{
    auto s = jet::Session::open(path);
    for (const NamedTable& t : kTables) {
        s->execute("CREATE TABLE [" + t.name + "] ([" + t.field + "] TEXT(100), [№] LONG)");
        s->execute("INSERT INTO [" + t.name + "] VALUES ('" + t.value + "', 1)");
    }
}

std::string mdbReaderDir()
{
    if (const char* env = std::getenv("QM_ORACLES_DIR"); env && *env &&
                                                         fs::exists(std::string(env) + "/node_modules/mdb-reader"))
        return env;
    return {};
}

// What the independent readers make of the file: table names, and the text of each table's one row.
void expectOraclesAgree(const std::string& path, const std::set<std::string>& expected)
{
    int status = 0;
    const std::string listed = wt::run("mdb-tables -1 " + wt::shellQuote(path) + " 2>/dev/null", status);
    if (status == 0) {
        std::set<std::string> got;
        std::istringstream in(listed);
        for (std::string line; std::getline(in, line);)
            if (!line.empty())
                got.insert(line);
        EXPECT_EQ(got, expected) << "mdb-tables";
    } else {
        std::cout << "[ SKIPPED  ] mdbtools comparison: mdb-tables not available\n";
    }
    const std::string dir = mdbReaderDir();
    if (dir.empty()) {
        std::cout << "[ SKIPPED  ] mdb-reader comparison: set QM_ORACLES_DIR (scripts/oracles.sh)\n";
        return;
    }
    fs::copy_file(std::string(QM_SOURCE_DIR) + "/scripts/mdb_reader_dump.mjs", dir + "/mdb_reader_dump.mjs",
                  fs::copy_options::overwrite_existing);
    const std::string out =
        wt::run("node " + wt::shellQuote(dir + "/mdb_reader_dump.mjs") + " " + wt::shellQuote(path) + " 2>&1", status);
    ASSERT_EQ(status, 0) << out.substr(0, 400);
    const wt::Json doc = wt::parseJson(out);
    std::set<std::string> got;
    for (const auto& [name, table] : doc.get("tables")->obj()) {
        got.insert(name);
        for (const NamedTable& t : kTables)
            if (t.name == name) {
                ASSERT_EQ(table.get("rows")->arr().size(), 1u) << name;
                EXPECT_EQ(table.get("rows")->arr()[0].arr()[0].str(), t.value) << name;
                EXPECT_EQ(table.get("columns")->arr()[0].get("name")->str(), t.field) << name;
            }
    }
    EXPECT_EQ(got, expected) << "mdb-reader";
}

void expectReadBack(const std::string& path, const std::set<std::string>& expected)
{
    EXPECT_EQ(names(jet::Database::open(path)->userTableNames()), expected);
    const auto tables = wt::readBack(path);
    for (const NamedTable& t : kTables) {
        auto it = tables.find(t.name);
        if (it == tables.end())
            continue;
        ASSERT_EQ(it->second.rows.size(), 1u) << t.name;
        EXPECT_EQ(jet::utf16ToUtf8(it->second.rows[0][0].text), t.value) << t.name;
        EXPECT_EQ(jet::utf16ToUtf8(it->second.columns[0].name), t.field) << t.name;
    }
    const jet::CheckReport r = jet::checkFileReport(path);
    for (const auto& f : r.findings)
        ADD_FAILURE() << jet::describe(f);
    EXPECT_GT(r.indexEntries, 0u);
}

class GeneralOrderNames : public ::testing::TestWithParam<std::string> {};

TEST_P(GeneralOrderNames, CreateFillFindRenameAndDrop)
{
    wt::TempDir dir;
    std::string path;
    if (GetParam().starts_with("new:")) {
        path = (dir.path() / "new.accdb").string();
        jet::createDatabase(path, jet::parseNewFormat(GetParam().substr(4)));
    } else {
        path = dir.copy(GetParam());
    }
    const std::set<std::string> before = names(jet::Database::open(path)->userTableNames());
    fill(path);
    {
        auto s = jet::Session::open(path);
        s->execute("CREATE TABLE [テスト] ([x] LONG)");
        // The same name in other capitals (or the other kana) is the same table.
        for (const char* same : {"ΠΕΛΆΤΕΣ", "КЛИЕНТЫ", "łÓDŹ 2024", "てすと"}) {
            try {
                s->execute(std::string("CREATE TABLE [") + same + "] ([x] LONG)");
                ADD_FAILURE() << same << " was created beside a table of the same name";
            } catch (const jet::Error& e) {
                EXPECT_NE(std::string(e.what()).find("already exists"), std::string::npos) << e.what();
            }
        }
        s->execute("CREATE TABLE [Πελατες] ([x] LONG)");  // without the tonos it is another name
        // A rename as the program does it: copy under the new name, drop the old one; both found by names
        // in other capitals.
        s->execute("SELECT a1.* INTO [Заказчики] FROM [КЛИЕНТЫ] AS a1");
        s->execute("DROP TABLE [клиенты]");
        s->execute("DROP TABLE [てすと]");
        EXPECT_THROW(s->execute("DROP TABLE [Теst]"), jet::Error);  // Cyrillic Т and е are not Latin letters
    }
    std::set<std::string> expected = before;
    for (const NamedTable& t : kTables)
        expected.insert(t.name);
    expected.erase("Клиенты");
    expected.insert("Заказчики");
    expected.insert("Πελατες");
    expectReadBack(path, expected);
    expectOraclesAgree(path, expected);

    // Dropping them all leaves a file that takes the same names anew.
    {
        auto s = jet::Session::open(path);
        for (const std::string& n : expected)
            if (!before.contains(n))
                s->execute("DROP TABLE [" + n + "]");
    }
    EXPECT_EQ(names(jet::Database::open(path)->userTableNames()), before);
    fill(path);
    expected = before;
    for (const NamedTable& t : kTables)
        expected.insert(t.name);
    expectReadBack(path, expected);
}

INSTANTIATE_TEST_SUITE_P(Files, GeneralOrderNames,
                         ::testing::Values("new:ace14", "new:ace17", "jackcess/templates/empty2010.accdb",
                                           "jackcess/templates/empty2016.accdb"));

// "General - Legacy" keys Latin-1 and Latin Extended-A; other scripts are refused by name.
TEST(LegacyOrderNames, CentralEuropeanNamesWorkOthersAreRefusedByName)
{
    wt::TempDir dir;
    for (const std::string& source : {std::string("new:jet4"), std::string("jackcess/templates/empty2019.accdb")}) {
        SCOPED_TRACE(source);
        std::string path;
        if (source.starts_with("new:")) {
            path = (dir.path() / "legacy.mdb").string();
            jet::createDatabase(path, jet::parseNewFormat(source.substr(4)));
        } else {
            path = dir.copy(source);
        }
        const std::string before = wt::slurp(path);
        auto s = jet::Session::open(path);
        try {
            s->execute("CREATE TABLE [Клиенты] ([Имя] TEXT(50))");
            ADD_FAILURE() << "a Cyrillic name went into a General - Legacy catalogue";
        } catch (const jet::Error& e) {
            EXPECT_NE(std::string(e.what()).find("U+041A"), std::string::npos) << e.what();
            EXPECT_NE(std::string(e.what()).find("General - Legacy"), std::string::npos) << e.what();
        }
        s.reset();
        EXPECT_EQ(wt::slurp(path), before);

        std::set<std::string> expected = names(jet::Database::open(path)->userTableNames());
        {
            auto w = jet::Session::open(path);
            w->execute("CREATE TABLE [Zażółć gęślą] ([Łódź] TEXT(50))");
            w->execute("INSERT INTO [ZAŻÓŁĆ GĘŚLĄ] VALUES ('Šťastný Dvořák')");
            EXPECT_THROW(w->execute("CREATE TABLE [zażółć gęślą] ([x] LONG)"), jet::Error);
        }
        expected.insert("Zażółć gęślą");
        EXPECT_EQ(names(jet::Database::open(path)->userTableNames()), expected);
        const jet::CheckReport r = jet::checkFileReport(path);
        for (const auto& f : r.findings)
            ADD_FAILURE() << jet::describe(f);
        int status = 0;
        const std::string listed = wt::run("mdb-tables -1 " + wt::shellQuote(path) + " 2>/dev/null", status);
        if (status == 0) {
            EXPECT_NE(listed.find("Zażółć gęślą\n"), std::string::npos) << listed;
        }
    }
}

}  // namespace
