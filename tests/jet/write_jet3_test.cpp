// Writing Access 97 (Jet 3) files: tables of every type created and filled in copies of the Access 97
// fixtures and in new files made by jet::createDatabase, read back by the reading engine and by mdbtools (both
// must give the values inserted), checked page by page, dropped without a page left behind and made again;
// text the file's code page cannot hold fails its row; files in another sort order are refused. New files
// carry the catalogue of Access 97's own and its database password.
#include "jet/check.h"
#include "jet/create_db.h"
#include "jet/database.h"
#include "jet/dump.h"
#include "jet/error.h"
#include "jet/writer.h"
#include "write_test_util.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

namespace {

using wt::Json;

const char* const kFixtures[] = {"jackcess/V1997/testV1997.mdb", "mdb-reader/V1997/test.mdb",
                                 "jackcess/V1997/testIndexCodesV1997.mdb"};

const char* const kCreate =
    "CREATE TABLE [Mixed 97] (id LONG, name TEXT(255), note MEMO, flag BIT, amount CURRENCY, d DATETIME, "
    "f DOUBLE, s SINGLE, b BYTE, i SHORT, g GUID, bin BINARY(20), pic LONGBINARY)";
const char* const kColumns[] = {"id", "name", "note", "flag", "amount", "d", "f", "s", "b", "i", "g", "bin", "pic"};

// One row: the SQL literal of each column and the value it must read back as ("" = NULL), in the forms below:
// numbers as the shortest decimal, booleans true/false, dates ISO, binary lower-case hex, GUIDs in braces.
struct Row {
    std::vector<std::string> sql, want;
};

std::string hexOf(const std::string& bytes)
{
    static const char* d = "0123456789abcdef";
    std::string s;
    for (unsigned char c : bytes) {
        s.push_back(d[c >> 4]);
        s.push_back(d[c & 15]);
    }
    return s;
}

std::vector<Row> sampleRows()
{
    std::vector<Row> rows;
    const std::string longMemo = std::string(5000, 'm') + "ü";  // a chain of long-value rows
    const std::string pageMemo(1500, 'p');                     // one long-value row of its own
    std::string pic;
    for (int k = 0; k < 1200; ++k)
        pic.push_back(static_cast<char>(k * 7 % 255 + 1));  // no zero byte: mdbtools cuts binary there
    rows.push_back({{"1", "'Café €uro – Œuvre'", "'a short memo'", "TRUE", "12.5", "'2020-01-02 03:04:05'", "1.5",
                     "2.5", "7", "-3", "'{12345678-1234-1234-1234-123456789ABC}'", "'\\x0102'", "'\\xABCDEF'"},
                    {"1", "Café €uro – Œuvre", "a short memo", "true", "12.5", "2020-01-02T03:04:05", "1.5", "2.5",
                     "7", "-3", "{12345678-1234-1234-1234-123456789ABC}", "0102", "abcdef"}});
    rows.push_back({{"2", "NULL", "'" + longMemo + "'", "FALSE", "NULL", "NULL", "NULL", "NULL", "NULL", "NULL",
                     "NULL", "NULL", "NULL"},
                    {"2", "", longMemo, "false", "", "", "", "", "", "", "", "", ""}});
    rows.push_back({{"3", "'Zoë ÀÉÎÕÜ àéîõü ÿ'", "'" + pageMemo + "'", "TRUE", "-1234.5678", "'2001-12-31 23:59:59'",
                     "-10000000000", "0.25", "255", "32767", "NULL", "'\\x7fff10'", "'\\x" + hexOf(pic) + "'"},
                    {"3", "Zoë ÀÉÎÕÜ àéîõü ÿ", pageMemo, "true", "-1234.5678", "2001-12-31T23:59:59", "-10000000000",
                     "0.25", "255", "32767", "", "7fff10", hexOf(pic)}});
    // Enough rows for several data pages; text long enough that rows cross 256 bytes (Jet 3 jump entries).
    for (int k = 4; k <= 60; ++k) {
        const std::string ks = std::to_string(k);
        const std::string name = "Name " + ks + " " + std::string(static_cast<std::size_t>(k % 50 * 4), 'x');
        const std::string memo = "memo " + ks + std::string(static_cast<std::size_t>(k * 4), 'y');
        const std::string day = (k % 28 + 1 < 10 ? "0" : "") + std::to_string(k % 28 + 1);
        rows.push_back({{ks, "'" + name + "'", "'" + memo + "'", k % 2 ? "TRUE" : "FALSE", ks + ".25",
                         "'2010-03-" + day + " 12:00:00'", ks + ".5", ks, ks, "-" + ks, "NULL", "NULL", "NULL"},
                        {ks, name, memo, k % 2 ? "true" : "false", ks + ".25", "2010-03-" + day + "T12:00:00",
                         ks + ".5", ks, ks, "-" + ks, "", "", ""}});
    }
    return rows;
}

std::string insertSql(const std::string& table, const Row& r)
{
    std::string s = "INSERT INTO [" + table + "] VALUES (";
    for (std::size_t i = 0; i < r.sql.size(); ++i)
        s += (i ? ", " : "") + r.sql[i];
    return s + ")";
}

// A number as the shortest decimal that reads back the same.
std::string shortest(double v)
{
    char buf[64];
    for (int prec = 1; prec <= 17; ++prec) {
        std::snprintf(buf, sizeof buf, "%.*g", prec, v);
        if (std::strtod(buf, nullptr) == v)
            break;
    }
    std::string s = buf;
    if (s.find('e') != std::string::npos) {
        std::snprintf(buf, sizeof buf, "%.0f", v);
        s = buf;
    }
    return s;
}

std::string fromBase64(const std::string& in)
{
    static const std::string chars = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    unsigned buf = 0;
    int bits = 0;
    for (char c : in) {
        const auto p = chars.find(c);
        if (p == std::string::npos)
            continue;
        buf = buf << 6 | static_cast<unsigned>(p);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<char>(buf >> bits & 0xFF));
        }
    }
    return out;
}

