// Date/Time Extended columns (Access 2019 and later): created by CREATE TABLE ... DATETIME2, values stored to the
// 100 ns exactly as Access stores them, refused in older files and when a value has digits the type cannot hold.
#include "jet/check.h"
#include "jet/create_db.h"
#include "jet/database.h"
#include "jet/error.h"
#include "jet/writer.h"
#include "write_test_util.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <set>

namespace {

using jet::Writer;
using wt::errorOf;

void expectClean(const std::string& path, const std::string& password = {})
{
    jet::CheckOptions options;
    options.password = password;
    for (const auto& f : jet::checkFile(path, options))
        ADD_FAILURE() << path << ": " << jet::describe(f);
}

std::unique_ptr<Writer> openWriter(const std::string& path, const std::string& password)
{
    jet::WriterOptions options;
    options.password = password;
    return Writer::open(path, std::move(options));
}

// The values of one column as our reader gives them, in row order; Null as "-".
std::vector<std::string> columnTexts(const std::string& path, const std::string& password, const std::string& table,
                                     const std::string& column)
{
    jet::OpenOptions options;
    options.password = password;
    const auto db = jet::Database::open(path, options);
    const auto t = db->openTable(table);
    const int c = t->columnIndex(column);
    EXPECT_GE(c, 0);
    std::vector<std::string> out;
    while (t->next()) {
        const jet::Value v = t->value(static_cast<std::size_t>(c));
        if (std::holds_alternative<jet::DateTimeExt>(v))
            out.push_back(std::get<jet::DateTimeExt>(v).toText());
        else
            out.push_back(t->isNull(static_cast<std::size_t>(c)) ? "-" : "not Date/Time Extended");
    }
    return out;
}

// Every stored Date/Time Extended value of a file: the type keeps them as plain ASCII in the row.
std::multiset<std::string> storedTexts(const std::string& path)
{
    const std::string bytes = wt::slurp(path);
    static const std::regex stored("[0-9]{19}:[0-9]{19}:7");
    std::multiset<std::string> out;
    for (auto it = std::sregex_iterator(bytes.begin(), bytes.end(), stored); it != std::sregex_iterator(); ++it)
        out.insert(it->str());
    return out;
}

// The edges of the type, a PostgreSQL timestamp with microseconds, the full seven digits, a time alone (on the
// type's first day), the Access epoch and Null.
const std::vector<std::pair<std::string, std::string>> kValues = {
    {"'0001-01-01 00:00:00'", "0001-01-01T00:00:00"},
    {"'9999-12-31 23:59:59.9999999'", "9999-12-31T23:59:59.9999999"},
    {"'2024-02-29T08:00:00.123456'", "2024-02-29T08:00:00.123456"},
    {"'2021-06-14 22:45:12.3456789'", "2021-06-14T22:45:12.3456789"},
    {"'1899-12-30'", "1899-12-30T00:00:00"},
    {"'13:05:00'", "0001-01-01T13:05:00"},
    {"'1/2/2003 1:05:00 PM'", "2003-01-02T13:05:00"},
    {"'2000-01-01 00:00:00.50000000000'", "2000-01-01T00:00:00.5"},
    {"NULL", "-"},
};

TEST(WriteDateTimeExt, ValuesReadBackExactInEveryFileThatHasTheType)
{
    wt::TempDir tmp;
    struct Target {
        std::string path, password;
    };
    std::vector<Target> targets{{tmp.copy("jackcess/templates/empty2019.accdb"), ""},
                                {tmp.copy("jackcess/V2019/extDateTestV2019.accdb"), ""}};
    for (const auto& c : wt::kEveryNewFormat)
        if (c.format == jet::NewFormat::Ace17) {
            const std::string path = (tmp.path() / c.file).string();
            jet::createDatabase(path, c.format, c.password);
            targets.push_back({path, c.password});
        }
    for (const Target& t : targets) {
        SCOPED_TRACE(t.path);
        {
            auto w = openWriter(t.path, t.password);
            w->execute("CREATE TABLE stamps (id LONG, at DATETIME2, plain DATETIME)");
            for (std::size_t i = 0; i < kValues.size(); ++i)
                w->execute("INSERT INTO stamps VALUES(" + std::to_string(i) + ", " + kValues[i].first + ", NULL)");
            const auto cols = w->columns("stamps");
            ASSERT_EQ(cols.size(), 3u);
            EXPECT_EQ(cols[1].type, jet::sql::ColumnType::DateTimeExt);
            w->close();
        }
        expectClean(t.path, t.password);
        std::vector<std::string> expected;
        for (const auto& v : kValues)
            expected.push_back(v.second);
        EXPECT_EQ(columnTexts(t.path, t.password, "stamps", "at"), expected);
    }
}

// The bytes of the values Access itself stored: the same texts written by our engine give the same 42 bytes.
TEST(WriteDateTimeExt, StoresTheBytesAccessStores)
{
    wt::TempDir tmp;
    const std::string path = tmp.copy("jackcess/V2019/extDateTestV2019.accdb");
    const std::multiset<std::string> accessMade = storedTexts(path);
    ASSERT_GE(accessMade.size(), 5u);
    const std::vector<std::string> texts = columnTexts(path, "", "Table1", "DateExt");
    {
        auto w = Writer::open(path);
        w->execute("CREATE TABLE again (at DATETIME2)");
        for (const std::string& text : texts)
            if (text != "-")
                w->execute("INSERT INTO again VALUES('" + text + "')");
        w->close();
    }
    std::multiset<std::string> all = storedTexts(path);
    for (const std::string& s : accessMade) {
        const auto it = all.find(s);
        ASSERT_NE(it, all.end()) << s;
        all.erase(it);  // Access's own copy
    }
    EXPECT_EQ(all, accessMade);  // what remains is ours: one of each, byte for byte
    expectClean(path);
}

// mdb-reader (an independent reader) shows the values as "YYYY.MM.DD HH:MM:SS.fffffffff".
TEST(WriteDateTimeExt, AnIndependentReaderAgrees)
{
    const char* oracles = std::getenv("QM_ORACLES_DIR");
    if (!oracles || !*oracles || !std::filesystem::exists(std::string(oracles) + "/node_modules/mdb-reader"))
        GTEST_SKIP() << "mdb-reader comparison: set QM_ORACLES_DIR (scripts/oracles.sh)";
    wt::TempDir tmp;
    const std::string path = (tmp.path() / "f.accdb").string();
    jet::createDatabase(path, jet::NewFormat::Ace17);
    std::vector<std::string> expected;
    {
        auto w = Writer::open(path);
        w->execute("CREATE TABLE stamps (at DATETIME2)");
        for (const auto& [literal, text] : kValues) {
            w->execute("INSERT INTO stamps VALUES(" + literal + ")");
            if (text == "-") {
                expected.push_back("null");
                continue;
            }
            std::string e = text;
            std::replace(e.begin(), e.end(), '-', '.');
            std::replace(e.begin(), e.end(), 'T', ' ');
            if (e.find('.', 11) == std::string::npos)
                e += '.';
            e.append(29 - e.size(), '0');
            expected.push_back(e);
        }
        w->close();
    }
    ASSERT_TRUE(wt::placeMdbReaderScript(oracles));
    int status = 0;
    const std::string out = wt::run("node " + wt::shellQuote(std::string(oracles) + "/mdb_reader_dump.mjs") + " " +
                                        wt::shellQuote(path) + " 2>&1",
                                    status);
    ASSERT_EQ(status, 0) << out.substr(0, 400);
    const wt::Json doc = wt::parseJson(out);
    const auto& table = *doc.get("tables")->get("stamps");
    EXPECT_EQ(table.get("columns")->arr()[0].get("type")->str(), "datetimextended");
    std::vector<std::string> got;
    for (const auto& row : table.get("rows")->arr())
        got.push_back(row.arr()[0].isNull() ? "null" : row.arr()[0].str());
    EXPECT_EQ(got, expected);
}

// Indexes on Date/Time Extended: keyed as Access keys them (the checker re-encodes every entry, the 18 of
// Access's own two indexes in the fixture included), kept in step by INSERT, built over existing rows, unique.
TEST(WriteDateTimeExt, IndexedAsAccessIndexesThem)
{
    wt::TempDir tmp;
    const std::string fixture = tmp.copy("jackcess/V2019/extDateTestV2019.accdb");
    {
        // Table1 has an ascending and a descending index on DateExt, made by Access.
        auto w = Writer::open(fixture);
        for (int i = 0; i < 300; ++i)
            w->execute("INSERT INTO Table1 (ID, DateExt) VALUES(" + std::to_string(100 + i) + ", '20" +
                       std::to_string(10 + i % 80) + "-03-04 05:06:07." + std::to_string(1000000 + i * 7919) + "')");
        w->execute("INSERT INTO Table1 (ID, DateExt) VALUES(999, NULL)");
        w->close();
    }
    const jet::CheckReport fixtureReport = jet::checkFileReport(fixture);
    for (const auto& f : fixtureReport.findings)
        ADD_FAILURE() << jet::describe(f);
    EXPECT_GE(fixtureReport.indexEntries, 2u * 310u);

    for (const auto& c : wt::kEveryNewFormat) {
        if (c.format != jet::NewFormat::Ace17)
            continue;
        SCOPED_TRACE(c.file);
        const std::string path = (tmp.path() / c.file).string();
        jet::createDatabase(path, c.format, c.password);
        auto w = openWriter(path, c.password);
        w->execute("CREATE TABLE stamps (id LONG PRIMARY KEY, at DATETIME2)");
        for (std::size_t i = 0; i < kValues.size(); ++i)
            w->execute("INSERT INTO stamps VALUES(" + std::to_string(i) + ", " + kValues[i].first + ")");
        w->execute("CREATE UNIQUE INDEX by_at ON stamps (at DESC)");
        w->execute("CREATE INDEX by_at_id ON stamps (at, id)");
        EXPECT_EQ(errorOf([&] { w->execute("INSERT INTO stamps VALUES(50, '2021-06-14 22:45:12.3456789')"); }),
                  3022);
        w->execute("INSERT INTO stamps VALUES(51, '2021-06-14 22:45:12.3456788')");  // 100 ns apart: another key
        w->close();
        const jet::CheckReport r = jet::checkFileReport(path, {.password = c.password});
        for (const auto& f : r.findings)
            ADD_FAILURE() << jet::describe(f);
        EXPECT_GE(r.indexEntries, 3u * (kValues.size() + 1));
    }
}

TEST(WriteDateTimeExt, RefusedWhereTheTypeCannotHoldIt)
{
    wt::TempDir tmp;
    // Files before Access 2019 have no such type.
    const std::string ace16 = (tmp.path() / "e.accdb").string();
    jet::createDatabase(ace16, jet::NewFormat::Ace16);
    for (const std::string& path : {ace16, tmp.copy("jackcess/templates/empty2010.accdb"),
                                    tmp.copy("jackcess/templates/empty2003.mdb")}) {
        SCOPED_TRACE(path);
        const std::string before = wt::slurp(path);
        auto w = Writer::open(path);
        EXPECT_EQ(errorOf([&] { w->execute("CREATE TABLE x (at DATETIME2)"); }), 3251);
        w->close();
        EXPECT_EQ(wt::slurp(path), before);
    }
    // Values: more than 100 ns, no date, a number, outside years 1-9999. Each fails alone, the file unchanged.
    const std::string path = tmp.copy("jackcess/templates/empty2019.accdb");
    {
        auto w = Writer::open(path);
        w->execute("CREATE TABLE x (at DATETIME2)");
        w->close();
    }
    const std::string before = wt::slurp(path);
    auto w = Writer::open(path);
    for (const char* bad : {"'2024-01-01 00:00:00.12345678'", "'yesterday'", "45000", "'0000-12-31'",
                            "'2024-02-30'", "'10000-01-01'", "'2024-01-01 24:00:00'"})
        EXPECT_EQ(errorOf([&] { w->execute(std::string("INSERT INTO x VALUES(") + bad + ")"); }), 3464) << bad;
    w->close();
    EXPECT_EQ(wt::slurp(path), before);
}

}  // namespace
