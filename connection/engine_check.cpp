#include "connection/engine_check.h"

#include <libpq-fe.h>

#include <QString>

#include "app/app_title.h"
#include "app/trap.h"
#include "db/session.h"

namespace connection {

namespace {

const char* const kProviderMissing = "Provider cannot be found. It may not be properly installed.";

// The PostgreSQL side of a connection object: the client library is loaded
// and tells its version.
void requirePostgreSQLClient() {
    if (PQlibVersion() <= 0) throw db::Error(3706, kProviderMissing);
}

bool isProviderMissing(const app::Failure& failure) {
    return failure.number == 3706 ||
           QString::fromStdString(failure.description).contains(QStringLiteral("provider cannot be found"),
                                                                 Qt::CaseInsensitive);
}

} // namespace

std::string engineMissingText() {
    const char* const paragraphs[] = {
        "Error #3706: Provider cannot be found. It may not be properly installed.",
        "You are getting this error because:",
        "1. Microsoft Access is not installed on your computer.",
        "2. A set of Microsoft components to transfer data is not installed on your computer.",
        "You need to download and install Microsoft Access Database Engine 2010 or 2016 to solve this problem.",
        "Would you like me to open the Microsoft site now so you can do this?",
    };
    std::string text;
    for (const char* p : paragraphs) text += std::string(p) + "\r\n\r\n";
    return text + "(If you have any further questions please email a screenshot of this error message to " +
           app::kSupportAddress + ")";
}

bool CheckDatabaseEngine(ui::Dialogs& dialogs, const app::Services& services) {
    // Every statement runs with failures suppressed: a failure is recorded and
    // the next statement runs.
    app::Failure failure;
    bool failed = false;
    auto attempt = [&](auto&& statement) {
        try {
            statement();
        } catch (...) {
            failure = app::describe(std::current_exception());
            failed = true;
        }
    };
    std::unique_ptr<db::Connection> connection;
    attempt([&] {
        connection = db::createConnection();
        requirePostgreSQLClient();
    });
    if (!failed) return true;
    if (isProviderMissing(failure)) {
        int answer = ui::AnswerNo;
        attempt([&] { answer = dialogs.question(engineMissingText()); });
        if (answer == ui::AnswerYes) {
            attempt([&] { services.openWebPage(kEngineDownload2010); });
            attempt([&] { services.openWebPage(kEngineDownload2016); });
        }
    }
    return false;
}

} // namespace connection
