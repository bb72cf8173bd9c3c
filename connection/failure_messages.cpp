#include "connection/failure_messages.h"

#include "db/pg_connect_failure.h"
#include "db/pg_session.h"

namespace connection {

namespace {
std::string withReason(const std::string& first, const std::string& reason) {
    return reason.empty() ? first : first + "\r\n" + reason;
}
} // namespace

std::string couldNotConnectText(const std::string& failureDescription) {
    return withReason(kCouldNotConnect, db::connectionFailureReason(failureDescription, db::pgConnectTimeoutSeconds()));
}

std::string accessFileMissingText(const std::string& path) {
    if (path.empty())
        return "No Access database is chosen: choose its file with \"...\" or \"Load Sample/Example Database\".";
    return "The Access database file \"" + path + "\" does not exist.";
}

std::string postgreSQLNotOpenText(const std::string& reason) {
    return withReason("Could not connect to the PostgreSQL database.", reason);
}

} // namespace connection
