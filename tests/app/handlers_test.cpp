// The page handlers, headless: every trapped handler under an injected
// failure, start-up and "Next >" paths, and the TableManagerPage's own buttons.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <functional>

#include "app/files.h"
#include "app/page_flow.h"
#include "app/trap.h"
#include "connection/connection_handlers.h"
#include "support/fakes.h"
#include "tables/table_page_handlers.h"

namespace {

struct World {
    QTemporaryDir dir;
    fakes::Faults faults;
    fakes::ScriptedServices scripted{faults};
    app::Services services = scripted.services();
    app::SettingsStore store{(dir.path() + "/Velmora.conf").toStdString()};
    fakes::ConnectionPage page{faults, store};
    fakes::Program program;

    fakes::TableManagerPage& tables() {
        return static_cast<fakes::TableManagerPage&>(page.tableManager());
    }
    // An Access file that exists and a PostgreSQL server that answers.
    void usableConnection() {
        page.fields[app::Field::AccessFile] = "/data/orders.mdb";
        scripted.files.insert("/data/orders.mdb");
        scripted.postgresOpens = true;
        scripted.accessTables = {"Orders", "customers"};
        scripted.postgresTables = {"pg_type", "orders"};
    }
    ~World() { app::setProgramFolderForTesting(""); }
};

struct Handlers : ::testing::Test, World {};

// A failure injected at one step of each trapped handler is reported with
// the handler's location and the step's ReportLine, and the handler goes on.
TEST_F(Handlers, EveryTrappedHandlerReportsLocationAndLineAndGoesOn) {
    struct Case {
        const char* form;
        const char* handler;
        const char* fault;
        std::function<void(World&)> run;
        std::vector<int> lines;
        std::function<void(World&)> after; // checks that later steps still ran
    };
    auto nothing = [](World&) {};
    const Case cases[] = {
        {"Form1", "Form_Load", "Form1.faceColour",
         [](World& h) {
             QDir(h.dir.path()).mkpath("x");
             QFile(h.dir.path() + "/x/o.cjs").open(QIODevice::WriteOnly);
             app::setProgramFolderForTesting(h.dir.path().toStdString());
             app::StartUp(h.page, h.store, h.program, h.services);
         },
         {100}, [](World& h) { EXPECT_EQ(h.page.caption, "Quillmere"); }},
        {"Form1", "Form_Load", "Form1.caption",
         [](World& h) { app::StartUp(h.page, h.store, h.program, h.services); }, {106},
         [](World& h) {
             EXPECT_TRUE(h.page.icon);
             EXPECT_EQ(h.page.text(app::Field::Port), "5432");
         }},
        {"Form1", "Form_Load", "Form1.Text3",
         [](World& h) { app::StartUp(h.page, h.store, h.program, h.services); }, {132},
         [](World& h) { EXPECT_EQ(h.store.read("Database", "absent"), ""); }},
        // A failing test enters its body: 124 then 142, whose body tests PostgreSQL.
        {"Form1", "Form_Load", "fileExists",
         [](World& h) { app::StartUp(h.page, h.store, h.program, h.services); }, {124, 142},
         [](World& h) {
             EXPECT_EQ(h.page.handImage, app::handPointerFile());
             EXPECT_EQ(h.scripted.postgresTests, 1);
             EXPECT_TRUE(h.page.visible);
         }},
        {"Form1", "PushButton1_Click", "dialog.title", [](World& h) { connection::BrowseAccessFile(h.page); },
         {104}, [](World& h) { EXPECT_EQ(h.page.dialog.shows, 1); }},
        {"Form1", "PushButton2_Click", "pointer11", [](World& h) { app::GoToTableManager(h.page, h.services); },
         {100}, [](World& h) { EXPECT_EQ(h.page.fakePointer().history, std::vector<int>{0}); }},
        {"Form1", "PushButton2_Click", "fillAccess",
         [](World& h) {
             h.usableConnection();
             app::GoToTableManager(h.page, h.services);
         },
         {106},
         [](World& h) {
             EXPECT_EQ(h.tables().list1.count(), 0);
             EXPECT_EQ(h.tables().list2.items(), (std::vector<std::string>{"orders", "pg_type"}));
             EXPECT_TRUE(h.tables().visible);
             EXPECT_FALSE(h.page.visible);
             EXPECT_EQ(h.page.fakePointer().state(), ui::PointerDefault);
         }},
        {"Form1", "PushButton3_Click", "message", [](World& h) { connection::TestConnection(h.page, h.services); },
         {112}, [](World& h) { EXPECT_EQ(h.page.fakePointer().history, (std::vector<int>{11, 0})); }},
        {"Form1", "PushButton5_Click", "message", [](World& h) { connection::ShowConnectionHelp(h.page); }, {106},
         nothing},
        {"Form1", "PushButton7_Click", "Form1.Text6", [](World& h) { connection::LoadSampleDatabase(h.page); },
         {100}, nothing},
        {"Form2", "Form_Load", "Form2.caption",
         [](World& h) { tables::CreateTableManagerPage(h.tables(), h.services); }, {110},
         [](World& h) { EXPECT_EQ(h.tables().outerHeight, 5965); }},
        {"Form2", "PushButton2_Click", "Form1.show",
         [](World& h) { tables::ReturnToConnectionPage(h.tables(), h.page); }, {100},
         [](World& h) { EXPECT_EQ(h.tables().hides, 1); }},
        {"Form2", "PushButton8_Click", "List2.setSelected",
         [](World& h) {
             h.tables().list2.addItem("a");
             h.tables().list2.addItem("b");
             tables::SelectAllPostgreSQLTables(h.tables());
         },
         {102, 102}, nothing},
        {"Form2", "PushButton9_Click", "List2.count",
         [](World& h) { tables::DeselectAllPostgreSQLTables(h.tables()); }, {100}, nothing},
        {"Form2", "PushButton10_Click", "List1.setSelected",
         [](World& h) {
             h.tables().list1.addItem("a");
             tables::SelectAllAccessTables(h.tables());
         },
         {102}, nothing},
        {"Form2", "PushButton11_Click", "List1.count",
         [](World& h) { tables::DeselectAllAccessTables(h.tables()); }, {100}, nothing},
        {"Form2", "PushButton12_Click", "message", [](World& h) { tables::ShowTableManagerHelp(h.tables()); },
         {100}, nothing},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.form) + "." + c.handler + " failing in " + c.fault);
        World h;
        h.faults.arm(c.fault);
        c.run(h);
        const auto& reports = std::string(c.form) == "Form1" ? h.page.fakeDialogs().reports
                                                             : h.tables().fakeDialogs().reports;
        ASSERT_EQ(reports.size(), c.lines.size());
        const std::string location = app::locationText(c.form, c.handler);
        for (std::size_t i = 0; i < reports.size(); ++i)
            EXPECT_EQ(reports[i], app::errorReportText(fakes::kInjected + " in " + c.fault, location, c.lines[i]));
        c.after(h);
    }
}