// A cell of the reading engine's JSON dump in the forms of Row::want.
std::string fromDump(const std::string& column, const Json& v)
{
    if (v.isNull())
        return "";
    if (const auto* b = std::get_if<bool>(&v.v))
        return *b ? "true" : "false";
    if (const auto* d = std::get_if<double>(&v.v))
        return shortest(*d);
    if (column == "amount")
        return shortest(std::strtod(v.str().c_str(), nullptr));  // currency comes as a string
    return v.str();
}

// A cell of mdb-json in the same forms (dates come as MM/DD/YY HH:MM:SS, binary as base64).
std::string fromMdbJson(const std::string& column, const Json* v)
{
    if (!v || v->isNull())
        return "";
    if (const auto* d = std::get_if<double>(&v->v)) {
        if (column == "flag")
            return *d != 0 ? "true" : "false";
        return shortest(*d);
    }
    if (const Json* b = v->get("$binary"))
        return hexOf(fromBase64(b->str()));
    std::string s = v->str();
    if (column == "d" && s.size() == 17) {
        const int yy = std::stoi(s.substr(6, 2));
        return std::to_string(yy < 30 ? 2000 + yy : 1900 + yy) + "-" + s.substr(0, 2) + "-" + s.substr(3, 2) + "T" +
               s.substr(9);
    }
    return s;
}

std::vector<std::vector<std::string>> readerRows(const std::string& file, const std::string& table)
{
    auto db = jet::Database::open(file);
    std::ostringstream json;
    jet::DumpOptions options;
    options.tables.push_back(table);
    EXPECT_TRUE(jet::dump(*db, json, options).ok());
    const Json doc = wt::parseJson(json.str());
    std::vector<std::vector<std::string>> out;
    for (const Json& row : doc.get("tables")->arr().at(0).get("rows")->arr()) {
        std::vector<std::string> r;
        for (std::size_t i = 0; i < row.arr().size() && i < std::size(kColumns); ++i)
            r.push_back(fromDump(kColumns[i], row.arr()[i]));
        out.push_back(std::move(r));
    }
    return out;
}

