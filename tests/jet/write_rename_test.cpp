// Renaming a table in place, on copies of Access-made files with relationships (Access 97, 2000, 2007) and on
// new files of each format (an encrypted one too): the table keeps its definition, rows, keys, indexes and
// relationships under the new name, stays protected by its relationships, and a refused rename changes nothing.
#include "jet/check.h"
#include "jet/create_db.h"
#include "jet/database.h"
#include "jet/dump.h"
#include "jet/error.h"
#include "jet/rename.h"
#include "jet/schema.h"
#include "jet/writer.h"
#include "write_test_util.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

using jet::Writer;

using wt::errorOf;

std::vector<std::string> findings(const std::string& path, const std::string& password = {})
{
    std::vector<std::string> out;
    for (const auto& f : jet::checkFile(path, {.password = password}))
        out.push_back(jet::describe(f));
    return out;
}

// The table's rows as our dump writes them.
std::string rowsOf(jet::Database& db, const std::string& table)
{
    std::ostringstream out;
    jet::DumpOptions options;
    options.tables = {table};
    jet::dump(db, out, options);
    return out.str();
}

std::string replaced(std::string text, const std::string& from, const std::string& to)
{
    for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
        text.replace(at, from.size(), to);
    return text;
}

// Every relationship as one line, table names as stored.
std::vector<std::string> relationships(const jet::Database& db)
{
    std::vector<std::string> out;
    for (const auto& r : jet::readRelationships(db))
        out.push_back(r.name + ":" + r.table + "->" + r.referencedTable + ":" + std::to_string(r.flags));
    return out;
}

TEST(WriteRename, AccessMadeTablesKeepEverythingUnderTheNewName)
{
    wt::TempDir tmp;
    for (const char* fixture : {"jackcess/V1997/indexTestV1997.mdb", "jackcess/V2000/indexTestV2000.mdb",
                                "jackcess/V2007/indexTestV2007.accdb"}) {
        SCOPED_TRACE(fixture);
        const std::string path = tmp.copy(fixture);
        const std::string newName = "Städte Table";
        std::string schemaBefore, dumpBefore;
        std::vector<std::string> relBefore;
        const auto checkBefore = findings(path);
        {
            const auto db = jet::Database::open(path);
            schemaBefore = jet::schemaJson(*db, {"Table2"});
            relBefore = relationships(*db);
            dumpBefore = rowsOf(*db, "Table2");
        }
        {
            auto w = Writer::open(path);
            jet::renameTable(*w, "table2", newName);  // the old name found ignoring case
            // Still in a relationship: the rename did not copy the table away from it.
            EXPECT_EQ(errorOf([&] { w->execute("DROP TABLE `" + newName + "`"); }), 3303);
            EXPECT_FALSE(w->hasTable("Table2"));
            EXPECT_TRUE(w->hasTable(newName));
            w->close();
        }
        EXPECT_EQ(findings(path), checkBefore);
        const auto db = jet::Database::open(path);
        // The relationship keeps its own name ("Table2Table1"), as in Access.
        EXPECT_EQ(jet::schemaJson(*db, {newName}), replaced(schemaBefore, "\"Table2\"", "\"" + newName + "\""));
        std::vector<std::string> relWanted;
        for (const auto& r : relBefore)
            relWanted.push_back(replaced(r, "->Table2:", "->" + newName + ":"));
        EXPECT_EQ(relationships(*db), relWanted);
        EXPECT_EQ(db->findObject("Table2"), nullptr);
        EXPECT_EQ(rowsOf(*db, newName), replaced(dumpBefore, "\"Table2\"", "\"" + newName + "\""));
    }
}

TEST(WriteRename, RefusedRenamesChangeNothing)
{
    wt::TempDir tmp;
    const std::string path = tmp.copy("jackcess/V2007/indexTestV2007.accdb");
    const std::string before = wt::slurp(path);
    auto w = Writer::open(path);
    EXPECT_EQ(errorOf([&] { jet::renameTable(*w, "NoSuchTable", "x"); }), 3376);
    EXPECT_EQ(errorOf([&] { jet::renameTable(*w, "Table2", "TABLE3"); }), 3010);
    EXPECT_EQ(errorOf([&] { jet::renameTable(*w, "Table2", "a.b"); }), 3125);
    EXPECT_EQ(errorOf([&] { jet::renameTable(*w, "Table2", std::string(65, 'x')); }), 3125);
    w->close();
    EXPECT_EQ(wt::slurp(path), before);
}

TEST(WriteRename, NewFilesOfEachFormatAndAnEncryptedOne)
{
    wt::TempDir tmp;
    for (const auto& c : wt::kEveryNewFormat) {
        SCOPED_TRACE(c.file);
        const std::string path = (tmp.path() / c.file).string();
        jet::createDatabase(path, c.format, c.password);
        {
            jet::WriterOptions options;
            options.password = c.password;
            auto w = Writer::open(path, std::move(options));
            w->execute("CREATE TABLE orders (id COUNTER, note VARCHAR(20))");
            w->execute("INSERT INTO orders (note) VALUES('one')");
            jet::renameTable(*w, "orders", "Orders");  // letter case only: a rename too
            jet::renameTable(*w, "Orders", "Bestellungen");
            w->execute("INSERT INTO Bestellungen (note) VALUES('two')");
            w->close();
        }
        EXPECT_EQ(findings(path, c.password), std::vector<std::string>{});
        const auto db = jet::Database::open(path, {.password = c.password});
        EXPECT_EQ(db->userTableNames(), std::vector<std::string>{"Bestellungen"});
        EXPECT_EQ(db->openTable("Bestellungen")->countRows(), 2u);  // the AutoNumber went on: 1, 2
    }
}

}  // namespace
