// Keys, indexes and relationships going to Access with "Keep column types, keys and indexes", against the real
// server: a Northwind-shaped database (tests/transfer/data/northwind.sql) goes into new files of each format and
// into copies of Access-made files. Every primary key, index and foreign key the server's catalogue has (read here
// with the test's own queries) is in the file as our schema reader and mdbtools' mdb-schema see it, with its
// columns, order, uniqueness and cascades; what Access cannot hold is named; the values arrive; our check finds
// nothing new; an orphan row is refused. Overwriting tables in relationships removes and makes them again.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <sstream>

#include "db/error.h"
#include "jet/check.h"
#include "jet/create_db.h"
#include "jet/database.h"
#include "jet/schema.h"
#include "page.h"
#include "transfer/handlers.h"
#include "transfer/transfer.h"

namespace {

using env::kNull;
using env::Rows;

const char* const kTables[] = {"categories", "suppliers", "shippers", "customers",
                               "employees",  "products",  "orders",   "order_details"};

struct Target {
    const char* name;
    std::string file; // a new file of this format, or a fixture to copy
    bool fixture;
    std::string password = {};
};

std::string run(const std::string& command) {
    std::string out;
    FILE* p = ::popen(command.c_str(), "r");
    char buffer[4096];
    while (p && std::fgets(buffer, sizeof buffer, p)) out += buffer;
    if (p) ::pclose(p);
    return out;
}

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

class AccessKeysServer : public ::testing::TestWithParam<Target> {
protected:
    void SetUp() override {
        REQUIRE_POSTGRES();
        env::ownSchema("qm_access_keys");
        pg = std::make_unique<env::Session>(env::Session::postgres());
        pg->exec(env::slurp(std::string(QM_TEST_DATA) + "/northwind.sql"));
        const Target& t = GetParam();
        if (t.fixture) {
            file = dir.copy(t.file, "work" + std::filesystem::path(t.file).extension().string());
        } else {
            file = (dir.path() / (std::string("new.") + (t.file.rfind("jet", 0) == 0 ? "mdb" : "accdb"))).string();
            jet::createDatabase(file, jet::parseNewFormat(t.file), t.password);
        }
        before = findings();
    }

    std::unique_ptr<Page> newPage() {
        auto page = std::make_unique<Page>(file);
        page->fields.accessPassword = GetParam().password;
        for (const char* t : kTables) page->postgres.addItem(t);
        page->postgres.select({"categories", "suppliers", "shippers", "customers", "employees", "products", "orders",
                               "order_details"});
        return page;
    }

    std::vector<std::string> findings() const {
        std::vector<std::string> out;
        for (const auto& f : jet::checkFile(file, {.password = GetParam().password})) {
            std::string text = jet::describe(f);
            std::erase_if(text, [](char c) { return c >= '0' && c <= '9'; });
            out.push_back(text);
        }
        return out;
    }

    std::shared_ptr<jet::Database> open() const { return jet::Database::open(file, {.password = GetParam().password}); }

    // Every index Access can hold, as the server has it: table -> name -> "primary unique a,b DESC".
    std::map<std::string, std::map<std::string, std::string>> serverIndexes() {
        std::map<std::string, std::map<std::string, std::string>> out;
        for (const auto& r : pg->rows(
                 "SELECT t.relname, i.relname, x.indisprimary::text || ' ' || x.indisunique::text || ' ' || "
                 "string_agg(a.attname || CASE WHEN x.indoption[k.o - 1] & 1 = 1 THEN ' DESC' ELSE '' END, ',' "
                 "ORDER BY k.o) FROM pg_index x JOIN pg_class i ON i.oid = x.indexrelid JOIN pg_class t ON t.oid = "
                 "x.indrelid JOIN pg_am am ON am.oid = i.relam CROSS JOIN LATERAL unnest(x.indkey::int2[]) WITH "
                 "ORDINALITY k(n, o) JOIN pg_attribute a ON a.attrelid = t.oid AND a.attnum = k.n WHERE "
                 "t.relnamespace = 'qm_access_keys'::regnamespace AND t.relname IN ('categories', 'suppliers', "
                 "'shippers', 'customers', 'employees', 'products', 'orders', 'order_details') AND am.amname = "
                 "'btree' AND x.indexprs IS NULL "
                 "AND x.indpred IS NULL GROUP BY 1, 2, x.indisprimary, x.indisunique"))
            out[r[0]][r[1]] = r[2];
        return out;
    }

