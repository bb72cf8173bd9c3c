// send-to-postgresql and send-to-access: the page's two transfers with a
// console in place of the window.
#include <QCommandLineParser>
#include <cstdio>
#include <cstdlib>

#include "app/list_model.h"
#include "cli/command.h"
#include "cli/console.h"
#include "cli/password.h"
#include "cli/pg_target.h"
#include "jet/database.h"
#include "jet/error.h"
#include "transfer/helpers.h"
#include "transfer/transfer.h"

namespace cli {

namespace {

struct SendOptions {
    std::string accessFile;
    std::string conninfo;
    std::vector<std::string> tables;
    OverwritePolicy policy = OverwritePolicy::Ask;
    std::string accessPassword;
    bool fullSchema = false;
};

// Selects the named entries (exactly, else ignoring case) or, with no names,
// every entry; the first selected becomes the current entry. Returns the
// names that are not in the list.
std::vector<std::string> selectTables(ui::ListBox& list, const std::vector<std::string>& names) {
    std::vector<std::string> missing;
    auto mark = [&](int i) {
        list.setSelected(i, true);
        if (list.currentIndex() < 0) list.setCurrentIndex(i);
    };
    if (names.empty()) {
        for (int i = 0; i < list.count(); ++i) mark(i);
        return missing;
    }
    for (const auto& name : names) {
        int found = -1;
        for (int i = 0; i < list.count() && found < 0; ++i)
            if (list.item(i) == name) found = i;
        for (int i = 0; i < list.count() && found < 0; ++i)
            if (transfer::lowerCase(list.item(i)) == transfer::lowerCase(name)) found = i;
        if (found < 0)
            missing.push_back(name);
        else
            mark(found);
    }
    return missing;
}

int send(bool toPostgres, const SendOptions& options) {
    db::ConnectionParameters fields;
    try {
        fields = parametersFromConninfo(options.conninfo);
    } catch (const std::exception& e) {
        fail(e.what());
        return ExitUnavailable;
    }
    fields.accessFile = options.accessFile;
    fields.accessPassword = options.accessPassword;

    ConsoleDialogs dialogs(options.policy);
    app::SortedListModel accessList, postgresList;
    ConsoleProgress progress;
    ConsolePointer pointer;
    try {
        auto database = jet::Database::open(fields.accessFile, {.password = fields.accessPassword});
        for (const auto& name : database->userTableNames()) accessList.addItem(name);
    } catch (const std::exception& e) {
        fail(fields.accessFile + ": " + e.what());
        return ExitUnavailable;
    }
    try {
        for (const auto& name : postgresUserTables(fields)) postgresList.addItem(name);
    } catch (const std::exception& e) {
        fail(std::string("PostgreSQL: ") + e.what());
        return ExitUnavailable;
    }

    ui::ListBox& sourceList = toPostgres ? static_cast<ui::ListBox&>(accessList) : postgresList;
    const auto missing = selectTables(sourceList, options.tables);
    for (const auto& name : missing)
        fail("no table '" + name + "' in " + (toPostgres ? fields.accessFile : std::string("the PostgreSQL database")));
    if (sourceList.selCount() == 0) {
        std::fprintf(stderr, "No tables to send.\n");
        return missing.empty() ? ExitOk : ExitPartial;
    }

    app::TableManagerContext page{dialogs, accessList, postgresList, progress, pointer,
                                  [fields] { return fields; }};
    page.fullSchema = options.fullSchema;
    const transfer::TransferSummary summary =
        toPostgres ? transfer::sendTablesToPostgreSQL(page) : transfer::sendTablesToAccess(page);
    std::fprintf(stderr, "%d table(s) sent, %lld row(s)%s%s.\n", summary.tablesSent, summary.rowsSent,
                 summary.rowsFailed ? (", " + std::to_string(summary.rowsFailed) + " row(s) failed").c_str() : "",
                 summary.tablesFailed ? (", " + std::to_string(summary.tablesFailed) + " table(s) failed").c_str()
                                      : "");
    if (!summary.sessionsOpened) return ExitUnavailable;
    if (!summary.complete() || dialogs.reports() > 0 || !missing.empty()) return ExitPartial;
    return ExitOk;
}

// Reads the common options; returns -1 to go on, or the exit status.
int parse(const QStringList& arguments, bool toPostgres, SendOptions& options) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        toPostgres ? QStringLiteral("Sends tables of an Access file to PostgreSQL: each is created anew on the server "
                                    "and its rows copied. No TABLE named means every user table.")
                   : QStringLiteral("Sends PostgreSQL tables to an Access file: each is created anew in the file and "
                                    "its rows copied. No TABLE named means every user table."));
    parser.addHelpOption();
    if (toPostgres) {
        parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("The Access file (.mdb, .accdb)."));
        parser.addOption({QStringLiteral("pg"),
                          QStringLiteral("The PostgreSQL database: libpq keyword/value string or postgresql:// URI."),
                          QStringLiteral("CONNINFO")});
    } else {
        parser.addPositionalArgument(QStringLiteral("CONNINFO"),
                                     QStringLiteral("The PostgreSQL database: keyword/value string or URI."));
        parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("The Access file (.mdb, .accdb)."));
    }
    parser.addPositionalArgument(QStringLiteral("TABLE"), QStringLiteral("Tables to send."),
                                 QStringLiteral("[TABLE...]"));
    parser.addOption({QStringLiteral("overwrite"), QStringLiteral("Replace tables that exist on the other side.")});
    parser.addOption({QStringLiteral("skip-existing"), QStringLiteral("Leave tables that exist on the other side.")});
    if (!toPostgres)
        parser.addOption({QStringLiteral("full-schema"),
                          QStringLiteral("Keep column types, keys and indexes: Access types from the server's catalogue (bigint as Large "
                                         "Number or Decimal(19,0), boolean as Yes/No, money as Currency, uuid as "
                                         "Replication ID, bytea as OLE Object, ...), identity and serial columns as "
                                         "AutoNumbers, values exactly as the server holds them; then primary keys, "
                                         "unique and other indexes, and foreign keys as relationships (those of an "
                                         "overwritten table made again). A summary of what was created, kept as text "
                                         "and left out goes to stderr.")});
    else
        parser.addOption({QStringLiteral("full-schema"),
                          QStringLiteral("Keep column types, keys and indexes: PostgreSQL types from the Access column "
                                         "definitions, AutoNumbers as identity columns, Required as NOT NULL, simple "
                                         "default values, primary keys, unique keys, indexes, relationships as foreign "
                                         "keys, descriptions as comments. A summary of what was created and what was "
                                         "left out goes to stderr.")});
    addPasswordOptions(parser);
    if (const auto done = parseArguments(
            parser, arguments,
            "\nThe PostgreSQL password comes from PGPASSWORD or ~/.pgpass; the Access password from "
            "--password-file, --password-stdin or QUILLMERE_ACCESS_PASSWORD.\nExit status: 0 all sent, 2 some row "
            "or table failed, 1 a database could not be opened.\n"))
        return *done;
    if (parser.isSet(QStringLiteral("overwrite")) && parser.isSet(QStringLiteral("skip-existing"))) {
        fail("--overwrite and --skip-existing exclude each other");
        return ExitUnavailable;
    }
    options.policy = parser.isSet(QStringLiteral("overwrite"))       ? OverwritePolicy::Overwrite
                     : parser.isSet(QStringLiteral("skip-existing")) ? OverwritePolicy::Skip
                                                                     : OverwritePolicy::Ask;
    try {
        options.accessPassword = readPassword(parser);
    } catch (const std::exception& e) {
        fail(e.what());
        return ExitUnavailable;
    }
    if (options.accessPassword.empty())
        if (const char* p = std::getenv("QUILLMERE_ACCESS_PASSWORD")) options.accessPassword = p;
    QStringList positional = parser.positionalArguments();
    if (toPostgres) {
        if (positional.isEmpty() || !parser.isSet(QStringLiteral("pg"))) {
            fail("usage: quillmere-cli send-to-postgresql FILE [TABLE...] --pg CONNINFO");
            return ExitUnavailable;
        }
        options.accessFile = positional.takeFirst().toStdString();
        options.conninfo = parser.value(QStringLiteral("pg")).toStdString();
    } else {
        if (positional.size() < 2) {
            fail("usage: quillmere-cli send-to-access CONNINFO FILE [TABLE...]");
            return ExitUnavailable;
        }
        options.conninfo = positional.takeFirst().toStdString();
        options.accessFile = positional.takeFirst().toStdString();
    }
    for (const auto& t : positional) options.tables.push_back(t.toStdString());
    options.fullSchema = parser.isSet(QStringLiteral("full-schema"));
    return -1;
}

int run(const QStringList& arguments, bool toPostgres) {
    SendOptions options;
    if (const int status = parse(arguments, toPostgres, options); status >= 0) return status;
    return send(toPostgres, options);
}

const Registrar toPostgres{{"send-to-postgresql", "Send tables of an Access file to PostgreSQL",
                            [](const QStringList& a) { return run(a, true); }}};
const Registrar toAccess{{"send-to-access", "Send PostgreSQL tables to an Access file",
                          [](const QStringList& a) { return run(a, false); }}};

} // namespace

} // namespace cli
