// create: a new, empty Access database written from scratch.
#include <QCommandLineParser>
#include <cstdio>

#include "cli/command.h"
#include "cli/password.h"
#include "jet/create_db.h"
#include "jet/error.h"

namespace cli {

namespace {

int run(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Creates an empty Access database with the system tables Access expects. jet3 is an Access 97 .mdb, jet4 an "
        "Access 2000-2003 .mdb; "
        "ace12, ace14, ace16 and ace17 are the .accdb of Access 2007, 2010, 2016 and 2019. With a password a "
        "jet3 or jet4 file gets a database password (at most 20 characters) and an .accdb is encrypted (AES-256)."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("The new file (must not exist)."));
    parser.addOption({QStringLiteral("format"), QStringLiteral("jet3, jet4, ace12, ace14, ace16 or ace17."),
                      QStringLiteral("FORMAT")});
    addPasswordOptions(parser);
    if (const auto done = parseArguments(parser, arguments)) return *done;
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 1 || !parser.isSet(QStringLiteral("format"))) {
        fail("usage: quillmere-cli create FILE --format jet3|jet4|ace12|ace14|ace16|ace17 [--password-file F | --password-stdin]");
        return ExitUnavailable;
    }
    const std::string path = positional.first().toStdString();
    try {
        const jet::NewFormat format = jet::parseNewFormat(parser.value(QStringLiteral("format")).toStdString());
        jet::createDatabase(path, format, readPassword(parser));
    } catch (const std::exception& e) {
        fail(path + ": " + e.what());
        return ExitUnavailable;
    }
    return ExitOk;
}

const Registrar registrar{{"create", "Create an empty Access database", run}};

} // namespace

} // namespace cli
