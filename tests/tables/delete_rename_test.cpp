// Delete and rename on both sides, headless, against the real server and a
// copy of a real Access file.
#include <gtest/gtest.h>

#include <algorithm>

#include "../transfer/page.h"
#include "transfer/handlers.h"

namespace {

using env::Rows;

// A list that remembers which entries left it, in order.
class WatchedList : public fakes::List {
public:
    void removeItem(int i) override {
        removed.push_back(item(i));
        fakes::List::removeItem(i);
    }
    std::vector<std::string> removed;
};

class DeleteRename : public ::testing::Test {
protected:
    void SetUp() override {
        REQUIRE_POSTGRES();
        env::ownSchema("qm_delete_rename");
        file = dir.copy("mdb-reader/V2000/test.mdb", "work.mdb");
        pg = std::make_unique<env::Session>(env::Session::postgres());
        for (const char* t : {"d1", "d2", "d3", "d4", "orders", "Sales", "other", "ghost"})
            pg->exec("DROP TABLE IF EXISTS \"" + std::string(t) + "\"");
        for (const char* t : {"d1", "d2", "d3", "d4", "orders", "other"})
            pg->exec("CREATE TABLE \"" + std::string(t) + "\"(x int)");
        fields = env::parameters(file);
    }
    app::TableManagerContext context() { return {dialogs, access, postgres, progress, pointer, [this] { return fields; }}; }
    std::vector<std::string> pgTables() {
        std::vector<std::string> t;
        for (const auto& r : pg->rows("SELECT tablename::text FROM pg_tables WHERE schemaname = current_schema() "
                                      "AND tablename IN ('d1','d2','d3','d4','orders','Sales','other','ghost','or\"ders')"))
            t.push_back(r[0]);
        std::sort(t.begin(), t.end()); // byte order: capitals first
        return t;
    }
    std::vector<std::string> accessTables() {
        auto names = db::ListAccessTables(file, [this] { return fields; });
        return names ? *names : std::vector<std::string>{};
    }

