// quillmere-cli as people run it: exit statuses, messages on stderr, and the
// same transfers as the page.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstdio>
#include <sys/wait.h>

#include "../app/support/silent_server.h"
#include "../transfer/environment.h"

namespace {

struct Outcome {
    int status = -1;
    std::string out, err;
};

// Runs the program with stdin from /dev/null (not a terminal) unless the
// arguments redirect it themselves.
Outcome run(const std::string& arguments, const env::TempDir& dir) {
    const std::string errFile = (dir.path() / "stderr.txt").string();
    const bool ownStdin = arguments.find(" < ") != std::string::npos;
    const std::string command =
        std::string(QM_CLI) + " " + arguments + (ownStdin ? "" : " </dev/null") + " 2>" + errFile;
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
        {"send-to-postgresql --help", 0, "--full-schema", ""},
        {"tables " + file + " --schema", 0, "{\"name\":\"PrimaryKey\",\"columns\":[{\"name\":\"A\",\"order\":\"asc\"}]", ""},
        {"dump --help-all", 0, "--format", ""},
        {"tables " + file, 0, "Table1\nTable2\nTable3\nTable4\n", ""},
        {"send-to-postgresql " + file + " --pg 'host=localhost password=secret'", 1, "",
         "a password does not belong on the command line"},
        {"send-to-postgresql " + file, 1, "", "usage: quillmere-cli send-to-postgresql"},
        {"send-to-postgresql " + file + " --overwrite --skip-existing --pg host=x", 1, "", "exclude each other"},
        {"send-to-access 'host=x' " + (dir.path() / "missing.mdb").string(), 1, "", "missing.mdb"},
        {"send-to-postgresql " + file + " --pg 'host=127.0.0.1 port=1'", 1, "", "PostgreSQL"},
        {"send-to-access --help", 0, "--full-schema", ""},
        {"rename " + file, 1, "", "usage: quillmere-cli rename FILE OLD NEW"},
        {"rename " + file + " Nope Other", 2, "", "3376"},
        {"rename " + file + " Table2 Table3", 2, "", "'Table2' was not renamed"}, // asked, no terminal: No
        {"rename " + file + " Table2 a.b", 2, "", "a.b"},
        {"rename " + file + " Table2 'Tabelle Zwei'", 0, "", ""},
        {"tables " + file, 0, "Table1\nTable3\nTable4\nTabelle Zwei\n", ""},
        {"rename " + file + " 'Tabelle Zwei' Table3 --overwrite", 0, "", ""},
        {"tables " + file, 0, "Table1\nTable4\nTable3\n", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        const Outcome r = run(c.arguments, dir);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_NE(r.out.find(c.out), std::string::npos) << r.out;
        EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
    }
}

// Why PostgreSQL does not open, in the words the ConnectionPage uses; a
// connect_timeout in CONNINFO shortens the wait for a silent server.
TEST(Cli, SaysWhyPostgreSQLDoesNotOpen) {
    env::TempDir dir;
    fakes::SilentServer silent;
    struct Case {
        const char* what;
        std::string conninfo;
        std::string err;
        const char* password = nullptr; // PGPASSWORD for the case; null: as it is
    };
    std::vector<Case> cases = {
        {"closed port", "host=127.0.0.1 port=1",
         "The server \"127.0.0.1\" refused the connection on port 1: no PostgreSQL server is listening on that port."},
        {"unknown host", "host=nowhere.invalid", "The host name \"nowhere.invalid\" "},
        {"silent server", "host=127.0.0.1 connect_timeout=2 port=" + silent.port(),
         "The server \"127.0.0.1\" did not answer on port " + silent.port() + " within 2 seconds."},
    };
    if (env::havePostgres()) {
        const db::ConnectionParameters p = env::parameters();
        const std::string at = "host=" + p.server + " port=" + p.port + " user=" + p.user;
        cases.push_back({"missing database", at + " dbname=qm_cli_no_such_db",
                         "The database \"qm_cli_no_such_db\" does not exist on the server.", p.password.c_str()});
        cases.push_back({"wrong password", at + " dbname=" + p.database,
                         "Password authentication failed for the user \"" + p.user + "\"", "Pw-7d3f-never-shown"});
    }
    const char* old = std::getenv("PGPASSWORD");
    const std::string kept = old ? old : "";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.password) ::setenv("PGPASSWORD", c.password, 1);
        const Outcome r = run("tables --pg " + quoted(c.conninfo), dir);
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("quillmere-cli: " + c.err), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("Pw-7d3f-never-shown"), std::string::npos) << r.err;
    }
    if (old) ::setenv("PGPASSWORD", kept.c_str(), 1);
    else ::unsetenv("PGPASSWORD");
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
        {"the whole file with its schema", "send-to-postgresql " + file + " --overwrite --full-schema --pg " + uri, 0,
         "Keep column types, keys and indexes: 4 tables, 2 rows; created 4 primary keys"},
        {"back to Access with its types", "send-to-access " + uri + " " + back + " Table1 --overwrite --full-schema",
         0, "Keep column types, keys and indexes: 1 table, 2 rows; created 0 AutoNumbers"},
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

