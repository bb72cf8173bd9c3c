// TestPostgreSQLConnection and FillPostgreSQLTableList against the
// throw-away server, and awkward passwords reaching it intact.

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "db/pg_session.h"
#include "db/postgresql.h"
#include "db/session.h"
#include "pg_test_support.h"

namespace {

using pgtest::exec;
using pgtest::scalar;

db::ParameterSource fixed(const db::ConnectionParameters& p) {
    return [p] { return p; };
}

class PgCatalogue : public pgtest::PgFixture {
protected:
    void TearDown() override {
        db::setConnectionCreationFailure(nullptr);
        for (const auto& role : roles) {
            try {
                exec(*pgtest::connect(), "DROP ROLE IF EXISTS " + role);
            } catch (...) {
            }
        }
        PgFixture::TearDown();
    }

    // All names pg_tables lists right now, sorted the way the list box sorts.
    std::vector<std::string> catalogueNames() {
        pgtest::RecordingList sorted;
        auto rs = pg->execute("select tablename from pg_tables");
        for (; !rs->eof(); rs->moveNext()) sorted.addItem(rs->value(0).toText());
        return sorted.items;
    }

    // The list holds exactly what pg_tables held during the fill: when nothing
    // else changed the catalogue meanwhile, the same entries; otherwise at
    // least those that stayed throughout.
    static void expectCatalogue(const pgtest::RecordingList& list, const std::vector<std::string>& before,
                                const std::vector<std::string>& after) {
        if (before == after) {
            EXPECT_EQ(list.items, after);
            return;
        }
        for (const auto& name : before) {
            if (std::find(after.begin(), after.end(), name) != after.end()) {
                EXPECT_GE(list.occurrences(name), 1) << name;
            }
        }
    }

    void fill(pgtest::RecordingList& list, ui::Dialogs& dialogs) {
        const auto before = catalogueNames();
        db::FillPostgreSQLTableList(list, fixed(pgtest::serverParameters()), dialogs);
        expectCatalogue(list, before, catalogueNames());
    }

