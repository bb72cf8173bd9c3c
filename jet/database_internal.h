// The state of an open database and its tables, shared by database.cpp and database_complex.cpp.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "jet/database.h"
#include "jet/header.h"
#include "jet/page_source.h"
#include "jet/row.h"
#include "jet/text.h"
#include "jet/usage_map.h"

namespace jet {

// Lower-cases the letters Access treats case-insensitively in names (ASCII,
// Latin-1, Latin Extended-A, Greek, Cyrillic). Works on UTF-8.
std::string foldName(std::string_view s);
bool nameEquals(std::string_view a, std::string_view b);
std::string contextDescription(const std::string& path, const std::string& table, RowPointer at,
                               const std::string& detail);

// ===================================================================== database state

struct ComplexInfo {
    ComplexKind kind = ComplexKind::Unknown;
    std::uint32_t flatTable = 0;
    std::shared_ptr<const TableDef> flat;
    int fkCol = -1, pkCol = -1;            // indexes into flat->columns
    int valueCol = -1, modifiedCol = -1;   // multi-value / version history
    int nameCol = -1, typeCol = -1, dataCol = -1; // attachments
    bool indexed = false;
    std::unordered_map<std::int32_t, std::vector<RowPointer>> rows; // fk → rows in scan order
    std::string error;                     // set when the supporting tables cannot be read
};

struct DatabaseImpl {
    std::string path;
    std::unique_ptr<FilePageSource> src;
    HeaderInfo header;
    const FormatInfo* fmt = nullptr;
    TextDecoder text;
    std::vector<CatalogEntry> catalog;
    std::int32_t tablesContainer = 0;
    bool haveTablesContainer = false;

    std::map<std::uint32_t, std::shared_ptr<const TableDef>> tdefs;
    bool complexColumnsLoaded = false;
    struct ComplexColumnRow {
        std::int32_t conceptualTable = 0, flatTable = 0, typeObject = 0;
        std::string columnName;
    };
    std::unordered_map<std::int32_t, ComplexColumnRow> complexColumns;
    std::map<std::uint32_t, std::shared_ptr<ComplexInfo>> complexInfos;

    std::shared_ptr<const TableDef> tableDef(std::uint32_t page) {
        auto it = tdefs.find(page);
        if (it != tdefs.end()) return it->second;
        std::vector<std::uint32_t> chain;
        auto buf = readTdefBuffer(*src, *fmt, page, &chain);
        auto def = std::make_shared<TableDef>(parseTableDef(buf, *fmt, text, page, path));
        def->pages = std::move(chain);
        applyResultTypes(*def);
        tdefs.emplace(page, def);
        return def;
    }

    std::vector<PropertyMap> properties(const CatalogEntry& e);
    // Calculated columns store their result type in the column's ResultType property.
    void applyResultTypes(TableDef& def) {
        bool any = false;
        for (const auto& c : def.columns)
            if (c.calculated()) any = true;
        if (!any) return;
        const CatalogEntry* entry = nullptr;
        for (const auto& e : catalog)
            if (e.type == 1 && e.tdefPage == def.page) entry = &e;
        if (!entry) return;
        std::vector<PropertyMap> maps;
        try {
            maps = properties(*entry);
        } catch (const Error&) {
            return; // without properties the stored type stands
        }
        for (auto& c : def.columns) {
            if (!c.calculated()) continue;
            for (const auto& m : maps) {
                if (m.name.empty() || foldName(m.name) != foldName(c.name)) continue;
                if (const Property* p = m.find("ResultType"); p && !p->data.empty()) c.type = p->data[0];
            }
        }
    }

    const CatalogEntry* findById(std::int32_t id) const {
        for (const auto& e : catalog)
            if (e.id == id) return &e;
        return nullptr;
    }

    void loadComplexColumns();
    std::shared_ptr<ComplexInfo> complexInfo(std::uint32_t complexId, std::uint32_t ownerTable);
    void indexComplex(ComplexInfo& info);
};

// ===================================================================== row scanning core

// Iterates the live rows of one table: pages of the owned usage map, slots in order,
// deleted rows skipped, overflow rows followed.
class RowScanner {
public:
    RowScanner(DatabaseImpl& db, const TableDef& def, std::string tableName)
        : db_(db), def_(def), name_(std::move(tableName)) {}

    void reset() {
        started_ = false;
        done_ = false;
        seg_ = 0;
        bit_ = 0;
        slot_ = 0;
        slotCount_ = 0;
        havePage_ = false;
    }

