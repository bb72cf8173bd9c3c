// The PostgreSQL session against the throw-away server: connecting, record
// sets (exact counts, chunked cursors, flat memory), failures, COPY and
// transactions, and the engine behind db::Connection.

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "db/pg_session.h"
#include "db/session.h"
#include "pg_test_support.h"

namespace {

using pgtest::exec;
using pgtest::scalar;

class PgSession : public pgtest::PgFixture {};

TEST_F(PgSession, ConnectsWithTheFixedSessionSettings) {
    EXPECT_EQ(scalar(*pg, "SHOW application_name"), "Quillmere");
    EXPECT_EQ(scalar(*pg, "SHOW client_encoding"), "UTF8");
    EXPECT_EQ(scalar(*pg, "SELECT current_user"), pgtest::env("QM_PG_USER"));
    EXPECT_EQ(scalar(*pg, "SELECT current_database()"), pgtest::env("QM_PG_DATABASE"));
    EXPECT_GE(pg->serverVersion(), 100000);
}

// Empty fields leave the choice to libpq's defaults, which ./test's cluster
// sets through PGHOST, PGPORT, PGUSER, PGPASSWORD and PGDATABASE.
TEST_F(PgSession, EmptyFieldsFallBackToLibpqDefaults) {
    const auto full = pgtest::serverParameters();
    std::vector<db::ConnectionParameters> variants(6, full);
    variants[0] = {};
    variants[1].server.clear();
    variants[2].port.clear();
    variants[3].user.clear();
    variants[4].password.clear();
    variants[5].database.clear();
    for (const auto& p : variants) {
        SCOPED_TRACE(db::PostgreSQLConnectionString(p));
        auto other = pgtest::connect(p);
        EXPECT_EQ(scalar(*other, "SELECT current_user || '@' || current_database()"),
                  full.user + "@" + full.database);
    }
}

// Whatever output styles the user's PGOPTIONS or the server pick, values
// arrive the same: the session fixes the forms it parses.
TEST_F(PgSession, OutputStylesOfTheUserDoNotChangeValues) {
    const std::string saved = pgtest::env("PGOPTIONS");
    ::setenv("PGOPTIONS", "-c DateStyle=German,DMY -c extra_float_digits=-3 -c bytea_output=escape", 1);
    std::unique_ptr<db::PostgreSQLBackend> styled;
    try {
        styled = pgtest::connect();
    } catch (...) {
        ::setenv("PGOPTIONS", saved.c_str(), 1);
        throw;
    }
    ::setenv("PGOPTIONS", saved.c_str(), 1);
    auto rs = styled->execute("SELECT date '2024-02-29', timestamp '2024-02-29 13:45:30', 1.0000000000000002::float8, "
                              "'\\x00ff'::bytea");
    EXPECT_EQ(rs->value(0), db::Variant(db::Date{db::daysFromCivil(2024, 2, 29)}));
    EXPECT_EQ(rs->value(1), db::Variant(db::Date{db::daysFromCivil(2024, 2, 29, 13, 45, 30)}));
    EXPECT_EQ(rs->value(2), db::Variant(1.0000000000000002));
    EXPECT_EQ(rs->value(3), db::Variant(db::Bytes{0x00, 0xff}));
}

TEST_F(PgSession, ExecuteReturnsRowsOnlyForRowStatements) {
    EXPECT_EQ(pg->execute("CREATE TABLE t (id int)"), nullptr);
    EXPECT_EQ(pg->execute("INSERT INTO t VALUES (1), (2), (3)"), nullptr);
    EXPECT_EQ(pg->execute(""), nullptr);
    auto rs = pg->execute("SELECT id FROM t ORDER BY id");
    ASSERT_TRUE(rs);
    EXPECT_EQ(rs->recordCount(), 3);
    EXPECT_EQ(rs->value("ID"), db::Variant(std::int32_t(1)));
    auto returning = pg->execute("UPDATE t SET id = id * 10 WHERE id > 1 RETURNING id");
    ASSERT_TRUE(returning);
    EXPECT_EQ(returning->recordCount(), 2);
}

TEST_F(PgSession, FailuresAreErrorsWithTheServersMessage) {
    struct Case {
        std::string sql;
        std::string fragment;
    };
    const std::vector<Case> cases = {
        {"SELECT * FROM no_such_table", "no_such_table"},
        {"SELEC 1", "syntax error"},
        {"SELECT 1/0", "division by zero"},
        {"CREATE TABLE dup (a int); CREATE TABLE dup (a int)", "already exists"},
    };
    for (const auto& c : cases) {
        try {
            pg->execute(c.sql);
            ADD_FAILURE() << "no error from " << c.sql;
        } catch (const db::Error& e) {
            EXPECT_EQ(e.number(), -1) << c.sql;
            EXPECT_NE(e.description().find(c.fragment), std::string::npos) << e.description();
            EXPECT_EQ(e.description().find("LINE 1"), std::string::npos) << e.description();
        }
        // The connection is still good afterwards.
        EXPECT_EQ(scalar(*pg, "SELECT 7"), "7");
    }
    // Same through the cursor path.
    EXPECT_THROW(pg->openRecordset("SELECT * FROM no_such_table", -1, -1), db::Error);
    EXPECT_EQ(scalar(*pg, "SELECT 8"), "8");
}

TEST_F(PgSession, ReadingPastTheEndIsAnError) {
    auto rs = pg->execute("SELECT 1 AS one");
    rs->moveNext();
    ASSERT_TRUE(rs->eof());
    for (auto op : std::vector<std::function<void()>>{[&] { rs->moveNext(); }, [&] { rs->value(0); }}) {
        try {
            op();
            ADD_FAILURE() << "no error past the end";
        } catch (const db::Error& e) {
            EXPECT_EQ(e.number(), 3021);
        }
    }
    EXPECT_THROW(rs->value(1), db::Error);
    EXPECT_THROW(rs->value("two"), db::Error);
    rs->close();
    EXPECT_THROW(rs->recordCount(), db::Error);
}

// Counts across the FETCH chunk boundaries: exact before the first row, and
// every row comes once, in order.
TEST_F(PgSession, CursorCountsAreExactAcrossChunkBoundaries) {
    // Narrow rows: a first small chunk, then full ones.
    constexpr int first = db::PostgreSQLBackend::kFirstFetchRows, chunk = db::PostgreSQLBackend::kFetchRows;
    exec(*pg, "CREATE TABLE numbers AS SELECT g AS n FROM generate_series(1, " + std::to_string(first + 2 * chunk + 3) +
                  ") g");
    for (int rows : {0, 1, 2, first - 1, first, first + 1, first + chunk - 1, first + chunk, first + chunk + 1,
                     first + 2 * chunk + 3}) {
        SCOPED_TRACE("rows " + std::to_string(rows));
        auto rs = pg->openRecordset("SELECT n FROM numbers WHERE n <= " + std::to_string(rows) + " ORDER BY n", 3, 3);
        ASSERT_TRUE(rs);
        ASSERT_EQ(rs->recordCount(), rows);
        ASSERT_EQ(rs->fieldCount(), 1);
        EXPECT_EQ(rs->field(0).type, db::ado::adInteger);
        int seen = 0;
        for (; !rs->eof(); rs->moveNext()) {
            ++seen;
            ASSERT_EQ(rs->value(0), db::Variant(std::int32_t(seen)));
        }
        EXPECT_EQ(seen, rows);
        EXPECT_EQ(rs->recordCount(), rows);
        rs->close();
    }
    // Closed cursors are gone on the server.
    EXPECT_EQ(scalar(*pg, "SELECT count(*) FROM pg_cursors"), "0");
}

TEST_F(PgSession, RecordSetSourcesOtherThanSelect) {
    exec(*pg, "CREATE TABLE src (a text)");
    exec(*pg, "INSERT INTO src VALUES ('x'), ('y')");
    struct Case {
        std::string source;
        long long rows;
    };
    const std::vector<Case> cases = {
        {"  -- comment\n/* block */ (SELECT a FROM src)", 2},
        {"WITH w AS (SELECT a FROM src) SELECT * FROM w", 2},
        {"VALUES (1), (2), (3)", 3},
        {"TABLE src", 2},
        {"SELECT a FROM src FOR UPDATE", 2}, // not allowed in a holdable cursor: read whole
        {"INSERT INTO src VALUES ('z') RETURNING a", 1},
    };
    for (const auto& c : cases) {
        auto rs = pg->openRecordset(c.source, -1, -1);
        ASSERT_TRUE(rs) << c.source;
        EXPECT_EQ(rs->recordCount(), c.rows) << c.source;
    }
    try {
        pg->openRecordset("DELETE FROM src", -1, -1);
        ADD_FAILURE() << "a statement without rows gave a record set";
    } catch (const db::Error& e) {
        EXPECT_EQ(e.number(), 3704);
    }
}

// While a record set is open the connection stays in autocommit: other
// statements on it run and commit at once, and failures don't spoil the read.
TEST_F(PgSession, OtherStatementsRunWhileACursorIsOpen) {
    exec(*pg, "CREATE TABLE big AS SELECT g AS n FROM generate_series(1, 25000) g");
    exec(*pg, "CREATE TABLE log (n int)");
    auto rs = pg->openRecordset("SELECT n FROM big ORDER BY n", -1, -1);
    ASSERT_EQ(rs->recordCount(), 25000);
    auto second = pg->openRecordset("SELECT n FROM big WHERE n % 2 = 0", -1, -1);
    EXPECT_EQ(second->recordCount(), 12500);
    auto observer = pgtest::connect();
    long long sum = 0;
    int rows = 0;
    for (; !rs->eof(); rs->moveNext(), ++rows) {
        sum += rs->value(0).get<std::int32_t>();
        if (rows == 15000) {
            exec(*pg, "INSERT INTO " + schema + ".log VALUES (1)");
            EXPECT_THROW(pg->execute("INSERT INTO log VALUES ('not a number')"), db::Error);
            EXPECT_FALSE(pg->inTransaction());
            EXPECT_EQ(scalar(*observer, "SELECT count(*) FROM " + schema + ".log"), "1");
            exec(*pg, "DELETE FROM big"); // the open record set keeps its rows
        }
    }
    EXPECT_EQ(rows, 25000);
    EXPECT_EQ(sum, 25000LL * 25001 / 2);
    int evens = 0;
    for (; !second->eof(); second->moveNext()) ++evens;
    EXPECT_EQ(evens, 12500);
}

long residentKilobytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    return -1;
}