std::vector<std::vector<std::string>> mdbtoolsRows(const std::string& file, const std::string& table)
{
    int status = 0;
    const std::string out = wt::run("mdb-json " + wt::shellQuote(file) + " " + wt::shellQuote(table) + " 2>&1", status);
    EXPECT_EQ(status, 0) << out.substr(0, 300);
    std::vector<std::vector<std::string>> rows;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        const Json j = wt::parseJson(line);
        std::vector<std::string> r;
        for (const char* c : kColumns)
            r.push_back(fromMdbJson(c, j.get(c)));
        rows.push_back(std::move(r));
    }
    return rows;
}

bool haveMdbtools()
{
    int status = 0;
    wt::run("command -v mdb-json >/dev/null 2>&1", status);
    return status == 0;
}

void expectClean(const std::string& file, bool leaks)
{
    jet::CheckOptions o;
    o.leaks = leaks;
    const jet::CheckReport r = jet::checkFileReport(file, o);
    for (const auto& f : r.findings)
        ADD_FAILURE() << file << ": " << jet::describe(f);
    EXPECT_GT(r.indexEntries, 0u) << "the catalogue's indexes were not verified";
}

// Rows as multisets; on a difference, the first differing cell (cut short) rather than every row.
void expectSameRows(std::multiset<std::vector<std::string>> got, std::multiset<std::vector<std::string>> want,
                    const std::string& what)
{
    if (got == want)
        return;
    std::vector<std::vector<std::string>> g(got.begin(), got.end()), w(want.begin(), want.end());
    for (std::size_t i = 0; i < std::min(g.size(), w.size()); ++i)
        for (std::size_t c = 0; c < std::min(g[i].size(), w[i].size()); ++c)
            if (g[i][c] != w[i][c]) {
                ADD_FAILURE() << what << ": row " << w[i][0] << " column " << kColumns[c] << ": read \""
                              << g[i][c].substr(0, 80) << "\" (" << g[i][c].size() << " bytes), inserted \""
                              << w[i][c].substr(0, 80) << "\" (" << w[i][c].size() << " bytes)";
                return;
            }
    ADD_FAILURE() << what << ": " << g.size() << " rows read, " << w.size() << " inserted";
}

void expectTable(const std::string& file, const std::string& table, const std::vector<Row>& rows)
{
    std::multiset<std::vector<std::string>> want;
    for (const Row& r : rows)
        want.insert(r.want);
    const auto ours = readerRows(file, table);
    expectSameRows({ours.begin(), ours.end()}, want, table + " as the reading engine reads it");
    if (!haveMdbtools()) {
        std::cout << "[ SKIPPED  ] mdbtools comparison: mdb-json not installed\n";
        return;
    }
    // mdbtools writes a GUID in its own way (braces, a dash short): GUIDs are compared through our reader only.
    auto strip = [](std::vector<std::string> r) {
        r[10].clear();
        return r;
    };
    std::multiset<std::vector<std::string>> wantMdb, gotMdb;
    for (const auto& r : want)
        wantMdb.insert(strip(r));
    for (const auto& r : mdbtoolsRows(file, table))
        gotMdb.insert(strip(r));
    expectSameRows(gotMdb, wantMdb, table + " as mdbtools reads it");
}

