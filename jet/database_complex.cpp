// Complex columns (attachments, multi-value and version history): their flat tables and how a row's value expands.
#include "jet/database_internal.h"

#include <algorithm>
#include <cstring>

#include "jet/inflate.h"

namespace jet {

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
