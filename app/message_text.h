#pragma once
#include <string>

namespace app {

// The line breaks of a message as a message box shows them: CR LF and a lone
// CR each break the line, so "\r\r" is one empty line.
std::string displayText(const std::string& text);

} // namespace app