// 200,000 rows of 1 kB: a client that read them all would grow by ~200 MB.
TEST_F(PgSession, HugeTablesReadWithFlatMemory) {
    constexpr int rows = 200000;
    exec(*pg, "CREATE UNLOGGED TABLE huge AS SELECT g AS id, repeat(md5(g::text), 32) AS payload FROM generate_series(1, " +
                  std::to_string(rows) + ") g");
    const long before = residentKilobytes();
    ASSERT_GT(before, 0);
    long peak = before;
    auto rs = pg->openRecordset("SELECT id, payload FROM huge ORDER BY id", -1, -1);
    ASSERT_EQ(rs->recordCount(), rows);
    long long bytes = 0;
    int seen = 0;
    for (; !rs->eof(); rs->moveNext()) {
        ++seen;
        ASSERT_EQ(rs->value(0).get<std::int32_t>(), seen);
        bytes += (long long)rs->value(1).get<std::string>().size();
        if (seen % 5000 == 0) peak = std::max(peak, residentKilobytes());
    }
    EXPECT_EQ(seen, rows);
    EXPECT_EQ(bytes, 1024LL * rows);
    EXPECT_LT(peak - before, 60 * 1024) << "memory grew from " << before << " kB to " << peak << " kB";
}

// 120 rows of 1 MB each: chunks of a fixed row count would hold them all.
TEST_F(PgSession, WideRowsReadWithFlatMemory) {
    constexpr int rows = 120, width = 1 << 20;
    exec(*pg, "CREATE UNLOGGED TABLE wide AS SELECT g AS id, repeat(chr(64 + g % 26), " + std::to_string(width) +
                  ") AS payload, decode(repeat('ab', 1000), 'hex') AS data FROM generate_series(1, " +
                  std::to_string(rows) + ") g");
    const long before = residentKilobytes();
    long peak = before;
    auto rs = pg->openRecordset("SELECT id, payload, data FROM wide ORDER BY id", -1, -1);
    ASSERT_EQ(rs->recordCount(), rows);
    int seen = 0;
    for (; !rs->eof(); rs->moveNext()) {
        ++seen;
        ASSERT_EQ(rs->value(0).get<std::int32_t>(), seen);
        const auto& payload = rs->value(1).get<std::string>();
        ASSERT_EQ(payload.size(), std::size_t(width));
        ASSERT_EQ(payload.front(), char(64 + seen % 26));
        ASSERT_EQ(rs->value(2).get<db::Bytes>().size(), 1000u);
        peak = std::max(peak, residentKilobytes());
    }
    EXPECT_EQ(seen, rows);
    EXPECT_LT(peak - before, 60 * 1024) << "memory grew from " << before << " kB to " << peak << " kB";
}