    // Advances to the next live row; returns its bytes via `row`/`at`.
    bool next(std::span<const std::uint8_t>& row, RowPointer& at) {
        if (done_) return false;
        if (!started_) {
            map_ = UsageMap::read(*db_.src, *db_.fmt, def_.ownedMap);
            started_ = true;
        }
        for (;;) {
            if (!havePage_ || slot_ >= slotCount_) {
                if (!nextPage()) {
                    done_ = true;
                    return false;
                }
                continue;
            }
            // Fetched again on every row: values decoded between two calls may have
            // loaded other pages (a decoding source keeps only a window of pages).
            page_ = db_.src->page(pageNo_);
            unsigned i = slot_++;
            RowSlot s;
            if (!dataPageSlot(page_, *db_.fmt, i, s))
                throw Error(errc::CorruptDatabase,
                            contextDescription(db_.path, name_, {pageNo_, static_cast<std::uint8_t>(i)},
                                               "the row's offsets on its page are impossible"));
            if (s.deleted()) continue;
            if (s.overflow()) {
                RowPointer target{pageNo_, static_cast<std::uint8_t>(i)};
                auto bytes = page_.subspan(s.start, static_cast<std::size_t>(s.end - s.start));
                for (int hop = 0;; ++hop) {
                    if (bytes.size() < 4 || hop > 8)
                        throw Error(errc::CorruptDatabase,
                                    contextDescription(db_.path, name_, target, "broken overflow row pointer"));
                    target = RowPointer::fromU32(readU32(bytes.data()));
                    auto tp = db_.src->page(target.page);
                    if (tp[0] != page_type::Data)
                        throw Error(errc::CorruptDatabase,
                                    contextDescription(db_.path, name_, target,
                                                       "overflow row pointer leads to a page that is not a data page"));
                    RowSlot ts;
                    if (!dataPageSlot(tp, *db_.fmt, target.row, ts))
                        throw Error(errc::CorruptDatabase,
                                    contextDescription(db_.path, name_, target,
                                                       "overflow row pointer leads to a missing row"));
                    bytes = tp.subspan(ts.start, static_cast<std::size_t>(ts.end - ts.start));
                    if (ts.overflow() && !ts.deleted()) continue; // a pointer again
                    break;
                }
                row = copy(bytes);
                at = target;
                return true;
            }
            row = copy(page_.subspan(s.start, static_cast<std::size_t>(s.end - s.start)));
            at = {pageNo_, static_cast<std::uint8_t>(i)};
            return true;
        }
    }

    // Counts live rows without decoding them.
    std::uint64_t count() {
        reset();
        map_ = UsageMap::read(*db_.src, *db_.fmt, def_.ownedMap);
        started_ = true;
        std::uint64_t n = 0;
        while (nextPage()) {
            for (unsigned i = 0; i < slotCount_; ++i) {
                RowSlot s;
                if (!dataPageSlot(page_, *db_.fmt, i, s))
                    throw Error(errc::CorruptDatabase,
                                contextDescription(db_.path, name_, {pageNo_, static_cast<std::uint8_t>(i)},
                                                   "the row's offsets on its page are impossible"));
                if (!s.deleted()) ++n;
            }
        }
        reset();
        return n;
    }

private:
    // Rows are handed out as copies, so that they outlive any page window.
    std::span<const std::uint8_t> copy(std::span<const std::uint8_t> b) {
        rowCopy_.assign(b.begin(), b.end());
        return {rowCopy_.data(), rowCopy_.size()};
    }

    bool nextPage() {
        havePage_ = false;
        const auto& segs = map_.segments();
        while (seg_ < segs.size()) {
            const auto& s = segs[seg_];
            const std::uint64_t nbits = static_cast<std::uint64_t>(s.bits.size()) * 8;
            while (bit_ < nbits) {
                std::uint64_t b = bit_++;
                if (!(s.bits[b / 8] & (1u << (b % 8)))) {
                    if ((b % 8) == 0 && s.bits[b / 8] == 0) bit_ = b + 8; // skip empty bytes
                    continue;
                }
                std::uint64_t pg = static_cast<std::uint64_t>(s.firstPage) + b;
                if (pg >= db_.src->pageCount())
                    throw Error(errc::CorruptDatabase,
                                contextDescription(db_.path, name_, {},
                                                   "its usage map names page " + std::to_string(pg) +
                                                       ", beyond the end of the file (" +
                                                       std::to_string(db_.src->pageCount()) +
                                                       " pages; the file may be truncated)"));
                auto p = db_.src->page(static_cast<std::uint32_t>(pg));
                // Only data pages of this table hold its rows; maps may name stale pages.
                if (p[0] != page_type::Data || readU32(p.data() + db_.fmt->dataOwner) != def_.page) continue;
                page_ = p;
                pageNo_ = static_cast<std::uint32_t>(pg);
                slot_ = 0;
                slotCount_ = dataPageSlotCount(p, *db_.fmt);
                havePage_ = true;
                return true;
            }
            ++seg_;
            bit_ = 0;
        }
        return false;
    }

    DatabaseImpl& db_;
    const TableDef& def_;
    std::string name_;
    UsageMap map_;
    bool started_ = false, done_ = false, havePage_ = false;
    std::size_t seg_ = 0;
    std::uint64_t bit_ = 0;
    std::span<const std::uint8_t> page_;
    std::vector<std::uint8_t> rowCopy_;
    std::uint32_t pageNo_ = 0;
    unsigned slot_ = 0, slotCount_ = 0;
};

// Decodes one column of a parsed row (everything except complex expansion).
void decodeColumn(DatabaseImpl& db, const RowView& row, const ColumnDef& col, Value& out,
                  std::vector<std::uint8_t>& lvBuf);

struct Table::Impl {
    std::shared_ptr<DatabaseImpl> db;
    std::string name;
    std::shared_ptr<const TableDef> def;
    std::vector<Column> columns;
    std::unique_ptr<RowScanner> scanner;
    bool onRow = false;
    RowView row;
    RowPointer at;
    mutable std::vector<std::uint8_t> lvBuf;
    mutable std::vector<std::shared_ptr<ComplexInfo>> complex; // per column, lazily

    [[noreturn]] void fail(const std::string& detail) const {
        throw Error(errc::CorruptDatabase, contextDescription(db->path, name, at, detail));
    }

    void expandComplex(std::size_t i, std::int32_t key, Value& out) const;
};

} // namespace jet
