// exec: runs Access SQL statements on an Access file, each on its own.
#include <QCommandLineParser>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>

#include "cli/command.h"
#include "cli/password.h"
#include "jet/database.h"
#include "jet/dump.h"
#include "jet/sql.h"
#include "jet/writer.h"

namespace cli {

namespace {

std::string readScript(const std::string& path) {
    std::stringstream text;
    if (path == "-") {
        text << std::cin.rdbuf();
    } else {
        std::ifstream in(path, std::ios::binary);
        if (!in) throw std::runtime_error("cannot read the script '" + path + "'");
        text << in.rdbuf();
    }
    return text.str();
}

// A SELECT prints the table as CSV; every other statement changes the file.
void runOne(const std::string& path, const std::string& password, std::unique_ptr<jet::Writer>& writer,
            const std::string& statement) {
    const auto parsed = jet::sql::parse(statement);
    if (const auto* select = std::get_if<jet::sql::SelectAll>(&parsed)) {
        if (writer) { // the reader sees everything written so far
            writer->close();
            writer.reset();
        }
        auto database = jet::Database::open(path, {.password = password});
        database->openTable(select->table); // an unknown table fails here, as a statement
        jet::DumpOptions options;
        options.format = jet::DumpFormat::Csv;
        options.tables = {select->table};
        jet::dump(*database, std::cout, options);
        std::cout.flush();
        return;
    }
    if (!writer) {
        jet::WriterOptions options;
        options.password = password;
        writer = jet::Writer::open(path, std::move(options));
    }
    writer->run(parsed);
}

int run(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Runs one Access SQL statement (CREATE TABLE, INSERT INTO, DROP TABLE, SELECT a1.* INTO ... FROM ... AS a1, "
        "SELECT * FROM) on an Access file, or a script of statements separated by ';'. Each statement is all or "
        "nothing; a script stops at the first failure unless --keep-going."));
    parser.addHelpOption();
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("The Access file."));
    parser.addPositionalArgument(QStringLiteral("SQL"), QStringLiteral("The statement."), QStringLiteral("[SQL]"));
    parser.addOption({QStringLiteral("script"), QStringLiteral("Run the statements of F ('-' for stdin)."),
                      QStringLiteral("F")});
    parser.addOption({QStringLiteral("keep-going"), QStringLiteral("Go on after a failing statement.")});
    addPasswordOptions(parser);
    if (const auto done = parseArguments(parser, arguments)) return *done;
    const QStringList positional = parser.positionalArguments();
    const bool script = parser.isSet(QStringLiteral("script"));
    if (positional.size() != (script ? 1 : 2)) {
        fail("usage: quillmere-cli exec FILE \"SQL\" | quillmere-cli exec FILE --script F [--keep-going]");
        return ExitUnavailable;
    }
    const std::string path = positional[0].toStdString();
    std::vector<std::string> statements;
    std::string password;
    try {
        password = readPassword(parser);
        if (script)
            statements = jet::sql::splitScript(readScript(parser.value(QStringLiteral("script")).toStdString()));
        else
            statements = {positional[1].toStdString()};
        jet::Database::open(path, {.password = password}); // the file and password are checked before any work
    } catch (const std::exception& e) {
        fail(path + ": " + e.what());
        return ExitUnavailable;
    }
    const bool keepGoing = parser.isSet(QStringLiteral("keep-going"));
    std::unique_ptr<jet::Writer> writer;
    int ran = 0, failed = 0;
    for (std::size_t i = 0; i < statements.size(); ++i) {
        try {
            runOne(path, password, writer, statements[i]);
            ++ran;
        } catch (const jet::Error& e) {
            ++failed;
            fail("statement " + std::to_string(i + 1) + ": " + std::to_string(e.number()) + " " + e.what());
            if (!keepGoing) break;
        } catch (const std::exception& e) {
            ++failed;
            fail("statement " + std::to_string(i + 1) + ": " + e.what());
            if (!keepGoing) break;
        }
    }
    try {
        if (writer) writer->close();
    } catch (const std::exception& e) {
        fail(e.what());
        return ExitPartial;
    }
    if (script || failed)
        std::fprintf(stderr, "%d statement(s) ran, %d failed, %zu not run\n", ran, failed,
                     statements.size() - std::size_t(ran + failed));
    return failed ? ExitPartial : ExitOk;
}

const Registrar registrar{{"exec", "Run Access SQL statements on an Access file", run}};

} // namespace

} // namespace cli