namespace {

std::string writeFile(const env::TempDir& dir, const std::string& name, const std::string& text) {
    const std::string path = (dir.path() / name).string();
    FILE* f = std::fopen(path.c_str(), "w");
    std::fputs(text.c_str(), f);
    std::fclose(f);
    return path;
}

// New databases of every format take a script, pass the checker and read back.
TEST(Cli, CreateExecCheckDumpOnEveryNewFormat) {
    env::TempDir dir;
    const std::string script = writeFile(dir, "script.sql",
        "CREATE TABLE `Orders`(`ID` LONG PRIMARY KEY,`Note` TEXT(20),`Paid` YESNO);\n"
        "INSERT INTO `Orders` VALUES(1, 'it''s, here', 'True');\n"
        "INSERT INTO `Orders` VALUES('2', NULL, 'False');\n"
        "CREATE INDEX `byNote` ON `Orders` (`Note` DESC, `Paid`);\n");
    for (const std::string format : {"jet3", "jet4", "ace12", "ace14", "ace16", "ace17"}) {
        SCOPED_TRACE(format);
        const std::string file =
            (dir.path() / ("new-" + format + (format.starts_with("jet") ? ".mdb" : ".accdb"))).string();
        EXPECT_EQ(run("create " + quoted(file) + " --format " + format, dir).status, 0);
        EXPECT_EQ(run("create " + quoted(file) + " --format " + format, dir).status, 1) << "a second create overwrote";
        const Outcome exec = run("exec " + quoted(file) + " --script " + quoted(script), dir);
        EXPECT_EQ(exec.status, 0) << exec.err;
        EXPECT_NE(exec.err.find("4 statement(s) ran, 0 failed"), std::string::npos) << exec.err;
        EXPECT_EQ(run("exec " + quoted(file) + " \"INSERT INTO Orders VALUES(2, 'x', 'True')\"", dir).status, 2)
            << "a duplicate primary key went in";
        const Outcome check = run("check " + quoted(file), dir);
        EXPECT_EQ(check.status, 0) << check.out << check.err;
        const Outcome dump = run("dump " + quoted(file) + " --format csv", dir);
        EXPECT_EQ(dump.out, "ID,Note,Paid\r\n1,\"it's, here\",true\r\n2,,false\r\n") << dump.err;
        EXPECT_NE(run("tables --all " + quoted(file), dir).out.find("MSysObjects\tSYSTEM TABLE"), std::string::npos);
    }
    EXPECT_EQ(run("create " + quoted((dir.path() / "x.mdb").string()) + " --format jet5", dir).status, 1);
}

// CSV shows a table as its record set does: list cells as one text, no version-history column. The
// values are those the fixture's expected dump (Jackcess) lists; JSON keeps the lists.
TEST(Cli, DumpShowsListCellsAsTextInCsvAndAsListsInJson) {
    env::TempDir dir;
    const std::string file = quoted((env::fixtures() / "files/jackcess/V2007/complexDataTestV2007.accdb").string());
    const Outcome csv = run("dump " + file + " --format csv", dir);
    EXPECT_EQ(csv.status, 0) << csv.err;
    EXPECT_EQ(csv.out, "id,memo-data,append-memo-data,multi-value-data,attach-data\r\n"
                       "row1,,,,\r\n"
                       "row2,row2-memo,row2-memo,value1;value4,test_data.txt;test_data2.txt\r\n"
                       "row3,row3-memo,row3-memo-again,value1;value2;value3;value4,\r\n"
                       "row4,row4-memo,row4-memo,,test_data2.txt\r\n");
    const Outcome json = run("dump " + file, dir);
    EXPECT_NE(json.out.find(R"(["row3",[{"value":"row3-memo-again","modified":"2011-09-12T21:22:45.382"},)"),
              std::string::npos);
    EXPECT_NE(json.out.find(R"(,["value1","value2","value3","value4"],[]])"), std::string::npos);
}

TEST(Cli, ExecStopsAtTheFirstFailureUnlessToldToGoOn) {
    env::TempDir dir;
    const std::string file = dir.copy("jackcess/templates/empty2010.accdb", "work.accdb");
    const std::string script = writeFile(dir, "script.sql",
        "CREATE TABLE `T`(`n` BYTE);\nINSERT INTO `T` VALUES(300);\nINSERT INTO `T` VALUES(7);\n");
    Outcome r = run("exec " + quoted(file) + " --script " + quoted(script), dir);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("1 statement(s) ran, 1 failed, 1 not run"), std::string::npos) << r.err;
    r = run("exec " + quoted(file) + " \"DROP TABLE T\"", dir);
    EXPECT_EQ(r.status, 0) << r.err;
    r = run("exec " + quoted(file) + " --keep-going --script " + quoted(script), dir);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("2 statement(s) ran, 1 failed, 0 not run"), std::string::npos) << r.err;
    EXPECT_EQ(run("exec " + quoted(file) + " \"SELECT * FROM T\"", dir).out, "n\r\n7\r\n");
    EXPECT_EQ(run("exec " + quoted(file) + " \"DELETE FROM T\"", dir).status, 2) << "unsupported statement ran";
}

