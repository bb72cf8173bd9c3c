// exec: runs Access SQL statements on an Access file, each on its own.
#include <QCommandLineParser>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string_view>
#include <vector>

#include "cli/command.h"
#include "cli/password.h"
#include "jet/database.h"
#include "jet/dump.h"
#include "jet/sql.h"
#include "jet/writer.h"

namespace cli {

namespace {

std::string readScript(const std::string& path) {
    if (path == "-") {
        std::stringstream text;
        text << std::cin.rdbuf();
        return text.str();
    }
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) throw std::runtime_error("cannot read the script '" + path + "'");
    std::string text(static_cast<std::size_t>(in.tellg()), '\0');
    in.seekg(0);
    if (!in.read(text.data(), static_cast<std::streamsize>(text.size())))
        throw std::runtime_error("cannot read the script '" + path + "'");
    return text;
}

// Runs the statements of a script in order. Statements that change the file reach it in batches written together,
// as the transfers write rows: each statement still succeeds or fails alone, and a batch that cannot be written
// leaves the file as before it and is run again statement by statement. A SELECT prints the table as CSV after
// everything before it has been written.
class ScriptRun {
public:
    static constexpr std::size_t kBatchStatements = 1000;
    static constexpr std::size_t kBatchPages = 4096; // 16 MiB of 4 KiB pages held in memory at most

    ScriptRun(std::string path, std::string password, const std::vector<std::string_view>& statements, bool keepGoing)
        : path_(std::move(path)), password_(std::move(password)), statements_(statements), keepGoing_(keepGoing) {}

    void run() {
        for (std::size_t i = 0; i < statements_.size() && !stopped_; ++i) {
            try {
                runOne(i);
            } catch (const std::exception& e) {
                failedStatement(i, e);
            }
        }
        writeBatch();
    }

    // Writes what is left and releases the file; false (after saying why) when the last write failed.
    bool close() {
        try {
            if (writer_) writer_->close();
            return true;
        } catch (const std::exception& e) {
            fail(e.what());
            return false;
        }
    }

    int ran() const { return ran_; }
    int failed() const { return failed_; }

private:
    void runOne(std::size_t i) {
        const auto parsed = jet::sql::parse(statements_[i]);
        if (const auto* select = std::get_if<jet::sql::SelectAll>(&parsed)) {
            writeBatch();
            if (stopped_) return;
            if (writer_) { // the reader sees everything written so far
                writer_->close();
                writer_.reset();
            }
            auto database = jet::Database::open(path_, {.password = password_});
            database->openTable(select->table); // an unknown table fails here, as a statement
            jet::DumpOptions options;
            options.format = jet::DumpFormat::Csv;
            options.tables = {select->table};
            jet::dump(*database, std::cout, options);
            std::cout.flush();
            ++ran_;
            return;
        }
        if (!writer_) {
            jet::WriterOptions options;
            options.password = password_;
            writer_ = jet::Writer::open(path_, std::move(options));
        }
        if (!writer_->inBatch()) writer_->beginBatch();
        writer_->run(parsed);
        ++ran_;
        batch_.push_back(i);
        if (batch_.size() >= kBatchStatements || writer_->batchPages() >= kBatchPages) writeBatch();
    }

    void failedStatement(std::size_t i, const std::exception& e) {
        ++failed_;
        const auto* engine = dynamic_cast<const jet::Error*>(&e);
        fail("statement " + std::to_string(i + 1) + ": " + (engine ? std::to_string(engine->number()) + " " : "") +
             e.what());
        if (!keepGoing_) stopped_ = true;
    }

    // Writes the open batch; when that fails, its statements run again one by one, each written alone.
    void writeBatch() {
        if (!writer_ || !writer_->inBatch()) return;
        std::vector<std::size_t> again;
        try {
            writer_->commitBatch();
        } catch (const std::exception&) {
            again = std::move(batch_);
        }
        batch_.clear();
        ran_ -= int(again.size());
        for (std::size_t i : again) {
            try {
                writer_->execute(statements_[i]);
                ++ran_;
            } catch (const std::exception& e) {
                failedStatement(i, e);
                if (stopped_) return;
            }
        }
    }

    std::string path_;
    std::string password_;
    const std::vector<std::string_view>& statements_;
    bool keepGoing_;
    std::unique_ptr<jet::Writer> writer_;
    std::vector<std::size_t> batch_; // statements of the open batch, all of which succeeded
    int ran_ = 0, failed_ = 0;
    bool stopped_ = false;
};

int run(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Runs one Access SQL statement (CREATE TABLE with PRIMARY KEY, UNIQUE, NOT NULL and DEFAULT, INSERT INTO, "
        "DROP TABLE, CREATE [UNIQUE] INDEX ... ON ... [WITH PRIMARY | DISALLOW NULL | IGNORE NULL], DROP INDEX ... ON, "
        "ALTER TABLE ... ADD CONSTRAINT ... FOREIGN KEY ... REFERENCES ..., ALTER TABLE ... DROP CONSTRAINT, "
        "SELECT a1.* INTO ... FROM ... AS a1, SELECT * FROM) on an Access file, or a script of statements separated "
        "by ';'. Each statement is all or nothing; a script stops at the first failure unless --keep-going."));
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
    std::string text; // the script or the statement; `statements` are views into it
    std::vector<std::string_view> statements;
    std::string password;
    try {
        password = readPassword(parser);
        if (script) {
            text = readScript(parser.value(QStringLiteral("script")).toStdString());
            statements = jet::sql::splitScriptViews(text);
        } else {
            text = positional[1].toStdString();
            statements = {text};
        }
        jet::Database::open(path, {.password = password}); // the file and password are checked before any work
    } catch (const std::exception& e) {
        fail(path + ": " + e.what());
        return ExitUnavailable;
    }
    ScriptRun runner(path, password, statements, parser.isSet(QStringLiteral("keep-going")));
    runner.run();
    if (!runner.close()) return ExitPartial;
    const int ran = runner.ran(), failed = runner.failed();
    if (script || failed)
        std::fprintf(stderr, "%d statement(s) ran, %d failed, %zu not run\n", ran, failed,
                     statements.size() - std::size_t(ran + failed));
    return failed ? ExitPartial : ExitOk;
}

const Registrar registrar{{"exec", "Run Access SQL statements on an Access file", run}};

} // namespace

} // namespace cli
