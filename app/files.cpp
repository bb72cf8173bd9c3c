#include "app/files.h"

#include <filesystem>
#include <system_error>

namespace app {

namespace {
std::string& programFolderOverride() {
    static std::string folder;
    return folder;
}
} // namespace

bool fileExists(const std::string& path) {
    if (path.empty()) return false;
    std::error_code ec;
    (void)std::filesystem::last_write_time(std::filesystem::u8path(path), ec);
    return !ec;
}

std::string programFolder() {
    if (!programFolderOverride().empty()) return programFolderOverride();
    std::error_code ec;
#ifdef _WIN32
    // GetModuleFileName would be used here; the current path is a fallback.
    auto exe = std::filesystem::current_path(ec);
    return exe.string();
#else
    auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return std::filesystem::current_path(ec).string();
    return exe.parent_path().string();
#endif
}

void setProgramFolderForTesting(const std::string& folder) { programFolderOverride() = folder; }

std::string programFile(const std::string& relative) {
    return (std::filesystem::path(programFolder()) / std::filesystem::path(relative)).make_preferred().string();
}

} // namespace app
