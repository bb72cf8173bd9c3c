// Why a connection failed, as the ConnectionPage says it: "Test Connection",
// "Next >" by the user and the silent start-up, against real failures (a
// closed port, an unknown host, a server that never answers, and the
// scripts/pg-cluster.sh server refusing a password or lacking a database).
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <cstdlib>
#include <optional>

#include "../db/pg_test_support.h"
#include "app/page_flow.h"
#include "connection/connection_handlers.h"
#include "connection/failure_messages.h"
#include "support/fakes.h"
#include "support/silent_server.h"

namespace {

// Typed into the password field in every case: no message may show it.
const std::string kPassword = "Pw-7d3f-never-shown";

// Sets (or, given null, removes) an environment variable for the life of the object.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value) ::setenv(name, value, 1);
        else ::unsetenv(name);
    }
    ~ScopedEnv() {
        if (old_) ::setenv(name_, old_->c_str(), 1);
        else ::unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

struct Page {
    QTemporaryDir dir;
    fakes::Faults faults;
    app::SettingsStore store{(dir.path() + "/Velmora.conf").toStdString()};
    fakes::ConnectionPage page{faults, store};
    fakes::Program program;
    app::Services services = app::defaultServices();

    // The five PostgreSQL fields and an Access file that exists.
    explicit Page(const db::ConnectionParameters& p) {
        const QString access = dir.path() + "/orders.mdb";
        QFile file(access);
        if (!file.open(QIODevice::WriteOnly)) throw std::runtime_error("no Access file");
        const std::pair<app::Field, std::string> fields[] = {
            {app::Field::Server, p.server},     {app::Field::Port, p.port},
            {app::Field::User, p.user},         {app::Field::Password, p.password},
            {app::Field::Database, p.database}, {app::Field::AccessFile, access.toStdString()}};
        for (const auto& [field, text] : fields) page.setText(field, text);
    }
    std::vector<std::string> messages() { return page.fakeDialogs().messages(); }
};

struct Failure {
    const char* what;
    db::ConnectionParameters fields;
    std::string reason;
};

// "Test Connection" shows the sentence and the reason below it, "Next >" one
// message with the same reason, and a start-up with these stored fields says
// nothing and stays on the page.
void expectReason(const Failure& f) {
    SCOPED_TRACE(f.what);
    {
        Page p(f.fields);
        connection::TestConnection(p.page, p.services);
        EXPECT_EQ(p.messages(), std::vector<std::string>{connection::kCouldNotConnect + "\r\n" + f.reason});
        EXPECT_EQ(p.page.fakePointer().history, (std::vector<int>{11, 0}));
        EXPECT_TRUE(p.page.fakeDialogs().reports.empty());
    }
    {
        Page p(f.fields);
        app::GoToTableManager(p.page, p.services);
        EXPECT_EQ(p.messages(),
                  std::vector<std::string>{"Could not connect to the PostgreSQL database.\r\n" + f.reason});
        EXPECT_EQ(p.page.tableManagerCreations, 0);
        EXPECT_EQ(p.page.fakePointer().history, (std::vector<int>{11, 0}));
        for (const auto& m : p.messages()) EXPECT_EQ(m.find(kPassword), std::string::npos) << m;
    }
    {
        Page p(f.fields);
        app::StartUp(p.page, p.store, p.program, p.services);
        EXPECT_TRUE(p.page.fakeDialogs().shown.empty());
        EXPECT_TRUE(p.page.fakeDialogs().reports.empty());
        EXPECT_TRUE(p.page.visible);
        EXPECT_EQ(p.page.tableManagerCreations, 0);
    }
}

db::ConnectionParameters fieldsFor(const std::string& server, const std::string& port) {
    return {server, port, "qm_user", kPassword, "quillmere_test", "", ""};
}

TEST(ConnectionFailureReasons, WithoutAServer) {
    expectReason({"closed port", fieldsFor("127.0.0.1", "1"),
                  "The server \"127.0.0.1\" refused the connection on port 1: no PostgreSQL server is listening on "
                  "that port."});
    expectReason({"port not a number", fieldsFor("127.0.0.1", "54x"), "The port \"54x\" is not a number."});

    // A name under .invalid never resolves, with or without a network; a
    // resolver that cannot be reached says so instead of "unknown".
    Page p(fieldsFor("nowhere.invalid", "5432"));
    connection::TestConnection(p.page, p.services);
    ASSERT_EQ(p.messages().size(), 1u);
    const std::string unknown = connection::kCouldNotConnect + "\r\nThe host name \"nowhere.invalid\" ";
    EXPECT_EQ(p.messages()[0].substr(0, unknown.size()), unknown) << p.messages()[0];
    if (p.messages()[0].find("could not be looked up") == std::string::npos)
        expectReason({"unknown host", fieldsFor("nowhere.invalid", "5432"),
                      "The host name \"nowhere.invalid\" is unknown: no computer of that name could be found."});
}

// The time-out comes from PGCONNECT_TIMEOUT here, so that the test waits 2
// seconds per attempt rather than 10; the page's texts name what it waited.
TEST(ConnectionFailureReasons, ServerThatNeverAnswers) {
    ScopedEnv timeout("PGCONNECT_TIMEOUT", "2");
    fakes::SilentServer silent;
    QElapsedTimer clock;
    clock.start();
    expectReason({"silent server", fieldsFor("127.0.0.1", silent.port()),
                  "The server \"127.0.0.1\" did not answer on port " + silent.port() + " within 2 seconds."});
    const qint64 waited = clock.elapsed(); // three attempts: "Test Connection", "Next >", start-up
    EXPECT_GE(waited, 3 * 1500);
    EXPECT_LT(waited, 3 * 6000);
}

class ConnectionFailureReasonsOnServer : public pgtest::PgFixture {
protected:
    void TearDown() override {
        if (!role.empty()) {
            try {
                pgtest::exec(*pg, "DROP ROLE IF EXISTS " + role);
            } catch (...) {
            }
        }
        PgFixture::TearDown();
    }
    std::string role;
};

TEST_F(ConnectionFailureReasonsOnServer, PasswordAndDatabase) {
    // A role that logs in with its password only; the page types another one.
    role = pgtest::uniqueName("qm_pw_role");
    pgtest::exec(*pg, "CREATE ROLE " + role + " LOGIN PASSWORD 'the-right-one'");
    auto wrongPassword = pgtest::serverParameters();
    wrongPassword.user = role;
    wrongPassword.password = kPassword;
    expectReason({"wrong password", wrongPassword,
                  "Password authentication failed for the user \"" + role +
                      "\": the user name or the password is wrong."});

    auto noDatabase = pgtest::serverParameters();
    noDatabase.database = pgtest::uniqueName("qm_no_such_db");
    expectReason({"missing database", noDatabase,
                  "The database \"" + noDatabase.database + "\" does not exist on the server."});

    // An empty password field leaves libpq to PGPASSWORD; without it there is none.
    {
        ScopedEnv noPassword("PGPASSWORD", nullptr);
        auto emptyPassword = wrongPassword;
        emptyPassword.password.clear();
        expectReason({"no password", emptyPassword, "The server asks for a password, and none was given."});
    }

    // The right fields still open.
    Page p(pgtest::serverParameters());
    connection::TestConnection(p.page, p.services);
    EXPECT_EQ(p.messages(), std::vector<std::string>{"Connection successful."});
}

} // namespace