TEST_F(Handlers, StartUpMovesOnByItselfWhenTheStoredConnectionIsUsable) {
    store.write("AccessFile", "/data/orders.mdb");
    scripted.files.insert("/data/orders.mdb");
    scripted.postgresOpens = true;
    scripted.postgresTables = {"orders"};
    app::StartUp(page, store, program, services);
    ASSERT_NE(page.tablesIfCreated(), nullptr);
    EXPECT_TRUE(tables().visible);
    EXPECT_FALSE(page.visible) << "the ConnectionPage is not shown after an automatic page change";
    EXPECT_EQ(page.shows, 0);
    EXPECT_EQ(scripted.postgresTests, 2) << "once in StartUp, once in GoToTableManager";
    EXPECT_EQ(tables().list2.items(), std::vector<std::string>{"orders"});
    EXPECT_FALSE(program.ended());
}

// "Next >" by the user says which of the two is missing and why, in one
// message; the page stays as it was.
TEST_F(Handlers, NextSaysWhyWhenFileOrServerIsMissing) {
    struct Case {
        const char* what;
        std::string accessFile;
        bool fileThere, serverAnswers;
        int postgresTests;
        std::string message;
    };
    const Case cases[] = {
        {"no Access file", "/data/orders.mdb", false, true, 0,
         "The Access database file \"/data/orders.mdb\" does not exist."},
        {"Access file field empty", "", false, true, 0,
         "No Access database is chosen: choose its file with \"...\" or \"Load Sample/Example Database\"."},
        {"server does not answer", "/data/orders.mdb", true, false, 1,
         "Could not connect to the PostgreSQL database.\r\nThe server does not answer (scripted)."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        World h;
        h.page.fields[app::Field::AccessFile] = c.accessFile;
        if (c.fileThere) h.scripted.files.insert(c.accessFile);
        h.scripted.postgresOpens = c.serverAnswers;
        h.page.visible = true;
        app::GoToTableManager(h.page, h.services);
        EXPECT_EQ(h.page.tableManagerCreations, 0);
        EXPECT_TRUE(h.page.visible);
        EXPECT_EQ(h.page.fakeDialogs().messages(), std::vector<std::string>{c.message});
        EXPECT_EQ(h.page.fakeDialogs().shown.at(0).caption, "") << "the application title";
        EXPECT_TRUE(h.page.fakeDialogs().reports.empty());
        EXPECT_EQ(h.page.fakePointer().history, (std::vector<int>{11, 0}));
        EXPECT_EQ(h.scripted.postgresTests, c.postgresTests);
    }
}

// At start-up a stored connection that no longer opens leaves the user on the
// ConnectionPage without a word, and so does StartUp's own "Next >" should the
// server go away between its test and the page change.
TEST_F(Handlers, StartUpStaysSilentWhenTheStoredConnectionDoesNotOpen) {
    struct Case {
        const char* what;
        bool fileThere;
        int serverAnswersTimes; // how many tests the server passes before it stops answering
    };
    const Case cases[] = {
        {"stored Access file deleted", false, 1},
        {"server does not answer", true, 0},
        {"server gone before StartUp's own Next", true, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        World h;
        h.store.write("AccessFile", "/data/orders.mdb");
        if (c.fileThere) h.scripted.files.insert("/data/orders.mdb");
        int answers = c.serverAnswersTimes;
        h.services.postgreSQLConnectionProblem = [&](const db::ParameterSource&) {
            return answers-- > 0 ? std::string() : std::string("gone");
        };
        app::StartUp(h.page, h.store, h.program, h.services);
        EXPECT_TRUE(h.page.fakeDialogs().shown.empty());
        EXPECT_TRUE(h.page.fakeDialogs().reports.empty());
        EXPECT_TRUE(h.page.visible);
        EXPECT_EQ(h.page.tableManagerCreations, 0);
        EXPECT_EQ(h.page.fakePointer().state(), ui::PointerDefault);
    }
}

TEST_F(Handlers, BackThenNextFillsBothListsAnewOnce) {
    usableConnection();
    app::GoToTableManager(page, services);
    tables().list1.setSelected(0, true);
    tables::ReturnToConnectionPage(tables(), page);
    EXPECT_TRUE(page.visible);
    EXPECT_FALSE(tables().visible);
    EXPECT_EQ(tables().list1.selCount(), 1) << "the lists keep entries and selection while hidden";
    scripted.accessTables.push_back("Archive");
    app::GoToTableManager(page, services);
    EXPECT_EQ(page.tableManagerCreations, 1);
    EXPECT_EQ(tables().list1.items(), (std::vector<std::string>{"Archive", "customers", "Orders"}));
    EXPECT_EQ(tables().list2.items(), (std::vector<std::string>{"orders", "pg_type"}));
    EXPECT_EQ(page.fakePointer().history, (std::vector<int>{11, 0, 11, 0}));
}

TEST_F(Handlers, TableManagerCreationSetsLookCaptionPointerAndHeight) {
    for (bool cursorFile : {false, true}) {
        SCOPED_TRACE(cursorFile ? "with HAND-M.CUR" : "without HAND-M.CUR");
        World h;
        if (cursorFile) h.scripted.files.insert(app::handPointerFile());
        tables::CreateTableManagerPage(h.tables(), h.services);
        EXPECT_TRUE(h.tables().faceColour) << "this page always takes the system face colour";
        EXPECT_TRUE(h.tables().icon);
        EXPECT_EQ(h.tables().caption, "Quillmere");
        EXPECT_EQ(h.tables().outerHeight, 4980 + 405 + 580);
        EXPECT_EQ(h.tables().handImage, cursorFile ? app::handPointerFile() : "");
        EXPECT_TRUE(h.tables().fakeDialogs().reports.empty());
    }
}

TEST_F(Handlers, SelectAndDeselectAllTouchOnlyTheirOwnList) {
    using Handler = void (*)(app::TableManagerPage&);
    struct Case {
        const char* what;
        Handler handler;
        int list1Selected, list2Selected;
    };
    const Case cases[] = {
        {"Select All, Access side", tables::SelectAllAccessTables, 3, 1},
        {"Deselect All, Access side", tables::DeselectAllAccessTables, 0, 1},
        {"Select All, PostgreSQL side", tables::SelectAllPostgreSQLTables, 1, 2},
        {"Deselect All, PostgreSQL side", tables::DeselectAllPostgreSQLTables, 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        World h;
        auto& t = h.tables();
        for (auto* n : {"a", "b", "c"}) t.list1.addItem(n);
        for (auto* n : {"x", "y"}) t.list2.addItem(n);
        t.list1.setSelected(1, true);
        t.list2.setSelected(0, true);
        t.list1.setCurrentIndex(2);
        c.handler(t);
        EXPECT_EQ(t.list1.selCount(), c.list1Selected);
        EXPECT_EQ(t.list2.selCount(), c.list2Selected);
        EXPECT_EQ(t.list1.currentIndex(), 2) << "the current entry stays";
    }
    // Empty lists: nothing happens, nothing is reported.
    tables::SelectAllAccessTables(tables());
    tables::DeselectAllPostgreSQLTables(tables());
    EXPECT_TRUE(tables().fakeDialogs().reports.empty());
}

} // namespace