TEST(WriteJet3, CreateInsertEveryTypeReadsBackInBothReaders)
{
    const std::vector<Row> rows = sampleRows();
    for (const char* rel : kFixtures) {
        SCOPED_TRACE(rel);
        wt::TempDir dir;
        const std::string file = dir.copy(rel);
        {
            auto w = jet::Writer::open(file);
            w->execute(kCreate);
            for (const Row& r : rows)
                w->execute(insertSql("Mixed 97", r));
            w->execute("SELECT a1.* INTO [Copy of Mixed] FROM [Mixed 97] AS a1");
            w->close();
        }
        expectClean(file, false);
        expectTable(file, "Mixed 97", rows);
        expectTable(file, "Copy of Mixed", rows);
        // The tables of the fixture still read as before.
        auto before = jet::Database::open(wt::fixtureFile(rel));
        auto after = jet::Database::open(file);
        for (const std::string& t : before->userTableNames()) {
            std::ostringstream a, b;
            jet::DumpOptions o;
            o.tables.push_back(t);
            jet::dump(*before, a, o);
            jet::dump(*after, b, o);
            EXPECT_EQ(a.str(), b.str()) << t;
        }
    }
}

TEST(WriteJet3, DropEveryNewTableLeavesNoPageBehindAndRecreates)
{
    const std::vector<Row> rows = sampleRows();
    wt::TempDir dir;
    const std::string file = dir.copy("jackcess/V1997/testV1997.mdb");
    const auto sizeBefore = std::filesystem::file_size(file);
    // Many tables with long names: the catalogue's name index splits over several pages.
    std::vector<std::string> names;
    for (int k = 0; k < 70; ++k)
        names.push_back("Table with a rather long name number " + std::to_string(k) + (k % 3 ? " é" : " Å"));
    {
        auto w = jet::Writer::open(file);
        for (const std::string& n : names)
            w->execute("CREATE TABLE [" + n + "] (a LONG, b TEXT(20), c MEMO)");
        w->execute(kCreate);
        for (const Row& r : rows)
            w->execute(insertSql("Mixed 97", r));
        w->close();
    }
    expectClean(file, true);
    int status = 0;
    const std::string listed = wt::run("mdb-tables -1 " + wt::shellQuote(file) + " 2>/dev/null", status);
    if (status == 0) {
        for (const std::string& n : names)
            EXPECT_NE(listed.find(n + "\n"), std::string::npos) << "mdb-tables does not list " << n;
    }
    {
        auto w = jet::Writer::open(file);
        for (const std::string& n : names)
            w->execute("DROP TABLE [" + n + "]");
        w->execute("DROP TABLE [Mixed 97]");
        EXPECT_FALSE(w->hasTable("Mixed 97"));
        w->close();
    }
    expectClean(file, true);
    {
        auto w = jet::Writer::open(file);
        w->execute(kCreate);
        for (const Row& r : rows)
            w->execute(insertSql("Mixed 97", r));
        w->close();
    }
    expectClean(file, true);
    expectTable(file, "Mixed 97", rows);
    EXPECT_GE(std::filesystem::file_size(file), sizeBefore);
}

// Rows into tables Access 97 made, with ascending, descending and composite indexes over accented text: the
// checker recomputes every entry, the new ones included, from its row.
TEST(WriteJet3, RowsIntoAccessMadeIndexedTables)
{
    wt::TempDir dir;
    const std::string codes = dir.copy("jackcess/V1997/testIndexCodesV1997.mdb");
    const std::string comp = dir.copy("jackcess/V1997/compIndexTestV1997.mdb");
    const std::string text = "Ça va, Œuvre Zoë ÀÉÎ éèêë Šš ÿŸ ß æ";
    std::size_t before = 0;
    {
        const jet::CheckReport r = jet::checkFileReport(codes);
        before = r.indexEntries;
        auto w = jet::Writer::open(codes);
        w->execute("INSERT INTO Table1 VALUES ('new 1', '" + text + "')");
        w->execute("INSERT INTO Table1_desc VALUES ('new 2', '" + text + "')");
        w->execute("INSERT INTO Table12_desc_asc VALUES ('a', '" + text + "', 5)");
        w->execute("INSERT INTO Table12_desc_asc VALUES ('b', NULL, -7)");
        w->close();
    }
    expectClean(codes, true);
    EXPECT_EQ(jet::checkFileReport(codes).indexEntries, before + 8);  // four rows, two indexes on each table
    {
        auto w = jet::Writer::open(comp);
        w->execute("INSERT INTO Table1 VALUES (999999, 'Société Générale', 'Ärger')");
        w->execute("INSERT INTO Table1 VALUES (1000000, NULL, 'x')");
        w->close();
    }
    expectClean(comp, true);
    int status = 0;
    const std::string out = wt::run("mdb-export " + wt::shellQuote(codes) + " Table1_desc 2>/dev/null", status);
    if (status == 0) {
        EXPECT_NE(out.find(text), std::string::npos) << "mdbtools does not read the new row back";
    }
}

