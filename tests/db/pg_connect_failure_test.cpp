// The plain reason for libpq's connection failure messages, as libpq 15 and
// older releases write them, and the connection time-out it is told.
#include <gtest/gtest.h>

#include <cstdlib>

#include "db/pg_connect_failure.h"
#include "db/pg_session.h"

namespace {

TEST(ConnectionFailureReason, EachKnownFailureInPlainWords) {
    struct Case {
        const char* what;
        const char* message; // libpq's, as PQerrorMessage gives it
        const char* reason;
    };
    const Case cases[] = {
        {"refused",
         "connection to server at \"db.example\" (10.0.0.5), port 5433 failed: Connection refused\n"
         "\tIs the server running on that host and accepting TCP/IP connections?\n",
         "The server \"db.example\" refused the connection on port 5433: no PostgreSQL server is listening on that "
         "port."},
        {"every address of localhost refused: the last attempt speaks",
         "connection to server at \"localhost\" (::1), port 1 failed: Connection refused\n"
         "\tIs the server running on that host and accepting TCP/IP connections?\n"
         "connection to server at \"localhost\" (127.0.0.1), port 1 failed: Connection refused\n"
         "\tIs the server running on that host and accepting TCP/IP connections?\n",
         "The server \"localhost\" refused the connection on port 1: no PostgreSQL server is listening on that "
         "port."},
        {"one address refused, the next one asked for a password",
         "connection to server at \"localhost\" (::1), port 5432 failed: Connection refused\n"
         "\tIs the server running on that host and accepting TCP/IP connections?\n"
         "connection to server at \"localhost\" (127.0.0.1), port 5432 failed: FATAL:  password authentication "
         "failed for user \"anna\"\n",
         "Password authentication failed for the user \"anna\": the user name or the password is wrong."},
        {"local socket missing",
         "connection to server on socket \"/var/run/postgresql/.s.PGSQL.5432\" failed: No such file or directory\n"
         "\tIs the server running locally and accepting connections on that socket?\n",
         "No PostgreSQL server is listening on the local socket \"/var/run/postgresql/.s.PGSQL.5432\"."},
        {"time-out", "connection to server at \"10.1.2.3\", port 5432 failed: timeout expired\n",
         "The server \"10.1.2.3\" did not answer on port 5432 within 7 seconds."},
        {"time-out on a socket", "connection to server on socket \"/tmp/.s.PGSQL.5432\" failed: timeout expired\n",
         "The server did not answer on the local socket \"/tmp/.s.PGSQL.5432\" within 7 seconds."},
        {"time-out, place not named (libpq before 14)", "timeout expired\n",
         "The server did not answer within 7 seconds."},
        {"unknown host",
         "could not translate host name \"nowhere.invalid\" to address: Name or service not known\n",
         "The host name \"nowhere.invalid\" is unknown: no computer of that name could be found."},
        {"resolver out of reach",
         "could not translate host name \"db.example\" to address: Temporary failure in name resolution\n",
         "The host name \"db.example\" could not be looked up: Temporary failure in name resolution."},
        {"missing database",
         "connection to server at \"127.0.0.1\", port 5432 failed: FATAL:  database \"sales\" does not exist\n",
         "The database \"sales\" does not exist on the server."},
        {"missing role (trust or peer authentication)",
         "connection to server on socket \"/tmp/.s.PGSQL.5432\" failed: FATAL:  role \"bob\" does not exist\n",
         "The user \"bob\" does not exist on the server."},
        {"no password given",
         "connection to server at \"127.0.0.1\", port 5432 failed: fe_sendauth: no password supplied\n",
         "The server asks for a password, and none was given."},
        {"pg_hba.conf",
         "connection to server at \"db.example\" (10.0.0.5), port 5432 failed: FATAL:  no pg_hba.conf entry for "
         "host \"10.0.0.9\", user \"anna\", database \"sales\", no encryption\n",
         "The server does not let this computer (10.0.0.9) in as the user \"anna\" to the database \"sales\": its "
         "pg_hba.conf has no entry for that."},
        {"port not a number", "invalid integer value \"54x\" for connection option \"port\"\n",
         "The port \"54x\" is not a number."},
        {"refused, libpq before 14 (place only in the hint)",
         "could not connect to server: Connection refused\n\tIs the server running on host \"db.example\" "
         "(10.0.0.5) and accepting\n\tTCP/IP connections on port 5432?\n",
         "The server refused the connection: no PostgreSQL server is listening on that port."},
        {"anything else: libpq's words, hints and line breaks left out",
         "connection to server at \"127.0.0.1\", port 5432 failed: FATAL:  sorry, too many clients already\n",
         "connection to server at \"127.0.0.1\", port 5432 failed: FATAL: sorry, too many clients already"},
        {"another language: libpq's words",
         "Verbindung zum Server auf »127.0.0.1«, Port 1 fehlgeschlagen: Verbindungsaufbau abgelehnt\n"
         "\tLäuft der Server auf diesem Host und akzeptiert er TCP/IP-Verbindungen?\n",
         "Verbindung zum Server auf »127.0.0.1«, Port 1 fehlgeschlagen: Verbindungsaufbau abgelehnt"},
        {"not from libpq at all", "ActiveX component can't create object", "ActiveX component can't create object"},
        {"nothing", "", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(db::connectionFailureReason(c.message, 7), c.reason) << c.what;
}

TEST(PgConnectTimeout, TenSecondsUnlessPgconnectTimeoutSaysOtherwise) {
    const char* old = std::getenv("PGCONNECT_TIMEOUT");
    const std::string kept = old ? old : "";
    struct Case {
        const char* value; // nullptr: unset
        int seconds;
    };
    const Case cases[] = {{nullptr, 10}, {"3", 3}, {" 25 ", 25}, {"1", 2}, {"0", 10},
                          {"-5", 10},    {"x", 10}, {"4s", 10}, {"", 10}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value ? c.value : "(unset)");
        if (c.value) ::setenv("PGCONNECT_TIMEOUT", c.value, 1);
        else ::unsetenv("PGCONNECT_TIMEOUT");
        EXPECT_EQ(db::pgConnectTimeoutSeconds(), c.seconds);
        bool found = false;
        for (const auto& [keyword, value] : db::pgConnectParameters("Driver={PostgreSQL Unicode};Server=h"))
            if (keyword == "connect_timeout") {
                found = true;
                EXPECT_EQ(value, std::to_string(c.seconds)) << "libpq is told the same time-out";
            }
        EXPECT_TRUE(found);
    }
    if (old) ::setenv("PGCONNECT_TIMEOUT", kept.c_str(), 1);
    else ::unsetenv("PGCONNECT_TIMEOUT");
}

} // namespace
