#pragma once
#include <exception>
#include <functional>
#include <string>
#include <utility>

#include "app/ui.h"

namespace app {

// "in Tarnwick2021/08/31.<form>.<handler> "
std::string locationText(const std::string& form, const std::string& handler);

// The error report's text: description, CR LF, location, "at line ", the line,
// CR CR, the request to e-mail a screenshot to the support address.
std::string errorReportText(const std::string& description, const std::string& location, int line);

// Number and description of any failure that reaches a trap.
struct Failure {
    long number = 0;
    std::string description;
};
Failure describe(const std::exception_ptr& error);

// The error trap of a handler. Each numbered statement runs through step() or
// test(); a failure is shown in the error report with the last line reached,
// and the handler goes on with its next statement.
class Trap {
public:
    Trap(ui::Dialogs& dialogs, std::string form, std::string handler)
        : dialogs_(dialogs), location_(locationText(form, handler)) {}

    // The transfer handlers append the statement in hand to every report.
    void attachSql(const std::string* sql) { sql_ = sql; }
    // Called before a report shows the statement, for a handler that makes its text only when it is shown.
    void refreshSqlWith(std::function<void()> refresh) { refresh_ = std::move(refresh); }

    int line() const { return line_; }
    int reports() const { return reports_; }
    const std::string& location() const { return location_; }

    // Runs one numbered statement. Returns false when it failed (and was reported).
    template <class F>
    bool step(int line, F&& statement) {
        line_ = line;
        try {
            std::forward<F>(statement)();
            return true;
        } catch (...) {
            report(std::current_exception());
            return false;
        }
    }

    // Evaluates the test of a conditional statement. A failing test is reported
    // and, like the trap's resume rule says, the body is entered: returns true.
    template <class F>
    bool test(int line, F&& condition) {
        line_ = line;
        try {
            return static_cast<bool>(std::forward<F>(condition)());
        } catch (...) {
            report(std::current_exception());
            return true;
        }
    }

    // Marks a line as reached without running anything (labels of jumps).
    void reach(int line) { line_ = line; }

    // Shows the error report for a failure at the current line.
    void report(const std::exception_ptr& error);
    void report(const std::string& description);

private:
    ui::Dialogs& dialogs_;
    std::string location_;
    const std::string* sql_ = nullptr;
    std::function<void()> refresh_;
    int line_ = 0;
    int reports_ = 0;
};

// A second trap that records a failure instead of reporting it (a local
// "on error go to" inside a handler).
class PendingFailure {
public:
    template <class F>
    bool attempt(F&& statement) {
        if (pending_) return false;
        try {
            std::forward<F>(statement)();
            return true;
        } catch (...) {
            failure_ = describe(std::current_exception());
            pending_ = true;
            return false;
        }
    }
    bool pending() const { return pending_; }
    const Failure& failure() const { return failure_; }
    void clear() { pending_ = false; failure_ = {}; }

private:
    bool pending_ = false;
    Failure failure_;
};

} // namespace app
