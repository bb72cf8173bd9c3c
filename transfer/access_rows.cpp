#include "transfer/access_rows.h"

#include "db/access_session.h"
#include "transfer/helpers.h"
#include "transfer/statements.h"

namespace transfer {

AccessRows::AccessRows(db::Connection& access, const std::string& table, int columns, std::string& sql)
    : access_(access), engine_(dynamic_cast<db::AccessBackend*>(&access.backend())), table_(table), sql_(sql),
      reading_(std::size_t(columns)), current_(std::size_t(columns)) {
    // INSERT INTO `table` VALUES(...) as the parser reads it: every column in table order, each value a text
    // literal, or NULL for the empty text.
    insert_.table = table;
    insert_.values.resize(std::size_t(columns));
}

void AccessRows::taken() {
    current_.swap(reading_);
    textMade_ = false;
}

void AccessRows::statement() {
    if (textMade_) return;
    sql_ = buildAccessInsert(table_, current_);
    textMade_ = true;
}

void AccessRows::insert() {
    if (!engine_) {
        statement();
        ExecuteSql(access_, sql_);
    } else {
        // The values are lent to the statement and taken back, whatever happens.
        for (std::size_t c = 0; c < current_.size(); ++c) {
            jet::sql::Literal& literal = insert_.values[c];
            literal.kind = current_[c].empty() ? jet::sql::Literal::Kind::Null : jet::sql::Literal::Kind::Text;
            literal.text.swap(current_[c]);
        }
        struct GiveBack {
            AccessRows& rows;
            ~GiveBack() {
                for (std::size_t c = 0; c < rows.current_.size(); ++c) rows.current_[c].swap(rows.insert_.values[c].text);
            }
        } giveBack{*this};
        engine_->insert(insert_);
    }
    if (batchOpen_) {
        // Kept for running again; the rows of earlier batches are overwritten, their buffers reused.
        if (batchRows_ == batch_.size()) batch_.emplace_back();
        batch_[batchRows_++] = current_;
    }
}

void AccessRows::beginBatch() {
    if (!engine_) return;
    try {
        engine_->beginBatch();
        batchOpen_ = true;
    } catch (...) {
        batchOpen_ = false; // rows then go one by one
    }
}

bool AccessRows::batchFull() const {
    return batchOpen_ && (batchRows_ >= kBatchRows || engine_->batchPages() >= kBatchPages);
}

std::vector<std::vector<std::string>> AccessRows::commitBatch() {
    if (!batchOpen_) return {};
    batchOpen_ = false;
    std::vector<std::vector<std::string>> again;
    try {
        engine_->commitBatch();
    } catch (...) {
        again.assign(batch_.begin(), batch_.begin() + std::ptrdiff_t(batchRows_));
    }
    batchRows_ = 0;
    return again;
}

void AccessRows::runAgain(const std::vector<std::string>& values) {
    sql_ = buildAccessInsert(table_, values);
    textMade_ = true;
    ExecuteSql(access_, sql_);
}

} // namespace transfer
