// Table and field names, and indexed text values, in other scripts: created, filled, found by any
// capitalisation, copied and dropped in databases of both sort orders ("General" and "General - Legacy"), new
// ones and copies of Access-made ones. Every result is read back by our reader, checked by the checker (which
// re-encodes every catalogue and index entry) and, when they are installed, by mdb-reader and mdbtools.
#include "jet/check.h"
#include "jet/create_db.h"
#include "jet/database.h"
#include "jet/error.h"
#include "jet/statement.h"
#include "write_test_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
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
    {"العملاء", "الاسم", "محمد عبد الله"},
    {"ลูกค้า", "ชื่อ", "สมชาย ใจดี"},
    {"ग्राहक सूची", "नाम", "राहुल शर्मा"},
    {"客户表", "名称", "北京市朝阳区"},
    {"Kunden 客户 Клиенты", "Name/名前", "Mixed: Ωmega, Йод, カナ"},
};

std::set<std::string> names(const std::vector<std::string>& v) { return {v.begin(), v.end()}; }

// A text literal of Access SQL: quotes doubled.
std::string sqlText(const std::string& v)
{
    std::string out = "'";
    for (char c : v)
        out += c == '\'' ? std::string("''") : std::string(1, c);
    return out + "'";
}

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
    ASSERT_TRUE(wt::placeMdbReaderScript(dir));
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

class NamesInEveryScript : public ::testing::TestWithParam<std::string> {};

