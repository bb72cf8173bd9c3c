#pragma once
// The PostgreSQL connection string and catalogue as the pages use them.

#include <string>

#include "app/ui.h"
#include "db/parameters.h"

namespace db {

// "Driver={PostgreSQL Unicode};Server=...;Port=...;Uid=...;Pwd=...;Database=..."
// from the five PostgreSQL fields, values as typed. A value that holds ';' or
// starts with '{' goes into braces (any '}' in it doubled), so it can never
// turn into further attributes; all other values are inserted unchanged.
std::string PostgreSQLConnectionString(const ConnectionParameters& parameters);

// True when a connection with PostgreSQLConnectionString opens. Any failure
// to read the fields or to connect gives false without a word; only a failure
// to create the connection object reaches the caller.
bool TestPostgreSQLConnection(const ParameterSource& parameters);

// The same test, saying why: empty when the connection opens, otherwise the
// reason in plain words (connectionFailureReason of pg_connect_failure.h; a
// failure to read the fields gives its own description). Only a failure to
// create the connection object reaches the caller.
std::string PostgreSQLConnectionProblem(const ParameterSource& parameters);

// Fills `list` with the first column of "select tablename from pg_tables;",
// letting the window system breathe once per row. The list is cleared only
// once the query has run; failures reach the caller.
void FillPostgreSQLTableList(ui::ListBox& list, const ParameterSource& parameters, ui::Dialogs& dialogs);

} // namespace db
