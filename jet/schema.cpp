#include "jet/schema.h"

#include <algorithm>
#include <map>

#include "jet/dump.h"
#include "jet/text.h"

namespace jet {

namespace {

bool isText(std::uint8_t type) {
    return type == static_cast<std::uint8_t>(ColumnType::Text) || type == static_cast<std::uint8_t>(ColumnType::Memo);
}

bool propertyFlag(const Property& p) {
    return std::any_of(p.data.begin(), p.data.end(), [](std::uint8_t b) { return b != 0; });
}

const CatalogEntry* tableEntry(const Database& db, std::uint32_t tdefPage) {
    for (const auto& e : db.catalog())
        if (e.type == 1 && e.tdefPage == tdefPage) return &e;
    return nullptr;
}

std::string columnNameByNumber(const TableDef& def, std::uint16_t number) {
    for (const auto& c : def.columns)
        if (c.number == number) return c.name;
    return {};
}

// Applies the properties Access keeps for the table and its columns.
void applyProperties(const Database& db, const Table& table, const CatalogEntry& entry, TableSchema& out) {
    std::vector<PropertyMap> maps;
    try {
        maps = db.objectProperties(entry);
    } catch (const Error&) {
        return; // a table without readable properties keeps the defaults
    }
    for (const auto& map : maps) {
        if (map.blockType == 0) {
            if (const Property* p = map.find("Description")) out.description = propertyText(db, *p);
            continue;
        }
        const int index = table.columnIndex(map.name);
        if (index < 0) continue;
        ColumnSchema& c = out.columns[std::size_t(index)];
        if (const Property* p = map.find("Required")) c.required = c.required || propertyFlag(*p);
        if (const Property* p = map.find("AllowZeroLength")) c.allowZeroLength = propertyFlag(*p);
        if (const Property* p = map.find("DefaultValue")) {
            std::string text = propertyText(db, *p);
            if (!text.empty()) c.defaultValue = std::move(text);
        }
        if (const Property* p = map.find("Description")) c.description = propertyText(db, *p);
        if (const Property* p = map.find("Expression")) c.expression = propertyText(db, *p);
    }
}

void readIndexes(const Database& db, const TableDef& def, TableSchema& out) {
    for (const auto& logical : def.logicalIndexes) {
        if (logical.realIndex >= def.realIndexes.size()) continue;
        const RealIndexDef& real = def.realIndexes[logical.realIndex];
        IndexSchema ix;
        ix.name = logical.name;
        ix.primary = logical.kind == 1;
        ix.foreignKey = logical.kind == 2;
        ix.unique = (real.flags & 0x01) != 0 || ix.primary;
        ix.ignoreNulls = (real.flags & 0x02) != 0;
        ix.required = (real.flags & 0x08) != 0 || ix.primary;
        for (const auto& col : real.columns) {
            std::string name = columnNameByNumber(def, col.number);
            if (!name.empty()) ix.columns.push_back({std::move(name), col.ascending});
        }
        if (ix.foreignKey && logical.relatedTable != 0)
            if (const CatalogEntry* other = tableEntry(db, logical.relatedTable)) ix.referencedTable = other->name;
        if (!ix.columns.empty()) out.indexes.push_back(std::move(ix));
    }
    std::stable_partition(out.indexes.begin(), out.indexes.end(), [](const IndexSchema& i) { return i.primary; });
}

std::string textValue(const Table& t, int column) {
    if (column < 0) return {};
    const Value v = t.value(std::size_t(column));
    if (const auto* s = std::get_if<std::string>(&v)) return *s;
    return {};
}

std::int64_t integerValue(const Table& t, int column) {
    if (column < 0) return 0;
    const Value v = t.value(std::size_t(column));
    if (const auto* i = std::get_if<std::int32_t>(&v)) return *i;
    if (const auto* i = std::get_if<std::int16_t>(&v)) return *i;
    if (const auto* i = std::get_if<std::uint8_t>(&v)) return *i;
    return 0;
}

// A multi-value column's values: the type of the one column of its complex type,
// with the size the column's own table of values gives it.
void readElementType(const Database& db, std::uint32_t complexId, ColumnSchema& c) {
    std::unique_ptr<Table> columns;
    try {
        columns = db.openTable("MSysComplexColumns");
    } catch (const Error&) {
        return;
    }
    const int id = columns->columnIndex("ComplexID"), flat = columns->columnIndex("FlatTableID"),
              type = columns->columnIndex("ComplexTypeObjectID");
    while (columns->next()) {
        if (integerValue(*columns, id) != std::int64_t(complexId)) continue;
        const auto typeTable = db.openTableAt(std::uint32_t(integerValue(*columns, type)), "complex type");
        const auto values = db.openTableAt(std::uint32_t(integerValue(*columns, flat)), "complex values");
        if (typeTable->columns().size() != 1) return;
        const int at = values->columnIndex(typeTable->columns()[0].name);
        if (at < 0) return;
        const Column& v = values->columns()[std::size_t(at)];
        c.elementType = v.type;
        c.elementSize = v.size;
        c.elementPrecision = v.precision;
        c.elementScale = v.scale;
        return;
    }
}

void appendNames(std::string& out, const std::vector<std::string>& names) {
    out += '[';
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i) out += ',';
        appendJsonString(out, names[i]);
    }
    out += ']';
}

