// Relationships with referential integrity and the checks of INSERT: the statements parse; relationships that
// Access made are enforced; Required columns refuse Null; relationships added by the engine to new files of every
// format and to copies of Access-made files are found by our schema reader and by mdbtools, open in mdb-reader,
// pass the checker, are enforced, and go away again with DROP CONSTRAINT.
#include "jet/check.h"
#include "jet/create_db.h"
#include "jet/database.h"
#include "jet/error.h"
#include "jet/schema.h"
#include "jet/sql.h"
#include "jet/writer.h"
#include "jet/writer_props.h"
#include "write_test_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>

namespace {

using jet::Writer;
namespace fs = std::filesystem;

std::string errorText(const std::function<void()>& f)
{
    try {
        f();
    } catch (const jet::Error& e) {
        return std::to_string(e.number()) + " " + e.what();
    }
    return "";
}

void expectClean(const std::string& path, const std::string& password = "")
{
    for (const auto& f : jet::checkFile(path, {.password = password}))
        ADD_FAILURE() << path << ": " << jet::describe(f);
}

// mdb-schema's foreign keys of one table ("" when mdbtools is missing).
std::string mdbSchemaRelations(const std::string& path, const std::string& table)
{
    int status = 0;
    const std::string out = wt::run("mdb-schema --relations -T " + wt::shellQuote(table) + " " +
                                        wt::shellQuote(path) + " postgres 2>/dev/null",
                                    status);
    return status == 0 ? out : std::string();
}

std::string mdbReaderDir()
{
    if (const char* env = std::getenv("QM_ORACLES_DIR");
        env && *env && fs::exists(std::string(env) + "/node_modules/mdb-reader"))
        return env;
    return {};
}

// mdb-reader opens the file and reads the tables; returns their row counts.
std::map<std::string, std::size_t> mdbReaderCounts(const std::string& path)
{
    std::map<std::string, std::size_t> counts;
    const std::string dir = mdbReaderDir();
    if (dir.empty()) {
        std::cout << "[ SKIPPED  ] mdb-reader comparison: set QM_ORACLES_DIR (scripts/oracles.sh)\n";
        return counts;
    }
    EXPECT_TRUE(wt::placeMdbReaderScript(dir));
    int status = 0;
    const std::string out =
        wt::run("node " + wt::shellQuote(dir + "/mdb_reader_dump.mjs") + " " + wt::shellQuote(path) + " 2>&1", status);
    EXPECT_EQ(status, 0) << out.substr(0, 400);
    if (status != 0)
        return counts;
    const wt::Json doc = wt::parseJson(out);
    for (const auto& [name, table] : doc.get("tables")->obj())
        counts[name] = table.get("rows")->arr().size();
    return counts;
}

const jet::RelationshipSchema* findRelationship(const std::vector<jet::RelationshipSchema>& all,
                                                const std::string& name)
{
    for (const auto& r : all)
        if (r.name == name)
            return &r;
    return nullptr;
}

TEST(WriteRelations, ParsesForeignKeysAndDropConstraint)
{
    using namespace jet::sql;
    const Statement st = parse("ALTER TABLE [Order Lines] ADD CONSTRAINT fk_ol FOREIGN KEY (`order`, line) "
                               "REFERENCES Orders ([id], no) ON UPDATE CASCADE ON DELETE SET NULL;");
    ASSERT_TRUE(std::holds_alternative<AddForeignKey>(st));
    const auto& fk = std::get<AddForeignKey>(st);
    EXPECT_EQ(fk.table, "Order Lines");
    EXPECT_EQ(fk.name, "fk_ol");
    EXPECT_EQ(fk.columns, (std::vector<std::string>{"order", "line"}));
    EXPECT_EQ(fk.referencedTable, "Orders");
    EXPECT_EQ(fk.referencedColumns, (std::vector<std::string>{"id", "no"}));
    EXPECT_TRUE(fk.cascadeUpdates);
    EXPECT_FALSE(fk.cascadeDeletes);
    EXPECT_TRUE(fk.cascadeSetNull);

    const auto plain = std::get<AddForeignKey>(
        parse("alter table a add constraint c foreign key (x) references b (y) on delete cascade"));
    EXPECT_FALSE(plain.cascadeUpdates);
    EXPECT_TRUE(plain.cascadeDeletes);
    EXPECT_FALSE(plain.cascadeSetNull);

    const auto drop = std::get<DropConstraint>(parse("ALTER TABLE t DROP CONSTRAINT [my key]"));
    EXPECT_EQ(drop.table, "t");
    EXPECT_EQ(drop.name, "my key");

    // Malformed: each refused as a syntax error of ALTER TABLE that says where.
    for (const char* bad : {"ALTER TABLE a ADD CONSTRAINT c FOREIGN KEY (x, y) REFERENCES b (y)",
                            "ALTER TABLE a ADD CONSTRAINT c FOREIGN KEY (x) REFERENCES b",
                            "ALTER TABLE a ADD CONSTRAINT c FOREIGN KEY () REFERENCES b (y)",
                            "ALTER TABLE a ADD CONSTRAINT c FOREIGN KEY (x) REFERENCES b (y) ON DELETE CASCADE "
                            "ON DELETE SET NULL",
                            "ALTER TABLE a ADD CONSTRAINT c FOREIGN KEY (x) REFERENCES b (y) ON UPDATE SET NULL",
                            "ALTER TABLE a ADD CONSTRAINT c FOREIGN KEY (x) REFERENCES b (y) extra",
                            "ALTER TABLE a DROP CONSTRAINT", "ALTER TABLE a RENAME TO b"}) {
        SCOPED_TRACE(bad);
        const std::string text = errorText([&] { parse(bad); });
        EXPECT_EQ(text.substr(0, 5), "3293 ") << text;
        EXPECT_NE(text.find("ALTER TABLE"), std::string::npos) << text;
    }
}

// Relationships Access made are enforced by our INSERT: an orphan is refused and the file stays byte for byte;
// a row with a parent, or with a Null foreign key, goes in; a related table cannot be dropped.
TEST(WriteRelations, AccessMadeRelationshipsAreEnforced)
{
    wt::TempDir tmp;
    for (const char* fixture : {"jackcess/V1997/indexTestV1997.mdb", "jackcess/V2000/indexTestV2000.mdb",
                                "jackcess/V2007/indexTestV2007.accdb"}) {
        SCOPED_TRACE(fixture);
        const std::string path = tmp.copy(fixture);
        {
            auto w = Writer::open(path);
            // Table1.otherfk1 -> Table2.id (ids 0..2), Table1.otherfk2 -> Table3.id (ids 10..13).
            w->execute("INSERT INTO Table1 (id, otherfk1, otherfk2, data) VALUES (20, 2, 12, 'has parents')");
            w->execute("INSERT INTO Table1 (id, otherfk1, otherfk2, data) VALUES (21, NULL, 13, 'null key')");
            w->close();
        }
        const std::string before = wt::slurp(path);
        {
            auto w = Writer::open(path);
            EXPECT_EQ(errorText([&] {
                          w->execute("INSERT INTO Table1 (id, otherfk1, otherfk2, data) VALUES (22, 3, 12, 'x')");
                      }),
                      "3201 You cannot add or change a record because a related record is required in table "
                      "'Table2'.");
            EXPECT_EQ(errorText([&] {
                          w->execute("INSERT INTO Table1 (id, otherfk1, otherfk2, data) VALUES (23, 0, 9, 'x')");
                      }),
                      "3201 You cannot add or change a record because a related record is required in table "
                      "'Table3'.");
            EXPECT_EQ(wt::errorOf([&] { w->execute("DROP TABLE Table2"); }), 3303);
            EXPECT_EQ(wt::errorOf([&] { w->execute("DROP TABLE Table1"); }), 3303);
            w->close();
        }
        EXPECT_EQ(wt::slurp(path), before) << "a refused statement changed the file";
        expectClean(path);
        const auto db = jet::Database::open(path);
        EXPECT_EQ(db->openTable("Table1")->countRows(), 6u);
    }
}

// A key lookup that has to descend: a parent table of many rows, its primary key several levels deep.
TEST(WriteRelations, LookupDescendsADeepIndex)
{
    wt::TempDir tmp;
    const std::string path = tmp.copy("jackcess/V2000/indexTestV2000.mdb");
    auto w = Writer::open(path);
    // Table3's key is a Long; give it thousands of rows so its primary key grows several levels deep.
    w->beginBatch();
    for (int i = 100; i < 6100; ++i)
        w->execute("INSERT INTO Table3 (id, data) VALUES (" + std::to_string(i) + ", 'parent " + std::to_string(i) +
                   "')");
    w->commitBatch();
    for (int i = 100; i < 6100; i += 97)
        EXPECT_EQ(wt::errorOf([&] {
                      w->execute("INSERT INTO Table1 (id, otherfk1, otherfk2, data) VALUES (" +
                                 std::to_string(100000 + i) + ", 1, " + std::to_string(i) + ", 'child')");
                  }),
                  0)
            << i;
    for (int missing : {-1, 99, 6100, 1 << 30})
        EXPECT_EQ(wt::errorOf([&] {
                      w->execute("INSERT INTO Table1 (id, otherfk1, otherfk2, data) VALUES (7, 1, " +
                                 std::to_string(missing) + ", 'orphan')");
                  }),
                  3201)
            << missing;
    w->close();
    expectClean(path);
}

// Required: Null refused with Access's message, in every format; the check follows the property as it changes.
TEST(WriteRelations, RequiredColumnsRefuseNull)
{
    wt::TempDir tmp;
    for (const auto& c : wt::kEveryNewFormat) {
        SCOPED_TRACE(c.file);
        const std::string path = (tmp.path() / c.file).string();
        jet::createDatabase(path, c.format, c.password);
        jet::WriterOptions options;
        options.password = c.password;
        auto w = Writer::open(path, std::move(options));
        w->execute("CREATE TABLE Kunden (id COUNTER, name VARCHAR(40), flag BIT, qty INT)");
        w->execute("INSERT INTO Kunden (name, qty) VALUES (NULL, 1)");  // not required yet
        jet::PropertyChange required;
        required.column = "name";
        required.required = true;
        jet::PropertyChange idRequired;  // AutoNumbers are filled in: never refused
        idRequired.column = "id";
        idRequired.required = true;
        jet::setProperties(*w, "Kunden", {required, idRequired});
        EXPECT_EQ(errorText([&] { w->execute("INSERT INTO Kunden (name, qty) VALUES (NULL, 2)"); }),
                  "3314 You must enter a value in the 'Kunden.name' field.");
        EXPECT_EQ(wt::errorOf([&] { w->execute("INSERT INTO Kunden (qty) VALUES (3)"); }), 3314);  // left out
        w->execute("INSERT INTO Kunden (name, qty) VALUES ('', NULL)");  // a zero-length text is a value
        w->execute("INSERT INTO Kunden (name, flag) VALUES ('b', NULL)");
        required.required = false;
        jet::setProperties(*w, "Kunden", {required});
        w->execute("INSERT INTO Kunden (name) VALUES (NULL)");
        // NOT NULL in CREATE TABLE is the Required property, as Access makes it.
        w->execute("CREATE TABLE Notiz (nr COUNTER NOT NULL, titel TEXT(10) NOT NULL, ok BIT NOT NULL, n LONG)");
        EXPECT_EQ(errorText([&] { w->execute("INSERT INTO Notiz (n) VALUES (1)"); }),
                  "3314 You must enter a value in the 'Notiz.titel' field.");
        w->execute("INSERT INTO Notiz (titel) VALUES ('x')");
        w->close();
        expectClean(path, c.password);
        const auto db = jet::Database::open(path, {.password = c.password});
        EXPECT_EQ(db->openTable("Kunden")->countRows(), 4u);
        const auto notiz = jet::readTableSchema(*db, "Notiz");
        ASSERT_EQ(notiz.columns.size(), 4u);
        EXPECT_FALSE(notiz.columns[0].required);  // an AutoNumber: Access sets Required on none
        EXPECT_TRUE(notiz.columns[1].required);
        EXPECT_FALSE(notiz.columns[3].required);
        if (!*c.password) {
            int status = 0;
            const std::string props = wt::run("mdb-prop " + wt::shellQuote(path) + " Notiz 2>&1", status);
            if (status == 0) {
                EXPECT_NE(props.find("Required: yes"), std::string::npos) << props;
            }
        }
    }
}

// Orders and customers, in a new file of every format: two relationships (on the primary key, on a unique text
// column), both enforced; our reader, mdbtools and mdb-reader see them; refusals leave the file as it was;
// DROP CONSTRAINT removes them and then the tables can go.
TEST(WriteRelations, AddedInNewFilesOfEveryFormat)
{
    wt::TempDir tmp;
    for (const auto& c : wt::kEveryNewFormat) {
        SCOPED_TRACE(c.file);
        const std::string path = (tmp.path() / c.file).string();
        jet::createDatabase(path, c.format, c.password);
        auto open = [&] {
            jet::WriterOptions options;
            options.password = c.password;
            return Writer::open(path, std::move(options));
        };
        {
            auto w = open();
            w->execute("CREATE TABLE Kunden (id LONG, code TEXT(10), name TEXT(50), CONSTRAINT pk PRIMARY KEY (id))");
            w->execute("CREATE UNIQUE INDEX ucode ON Kunden (code)");
            w->execute("CREATE TABLE [Aufträge] (nr COUNTER PRIMARY KEY, kunde LONG, kcode TEXT(10), betrag DOUBLE)");
            w->execute("CREATE TABLE Leute (id LONG PRIMARY KEY, chef LONG)");
            w->execute("INSERT INTO Kunden VALUES (1, 'A-1', 'Müller')");
            w->execute("INSERT INTO Kunden VALUES (2, 'b-2', 'Ørsted')");
            w->execute("INSERT INTO Kunden VALUES (3, 'C-3', 'it''s')");
            w->execute("INSERT INTO [Aufträge] (kunde, kcode, betrag) VALUES (1, 'A-1', 1.5)");
            w->execute("INSERT INTO [Aufträge] (kunde, kcode, betrag) VALUES (2, NULL, 2)");
            w->execute("INSERT INTO [Aufträge] (kunde, kcode, betrag) VALUES (NULL, 'C-3', 3)");
            w->execute("INSERT INTO Leute VALUES (1, NULL)");
            w->execute("INSERT INTO Leute VALUES (2, 1)");
            w->execute("ALTER TABLE [Aufträge] ADD CONSTRAINT fk_kunde FOREIGN KEY (kunde) REFERENCES Kunden (id) "
                       "ON UPDATE CASCADE ON DELETE CASCADE");
            w->execute("ALTER TABLE [Aufträge] ADD CONSTRAINT fk_code FOREIGN KEY (kcode) REFERENCES Kunden (code) "
                       "ON DELETE SET NULL");
            w->execute("ALTER TABLE Leute ADD CONSTRAINT chef FOREIGN KEY (chef) REFERENCES Leute (id)");
            // Text keys compare as Access compares them: case does not matter.
            w->execute("INSERT INTO [Aufträge] (kunde, kcode) VALUES (3, 'B-2')");
            w->execute("INSERT INTO Leute VALUES (3, 2)");
            w->close();
        }
        expectClean(path, c.password);
        const std::string before = wt::slurp(path);
        {
            auto w = open();
            EXPECT_EQ(errorText([&] { w->execute("INSERT INTO [Aufträge] (kunde) VALUES (9)"); }),
                      "3201 You cannot add or change a record because a related record is required in table "
                      "'Kunden'.");
            EXPECT_EQ(wt::errorOf([&] { w->execute("INSERT INTO [Aufträge] (kcode) VALUES ('Z-9')"); }), 3201);
            EXPECT_EQ(wt::errorOf([&] { w->execute("INSERT INTO Leute VALUES (4, 7)"); }), 3201);
            EXPECT_EQ(wt::errorOf([&] {
                          w->execute("ALTER TABLE [Aufträge] ADD CONSTRAINT x FOREIGN KEY (kcode) REFERENCES "
                                     "Kunden (name)");
                      }),
                      3173);  // not a unique index
            EXPECT_EQ(wt::errorOf([&] {
                          w->execute("ALTER TABLE [Aufträge] ADD CONSTRAINT x FOREIGN KEY (kunde) REFERENCES "
                                     "Kunden (code)");
                      }),
                      3368);  // types differ
            EXPECT_EQ(wt::errorOf([&] {
                          w->execute("ALTER TABLE [Aufträge] ADD CONSTRAINT FK_KUNDE FOREIGN KEY (kunde) "
                                     "REFERENCES Kunden (id)");
                      }),
                      3012);
            EXPECT_EQ(wt::errorOf([&] { w->execute("DROP TABLE Kunden"); }), 3303);
            EXPECT_EQ(wt::errorOf([&] { w->execute("DROP TABLE [Aufträge]"); }), 3303);
            EXPECT_EQ(wt::errorOf([&] { w->execute("DROP INDEX ucode ON Kunden"); }), 3303);
            EXPECT_EQ(wt::errorOf([&] { w->execute("ALTER TABLE Kunden DROP CONSTRAINT nothing"); }), 3371);
            w->close();
        }
        EXPECT_EQ(wt::slurp(path), before) << "a refused statement changed the file";
        {
            const auto db = jet::Database::open(path, {.password = c.password});
            const auto rels = jet::readRelationships(*db);
            ASSERT_EQ(rels.size(), 3u);
            const auto* kunde = findRelationship(rels, "fk_kunde");
            ASSERT_NE(kunde, nullptr);
            EXPECT_EQ(kunde->table, "Aufträge");
            EXPECT_EQ(kunde->columns, std::vector<std::string>{"kunde"});
            EXPECT_EQ(kunde->referencedTable, "Kunden");
            EXPECT_EQ(kunde->referencedColumns, std::vector<std::string>{"id"});
            EXPECT_TRUE(kunde->enforced());
            EXPECT_TRUE(kunde->cascadeUpdates());
            EXPECT_TRUE(kunde->cascadeDeletes());
            const auto* code = findRelationship(rels, "fk_code");
            ASSERT_NE(code, nullptr);
            EXPECT_EQ(code->referencedColumns, std::vector<std::string>{"code"});
            EXPECT_TRUE(code->cascadeSetNull());
            EXPECT_FALSE(code->cascadeUpdates());
            const auto* chef = findRelationship(rels, "chef");
            ASSERT_NE(chef, nullptr);
            EXPECT_EQ(chef->table, "Leute");
            EXPECT_EQ(chef->referencedTable, "Leute");
            // Each side has its relationship index, naming the other table.
            auto foreignKeys = [&](const std::string& table) {
                std::vector<std::string> out;
                for (const auto& ix : jet::readTableSchema(*db, table).indexes)
                    if (ix.foreignKey)
                        out.push_back(ix.name + "->" + ix.referencedTable);
                std::sort(out.begin(), out.end());
                return out;
            };
            EXPECT_EQ(foreignKeys("Aufträge"),
                      (std::vector<std::string>{"fk_code->Kunden", "fk_kunde->Kunden"}));
            EXPECT_EQ(foreignKeys("Kunden"), (std::vector<std::string>{".rC->Aufträge", ".rD->Aufträge"}));
            EXPECT_EQ(foreignKeys("Leute"), (std::vector<std::string>{".rB->Leute", "chef->Leute"}));
            EXPECT_EQ(db->openTable("Aufträge")->countRows(), 4u);
            // Both sides carry the cascade bytes: 1 for cascading, 2 in the delete byte for SET NULL.
            auto cascades = [&](const std::string& table) {
                std::map<std::string, std::pair<int, int>> out;
                for (const auto& li : db->openTable(table)->definition().logicalIndexes)
                    if (li.kind == 2)
                        out[li.name] = {li.cascadeUpdates, li.cascadeDeletes};
                return out;
            };
            EXPECT_EQ(cascades("Kunden"),
                      (std::map<std::string, std::pair<int, int>>{{".rC", {1, 1}}, {".rD", {0, 2}}}));
            EXPECT_EQ(cascades("Aufträge"),
                      (std::map<std::string, std::pair<int, int>>{{"fk_kunde", {1, 1}}, {"fk_code", {0, 2}}}));
        }
        if (!*c.password) {
            const std::string fks = mdbSchemaRelations(path, "Aufträge");
            if (!fks.empty()) {
                EXPECT_NE(fks.find("FOREIGN KEY (\"kunde\") REFERENCES \"Kunden\"(\"id\") ON UPDATE CASCADE ON "
                                   "DELETE CASCADE"),
                          std::string::npos)
                    << fks;
                EXPECT_NE(mdbSchemaRelations(path, "Leute").find("REFERENCES \"Leute\"(\"id\")"), std::string::npos);
            }
            const auto counts = mdbReaderCounts(path);
            if (!counts.empty()) {
                EXPECT_EQ(counts.at("Aufträge"), 4u);
                EXPECT_EQ(counts.at("Kunden"), 3u);
            }
        }
        {
            auto w = open();
            w->execute("ALTER TABLE [Aufträge] DROP CONSTRAINT fk_kunde");
            w->execute("INSERT INTO [Aufträge] (kunde) VALUES (9)");  // no longer checked
            EXPECT_EQ(wt::errorOf([&] { w->execute("INSERT INTO [Aufträge] (kcode) VALUES ('Z-9')"); }), 3201);
            EXPECT_EQ(wt::errorOf([&] { w->execute("DROP TABLE Kunden"); }), 3303);
            w->execute("ALTER TABLE [Aufträge] DROP CONSTRAINT FK_CODE");
            w->execute("ALTER TABLE Kunden DROP CONSTRAINT ucode");  // a unique index by its name
            w->execute("ALTER TABLE Leute DROP CONSTRAINT chef");
            w->execute("DROP TABLE Kunden");
            w->execute("DROP TABLE Leute");
            w->close();
        }
        expectClean(path, c.password);
        const auto db = jet::Database::open(path, {.password = c.password});
        EXPECT_TRUE(jet::readRelationships(*db).empty());
        for (const auto& ix : jet::readTableSchema(*db, "Aufträge").indexes)
            EXPECT_FALSE(ix.foreignKey) << ix.name;
        for (const auto& e : db->catalog())
            EXPECT_NE(e.type, 8) << e.name << ": the relationship's catalogue row stayed";
        EXPECT_EQ(db->findObject("Kunden"), nullptr);
    }
}

// Rows without a parent: ADD CONSTRAINT is refused and nothing changes; the checker finds such rows when a
// relationship exists.
TEST(WriteRelations, OrphansRefuseTheRelationship)
{
    wt::TempDir tmp;
    const std::string path = (tmp.path() / "o.accdb").string();
    jet::createDatabase(path, jet::NewFormat::Ace16);
    {
        auto w = Writer::open(path);
        w->execute("CREATE TABLE P (id LONG, CONSTRAINT pk PRIMARY KEY (id))");
        w->execute("CREATE TABLE C (p LONG)");
        w->execute("INSERT INTO P VALUES (1)");
        w->execute("INSERT INTO C VALUES (1)");
        w->execute("INSERT INTO C VALUES (NULL)");
        w->execute("INSERT INTO C VALUES (5)");
        w->close();
    }
    const std::string before = wt::slurp(path);
    {
        auto w = Writer::open(path);
        EXPECT_EQ(errorText([&] { w->execute("ALTER TABLE C ADD CONSTRAINT r FOREIGN KEY (p) REFERENCES P (id)"); }),
                  "3201 You cannot add or change a record because a related record is required in table 'P'.");
        w->close();
    }
    EXPECT_EQ(wt::slurp(path), before);
    {
        auto w = Writer::open(path);
        w->execute("INSERT INTO P VALUES (5)");
        w->execute("ALTER TABLE C ADD CONSTRAINT r FOREIGN KEY (p) REFERENCES P (id)");
        // A row changed behind the relationship's back (as a damaged file might have it).
        w->change([](jet::RowEditor& rows) {
            const std::uint32_t page = rows.tablePage("C");
            const int col = rows.column(page, u"p");
            rows.rewrite(page, [&](std::vector<jet::Cell>& cells) {
                if (cells[col].null || cells[col].bytes != std::vector<std::uint8_t>{5, 0, 0, 0})
                    return false;
                cells[col].bytes = {6, 0, 0, 0};
                return true;
            });
        });
        w->close();
    }
    const auto findings = jet::checkFile(path);
    ASSERT_EQ(findings.size(), 1u);
    EXPECT_NE(jet::describe(findings[0]).find("1 row(s) of C have no parent in P"), std::string::npos)
        << jet::describe(findings[0]);
}

// Relationships added to copies of Access-made files sit beside Access's own; dropping Access's own works too.
TEST(WriteRelations, AddedToAccessMadeFiles)
{
    wt::TempDir tmp;
    for (const char* fixture : {"jackcess/V1997/indexTestV1997.mdb", "jackcess/V2000/indexTestV2000.mdb",
                                "jackcess/V2007/indexTestV2007.accdb"}) {
        SCOPED_TRACE(fixture);
        const std::string path = tmp.copy(fixture);
        {
            auto w = Writer::open(path);
            w->execute("ALTER TABLE Table1 ADD CONSTRAINT Table2Table1_3 FOREIGN KEY (otherfk3) REFERENCES Table2 "
                       "(id) ON DELETE CASCADE");
            EXPECT_EQ(wt::errorOf([&] {
                          w->execute("INSERT INTO Table1 (id, otherfk1, otherfk2, otherfk3) VALUES (30, 1, 11, 8)");
                      }),
                      3201);
            w->execute("INSERT INTO Table1 (id, otherfk1, otherfk2, otherfk3) VALUES (30, 1, 11, 2)");
            w->close();
        }
        expectClean(path);
        {
            const auto db = jet::Database::open(path);
            const auto rels = jet::readRelationships(*db);
            ASSERT_EQ(rels.size(), 3u);
            const auto* added = findRelationship(rels, "Table2Table1_3");
            ASSERT_NE(added, nullptr);
            EXPECT_EQ(added->columns, std::vector<std::string>{"otherfk3"});
            EXPECT_TRUE(added->cascadeDeletes());
            std::vector<std::string> table2Keys;
            for (const auto& ix : jet::readTableSchema(*db, "Table2").indexes)
                if (ix.foreignKey)
                    table2Keys.push_back(ix.name);
            std::sort(table2Keys.begin(), table2Keys.end());
            EXPECT_EQ(table2Keys, (std::vector<std::string>{".rC", ".rD"}));  // Access's, then ours
        }
        const auto counts = mdbReaderCounts(path);
        if (!counts.empty()) {
            EXPECT_EQ(counts.at("Table1"), 5u);
        }
        {
            auto w = Writer::open(path);
            w->execute("ALTER TABLE Table1 DROP CONSTRAINT Table2Table1_3");
            w->execute("ALTER TABLE Table1 DROP CONSTRAINT Table2Table1");  // Access's own
            w->execute("INSERT INTO Table1 (id, otherfk1, otherfk2, otherfk3) VALUES (31, 77, 11, 77)");
            EXPECT_EQ(wt::errorOf([&] {
                          w->execute("INSERT INTO Table1 (id, otherfk1, otherfk2) VALUES (32, 1, 77)");
                      }),
                      3201);  // Table3Table1 still holds
            w->execute("DROP TABLE Table2");
            EXPECT_EQ(wt::errorOf([&] { w->execute("DROP TABLE Table3"); }), 3303);
            w->close();
        }
        expectClean(path);
        const auto db = jet::Database::open(path);
        const auto rels = jet::readRelationships(*db);
        ASSERT_EQ(rels.size(), 1u);
        EXPECT_EQ(rels[0].name, "Table3Table1");
        const std::string fks = mdbSchemaRelations(path, "Table1");
        if (!fks.empty()) {
            EXPECT_NE(fks.find("REFERENCES \"Table3\"(\"id\") ON UPDATE CASCADE"), std::string::npos) << fks;
        }
    }
}

// A relationship on two columns whose key lists them in another order: the pair must exist together.
TEST(WriteRelations, TwoColumnKeysInAnotherOrder)
{
    wt::TempDir tmp;
    for (const auto format : {jet::NewFormat::Jet3, jet::NewFormat::Ace16}) {
        const std::string path = (tmp.path() / (format == jet::NewFormat::Jet3 ? "k.mdb" : "k.accdb")).string();
        jet::createDatabase(path, format);
        auto w = Writer::open(path);
        w->execute("CREATE TABLE P (x LONG, y TEXT(10), CONSTRAINT pk PRIMARY KEY (y, x))");
        w->execute("CREATE TABLE C (a LONG, b TEXT(10))");
        w->execute("INSERT INTO P VALUES (1, 'a')");
        w->execute("INSERT INTO P VALUES (2, 'b')");
        w->execute("INSERT INTO C VALUES (1, 'a')");
        w->execute("INSERT INTO C VALUES (1, 'b')");
        EXPECT_EQ(wt::errorOf([&] {
                      w->execute("ALTER TABLE C ADD CONSTRAINT r FOREIGN KEY (a, b) REFERENCES P (x, y)");
                  }),
                  3201);  // (1, 'b'): each value has a parent, the pair has none
        w->execute("INSERT INTO P VALUES (1, 'b')");
        w->execute("ALTER TABLE C ADD CONSTRAINT r FOREIGN KEY (a, b) REFERENCES P (x, y)");
        EXPECT_EQ(wt::errorOf([&] { w->execute("INSERT INTO C VALUES (2, 'a')"); }), 3201);
        w->execute("INSERT INTO C VALUES (2, 'B')");  // text keys ignore case
        w->execute("INSERT INTO C VALUES (7, NULL)");  // a Null in the key: no parent needed
        w->close();
        expectClean(path);
        const auto db = jet::Database::open(path);
        const auto rels = jet::readRelationships(*db);
        ASSERT_EQ(rels.size(), 1u);
        EXPECT_EQ(rels[0].columns, (std::vector<std::string>{"a", "b"}));
        EXPECT_EQ(rels[0].referencedColumns, (std::vector<std::string>{"x", "y"}));
        EXPECT_EQ(db->openTable("C")->countRows(), 4u);
    }
}

}  // namespace
