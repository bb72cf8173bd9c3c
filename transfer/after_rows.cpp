#include "transfer/after_rows.h"

#include "transfer/helpers.h"

namespace transfer {

bool AfterRowsStatements::run(db::Connection& connection, const std::string& statement) {
    sql_ = statement;
    if (trap_.step(kAfterRowsLine, [&] { ExecuteSql(connection, sql_); })) return true;
    failed_.push_back(statement);
    return false;
}

void AfterRowsStatements::appendFailed(std::string& text) const { appendSection(text, "Failed (the rows stay):", failed_); }

std::string plural(long long n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

void appendSection(std::string& text, const std::string& title, const std::vector<std::string>& lines) {
    if (lines.empty()) return;
    text += "\r\n" + title;
    for (const auto& l : lines) text += "\r\n  " + l;
}

} // namespace transfer
