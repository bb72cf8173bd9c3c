#include "jet/database.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <unordered_map>

#include "jet/codec.h"
#include "jet/codec.h"
#include "jet/header.h"
#include "jet/index_key.h"
#include "jet/inflate.h"
#include "jet/page_source.h"
#include "jet/row.h"
#include "jet/text.h"
#include "jet/usage_map.h"

namespace jet {

// ===================================================================== helpers

namespace {

// Lower-cases the letters Access treats case-insensitively in names (ASCII,
// Latin-1, Latin Extended-A, Greek, Cyrillic). Works on UTF-8.
std::string foldName(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    std::size_t i = 0;
    while (i < s.size()) {
        auto c = static_cast<unsigned char>(s[i]);
        std::uint32_t cp = c;
        std::size_t len = 1;
        if (c >= 0xC0 && c < 0xE0 && i + 1 < s.size()) {
            cp = ((c & 0x1Fu) << 6) | (static_cast<unsigned char>(s[i + 1]) & 0x3Fu);
            len = 2;
        } else if (c >= 0xE0 && c < 0xF0 && i + 2 < s.size()) {
            cp = ((c & 0x0Fu) << 12) | ((static_cast<unsigned char>(s[i + 1]) & 0x3Fu) << 6) |
                 (static_cast<unsigned char>(s[i + 2]) & 0x3Fu);
            len = 3;
        } else if (c >= 0xF0) {
            out.append(s.substr(i, 4));
            i += 4;
            continue;
        }
        if (cp >= 'A' && cp <= 'Z') cp += 32;
        else if (cp >= 0xC0 && cp <= 0xDE && cp != 0xD7) cp += 32;
        else if (cp >= 0x100 && cp <= 0x17F && cp != 0x130 && cp != 0x131 && cp != 0x138 && cp != 0x149 &&
                 cp != 0x17F) {
            bool oddUpper = (cp >= 0x139 && cp <= 0x148) || (cp >= 0x179 && cp <= 0x17E);
            if (oddUpper) {
                if (cp % 2 == 1) ++cp;
            } else if (cp % 2 == 0) {
                ++cp;
            }
        } else if (cp >= 0x391 && cp <= 0x3AB && cp != 0x3A2) cp += 32;
        else if (cp >= 0x410 && cp <= 0x42F) cp += 32;
        else if (cp >= 0x400 && cp <= 0x40F) cp += 80;
        if (len == 1 && cp < 0x80) out += static_cast<char>(cp);
        else appendUtf8(out, cp);
        i += len;
    }
    return out;
}

bool nameEquals(std::string_view a, std::string_view b) { return foldName(a) == foldName(b); }

// What decides whether a name given by the user is an object's name: its key in the sort order of the
// catalogue, as the file's own name index compares names (case ignored, accents kept, hiragana and katakana
// alike); names without such a key fall back to the lower-cased text. The writer compares names the same way.
std::string lookupKey(std::string_view name, SortOrder order) {
    try {
        const std::u16string n = utf8ToUtf16(name);
        char16_t bad = 0;
        if (canKeyText(n, order, bad)) {
            std::vector<std::uint8_t> key;
            appendTextKey(key, n, order, true);
            return "K" + std::string(key.begin(), key.end());
        }
    } catch (const std::exception&) {  // not UTF-8: compare the text as it is
    }
    return "F" + foldName(name);
}

// The sort order of the catalogue's names: Access 97's own, or one of the two LCID 1033 orders by the header's
// sort version. Files of other locales are compared as in "General", the closest order the engine knows.
SortOrder nameOrder(const HeaderInfo& h) {
    if (h.format == Format::Jet3) return SortOrder::General97;
    const bool us = h.sortOrder == 0x0409 || h.sortOrder == 0;
    return us && h.sortVersion == 0 ? SortOrder::GeneralLegacy : SortOrder::General;
}

std::string contextDescription(const std::string& path, const std::string& table, RowPointer at,
                               const std::string& detail) {
    std::string where = "table '" + table + "'";
    if (at.page) where += ", page " + std::to_string(at.page) + " row " + std::to_string(at.row);
    return corruptDescription(path, where + ": " + detail);
}

} // namespace

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
                  std::vector<std::uint8_t>& lvBuf) {
    const auto type = static_cast<ColumnType>(col.type);
    if (type == ColumnType::Boolean && !col.calculated()) {
        out = row.present(col);
        return;
    }
    if (!row.present(col)) {
        out = std::monostate{};
        return;
    }
    auto cell = row.cell(col);
    if (col.isLongValue()) {
        if (cell.empty()) {
            if (type == ColumnType::Memo) {
                if (!std::holds_alternative<std::string>(out)) out.emplace<std::string>();
                std::get<std::string>(out).clear();
            } else {
                out = Bytes{};
            }
            return;
        }
        readLongValue(*db.src, *db.fmt, cell, lvBuf);
        std::span<const std::uint8_t> data(lvBuf);
        if (col.calculated()) data = unwrapCalculated(data);
        if (type == ColumnType::Memo) {
            if (!std::holds_alternative<std::string>(out)) out.emplace<std::string>();
            auto& s = std::get<std::string>(out);
            s.clear();
            db.text.decode(data.data(), data.size(), s);
        } else {
            if (!std::holds_alternative<Bytes>(out)) out.emplace<Bytes>();
            std::get<Bytes>(out).assign(data.begin(), data.end());
        }
        return;
    }
    decodeCell(col, cell, db.text, out);
}