TEST_F(PgSession, OpenSchemaListsTables) {
    exec(*pg, "CREATE TABLE listed (a int)");
    exec(*pg, "CREATE VIEW seen AS SELECT 1 AS a");
    auto rs = pg->openSchema(db::adSchemaTables);
    bool table = false, view = false, system = false;
    for (; !rs->eof(); rs->moveNext()) {
        const std::string name = rs->value("TABLE_NAME").toText(), type = rs->value("TABLE_TYPE").toText();
        if (rs->value("TABLE_SCHEMA").toText() == schema && name == "listed") table = type == "TABLE";
        if (rs->value("TABLE_SCHEMA").toText() == schema && name == "seen") view = type == "VIEW";
        if (name == "pg_class") system = type == "SYSTEM TABLE";
    }
    EXPECT_TRUE(table && view && system);
    EXPECT_THROW(pg->openSchema(4), db::Error);
}

TEST_F(PgSession, ClosedConnectionsRefuseWork) {
    exec(*pg, "CREATE TABLE many AS SELECT g AS n FROM generate_series(1, 30000) g");
    auto rs = pg->openRecordset("SELECT n FROM many ORDER BY n", -1, -1);
    pg->close();
    EXPECT_THROW(pg->execute("SELECT 1"), db::Error);
    EXPECT_THROW(pg->native(), db::Error);
    // The rows already fetched can be read; the next FETCH cannot happen.
    int read = 0;
    try {
        for (; !rs->eof(); rs->moveNext()) ++read;
        ADD_FAILURE() << "read all rows from a closed connection";
    } catch (const db::Error& e) {
        EXPECT_EQ(e.number(), 3704);
    }
    EXPECT_EQ(read, db::PostgreSQLBackend::kFirstFetchRows);
    // The failed step left it on the last row it had.
    ASSERT_FALSE(rs->eof());
    EXPECT_EQ(rs->value(0), db::Variant(std::int32_t(db::PostgreSQLBackend::kFirstFetchRows)));
    rs->close();
    pg.reset();
}

