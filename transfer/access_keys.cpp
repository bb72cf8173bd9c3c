#include "transfer/access_keys.h"

#include <algorithm>

#include "jet/sql.h"
#include "transfer/helpers.h"
#include "transfer/names.h"

namespace transfer {

namespace {

bool sameName(const std::string& a, const std::string& b) { return lowerCase(a) == lowerCase(b); }

// The first `n` characters of a UTF-8 text.
std::string firstCharacters(const std::string& text, std::size_t n) {
    std::size_t chars = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 && chars++ == n) return text.substr(0, i);
    }
    return text;
}

std::string columnList(const std::vector<std::string>& columns) {
    std::string out;
    for (const auto& c : columns) out += (out.empty() ? "" : ", ") + c;
    return out;
}

std::string quotedColumns(const std::vector<std::string>& columns) {
    std::string out;
    for (const auto& c : columns) out += (out.empty() ? "" : ", ") + quoteAccessName(c, "column");
    return out;
}

const AccessPlannedColumn* findColumn(const std::vector<AccessPlannedColumn>& columns, const std::string& name) {
    for (const auto& c : columns)
        if (c.name == name) return &c;
    return nullptr;
}

// Why the index cannot be an Access index, or "".
std::string indexProblem(const PgIndex& index, const std::vector<AccessPlannedColumn>& columns,
                         const AccessTarget& target) {
    if (index.method != "btree")
        return "a " + index.method + " index; Access has only ordered indexes on columns";
    if (index.expression) return "an index on an expression; Access indexes columns only";
    if (index.partial) return "a partial index (WHERE ...); Access indexes every row";
    if (index.columns.empty()) return "an index without key columns";
    if (index.columns.size() > static_cast<std::size_t>(kAccessMaxIndexColumns))
        return std::to_string(index.columns.size()) + " columns; Access indexes at most " +
               std::to_string(kAccessMaxIndexColumns) + " columns";
    for (const auto& c : index.columns) {
        const AccessPlannedColumn* planned = findColumn(columns, c.name);
        if (!planned) return "the column " + c.name + " is not in the Access table";
        if (planned->type == "OLEOBJECT") return "the column " + c.name + " is an OLE Object, which Access cannot index";
        // Access indexes Decimal columns too, but the engine does not write their index keys: the index is named
        // instead of failing after the rows.
        if (planned->type.starts_with("DECIMAL"))
            return "the column " + c.name + " is a Decimal, whose index keys Quillmere does not write";
        if (planned->type == "MEMO" && !target.memoIndexes)
            return "the column " + c.name + " is a Long Text, which files before Access 2007 cannot index";
    }
    return {};
}

// Access puts Null first in an ascending column and last in a descending one; the server's NULLS FIRST/LAST
// that differ from that, on columns that can hold Null.
std::string nullsNotKept(const PgIndex& index) {
    std::string out;
    for (const auto& c : index.columns) {
        if (c.notNull || c.nullsFirst == !c.descending) continue;
        out += (out.empty() ? "" : ", ") + std::string(c.nullsFirst ? "NULLS FIRST" : "NULLS LAST") + " of " + c.name;
    }
    return out;
}

int rank(const PgIndex& index) { return index.primary ? 0 : index.unique ? 1 : 2; }

} // namespace

ForeignKey foreignKeyFromServer(std::string name, std::string table, std::vector<std::string> columns,
                                std::string referencedTable, std::vector<std::string> referencedColumns,
                                char onUpdate, char onDelete) {
    ForeignKey k{std::move(name), std::move(table), std::move(columns), std::move(referencedTable),
                 std::move(referencedColumns), false, false, false, {}};
    switch (onUpdate) {
    case 'c': k.cascadeUpdates = true; break;
    case 'n': k.notKept.push_back("ON UPDATE SET NULL"); break;
    case 'd': k.notKept.push_back("ON UPDATE SET DEFAULT"); break;
    default: break; // NO ACTION, RESTRICT: the integrity rule alone
    }
    switch (onDelete) {
    case 'c': k.cascadeDeletes = true; break;
    case 'n': k.cascadeSetNull = true; break;
    case 'd': k.notKept.push_back("ON DELETE SET DEFAULT"); break;
    default: break;
    }
    return k;
}

ForeignKey foreignKeyFromFile(const jet::RelationshipSchema& r) {
    return ForeignKey{r.name, r.table, r.columns, r.referencedTable, r.referencedColumns,
                      r.cascadeUpdates(), r.cascadeDeletes(), r.cascadeSetNull(), {}};
}

