#include "cli/pg_target.h"

#include <cstdlib>
#include <libpq-fe.h>
#include <memory>
#include <stdexcept>

#include "db/error.h"
#include "db/pg_connect_failure.h"
#include "db/pg_session.h"
#include "db/postgresql.h"
#include "db/session.h"

namespace cli {

db::ConnectionParameters parametersFromConninfo(const std::string& conninfo) {
    char* error = nullptr;
    std::unique_ptr<PQconninfoOption, decltype(&PQconninfoFree)> options(PQconninfoParse(conninfo.c_str(), &error),
                                                                         &PQconninfoFree);
    if (!options) {
        std::string reason = error ? error : "cannot be read";
        if (error) PQfreemem(error);
        while (!reason.empty() && (reason.back() == '\n' || reason.back() == ' ')) reason.pop_back();
        throw std::runtime_error("CONNINFO: " + reason);
    }
    db::ConnectionParameters p;
    for (PQconninfoOption* o = options.get(); o->keyword; ++o) {
        if (!o->val || !*o->val) continue;
        const std::string keyword = o->keyword, value = o->val;
        if (keyword == "password")
            throw std::runtime_error("a password does not belong on the command line; use PGPASSWORD or ~/.pgpass");
        if (keyword == "host" || keyword == "hostaddr")
            p.server = value;
        else if (keyword == "port")
            p.port = value;
        else if (keyword == "user")
            p.user = value;
        else if (keyword == "dbname")
            p.database = value;
        else if (o->envvar)
            ::setenv(o->envvar, value.c_str(), 1);
    }
    return p;
}

std::vector<std::string> postgresUserTables(const db::ConnectionParameters& parameters) {
    auto connection = db::createConnection();
    try {
        connection->open(db::PostgreSQLConnectionString(parameters));
    } catch (const db::Error& e) {
        // The same plain reason the ConnectionPage gives.
        throw std::runtime_error(db::connectionFailureReason(e.description(), db::pgConnectTimeoutSeconds()));
    }
    auto rs = connection->execute(
        "SELECT c.relname::text FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace "
        "WHERE c.relkind IN ('r', 'p') AND n.nspname = ANY (current_schemas(false)) ORDER BY 1");
    std::vector<std::string> names;
    if (rs)
        for (; !rs->eof(); rs->moveNext()) names.push_back(rs->value(0).toText());
    connection->close();
    return names;
}

} // namespace cli
