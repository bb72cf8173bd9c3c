// Primary keys and indexes the writer adds to tables: CREATE TABLE constraints, CREATE INDEX on empty and filled
// tables of every format (new files and copies of Access's own), INSERTs that keep them in step, DROP INDEX,
// and the refusals (duplicates, Nulls, Access's limits) that leave the file as it was. Every file is checked by
// our checker (index entries re-encoded from the rows, unique-key counters, page maps), our reader's schema,
// mdb-schema and mdb-reader.
#include "jet/check.h"
#include "jet/create_db.h"
#include "jet/database.h"
#include "jet/error.h"
#include "jet/schema.h"
#include "jet/writer.h"
#include "write_test_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <set>

namespace {

namespace fs = std::filesystem;

// The checker's findings, unique-key counters included but for the indexes in `inexact`: Access does not
// keep its own counters exact, so a copy of its file is checked against what the checker said of the original.
std::set<std::string> inexactCounters(const std::string& path, const std::string& password = {})
{
    jet::CheckOptions o;
    o.statistics = true;
    o.password = password;
    std::set<std::string> out;
    for (const auto& f : jet::checkFile(path, o))
        if (f.kind == jet::CheckFinding::Kind::Statistic)
            out.insert(f.where);
    return out;
}

std::vector<std::string> findings(const std::string& path, const std::string& password = {},
                                  const std::set<std::string>& inexact = {})
{
    jet::CheckOptions o;
    o.statistics = true;
    o.leaks = true;
    o.password = password;
    std::vector<std::string> out;
    const jet::CheckReport r = jet::checkFileReport(path, o);
    for (const auto& f : r.findings) {
        if (f.kind == jet::CheckFinding::Kind::Statistic && inexact.contains(f.where))
            continue;
        out.push_back(jet::describe(f));
    }
    if (r.unkeyedIndexes)
        out.push_back(std::to_string(r.unkeyedIndexes) + " index(es) left unverified");
    return out;
}

jet::TableSchema schemaOf(const std::string& path, const std::string& table, const std::string& password = {})
{
    jet::OpenOptions o;
    o.password = password;
    auto db = jet::Database::open(path, o);
    return jet::readTableSchema(*db, table);
}

const jet::IndexSchema* indexNamed(const jet::TableSchema& s, const std::string& name)
{
    for (const auto& ix : s.indexes)
        if (ix.name == name)
            return &ix;
    return nullptr;
}

// How many pages a table's definition spans (files without a password).
std::size_t definitionPages(const std::string& path, const std::string& table)
{
    auto db = jet::Database::open(path);
    return jet::w::readTable(db->pages(), db->findObject(table)->tdefPage).tdefPages.size();
}

std::string oraclesDir()
{
    if (const char* d = std::getenv("QM_ORACLES_DIR"); d && *d)
        return d;
    return std::string(QM_SOURCE_DIR) + "/../oracles";
}

// mdb-reader's row count of a table ("error: ..." when it fails); empty when mdb-reader is not installed.
std::string mdbReaderCount(const std::string& file, const std::string& table, const std::string& password,
                           const wt::TempDir& dir)
{
    if (!fs::exists(oraclesDir() + "/node_modules/mdb-reader/package.json"))
        return {};
    const std::string script = (dir.path() / "count.mjs").string();
    std::ofstream(script)
        << "import MDBReader from 'file://" << oraclesDir() << "/node_modules/mdb-reader/lib/node/index.js';\n"
        << "import { readFileSync } from 'node:fs';\n"
        << "try { const r = new MDBReader(readFileSync(process.argv[2]), { password: process.env.QM_PW || undefined });\n"
        << "  process.stdout.write(String(r.getTable(process.argv[3]).getData().length));\n"
        << "} catch (e) { process.stdout.write('error: ' + e.message); }\n";
    ::setenv("QM_PW", password.c_str(), 1);
    int status = 0;
    std::string out = wt::run("node " + wt::shellQuote(script) + " " + wt::shellQuote(file) + " " +
                                  wt::shellQuote(table) + " 2>&1",
                              status);
    ::unsetenv("QM_PW");
    return out;
}

// mdb-schema's index lines for a table; empty when mdbtools is missing or the file is encrypted.
std::string mdbSchema(const std::string& file, const std::string& table)
{
    int status = 0;
    wt::run("command -v mdb-schema >/dev/null 2>&1", status);
    if (status != 0)
        return {};
    return wt::run("mdb-schema --indexes -T " + wt::shellQuote(table) + " " + wt::shellQuote(file) +
                       " postgres 2>&1",
                   status);
}

// Text keys in several scripts (only windows-1252 letters on Access 97).
std::string keyText(int i, bool access97)
{
    static const char* latin[] = {"Zoë", "Ærø", "Ñandú", "O'Brien", "Größe", "café", "Abc", "abc", "naïve"};
    static const char* other[] = {"Ελλάδα", "Москва", "Київ", "ʻOkina", "Ωμέγα", "Ёлка", "Şişli", "Łódź"};
    const bool useOther = !access97 && i % 3 == 1;
    const std::string base = useOther ? other[i % std::size(other)] : latin[i % std::size(latin)];
    return base + " " + std::to_string((i * 7919) % 100000);
}

std::string sqlText(const std::string& s)
{
    std::string r = "'";
    for (char c : s) {
        r += c;
        if (c == '\'')
            r += '\'';
    }
    return r + "'";
}

// Rows of the people table: id, a unique text code, a name with repeats and Nulls, a date, a score.
void insertPeople(jet::Writer& w, int from, int to, bool access97)
{
    w.beginBatch();
    for (int i = from; i < to; ++i) {
        const std::string name = i % 11 == 0 ? "NULL" : sqlText(keyText(i % 50, access97));
        const std::string score = i % 13 == 0 ? "NULL" : std::to_string((i * 37) % 1000 - 500);
        w.execute("INSERT INTO people (id, code, name, born, score) VALUES (" + std::to_string(i) + ", " +
                  sqlText(keyText(i, access97) + "#" + std::to_string(i)) + ", " + name + ", " +
                  std::to_string(20000 + i % 3000) + ".25, " + score + ")");
    }
    w.commitBatch();
}

void expectUnchanged(const std::string& path, const std::function<void()>& statement, int error)
{
    const std::string before = wt::slurp(path);
    EXPECT_EQ(wt::errorOf(statement), error);
    EXPECT_TRUE(wt::slurp(path) == before) << "the file changed after a refused statement (" << error << ")";
}

// The whole life of indexes in one file: keys made with the table, indexes built over thousands of rows,
// INSERTs after, refusals, DROP INDEX.
void exerciseIndexes(const std::string& path, const std::string& password, bool access97, const wt::TempDir& dir)
{
    jet::WriterOptions wo;
    wo.password = password;
    {
        auto w = jet::Writer::open(path, std::move(wo));
        w->execute("CREATE TABLE people (id LONG CONSTRAINT pk PRIMARY KEY, code TEXT(60) NOT NULL UNIQUE, "
                   "name TEXT(40), born DATETIME, score SMALLINT, note MEMO, pic OLEOBJECT)");
        insertPeople(*w, 0, 1500, access97);
        // Built from the rows: descending, multi-column, ignore-nulls.
        w->execute("CREATE INDEX byName ON people (name, born DESC)");
        w->execute("CREATE INDEX byScore ON people (score DESC) WITH IGNORE NULL");
        w->execute("CREATE UNIQUE INDEX byCodeId ON people (code ASC, id DESC)");
        insertPeople(*w, 1500, 3000, access97);

        // Refusals: the file stays byte for byte as it was.
        expectUnchanged(path, [&] { w->execute("INSERT INTO people (id, code) VALUES (5, 'new code')"); }, 3022);
        expectUnchanged(path, [&] { w->execute("INSERT INTO people (id, code) VALUES (99999, " +
                                               sqlText(keyText(7, access97) + "#7") + ")"); }, 3022);
        expectUnchanged(path, [&] { w->execute("INSERT INTO people (code) VALUES ('no id')"); }, 3058);
        expectUnchanged(path, [&] { w->execute("CREATE UNIQUE INDEX u ON people (name)"); }, 3022);
        expectUnchanged(path, [&] { w->execute("CREATE INDEX u ON people (score) WITH DISALLOW NULL"); }, 3058);
        expectUnchanged(path, [&] { w->execute("CREATE INDEX pk2 ON people (code) WITH PRIMARY"); }, 3283);
        expectUnchanged(path, [&] { w->execute("CREATE INDEX BYNAME ON people (score)"); }, 3375);
        expectUnchanged(path, [&] { w->execute("CREATE INDEX p ON people (pic)"); }, 3251);
        expectUnchanged(path, [&] { w->execute("CREATE INDEX p ON people (missing)"); }, 3265);
        expectUnchanged(path, [&] { w->execute("CREATE INDEX " + std::string(65, 'x') + " ON people (id)"); },
                        3125);
        expectUnchanged(path, [&] { w->execute("DROP INDEX nothing ON people"); }, 3265);
        // A unique index takes any number of rows whose key fields are all Null, as Access's do.
        w->execute("CREATE TABLE opt (a LONG UNIQUE, b TEXT(10))");
        w->execute("INSERT INTO opt (b) VALUES ('x')");
        w->execute("INSERT INTO opt (b) VALUES ('y')");
        w->execute("INSERT INTO opt (a) VALUES (1)");
        expectUnchanged(path, [&] { w->execute("INSERT INTO opt (a) VALUES (1)"); }, 3022);
        w->close();
    }
    EXPECT_EQ(findings(path, password), std::vector<std::string>{});

    const jet::TableSchema s = schemaOf(path, "people", password);
    ASSERT_EQ(s.indexes.size(), 5u);
    const jet::IndexSchema* pk = indexNamed(s, "pk");
    ASSERT_NE(pk, nullptr);
    EXPECT_TRUE(pk->primary && pk->unique && pk->required);
    const jet::IndexSchema* code = indexNamed(s, "code");  // a column's own UNIQUE is named after the column
    ASSERT_NE(code, nullptr);
    EXPECT_TRUE(code->unique && !code->primary);
    const jet::IndexSchema* byName = indexNamed(s, "byName");
    ASSERT_NE(byName, nullptr);
    ASSERT_EQ(byName->columns.size(), 2u);
    EXPECT_EQ(byName->columns[1].name, "born");
    EXPECT_FALSE(byName->columns[1].ascending);
    const jet::IndexSchema* byScore = indexNamed(s, "byScore");
    ASSERT_NE(byScore, nullptr);
    EXPECT_TRUE(byScore->ignoreNulls);

    if (password.empty()) {
        const std::string schema = mdbSchema(path, "people");
        if (!schema.empty()) {
            EXPECT_NE(schema.find("PRIMARY KEY"), std::string::npos) << schema;
            EXPECT_NE(schema.find("byname"), std::string::npos) << schema;
            EXPECT_NE(schema.find("UNIQUE"), std::string::npos) << schema;
        }
    }
    const std::string count = mdbReaderCount(path, "people", password, dir);
    if (!count.empty()) {
        EXPECT_EQ(count, "3000");
    }

    // DROP INDEX frees the pages of an index no other one uses.
    {
        jet::WriterOptions wo2;
        wo2.password = password;
        auto w = jet::Writer::open(path, std::move(wo2));
        w->execute("DROP INDEX byName ON people");
        w->execute("DROP INDEX pk ON people");
        insertPeople(*w, 3000, 3100, access97);
        w->execute("INSERT INTO people (code) VALUES ('no id is fine now')");
        w->close();
    }
    EXPECT_EQ(findings(path, password), std::vector<std::string>{});
    const jet::TableSchema after = schemaOf(path, "people", password);
    EXPECT_EQ(after.indexes.size(), 3u);
    EXPECT_EQ(indexNamed(after, "byName"), nullptr);
    EXPECT_EQ(indexNamed(after, "pk"), nullptr);
    if (password.empty()) {
        // Index numbers now have gaps, as in Access's files after a deletion; other readers still follow.
        const std::string schema = mdbSchema(path, "people");
        if (!schema.empty()) {
            EXPECT_EQ(schema.find("byname"), std::string::npos) << schema;
            EXPECT_EQ(schema.find("PRIMARY KEY"), std::string::npos) << schema;
            EXPECT_NE(schema.find("people_byscore_idx"), std::string::npos) << schema;
            EXPECT_NE(schema.find("people_bycodeid_idx"), std::string::npos) << schema;
        }
    }
    const std::string count2 = mdbReaderCount(path, "people", password, dir);
    if (!count2.empty()) {
        EXPECT_EQ(count2, "3101");
    }
}

TEST(WriteIndex, EveryNewFormat)
{
    for (const auto& c : wt::kEveryNewFormat) {
        SCOPED_TRACE(c.file);
        wt::TempDir dir;
        const std::string path = (dir.path() / c.file).string();
        jet::createDatabase(path, c.format, c.password);
        exerciseIndexes(path, c.password, c.format == jet::NewFormat::Jet3, dir);
    }
}

// Copies of Access's own files: a new index on a table Access made and filled, kept in step by INSERTs, and
// Access's indexes untouched by it.
TEST(WriteIndex, AccessMadeFiles)
{
    struct Case {
        const char* file;
        const char* table;
        const char* column;
        const char* id;
        const char* password;
        const char* nulls;  // columns given as Null: foreign keys whose DefaultValue (0) has no parent
    };
    const char* const fks = ", otherfk1, otherfk2, otherfk3";
    const Case cases[] = {{"jackcess/V1997/indexTestV1997.mdb", "Table1", "data", "id", "", fks},
                          {"jackcess/V2000/indexTestV2000.mdb", "Table1", "data", "id", "", fks},
                          {"jackcess/V2007/indexTestV2007.accdb", "Table1", "data", "id", "", fks},
                          {"jackcess-encrypt/db2013-enc.accdb", "Customers", "Field1", "ID", "1234", ""}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        wt::TempDir dir;
        const std::string path = dir.copy(c.file);
        const jet::TableSchema before = schemaOf(path, c.table, c.password);
        const std::set<std::string> inexact = inexactCounters(path, c.password);
        const std::string count0 = mdbReaderCount(path, c.table, c.password, dir);
        auto open = [&] {
            jet::WriterOptions o;
            o.password = c.password;
            return jet::Writer::open(path, std::move(o));
        };
        {
            auto w = open();
            w->execute(std::string("CREATE INDEX qmData ON ") + c.table + " (" + c.column + " DESC)");
            w->execute(std::string("CREATE INDEX qmBoth ON ") + c.table + " (" + c.column + ", " + c.id + ")");
            for (int i = 0; i < 400; ++i)
                w->execute(std::string("INSERT INTO ") + c.table + " (" + c.id + ", " + c.column + c.nulls +
                           ") VALUES (" + std::to_string(1000 + i) + ", " + sqlText("row " + std::to_string(i * 31 % 97)) +
                           (*c.nulls ? ", NULL, NULL, NULL)" : ")"));
            w->close();
        }
        EXPECT_EQ(findings(path, c.password, inexact), std::vector<std::string>{});
        const jet::TableSchema after = schemaOf(path, c.table, c.password);
        EXPECT_EQ(after.indexes.size(), before.indexes.size() + 2);
        for (const auto& ix : before.indexes) {
            const jet::IndexSchema* kept = indexNamed(after, ix.name);
            ASSERT_NE(kept, nullptr) << ix.name;
            EXPECT_EQ(kept->primary, ix.primary);
            EXPECT_EQ(kept->foreignKey, ix.foreignKey);
            EXPECT_EQ(kept->referencedTable, ix.referencedTable);
            EXPECT_EQ(kept->columns.size(), ix.columns.size());
        }
        {
            auto w = open();
            w->execute(std::string("DROP INDEX qmData ON ") + c.table);
            w->execute(std::string("DROP INDEX qmBoth ON ") + c.table);
            w->close();
        }
        EXPECT_EQ(findings(path, c.password, inexact), std::vector<std::string>{});
        EXPECT_EQ(schemaOf(path, c.table, c.password).indexes.size(), before.indexes.size());
        const std::string count = mdbReaderCount(path, c.table, c.password, dir);
        if (!count0.empty() && count0.rfind("error", 0) != 0) {
            EXPECT_EQ(count, std::to_string(std::stoi(count0) + 400));
        }
    }
}

// An index a relationship relies on stays, with Access's 3303 naming the relationship; the file is unchanged.
TEST(WriteIndex, IndexesOfRelationshipsStay)
{
    for (const char* file : {"jackcess/V1997/indexTestV1997.mdb", "jackcess/V2000/indexTestV2000.mdb",
                             "jackcess/V2007/indexTestV2007.accdb"}) {
        SCOPED_TRACE(file);
        wt::TempDir dir;
        const std::string path = dir.copy(file);
        const std::set<std::string> inexact = inexactCounters(path);
        auto w = jet::Writer::open(path);
        std::string message;
        expectUnchanged(path, [&] {
            try {
                w->execute("DROP INDEX PrimaryKey ON Table2");
            } catch (const jet::Error& e) {
                message = e.what();
                throw;
            }
        }, 3303);
        EXPECT_NE(message.find("Table2Table1"), std::string::npos) << message;
        expectUnchanged(path, [&] { w->execute("DROP INDEX [.rC] ON Table2"); }, 3303);
        w->execute("DROP INDEX id ON Table2");  // a plain index beside the key: no relationship uses it
        w->close();
        EXPECT_EQ(schemaOf(path, "Table2").indexes.size(), 2u);
        EXPECT_EQ(findings(path, "", inexact), std::vector<std::string>{});
    }
}

// Access's limits, checked before anything is written.
TEST(WriteIndex, AccessLimits)
{
    for (const auto& c : wt::kEveryNewFormat) {
        if (c.password[0])
            continue;
        SCOPED_TRACE(c.file);
        wt::TempDir dir;
        const std::string path = (dir.path() / c.file).string();
        jet::createDatabase(path, c.format);
        auto w = jet::Writer::open(path);
        std::string cols;
        for (int i = 0; i < 12; ++i)
            cols += (i ? ", c" : "c") + std::to_string(i) + " LONG";
        w->execute("CREATE TABLE wide (" + cols + ", m MEMO)");
        w->execute("INSERT INTO wide (c0, c1) VALUES (1, 2)");
        std::string eleven;
        for (int i = 0; i < 11; ++i)
            eleven += (i ? ", c" : "c") + std::to_string(i);
        expectUnchanged(path, [&] { w->execute("CREATE INDEX i11 ON wide (" + eleven + ")"); }, 3277);
        w->execute("CREATE INDEX i10 ON wide (" + eleven.substr(0, eleven.rfind(',')) + ")");
        const int memo = wt::errorOf([&] { w->execute("CREATE INDEX im ON wide (m)"); });
        // Memo fields can be indexed from Access 2007 on.
        EXPECT_EQ(memo, c.format == jet::NewFormat::Jet3 || c.format == jet::NewFormat::Jet4 ? 3251 : 0);
        const int have = memo == 0 ? 2 : 1;
        // Names of 64 characters, the most Access takes: the definition needs more pages.
        auto longName = [](int i) { return "x" + std::to_string(i) + std::string(61, 'n'); };
        const std::size_t pagesBefore = definitionPages(path, "wide");
        for (int i = have; i < 32; ++i)
            w->execute("CREATE INDEX " + longName(i) + " ON wide (c" + std::to_string(i % 12) + ")");
        expectUnchanged(path, [&] { w->execute("CREATE INDEX x32 ON wide (c1)"); }, 3626);
        w->close();
        EXPECT_EQ(findings(path), std::vector<std::string>{});
        EXPECT_EQ(schemaOf(path, "wide").indexes.size(), 32u);
        EXPECT_GT(definitionPages(path, "wide"), pagesBefore);
        // The definition grew onto more pages; dropping every index (shared real indexes last) gives them back.
        const auto size = fs::file_size(path);
        w = jet::Writer::open(path);
        for (int i = have; i < 32; ++i)
            w->execute("DROP INDEX " + longName(i) + " ON wide");
        w->execute("DROP INDEX i10 ON wide");
        if (have == 2)
            w->execute("DROP INDEX im ON wide");
        w->execute("INSERT INTO wide (c0, c1) VALUES (3, 4)");
        w->close();
        EXPECT_EQ(findings(path), std::vector<std::string>{});
        EXPECT_EQ(schemaOf(path, "wide").indexes.size(), 0u);
        EXPECT_EQ(fs::file_size(path), size);
        EXPECT_EQ(definitionPages(path, "wide"), pagesBefore);
    }
}

// Random tables with long text keys, so that built trees have several node levels: rows, then indexes built from
// them (random columns, orders, ignore-nulls), then more rows that split pages on every level of those trees.
TEST(WriteIndex, RandomTreesBuiltThenGrown)
{
    for (const auto format : {jet::NewFormat::Jet3, jet::NewFormat::Jet4, jet::NewFormat::Ace14}) {
        for (unsigned seed = 1; seed <= 2; ++seed) {
            SCOPED_TRACE("format " + std::to_string(static_cast<int>(format)) + " seed " + std::to_string(seed));
            std::mt19937 rng(seed);
            auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
            const bool access97 = format == jet::NewFormat::Jet3;
            wt::TempDir dir;
            const std::string path = (dir.path() / "r.db").string();
            jet::createDatabase(path, format);
            auto w = jet::Writer::open(path);
            w->execute("CREATE TABLE r (n LONG, t TEXT(200), d DOUBLE, b BIT, w DATETIME, s SMALLINT)");
            auto insert = [&](int from, int to) {
                w->beginBatch();
                for (int i = from; i < to; ++i) {
                    std::string t = keyText(pick(400), access97);
                    t += std::string(static_cast<std::size_t>(pick(90)), static_cast<char>('a' + pick(3)));
                    w->execute("INSERT INTO r VALUES (" + (pick(10) ? std::to_string(pick(5000)) : "NULL") + ", " +
                               (pick(12) ? sqlText(t) : "NULL") + ", " + std::to_string(pick(1000) / 7.0) + ", " +
                               (pick(2) ? "True" : "False") + ", " + std::to_string(30000 + pick(400)) + ".5, " +
                               (pick(8) ? std::to_string(pick(200) - 100) : "NULL") + ")");
                }
                w->commitBatch();
            };
            insert(0, 3000);
            const char* cols[] = {"n", "t", "d", "b", "w", "s"};
            for (int k = 0; k < 4; ++k) {
                std::set<int> chosen{1};  // every index has the long text, for depth
                const int extra = pick(3);
                for (int j = 0; j < extra; ++j)
                    chosen.insert(pick(6));
                std::string list;
                for (int c : chosen)
                    list += std::string(list.empty() ? "" : ", ") + cols[c] + (pick(2) ? " DESC" : "");
                w->execute("CREATE INDEX i" + std::to_string(k) + " ON r (" + list + ")" +
                           (pick(2) ? " WITH IGNORE NULL" : ""));
            }
            insert(3000, 6000);
            w->close();
            EXPECT_EQ(findings(path), std::vector<std::string>{});
            // Deep enough that the INSERTs split nodes, not only leaves.
            auto db = jet::Database::open(path);
            const jet::w::Table t = jet::w::readTable(db->pages(), db->findObject("r")->tdefPage);
            std::size_t depth = 1;
            for (auto ip = jet::w::readIndexPage(db->pages(), t.indexes.at(0).root); !ip.leaf();
                 ip = jet::w::readIndexPage(db->pages(), ip.tail))
                ++depth;
            EXPECT_GE(depth, 3u);
        }
    }
}

// A unique index refuses every duplicate, wherever its twin sits: first or last on a leaf, on the leaf before or
// after; the counters stay exact. Long keys make many leaves, so that many entries sit at a leaf's edge.
TEST(WriteIndex, DuplicatesAtLeafEdges)
{
    for (const auto format : {jet::NewFormat::Jet3, jet::NewFormat::Ace16}) {
        wt::TempDir dir;
        const std::string path = (dir.path() / "u.db").string();
        jet::createDatabase(path, format);
        auto w = jet::Writer::open(path);
        w->execute("CREATE TABLE u (k TEXT(120), n LONG)");
        auto key = [](int i) { return std::string(100, 'k') + std::to_string(100000 + i); };
        w->beginBatch();
        for (int i = 0; i < 1200; i += 2)
            w->execute("INSERT INTO u VALUES ('" + key(i) + "', " + std::to_string(i) + ")");
        w->commitBatch();
        w->execute("CREATE UNIQUE INDEX uk ON u (k)");  // built: full leaves
        int refused = 0;
        for (int round = 0; round < 2; ++round) {
            for (int i = 0; i < 1200; i += 2)
                refused += wt::errorOf([&] { w->execute("INSERT INTO u VALUES ('" + key(i) + "', -1)"); }) == 3022;
            if (round == 0) {  // odd keys in between: leaves split, entries move between pages
                w->beginBatch();
                for (int i = 1; i < 1200; i += 2)
                    w->execute("INSERT INTO u VALUES ('" + key(i) + "', " + std::to_string(i) + ")");
                w->commitBatch();
            }
        }
        EXPECT_EQ(refused, 1200);
        w->close();
        EXPECT_EQ(findings(path), std::vector<std::string>{});
    }
}

}  // namespace