// Long scripts reach the file in batches: a failure in the middle of the second batch still stops the script
// right there, every statement before it stays, and a SELECT sees everything before it.
TEST(Cli, ExecScriptsLongerThanABatchKeepEachStatementAlone) {
    env::TempDir dir;
    std::string text = "CREATE TABLE `T`(`n` LONG, `b` BYTE, `m` MEMO);\n";
    for (int i = 1; i <= 2500; ++i)
        text += "INSERT INTO `T` VALUES(" + std::to_string(i) + ", " + (i == 1700 ? "300" : "7") + ", '" +
                std::string(std::size_t(i % 300), 'x') + "');\n";
    const std::string script = writeFile(dir, "long.sql", text);
    auto count = [&](const std::string& file) {
        const std::string csv = run("exec " + quoted(file) + " \"SELECT * FROM T\"", dir).out;
        return std::count(csv.begin(), csv.end(), '\n') - 1;
    };
    const std::string stops = dir.copy("jackcess/templates/empty2003.mdb", "stops.mdb");
    Outcome r = run("exec " + quoted(stops) + " --script " + quoted(script), dir);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("statement 1701: "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("1700 statement(s) ran, 1 failed, 800 not run"), std::string::npos) << r.err;
    EXPECT_EQ(count(stops), 1699);

    const std::string goesOn = dir.copy("jackcess/templates/empty2003.mdb", "goes-on.mdb");
    r = run("exec " + quoted(goesOn) + " --keep-going --script " +
                quoted(writeFile(dir, "select.sql", text + "SELECT * FROM `T`;\nDROP TABLE `T`;\n")),
            dir);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("2502 statement(s) ran, 1 failed, 0 not run"), std::string::npos) << r.err;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n') - 1, 2499) << "the SELECT missed rows before it";
    EXPECT_EQ(run("exec " + quoted(goesOn) + " \"SELECT * FROM T\"", dir).status, 2) << "the DROP was lost";
    const Outcome check = run("check " + quoted(goesOn), dir);
    EXPECT_EQ(check.status, 0) << check.out << check.err;
}

TEST(Cli, AccessPasswordsComeFromAFileOrStdin) {
    env::TempDir dir;
    const std::string locked = dir.copy("mdb-reader/password/V2003_with-password.mdb", "locked.mdb");
    const std::string good = writeFile(dir, "good.txt", "password\n");
    const std::string bad = writeFile(dir, "bad.txt", "nope\n");
    EXPECT_EQ(run("tables " + quoted(locked) + " --password-file " + quoted(good), dir).status, 0);
    const Outcome wrong = run("tables " + quoted(locked) + " --password-file " + quoted(bad), dir);
    EXPECT_EQ(wrong.status, 1);
    EXPECT_NE(wrong.err.find("Not a valid password."), std::string::npos) << wrong.err;
    EXPECT_EQ(wrong.err.find("nope"), std::string::npos) << "the password was printed";
    const Outcome piped = run("dump " + quoted(locked) + " --password-stdin --format json < " + quoted(good), dir);
    EXPECT_EQ(piped.status, 0) << piped.err;
    EXPECT_EQ(piped.out.rfind("{\"tables\":[", 0), 0u);
}

