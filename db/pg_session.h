#pragma once
// The PostgreSQL engine behind db::Connection, on libpq.
//
// Connection strings are the ODBC ones the program has always used
// ("Driver={PostgreSQL Unicode};Server=...;Port=...;Uid=...;Pwd=...;Database=...").
// They are parsed by ODBC's rules and their attributes handed to
// PQconnectdbParams; attributes left empty are left out so that libpq's own
// defaults (PGHOST, PGUSER, ~/.pgpass, PGSSLMODE, ...) apply.
//
// Record sets
// -----------
// execute() reads the whole result at once (the catalogue query and other
// small results). openRecordset() on a SELECT never holds more than one chunk
// of rows in memory: the statement becomes a holdable, scrollable cursor
// (DECLARE ... SCROLL CURSOR WITH HOLD), which the server materialises when
// the declaring statement commits. "MOVE FORWARD ALL" on it gives the exact
// row count of that very result, "MOVE ABSOLUTE 0" rewinds, and the rows are
// then fetched in chunks: kFirstFetchRows first, then as many rows as fit in
// about kChunkBytes judged by the rows seen so far, never more than
// kFetchRows (so wide rows with big text or bytea values stay flat in memory
// too). Because the cursor is holdable the
// connection stays in autocommit between fetches, so other statements can run
// on the same connection while a record set is being read.
//
// Outside a transaction the next chunk is asked for as soon as a chunk
// arrives, so the server prepares it while the caller works on the rows in
// hand (so at most two chunks are held). libpq carries one command at a time:
// whatever next uses the connection (any call through native(), another
// record set) first takes that answer in for the record set that asked. A
// FETCH that failed ahead is reported where the record set reaches it, with
// the same error a FETCH made right then would give, and leaves the record
// set on the row it was on. Inside a transaction chunks are fetched only when
// needed, so a failure cannot spoil the transaction before its time.

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <libpq-fe.h>

#include "db/session.h"

namespace db {

// One "name=value" pair of an ODBC connection string, name as written.
struct OdbcAttribute {
    std::string name;
    std::string value;
    bool operator==(const OdbcAttribute&) const = default;
};

// Splits an ODBC connection string: attributes are separated by ';', a value
// that starts with '{' runs to the matching '}' and may hold ';' and '=', a
// doubled '}}' inside braces stands for one '}'. Blanks around names are
// ignored; unbraced values are kept exactly. Pieces without '=' are skipped.
// Throws db::Error on an unterminated brace.
std::vector<OdbcAttribute> parseOdbcConnectionString(std::string_view text);

// The value of the first attribute called `name` (ignoring case): ODBC uses
// the first occurrence of a repeated keyword. nullopt when absent.
std::optional<std::string> odbcAttribute(const std::vector<OdbcAttribute>& attributes, std::string_view name);

// Puts a value into the form that parseOdbcConnectionString gives back
// unchanged: values holding ';' or starting with '{' go into braces with
// every '}' doubled; all others stay as they are.
std::string odbcQuoteValue(const std::string& value);

// libpq keyword/value pairs for a connection string (host, port, user,
// password, dbname from Server, Port, Uid, Pwd, Database; empties left out;
// application_name, client_encoding and connect_timeout added).
std::vector<std::pair<std::string, std::string>> pgConnectParameters(const std::string& connectionString);

// How many seconds a connection attempt waits for the server: 10, or what
// PGCONNECT_TIMEOUT says when it holds a whole number of at least 1 (libpq
// waits 2 seconds at the least, so 1 counts as 2). Never "forever": a page
// that waits for the server must come back.
int pgConnectTimeoutSeconds();

struct PgConnDeleter {
    void operator()(PGconn* c) const noexcept { PQfinish(c); }
};
struct PgResultDeleter {
    void operator()(PGresult* r) const noexcept { PQclear(r); }
};
using PgConnPtr = std::unique_ptr<PGconn, PgConnDeleter>;
using PgResultPtr = std::unique_ptr<PGresult, PgResultDeleter>;

// ADO type number, declared size, precision and scale of a result column,
// the way the PostgreSQL ODBC driver describes it through ADO.
FieldInfo pgFieldInfo(const std::string& name, Oid type, int typmod);

// One text-format value of a column of the given type as a variant
// (never Null: the caller checks PQgetisnull).
Variant pgValue(Oid type, std::string_view text);

// Appends `value` to a COPY text-format line with backslash, tab, newline
// and carriage return escaped.
void appendCopyText(std::string& line, std::string_view value);

class PostgreSQLBackend : public Backend {
public:
    // Rows per FETCH of a cursor record set: the first, the most, and the
    // bytes a chunk aims at.
    static constexpr int kFirstFetchRows = 16;
    static constexpr int kFetchRows = 10000;
    static constexpr long long kChunkBytes = 8LL << 20;

    explicit PostgreSQLBackend(const std::string& connectionString);
    ~PostgreSQLBackend() override;

    std::unique_ptr<Recordset> execute(const std::string& sql) override;
    std::unique_ptr<Recordset> openSchema(int schema) override;
    std::unique_ptr<Recordset> openRecordset(const std::string& source, int cursorType, int lockType) override;
    void close() override;

    // For the transfers: explicit transactions and COPY ... FROM STDIN.
    void begin();
    void commit();
    void rollback();
    bool inTransaction() const;
    // Runs `copySql` (a "COPY ... FROM STDIN" statement) and sends what
    // `producer` appends to its argument, one call at a time, until it returns
    // false (what it appended in that last call is still sent). Returns the
    // number of rows the server stored. If the producer throws, the COPY is
    // abandoned on the server and the exception passed on.
    long long copyIn(const std::string& copySql, const std::function<bool(std::string& chunk)>& producer);
    // copyIn inside a transaction of its own: true when every row was stored
    // and committed; false when anything failed, after rolling back (a failing
    // rollback is swallowed: the caller's row-by-row replay reports the
    // connection's state).
    bool copyInAtomically(const std::string& copySql, const std::function<bool(std::string& chunk)>& producer);

    // The libpq connection; throws db::Error when closed.
    PGconn* native() const;
    // The running server's version number (e.g. 150004).
    int serverVersion() const;

    // The connection, shared with the record sets opened on it.
    struct Link;

private:
    std::shared_ptr<Link> link_;
    long long cursorSerial_ = 0;
};

// Registers the engine with db::Connection for "Driver=..." strings.
void registerPostgreSQLEngine();

} // namespace db