    env::TempDir dir;
    std::string file;
    std::unique_ptr<env::Session> pg;
    db::ConnectionParameters fields;
    fakes::Dialogs dialogs;
    WatchedList access, postgres;
    fakes::Progress progress;
    fakes::Pointer pointer;
};

TEST_F(DeleteRename, DeletePostgreSQLTables) {
    struct Case {
        const char* what;
        std::vector<std::string> list, selected;
        bool current;
        std::vector<std::string> removed, messages;
        int reportLine;
        std::vector<std::string> serverAfter;
        bool unreachable = false;
    };
    const Case cases[] = {
        {"three selected go from last to first", {"d1", "d2", "d3", "d4"}, {"d1", "d2", "d4"}, true,
         {"d4", "d2", "d1"}, {}, 0, {"d3", "orders", "other"}},
        {"a server that cannot be reached: one report, nothing else", {"d1", "d2"}, {"d1", "d2"}, true, {}, {}, 104,
         {"d1", "d2", "d3", "d4", "orders", "other"}, true},
        {"no current entry", {"d1"}, {}, false, {}, {"Please select a table"}, 0,
         {"d1", "d2", "d3", "d4", "orders", "other"}},
        {"current but nothing selected", {"d1"}, {}, true, {}, {}, 0, {"d1", "d2", "d3", "d4", "orders", "other"}},
        {"a table the server does not have stays listed", {"d1", "ghost"}, {"d1", "ghost"}, true, {"d1"}, {}, 112,
         {"d2", "d3", "d4", "orders", "other"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        dialogs = {};
        postgres = {};
        if (c.unreachable) fields.port = "1";
        for (const auto& t : c.list) postgres.addItem(t);
        for (const auto& t : c.selected) postgres.select({t});
        if (c.current && c.selected.empty()) postgres.setCurrentIndex(0);
        auto ctx = context();
        tables::DeletePostgreSQLTables(ctx);
        EXPECT_EQ(postgres.removed, c.removed);
        EXPECT_EQ(dialogs.messages, c.messages);
        if (c.reportLine) {
            ASSERT_EQ(dialogs.reports.size(), 1u);
            EXPECT_EQ(parseReport(dialogs.reports[0]).line, c.reportLine);
            EXPECT_FALSE(parseReport(dialogs.reports[0]).hasSql);
        } else {
            EXPECT_EQ(dialogs.reports, std::vector<std::string>{});
        }
        EXPECT_EQ(pgTables(), c.serverAfter);
        EXPECT_EQ(pointer.state(), 0);
    }
}

TEST_F(DeleteRename, RenamePostgreSQLTable) {
    struct Case {
        const char* what;
        std::vector<std::string> selected;
        bool current;
        std::string answer;
        std::vector<std::string> messages;
        int reportLine;
        std::vector<std::string> listAfter;
        std::vector<std::string> serverAfter;
    };
    const std::vector<std::string> all{"d1", "d2", "d3", "d4", "orders", "other"};
    const Case cases[] = {
        {"orders becomes Sales, capital kept", {"orders"}, true, "Sales", {}, 0,
         {"d1", "other", "Sales"}, {"Sales", "d1", "d2", "d3", "d4", "other"}},
        {"two selected", {"orders", "d1"}, true, "x", {"Please select just one table to rename."}, 0,
         {"d1", "orders", "other"}, all},
        {"no current entry", {}, false, "x", {"Please select a table to rename."}, 0, {"d1", "orders", "other"}, all},
        {"Cancel changes nothing", {"orders"}, true, "", {}, 0, {"d1", "orders", "other"}, all},
        {"its own name changes nothing", {"orders"}, true, "orders", {}, 0, {"d1", "orders", "other"}, all},
        {"a name that exists is refused and the list stays", {"orders"}, true, "other", {}, 120,
         {"d1", "orders", "other"}, all},
        {"a double quote in the new name", {"orders"}, true, "or\"ders", {}, 0, {"d1", "or\"ders", "other"},
         {"d1", "d2", "d3", "d4", "or\"ders", "other"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        pg->exec("DROP TABLE IF EXISTS \"or\"\"ders\"");
        dialogs = {};
        postgres = {};
        for (const char* t : {"d1", "orders", "other"}) postgres.addItem(t);
        for (const auto& t : c.selected) postgres.select({t});
        dialogs.inputs = {c.answer};
        auto ctx = context();
        tables::RenameSelectedPostgreSQLTable(ctx);
        EXPECT_EQ(dialogs.messages, c.messages);
        if (c.current && c.selected.size() == 1) {
            EXPECT_EQ(dialogs.prompts, std::vector<std::string>{"Enter new name of orders:"});
            EXPECT_EQ(dialogs.proposals, std::vector<std::string>{"orders"});
        }
        if (c.reportLine) {
            ASSERT_EQ(dialogs.reports.size(), 1u);
            EXPECT_EQ(parseReport(dialogs.reports[0]).line, c.reportLine);
        } else {
            EXPECT_EQ(dialogs.reports, std::vector<std::string>{});
        }
        EXPECT_EQ(postgres.items(), c.listAfter);
        EXPECT_EQ(pgTables(), c.serverAfter);
        EXPECT_EQ(pointer.state(), 0);
    }
    pg->exec("DROP TABLE IF EXISTS \"or\"\"ders\"");
}

TEST_F(DeleteRename, AccessSide) {
    {
        auto a = env::Session::access(file);
        a.exec("CREATE TABLE `Orders`(`x` INT)");
        a.exec("CREATE TABLE `Sales`(`x` INT)");
    }
    for (const char* t : {"Orders", "Sales", "Table1", "Table2", "Table3", "Table4"}) access.addItem(t);

    // Rename: two selected, then Cancel, then an existing name declined, then a real rename.
    access.select({"Table1", "Table2"});
    auto ctx = context();
    tables::RenameSelectedAccessTable(ctx);
    EXPECT_EQ(dialogs.messages, std::vector<std::string>{"Please select just one table to rename."});
    for (int i = 0; i < access.count(); ++i) access.setSelected(i, false);
    access.select({"Orders"});
    dialogs.inputs = {"", "Sales", "Orders2"};
    dialogs.answers = {ui::AnswerNo};
    tables::RenameSelectedAccessTable(ctx); // Cancel
    tables::RenameSelectedAccessTable(ctx); // exists, answer No
    EXPECT_EQ(access.items(), (std::vector<std::string>{"Orders", "Sales", "Table1", "Table2", "Table3", "Table4"}));
    tables::RenameSelectedAccessTable(ctx); // Orders2
    EXPECT_EQ(dialogs.prompts.back(), "Enter new name of Orders:");
    EXPECT_EQ(access.items(), (std::vector<std::string>{"Orders2", "Sales", "Table1", "Table2", "Table3", "Table4"}));
    EXPECT_EQ(dialogs.reports, std::vector<std::string>{});

    // A name Access cannot hold is refused, the list stays.
    for (int i = 0; i < access.count(); ++i) access.setSelected(i, false);
    access.select({"Sales"});
    dialogs.inputs = {"Sa.les"};
    tables::RenameSelectedAccessTable(ctx);
    ASSERT_EQ(dialogs.reports.size(), 1u);
    EXPECT_EQ(parseReport(dialogs.reports[0]).line, 120);
    const auto listed = access.items();
    EXPECT_EQ(std::count(listed.begin(), listed.end(), "Sales"), 1);

    // Delete: three selected, last to first; an entry whose table is gone stays listed.
    dialogs.reports.clear();
    access.removed.clear();
    access.addItem("Ghost");
    for (int i = 0; i < access.count(); ++i) access.setSelected(i, false);
    access.select({"Orders2", "Table3", "Ghost", "Table1"});
    tables::DeleteAccessTables(ctx);
    EXPECT_EQ(access.removed, (std::vector<std::string>{"Table3", "Table1", "Orders2"}));
    ASSERT_EQ(dialogs.reports.size(), 1u);
    EXPECT_EQ(parseReport(dialogs.reports[0]).line, 116);
    auto left = accessTables();
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"Sales", "Table2", "Table4"}));
    EXPECT_EQ(access.items(), (std::vector<std::string>{"Ghost", "Sales", "Table2", "Table4"}));
    EXPECT_EQ(pointer.state(), 0);
}

} // namespace