// Protected new files: the password comes from a file or standard input, never the command line; an .accdb is
// encrypted, a Jet 4 .mdb gets a database password; every other command then needs it and never prints it.
TEST(Cli, CreateProtectedFilesWithThePasswordFromAFileOrStdin) {
    env::TempDir dir;
    const std::string good = writeFile(dir, "pw.txt", "Geheim 42 Kennwort\n");
    const std::string bad = writeFile(dir, "bad.txt", "geheim 42 Kennwort\n");
    const std::string script = writeFile(dir, "script.sql",
        "CREATE TABLE `Orders`(`ID` LONG,`Note` TEXT(20));\n"
        "INSERT INTO `Orders` VALUES(1, 'first');\n"
        "SELECT a1.* INTO `Kept` FROM `Orders` AS a1;\n"
        "DROP TABLE `Orders`;\n");
    for (const std::string format : {"jet4", "ace14"}) {
        SCOPED_TRACE(format);
        const std::string file = (dir.path() / ("p-" + format + (format == "jet4" ? ".mdb" : ".accdb"))).string();
        const Outcome created = run("create " + quoted(file) + " --format " + format + " --password-stdin < " +
                                    quoted(good), dir);
        EXPECT_EQ(created.status, 0) << created.err;
        const Outcome exec = run("exec " + quoted(file) + " --password-file " + quoted(good) + " --script " +
                                 quoted(script), dir);
        EXPECT_EQ(exec.status, 0) << exec.err;
        const Outcome check = run("check " + quoted(file) + " --statistics --leaks --password-file " + quoted(good), dir);
        EXPECT_EQ(check.status, 0) << check.out << check.err;
        const Outcome dump = run("dump " + quoted(file) + " --format csv --password-file " + quoted(good), dir);
        EXPECT_EQ(dump.out, "ID,Note\r\n1,first\r\n") << dump.err;
        for (const std::string command : {"tables ", "dump "}) {
            for (const std::string& password : {" --password-file " + quoted(bad), std::string()}) {
                const Outcome wrong = run(command + quoted(file) + password, dir);
                EXPECT_EQ(wrong.status, 1) << command << password;
                EXPECT_NE(wrong.err.find("Not a valid password."), std::string::npos) << wrong.err;
                EXPECT_EQ(wrong.err.find("eheim 42"), std::string::npos) << "the password was printed";
            }
        }
        std::string bytes;
        if (FILE* f = std::fopen(file.c_str(), "rb")) {
            std::array<char, 4096> buf{};
            for (std::size_t n; (n = std::fread(buf.data(), 1, buf.size(), f)) > 0;) bytes.append(buf.data(), n);
            std::fclose(f);
        }
        EXPECT_EQ(bytes.find("Geheim 42"), std::string::npos);
        if (format != "jet4") {
            EXPECT_EQ(bytes.find("first"), std::string::npos) << "a row is readable";
        }
    }
    // The encrypted file cannot even be checked without its password.
    EXPECT_EQ(run("check " + quoted((dir.path() / "p-ace14.accdb").string()), dir).status, 1);
    // A password the format cannot hold: nothing is created.
    const std::string tooLong = writeFile(dir, "long.txt", "Einundzwanzig-Zeichen\n");
    const std::string refused = (dir.path() / "refused.mdb").string();
    const Outcome r = run("create " + quoted(refused) + " --format jet4 --password-file " + quoted(tooLong), dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("at most 20 characters"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("Einundzwanzig"), std::string::npos) << "the password was printed";
    EXPECT_NE(std::system(("test -e " + quoted(refused)).c_str()), 0);
}

} // namespace

namespace {

// The sample database the build makes: sound, and readable by mdbtools too.
TEST(SampleDatabase, IsSoundAndReadableByAnotherReader) {
    env::TempDir dir;
    EXPECT_EQ(run("check " + quoted(QM_SAMPLE), dir).status, 0);
    EXPECT_EQ(run("tables " + quoted(QM_SAMPLE), dir).out, "Customers\nProducts\nOrders\nOrder Lines\n");
    const Outcome dump = run("dump " + quoted(QM_SAMPLE) + " --format json", dir);
    EXPECT_NE(dump.out.find("O'Brien & Sons"), std::string::npos);
    EXPECT_NE(dump.out.find("null"), std::string::npos) << "the sample has no Null values";
    if (std::system("command -v mdb-export >/dev/null 2>&1") != 0) GTEST_SKIP() << "mdbtools is not installed";
    FILE* pipe = ::popen(("mdb-export " + quoted(QM_SAMPLE) + " 'Order Lines' | wc -l").c_str(), "r");
    char line[64] = {};
    ASSERT_NE(std::fgets(line, sizeof line, pipe), nullptr);
    ::pclose(pipe);
    const Outcome ours = run("dump " + quoted(QM_SAMPLE) + " --table 'Order Lines' --format csv", dir);
    EXPECT_EQ(std::atoi(line), std::count(ours.out.begin(), ours.out.end(), '\n'));
}

} // namespace
