#include "jet/database.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <unordered_map>

#include "jet/codec.h"
#include "jet/codec.h"
#include "jet/database_internal.h"
#include "jet/header.h"
#include "jet/index_key.h"
#include "jet/inflate.h"
#include "jet/page_source.h"
#include "jet/row.h"
#include "jet/text.h"
#include "jet/usage_map.h"

namespace jet {

// ===================================================================== helpers

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

namespace {

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

} // namespace

std::string contextDescription(const std::string& path, const std::string& table, RowPointer at,
                               const std::string& detail) {
    std::string where = "table '" + table + "'";
    if (at.page) where += ", page " + std::to_string(at.page) + " row " + std::to_string(at.row);
    return corruptDescription(path, where + ": " + detail);
}

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

} // namespace jet
