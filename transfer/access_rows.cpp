#include "transfer/access_rows.h"

#include "db/access_session.h"
#include "transfer/helpers.h"
#include "transfer/statements.h"

namespace transfer {

AccessRows::AccessRows(db::Connection& access, const std::string& table, int columns, std::string& sql)
    : access_(access), engine_(dynamic_cast<db::AccessBackend*>(&access.backend())), table_(table), sql_(sql),
      reading_(std::size_t(columns)), current_(std::size_t(columns)), batch_(engine_) {
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
    batch_.stored(current_); // kept for running again, in buffers reused from batch to batch
}

void AccessRows::beginBatch() { batch_.begin(); }

bool AccessRows::batchFull() const { return batch_.full(); }

std::vector<std::vector<std::string>> AccessRows::commitBatch() { return batch_.commit(); }

void AccessRows::runAgain(const std::vector<std::string>& values) {
    sql_ = buildAccessInsert(table_, values);
    textMade_ = true;
    ExecuteSql(access_, sql_);
}

} // namespace transfer