// 200 columns, 100 of them variable: a definition over several pages, rows with long offset tables.
TEST(WriteJet3, WideTableOverSeveralDefinitionPages)
{
    wt::TempDir dir;
    const std::string file = dir.copy("jackcess/V1997/testV1997.mdb");
    const char* types[] = {"LONG", "TEXT(10)", "MEMO", "DOUBLE"};
    std::string create = "CREATE TABLE Breit (";
    for (int i = 0; i < 200; ++i)
        create += (i ? ", [Spalte mit langem Namen " : "[Spalte mit langem Namen ") + std::to_string(i) + "] " + types[i % 4];
    {
        auto w = jet::Writer::open(file);
        w->execute(create + ")");
        for (int r = 0; r < 3; ++r) {
            std::string insert = "INSERT INTO Breit VALUES (";
            for (int i = 0; i < 200; ++i) {
                const std::string v = std::to_string(i + 1000 * r);
                insert += (i ? ", " : "") + (i % 4 == 0 ? v : i % 4 == 1 ? "'t" + v + "'" : i % 4 == 2 ? "'m" + v + "é'" : v + ".5");
            }
            w->execute(insert + ")");
        }
        w->close();
    }
    expectClean(file, true);
    auto db = jet::Database::open(file);
    std::ostringstream csv;
    jet::DumpOptions o;
    o.format = jet::DumpFormat::Csv;
    o.tables.push_back("Breit");
    ASSERT_TRUE(jet::dump(*db, csv, o).ok());
    std::multiset<std::string> ours, theirs;
    std::istringstream a(csv.str());
    std::string line;
    std::getline(a, line);  // header
    while (std::getline(a, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty())
            ours.insert(line);
    }
    EXPECT_EQ(ours.size(), 3u);
    int status = 0;
    const std::string out = wt::run("mdb-export -Q " + wt::shellQuote(file) + " Breit 2>/dev/null", status);
    if (status != 0)
        return;
    std::istringstream b(out);
    std::getline(b, line);
    while (std::getline(b, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty())
            theirs.insert(line);
    }
    EXPECT_EQ(ours, theirs);
}

