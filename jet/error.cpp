#include "jet/error.h"

namespace jet {

std::string corruptDescription(const std::string& path, const std::string& detail) {
    std::string s = "Cannot open database '" + path +
                    "'. It may not be a database that your application recognizes, or the file may be corrupt.";
    if (!detail.empty()) s += " (" + detail + ")";
    return s;
}

void throwCorrupt(const std::string& path, const std::string& detail) {
    throw Error(errc::CorruptDatabase, corruptDescription(path, detail));
}

} // namespace jet
