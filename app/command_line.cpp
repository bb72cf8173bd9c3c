#include "app/command_line.h"

#include <string_view>

namespace app {

namespace {
constexpr const char* kHelp =
    "Usage: quillmere [OPTION...]\n"
    "\n"
    "Moves whole tables between Microsoft Access files (.mdb, .accdb) and PostgreSQL,\n"
    "in both directions, and deletes and renames tables on either side.\n"
    "\n"
    "  -h, --help       Show this help and end.\n"
    "  -v, --version    Show the version and end.\n"
    "\n"
    "Qt's own options (-platform NAME, -style NAME, ...) are accepted as well.\n"
    "The fields of the connection page are kept in $XDG_CONFIG_HOME/Velmora.conf\n"
    "(~/.config/Velmora.conf). quillmere-cli does the same work without a window.\n"
    "See quillmere(1) and quillmere-cli(1).\n";
} // namespace

std::optional<int> answerWithoutWindow(int argc, const char* const* argv, const char* version, std::FILE* out) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--help" || argument == "-h") {
            std::fputs(kHelp, out);
            return 0;
        }
        if (argument == "--version" || argument == "-v") {
            std::fprintf(out, "quillmere %s\n", version);
            return 0;
        }
    }
    return std::nullopt;
}

} // namespace app
