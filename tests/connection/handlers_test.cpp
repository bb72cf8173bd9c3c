// The ConnectionPage's buttons and the engine check, headless.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <functional>

#include "app/files.h"
#include "app/page_flow.h"
#include "app/trap.h"
#include "connection/connection_handlers.h"
#include "connection/engine_check.h"
#include "db/session.h"
#include "support/fakes.h"

namespace {

// A stand-in engine for "QuillmereTest=..." connection strings: opens unless
// the string says "refuse".
class NullBackend : public db::Backend {
public:
    std::unique_ptr<db::Recordset> execute(const std::string&) override { return nullptr; }
    std::unique_ptr<db::Recordset> openSchema(int) override { return nullptr; }
    std::unique_ptr<db::Recordset> openRecordset(const std::string&, int, int) override { return nullptr; }
    void close() override {}
};

struct World {
    World() {
        db::Connection::registerEngine("QuillmereTest", [](const std::string& cs, short, short) {
            if (cs.find("refuse") != std::string::npos) throw db::Error(-1, "connection refused");
            return std::unique_ptr<db::Backend>(std::make_unique<NullBackend>());
        });
    }
    ~World() {
        app::setProgramFolderForTesting("");
        db::setConnectionCreationFailure(nullptr);
    }
    QTemporaryDir dir;
    fakes::Faults faults;
    fakes::ScriptedServices scripted{faults};
    app::Services services = scripted.services();
    app::SettingsStore store{(dir.path() + "/Velmora.conf").toStdString()};
    fakes::ConnectionPage page{faults, store};
    fakes::Program program;

