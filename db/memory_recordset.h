#pragma once
#include <utility>
#include <vector>

#include "db/session.h"

namespace db {

// A record set whose rows are held in memory (catalogue rowsets and the like).
class MemoryRecordset : public Recordset {
public:
    explicit MemoryRecordset(std::vector<FieldInfo> fields) : fields_(std::move(fields)) {}
    void addRow(std::vector<Variant> row) { rows_.push_back(std::move(row)); }

    int fieldCount() const override { return int(fields_.size()); }
    const FieldInfo& field(int i) const override {
        check(i);
        return fields_[std::size_t(i)];
    }
    const Variant& value(int i) const override {
        check(i);
        if (eof()) throw Error(3021, "Either BOF or EOF is True, or the current record has been deleted. "
                                     "Requested operation requires a current record.");
        return rows_[position_][std::size_t(i)];
    }
    long long recordCount() const override { return (long long)rows_.size(); }
    bool eof() const override { return closed_ || position_ >= rows_.size(); }
    void moveNext() override {
        if (eof()) throw Error(3021, "Either BOF or EOF is True, or the current record has been deleted. "
                                     "Requested operation requires a current record.");
        ++position_;
    }
    void close() override { closed_ = true; }

private:
    void check(int i) const {
        if (i < 0 || i >= int(fields_.size()))
            throw Error(3265, "Item cannot be found in the collection corresponding to the requested name or ordinal.");
    }
    std::vector<FieldInfo> fields_;
    std::vector<std::vector<Variant>> rows_;
    std::size_t position_ = 0;
    bool closed_ = false;
};

} // namespace db
