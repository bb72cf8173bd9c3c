#include "db/postgresql.h"

#include "db/pg_connect_failure.h"
#include "db/pg_session.h"
#include "db/session.h"

namespace db {

std::string PostgreSQLConnectionString(const ConnectionParameters& p) {
    return "Driver={PostgreSQL Unicode};Server=" + odbcQuoteValue(p.server) + ";Port=" + odbcQuoteValue(p.port) +
           ";Uid=" + odbcQuoteValue(p.user) + ";Pwd=" + odbcQuoteValue(p.password) +
           ";Database=" + odbcQuoteValue(p.database);
}

bool TestPostgreSQLConnection(const ParameterSource& parameters) {
    return PostgreSQLConnectionProblem(parameters).empty();
}

std::string PostgreSQLConnectionProblem(const ParameterSource& parameters) {
    const auto connection = createConnection(); // not covered by the local trap
    try {
        connection->open(PostgreSQLConnectionString(parameters()));
        return {}; // releasing the connection ends it
    } catch (const std::exception& e) {
        // The caller alone decides what the user sees.
        const std::string reason = connectionFailureReason(e.what(), pgConnectTimeoutSeconds());
        return reason.empty() ? "The connection did not open." : reason;
    } catch (...) {
        return "The connection did not open.";
    }
}

void FillPostgreSQLTableList(ui::ListBox& list, const ParameterSource& parameters, ui::Dialogs& dialogs) {
    const auto connection = createConnection();
    connection->setCursorLocation(3);
    connection->open(PostgreSQLConnectionString(parameters()));
    auto records = connection->execute("select tablename from pg_tables;");
    if (!records) throw Error(3704, "Operation is not allowed when the object is closed.");
    list.clear();
    const int count = int(records->recordCount());
    for (int i = 1; i <= count; ++i) {
        dialogs.processEvents();
        list.addItem(records->value(0).toText());
        records->moveNext();
    }
    records->close();
    connection->close();
}

} // namespace db
