#pragma once
// INSERT statements into one Access table written to the file a batch at a time
// (the Access engine's batches, jet::Writer::beginBatch), for the full-schema
// transfer to Access, whose values keep the empty text apart from Null.
#include <string>
#include <vector>

#include "db/access_session.h"
#include "db/session.h"

namespace transfer {

// Rows for one Access table, written to the file a batch at a time: each INSERT still succeeds or fails on
// its own, but the file is written once per batch instead of once per row. When writing a batch fails
// (a full disk), the file is as before the batch and its statements are handed back to be run one by one,
// so that each row is stored, or reported and counted, as a single INSERT would be.
class RowBatch {
public:
    static constexpr std::size_t kRows = 1000;
    static constexpr std::size_t kPages = 4096; // 16 MiB of 4 KiB pages: wide rows end a batch sooner

    explicit RowBatch(db::Connection& access) : backend_(dynamic_cast<db::AccessBackend*>(&access.backend())) {}

    void begin() {
        if (!backend_) return;
        try {
            backend_->beginBatch();
            open_ = true;
        } catch (...) {
            open_ = false; // rows then go one by one
        }
    }
    void stored(const std::string& sql) {
        if (open_) statements_.push_back(sql);
    }
    bool full() const { return open_ && (statements_.size() >= kRows || backend_->batchPages() >= kPages); }

    // Writes the batch; returns the statements to run again when that failed.
    std::vector<std::string> commit() {
        if (!open_) return {};
        open_ = false;
        std::vector<std::string> again;
        try {
            backend_->commitBatch();
        } catch (...) {
            again = std::move(statements_);
        }
        statements_.clear();
        return again;
    }

private:
    db::AccessBackend* backend_;
    bool open_ = false;
    std::vector<std::string> statements_;
};

} // namespace transfer