    void serverAnswers(bool yes) {
        services.postgreSQLConnectionString = [yes](const db::ConnectionParameters& p) {
            return std::string("QuillmereTest=") + (yes ? "open" : "refuse") + ";Server=" + p.server;
        };
    }
};

struct ConnectionButtons : ::testing::Test, World {};

TEST(AccessFileFilter, ThreePairsInOrderAndTheirPatterns) {
    const auto pairs = connection::parseFilter(connection::kAccessFileFilter);
    const std::vector<connection::FilterPair> expected{
        {"All Microsoft Databases (*.mdb,*.accdb)", "*.*db"},
        {"Microsoft Database (*.mdb)", "*.mdb"},
        {"Microsoft 2007 Database (*.accdb)", "*.accdb"},
    };
    EXPECT_EQ(pairs, expected);
    struct Case {
        const char* name;
        bool all, mdb, accdb;
    };
    const Case cases[] = {
        {"orders.mdb", true, true, false},  {"ORDERS.MDB", true, true, false}, {"x.accdb", true, false, true},
        {"notes.db", true, false, false},   {"a.b.cdb", true, false, false},  {"mdb", false, false, false},
        {"orders.mdb.bak", false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(connection::matchesPattern(c.name, pairs[0].pattern), c.all);
        EXPECT_EQ(connection::matchesPattern(c.name, pairs[1].pattern), c.mdb);
        EXPECT_EQ(connection::matchesPattern(c.name, pairs[2].pattern), c.accdb);
    }
}

TEST_F(ConnectionButtons, TestConnectionShowsExactlyOneMessage) {
    struct Case {
        const char* what;
        bool answers;
        std::function<void()> before;
        std::vector<std::string> messages;
        std::vector<int> reportLines;
    };
    const std::string ok = "Connection successful.";
    const std::string bad = "Could not connect. Please check with your administrator.";
    const Case cases[] = {
        {"server answers", true, [] {}, {ok}, {}},
        // A failure that is not libpq's in words it knows comes as it is.
        {"server refuses", false, [] {}, {bad + "\r\nconnection refused"}, {}},
        {"connection object cannot be created", true,
         [] { db::setConnectionCreationFailure([] { throw db::Error(429, "ActiveX component can't create object"); }); },
         {bad + "\r\nObject variable or With block variable not set"}, {100}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        World w;
        w.serverAnswers(c.answers);
        c.before();
        connection::TestConnection(w.page, w.services);
        EXPECT_EQ(w.page.fakeDialogs().messages(), c.messages);
        EXPECT_EQ(w.page.fakePointer().history, (std::vector<int>{11, 0})) << "busy while waiting, then default";
        std::vector<int> lines;
        for (const auto& r : w.page.fakeDialogs().reports)
            lines.push_back(r.find("PushButton3_Click at line 100") != std::string::npos ? 100 : -1);
        EXPECT_EQ(lines, c.reportLines);
        EXPECT_EQ(w.store.read("Server", "absent"), "absent") << "nothing is written to the store";
    }
}

TEST(EngineCheck, MessageHasItsSevenParagraphs) {
    const std::string text = connection::engineMissingText();
    EXPECT_EQ(text,
              "Error #3706: Provider cannot be found. It may not be properly installed.\r\n\r\n"
              "You are getting this error because:\r\n\r\n"
              "1. Microsoft Access is not installed on your computer.\r\n\r\n"
              "2. A set of Microsoft components to transfer data is not installed on your computer.\r\n\r\n"
              "You need to download and install Microsoft Access Database Engine 2010 or 2016 to solve this "
              "problem.\r\n\r\n"
              "Would you like me to open the Microsoft site now so you can do this?\r\n\r\n"
              "(If you have any further questions please email a screenshot of this error message to "
              "support@quillmere.example)");
}

TEST(EngineCheck, FailuresAnswersAndPages) {
    struct Case {
        const char* what;
        long number; // 0: creation works
        const char* description;
        int answer;
        bool pageFails;
        bool asked;
        std::vector<std::string> pages;
    };
    const std::vector<std::string> both{connection::kEngineDownload2010, connection::kEngineDownload2016};
    const Case cases[] = {
        {"engine present", 0, "", ui::AnswerYes, false, false, {}},
        {"missing provider, Yes", 3706, "Provider cannot be found. It may not be properly installed.", ui::AnswerYes,
         false, true, both},
        {"missing provider, No", 3706, "Provider cannot be found. It may not be properly installed.", ui::AnswerNo,
         false, true, {}},
        {"other letter case counts", -1, "The PROVIDER Cannot Be Found here", ui::AnswerYes, false, true, both},
        {"number 3706 with an unrelated text counts", 3706, "Something else", ui::AnswerNo, false, true, {}},
        {"any other failure ends silently", 429, "ActiveX component can't create object", ui::AnswerYes, false,
         false, {}},
        {"pages that fail to open are ignored", 3706, "x", ui::AnswerYes, true, true, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        World w;
        if (c.number) {
            const long number = c.number;
            const std::string description = c.description;
            db::setConnectionCreationFailure([=] { throw db::Error(number, description); });
        }
        if (c.pageFails) w.faults.arm("openWebPage");
        w.page.fakeDialogs().answers = {c.answer};
        const bool result = connection::CheckDatabaseEngine(w.page.dialogs(), w.services);
        EXPECT_EQ(result, c.number == 0);
        const auto& shown = w.page.fakeDialogs().shown;
        ASSERT_EQ(shown.size(), c.asked ? 1u : 0u);
        if (c.asked) {
            EXPECT_EQ(shown[0].kind, "question");
            EXPECT_EQ(shown[0].text, connection::engineMissingText());
            EXPECT_EQ(shown[0].caption, "") << "the application title";
        }
        EXPECT_EQ(w.scripted.opened, c.pages);
        EXPECT_TRUE(w.page.fakeDialogs().reports.empty()) << "the check never raises an error report";
    }
}

TEST_F(ConnectionButtons, StartUpEndsTheProgramWhenTheEngineIsMissingEvenAfterMovingOn) {
    for (int answer : {ui::AnswerYes, ui::AnswerNo}) {
        SCOPED_TRACE(answer);
        World w;
        w.store.write("AccessFile", "/data/a.mdb");
        w.scripted.files.insert("/data/a.mdb");
        w.scripted.postgresOpens = true;
        w.page.fakeDialogs().answers = {answer};
        db::setConnectionCreationFailure([] { throw db::Error(3706, "Provider cannot be found."); });
        app::StartUp(w.page, w.store, w.program, w.services);
        EXPECT_EQ(w.program.ends, 1);
        ASSERT_NE(w.page.tablesIfCreated(), nullptr);
        EXPECT_TRUE(w.page.tablesIfCreated()->visible) << "the page change came first";
        EXPECT_EQ(w.page.shows, 0) << "an ended program shows no ConnectionPage";
        EXPECT_EQ(w.scripted.opened.size(), answer == ui::AnswerYes ? 2u : 0u);
    }
}

} // namespace