// ===================================================================== complex columns

void DatabaseImpl::loadComplexColumns() {
    if (complexColumnsLoaded) return;
    complexColumnsLoaded = true;
    const CatalogEntry* e = nullptr;
    for (const auto& c : catalog)
        if (c.type == 1 && nameEquals(c.name, "MSysComplexColumns")) e = &c;
    if (!e) return;
    auto def = tableDef(e->tdefPage);
    auto find = [&](const char* n) -> const ColumnDef* {
        for (const auto& c : def->columns)
            if (nameEquals(c.name, n)) return &c;
        return nullptr;
    };
    const ColumnDef* cId = find("ComplexID");
    const ColumnDef* cTable = find("ConceptualTableID");
    const ColumnDef* cFlat = find("FlatTableID");
    const ColumnDef* cType = find("ComplexTypeObjectID");
    const ColumnDef* cName = find("ColumnName");
    if (!cId || !cTable || !cFlat || !cType) return;
    RowScanner scan(*this, *def, "MSysComplexColumns");
    std::span<const std::uint8_t> bytes;
    RowPointer at;
    RowView rv;
    std::vector<std::uint8_t> lv;
    Value v;
    while (scan.next(bytes, at)) {
        rv.parse(bytes.data(), bytes.size(), *def, *fmt);
        auto asInt = [&](const ColumnDef* c) -> std::int32_t {
            decodeColumn(*this, rv, *c, v, lv);
            if (auto* p = std::get_if<std::int32_t>(&v)) return *p;
            return 0;
        };
        ComplexColumnRow r;
        std::int32_t id = asInt(cId);
        r.conceptualTable = asInt(cTable);
        r.flatTable = asInt(cFlat);
        r.typeObject = asInt(cType);
        if (cName) {
            decodeColumn(*this, rv, *cName, v, lv);
            if (auto* s = std::get_if<std::string>(&v)) r.columnName = *s;
        }
        complexColumns[id] = r;
    }
}

