#pragma once
#include <optional>
#include <string>
#include <vector>

#include "app/ui.h"
#include "db/parameters.h"

namespace db {

// The OLE DB connection string of an Access file: the ACE provider when the
// path's last five characters, lower-cased, are "accdb", the Jet provider
// otherwise. An empty path takes the path and the password from the
// ConnectionPage's current fields.
std::string AccessConnectionString(const std::string& path, const std::string& password,
                                   const ParameterSource& fields);

// Names of the ordinary tables ("TABLE" rows of the tables schema) in catalogue
// order; nullopt when the file does not exist.
std::optional<std::vector<std::string>> ListAccessTables(const std::string& path, const ParameterSource& fields);

// Clears the list and fills it with the Access tables; "Unable to access the
// database" when the file does not exist.
void FillAccessTableList(ui::ListBox& list, const std::string& path, const ParameterSource& fields,
                         ui::Dialogs& dialogs);

// True when an ordinary table of that name (ignoring case) exists.
bool AccessTableExists(const std::string& path, const std::string& password, const std::string& name);

// Renames the table in place (its keys, indexes, AutoNumber, properties and
// relationships stay), after the overwrite question when the new name exists. Returns false when
// the user declined. A new name equal to the old one (ignoring case) changes
// nothing and returns false.
bool RenameAccessTable(const std::string& oldName, const std::string& newName, const std::string& path,
                       const std::string& password, ui::Dialogs& dialogs);

} // namespace db