void appendColumnJson(std::string& out, const ColumnSchema& c) {
    out += "{\"name\":";
    appendJsonString(out, c.column.name);
    out += ",\"type\":";
    appendJsonString(out, columnTypeName(c.column.type));
    if (c.column.type == static_cast<std::uint8_t>(ColumnType::Text) ||
        c.column.type == static_cast<std::uint8_t>(ColumnType::Binary))
        out += ",\"size\":" + std::to_string(c.column.size);
    if (c.column.type == static_cast<std::uint8_t>(ColumnType::Numeric))
        out += ",\"precision\":" + std::to_string(c.column.precision) + ",\"scale\":" + std::to_string(c.column.scale);
    if (c.autoNumber != AutoNumber::None) out += c.autoNumber == AutoNumber::Long ? ",\"autoNumber\":\"long\"" : ",\"autoNumber\":\"guid\"";
    if (c.column.hyperlink) out += ",\"hyperlink\":true";
    if (c.column.complexKind != ComplexKind::None) {
        static const char* const kinds[] = {"", "attachment", "multiValue", "versionHistory", "unknown"};
        out += ",\"complex\":\"";
        out += kinds[static_cast<int>(c.column.complexKind)];
        out += '"';
        if (c.elementType) {
            out += ",\"elementType\":";
            appendJsonString(out, columnTypeName(c.elementType));
        }
    }
    out += c.required ? ",\"required\":true" : ",\"required\":false";
    if (!c.allowZeroLength && isText(c.column.type)) out += ",\"allowZeroLength\":false";
    if (c.defaultValue) {
        out += ",\"default\":";
        appendJsonString(out, *c.defaultValue);
    }
    if (!c.description.empty()) {
        out += ",\"description\":";
        appendJsonString(out, c.description);
    }
    if (c.column.calculated) {
        out += ",\"expression\":";
        appendJsonString(out, c.expression);
    }
    out += '}';
}

void appendIndexJson(std::string& out, const IndexSchema& ix) {
    out += "{\"name\":";
    appendJsonString(out, ix.name);
    out += ",\"columns\":[";
    for (std::size_t i = 0; i < ix.columns.size(); ++i) {
        if (i) out += ',';
        out += "{\"name\":";
        appendJsonString(out, ix.columns[i].name);
        out += ix.columns[i].ascending ? ",\"order\":\"asc\"}" : ",\"order\":\"desc\"}";
    }
    out += ']';
    if (ix.primary) out += ",\"primary\":true";
    if (ix.unique) out += ",\"unique\":true";
    if (ix.ignoreNulls) out += ",\"ignoreNulls\":true";
    if (ix.required) out += ",\"required\":true";
    if (ix.foreignKey) {
        out += ",\"foreignKey\":true";
        if (!ix.referencedTable.empty()) {
            out += ",\"referencedTable\":";
            appendJsonString(out, ix.referencedTable);
        }
    }
    out += '}';
}

} // namespace

std::string propertyText(const Database& db, const Property& p) {
    if (!isText(p.dataType)) return {};
    return db.textDecoder().decode(p.data.data(), p.data.size());
}

TableSchema readTableSchema(const Database& db, std::string_view name) {
    auto table = db.openTable(name);
    TableSchema out;
    out.name = table->name();
    const TableDef& def = table->definition();
    for (std::size_t i = 0; i < table->columns().size(); ++i) {
        ColumnSchema c;
        c.column = table->columns()[i];
        const ColumnDef& stored = def.columns[i];
        // Complex columns carry the AutoLong flag for their hidden key: not an AutoNumber.
        if ((stored.flags & col_flag::AutoLong) && stored.type == static_cast<std::uint8_t>(ColumnType::Long))
            c.autoNumber = AutoNumber::Long;
        else if ((stored.flags & col_flag::AutoGuid) && stored.type == static_cast<std::uint8_t>(ColumnType::Guid))
            c.autoNumber = AutoNumber::Guid;
        c.required = c.column.type == static_cast<std::uint8_t>(ColumnType::Boolean) && !c.column.calculated;
        out.columns.push_back(std::move(c));
    }
    for (std::size_t i = 0; i < out.columns.size(); ++i)
        if (out.columns[i].column.complexKind == ComplexKind::MultiValue)
            readElementType(db, def.columns[i].complexId, out.columns[i]);
    if (const CatalogEntry* entry = db.findObject(out.name)) applyProperties(db, *table, *entry, out);
    readIndexes(db, def, out);
    return out;
}