std::shared_ptr<ComplexInfo> DatabaseImpl::complexInfo(std::uint32_t complexId, std::uint32_t ownerTable) {
    auto it = complexInfos.find(complexId);
    if (it != complexInfos.end()) return it->second;
    auto info = std::make_shared<ComplexInfo>();
    complexInfos[complexId] = info;
    try {
        loadComplexColumns();
        auto cc = complexColumns.find(static_cast<std::int32_t>(complexId));
        if (cc == complexColumns.end()) {
            info->error = "no MSysComplexColumns entry for complex id " + std::to_string(complexId);
            return info;
        }
        (void)ownerTable;
        const CatalogEntry* typeEntry = findById(cc->second.typeObject);
        const CatalogEntry* flatEntry = findById(cc->second.flatTable);
        if (!typeEntry || !flatEntry || typeEntry->type != 1 || flatEntry->type != 1) {
            info->error = "the supporting tables of complex id " + std::to_string(complexId) + " are missing";
            return info;
        }
        auto typeDef = tableDef(typeEntry->tdefPage);
        auto flat = tableDef(flatEntry->tdefPage);
        info->flat = flat;
        info->flatTable = flatEntry->tdefPage;
        // Kind from the type table's columns (as Access's own readers do).
        int nMemo = 0, nText = 0, nDate = 0, nOle = 0, nLong = 0;
        for (const auto& c : typeDef->columns) {
            switch (static_cast<ColumnType>(c.type)) {
            case ColumnType::Memo: ++nMemo; break;
            case ColumnType::Text: ++nText; break;
            case ColumnType::DateTime: ++nDate; break;
            case ColumnType::Ole: ++nOle; break;
            case ColumnType::Long: ++nLong; break;
            default: break;
            }
        }
        auto simple = [](std::uint8_t t) {
            switch (static_cast<ColumnType>(t)) {
            case ColumnType::Byte: case ColumnType::Integer: case ColumnType::Long: case ColumnType::Single:
            case ColumnType::Double: case ColumnType::Guid: case ColumnType::Numeric: case ColumnType::Text:
            case ColumnType::BigInt: return true;
            default: return false;
            }
        };
        if (typeDef->columns.size() == 1 && simple(typeDef->columns[0].type)) info->kind = ComplexKind::MultiValue;
        else if (typeDef->columns.size() >= 6 && nMemo >= 1 && nText >= 2 && nOle >= 1 && nDate >= 1 && nLong >= 1)
            info->kind = ComplexKind::Attachment;
        else if (typeDef->columns.size() >= 2 && nMemo >= 1 && nDate >= 1) info->kind = ComplexKind::VersionHistory;
        else info->kind = ComplexKind::Unknown;

        // Flat-table columns: value columns share names with the type table; of the
        // others the AutoNumber is the row key and the Long the foreign key.
        for (std::size_t i = 0; i < flat->columns.size(); ++i) {
            const auto& c = flat->columns[i];
            bool isType = false;
            for (const auto& t : typeDef->columns)
                if (nameEquals(t.name, c.name)) isType = true;
            if (!isType) {
                if (c.flags & col_flag::AutoLong) info->pkCol = static_cast<int>(i);
                else if (c.type == static_cast<std::uint8_t>(ColumnType::Long)) info->fkCol = static_cast<int>(i);
                continue;
            }
            const auto t = static_cast<ColumnType>(c.type);
            switch (info->kind) {
            case ComplexKind::MultiValue: info->valueCol = static_cast<int>(i); break;
            case ComplexKind::VersionHistory:
                if (t == ColumnType::Memo && info->valueCol < 0) info->valueCol = static_cast<int>(i);
                if (t == ColumnType::DateTime && info->modifiedCol < 0) info->modifiedCol = static_cast<int>(i);
                break;
            case ComplexKind::Attachment:
                if (nameEquals(c.name, "FileName")) info->nameCol = static_cast<int>(i);
                else if (nameEquals(c.name, "FileType")) info->typeCol = static_cast<int>(i);
                else if (nameEquals(c.name, "FileData")) info->dataCol = static_cast<int>(i);
                break;
            default: break;
            }
        }
        if (info->fkCol < 0) {
            info->error = "the flat table of complex id " + std::to_string(complexId) + " has no foreign key column";
            info->kind = ComplexKind::Unknown;
        }
    } catch (const Error& e) {
        info->error = e.what();
        info->kind = ComplexKind::Unknown;
    }
    return info;
}

void DatabaseImpl::indexComplex(ComplexInfo& info) {
    if (info.indexed) return;
    if (!info.flat || info.fkCol < 0) {
        info.indexed = true;
        return;
    }
    info.rows.clear();
    const TableDef& flat = *info.flat;
    RowScanner scan(*this, flat, "flat table " + std::to_string(info.flatTable));
    std::span<const std::uint8_t> bytes;
    RowPointer at;
    RowView rv;
    std::vector<std::uint8_t> lv;
    Value v;
    const ColumnDef& fk = flat.columns[static_cast<std::size_t>(info.fkCol)];
    while (scan.next(bytes, at)) {
        rv.parse(bytes.data(), bytes.size(), flat, *fmt);
        decodeColumn(*this, rv, fk, v, lv);
        if (auto* p = std::get_if<std::int32_t>(&v)) info.rows[*p].push_back(at);
    }
    info.indexed = true; // only once the whole flat table was read
}

