#pragma once
#include <string>

#include "app/services.h"
#include "app/ui.h"

namespace connection {

inline const std::string kEngineDownload2010 = "https://www.microsoft.com/en-us/download/details.aspx?id=13255";
inline const std::string kEngineDownload2016 = "https://www.microsoft.com/en-us/download/details.aspx?id=54920";

// The message shown when the database engine is missing: seven paragraphs.
std::string engineMissingText();

// True when a connection object of each engine can be created (our Access
// engine and libpq). When creation fails with a missing provider, explains
// it and offers to open the two download pages; false either way. Nothing
// here raises an error report.
bool CheckDatabaseEngine(ui::Dialogs& dialogs, const app::Services& services);

} // namespace connection
