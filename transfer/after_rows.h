#pragma once
// What both directions of "Keep column types, keys and indexes" share: the
// statements run once a table's rows are in (keys, indexes, relationships),
// where a failure is reported with the statement's text, listed for the
// summary, and the rows stay; and the summary's wording.
#include <string>
#include <vector>

#include "app/trap.h"
#include "db/session.h"

namespace transfer {

// The report line of the statements that follow a table's rows.
constexpr int kAfterRowsLine = 279;

class AfterRowsStatements {
public:
    // `sql` is the statement in hand that the trap's reports show.
    AfterRowsStatements(app::Trap& trap, std::string& sql) : trap_(trap), sql_(sql) {}

    // Runs one statement; false when it failed (reported once, with its text, and listed).
    bool run(db::Connection& connection, const std::string& statement);

    const std::vector<std::string>& failed() const { return failed_; }

    // "\r\nFailed (the rows stay):" and the statements, when any failed.
    void appendFailed(std::string& text) const;

private:
    app::Trap& trap_;
    std::string& sql_;
    std::vector<std::string> failed_;
};

// "1 table", "3 tables"
std::string plural(long long n, const char* one, const char* many);

// "\r\n<title>" and each line indented below it, when there are lines.
void appendSection(std::string& text, const std::string& title, const std::vector<std::string>& lines);

} // namespace transfer