namespace {

ScalarValue toScalar(Value&& v) {
    return std::visit(
        [](auto&& x) -> ScalarValue {
            using T = std::decay_t<decltype(x)>;
            if constexpr (std::is_same_v<T, Attachments> || std::is_same_v<T, MultiValues> ||
                          std::is_same_v<T, VersionHistory> || std::is_same_v<T, ComplexRef>)
                return std::monostate{};
            else
                return ScalarValue(std::move(x));
        },
        std::move(v));
}

Bytes decodeAttachmentData(const std::uint8_t* d, std::size_t n) {
    // Wrapper: u32 type (0 raw, 1 deflate/zlib), u32 length of the content; the content
    // starts with a u32 header length (including itself) then the file bytes.
    if (n < 8) throw Error(errc::CorruptDatabase, "attachment data shorter than its 8-byte wrapper");
    std::uint32_t type = readU32(d);
    std::uint32_t dataLen = readU32(d + 4);
    Bytes content;
    if (type == 0) {
        content.assign(d + 8, d + n);
    } else if (type == 1) {
        std::string err;
        // Deflate expands at most about 1032:1, and the wrapper says how long the content is.
        const std::size_t limit = std::min<std::size_t>(dataLen, (n - 8) * 1032) + 1024;
        if (!zlibInflate(d + 8, n - 8, content, limit, &err))
            throw Error(errc::CorruptDatabase, "attachment data cannot be inflated: " + err);
    } else {
        throw Error(errc::CorruptDatabase, "attachment data has unknown wrapper type " + std::to_string(type));
    }
    if (content.size() < 4) throw Error(errc::CorruptDatabase, "attachment content shorter than its header");
    std::uint32_t headerLen = readU32(content.data());
    std::size_t end = std::min<std::size_t>(dataLen, content.size());
    if (headerLen < 4 || headerLen > end)
        throw Error(errc::CorruptDatabase, "attachment content header length " + std::to_string(headerLen) +
                                               " is impossible");
    return Bytes(content.begin() + headerLen, content.begin() + static_cast<std::ptrdiff_t>(end));
}

} // namespace

// ===================================================================== Database

Database::~Database() = default;

namespace {

std::string schemaTypeFor(const CatalogEntry& e, bool parameterQuery) {
    const auto flags = static_cast<std::uint32_t>(e.flags);
    switch (e.type) {
    case 1:
        if (flags & 0x80000000u) return "SYSTEM TABLE";
        if (flags & 0x00000002u) return "ACCESS TABLE";
        return "TABLE";
    case 4: return "PASS-THROUGH";
    case 6: return "LINK";
    case 5:
        // Select queries without parameters are views; action, crosstab, union,
        // pass-through, data-definition and parameter queries are procedures.
        if ((flags & 0xF0u) == 0 && (flags & 0xFFFFFF00u) == 0 && !parameterQuery) return "VIEW";
        return "";
    default: return "";
    }
}

} // namespace

std::unique_ptr<Database> Database::open(const std::string& path, const OpenOptions& options) {
    return openSource(FilePageSource::open(path), path, options);
}

std::unique_ptr<Database> Database::openBytes(std::vector<std::uint8_t> bytes, const std::string& name,
                                              const OpenOptions& options) {
    return openSource(FilePageSource::fromMemory(std::move(bytes), name), name, options);
}

