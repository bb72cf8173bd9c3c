#include "app/app_title.h"

namespace app {

std::string makeApplicationTitle(const std::string& productName) {
    std::string title = productName;
    do {
        auto space = title.rfind(' ');
        if (space == std::string::npos) break; // nothing to cut at: the name stays whole
        title.erase(space);
    } while (title.size() > 40);
    return title;
}

std::string applicationTitle() {
    static const std::string title = makeApplicationTitle(kProductName);
    return title;
}

} // namespace app