std::string describeForeignKey(const ForeignKey& k) {
    return k.table + " (" + columnList(k.columns) + ") -> " + k.referencedTable + " (" +
           columnList(k.referencedColumns) + ")";
}

void AccessNames::reserve(const std::string& name) { taken_.insert(lowerCase(name)); }

bool AccessNames::taken(const std::string& name) const { return taken_.count(lowerCase(name)) != 0; }

std::string AccessNames::allocate(const std::string& wanted) {
    std::string base;
    for (unsigned char c : wanted) {
        const bool bad = c < 32 || c == '.' || c == '!' || c == '`' || c == '[' || c == ']';
        base += bad ? '_' : static_cast<char>(c);
    }
    while (!base.empty() && base.front() == ' ') base.front() = '_';
    if (base.empty()) base = "Index";
    std::string name = firstCharacters(base, kAccessMaxNameChars);
    for (int n = 2; taken(name); ++n) {
        const std::string suffix = "_" + std::to_string(n);
        name = firstCharacters(base, kAccessMaxNameChars - suffix.size()) + suffix;
    }
    reserve(name);
    return name;
}

AccessKeysPlan planAccessKeys(const std::string& table, const std::vector<PgIndex>& indexes,
                              const std::vector<AccessPlannedColumn>& columns, int relationshipIndexes,
                              const AccessTarget& target) {
    AccessKeysPlan plan;
    plan.table = table;
    std::vector<const PgIndex*> ordered;
    for (const auto& index : indexes) ordered.push_back(&index);
    std::stable_sort(ordered.begin(), ordered.end(),
                     [](const PgIndex* a, const PgIndex* b) { return rank(*a) < rank(*b); });
    const int room = std::max(0, kAccessMaxIndexes - relationshipIndexes);
    AccessNames names;
    bool primary = false;
    for (const PgIndex* index : ordered) {
        const std::string where = table + "." + index->name;
        if (const std::string problem = indexProblem(*index, columns, target); !problem.empty()) {
            plan.leftOut.push_back(where + ": " + problem + " (" + index->definition + ")");
            continue;
        }
        if (static_cast<int>(plan.indexes.size()) >= room) {
            plan.leftOut.push_back(where + ": Access holds at most " + std::to_string(kAccessMaxIndexes) +
                                   " indexes a table, " + std::to_string(relationshipIndexes) +
                                   " of them for relationships; the primary key and unique indexes went first");
            continue;
        }
        AccessIndexPlan out;
        out.name = names.allocate(index->name);
        out.primary = index->primary && !primary; // one primary key a table
        out.unique = index->unique || out.primary;
        primary = primary || out.primary;
        std::string keys;
        for (const auto& c : index->columns) {
            out.columns.push_back(c.name);
            keys += (keys.empty() ? "" : ", ") + quoteAccessName(c.name, "column") + (c.descending ? " DESC" : "");
        }
        out.sql = std::string(out.unique && !out.primary ? "CREATE UNIQUE INDEX " : "CREATE INDEX ") +
                  quoteAccessName(out.name, "index") + " ON " + quoteAccessName(table) + " (" + keys + ")" +
                  (out.primary ? " WITH PRIMARY" : "");
        if (out.name != index->name) plan.changed.push_back(where + ": named " + out.name + " in Access");
        if (index->includedColumns > 0)
            plan.leftOut.push_back(where + ": its INCLUDE columns (Access indexes hold key columns only)");
        if (const std::string nulls = nullsNotKept(*index); !nulls.empty())
            plan.changed.push_back(where + ": " + nulls +
                                   " (Access sorts Null first in an ascending column, last in a descending one)");
        plan.indexes.push_back(std::move(out));
    }
    return plan;
}

