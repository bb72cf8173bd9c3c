#pragma once
// The server's catalogue of a table's keys: its indexes (a PRIMARY KEY or
// UNIQUE constraint through its index) and its foreign keys, as the values of
// transfer/access_keys.h.
#include <optional>
#include <string>
#include <vector>

#include "db/session.h"
#include "transfer/access_keys.h"

namespace transfer {

using PgRows = std::vector<std::vector<std::optional<std::string>>>;

// Every row of a query, each value as text (nullopt for Null).
PgRows queryRows(db::Connection& pg, const std::string& text);

// `to_regclass('"t"')`: the table of that name in the session's search path.
std::string regclassOf(const std::string& table);

// The table's valid indexes, by name.
std::vector<PgIndex> readIndexes(db::Connection& pg, const std::string& table);

// The table's foreign keys, by name, columns in their pairs' order. A key whose referenced table lies in another
// schema names it schema-qualified.
std::vector<ForeignKey> readForeignKeys(db::Connection& pg, const std::string& table);

} // namespace transfer
