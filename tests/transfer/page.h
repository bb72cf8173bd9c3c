#pragma once
// A TableManagerPage without a window: the two lists, the progress bar, the
// pointer and scripted dialogs, with the ConnectionPage's fields.
#include "app/context.h"
#include "environment.h"
#include "fakes.h"

struct Page {
    fakes::Dialogs dialogs;
    fakes::List access, postgres;
    fakes::Progress progress;
    fakes::Pointer pointer;
    db::ConnectionParameters fields;

    explicit Page(const std::string& accessFile = {}) : fields(env::parameters(accessFile)) {}
    app::TableManagerContext context() {
        return {dialogs, access, postgres, progress, pointer, [this] { return fields; }};
    }
};

// The parts of an error report: description, line, statement.
struct Report {
    std::string description;
    int line = -1;
    std::string sql;
    bool hasSql = false;
};

inline Report parseReport(const std::string& text) {
    Report r;
    r.description = text.substr(0, text.find("\r\n"));
    const auto at = text.find("at line ");
    if (at != std::string::npos) r.line = std::stoi(text.substr(at + 8));
    const auto sql = text.find("\r\rsql: ");
    if (sql != std::string::npos) {
        r.hasSql = true;
        r.sql = text.substr(sql + 7);
    }
    return r;
}