    std::vector<std::string> roles;
};

// Dialogs that note how many entries the list had each time events ran.
class EventLog : public pgtest::RecordingDialogs {
public:
    explicit EventLog(const ui::ListBox& list) : list_(list) {}
    void processEvents() override {
        RecordingDialogs::processEvents();
        counts.push_back(list_.count());
    }
    std::vector<int> counts;

private:
    const ui::ListBox& list_;
};

TEST_F(PgCatalogue, FillListsEveryTableOfEverySchema) {
    const std::string other = pgtest::uniqueName("qm_other");
    exec(*pg, "CREATE TABLE \"Mixed_Case_Table\" (a int)");
    exec(*pg, "CREATE TABLE shared_name (a int)");
    exec(*pg, "CREATE SCHEMA " + other);
    exec(*pg, "CREATE TABLE " + other + ".shared_name (a int)");

    pgtest::RecordingList list;
    EventLog dialogs(list);
    const auto before = catalogueNames();
    db::FillPostgreSQLTableList(list, fixed(pgtest::serverParameters()), dialogs);
    const auto after = catalogueNames();
    exec(*pg, "DROP SCHEMA " + other + " CASCADE");

    EXPECT_EQ(list.occurrences("Mixed_Case_Table"), 1);
    EXPECT_EQ(list.occurrences("shared_name"), 2); // names come without their schema
    EXPECT_EQ(list.occurrences("pg_class"), 1);    // the server's own tables are listed too
    EXPECT_EQ(list.currentIndex(), -1);
    EXPECT_TRUE(dialogs.shown.empty());
    // Events ran once before each entry was added.
    std::vector<int> expected(list.items.size());
    for (std::size_t i = 0; i < expected.size(); ++i) expected[i] = int(i);
    EXPECT_EQ(dialogs.counts, expected);
    expectCatalogue(list, before, after);
}

TEST_F(PgCatalogue, RefillingReplacesTheEntries) {
    exec(*pg, "CREATE TABLE first_table (a int)");
    pgtest::RecordingList list;
    list.addItem("stale entry");
    pgtest::RecordingDialogs dialogs;
    fill(list, dialogs);
    EXPECT_EQ(list.occurrences("stale entry"), 0);
    EXPECT_EQ(list.occurrences("first_table"), 1);

    fill(list, dialogs); // no entry twice
    EXPECT_EQ(list.occurrences("first_table"), 1);
    EXPECT_EQ(list.occurrences("pg_class"), 1);
    EXPECT_EQ(list.clears, 2);

    exec(*pg, "DROP TABLE first_table");
    exec(*pg, "CREATE TABLE second_table (a int)");
    fill(list, dialogs);
    EXPECT_EQ(list.occurrences("first_table"), 0);
    EXPECT_EQ(list.occurrences("second_table"), 1);
}

TEST_F(PgCatalogue, FailuresReachTheCallerAndLeaveTheListAlone) {
    auto wrongPassword = pgtest::serverParameters();
    wrongPassword.password = "wrong";
    auto noDatabase = pgtest::serverParameters();
    noDatabase.database = "no_such_database";
    struct Case {
        const char* name;
        db::ParameterSource source;
    };
    const std::vector<Case> cases = {
        {"wrong password", fixed(wrongPassword)},
        {"no such database", fixed(noDatabase)},
        {"fields unreadable", [] () -> db::ConnectionParameters { throw db::Error(91, "Object variable not set"); }},
    };
    for (const auto& c : cases) {
        pgtest::RecordingList list;
        list.addItem("kept");
        pgtest::RecordingDialogs dialogs;
        EXPECT_THROW(db::FillPostgreSQLTableList(list, c.source, dialogs), db::Error) << c.name;
        EXPECT_EQ(list.items, std::vector<std::string>{"kept"}) << c.name;
        EXPECT_EQ(list.clears, 0) << c.name;
        EXPECT_TRUE(dialogs.shown.empty()) << c.name;
    }
}

TEST_F(PgCatalogue, TestConnectionAnswersSilently) {
    const auto good = pgtest::serverParameters();
    auto wrongPassword = good, wrongUser = good, closed = good, noDatabase = good, badPort = good, semicolon = good;
    wrongPassword.password = "not the password";
    wrongUser.user = "nobody_here";
    closed.port = "1";
    noDatabase.database = "no_such_database";
    badPort.port = "port";
    semicolon.password = good.password + ";Pwd=" + good.password; // must not turn into a second, right password
    struct Case {
        const char* name;
        db::ParameterSource source;
        bool expected;
    };
    const std::vector<Case> cases = {
        {"good", fixed(good), true},
        {"all fields empty (libpq defaults)", fixed(db::ConnectionParameters{}), true},
        {"wrong password", fixed(wrongPassword), false},
        {"wrong user", fixed(wrongUser), false},
        {"unreachable port", fixed(closed), false},
        {"no such database", fixed(noDatabase), false},
        {"port not a number", fixed(badPort), false},
        {"password with ;", fixed(semicolon), false},
        {"fields unreadable", [] () -> db::ConnectionParameters { throw std::runtime_error("gone"); }, false},
    };
    for (const auto& c : cases) EXPECT_EQ(db::TestPostgreSQLConnection(c.source), c.expected) << c.name;
}

TEST_F(PgCatalogue, ConnectionObjectFailuresAreNotSwallowed) {
    db::setConnectionCreationFailure([] { throw db::Error(429, "ActiveX component can't create object"); });
    try {
        db::TestPostgreSQLConnection(fixed(pgtest::serverParameters()));
        ADD_FAILURE() << "creation failure swallowed";
    } catch (const db::Error& e) {
        EXPECT_EQ(e.number(), 429);
    }
    pgtest::RecordingList list;
    pgtest::RecordingDialogs dialogs;
    EXPECT_THROW(db::FillPostgreSQLTableList(list, fixed(pgtest::serverParameters()), dialogs), db::Error);
}

// Passwords that would break an unbraced connection string reach the server
// exactly as typed.
TEST_F(PgCatalogue, AwkwardPasswordsReachTheServerIntact) {
    const std::vector<std::string> passwords = {"a;Database=postgres", "{braced}", "}{;", "x}}y;z", ";", "{", " a;b "};
    for (const auto& password : passwords) {
        SCOPED_TRACE("password [" + password + "]");
        const std::string role = pgtest::uniqueName("qm_role");
        roles.push_back(role);
        std::string literal;
        for (char ch : password) literal += ch == '\'' ? std::string("''") : std::string(1, ch);
        exec(*pg, "CREATE ROLE " + role + " LOGIN PASSWORD '" + literal + "'");

        auto fields = pgtest::serverParameters();
        fields.user = role;
        fields.password = password;
        EXPECT_TRUE(db::TestPostgreSQLConnection(fixed(fields)));
        {
            auto session = pgtest::connect(fields);
            EXPECT_EQ(scalar(*session, "SELECT current_user || '@' || current_database()"),
                      role + "@" + pgtest::env("QM_PG_DATABASE"));
        }
        // Only the whole password opens the door.
        fields.password = password.substr(0, password.find(';'));
        if (fields.password != password) {
            EXPECT_FALSE(db::TestPostgreSQLConnection(fixed(fields)));
        }
    }
}

} // namespace
