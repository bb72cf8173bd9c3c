// What an INSERT checks before its row is stored: Null in a column whose Required property is set, and a
// parent row for every enforced relationship in which the table is the referencing side. The facts a table's
// checks need are gathered once (properties, MSysRelationships, the referenced indexes) and kept until the
// schema changes, so that a run of INSERTs pays one key lookup per relationship and row.
#include "writer_impl.h"

#include "index_scan.h"

#include "jet/properties.h"
#include "jet/text.h"

#include <ctime>

namespace jet {

namespace {

// The DefaultValue expressions the engine evaluates itself; any other (an expression Access computes) is left
// to Access, and the column stays as the INSERT gives it.
bool parseDefault(std::string_view expr, WriterImpl::InsertChecks::Default& out)
{
    while (!expr.empty() && (expr.front() == ' ' || expr.front() == '='))
        expr.remove_prefix(1);
    while (!expr.empty() && expr.back() == ' ')
        expr.remove_suffix(1);
    if (expr.empty())
        return false;
    auto is = [&](std::string_view word) {
        return expr.size() == word.size() && std::equal(expr.begin(), expr.end(), word.begin(), [](char a, char b) {
                   return std::toupper(static_cast<unsigned char>(a)) == std::toupper(static_cast<unsigned char>(b));
               });
    };
    if (is("Now()") || is("Date()") || is("Time()")) {
        out.function = static_cast<char>(std::toupper(static_cast<unsigned char>(expr.front())));
        return true;
    }
    if (is("Yes") || is("True") || is("No") || is("False")) {
        out.value.kind = sql::Literal::Kind::Number;
        out.value.text = is("Yes") || is("True") ? "-1" : "0";
        return true;
    }
    if (expr.size() >= 2 && expr.front() == '"' && expr.back() == '"') {
        std::string text;
        for (std::size_t i = 1; i + 1 < expr.size(); ++i) {
            text.push_back(expr[i]);
            if (expr[i] == '"') {
                if (expr[i + 1] != '"')
                    return false;  // a quote that is not doubled: an expression, not one text
                ++i;
            }
        }
        out.value.kind = sql::Literal::Kind::Text;
        out.value.text = std::move(text);
        return true;
    }
    if (expr.find_first_not_of("0123456789.-+eE") != std::string_view::npos)
        return false;
    out.value.kind = sql::Literal::Kind::Number;
    out.value.text = std::string(expr);
    return true;
}

}  // namespace

void WriterImpl::applyDefaults(const Table& t, const InsertChecks& checks, const std::vector<const Col*>& given,
                               std::vector<Cell>& cells)
{
    for (const InsertChecks::Default& d : checks.defaults) {
        if (std::any_of(given.begin(), given.end(), [&](const Col* c) { return c->number == d.column; }))
            continue;
        const Col* c = t.columnByNumber(d.column);
        if (!c)
            continue;
        sql::Literal value = d.value;
        if (d.function) {
            // The local date and time of the INSERT, as Access fills them in.
            const std::time_t now = std::time(nullptr);
            std::tm tm{};
            localtime_r(&now, &tm);
            char text[32];
            const char* form = d.function == 'N' ? "%Y-%m-%d %H:%M:%S" : d.function == 'D' ? "%Y-%m-%d" : "%H:%M:%S";
            std::strftime(text, sizeof text, form, &tm);
            value.kind = sql::Literal::Kind::Text;
            value.text = text;
        }
        convertLiteral(value, c->shape(), cells[c->number]);
    }
}

std::vector<WriterImpl::RelationshipRow> WriterImpl::relationshipRows()
{
    if (relationshipsPage == 0)
        return {};
    auto rows = readRelationshipRows(pc(), table(relationshipsPage));
    if (!rows)
        throwError(err::Corrupt, "MSysRelationships lacks one of its columns.");
    return std::move(*rows);
}

const WriterImpl::InsertChecks& WriterImpl::checksFor(const CatalogRow& cr, Table& t)
{
    const std::uint32_t tdef = static_cast<std::uint32_t>(cr.id);
    if (auto it = insertChecks.find(tdef); it != insertChecks.end())
        return it->second;
    InsertChecks checks;
    const std::string tableName = utf16ToUtf8(cr.name);

    // Required: the column maps of the catalogue row's property blob.
    Table& mso = table(2);
    if (const Col* cProps = mso.column(u"LvProp")) {
        const auto cells = decodeRow(pc(), mso, rowAt(pc(), cr.rowPtr), true);
        const RawCell& blob = cells[cProps->number];
        if (blob.present && !blob.bytes.empty()) {
            const TextDecoder names{!t.jet3, t.jet3 ? mso.codePage : std::uint16_t(1252)};
            for (const PropertyMap& m : parsePropertyMaps(blob.bytes, names)) {
                if (const Property* d = m.blockType == 1 ? m.find("DefaultValue") : nullptr) {
                    const Col* c = t.column(utf8ToUtf16(m.name));
                    InsertChecks::Default value;
                    if (c && !(c->flags & 0x04) && parseDefault(names.decode(d->data.data(), d->data.size()), value)) {
                        value.column = c->number;
                        checks.defaults.push_back(std::move(value));
                    }
                }
                const Property* p = m.blockType == 1 ? m.find("Required") : nullptr;
                if (!p || std::none_of(p->data.begin(), p->data.end(), [](std::uint8_t b) { return b != 0; }))
                    continue;
                const Col* c = t.column(utf8ToUtf16(m.name));
                // AutoNumbers are filled in and Yes/No columns are never Null: nothing to check.
                if (c && !(c->flags & 0x04) && c->type != 0x01)
                    checks.required.push_back({c->number, tableName + "." + m.name});
            }
        }
    }

    // Relationships with integrity in which this table holds the foreign key.
    std::map<std::u16string, std::vector<RelationshipRow>> byName;
    for (RelationshipRow& r : relationshipRows())
        if ((r.flags & 0x02) == 0 && nameIdentity(r.table) == nameIdentity(cr.name))
            byName[upper16(r.name)].push_back(std::move(r));
    for (auto& [key, pairs] : byName) {
        std::sort(pairs.begin(), pairs.end(),
                  [](const RelationshipRow& a, const RelationshipRow& b) { return a.position < b.position; });
        const CatalogRow* other = findTable(pairs.front().referencedTable);
        if (!other || other->type != 1)
            continue;  // a link or a missing table: nothing this file can check
        InsertChecks::Parent parent;
        parent.tdef = static_cast<std::uint32_t>(other->id);
        parent.tableName = utf16ToUtf8(other->name);
        Table& rt = table(parent.tdef);
        std::vector<std::pair<std::uint16_t, std::uint16_t>> columnPairs;  // referenced, referencing
        bool complete = true;
        for (const RelationshipRow& r : pairs) {
            const Col* from = t.column(r.column);
            const Col* to = rt.column(r.referencedColumn);
            if (!from || !to) {
                complete = false;
                break;
            }
            columnPairs.emplace_back(to->number, from->number);
        }
        if (!complete)
            continue;
        // The referenced columns are a unique index of the other table (Access requires it).
        bool found = false;
        for (std::size_t i = 0; i < rt.indexes.size() && !found; ++i) {
            const RealIndex& ix = rt.indexes[i];
            if (!ix.unique() || ix.columns.size() != columnPairs.size())
                continue;
            std::vector<std::uint16_t> from;
            for (auto [num, asc] : ix.columns) {
                auto it = std::find_if(columnPairs.begin(), columnPairs.end(),
                                       [&](const auto& p) { return p.first == num; });
                if (it == columnPairs.end())
                    break;
                from.push_back(it->second);
            }
            if (from.size() == columnPairs.size()) {
                parent.realIndex = i;
                parent.from = std::move(from);
                found = true;
            }
        }
        if (found)
            checks.parents.push_back(std::move(parent));
    }
    return insertChecks.emplace(tdef, std::move(checks)).first->second;
}

std::vector<std::uint8_t> WriterImpl::parentKey(const InsertChecks::Parent& p, const std::vector<Cell>& cells)
{
    Table& rt = table(p.tdef);
    const RealIndex& ix = rt.indexes[p.realIndex];
    std::vector<std::uint8_t> key;
    for (std::size_t k = 0; k < ix.columns.size(); ++k) {
        const Cell& cell = cells[p.from[k]];
        if (cell.null)
            return {};  // a Null anywhere in the foreign key: no parent needed, as in Access
        const Col* c = rt.columnByNumber(ix.columns[k].first);
        const SortOrder order = (c->type == 0x0A || c->type == 0x0C) ? sortOrderOf(*c) : SortOrder::GeneralLegacy;
        appendColumnKey(key, static_cast<sql::ColumnType>(c->type), cell, order, ix.columns[k].second);
    }
    return key;
}

void WriterImpl::checkInsert(const CatalogRow& cr, Table& t, const std::vector<Cell>& cells)
{
    const InsertChecks& checks = checksFor(cr, t);
    for (const auto& r : checks.required)
        if (cells[r.column].null)
            throwError(err::NullNotAllowed, "You must enter a value in the '" + r.label + "' field.");
    for (const auto& p : checks.parents) {
        const std::vector<std::uint8_t> key = parentKey(p, cells);
        if (!key.empty() && !indexHasKey(table(p.tdef).indexes[p.realIndex], key))
            throwError(err::RelatedRecordRequired, "You cannot add or change a record because a related record "
                                                   "is required in table '" + p.tableName + "'.");
    }
}

bool WriterImpl::indexHasKey(const RealIndex& ix, const std::vector<std::uint8_t>& key)
{
    // The smallest entry the key can have (row pointer 0) leads to the leaf holding its first entry, if any.
    // Entries that begin with the key lie together; one of them must be the key itself and a pointer.
    const Layout& l = lay();
    const std::vector<std::uint8_t> target = withPointer(key, 0);
    std::uint32_t page = ix.root;
    for (int steps = 0; page != 0 && steps < 96; ++steps) {
        const std::span<const std::uint8_t> p = pc().page(page);
        if (p[0] == 0x03) {
            std::uint32_t down = rd32(&p[l.ixTail]);
            forEachStoredEntry(l, p, page, [&](const StoredEntry& e, std::uint32_t child) {
                if (compareStored(e, target) < 0)
                    return false;
                down = child;
                return true;
            });
            page = down;
            continue;
        }
        if (p[0] != 0x04)
            throwError(err::Corrupt, "Page " + std::to_string(page) + " is not an index page.");
        int found = -1;  // -1: go on in the next leaf
        forEachStoredEntry(l, p, page, [&](const StoredEntry& e, std::uint32_t) {
            if (compareStored(e, target) < 0)
                return false;
            if (!startsWith(e, key)) {
                found = 0;
                return true;
            }
            if (e.size() == key.size() + 4) {
                found = 1;
                return true;
            }
            return false;
        });
        if (found >= 0)
            return found == 1;
        page = rd32(&p[l.ixNext]);
    }
    return false;
}

}  // namespace jet
