// quillmere-cli: the program's operations without a window.
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QStringList>
#include <cstdio>
#include <map>
#include <memory>

#include "cli/command.h"

namespace cli {

namespace {
std::map<std::string, Command>& registry() {
    static std::map<std::string, Command> r;
    return r;
}

void printHelp(std::FILE* to) {
    std::fprintf(to, "Usage: quillmere-cli COMMAND [ARGUMENTS...]\n\n"
                     "Moves whole tables between Microsoft Access files and PostgreSQL.\n\nCommands:\n");
    for (const Command* c : commands()) std::fprintf(to, "  %-20s %s\n", c->name.c_str(), c->summary.c_str());
    std::fprintf(to, "\n'quillmere-cli COMMAND --help' describes a command.\n"
                     "PostgreSQL passwords come from PGPASSWORD or ~/.pgpass, never from the command line.\n");
}
} // namespace

void registerCommand(Command command) {
    std::string name = command.name;
    registry()[name] = std::move(command);
}

const Command* findCommand(const std::string& name) {
    auto it = registry().find(name);
    return it == registry().end() ? nullptr : &it->second;
}

std::vector<const Command*> commands() {
    std::vector<const Command*> list;
    for (const auto& [name, c] : registry()) list.push_back(&c);
    return list;
}

void fail(const std::string& text) { std::fprintf(stderr, "quillmere-cli: %s\n", text.c_str()); }

std::optional<int> parseArguments(QCommandLineParser& parser, const QStringList& arguments, const char* helpFooter) {
    if (!parser.parse(arguments)) {
        fail(parser.errorText().toStdString());
        return ExitUnavailable;
    }
    // --help-all comes with Qt's help option; a program without a window has
    // no Qt options worth listing, so it shows the same help.
    if (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all"))) {
        std::printf("%s", parser.helpText().toStdString().c_str());
        if (helpFooter) std::printf("%s", helpFooter);
        return ExitOk;
    }
    return std::nullopt;
}

} // namespace cli

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quillmere-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUILLMERE_VERSION));

    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() < 2) {
        cli::printHelp(stderr);
        return cli::ExitUnavailable;
    }
    const QString first = arguments.at(1);
    if (first == QLatin1String("--help") || first == QLatin1String("-h") || first == QLatin1String("help")) {
        cli::printHelp(stdout);
        return cli::ExitOk;
    }
    if (first == QLatin1String("--version") || first == QLatin1String("-v")) {
        std::printf("quillmere-cli %s\n", QUILLMERE_VERSION);
        return cli::ExitOk;
    }
    const cli::Command* command = cli::findCommand(first.toStdString());
    if (!command) {
        cli::fail("unknown command '" + first.toStdString() + "'");
        cli::printHelp(stderr);
        return cli::ExitUnavailable;
    }
    try {
        return command->run(arguments.mid(1));
    } catch (const std::exception& e) {
        cli::fail(e.what());
        return cli::ExitUnavailable;
    }
}