std::vector<RelationshipSchema> readRelationships(const Database& db) {
    std::unique_ptr<Table> t;
    try {
        t = db.openTable("MSysRelationships");
    } catch (const Error&) {
        return {};
    }
    const int name = t->columnIndex("szRelationship"), column = t->columnIndex("szColumn"),
              object = t->columnIndex("szObject"), refColumn = t->columnIndex("szReferencedColumn"),
              refObject = t->columnIndex("szReferencedObject"), grbit = t->columnIndex("grbit"),
              position = t->columnIndex("icolumn");
    // The system tables' own relationships are the engine's, not the user's schema.
    auto isUserTable = [&](const std::string& n) {
        const CatalogEntry* e = db.findObject(n);
        return e && e->schemaType != "SYSTEM TABLE" && e->schemaType != "ACCESS TABLE";
    };
    struct Pair {
        std::int64_t position;
        std::string column, referenced;
    };
    std::map<std::string, std::pair<RelationshipSchema, std::vector<Pair>>> byName;
    while (t->next()) {
        RelationshipSchema r;
        r.name = textValue(*t, name);
        r.table = textValue(*t, object);
        r.referencedTable = textValue(*t, refObject);
        if (!isUserTable(r.table) || !isUserTable(r.referencedTable)) continue;
        r.flags = std::uint32_t(integerValue(*t, grbit));
        auto [it, inserted] = byName.try_emplace(r.name, std::move(r), std::vector<Pair>{});
        it->second.second.push_back({integerValue(*t, position), textValue(*t, column), textValue(*t, refColumn)});
    }
    std::vector<RelationshipSchema> out;
    for (auto& [key, entry] : byName) {
        auto& [rel, pairs] = entry;
        std::stable_sort(pairs.begin(), pairs.end(), [](const Pair& a, const Pair& b) { return a.position < b.position; });
        for (auto& p : pairs) {
            rel.columns.push_back(std::move(p.column));
            rel.referencedColumns.push_back(std::move(p.referenced));
        }
        out.push_back(std::move(rel));
    }
    return out;
}

std::string schemaJson(const Database& db, const std::vector<std::string>& tables) {
    const std::vector<std::string> names = tables.empty() ? dumpTableOrder(db) : tables;
    std::string out = "{\"tables\":[\n";
    for (std::size_t t = 0; t < names.size(); ++t) {
        const TableSchema s = readTableSchema(db, names[t]);
        out += "{\"name\":";
        appendJsonString(out, s.name);
        if (!s.description.empty()) {
            out += ",\"description\":";
            appendJsonString(out, s.description);
        }
        out += ",\"columns\":[";
        for (std::size_t i = 0; i < s.columns.size(); ++i) {
            out += i ? ",\n" : "\n";
            appendColumnJson(out, s.columns[i]);
        }
        out += "],\"indexes\":[";
        for (std::size_t i = 0; i < s.indexes.size(); ++i) {
            out += i ? ",\n" : "\n";
            appendIndexJson(out, s.indexes[i]);
        }
        out += t + 1 < names.size() ? "]},\n" : "]}\n";
    }
    out += "],\"relationships\":[";
    std::size_t written = 0;
    for (const auto& r : readRelationships(db)) {
        const auto listed = [&](const std::string& n) {
            return tables.empty() || std::find(tables.begin(), tables.end(), n) != tables.end();
        };
        if (!listed(r.table) && !listed(r.referencedTable)) continue;
        out += written++ ? ",\n" : "\n";
        out += "{\"name\":";
        appendJsonString(out, r.name);
        out += ",\"table\":";
        appendJsonString(out, r.table);
        out += ",\"columns\":";
        appendNames(out, r.columns);
        out += ",\"referencedTable\":";
        appendJsonString(out, r.referencedTable);
        out += ",\"referencedColumns\":";
        appendNames(out, r.referencedColumns);
        out += r.enforced() ? ",\"enforced\":true" : ",\"enforced\":false";
        if (r.cascadeUpdates()) out += ",\"cascadeUpdates\":true";
        if (r.cascadeDeletes()) out += ",\"cascadeDeletes\":true";
        if (r.cascadeSetNull()) out += ",\"cascadeSetNull\":true";
        out += '}';
    }
    out += "\n]}\n";
    return out;
}

} // namespace jet