TEST(WriteJet3, TextOutsideTheCodePageFailsItsRowByName)
{
    wt::TempDir dir;
    const std::string file = dir.copy("mdb-reader/V1997/test.mdb");
    auto w = jet::Writer::open(file);
    w->execute("CREATE TABLE Names (id LONG, name TEXT(20), note MEMO)");
    w->execute("INSERT INTO Names VALUES (1, 'Œuvre €', 'fine')");
    for (const std::string& bad : {std::string("'Ωmega', 'x'"), std::string("'ok', 'Łódź'")}) {
        try {
            w->execute("INSERT INTO Names VALUES (2, " + bad + ")");
            ADD_FAILURE() << "stored text the code page cannot hold: " << bad;
        } catch (const jet::Error& e) {
            const std::string what = e.what();
            EXPECT_TRUE(what.find("U+03A9") != std::string::npos || what.find("U+0141") != std::string::npos)
                << what;
            EXPECT_NE(what.find("code page"), std::string::npos) << what;
        }
    }
    try {
        w->execute("CREATE TABLE [Ωmega] (a LONG)");
        ADD_FAILURE() << "created a table whose name the code page cannot hold";
    } catch (const jet::Error& e) {
        EXPECT_NE(std::string(e.what()).find("U+03A9"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(w->hasTable("Ωmega"));
    w->close();
    expectClean(file, true);
    auto db = jet::Database::open(file);
    auto t = db->openTable("Names");
    std::ostringstream json;
    jet::DumpOptions o;
    o.tables.push_back("Names");
    jet::dump(*db, json, o);
    const Json doc = wt::parseJson(json.str());
    const auto& got = doc.get("tables")->arr().at(0).get("rows")->arr();
    ASSERT_EQ(got.size(), 1u) << "a failed row left something behind";
    EXPECT_EQ(got[0].arr().at(1).str(), "Œuvre €");
}

TEST(WriteJet3, OtherSortOrdersAreRefusedClearly)
{
    wt::TempDir dir;
    const std::string file = dir.copy("jackcess/V1997/testV1997.mdb");
    // Sort order at 0x3A of the masked header region: unmask, change, mask again.
    std::vector<std::uint8_t> head(0x100);
    {
        std::FILE* f = std::fopen(file.c_str(), "r+b");
        ASSERT_NE(f, nullptr);
        ASSERT_EQ(std::fread(head.data(), 1, head.size(), f), head.size());
        const std::uint8_t key[4] = {0xC7, 0xDA, 0x39, 0x6B};
        jet::rc4Apply(key, 4, head.data() + 0x18, 126);
        ASSERT_EQ(jet::w::rd16(&head[0x3A]), 0x0409);
        jet::w::wr16(&head[0x3A], 0x0419);  // Cyrillic
        jet::rc4Apply(key, 4, head.data() + 0x18, 126);
        std::fseek(f, 0, SEEK_SET);
        std::fwrite(head.data(), 1, head.size(), f);
        std::fclose(f);
    }
    const std::string before = wt::slurp(file);
    try {
        jet::Writer::open(file);
        ADD_FAILURE() << "opened an Access 97 file of another sort order for writing";
    } catch (const jet::Error& e) {
        EXPECT_EQ(e.number(), 3251);
        EXPECT_NE(std::string(e.what()).find("sort order 1049"), std::string::npos) << e.what();
    }
    EXPECT_EQ(wt::slurp(file), before) << "the refused file was changed";
}

// The engine's tables of a new Access 97 file are defined as in the files Access 97 made: the same columns
// (type, number, variable index, flags, length, fixed offset), real and logical indexes, in 2 KiB pages.
TEST(CreateJet3, CatalogueAsAccess97WritesIt)
{
    wt::TempDir dir;
    const std::string file = (dir.path() / "new97.mdb").string();
    jet::createDatabase(file, jet::parseNewFormat("jet3"));
    EXPECT_EQ(std::filesystem::file_size(file) % 2048, 0u);
    std::string head = wt::slurp(file).substr(0, 0x100);
    EXPECT_EQ(head[0x14], 0);
    const std::uint8_t key[4] = {0xC7, 0xDA, 0x39, 0x6B};
    jet::rc4Apply(key, 4, reinterpret_cast<std::uint8_t*>(head.data()) + 0x18, 126);
    EXPECT_EQ(jet::w::rd16(reinterpret_cast<const std::uint8_t*>(head.data()) + 0x3A), 0x0409);
    EXPECT_EQ(jet::w::rd16(reinterpret_cast<const std::uint8_t*>(head.data()) + 0x3C), 1252);

    const std::string access = wt::fixtureFile("mdb-reader/password/V1997_no-password.mdb");
    jet::PageCache ours(jet::openPosixFile(file, false), 2048, file);
    jet::PageCache theirs(jet::openPosixFile(access, false), 2048, access);
    for (std::uint32_t page = 2; page <= 5; ++page) {  // MSysObjects, MSysACEs, MSysQueries, MSysRelationships
        SCOPED_TRACE("table definition on page " + std::to_string(page));
        const jet::w::Table a = jet::w::readTable(ours, page), b = jet::w::readTable(theirs, page);
        ASSERT_EQ(a.cols.size(), b.cols.size());
        EXPECT_EQ(a.varCols, b.varCols);
        for (std::size_t k = 0; k < a.cols.size(); ++k) {
            const jet::w::Col &x = a.cols[k], &y = b.cols[k];
            EXPECT_EQ(x.name, y.name);
            EXPECT_EQ(x.type, y.type) << jet::utf16ToUtf8(x.name);
            EXPECT_EQ(x.number, y.number) << jet::utf16ToUtf8(x.name);
            EXPECT_EQ(x.varIndex, y.varIndex) << jet::utf16ToUtf8(x.name);
            EXPECT_EQ(x.flags, y.flags) << jet::utf16ToUtf8(x.name);
            EXPECT_EQ(x.length, y.length) << jet::utf16ToUtf8(x.name);
            EXPECT_EQ(std::memcmp(x.misc, y.misc, 4), 0) << jet::utf16ToUtf8(x.name);
            if (x.fixed()) {
                EXPECT_EQ(x.fixedOffset, y.fixedOffset) << jet::utf16ToUtf8(x.name);
            }
        }
        ASSERT_EQ(a.indexes.size(), b.indexes.size());
        for (std::size_t k = 0; k < a.indexes.size(); ++k) {
            EXPECT_EQ(a.indexes[k].columns, b.indexes[k].columns);
            EXPECT_EQ(a.indexes[k].flags, b.indexes[k].flags);
        }
        ASSERT_EQ(a.logical.size(), b.logical.size());
        for (std::size_t k = 0; k < a.logical.size(); ++k) {
            EXPECT_EQ(a.logical[k].name, b.logical[k].name);
            EXPECT_EQ(a.logical[k].realIndex, b.logical[k].realIndex);
            EXPECT_EQ(a.logical[k].kind, b.logical[k].kind);
        }
        EXPECT_EQ(a.lvMaps.size(), b.lvMaps.size());
    }
    expectClean(file, true);
    auto db = jet::Database::open(file);
    EXPECT_EQ(db->format(), jet::Format::Jet3);
    EXPECT_TRUE(db->userTableNames().empty());
    EXPECT_EQ(db->sortOrder(), 0x0409);
    if (haveMdbtools()) {
        int status = 0;
        EXPECT_EQ(wt::run("mdb-ver " + wt::shellQuote(file), status), "JET3\n");
        const std::string all = wt::run("mdb-tables -S -1 " + wt::shellQuote(file), status);
        for (const char* t : {"MSysObjects\n", "MSysACEs\n", "MSysQueries\n", "MSysRelationships\n"})
            EXPECT_NE(all.find(t), std::string::npos) << all;
    }
}

// A new Access 97 file takes tables of every type, copies ("renames": copy, then drop the original, as the
// program renames Access tables) and drops; 70 more tables split the catalogue's name index over pages.
// Every reader gives back what went in, and the checker finds nothing, leaks included.
TEST(CreateJet3, NewFileTakesEveryTypeRenameAndDrop)
{
    const std::vector<Row> rows = sampleRows();
    wt::TempDir dir;
    const std::string file = (dir.path() / "new97.mdb").string();
    jet::createDatabase(file, jet::NewFormat::Jet3);
    std::vector<std::string> names;
    for (int k = 0; k < 70; ++k)
        names.push_back("Tabelle mit langem Namen Nummer " + std::to_string(k) + (k % 3 ? " é" : " Å"));
    {
        auto w = jet::Writer::open(file);
        for (const std::string& n : names)
            w->execute("CREATE TABLE [" + n + "] (a LONG, b TEXT(20), c MEMO)");
        w->execute(kCreate);
        for (const Row& r : rows)
            w->execute(insertSql("Mixed 97", r));
        w->execute("SELECT a1.* INTO [Renamed 97] FROM [Mixed 97] AS a1");
        w->execute("DROP TABLE [Mixed 97]");
        for (std::size_t k = 0; k < names.size(); k += 2)
            w->execute("DROP TABLE [" + names[k] + "]");
        w->close();
    }
    expectClean(file, true);
    expectTable(file, "Renamed 97", rows);
    auto db = jet::Database::open(file);
    EXPECT_EQ(db->findObject("Mixed 97"), nullptr);
    EXPECT_EQ(db->userTableNames().size(), 1 + names.size() / 2);
    int status = 0;
    const std::string listed = wt::run("mdb-tables -1 " + wt::shellQuote(file) + " 2>/dev/null", status);
    if (status == 0) {
        for (std::size_t k = 0; k < names.size(); ++k)
            EXPECT_EQ(listed.find(names[k] + "\n") != std::string::npos, k % 2 == 1) << names[k];
    }
}

jet::WriterOptions writerOptions(const std::string& password)
{
    jet::WriterOptions o;
    o.password = password;
    return o;
}

// The database password of a new Access 97 file: plain windows-1252 text under the header mask, checked by our
// reader and writer, read back by mdb-reader; the pages stay readable to mdbtools, as in Access 97's own.
TEST(CreateJet3, DatabasePassword)
{
    const std::string password = "Café-Kennwort 97";
    wt::TempDir dir;
    const std::string file = (dir.path() / "locked97.mdb").string();
    jet::createDatabase(file, jet::NewFormat::Jet3, password);
    for (const std::string& wrong : {std::string(), std::string("café-kennwort 97")}) {
        for (int side = 0; side < 2; ++side) {
            try {
                if (side == 0)
                    jet::Database::open(file, {.password = wrong});
                else
                    jet::Writer::open(file, writerOptions(wrong));
                ADD_FAILURE() << "opened with a wrong password";
            } catch (const jet::Error& e) {
                EXPECT_EQ(e.number(), 3031);
                EXPECT_EQ(std::string(e.what()).find(password), std::string::npos) << e.what();
            }
        }
    }
    {
        auto w = jet::Writer::open(file, writerOptions(password));
        w->execute("CREATE TABLE Geheim (id LONG, name TEXT(30))");
        w->execute("INSERT INTO Geheim VALUES (1, 'Grüße')");
        w->close();
    }
    expectClean(file, true);
    auto db = jet::Database::open(file, {.password = password});
    EXPECT_EQ(db->openTable("Geheim")->countRows(), 1u);
    if (haveMdbtools()) {
        int status = 0;
        const std::string json = wt::run("mdb-json " + wt::shellQuote(file) + " Geheim", status);
        EXPECT_NE(json.find("Grüße"), std::string::npos) << json;
    }
    const std::string oracles = [] {
        const char* d = std::getenv("QM_ORACLES_DIR");
        return d && *d ? std::string(d) : std::string(QM_SOURCE_DIR) + "/../oracles";
    }();
    if (!std::filesystem::exists(oracles + "/node_modules/mdb-reader/package.json"))
        GTEST_SKIP() << "mdb-reader is not installed (scripts/oracles.sh)";
    const std::string script = (dir.path() / "pw.mjs").string();
    std::ofstream(script) << "import MDBReader from 'file://" << oracles << "/node_modules/mdb-reader/lib/node/index.js';\n"
                          << "import { readFileSync } from 'node:fs';\n"
                          << "const r = new MDBReader(readFileSync(process.argv[2]));\n"
                          << "process.stdout.write(r.getPassword() + '|' + r.getTable('Geheim').getData()[0].name);\n";
    int status = 0;
    EXPECT_EQ(wt::run("node " + wt::shellQuote(script) + " " + wt::shellQuote(file) + " 2>&1", status),
              password + "|Grüße");
    // Characters windows-1252 lacks, and more than 20 of them, are refused before a file exists.
    for (const std::string& bad : {std::string("Łódź"), std::string(21, 'x')}) {
        const std::string refused = (dir.path() / "refused.mdb").string();
        try {
            jet::createDatabase(refused, jet::NewFormat::Jet3, bad);
            ADD_FAILURE() << "accepted a password Access 97 cannot hold";
        } catch (const jet::Error& e) {
            EXPECT_EQ(e.number(), 3031);
        }
        EXPECT_FALSE(std::filesystem::exists(refused));
    }
}

}  // namespace