std::unique_ptr<Database> Database::openSource(std::unique_ptr<FilePageSource> source, const std::string& path,
                                               const OpenOptions& options) {
    auto impl = std::make_shared<DatabaseImpl>();
    impl->path = path;
    impl->src = std::move(source);
    auto bytes = impl->src->fileBytes();
    impl->header = parseHeader(bytes.subspan(0, std::min<std::size_t>(bytes.size(), 4096)), path);
    impl->fmt = &jet::formatInfo(impl->header.format);
    const FormatInfo& fmt = *impl->fmt;
    impl->src->setPageSize(fmt.pageSize);
    // Encrypted .accdb: pages n >= 1 are decrypted as they are read (jet/codec.h).
    // Wrong or missing password: 3031; an encryption we cannot read: 3251.
    if (impl->src->pageCount() < 3)
        throwCorrupt(path, "the file has only " + std::to_string(impl->src->pageCount()) +
                               " whole pages; it is truncated");
    // Page codec: Jet3/Jet4 RC4 page encoding, or the Office encryption of a password-
    // protected .accdb (jet/codec.h; a wrong or missing password is 3031 there).
    if (impl->header.encodingKey != 0) {
        auto codec = makePageCodec(impl->header.page, impl->header.format, options.password, path);
        if (codec) impl->src->setCodec(std::move(codec));
    }
    // Database password (Jet3/Jet4): a check, not encryption.
    if (impl->header.storedPassword != options.password && !impl->header.storedPassword.empty())
        throw Error(errc::NotValidPassword, "Not a valid password.");

    impl->text.unicode = fmt.unicodeText;
    // Jet3 text is in the database code page (header 0x3C); 0 means windows-1252.
    impl->text.codePage = impl->header.codePage ? impl->header.codePage : 1252;

    auto p2 = impl->src->page(2);
    if (p2[0] != page_type::TableDef)
        throwCorrupt(path, "page 2 should hold the definition of MSysObjects but has page type " +
                               std::to_string(p2[0]));

    std::unique_ptr<Database> db(new Database());
    db->impl_ = impl;

    // Catalogue
    auto def = impl->tableDef(2);
    auto col = [&](const char* n) -> const ColumnDef* {
        for (const auto& c : def->columns)
            if (nameEquals(c.name, n)) return &c;
        return nullptr;
    };
    const ColumnDef* cId = col("Id");
    const ColumnDef* cParent = col("ParentId");
    const ColumnDef* cName = col("Name");
    const ColumnDef* cType = col("Type");
    const ColumnDef* cFlags = col("Flags");
    const ColumnDef* cDb = col("Database");
    const ColumnDef* cConnect = col("Connect");
    const ColumnDef* cForeign = col("ForeignName");
    const ColumnDef* cCreate = col("DateCreate");
    const ColumnDef* cUpdate = col("DateUpdate");
    if (!cId || !cParent || !cName || !cType || !cFlags)
        throwCorrupt(path, "MSysObjects lacks one of its columns Id, ParentId, Name, Type, Flags");
    RowScanner scan(*impl, *def, "MSysObjects");
    std::span<const std::uint8_t> rowb;
    RowPointer at;
    RowView rv;
    std::vector<std::uint8_t> lv;
    Value v;
    try {
        while (scan.next(rowb, at)) {
            try {
                rv.parse(rowb.data(), rowb.size(), *def, fmt);
            } catch (const Error& e) {
                throw Error(errc::CorruptDatabase, contextDescription(path, "MSysObjects", at, e.what()));
            }
            CatalogEntry e;
            auto getInt = [&](const ColumnDef* c) -> std::int64_t {
                decodeColumn(*impl, rv, *c, v, lv);
                if (auto* p = std::get_if<std::int32_t>(&v)) return *p;
                if (auto* p = std::get_if<std::int16_t>(&v)) return *p;
                return 0;
            };
            auto getStr = [&](const ColumnDef* c) -> std::string {
                if (!c) return {};
                try {
                    decodeColumn(*impl, rv, *c, v, lv);
                } catch (const Error&) {
                    return {};
                }
                if (auto* p = std::get_if<std::string>(&v)) return *p;
                return {};
            };
            auto getDate = [&](const ColumnDef* c) -> double {
                if (!c) return 0;
                decodeColumn(*impl, rv, *c, v, lv);
                if (auto* p = std::get_if<DateTime>(&v)) return p->days;
                return 0;
            };
            e.id = static_cast<std::int32_t>(getInt(cId));
            e.parentId = static_cast<std::int32_t>(getInt(cParent));
            e.name = getStr(cName);
            e.type = static_cast<std::int16_t>(getInt(cType));
            e.flags = static_cast<std::int32_t>(getInt(cFlags));
            e.dateCreate = getDate(cCreate);
            e.dateUpdate = getDate(cUpdate);
            if (e.type == 4 || e.type == 6) {
                e.database = getStr(cDb);
                e.connect = getStr(cConnect);
                e.foreignName = getStr(cForeign);
            }
            if (e.type == 1) e.tdefPage = static_cast<std::uint32_t>(e.id) & 0x00FFFFFFu;
            e.catalogRow = at.toU32();
            impl->catalog.push_back(std::move(e));
        }
    } catch (const Error& e) {
        if (e.number() == errc::CorruptDatabase) throw;
        throwCorrupt(path, std::string("reading MSysObjects: ") + e.what());
    }
    for (const auto& e : impl->catalog)
        if (e.type == 3 && e.name == "Tables" && e.parentId == static_cast<std::int32_t>(0xF000000)) {
            impl->tablesContainer = e.id;
            impl->haveTablesContainer = true;
        }
    // Parameter queries (MSysQueries attribute 2) are not views.
    std::unordered_map<std::int32_t, bool> paramQuery;
    bool anyQuery = false;
    for (const auto& e : impl->catalog)
        if (e.type == 5) anyQuery = true;
    if (anyQuery) {
        try {
            for (const auto& e : impl->catalog) {
                if (e.type != 1 || !nameEquals(e.name, "MSysQueries")) continue;
                auto qdef = impl->tableDef(e.tdefPage);
                const ColumnDef *qObj = nullptr, *qAttr = nullptr;
                for (const auto& c : qdef->columns) {
                    if (nameEquals(c.name, "ObjectId")) qObj = &c;
                    if (nameEquals(c.name, "Attribute")) qAttr = &c;
                }
                if (!qObj || !qAttr) break;
                RowScanner qs(*impl, *qdef, "MSysQueries");
                while (qs.next(rowb, at)) {
                    rv.parse(rowb.data(), rowb.size(), *qdef, fmt);
                    decodeColumn(*impl, rv, *qAttr, v, lv);
                    std::int64_t attr = 0;
                    if (auto* p = std::get_if<std::uint8_t>(&v)) attr = *p;
                    else if (auto* p16 = std::get_if<std::int16_t>(&v)) attr = *p16;
                    if (attr != 2) continue;
                    decodeColumn(*impl, rv, *qObj, v, lv);
                    if (auto* p = std::get_if<std::int32_t>(&v)) paramQuery[*p] = true;
                }
                break;
            }
        } catch (const Error&) {
            // Query details are optional: without them every select query counts as a view.
        }
    }
    for (auto& e : impl->catalog) {
        bool param = paramQuery.count(e.id) != 0;
        e.schemaType = schemaTypeFor(e, param);
        if (e.type == 1 && impl->haveTablesContainer && e.parentId != impl->tablesContainer &&
            e.schemaType == "TABLE")
            e.schemaType = "";
    }
    return db;
}

