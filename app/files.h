#pragma once
#include <string>

namespace app {

// True when the file system can give the path's modification time; any
// failure (and the empty path) gives false.
bool fileExists(const std::string& path);

// The folder of the running executable, without a trailing separator.
std::string programFolder();
void setProgramFolderForTesting(const std::string& folder); // empty to restore

// programFolder() + "/" + relative, with the platform's separator.
std::string programFile(const std::string& relative);

} // namespace app
