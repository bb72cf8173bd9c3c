// dump: the tables of an Access file as JSON or CSV on stdout.
#include <QCommandLineParser>
#include <cstdio>
#include <iostream>

#include "cli/command.h"
#include "cli/password.h"
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
    parser.addOption({QStringLiteral("table"), QStringLiteral("Dump this table only (may be repeated)."),
                      QStringLiteral("NAME")});
    parser.addOption({QStringLiteral("format"), QStringLiteral("json (the default) or csv."), QStringLiteral("FORMAT"),
                      QStringLiteral("json")});
    parser.addOption({QStringLiteral("csv"), QStringLiteral("Same as --format csv.")});
    addPasswordOptions(parser);
    if (const auto done = parseArguments(parser, arguments)) return *done;
    QStringList positional = parser.positionalArguments();
    if (positional.isEmpty()) {
        fail("usage: quillmere-cli dump FILE [--table NAME] [--format json|csv]");
        return ExitUnavailable;
    }
    const std::string path = positional.takeFirst().toStdString();
    jet::DumpOptions options;
    const QString format = parser.value(QStringLiteral("format"));
    if (format != QStringLiteral("json") && format != QStringLiteral("csv")) {
        fail("unknown format '" + format.toStdString() + "': use json or csv");
        return ExitUnavailable;
    }
    options.format = parser.isSet(QStringLiteral("csv")) || format == QStringLiteral("csv") ? jet::DumpFormat::Csv
                                                                                           : jet::DumpFormat::Json;
    for (const auto& t : positional) options.tables.push_back(t.toStdString());
    for (const auto& t : parser.values(QStringLiteral("table"))) options.tables.push_back(t.toStdString());
    std::unique_ptr<jet::Database> database;
    try {
        database = jet::Database::open(path, {.password = readPassword(parser)});
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
