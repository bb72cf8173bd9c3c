#pragma once
// A PostgreSQL CONNINFO from the command line as the ConnectionPage's fields.
#include <string>
#include <vector>

#include "db/parameters.h"

namespace cli {

// Parses a libpq keyword/value string or postgresql:// URI. host, port, user
// and dbname become the page's fields; every other keyword (sslmode, ...) is
// put into the environment variable libpq reads for it, so that the session
// uses it too. A password in CONNINFO is refused: it comes from PGPASSWORD or
// ~/.pgpass only. Throws std::runtime_error with the reason.
db::ConnectionParameters parametersFromConninfo(const std::string& conninfo);

// The user tables the session sees without a schema name (the schemas of
// its search path), in the server's order. A connection that does not open
// throws std::runtime_error with the reason in plain words.
std::vector<std::string> postgresUserTables(const db::ConnectionParameters& parameters);

} // namespace cli
