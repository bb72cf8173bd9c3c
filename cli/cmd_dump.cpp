// dump: the tables of an Access file as JSON or CSV on stdout.
#include <QCommandLineParser>
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "cli/command.h"
#include "jet/database.h"
#include "jet/dump.h"

namespace cli {

namespace {

int run(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Writes the user tables of an Access file to stdout as JSON "
                                                    "(one row per line) or CSV. No TABLE named means every one."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("The Access file."));
    parser.addPositionalArgument(QStringLiteral("TABLE"), QStringLiteral("Tables to dump."), QStringLiteral("[TABLE...]"));
    parser.addOption({QStringLiteral("csv"), QStringLiteral("CSV instead of JSON.")});
    if (!parser.parse(arguments)) {
        fail(parser.errorText().toStdString());
        return ExitUnavailable;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        std::printf("%s", parser.helpText().toStdString().c_str());
        return ExitOk;
    }
    QStringList positional = parser.positionalArguments();
    if (positional.isEmpty()) {
        fail("usage: quillmere-cli dump FILE [TABLE...] [--csv]");
        return ExitUnavailable;
    }
    const std::string path = positional.takeFirst().toStdString();
    jet::DumpOptions options;
    options.format = parser.isSet(QStringLiteral("csv")) ? jet::DumpFormat::Csv : jet::DumpFormat::Json;
    for (const auto& t : positional) options.tables.push_back(t.toStdString());
    std::unique_ptr<jet::Database> database;
    try {
        const char* password = std::getenv("QUILLMERE_ACCESS_PASSWORD");
        database = jet::Database::open(path, {.password = password ? password : ""});
    } catch (const std::exception& e) {
        fail(path + ": " + e.what());
        return ExitUnavailable;
    }
    try {
        std::ios::sync_with_stdio(false);
        const jet::DumpResult result = jet::dump(*database, std::cout, options);
        std::cout.flush();
        for (const auto& m : result.messages) fail(m);
        return result.ok() ? ExitOk : ExitPartial;
    } catch (const std::exception& e) {
        fail(e.what());
        return ExitPartial;
    }
}

const Registrar registrar{{"dump", "Write the tables of an Access file as JSON or CSV", run}};

} // namespace

} // namespace cli