TEST_P(NamesInEveryScript, CreateFillFindRenameAndDrop)
{
    wt::TempDir dir;
    std::string path;
    if (GetParam().starts_with("new:")) {
        path = (dir.path() / (GetParam() == "new:jet4" ? "new.mdb" : "new.accdb")).string();
        jet::createDatabase(path, jet::parseNewFormat(GetParam().substr(4)));
    } else {
        path = dir.copy(GetParam());
    }
    {
        // The file's catalogue has the order the list of files below says.
        jet::PageCache cache(jet::openPosixFile(path, false), jet::w::kPage, path);
        const jet::w::Table mso = jet::w::readTable(cache, 2);
        const bool legacy = GetParam() == "new:jet4" || GetParam().ends_with("2003.mdb") ||
                            GetParam().ends_with("2019.accdb");
        EXPECT_EQ(jet::w::sortOrderOf(*mso.column(u"Name")),
                  legacy ? jet::SortOrder::GeneralLegacy : jet::SortOrder::General);
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

// "General": new ACE 14/17 files, Access 2010/2016 templates. "General - Legacy": new Jet 4 (.mdb) files, the
// Access 2003 template (.mdb), the Access 2019 template (an .accdb that kept the older order).
INSTANTIATE_TEST_SUITE_P(Files, NamesInEveryScript,
                         ::testing::Values("new:ace14", "new:ace17", "jackcess/templates/empty2010.accdb",
                                           "jackcess/templates/empty2016.accdb", "new:jet4",
                                           "jackcess/templates/empty2003.mdb", "jackcess/templates/empty2019.accdb"));

// A character the file's order has no key for is refused naming it, and the file stays as it was: the halves
// of an emoji in "General - Legacy"; in "General" the halves of emoji other than U+1F600..U+1F64F.
TEST(NamesInEveryScript, CharactersWithoutAKeyAreRefusedByName)
{
    wt::TempDir dir;
    const std::pair<std::string, std::string> cases[] = {
        {"new:jet4", "Ракеты 😀"}, {"jackcess/templates/empty2003.mdb", "Ракеты 😀"}, {"new:ace14", "Ракеты 🚀"}};
    for (const auto& [source, name] : cases) {
        SCOPED_TRACE(source);
        std::string path;
        if (source.starts_with("new:")) {
            path = (dir.path() / ("refuse-" + source.substr(4))).string();
            jet::createDatabase(path, jet::parseNewFormat(source.substr(4)));
        } else {
            path = dir.copy(source);
        }
        const std::string before = wt::slurp(path);
        const bool legacy = source != "new:ace14";
        auto s = jet::Session::open(path);
        try {
            s->execute("CREATE TABLE [" + name + "] ([Имя] TEXT(50))");
            ADD_FAILURE() << name << " went into the catalogue";
        } catch (const jet::Error& e) {
            EXPECT_NE(std::string(e.what()).find(legacy ? "U+D83D" : "U+DE80"), std::string::npos) << e.what();
            EXPECT_NE(std::string(e.what()).find(legacy ? "\"General - Legacy\"" : "\"General\""), std::string::npos)
                << e.what();
        }
        s.reset();
        EXPECT_EQ(wt::slurp(path), before);
    }
}

// Files made in other Windows locales have other sort orders, whose keys the engine does not know: writing to
// them is refused, saying which orders it writes; reading them still works.
TEST(NamesInEveryScript, OtherSortOrdersAreRefused)
{
    wt::TempDir dir;
    const std::string path = dir.copy("jackcess/templates/empty2003.mdb");
    {
        // The header's sort order (0x6E) lies under a fixed RC4 mask: XOR-ing a stored byte changes the
        // plain byte by the same bits. 0x0409 (1033) becomes 0x0419 (1049, Russian).
        std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
        f.seekg(0x6E);
        const char stored = static_cast<char>(f.get());
        f.seekp(0x6E);
        f.put(static_cast<char>(stored ^ (0x09 ^ 0x19)));
    }
    EXPECT_EQ(jet::Database::open(path)->sortOrder(), 0x0419);
    const std::string before = wt::slurp(path);
    try {
        jet::Session::open(path)->execute("CREATE TABLE [Клиенты] ([Имя] TEXT(50))");
        ADD_FAILURE() << "wrote into a file of another sort order";
    } catch (const jet::Error& e) {
        EXPECT_NE(std::string(e.what()).find("1049"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("\"General - Legacy\""), std::string::npos) << e.what();
    }
    EXPECT_EQ(wt::slurp(path), before);
}

// Indexed text values in every script inserted into Access-made tables with a text index, both orders: the
// writer keeps the index in step, and every entry (the checker re-encodes them all) is the measured key.
TEST(NamesInEveryScript, IndexedTextValuesInAccessMadeTables)
{
    wt::TempDir dir;
    const struct {
        const char* file;
        const char* table;
        std::int32_t firstId;
    } targets[] = {
        {"jackcess/V2003/testUnicodeCompV2003.mdb", "Table", 1000},  // "General - Legacy"
        {"jackcess/V2010/testEmoticonsV2010.accdb", "data", 200000},  // "General"
    };
    std::vector<std::string> values;
    for (const NamedTable& t : kTables)
        values.insert(values.end(), {t.name, t.value, t.field});
    values.insert(values.end(), {"データベース", "ﾃﾞｰﾀ", "ＡＢＣ１２３", "Ἀθῆναι", "Tiếng Việt", "e\u0301te\u0301",
                                 "it's a-b – c", "  leading blanks", "trailing blanks   ", "ΣΊΣΥΦΟΣ"});
    for (const auto& target : targets) {
        SCOPED_TRACE(target.file);
        const std::string path = dir.copy(target.file);
        auto texts = [&] {
            std::multiset<std::string> out;
            const auto tables = wt::readBack(path);
            for (const auto& row : tables.at(target.table).rows)
                out.insert(jet::utf16ToUtf8(row[1].text));
            return out;
        };
        const std::multiset<std::string> textsBefore = texts();
        const jet::CheckReport before = jet::checkFileReport(path);
        {
            auto s = jet::Session::open(path);
            std::int32_t id = target.firstId;
            for (const std::string& v : values)
                s->execute(std::string("INSERT INTO [") + target.table + "] VALUES (" + std::to_string(id++) + ", " +
                           sqlText(v) + ")");
        }
        const jet::CheckReport r = jet::checkFileReport(path);
        for (const auto& f : r.findings)
            ADD_FAILURE() << jet::describe(f);
        EXPECT_EQ(r.unkeyedIndexes, 0u);
        EXPECT_GE(r.indexEntries, before.indexEntries + values.size());

        // Our reader, mdb-reader and mdbtools read every value back.
        std::multiset<std::string> got = texts(), want = textsBefore;
        want.insert(values.begin(), values.end());
        EXPECT_EQ(got, want);
        if (const std::string oracle = mdbReaderDir(); !oracle.empty()) {
            ASSERT_TRUE(wt::placeMdbReaderScript(oracle));
            int status = 0;
            const std::string out = wt::run("node " + wt::shellQuote(oracle + "/mdb_reader_dump.mjs") + " " +
                                                wt::shellQuote(path) + " 2>&1",
                                            status);
            ASSERT_EQ(status, 0) << out.substr(0, 400);
            std::multiset<std::string> read;
            const wt::Json doc = wt::parseJson(out);
            for (const auto& row : doc.get("tables")->get(target.table)->get("rows")->arr())
                if (std::holds_alternative<std::string>(row.arr()[1].v))
                    read.insert(row.arr()[1].str());
            EXPECT_EQ(read, got) << "mdb-reader";
        }
        int status = 0;
        const std::string csv = wt::run("mdb-export -Q -d '\\t' " + wt::shellQuote(path) + " " +
                                            wt::shellQuote(target.table) + " 2>/dev/null",
                                        status);
        if (status == 0) {
            for (const std::string& v : values) {
                EXPECT_NE(csv.find("\t" + v + "\n"), std::string::npos) << "mdbtools: " << v;
            }
        }
    }
}

}  // namespace
