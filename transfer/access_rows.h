#pragma once
#include <string>
#include <vector>

#include "db/session.h"
#include "jet/sql.h"
#include "transfer/access_batch.h"

namespace transfer {

// The rows of one table on their way into the Access file, each stored as its
// INSERT statement (buildAccessInsert) would store it: the same values, checks
// and errors. Against the Access engine the statement goes in parsed form, and
// its text is made only when something shows it (a report, a row run again);
// against any other engine the text is made and run as before.
//
// The rows reach the file in batches written together: each INSERT still
// succeeds or fails on its own, but the file is written once per batch. When
// writing a batch fails (a full disk), the file is as before the batch and its
// rows are handed back to be run one by one, so that each row is stored, or
// reported and counted, as a single INSERT would be.
class AccessRows {
public:
    // `sql` is the handler's statement in hand; it holds this table's INSERT
    // text whenever statement() was called after the last row.
    AccessRows(db::Connection& access, const std::string& table, int columns, std::string& sql);

    // The values of the next row, read into here ("" stands for Null); the
    // statement in hand stays the previous one until taken().
    std::vector<std::string>& reading() { return reading_; }
    // The row read becomes the statement in hand.
    void taken();
    const std::vector<std::string>& values() const { return current_; }
    // Stores the statement in hand; throws what its INSERT would throw.
    void insert();
    // Makes the text of the statement in hand (into `sql`) if it is not there yet.
    void statement();

    void beginBatch();
    bool batchFull() const;
    // Writes the batch; returns the rows to run again, one by one, when that failed.
    std::vector<std::vector<std::string>> commitBatch();
    // Runs one row again as its INSERT text (the text is in `sql` afterwards).
    void runAgain(const std::vector<std::string>& values);

private:
    db::Connection& access_;
    db::AccessBackend* engine_; // null when the connection is not the Access engine
    std::string table_;
    std::string& sql_;
    std::vector<std::string> reading_, current_;
    bool textMade_ = true; // `sql_` holds the statement in hand
    jet::sql::Insert insert_;
    AccessBatch<std::vector<std::string>> batch_;
};

} // namespace transfer
