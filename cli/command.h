#pragma once
// The subcommands of quillmere-cli. Each lives in its own cmd_<name>.cpp and
// registers itself with a static Registrar; main.cpp only dispatches.
#include <QCommandLineParser>
#include <QStringList>
#include <optional>
#include <functional>
#include <string>

namespace cli {

// Exit statuses shared by the subcommands.
enum Exit : int {
    ExitOk = 0,
    ExitUnavailable = 1, // a database or file could not be opened, or the command line is wrong
    ExitPartial = 2,     // some row or table failed
};

struct Command {
    std::string name;
    std::string summary; // one line for the general help
    // Runs with the arguments from the subcommand's name on ("send-to-access", "CONNINFO", ...).
    std::function<int(const QStringList& arguments)> run;
};

void registerCommand(Command command);
const Command* findCommand(const std::string& name);
std::vector<const Command*> commands(); // sorted by name

struct Registrar {
    explicit Registrar(Command command) { registerCommand(std::move(command)); }
};

// Prints a failure on stderr as "quillmere-cli: <text>".
void fail(const std::string& text);

// Parses a subcommand's arguments. Returns an exit status when the command is
// done already: a bad command line (reported) or --help (printed, followed by
// `helpFooter`). nullopt means: go on.
std::optional<int> parseArguments(QCommandLineParser& parser, const QStringList& arguments,
                                  const char* helpFooter = nullptr);

} // namespace cli