// The next chunk is asked for ahead; whatever else uses the connection meanwhile (statements, a second record
// set, a transaction, closing) first takes that answer in, and every row still comes once, in order.
TEST_F(PgSession, ChunksAskedForAheadGiveWayToOtherWork) {
    constexpr int first = db::PostgreSQLBackend::kFirstFetchRows, chunk = db::PostgreSQLBackend::kFetchRows;
    constexpr int rows = first + 3 * chunk + 5;
    exec(*pg, "CREATE TABLE many AS SELECT g AS n FROM generate_series(1, " + std::to_string(rows) + ") g");
    auto a = pg->openRecordset("SELECT n FROM many ORDER BY n", -1, -1);
    auto b = pg->openRecordset("SELECT -n FROM many ORDER BY n", -1, -1);
    ASSERT_EQ(a->recordCount(), rows);
    ASSERT_EQ(b->recordCount(), rows);
    int seen = 0;
    for (; !a->eof(); a->moveNext()) {
        ++seen;
        ASSERT_EQ(a->value(0), db::Variant(std::int32_t(seen)));
        ASSERT_FALSE(b->eof());
        ASSERT_EQ(b->value(0), db::Variant(std::int32_t(-seen)));
        b->moveNext();
        if (seen % 7919 == 0) {
            ASSERT_EQ(scalar(*pg, "SELECT " + std::to_string(seen)), std::to_string(seen));
        }
        if (seen == first + chunk / 2) {
            // A failed statement inside a transaction stops the record sets at their next chunk, as it always
            // did, though that chunk was read ahead; after the rollback they go on where they were.
            pg->begin();
            EXPECT_THROW(pg->execute("SELECT 1 / 0"), db::Error);
            const int from = seen;
            while (seen < first + chunk) {
                a->moveNext();
                ASSERT_EQ(a->value(0), db::Variant(std::int32_t(++seen)));
            }
            EXPECT_THROW(a->moveNext(), db::Error);
            EXPECT_EQ(a->value(0), db::Variant(std::int32_t(seen)));
            pg->rollback();
            for (int n = from; n < seen; ++n) b->moveNext();
        }
        if (seen == first + 2 * chunk) {
            // A transaction that goes well leaves them alone.
            pg->begin();
            exec(*pg, "UPDATE many SET n = n WHERE n = 1");
            pg->commit();
        }
    }
    EXPECT_EQ(seen, rows);
    EXPECT_TRUE(b->eof());
    EXPECT_FALSE(pg->inTransaction());
    // Closed with a chunk asked for and not yet read: the connection is free and the cursor gone.
    auto c = pg->openRecordset("SELECT n FROM many ORDER BY n", -1, -1);
    for (int i = 0; i < first + 1; ++i) c->moveNext();
    EXPECT_EQ(c->value(0), db::Variant(std::int32_t(first + 2)));
    c.reset();
    a->close();
    b->close();
    EXPECT_EQ(scalar(*pg, "SELECT count(*) FROM pg_cursors"), "0");
}

