#pragma once
// The canonical dumps of a database: JSON as ../shared/fixtures/access/README.md
// describes it (byte for byte), and CSV (RFC 4180, header row).

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "jet/value.h"

namespace jet {

class Database;
class Table;

enum class DumpFormat { Json, Csv };

struct DumpOptions {
    DumpFormat format = DumpFormat::Json;
    // Tables to dump (case-insensitive names); empty = every user table.
    std::vector<std::string> tables;
};

struct DumpResult {
    int tablesWritten = 0;
    int tablesFailed = 0;          // could not be opened or stopped on a corrupt page
    std::uint64_t rowsWritten = 0;
    std::uint64_t cellErrors = 0;  // cells written as {"$error":...} (JSON) / empty (CSV)
    std::vector<std::string> messages; // one line per failure: "<table>: <number> <description>"
    bool ok() const { return tablesFailed == 0 && cellErrors == 0; }
};

// Writes the dump of the chosen tables. JSON: one document {"tables":[...]}, user tables
// sorted by name in UTF-16 code-unit order, one row per line. A table that fails is
// written as {"name":..,"error":".."} (or its rows so far followed by "error"). CSV: per
// table a header row and the rows, CRLF line ends; several tables are separated by one
// empty line. Text is UTF-8. Throws jet::Error 3078 when a named table does not exist.
DumpResult dump(Database& db, std::ostream& out, const DumpOptions& options = {});

// Single tables (the cursor is rewound first).
DumpResult dumpTableJson(Table& table, std::ostream& out);
DumpResult dumpTableCsv(Table& table, std::ostream& out);

// The user-table names in dump order (UTF-16 code-unit order).
std::vector<std::string> dumpTableOrder(const Database& db);

// JSON text of one value (as in the dump), appended to out.
void appendJsonValue(std::string& out, const Value& v);
// JSON string literal of UTF-8 text (minimal escaping, like the fixtures).
void appendJsonString(std::string& out, std::string_view s);

} // namespace jet
