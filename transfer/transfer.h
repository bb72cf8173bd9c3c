#pragma once
#include "app/context.h"

// The two transfers with what they did, for callers that need more than the
// page shows (the command line's exit status, tests).
namespace transfer {

struct TransferSummary {
    bool ran = false;            // false: nothing selected, or another operation was running
    bool sessionsOpened = false; // false: a database could not be opened (reported once)
    int tablesSent = 0;          // created on the target (their rows may have failed in part)
    int tablesFailed = 0;        // refused name, source not readable, CREATE TABLE failed
    int tablesSkipped = 0;       // the overwrite question answered No
    long long rowsSent = 0;
    long long rowsFailed = 0;
    bool stopped = false;        // ended early because the window is closing

    bool complete() const { return sessionsOpened && tablesFailed == 0 && rowsFailed == 0; }
};

// The click handlers of "Send Table/s To PostgreSQL" and "Send Table/s To Access".
TransferSummary sendTablesToPostgreSQL(app::TableManagerContext& page);
TransferSummary sendTablesToAccess(app::TableManagerContext& page);

// Rows per COPY batch (one transaction each) and the most bytes of COPY data
// held at once.
struct CopyLimits {
    int batchRows = 20000;
    std::size_t chunkBytes = 1 << 18;
};
void setCopyLimits(CopyLimits limits); // for tests: small batches
CopyLimits copyLimits();

// "3 rows of the table Orders could not be sent." — the message at the end of
// a table whose rows failed in part.
std::string failedRowsMessage(long long failed, long long total, const std::string& table);

} // namespace transfer
