// rename: renames a table of an Access file in place, as the table manager's "Rename Table" does.
#include <QCommandLineParser>

#include "cli/command.h"
#include "cli/console.h"
#include "cli/password.h"
#include "db/access.h"
#include "db/error.h"
#include "transfer/names.h"

namespace cli {

namespace {

int run(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Renames a table of an Access file in place: its rows, primary key, indexes, AutoNumber, properties and "
        "relationships stay with it. When a table of the new name exists, it is replaced only after the question "
        "is answered (or with --overwrite)."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("The Access file."));
    parser.addPositionalArgument(QStringLiteral("OLD"), QStringLiteral("The table's name."));
    parser.addPositionalArgument(QStringLiteral("NEW"), QStringLiteral("Its new name."));
    parser.addOption({QStringLiteral("overwrite"), QStringLiteral("Replace a table that has the new name.")});
    addPasswordOptions(parser);
    if (const auto done = parseArguments(parser, arguments)) return *done;
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 3) {
        fail("usage: quillmere-cli rename FILE OLD NEW [--overwrite]");
        return ExitUnavailable;
    }
    const std::string path = positional[0].toStdString(), oldName = positional[1].toStdString(),
                      newName = positional[2].toStdString();
    ConsoleDialogs dialogs(parser.isSet(QStringLiteral("overwrite")) ? OverwritePolicy::Overwrite
                                                                       : OverwritePolicy::Ask);
    try {
        const std::string password = readPassword(parser);
        transfer::requireAccessName(newName);
        if (!db::RenameAccessTable(oldName, newName, path, password, dialogs)) {
            fail("'" + oldName + "' was not renamed.");
            return ExitPartial;
        }
    } catch (const db::Error& e) {
        fail(path + ": " + std::to_string(e.number()) + " " + e.what());
        return ExitPartial;
    } catch (const std::exception& e) {
        fail(path + ": " + e.what());
        return ExitUnavailable;
    }
    return ExitOk;
}

const Registrar registrar{{"rename", "Rename a table of an Access file in place", run}};

} // namespace

} // namespace cli
