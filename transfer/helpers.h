#pragma once
#include <cstdint>
#include <string>

#include "app/ui.h"
#include "db/session.h"
#include "db/variant.h"

// The small operations both transfers share.
namespace transfer {

// The ADO constant name of a data-type number ("adInteger" for 3), or the empty
// text for a number that has no name.
std::string AdoTypeName(std::int16_t type);

// True when at least one entry equals the name, ignoring letter case (the
// whole entry, never a part of it).
bool ListContainsName(const ui::ListBox& list, const std::string& name);

// The Access side's versions: an entry names the same table when the file behind `access` compares it
// equal to the name (its sort order's keys: case ignored in every script, hiragana and katakana alike), as
// the file's own catalogue does.
bool ListContainsAccessName(const ui::ListBox& list, const std::string& name, db::Connection& access);
void RemoveAccessListEntries(ui::ListBox& list, const std::string& name, db::Connection& access);

// Removes every entry that equals the name exactly (case-sensitive).
void RemoveListEntries(ui::ListBox& list, const std::string& name);

// Removes every entry that equals the name ignoring letter case; the Access
// side uses it, because Access table names ignore case.
void RemoveListEntriesIgnoringCase(ui::ListBox& list, const std::string& name);

// The replacement when the value is Null, otherwise the value unchanged.
db::Variant NullToDefault(db::Variant value, db::Variant replacement);

// Runs one statement on an open connection; failures reach the caller.
void ExecuteSql(db::Connection& connection, const std::string& sql);

// The list helpers' notion of "ignoring case": Unicode simple case folding, so that names in Greek,
// Cyrillic or any other cased script match in other capitals as they do in Access (Σ, σ and ς alike).
std::string lowerCase(std::string text);

} // namespace transfer