// A FETCH asked for ahead that fails (here the server ends the session) is reported where the rows reach it,
// as a FETCH made right then is, and leaves the record set on the last row it had; rows before it are all there.
TEST_F(PgSession, AFetchThatFailsAheadStopsWhereTheRowsReachIt) {
    constexpr int first = db::PostgreSQLBackend::kFirstFetchRows, chunk = db::PostgreSQLBackend::kFetchRows;
    exec(*pg, "CREATE TABLE many AS SELECT g AS n FROM generate_series(1, " + std::to_string(first + 3 * chunk) + ") g");
    auto reader = pgtest::connect();
    const std::string pid = scalar(*reader, "SELECT pg_backend_pid()");
    auto rs = reader->openRecordset("SELECT n FROM " + schema + ".many ORDER BY n", -1, -1);
    ASSERT_EQ(rs->recordCount(), first + 3 * chunk);
    ASSERT_EQ(scalar(*pg, "SELECT pg_terminate_backend(" + pid + ")"), "True");
    int read = 0;
    try {
        for (; !rs->eof(); rs->moveNext()) {
            ++read;
            ASSERT_EQ(rs->value(0), db::Variant(std::int32_t(read)));
        }
        ADD_FAILURE() << "read every row from a session the server ended";
    } catch (const db::Error& e) {
        EXPECT_EQ(e.number(), -1);
        EXPECT_NE(std::string(e.what()), "");
    }
    // The first chunk, or also the one the server had sent before it ended the session.
    EXPECT_TRUE(read == first || read == first + chunk) << read;
    ASSERT_FALSE(rs->eof());
    EXPECT_EQ(rs->value(0), db::Variant(std::int32_t(read)));
    // Trying again fails again, in place.
    EXPECT_THROW(rs->moveNext(), db::Error);
    EXPECT_EQ(rs->value(0), db::Variant(std::int32_t(read)));
    EXPECT_NO_THROW(rs->close());
    EXPECT_THROW(reader->execute("SELECT 1"), db::Error);
}

