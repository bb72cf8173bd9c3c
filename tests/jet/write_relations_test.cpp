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
[[maybe_unused]] std::string mdbSchemaRelations(const std::string& path, const std::string& table)
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
[[maybe_unused]] std::map<std::string, std::size_t> mdbReaderCounts(const std::string& path)
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

[[maybe_unused]] const jet::RelationshipSchema* findRelationship(const std::vector<jet::RelationshipSchema>& all,
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
        w->close();
        expectClean(path, c.password);
        const auto db = jet::Database::open(path, {.password = c.password});
        EXPECT_EQ(db->openTable("Kunden")->countRows(), 4u);
    }
}

}  // namespace
