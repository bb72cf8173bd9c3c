// tables: the user tables of an Access file, or of a PostgreSQL database.
#include <QCommandLineParser>
#include <cstdio>

#include "cli/command.h"
#include "cli/password.h"
#include "cli/pg_target.h"
#include "jet/database.h"
#include "jet/schema.h"

namespace cli {

namespace {

int run(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Lists the user tables of an Access file, one per line, or of "
                                                    "the PostgreSQL database given with --pg."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("The Access file."), QStringLiteral("[FILE]"));
    parser.addOption({QStringLiteral("pg"), QStringLiteral("A PostgreSQL database instead."), QStringLiteral("CONNINFO")});
    parser.addOption({QStringLiteral("all"), QStringLiteral("Every catalogue object of the Access file with its TABLE_TYPE.")});
    parser.addOption({QStringLiteral("schema"),
                      QStringLiteral("The schema of the Access file as JSON: columns with their properties (Required, "
                                     "DefaultValue, Description, AutoNumber), indexes, relationships.")});
    addPasswordOptions(parser);
    if (const auto done = parseArguments(parser, arguments)) return *done;
    const QStringList positional = parser.positionalArguments();
    std::vector<std::string> names;
    try {
        if (parser.isSet(QStringLiteral("pg"))) {
            names = postgresUserTables(parametersFromConninfo(parser.value(QStringLiteral("pg")).toStdString()));
        } else if (positional.size() == 1) {
            auto database = jet::Database::open(positional.first().toStdString(), {.password = readPassword(parser)});
            if (parser.isSet(QStringLiteral("schema"))) {
                std::fputs(jet::schemaJson(*database).c_str(), stdout);
                return ExitOk;
            }
            if (parser.isSet(QStringLiteral("all"))) {
                for (const auto& object : database->catalog())
                    names.push_back(object.name + "\t" + (object.schemaType.empty() ? "-" : object.schemaType));
            } else {
                names = database->userTableNames();
            }
        } else {
            fail("usage: quillmere-cli tables FILE | --pg CONNINFO");
            return ExitUnavailable;
        }
    } catch (const std::exception& e) {
        fail(e.what());
        return ExitUnavailable;
    }
    for (const auto& n : names) std::printf("%s\n", n.c_str());
    return ExitOk;
}

const Registrar registrar{{"tables", "List the user tables of an Access file or a PostgreSQL database", run}};

} // namespace

} // namespace cli
