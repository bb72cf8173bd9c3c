#pragma once
#include <string>

// How table and column names go into statements.
namespace transfer {

// A PostgreSQL name between double quotes, every double quote inside doubled:
// the name can never end the quoted identifier early.
std::string quotePostgresName(const std::string& name);

// Why a name cannot stand between back-quotes as an Access table or column
// name, or the empty text when it can. Access refuses names longer than 64
// characters, names with a period, exclamation mark, back-quote or bracket,
// control characters, and a leading blank.
std::string accessNameProblem(const std::string& name);

// The name between back-quotes; throws db::Error with a clear message when the
// name cannot be written as an Access name.
std::string quoteAccessName(const std::string& name, const char* what = "table");

// Throws db::Error when the name cannot be written as an Access name.
void requireAccessName(const std::string& name, const char* what = "table");

} // namespace transfer