std::vector<PropertyMap> DatabaseImpl::properties(const CatalogEntry& e) {
    auto def = tableDef(2);
    const ColumnDef* lvProp = nullptr;
    for (const auto& c : def->columns)
        if (nameEquals(c.name, "LvProp")) lvProp = &c;
    if (!lvProp || e.catalogRow == 0) return {};
    auto span = rowBytes(*src, *fmt, RowPointer::fromU32(e.catalogRow));
    std::vector<std::uint8_t> bytes(span.begin(), span.end());
    RowView rv;
    rv.parse(bytes.data(), bytes.size(), *def, *fmt);
    Value v;
    std::vector<std::uint8_t> lv;
    decodeColumn(*this, rv, *lvProp, v, lv);
    auto* b = std::get_if<Bytes>(&v);
    if (!b) return {};
    return parsePropertyMaps(*b, text);
}

std::vector<PropertyMap> Database::objectProperties(const CatalogEntry& entry) const {
    return impl_->properties(entry);
}

Format Database::format() const { return impl_->header.format; }
const FormatInfo& Database::formatInfo() const { return *impl_->fmt; }
const std::string& Database::path() const { return impl_->path; }
std::uint16_t Database::codePage() const { return impl_->header.codePage; }
std::uint16_t Database::sortOrder() const { return impl_->header.sortOrder; }
const std::vector<CatalogEntry>& Database::catalog() const { return impl_->catalog; }
PageSource& Database::pages() const { return *impl_->src; }
const TextDecoder& Database::textDecoder() const { return impl_->text; }

std::vector<std::string> Database::userTableNames() const {
    std::vector<std::string> out;
    for (const auto& e : impl_->catalog)
        if (e.schemaType == "TABLE") out.push_back(e.name);
    return out;
}

std::string Database::nameIdentity(std::string_view name) const { return lookupKey(name, nameOrder(impl_->header)); }

const CatalogEntry* Database::findObject(std::string_view name) const {
    const SortOrder order = nameOrder(impl_->header);
    const std::string key = lookupKey(name, order);
    const CatalogEntry* best = nullptr;
    for (const auto& e : impl_->catalog) {
        if (e.type != 1 && e.type != 4 && e.type != 5 && e.type != 6) continue;
        if (lookupKey(e.name, order) != key) continue;
        if (!best || (e.name == name && best->name != name)) best = &e;
        if (impl_->haveTablesContainer && e.parentId == impl_->tablesContainer && e.name == name) return &e;
    }
    return best;
}

// ===================================================================== Table

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

