#pragma once
// The program's own command-line options, answered before Qt is started, so
// that they work without a display: --help and --version print and end the
// program. Every other argument is left to Qt (-platform, -style, ...).
#include <cstdio>
#include <optional>

namespace app {

// The exit status when an option ended the program, nullopt to go on and
// open the window.
std::optional<int> answerWithoutWindow(int argc, const char* const* argv, const char* version, std::FILE* out);

} // namespace app