TEST_F(PgSession, TransactionsCommitAndRollBack) {
    exec(*pg, "CREATE TABLE tx (a int PRIMARY KEY)");
    pg->begin();
    EXPECT_TRUE(pg->inTransaction());
    exec(*pg, "INSERT INTO tx VALUES (1)");
    pg->rollback();
    EXPECT_EQ(scalar(*pg, "SELECT count(*) FROM tx"), "0");
    pg->begin();
    exec(*pg, "INSERT INTO tx VALUES (2)");
    pg->commit();
    EXPECT_EQ(scalar(*pg, "SELECT count(*) FROM tx"), "1");
    // A failed statement inside makes COMMIT a rollback, which must not pass silently.
    pg->begin();
    exec(*pg, "INSERT INTO tx VALUES (3)");
    EXPECT_THROW(pg->execute("INSERT INTO tx VALUES (2)"), db::Error);
    EXPECT_THROW(pg->commit(), db::Error);
    EXPECT_FALSE(pg->inTransaction());
    EXPECT_EQ(scalar(*pg, "SELECT string_agg(a::text, ',') FROM tx"), "2");
}

TEST_F(PgSession, CopyInSendsEveryChunk) {
    exec(*pg, "CREATE TABLE copied (id int, name text, data bytea)");
    const std::vector<std::string> names = {"plain", "tab\there", "new\nline", "back\\slash", "cr\rx", "", "ünï"};
    int next = 0;
    const long long stored = pg->copyIn("COPY copied (id, name, data) FROM STDIN", [&](std::string& chunk) {
        // Two rows per call, the last call's rows sent as well.
        for (int k = 0; k < 2 && next < int(names.size()) + 1; ++k, ++next) {
            chunk += std::to_string(next) + "\t";
            if (next == int(names.size())) {
                chunk += "\\N\t\\N\n";
            } else {
                db::appendCopyText(chunk, names[std::size_t(next)]);
                chunk += "\t\\\\x0a0b\n";
            }
        }
        return next < int(names.size()) + 1;
    });
    EXPECT_EQ(stored, static_cast<long long>(names.size()) + 1);
    auto rs = pg->execute("SELECT id, name, data FROM copied ORDER BY id");
    ASSERT_EQ(rs->recordCount(), static_cast<long long>(names.size()) + 1);
    for (std::size_t i = 0; i < names.size(); ++i, rs->moveNext()) {
        EXPECT_EQ(rs->value(1), db::Variant(names[i]));
        EXPECT_EQ(rs->value(2), db::Variant(db::Bytes{0x0a, 0x0b}));
    }
    EXPECT_TRUE(rs->value(1).isNull());
    EXPECT_TRUE(rs->value(2).isNull());
}