    env::TempDir dir;
    std::string file;
    std::vector<std::string> before;
    std::unique_ptr<env::Session> pg;
};

TEST_P(AccessKeysServer, NorthwindKeysIndexesAndRelationships) {
    auto page = newPage();
    auto context = page->context();
    context.fullSchema = true;
    const auto summary = transfer::sendTablesToAccess(context);
    EXPECT_TRUE(summary.complete());
    EXPECT_EQ(page->dialogs.reports, std::vector<std::string>{});
    ASSERT_EQ(page->dialogs.messages.size(), 1u);
    const std::string& text = page->dialogs.messages[0];
    EXPECT_NE(text.find("8 tables, 997 rows;"), std::string::npos) << text;
    EXPECT_NE(text.find("8 primary keys, 11 indexes (2 unique), 8 relationships."), std::string::npos) << text;
    for (const char* named : {"customers.customers_lower_name: an index on an expression",
                              "products.products_in_stock: a partial index", "orders.orders_tracking: a hash index",
                              "orders.orders_shipper: ON DELETE SET DEFAULT (Access has no such action",
                              "customers.customers_city: NULLS LAST of city",
                              "customers.customers_region_city: NULLS LAST of region, NULLS FIRST of city",
                              "orders.orders_date: NULLS FIRST of order_date"})
        EXPECT_NE(text.find(named), std::string::npos) << named << "\n" << text;
    if (GetParam().file == "jet3" || GetParam().file == "mdb-reader/V1997/test.mdb") {
        EXPECT_NE(text.find("employees.employees_reports_to_fkey: ON DELETE SET NULL (Access 97 has no such action"),
                  std::string::npos)
            << text;
    }
    // NULLS FIRST ascending and NULLS LAST descending are Access's own order.
    EXPECT_EQ(text.find("suppliers_postal_code: NULLS"), std::string::npos) << text;
    EXPECT_EQ(text.find("products_category: NULLS"), std::string::npos) << text;

    // Every index the server has that Access can hold: same name, columns, order, primary and unique.
    const auto db = open();
    for (const auto& [table, indexes] : serverIndexes()) {
        const auto schema = jet::readTableSchema(*db, table);
        for (const auto& [name, want] : indexes) {
            std::string got = "(missing)";
            for (const auto& ix : schema.indexes) {
                if (ix.name != name) continue;
                got = std::string(ix.primary ? "true" : "false") + " " + (ix.unique ? "true" : "false") + " ";
                for (std::size_t c = 0; c < ix.columns.size(); ++c)
                    got += (c ? "," : "") + ix.columns[c].name + (ix.columns[c].ascending ? "" : " DESC");
            }
            EXPECT_EQ(got, want) << table << "." << name;
        }
    }
    // Every foreign key: the same column pairs, integrity, and its cascades.
    const auto relationships = jet::readRelationships(*db);
    const Rows keys = pg->rows(
        "SELECT c.conrelid::regclass::text, c.confrelid::regclass::text, string_agg(a.attname || '=' || b.attname, "
        "',' ORDER BY k.o), c.confupdtype::text, c.confdeltype::text FROM pg_constraint c CROSS JOIN LATERAL "
        "unnest(c.conkey, c.confkey) WITH ORDINALITY k(n, m, o) JOIN pg_attribute a ON a.attrelid = c.conrelid AND "
        "a.attnum = k.n JOIN pg_attribute b ON b.attrelid = c.confrelid AND b.attnum = k.m WHERE c.contype = 'f' "
        "AND c.connamespace = 'qm_access_keys'::regnamespace AND c.conrelid::regclass::text IN ('products', "
        "'employees', 'orders', 'order_details') GROUP BY c.oid");
    ASSERT_EQ(keys.size(), 8u);
    for (const auto& k : keys) {
        SCOPED_TRACE(k[0] + " -> " + k[1] + " " + k[2]);
        int found = 0;
        for (const auto& r : relationships) {
            std::string pairs;
            for (std::size_t c = 0; c < r.columns.size(); ++c)
                pairs += (c ? "," : "") + r.columns[c] + "=" + r.referencedColumns[c];
            if (r.table != k[0] || r.referencedTable != k[1] || pairs != k[2]) continue;
            ++found;
            EXPECT_TRUE(r.enforced());
            EXPECT_EQ(r.cascadeUpdates(), k[3] == "c");
            EXPECT_EQ(r.cascadeDeletes(), k[4] == "c");
            EXPECT_EQ(r.cascadeSetNull(), k[4] == "n" && db->format() != jet::Format::Jet3); // named for 97
        }
        EXPECT_EQ(found, 1);
    }

    // The values, spot-checked through the Access session (their types are the full schema's own tests).
    {
        auto a = env::Session::access(file, GetParam().password);
        for (const char* t : kTables)
            EXPECT_EQ(a.rows(std::string("SELECT * FROM `") + t + "`").size(),
                      std::stoul(pg->rows(std::string("SELECT count(*) FROM ") + t)[0][0]))
                << t;
        const Rows suppliers = a.rows("SELECT * FROM `suppliers`");
        EXPECT_EQ(suppliers[4][1], "Cooperativa de Quesos 'Las Cabras'");
        EXPECT_EQ(suppliers[8][3], "Göteborg");
        EXPECT_EQ(suppliers[4][4], kNull);
        const Rows employees = a.rows("SELECT * FROM `employees`");
        EXPECT_EQ(employees[2][7], "line one\nline two");
        EXPECT_EQ(employees[0][6], kNull);
        const Rows orders = a.rows("SELECT * FROM `orders`");
        ASSERT_EQ(orders.size(), 300u);
        EXPECT_EQ(orders[0][8], "Ship 1 'Ünïcødé'");
        EXPECT_EQ(orders[0][10], "9007199254740001");
        EXPECT_EQ(orders[0][3], "1996-07-05 08:52:00");

        // The engine keeps the relationships: a detail line of an order that does not exist is refused.
        try {
            a.exec("INSERT INTO `order_details` VALUES (999999, 1, 1, 1, 0)");
            ADD_FAILURE() << "an orphan row was stored";
        } catch (const db::Error& e) {
            EXPECT_EQ(e.number(), 3201) << e.what();
        }
        a.exec("INSERT INTO `order_details` VALUES (10248, 3, 1, 1, 0)");
        a.close();
    }
    EXPECT_EQ(findings(), before);

    // mdbtools reads the same keys: each primary key and each relationship with its cascades.
    if (!GetParam().password.empty() || run("command -v mdb-schema").empty()) return;
    const std::string schema = run("mdb-schema --indexes --relations '" + file + "' postgres 2>/dev/null");
    EXPECT_NE(schema.find("PRIMARY KEY (\"order_id\", \"product_id\")"), std::string::npos) << schema;
    int primaries = 0, foreign = 0;
    std::istringstream lines(schema);
    for (std::string line; std::getline(lines, line);) {
        for (const char* t : kTables)
            primaries += line.find(std::string("TABLE \"") + t + "\" ADD") != std::string::npos &&
                         line.find("PRIMARY KEY") != std::string::npos;
        if (line.find("FOREIGN KEY") == std::string::npos) continue;
        if (line.find("\"orders\" ADD") != std::string::npos && line.find("(\"customer_id\")") != std::string::npos) {
            EXPECT_NE(line.find("ON UPDATE CASCADE"), std::string::npos) << line;
            EXPECT_NE(line.find("ON DELETE CASCADE"), std::string::npos) << line;
        }
        if (line.find("\"order_details\" ADD") != std::string::npos &&
            line.find("(\"product_id\")") != std::string::npos) {
            EXPECT_EQ(line.find("CASCADE"), std::string::npos) << line;
        }
        foreign += line.find("REFERENCES") != std::string::npos;
    }
    EXPECT_EQ(primaries, 8) << schema;
    EXPECT_GE(foreign, 8) << schema;
}

// The same tables sent again over themselves: every relationship naming them is removed for the overwrite, the
// server's foreign keys make them again, and the file has each once.
TEST_P(AccessKeysServer, SentTwiceOverwritesTablesInRelationships) {
    {
        auto page = newPage();
        auto context = page->context();
        context.fullSchema = true;
        ASSERT_TRUE(transfer::sendTablesToAccess(context).complete());
    }
    auto page = newPage();
    for (const char* t : kTables) page->access.addItem(t);
    for (std::size_t i = 0; i < std::size(kTables); ++i) page->dialogs.answers.push_back(ui::AnswerYes);
    auto context = page->context();
    context.fullSchema = true;
    const auto summary = transfer::sendTablesToAccess(context);
    EXPECT_TRUE(summary.complete());
    EXPECT_EQ(summary.tablesSent, 8);
    EXPECT_EQ(page->dialogs.reports, std::vector<std::string>{});
    ASSERT_EQ(page->dialogs.messages.size(), 1u);
    const std::string& text = page->dialogs.messages[0];
    EXPECT_NE(text.find("8 primary keys, 11 indexes (2 unique), 8 relationships."), std::string::npos) << text;
    EXPECT_NE(text.find("Relationships removed from the Access file to overwrite a table:\r\n  "), std::string::npos)
        << text;
    EXPECT_NE(text.find("orders_customer_id_fkey, orders (customer_id) -> customers (customer_id): made again from "
                        "the server's foreign key"),
              std::string::npos)
        << text;
    EXPECT_EQ(text.find("could not"), std::string::npos) << text;
    std::map<std::string, int> pairs;
    for (const auto& r : jet::readRelationships(*open())) ++pairs[lower(r.table + "." + r.referencedTable)];
    const std::map<std::string, int> want{{"employees.employees", 1}, {"products.suppliers", 1},
                                          {"products.categories", 1}, {"orders.customers", 1},
                                          {"orders.employees", 1},    {"orders.shippers", 1},
                                          {"order_details.orders", 1}, {"order_details.products", 1}};
    for (const auto& [pair, n] : want) EXPECT_EQ(pairs[pair], n) << pair;
    EXPECT_EQ(findings(), before);
}

const Target kTargets[] = {
    {"jet3", "jet3", false},
    {"jet4", "jet4", false},
    {"ace12", "ace12", false},
    {"ace14", "ace14", false},
    {"ace16", "ace16", false},
    {"ace17", "ace17", false},
    {"ace17_encrypted", "ace17", false, "s3cret"},
    {"made_by_access_97", "mdb-reader/V1997/test.mdb", true},
    {"made_by_access_2000", "mdb-reader/V2000/test.mdb", true},
    {"made_by_access_2016", "mdb-reader/V2016/bigint.accdb", true},
};
INSTANTIATE_TEST_SUITE_P(Formats, AccessKeysServer, ::testing::ValuesIn(kTargets),
                         [](const auto& info) { return std::string(info.param.name); });

// Keys the server holds that Access refuses: Access compares text ignoring case and trailing blanks, so a unique
// index the server keeps is a duplicate in Access. The statement is reported with its text, the rows all stay, and
// the relationship that needed the key is left out with the reason.
TEST(AccessKeysRefused, ADuplicateInAccessIsReportedAndTheRowsStay) {
    REQUIRE_POSTGRES();
    env::ownSchema("qm_access_keys");
    auto pg = env::Session::postgres();
    pg.exec("DROP TABLE IF EXISTS codes_child, codes");
    pg.exec("CREATE TABLE codes(code varchar(10) PRIMARY KEY, label varchar(20) UNIQUE, n bigint UNIQUE)");
    // The server relates integer to bigint; Access relates columns of one type only.
    pg.exec("CREATE TABLE codes_child(id integer PRIMARY KEY, code varchar(10) REFERENCES codes, n integer "
            "CONSTRAINT by_number REFERENCES codes (n))");
    pg.exec("INSERT INTO codes VALUES ('abc', 'Ä', 1), ('ABC', 'ä', 2), ('x', 'x', 3)");
    pg.exec("INSERT INTO codes_child VALUES (1, 'abc', 1), (2, NULL, NULL)");
    env::TempDir dir;
    const std::string file = (dir.path() / "dup.accdb").string();
    jet::createDatabase(file, jet::parseNewFormat("ace17"));
    Page page(file);
    page.postgres.addItem("codes");
    page.postgres.addItem("codes_child");
    page.postgres.select({"codes", "codes_child"});
    auto context = page.context();
    context.fullSchema = true;
    const auto summary = transfer::sendTablesToAccess(context);
    EXPECT_EQ(summary.rowsSent, 5);
    EXPECT_TRUE(jet::readRelationships(*jet::Database::open(file)).empty());
    EXPECT_EQ(summary.rowsFailed, 0);
    ASSERT_EQ(page.dialogs.reports.size(), 2u);
    EXPECT_EQ(parseReport(page.dialogs.reports[0]).sql, "CREATE INDEX `codes_pkey` ON `codes` (`code`) WITH PRIMARY");
    EXPECT_EQ(parseReport(page.dialogs.reports[1]).sql, "CREATE UNIQUE INDEX `codes_label_key` ON `codes` (`label`)");
    ASSERT_EQ(page.dialogs.messages.size(), 1u);
    const std::string& text = page.dialogs.messages[0];
    EXPECT_NE(text.find("Failed (the rows stay):\r\n  CREATE INDEX `codes_pkey` ON `codes` (`code`) WITH PRIMARY\r\n  "
                        "CREATE UNIQUE INDEX `codes_label_key` ON `codes` (`label`)"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("relationship codes_child_code_fkey, codes_child (code) -> codes (code): the columns code are "
                        "neither the primary key nor a unique index of codes in the Access file"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("relationship by_number, codes_child (n) -> codes (n): the columns codes_child.n (Long "
                        "Integer) and codes.n (Large Number) differ in type"),
              std::string::npos)
        << text;
    const auto db = jet::Database::open(file);
    EXPECT_EQ(db->openTable("codes")->countRows(), 3u);
    EXPECT_EQ(jet::readTableSchema(*db, "codes").indexes.size(), 1u); // the unique index on n
    EXPECT_EQ(jet::readTableSchema(*db, "codes_child").indexes.size(), 1u);
    EXPECT_TRUE(jet::checkFile(file).empty());
}

// 32 indexes a table, counting the one Access adds for each relationship: the table still goes, with its primary
// key and as many indexes as leave room for the relationship; the ones beyond are named.
TEST(AccessKeysRefused, BeyondThirtyTwoIndexesTheLastAreNamed) {
    REQUIRE_POSTGRES();
    env::ownSchema("qm_access_keys");
    auto pg = env::Session::postgres();
    pg.exec("DROP TABLE IF EXISTS wide_child, wide");
    std::string create = "CREATE TABLE wide(id integer PRIMARY KEY";
    for (int c = 0; c < 34; ++c) create += ", c" + std::to_string(c) + " integer";
    pg.exec(create + ")");
    for (int c = 0; c < 34; ++c) pg.exec("CREATE INDEX wide_" + std::to_string(100 + c) + " ON wide (c" + std::to_string(c) + ")");
    pg.exec("CREATE TABLE wide_child(id integer PRIMARY KEY, wide_id integer REFERENCES wide)");
    pg.exec("INSERT INTO wide(id, c0) SELECT i, i % 5 FROM generate_series(1, 50) i");
    pg.exec("INSERT INTO wide_child SELECT i, i FROM generate_series(1, 50) i");
    env::TempDir dir;
    const std::string file = (dir.path() / "wide.mdb").string();
    jet::createDatabase(file, jet::parseNewFormat("jet4"));
    Page page(file);
    page.postgres.addItem("wide");
    page.postgres.addItem("wide_child");
    page.postgres.select({"wide", "wide_child"});
    auto context = page.context();
    context.fullSchema = true;
    EXPECT_TRUE(transfer::sendTablesToAccess(context).complete());
    EXPECT_EQ(page.dialogs.reports, std::vector<std::string>{});
    ASSERT_EQ(page.dialogs.messages.size(), 1u);
    const std::string& text = page.dialogs.messages[0];
    EXPECT_NE(text.find("2 primary keys, 30 indexes (0 unique), 1 relationship."), std::string::npos) << text;
    for (int c = 130; c < 134; ++c)
        EXPECT_NE(text.find("wide.wide_" + std::to_string(c) + ": Access holds at most 32 indexes a table, 1 of them "
                            "for relationships"),
                  std::string::npos)
            << c << "\n" << text;
    const auto db = jet::Database::open(file);
    EXPECT_EQ(jet::readTableSchema(*db, "wide").indexes.size(), 32u);
    EXPECT_EQ(db->openTable("wide")->countRows(), 50u);
    EXPECT_TRUE(jet::checkFile(file).empty());
}

// An Access-made file's relationships around a table overwritten from the server. indexTestV2007 relates
// Table1.otherfk1 to Table2.id (integrity, cascading deletes) and Table1.otherfk2 to Table3.id: overwriting Table2
// removes the first for the DROP and makes it again, flags and all, when the new Table2 has the key it needs, and
// says why not when it has none; the second stays as it was.
TEST(AccessKeysOverwrite, RelationshipsOfAnAccessFileComeBackOrAreNamed) {
    REQUIRE_POSTGRES();
    env::ownSchema("qm_access_keys");
    auto pg = env::Session::postgres();
    for (const bool withKey : {true, false}) {
        SCOPED_TRACE(withKey ? "new Table2 with a primary key" : "new Table2 without a key");
        pg.exec("DROP TABLE IF EXISTS \"Table2\"");
        pg.exec(std::string("CREATE TABLE \"Table2\"(id integer") + (withKey ? " PRIMARY KEY" : "") +
                ", data varchar(50))");
        pg.exec("INSERT INTO \"Table2\" SELECT i, 'row ' || i FROM generate_series(0, 20) i");
        env::TempDir dir;
        const std::string file = dir.copy("jackcess/V2007/indexTestV2007.accdb", "related.accdb");
        const auto before = jet::checkFile(file).size();
        const auto old = jet::readRelationships(*jet::Database::open(file));
        ASSERT_EQ(old.size(), 2u);
        ASSERT_EQ(old[0].name, "Table2Table1");
        Page page(file);
        page.access.addItem("Table2");
        page.postgres.addItem("Table2");
        page.postgres.select({"Table2"});
        page.dialogs.answers.push_back(ui::AnswerYes);
        auto context = page.context();
        context.fullSchema = true;
        const auto summary = transfer::sendTablesToAccess(context);
        EXPECT_EQ(summary.tablesSent, 1);
        EXPECT_EQ(page.dialogs.reports, std::vector<std::string>{});
        ASSERT_EQ(page.dialogs.messages.size(), 1u);
        const std::string& text = page.dialogs.messages[0];
        const auto db = jet::Database::open(file);
        EXPECT_EQ(db->openTable("Table2")->countRows(), 21u); // ours, not Access's
        const auto now = jet::readRelationships(*db);
        EXPECT_NE(text.find("Relationships removed from the Access file to overwrite a table:\r\n  Table2Table1, "
                            "Table1 (otherfk1) -> Table2 (id): " +
                            std::string(withKey ? "made again" : "could not be made again: the columns id are neither "
                                                                 "the primary key nor a unique index of Table2")),
                  std::string::npos)
            << text;
        ASSERT_EQ(now.size(), withKey ? 2u : 1u);
        EXPECT_EQ(now.back().name, "Table3Table1");
        EXPECT_EQ(now.back().flags, old[1].flags);
        if (withKey) {
            EXPECT_EQ(now[0].name, old[0].name);
            EXPECT_EQ(now[0].columns, old[0].columns);
            EXPECT_EQ(now[0].flags, old[0].flags);
        }
        EXPECT_EQ(jet::checkFile(file).size(), before);
    }
}

// Without the option nothing of this happens: the DROP of a table in a relationship is refused as before, and the
// relationships and Access's table stay.
TEST(AccessKeysOverwrite, WithoutTheOptionTheOverwriteIsRefusedAsBefore) {
    REQUIRE_POSTGRES();
    env::ownSchema("qm_access_keys");
    auto pg = env::Session::postgres();
    pg.exec("DROP TABLE IF EXISTS \"Table2\"");
    pg.exec("CREATE TABLE \"Table2\"(id integer PRIMARY KEY, data varchar(50))");
    pg.exec("INSERT INTO \"Table2\" SELECT i, 'row ' || i FROM generate_series(0, 20) i");
    env::TempDir dir;
    const std::string file = dir.copy("jackcess/V2007/indexTestV2007.accdb", "related.accdb");
    const auto rows = jet::Database::open(file)->openTable("Table2")->countRows();
    Page page(file);
    page.access.addItem("Table2");
    page.postgres.addItem("Table2");
    page.postgres.select({"Table2"});
    page.dialogs.answers.push_back(ui::AnswerYes);
    auto context = page.context();
    EXPECT_FALSE(transfer::sendTablesToAccess(context).complete());
    ASSERT_FALSE(page.dialogs.reports.empty());
    EXPECT_NE(page.dialogs.reports[0].find("relationships"), std::string::npos) << page.dialogs.reports[0];
    const auto db = jet::Database::open(file);
    EXPECT_EQ(jet::readRelationships(*db).size(), 2u);
    EXPECT_EQ(db->openTable("Table2")->countRows(), rows);
}

// linkerTestV2007 relates its linked Table2 to its Table1 (a join without integrity). SQL cannot remove a
// relationship from a linked table's side: overwriting Table1 is refused once, as without the option, and the
// table and the relationship stay, named in the summary.
TEST(AccessKeysOverwrite, ARelationshipOfALinkedTableKeepsTheTable) {
    REQUIRE_POSTGRES();
    env::ownSchema("qm_access_keys");
    auto pg = env::Session::postgres();
    pg.exec("DROP TABLE IF EXISTS \"Table1\"");
    pg.exec("CREATE TABLE \"Table1\"(\"ID\" integer PRIMARY KEY, \"Field1\" varchar(255) UNIQUE)");
    pg.exec("INSERT INTO \"Table1\" VALUES (1, 'one')");
    env::TempDir dir;
    const std::string file = dir.copy("jackcess/V2007/linkerTestV2007.accdb", "joined.accdb");
    const std::string bytes = env::slurp(file);
    Page page(file);
    page.access.addItem("Table1");
    page.postgres.addItem("Table1");
    page.postgres.select({"Table1"});
    page.dialogs.answers.push_back(ui::AnswerYes);
    auto context = page.context();
    context.fullSchema = true;
    EXPECT_EQ(transfer::sendTablesToAccess(context).tablesFailed, 1);
    ASSERT_EQ(page.dialogs.reports.size(), 1u);
    EXPECT_NE(page.dialogs.reports[0].find("relationships"), std::string::npos) << page.dialogs.reports[0];
    ASSERT_EQ(page.dialogs.messages.size(), 1u);
    EXPECT_NE(page.dialogs.messages[0].find("Table1: not replaced; the table in the file stays as it was, with its "
                                            "relationships"),
              std::string::npos)
        << page.dialogs.messages[0];
    EXPECT_EQ(env::slurp(file), bytes);
}

} // namespace
