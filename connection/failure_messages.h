#pragma once
// The messages that say why the ConnectionPage could not go on: "Test
// Connection" when the server does not let it in, "Next >" when the Access
// file is missing or PostgreSQL does not open. Texts only; the handlers show them.
#include <string>

namespace connection {

inline const std::string kCouldNotConnect = "Could not connect. Please check with your administrator.";

// "Test Connection": the sentence above, and on the next line the reason in
// plain words (db::connectionFailureReason of the failure's description).
std::string couldNotConnectText(const std::string& failureDescription);

// "Next >" with an Access file field that names no existing file.
std::string accessFileMissingText(const std::string& path);

// "Next >" when PostgreSQL does not open; `reason` as PostgreSQLConnectionProblem gives it.
std::string postgreSQLNotOpenText(const std::string& reason);

} // namespace connection