Table::Table(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Table::~Table() = default;

std::unique_ptr<Table> Database::openTable(std::string_view name) const {
    const CatalogEntry* e = findObject(name);
    if (!e)
        throw Error(errc::TableNotFound, "The Microsoft Access database engine cannot find the input table or query '" +
                                             std::string(name) +
                                             "'. Make sure it exists and that its name is spelled correctly.");
    if (e->type == 4 || e->type == 6)
        throw Error(errc::NotSupported, "'" + e->name + "' is a linked table (source: " +
                                            (e->database.empty() ? e->connect : e->database) +
                                            "); open its source database to read it.");
    if (e->type == 5)
        throw Error(errc::NotSupported, "'" + e->name + "' is a query; reading queries is not supported.");
    return openTableAt(e->tdefPage, e->name);
}

std::unique_ptr<Table> Database::openTableAt(std::uint32_t tdefPage, const std::string& name) const {
    auto impl = std::make_unique<Table::Impl>();
    impl->db = impl_;
    impl->name = name;
    try {
        impl->def = impl_->tableDef(tdefPage);
    } catch (const Error& e) {
        throw Error(e.number(), e.what() + std::string(" [table '") + name + "']");
    }
    const FormatInfo& fmt = *impl_->fmt;
    for (const auto& c : impl->def->columns) {
        Column col;
        col.name = c.name;
        col.type = c.type;
        col.number = c.number;
        col.fixed = c.fixed();
        col.calculated = c.calculated();
        col.resultType = c.calculated() ? c.type : 0;
        col.autoNumber = (c.flags & (col_flag::AutoLong | col_flag::AutoGuid)) != 0;
        col.hyperlink = c.type == static_cast<std::uint8_t>(ColumnType::Memo) && (c.flags & col_flag::Hyperlink);
        const auto t = static_cast<ColumnType>(c.type);
        int len = c.length;
        if (t == ColumnType::Text) {
            if (col.calculated) len = std::max(0, len - 23);
            col.size = fmt.unicodeText ? len / 2 : len;
        } else if (t == ColumnType::Memo || t == ColumnType::Ole) {
            col.size = 0;
        } else {
            col.size = len;
        }
        if (t == ColumnType::Numeric) {
            col.precision = col.calculated ? 28 : c.precision;
            col.scale = c.scale;
        }
        if (t == ColumnType::Complex) col.complexKind = ComplexKind::Unknown;
        impl->columns.push_back(std::move(col));
    }
    impl->complex.resize(impl->columns.size());
    impl->scanner = std::make_unique<RowScanner>(*impl_, *impl->def, name);
    std::unique_ptr<Table> t(new Table(std::move(impl)));
    // Complex kinds (cheap: reads the supporting table definitions once).
    for (std::size_t i = 0; i < t->impl_->columns.size(); ++i) {
        const auto& c = t->impl_->def->columns[i];
        if (c.type != static_cast<std::uint8_t>(ColumnType::Complex)) continue;
        auto info = impl_->complexInfo(c.complexId, tdefPage);
        t->impl_->complex[i] = info;
        t->impl_->columns[i].complexKind = info->kind;
    }
    return t;
}

const std::string& Table::name() const { return impl_->name; }
const std::vector<Column>& Table::columns() const { return impl_->columns; }
const TableDef& Table::definition() const { return *impl_->def; }

int Table::columnIndex(std::string_view name) const {
    const SortOrder order = nameOrder(impl_->db->header);
    const std::string key = lookupKey(name, order);
    for (std::size_t i = 0; i < impl_->columns.size(); ++i)
        if (lookupKey(impl_->columns[i].name, order) == key) return static_cast<int>(i);
    return -1;
}

std::uint64_t Table::countRows() {
    RowScanner counter(*impl_->db, *impl_->def, impl_->name);
    return counter.count();
}

void Table::rewind() {
    impl_->scanner->reset();
    impl_->onRow = false;
}

bool Table::next() {
    std::span<const std::uint8_t> bytes;
    impl_->onRow = false;
    if (!impl_->scanner->next(bytes, impl_->at)) return false;
    try {
        impl_->row.parse(bytes.data(), bytes.size(), *impl_->def, *impl_->db->fmt);
    } catch (const Error& e) {
        impl_->fail(e.what());
    }
    impl_->onRow = true;
    return true;
}

RowPointer Table::position() const { return impl_->at; }

bool Table::isNull(std::size_t column) const {
    if (!impl_->onRow) throw Error(errc::NoCurrentRecord, "No current record (table '" + impl_->name + "').");
    if (column >= impl_->columns.size())
        throw Error(errc::ItemNotFound, "Item cannot be found in the collection corresponding to the requested name or "
                                        "ordinal (column " + std::to_string(column) + " of table '" + impl_->name +
                                            "').");
    const auto& c = impl_->def->columns[column];
    if (c.type == static_cast<std::uint8_t>(ColumnType::Boolean) && !c.calculated()) return false;
    return !impl_->row.present(c);
}

Value Table::value(std::size_t column) const {
    Value v;
    value(column, v);
    return v;
}

void Table::value(std::size_t column, Value& out) const {
    if (!impl_->onRow) throw Error(errc::NoCurrentRecord, "No current record (table '" + impl_->name + "').");
    if (column >= impl_->columns.size())
        throw Error(errc::ItemNotFound, "Item cannot be found in the collection corresponding to the requested name or "
                                        "ordinal (column " + std::to_string(column) + " of table '" + impl_->name +
                                            "').");
    const auto& c = impl_->def->columns[column];
    try {
        decodeColumn(*impl_->db, impl_->row, c, out, impl_->lvBuf);
        if (c.type == static_cast<std::uint8_t>(ColumnType::Complex)) {
            if (auto* r = std::get_if<ComplexRef>(&out)) impl_->expandComplex(column, r->id, out);
        }
    } catch (const Error& e) {
        if (e.number() != errc::CorruptDatabase) throw;
        impl_->fail("column '" + c.name + "': " + e.what());
    }
}

void Table::Impl::expandComplex(std::size_t i, std::int32_t key, Value& out) const {
    auto& info = complex[i];
    if (!info || info->kind == ComplexKind::Unknown) return; // stays a ComplexRef
    DatabaseImpl& d = *db;
    d.indexComplex(*info);
    const TableDef& flat = *info->flat;
    std::vector<RowPointer> empty;
    auto it = info->rows.find(key);
    const std::vector<RowPointer>& ptrs = it == info->rows.end() ? empty : it->second;
    RowView rv;
    std::vector<std::uint8_t> lv;
    Value tmp;
    std::vector<std::uint8_t> rowCopy;
    auto load = [&](RowPointer p) {
        auto bytes = rowBytes(*d.src, *d.fmt, p);
        rowCopy.assign(bytes.begin(), bytes.end());
        rv.parse(rowCopy.data(), rowCopy.size(), flat, *d.fmt);
    };
    auto get = [&](int col) -> Value& {
        tmp = std::monostate{};
        if (col >= 0) decodeColumn(d, rv, flat.columns[static_cast<std::size_t>(col)], tmp, lv);
        return tmp;
    };
    switch (info->kind) {
    case ComplexKind::Attachment: {
        Attachments list;
        for (auto p : ptrs) {
            load(p);
            Attachment a;
            if (auto* s = std::get_if<std::string>(&get(info->nameCol))) a.name = *s;
            if (auto* s = std::get_if<std::string>(&get(info->typeCol))) a.type = *s;
            if (auto* b = std::get_if<Bytes>(&get(info->dataCol))) a.data = decodeAttachmentData(b->data(), b->size());
            list.push_back(std::move(a));
        }
        out = std::move(list);
        return;
    }
    case ComplexKind::MultiValue: {
        MultiValues mv;
        mv.id = key;
        for (auto p : ptrs) {
            load(p);
            mv.values.push_back(toScalar(std::move(get(info->valueCol))));
        }
        out = std::move(mv);
        return;
    }
    case ComplexKind::VersionHistory: {
        VersionHistory vh;
        vh.id = key;
        std::vector<std::pair<std::int32_t, Version>> tmpList;
        for (auto p : ptrs) {
            load(p);
            Version ver;
            ver.value = toScalar(std::move(get(info->valueCol)));
            if (auto* dt = std::get_if<DateTime>(&get(info->modifiedCol))) ver.modified = *dt;
            std::int32_t id = 0;
            if (auto* pk = std::get_if<std::int32_t>(&get(info->pkCol))) id = *pk;
            tmpList.emplace_back(id, std::move(ver));
        }
        std::stable_sort(tmpList.begin(), tmpList.end(), [](const auto& a, const auto& b) {
            if (a.second.modified.days != b.second.modified.days)
                return a.second.modified.days > b.second.modified.days;
            return a.first > b.first;
        });
        for (auto& pr : tmpList) vh.versions.push_back(std::move(pr.second));
        out = std::move(vh);
        return;
    }
    default: return;
    }
}

} // namespace jet
