// Running Access SQL statements against a file: the entry points the db/ layer calls.
//
//   auto s = jet::Session::open(path, {.password = pw});
//   s->execute("DROP TABLE `x`;");
//   s->execute("CREATE TABLE `T`(`a` VARCHAR,`b` DOUBLE);");
//   s->execute("INSERT INTO `T` VALUES('7', NULL)");
//   s->close();
//
// A Session keeps one writer (and its write lock) open for its life, so one INSERT per row stays cheap.
// Every statement is all or nothing. Errors are jet::Error with the Access engine's numbers.
#pragma once

#include "database.h"
#include "writer.h"

#include <memory>
#include <string>
#include <string_view>

namespace jet {

class Session {
public:
    static std::unique_ptr<Session> open(const std::string& path, const OpenOptions& options = {});
    ~Session();

    // CREATE TABLE, INSERT INTO, DROP TABLE, SELECT a1.* INTO new FROM old AS a1; SELECT * FROM name checks
    // that the table exists (reading rows is the reader's job: jet::Database::openTable).
    void execute(std::string_view sqlText);
    // Runs a script of statements separated by ';' (outside quoted text and names). Stops at the first failure
    // unless keepGoing; returns how many ran and how many failed, and the errors in order.
    struct ScriptResult {
        int ran = 0;
        int failed = 0;
        std::vector<std::string> errors;
    };
    ScriptResult executeScript(std::string_view script, bool keepGoing = false);

    Writer& writer() { return *writer_; }
    void close();

    struct Token {  // only open() can make one
    private:
        friend class Session;
        Token() = default;
    };
    explicit Session(Token) {}

private:
    std::unique_ptr<Writer> writer_;
};

// One statement on a database opened by the reader (it opens a writer on the same file for the statement).
void executeStatement(Database& db, const std::string& sql);
// Same on a path.
void executeStatement(const std::string& path, const std::string& sql, const std::string& password = {});

}  // namespace jet
