#pragma once
// Rows into one Access table written to the file a batch at a time (the
// Access engine's batches, jet::Writer::beginBatch).
#include <cstddef>
#include <vector>

#include "db/access_session.h"

namespace transfer {

// Each INSERT of a batch still succeeds or fails on its own, but the file is written once per batch instead of
// once per row. The batch keeps, for each row stored, what is needed to run it again (`Item`: its statement
// text, or its values): when writing a batch fails (a full disk), the file is as before the batch and those
// items are handed back to be run one by one, so that each row is stored, or reported and counted, as a single
// INSERT would be. The items' buffers are reused from batch to batch.
template <class Item>
class AccessBatch {
public:
    static constexpr std::size_t kRows = 1000;
    static constexpr std::size_t kPages = 4096; // 16 MiB of 4 KiB pages: wide rows end a batch sooner

    // `backend` null (a connection that is not the Access engine): no batch ever opens, rows go one by one.
    explicit AccessBatch(db::AccessBackend* backend) : backend_(backend) {}

    void begin()
    {
        if (!backend_)
            return;
        try {
            backend_->beginBatch();
            open_ = true;
        } catch (...) {
            open_ = false; // rows then go one by one
        }
    }
    bool open() const { return open_; }
    // Keeps the item of a row just stored in the open batch.
    void stored(const Item& item)
    {
        if (!open_)
            return;
        if (rows_ == items_.size())
            items_.emplace_back();
        items_[rows_++] = item;
    }
    bool full() const { return open_ && (rows_ >= kRows || backend_->batchPages() >= kPages); }

    // Writes the batch; returns the items to run again when that failed.
    std::vector<Item> commit()
    {
        if (!open_)
            return {};
        open_ = false;
        std::vector<Item> again;
        try {
            backend_->commitBatch();
        } catch (...) {
            again.assign(items_.begin(), items_.begin() + std::ptrdiff_t(rows_));
        }
        rows_ = 0;
        return again;
    }

private:
    db::AccessBackend* backend_;
    bool open_ = false;
    std::vector<Item> items_; // the first rows_ are the open batch's
    std::size_t rows_ = 0;
};

} // namespace transfer
