#pragma once
#include <string>
#include <vector>

#include "app/pages.h"
#include "app/services.h"

// The buttons of the ConnectionPage other than "Next >".
namespace connection {

inline const std::string kAccessFileFilter =
    "All Microsoft Databases (*.mdb,*.accdb)|*.*db|Microsoft Database (*.mdb)|*.mdb|"
    "Microsoft 2007 Database (*.accdb)|*.accdb|";
inline constexpr long kOpenFileFlags = 0x280001; // read-only box ticked, explorer style, long names
inline const std::string kPgAdminDownload = "https://www.pgadmin.org/download/";

// One "description|pattern|" pair of a dialog filter.
struct FilterPair {
    std::string description;
    std::string pattern;
    friend bool operator==(const FilterPair&, const FilterPair&) = default;
};
std::vector<FilterPair> parseFilter(const std::string& filter);

// Whether a file name matches a dialog pattern such as "*.*db" ("*" any run,
// "?" one character, letter case ignored; ";" separates alternatives).
bool matchesPattern(const std::string& fileName, const std::string& pattern);

void BrowseAccessFile(app::ConnectionPage& page);                               // PushButton1
void TestConnection(app::ConnectionPage& page, const app::Services& services); // PushButton3
void ShowConnectionHelp(app::ConnectionPage& page);                             // PushButton5
void LoadSampleDatabase(app::ConnectionPage& page);                             // PushButton7

} // namespace connection
