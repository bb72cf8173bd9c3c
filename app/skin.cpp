#include "app/skin.h"

#include <filesystem>
#include <system_error>

#include "app/files.h"
#include "app/pages.h"

namespace app {

void ApplySkin(ConnectionPage& page) {
    std::error_code ec;
    const std::filesystem::path skin = std::filesystem::u8path(programFile("x/o.cjs"));
    if (!std::filesystem::exists(skin, ec) || ec) return;
    page.applySystemFaceColour();
}

} // namespace app