TEST_F(PgSession, CopyInFailuresLeaveNothingAndTheConnectionUsable) {
    exec(*pg, "CREATE TABLE strict (id int NOT NULL)");
    struct Case {
        const char* name;
        std::string sql;
        std::function<bool(std::string&)> producer;
    };
    int calls = 0;
    const std::vector<Case> cases = {
        {"bad data", "COPY strict FROM STDIN", [](std::string& c) { c = "1\nnot a number\n"; return false; }},
        {"null in not null", "COPY strict FROM STDIN", [](std::string& c) { c = "1\n\\N\n"; return false; }},
        {"producer throws", "COPY strict FROM STDIN",
         [&](std::string& c) {
             if (++calls > 3) throw std::runtime_error("source failed");
             c = "5\n";
             return true;
         }},
        {"not a copy", "SELECT 1", [](std::string&) { return false; }},
        {"copy to stdout", "COPY strict TO STDOUT", [](std::string&) { return false; }},
        {"no such table", "COPY nowhere FROM STDIN", [](std::string&) { return false; }},
    };
    for (const auto& c : cases) {
        EXPECT_ANY_THROW(pg->copyIn(c.sql, c.producer)) << c.name;
        EXPECT_EQ(scalar(*pg, "SELECT count(*) FROM strict"), "0") << c.name;
        EXPECT_FALSE(pg->inTransaction()) << c.name;
    }
    EXPECT_EQ(pg->copyIn("COPY strict FROM STDIN", [](std::string& c) { c = "1\n2\n"; return false; }), 2);
}

TEST_F(PgSession, ExecuteOfCopyIsRefusedCleanly) {
    exec(*pg, "CREATE TABLE c (a int)");
    EXPECT_THROW(pg->execute("COPY c FROM STDIN"), db::Error);
    EXPECT_EQ(pg->execute("COPY c TO STDOUT"), nullptr);
    EXPECT_EQ(scalar(*pg, "SELECT 1"), "1");
}

// The engine behind db::Connection: a "Driver=" string opens a PostgreSQL
// session, with no registration by the caller.
TEST_F(PgSession, ConnectionObjectOpensThePostgreSQLEngine) {
    auto connection = db::createConnection();
    connection->setCursorLocation(3);
    connection->open(db::PostgreSQLConnectionString(pgtest::serverParameters()));
    ASSERT_TRUE(connection->isOpen());
    EXPECT_NE(dynamic_cast<db::PostgreSQLBackend*>(&connection->backend()), nullptr);
    auto rs = connection->execute("select 'Quillmere' as who");
    EXPECT_EQ(rs->value("WHO").toText(), "Quillmere");
    connection->close();
    EXPECT_FALSE(connection->isOpen());
}

int closedPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    const int port = ntohs(addr.sin_port);
    ::close(fd); // bound but never listening: nothing answers there now
    return port;
}

TEST(PgConnect, BadFieldsAreErrorsWithNumberAndDescription) {
    QM_REQUIRE_PG_SERVER();
    const auto good = pgtest::serverParameters();
    struct Case {
        const char* name;
        db::ConnectionParameters fields;
        const char* fragment;
    };
    std::vector<Case> cases(4, Case{"", good, ""});
    cases[0].name = "wrong password";
    cases[0].fields.password = "wrong";
    cases[0].fragment = "password authentication failed";
    cases[1].name = "closed port";
    cases[1].fields.port = std::to_string(closedPort());
    cases[1].fragment = "Connection refused";
    cases[2].name = "no such database";
    cases[2].fields.database = "no_such_db";
    cases[2].fragment = "no_such_db";
    cases[3].name = "port not a number";
    cases[3].fields.port = "54x";
    cases[3].fragment = "54x";
    for (const auto& c : cases) {
        try {
            pgtest::connect(c.fields);
            ADD_FAILURE() << c.name << " connected";
        } catch (const db::Error& e) {
            EXPECT_EQ(e.number(), -1) << c.name;
            EXPECT_NE(e.description().find(c.fragment), std::string::npos) << c.name << ": " << e.description();
        }
    }
}

} // namespace
