// Renaming a table in place, as Access does: its catalogue row (and with it the catalogue's name index) and the
// MSysRelationships rows that name it take the new name; the table's definition, rows, keys, indexes, AutoNumber,
// properties and relationships stay as they are.
#pragma once

#include <string>

namespace jet {

class Writer;

// Errors: 3078 when there is no such table, 3010 when the new name is taken by another object, 3125 for a name
// Access refuses. A new name that differs from the old one only in letter case is a rename too.
void renameTable(Writer& writer, const std::string& oldName, const std::string& newName);

}  // namespace jet
