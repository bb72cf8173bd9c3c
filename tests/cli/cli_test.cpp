// quillmere-cli as people run it: exit statuses, messages on stderr, and the
// same transfers as the page.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <sys/wait.h>

#include "../transfer/environment.h"

namespace {

struct Outcome {
    int status = -1;
    std::string out, err;
};

// Runs the program with stdin from /dev/null (not a terminal).
Outcome run(const std::string& arguments, const env::TempDir& dir) {
    const std::string errFile = (dir.path() / "stderr.txt").string();
    const std::string command = std::string(QM_CLI) + " " + arguments + " </dev/null 2>" + errFile;
    Outcome r;
    FILE* pipe = ::popen(command.c_str(), "r");
    std::array<char, 4096> buf{};
    for (std::size_t n; (n = std::fread(buf.data(), 1, buf.size(), pipe)) > 0;) r.out.append(buf.data(), n);
    const int status = ::pclose(pipe);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (FILE* f = std::fopen(errFile.c_str(), "r")) {
        for (std::size_t n; (n = std::fread(buf.data(), 1, buf.size(), f)) > 0;) r.err.append(buf.data(), n);
        std::fclose(f);
    }
    return r;
}

std::string quoted(const std::string& s) { return "'" + s + "'"; }

TEST(Cli, WithoutAServer) {
    env::TempDir dir;
    const std::string file = dir.copy("mdb-reader/V2000/test.mdb", "work.mdb");
    const struct {
        std::string arguments;
        int status;
        const char* out; // expected in stdout
        const char* err; // expected in stderr
    } cases[] = {
        {"--help", 0, "send-to-postgresql", ""},
        {"--version", 0, "quillmere-cli 0.1.0", ""},
        {"", 1, "", "Usage: quillmere-cli COMMAND"},
        {"no-such-command", 1, "", "unknown command 'no-such-command'"},
        {"send-to-postgresql --help", 0, "--skip-existing", ""},
        {"tables " + file, 0, "Table1\nTable2\nTable3\nTable4\n", ""},
        {"send-to-postgresql " + file + " --pg 'host=localhost password=secret'", 1, "",
         "a password does not belong on the command line"},
        {"send-to-postgresql " + file, 1, "", "usage: quillmere-cli send-to-postgresql"},
        {"send-to-postgresql " + file + " --overwrite --skip-existing --pg host=x", 1, "", "exclude each other"},
        {"send-to-access 'host=x' " + (dir.path() / "missing.mdb").string(), 1, "", "missing.mdb"},
        {"send-to-postgresql " + file + " --pg 'host=127.0.0.1 port=1'", 1, "", "PostgreSQL"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        const Outcome r = run(c.arguments, dir);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_NE(r.out.find(c.out), std::string::npos) << r.out;
        EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
    }
}

TEST(Cli, SendBothWaysWithExitStatuses) {
    REQUIRE_POSTGRES();
    env::ownSchema("qm_cli");
    env::TempDir dir;
    const std::string file = dir.copy("mdb-reader/V2000/test.mdb", "work.mdb");
    const std::string back = dir.copy("jackcess/templates/empty.mdb", "back.mdb");
    const std::string locked = dir.copy("mdb-reader/password/V2000_with-password.mdb", "locked.mdb");
    const std::string passwordFile = (dir.path() / "password.txt").string();
    {
        FILE* f = std::fopen(passwordFile.c_str(), "w");
        std::fputs("password\n", f);
        std::fclose(f);
    }
    auto pg = env::Session::postgres();
    for (const char* t : {"Table1", "Table2", "Table3", "Table4", "cli_bad"}) pg.exec("DROP TABLE IF EXISTS \"" + std::string(t) + "\"");
    pg.exec("CREATE TABLE cli_bad(n numeric)");
    pg.exec("INSERT INTO cli_bad VALUES (1), (123456789012345678901234567890)");
    const db::ConnectionParameters p = env::parameters();
    ::setenv("PGPASSWORD", p.password.c_str(), 1);
    const std::string conninfo = quoted("host=" + p.server + " port=" + p.port + " user=" + p.user + " dbname=" + p.database);
    const std::string uri = "postgresql://" + p.user + "@" + p.server + ":" + p.port + "/" + p.database;
    const struct {
        const char* what;
        std::string arguments;
        int status;
        const char* err;
    } cases[] = {
        {"two named tables", "send-to-postgresql " + file + " Table1 table3 --pg " + conninfo, 0, "2 table(s) sent, 2 row(s)"},
        {"existing, stdin no terminal: not overwritten", "send-to-postgresql " + file + " Table1 --pg " + conninfo, 0,
         "Would you like to overwrite Table1? No"},
        {"--skip-existing", "send-to-postgresql " + file + " --skip-existing --pg " + uri, 0, "2 table(s) sent"},
        {"--overwrite, every table", "send-to-postgresql " + file + " --overwrite --pg " + uri, 0, "4 table(s) sent, 2 row(s)"},
        {"a table that is not there", "send-to-postgresql " + file + " Nope --pg " + uri, 2, "no table 'Nope'"},
        {"back to Access", "send-to-access " + uri + " " + back + " Table1 Table3", 0, "2 table(s) sent, 2 row(s)"},
        {"a value Access cannot hold", "send-to-access " + uri + " " + back + " cli_bad", 2,
         "1 of 2 rows of the table cli_bad could not be sent."},
        {"an Access password from a file", "send-to-postgresql " + locked + " --overwrite --password-file " +
         passwordFile + " --pg " + uri, 0, "1 table(s) sent, 3 row(s)"},
        {"without it the file does not open", "send-to-postgresql " + locked + " --pg " + uri, 1, "locked.mdb"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Outcome r = run(c.arguments, dir);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
    }
    auto a = env::Session::access(back);
    EXPECT_EQ(a.rows("SELECT * FROM `Table1`").size(), 2u);
    EXPECT_EQ(a.rows("SELECT * FROM `cli_bad`"), (env::Rows{{"1"}}));
    ::unsetenv("PGPASSWORD");
}

} // namespace