RelationshipPlan planRelationship(const ForeignKey& key, const jet::TableSchema* table,
                                  const jet::TableSchema* referenced, AccessNames& names, const AccessTarget& target) {
    RelationshipPlan plan;
    auto refuse = [&](std::string why) {
        plan.leftOut = std::move(why);
        return plan;
    };
    if (!table) return refuse("the table " + key.table + " is not in the Access file");
    if (!referenced) return refuse("the table " + key.referencedTable + " is neither in this run nor in the Access file");
    if (key.columns.empty() || key.columns.size() != key.referencedColumns.size())
        return refuse("its columns do not pair up");
    if (key.columns.size() > static_cast<std::size_t>(kAccessMaxIndexColumns))
        return refuse(std::to_string(key.columns.size()) + " columns; Access relates at most " +
                      std::to_string(kAccessMaxIndexColumns));
    auto findColumn = [](const jet::TableSchema& t, const std::string& name) -> const jet::Column* {
        for (const auto& c : t.columns)
            if (sameName(c.column.name, name)) return &c.column;
        return nullptr;
    };
    for (const auto& c : key.columns)
        if (!findColumn(*table, c)) return refuse("the Access table " + key.table + " has no column " + c);
    // The referenced columns must be the other table's primary key or a unique index, in any order: the pairs
    // follow that index's order.
    const jet::IndexSchema* match = nullptr;
    for (const auto& ix : referenced->indexes) {
        if (!(ix.primary || ix.unique) || ix.foreignKey || ix.columns.size() != key.referencedColumns.size()) continue;
        const bool same = std::all_of(ix.columns.begin(), ix.columns.end(), [&](const jet::IndexColumn& c) {
            return std::any_of(key.referencedColumns.begin(), key.referencedColumns.end(),
                               [&](const std::string& r) { return sameName(r, c.name); });
        });
        if (same && (!match || ix.primary)) match = &ix;
    }
    if (!match)
        return refuse("the columns " + columnList(key.referencedColumns) + " are neither the primary key nor a unique "
                      "index of " + key.referencedTable + " in the Access file");
    std::vector<std::string> columns, referencedColumns;
    for (const auto& c : match->columns)
        for (std::size_t i = 0; i < key.referencedColumns.size(); ++i)
            if (sameName(key.referencedColumns[i], c.name)) {
                columns.push_back(key.columns[i]);
                referencedColumns.push_back(c.name);
            }
    // Access relates columns of one type (an AutoNumber is a Long Integer), never Long Text or OLE Object.
    for (std::size_t i = 0; i < columns.size(); ++i) {
        const jet::Column* from = findColumn(*table, columns[i]);
        const jet::Column* to = findColumn(*referenced, referencedColumns[i]);
        const auto type = [](const jet::Column* c) {
            return std::string(jet::sql::columnTypeName(static_cast<jet::sql::ColumnType>(c->type)));
        };
        if (from->type != to->type)
            return refuse("the columns " + key.table + "." + columns[i] + " (" + type(from) + ") and " +
                          key.referencedTable + "." + referencedColumns[i] + " (" + type(to) +
                          ") differ in type in Access, which relates columns of one type");
        if (from->type == static_cast<std::uint8_t>(jet::ColumnType::Memo) ||
            from->type == static_cast<std::uint8_t>(jet::ColumnType::Ole))
            return refuse("the column " + key.table + "." + columns[i] + " is a " + type(from) +
                          ", which Access cannot relate");
    }
    // Room for the relationship's own index on each side.
    const bool self = sameName(table->name, referenced->name);
    if (table->indexes.size() + (self ? 2 : 1) > static_cast<std::size_t>(kAccessMaxIndexes) ||
        referenced->indexes.size() + 1 > static_cast<std::size_t>(kAccessMaxIndexes))
        return refuse("Access holds at most " + std::to_string(kAccessMaxIndexes) +
                      " indexes a table, each side's relationship index counted, and " +
                      (referenced->indexes.size() >= table->indexes.size() ? referenced->name : table->name) +
                      " has no room left");
    AccessNames local = names;
    for (const auto* t : {table, referenced})
        for (const auto& ix : t->indexes) local.reserve(ix.name);
    plan.name = local.allocate(key.name);
    names.reserve(plan.name);
    plan.sql = "ALTER TABLE " + quoteAccessName(key.table) + " ADD CONSTRAINT " + quoteAccessName(plan.name, "index") +
               " FOREIGN KEY (" + quotedColumns(columns) + ") REFERENCES " + quoteAccessName(key.referencedTable) +
               " (" + quotedColumns(referencedColumns) + ")";
    if (key.cascadeUpdates) plan.sql += " ON UPDATE CASCADE";
    if (key.cascadeDeletes)
        plan.sql += " ON DELETE CASCADE";
    else if (key.cascadeSetNull && target.cascadeSetNull)
        plan.sql += " ON DELETE SET NULL";
    for (const auto& action : key.notKept)
        plan.notes.push_back(key.table + "." + key.name + ": " + action +
                             " (Access has no such action; the relationship keeps its integrity rule)");
    if (key.cascadeSetNull && !key.cascadeDeletes && !target.cascadeSetNull)
        plan.notes.push_back(key.table + "." + key.name +
                             ": ON DELETE SET NULL (Access 97 has no such action; the relationship keeps its integrity "
                             "rule)");
    return plan;
}

} // namespace transfer
