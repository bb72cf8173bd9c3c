// The checker's view of relationships (docs/format/relationships.md): the two logical indexes of a relationship
// name each other, every relationship with integrity has them, and every referencing row has its parent.
#include "check_relations.h"

#include "convert.h"
#include "error.h"
#include "index_key.h"

#include <algorithm>
#include <map>
#include <set>

namespace jet {

using namespace w;

namespace {

std::u16string upper(std::u16string s)
{
    for (char16_t& c : s)
        if ((c >= 'a' && c <= 'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7))
            c = static_cast<char16_t>(c - 32);
    return s;
}

struct Pair {
    std::int32_t position = 0;
    std::u16string column, referenced;
};

struct Relationship {
    std::u16string table, referencedTable;
    std::uint32_t flags = 0;
    std::vector<Pair> pairs;
};

}  // namespace

void checkRelationships(PageSource& src, const std::vector<std::pair<std::uint32_t, std::string>>& tableList,
                        const RelationFindingSink& add)
{
    std::map<std::uint32_t, Table> tables;
    std::map<std::u16string, std::uint32_t> byName;
    for (const auto& [tdef, name] : tableList) {
        try {
            tables.emplace(tdef, readTable(src, tdef));
            byName[upper(utf8ToUtf16(name))] = tdef;
        } catch (const Error&) {
            // the table's own check reports it
        }
    }
    auto nameOf = [&](std::uint32_t tdef) {
        for (const auto& [tdefPage, name] : tableList)
            if (tdefPage == tdef)
                return name;
        return std::string("page ") + std::to_string(tdef);
    };

    // The two sides of each relationship index name each other.
    for (const auto& [tdef, t] : tables) {
        for (const LogicalIndex& li : t.logical) {
            if (li.kind != 2)
                continue;
            const std::string where = nameOf(tdef) + " index " + utf16ToUtf8(li.name);
            const auto other = tables.find(li.relatedTdef);
            if (other == tables.end()) {
                add(CheckFinding::Kind::Structure, where,
                    "relationship index names table page " + std::to_string(li.relatedTdef) + ", which is no table");
                continue;
            }
            const auto& ol = other->second.logical;
            const auto o = std::find_if(ol.begin(), ol.end(),
                                        [&](const LogicalIndex& x) { return x.number == li.relatedIndex; });
            // (Access writes the same cascade bytes on both sides; readers take them from MSysRelationships.)
            if (o == ol.end() || o->kind != 2 || o->relatedTdef != tdef || o->relatedIndex != li.number ||
                o->relTableType + li.relTableType != 3)
                add(CheckFinding::Kind::Structure, where,
                    "its counterpart in " + nameOf(li.relatedTdef) + " (index number " +
                        std::to_string(li.relatedIndex) + ") does not name it back");
            if (li.relTableType == 1 &&
                (li.realIndex >= t.indexes.size() || !t.indexes[li.realIndex].unique()))
                add(CheckFinding::Kind::Structure, where, "the referenced side's index is not unique");
        }
    }

    // MSysRelationships against the indexes and the rows.
    const auto relTable = byName.find(u"MSYSRELATIONSHIPS");
    if (relTable == byName.end())
        return;
    const Table& rel = tables.at(relTable->second);
    const auto rows = rel.column(u"grbit") ? readRelationshipRows(src, rel) : std::nullopt;
    if (!rows) {
        add(CheckFinding::Kind::Structure, "MSysRelationships", "columns missing");
        return;
    }
    std::map<std::u16string, Relationship> rels;
    for (const RelationshipRow& r : *rows) {
        Relationship& x = rels[upper(r.name)];
        x.table = r.table;
        x.referencedTable = r.referencedTable;
        x.flags = r.flags;
        x.pairs.push_back({r.position, r.column, r.referencedColumn});
    }
    for (auto& [key, x] : rels) {
        if (x.flags & 0x02)
            continue;  // not enforced
        const std::string where = "relationship " + utf16ToUtf8(key);
        const auto many = byName.find(upper(x.table));
        const auto one = byName.find(upper(x.referencedTable));
        if (many == byName.end() || one == byName.end())
            continue;  // linked tables: nothing here to check
        const Table& t = tables.at(many->second);
        const Table& rt = tables.at(one->second);
        const auto li = std::find_if(t.logical.begin(), t.logical.end(), [&](const LogicalIndex& l) {
            return l.kind == 2 && l.relTableType == 2 && upper(l.name) == key;
        });
        if (li == t.logical.end() || li->relatedTdef != one->second) {
            add(CheckFinding::Kind::Structure, where, "the referencing table has no relationship index for it");
            continue;
        }
        const auto ri = std::find_if(rt.logical.begin(), rt.logical.end(),
                                     [&](const LogicalIndex& l) { return l.number == li->relatedIndex; });
        if (ri == rt.logical.end() || ri->realIndex >= rt.indexes.size())
            continue;  // reported above
        const RealIndex& key1 = rt.indexes[ri->realIndex];
        // The referencing columns in the order of the referenced index's columns.
        std::vector<std::pair<const Col*, const Col*>> cols;  // referencing, referenced
        for (auto [num, asc] : key1.columns) {
            const Col* to = rt.columnByNumber(num);
            const auto p = std::find_if(x.pairs.begin(), x.pairs.end(),
                                        [&](const Pair& q) { return to && upper(q.referenced) == upper(to->name); });
            const Col* from = p == x.pairs.end() ? nullptr : t.column(p->column);
            if (!to || !from) {
                add(CheckFinding::Kind::Structure, where, "its columns are not those of the referenced index");
                cols.clear();
                break;
            }
            cols.emplace_back(from, to);
        }
        if (cols.empty())
            continue;
        std::set<std::vector<std::uint8_t>> parents;
        forEachRow(src, rt, [&](const RowRef& r) {
            parents.insert(indexKey(rt, key1, decodeRow(src, rt, r.bytes, true)));
        });
        std::size_t orphans = 0;
        forEachRow(src, t, [&](const RowRef& r) {
            const auto cells = decodeRow(src, t, r.bytes, true);
            std::vector<std::uint8_t> k;
            for (std::size_t i = 0; i < cols.size(); ++i) {
                const auto [from, to] = cols[i];
                const Cell c = toCell(*from, from->number < cells.size() ? cells[from->number] : RawCell{});
                if (c.null)
                    return;
                const SortOrder order =
                    (to->type == 0x0A || to->type == 0x0C) ? sortOrderOf(*to) : SortOrder::GeneralLegacy;
                appendColumnKey(k, static_cast<sql::ColumnType>(to->type), c, order, key1.columns[i].second);
            }
            if (!parents.contains(k))
                ++orphans;
        });
        if (orphans)
            add(CheckFinding::Kind::Structure, where,
                std::to_string(orphans) + " row(s) of " + utf16ToUtf8(x.table) + " have no parent in " +
                    utf16ToUtf8(x.referencedTable));
    }
}

}  // namespace jet
