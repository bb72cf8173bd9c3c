#include "statement.h"

#include "error.h"
#include "sql.h"

namespace jet {

std::unique_ptr<Session> Session::open(const std::string& path, const OpenOptions& options)
{
    auto s = std::make_unique<Session>(Token{});
    WriterOptions wo;
    wo.password = options.password;
    s->writer_ = Writer::open(path, std::move(wo));
    return s;
}

Session::~Session() = default;

void Session::execute(std::string_view sqlText)
{
    writer_->execute(sqlText);
}

Session::ScriptResult Session::executeScript(std::string_view script, bool keepGoing)
{
    ScriptResult r;
    for (const std::string& st : sql::splitScript(script)) {
        ++r.ran;
        try {
            writer_->execute(st);
        } catch (const Error& e) {
            ++r.failed;
            r.errors.push_back("[" + std::to_string(e.number()) + "] " + e.what());
            if (!keepGoing)
                break;
        }
    }
    return r;
}

void Session::close()
{
    if (writer_)
        writer_->close();
}

void executeStatement(const std::string& path, const std::string& sql, const std::string& password)
{
    WriterOptions wo;
    wo.password = password;
    auto w = Writer::open(path, std::move(wo));
    w->execute(sql);
    w->close();
}

void executeStatement(Database& db, const std::string& sql)
{
    executeStatement(db.path(), sql);
}

}  // namespace jet
