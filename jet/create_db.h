// Creating an empty Access database from scratch: the header page, the free-page map and the engine's own
// catalogue (MSysObjects with its Id and ParentIdName indexes, MSysACEs, MSysQueries, MSysRelationships, the
// Tables/Databases/Relationships containers and MSysDb, with their permissions) — what the database engine
// itself writes when it creates a file. Everything Access the application adds on first open (navigation
// pane tables, forms and reports containers) it adds by itself.
#pragma once

#include "jet/format.h"

#include <string>
#include <string_view>

namespace jet {

enum class NewFormat { Jet3, Jet4, Ace12, Ace14, Ace16, Ace17 };

// "jet3", "jet4", "ace12", "ace14", "ace16", "ace17" (case-insensitive); throws jet::Error 3251 for anything
// else.
NewFormat parseNewFormat(std::string_view name);

// Writes a new database at `path`. Refuses (3010-like error 3204 "database already exists") to overwrite.
// Jet 4 and ACE 12 files get the General Legacy sort order, ACE 14 and later General, as Access does; Access 97
// (Jet 3) files have 2 KiB pages, the General sort order and code page 1252.
// A non-empty password protects the file as Access does it for that format: a Jet 3 / Jet 4 file gets a
// database password (at most 20 characters, windows-1252 ones on Jet 3; a check, the pages stay plain), an
// .accdb is encrypted with Office agile encryption (AES-256, SHA-512; at most 255 characters) and opens only
// with the password. A password the format cannot hold is 3031; it never appears in a message.
void createDatabase(const std::string& path, NewFormat format, const std::string& password = {});
// The same by the reader's format names; ACE 15 files are written as ACE 14.
void createDatabase(const std::string& path, Format format, const std::string& password = {});

}  // namespace jet
