// Relationships with referential integrity, as Access stores them (docs/format/relationships.md):
// ALTER TABLE t ADD CONSTRAINT name FOREIGN KEY (...) REFERENCES t2 (...) writes one MSysRelationships row per
// column pair, a catalogue row of type 8 under the Relationships container with its permissions, and a logical
// index of kind 2 in each table; ALTER TABLE t DROP CONSTRAINT name takes all of it away again.
#include "writer_impl.h"

namespace jet {

namespace {

constexpr std::uint32_t kOneToOne = 0x00000001;
constexpr std::uint32_t kCascadeUpdates = 0x00000100;
constexpr std::uint32_t kCascadeDeletes = 0x00001000;
constexpr std::uint32_t kCascadeSetNull = 0x00002000;

bool sameText(std::u16string_view a, std::u16string_view b) { return upper16(a) == upper16(b); }

std::uint32_t nextLogicalNumber(const Table& t)
{
    std::uint32_t n = 0;
    for (const LogicalIndex& li : t.logical)
        n = std::max(n, li.number + 1);
    return n;
}

// The name Access gives the referenced table's side: ".r" and a letter, 'A' plus the index's number (".rC" for
// index 2); a letter already taken moves on to the next free one.
std::u16string referencedIndexName(const Table& t, std::uint32_t number)
{
    static const std::u16string letters = u"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    for (std::size_t k = 0; k < letters.size(); ++k) {
        const std::u16string name = std::u16string(u".r") + letters[(number + k) % letters.size()];
        if (std::none_of(t.logical.begin(), t.logical.end(),
                         [&](const LogicalIndex& li) { return sameText(li.name, name); }))
            return name;
    }
    throwError(err::Unsupported, "No free name for the index of a relationship.");
}

}  // namespace

void WriterImpl::addForeignKey(const sql::AddForeignKey& fk)
{
    if (relationshipsPage == 0)
        throwError(err::Unsupported, "'" + path + "' has no MSysRelationships table; this engine cannot add "
                                                  "relationships to it.");
    const std::u16string name = utf8ToUtf16(fk.name);
    validateName(name, fk.name, "relationship");
    const CatalogRow many = userTable(fk.table, err::NoSuchTable);
    const CatalogRow one = userTable(fk.referencedTable, err::NoSuchTable);
    for (const CatalogRow* r : {&many, &one})
        if ((r->flags & static_cast<std::int32_t>(0x80000002u)) != 0)
            throwError(err::ReadOnly, "Table '" + utf16ToUtf8(r->name) + "' is a system table; relationships "
                                                                        "cannot be added to it.");
    const std::uint32_t manyTdef = static_cast<std::uint32_t>(many.id), oneTdef = static_cast<std::uint32_t>(one.id);
    std::int32_t containerId = 0;
    for (const CatalogRow& r : catalog) {
        if (r.parentId == 0x0F000000 && r.type == 3 && r.name == u"Relationships")
            containerId = r.id;
    }
    if (containerId == 0)
        throwError(err::Corrupt, "The catalogue has no Relationships container.");
    for (const CatalogRow& r : catalog)
        if (r.parentId == containerId && sameText(r.name, name))
            throwError(err::ObjectExists, "Relationship '" + fk.name + "' already exists.");
    for (const RelationshipRow& r : relationshipRows())
        if (sameText(r.name, name))
            throwError(err::ObjectExists, "Relationship '" + fk.name + "' already exists.");

    // Columns: as many on each side, each once, of the same type (an AutoNumber is a Long Integer here).
    std::vector<const Col*> from, to;
    auto resolve = [&](const Table& t, const std::string& tableName, const std::vector<std::string>& names,
                       std::vector<const Col*>& out) {
        for (const std::string& cn : names) {
            const Col* c = t.column(utf8ToUtf16(cn));
            if (!c)
                throwError(err::NotInCollection, "Field '" + cn + "' is not a field of table '" + tableName + "'.");
            if (std::find(out.begin(), out.end(), c) != out.end())
                throwError(err::FieldDefinedTwice, "Field '" + cn + "' is named twice in relationship '" +
                                                       fk.name + "'.");
            out.push_back(c);
        }
    };
    resolve(table(manyTdef), fk.table, fk.columns, from);
    resolve(table(oneTdef), fk.referencedTable, fk.referencedColumns, to);
    if (from.size() != to.size() || from.empty())
        throwError(err::RelationshipFields, "Relationship must be on the same number of fields with the same data "
                                            "types.");
    if (from.size() > kMaxIndexColumns)
        throwError(err::TooManyIndexFields, "Relationship '" + fk.name + "' has " + std::to_string(from.size()) +
                                                " fields; an index holds at most 10.");
    for (std::size_t i = 0; i < from.size(); ++i) {
        if (from[i]->type != to[i]->type || from[i]->longValue() || from[i]->type == 0x12)
            throwError(err::RelationshipFields, "Relationship must be on the same number of fields with the same "
                                                "data types ('" + fk.columns[i] + "' and '" +
                                                fk.referencedColumns[i] + "' differ).");
    }

    // The referenced columns are the other table's primary key or one of its unique indexes.
    Table& oneTable = table(oneTdef);
    const LogicalIndex* key = nullptr;
    for (const LogicalIndex& li : oneTable.logical) {
        if (li.realIndex >= oneTable.indexes.size() || li.kind == 2)
            continue;
        const RealIndex& ix = oneTable.indexes[li.realIndex];
        if (!ix.unique() || ix.columns.size() != to.size())
            continue;
        const bool same = std::all_of(ix.columns.begin(), ix.columns.end(), [&](const auto& c) {
            return std::any_of(to.begin(), to.end(), [&](const Col* col) { return col->number == c.first; });
        });
        if (same && (!key || li.kind == 1))
            key = &li;
    }
    if (!key)
        throwError(err::NoUniqueIndex, "No unique index found for the referenced field of the primary table.");
    const std::uint32_t keyReal = key->realIndex;
    const RealIndex keyIndex = oneTable.indexes[keyReal];

    // Limits before anything changes.
    const bool self = manyTdef == oneTdef;
    const std::size_t addedToMany = self ? 2 : 1;
    if (table(manyTdef).logical.size() + addedToMany > kMaxIndexes || oneTable.logical.size() + 1 > kMaxIndexes)
        throwError(err::TooManyIndexes, "The operation failed. There are too many indexes on table '" +
                                            utf16ToUtf8(oneTable.logical.size() + 1 > kMaxIndexes ? one.name
                                                                                                  : many.name) +
                                            "'. Delete some of the indexes on the table and try the operation "
                                            "again.");
    for (const LogicalIndex& li : table(manyTdef).logical)
        if (sameText(li.name, name))
            throwError(err::IndexExists, "Table '" + fk.table + "' already has an index named '" + fk.name + "'.");

    // Every existing row of the referencing table has its parent (or a Null in the foreign key).
    InsertChecks::Parent parent;
    parent.tdef = oneTdef;
    parent.realIndex = keyReal;
    parent.tableName = utf16ToUtf8(one.name);
    for (auto [num, asc] : keyIndex.columns)
        for (std::size_t i = 0; i < to.size(); ++i)
            if (to[i]->number == num)
                parent.from.push_back(from[i]->number);
    {
        Table& t = table(manyTdef);
        std::vector<Cell> cells(t.maxCols);
        bool orphan = false;
        forEachRow(pc(), t, [&](const RowRef& r) {
            if (orphan)
                return;
            const std::vector<RawCell> raw = decodeRow(pc(), t, r.bytes, false);
            for (const Col* c : from)
                cells[c->number] = toCell(*c, c->number < raw.size() ? raw[c->number] : RawCell{});
            const std::vector<std::uint8_t> k = parentKey(parent, cells);
            orphan = !k.empty() && !indexHasKey(table(oneTdef).indexes[keyReal], k);
        });
        if (orphan)
            throwError(err::RelatedRecordRequired, "You cannot add or change a record because a related record is "
                                                   "required in table '" + parent.tableName + "'.");
    }

    std::uint32_t flags = (fk.cascadeUpdates ? kCascadeUpdates : 0) | (fk.cascadeDeletes ? kCascadeDeletes : 0) |
                          (fk.cascadeSetNull ? kCascadeSetNull : 0);
    {
        // One to one: the referencing columns are unique in their own table too.
        const Table& t = table(manyTdef);
        for (const RealIndex& ix : t.indexes)
            if (ix.unique() && ix.columns.size() == from.size() &&
                std::all_of(ix.columns.begin(), ix.columns.end(), [&](const auto& c) {
                    return std::any_of(from.begin(), from.end(), [&](const Col* col) { return col->number == c.first; });
                }))
                flags |= kOneToOne;
    }
    // Adding the indexes reads both definitions again: what the rows below need is copied first.
    std::vector<std::u16string> fromNames, toNames;
    for (std::size_t i = 0; i < from.size(); ++i) {
        fromNames.push_back(from[i]->name);
        toNames.push_back(to[i]->name);
    }
    std::vector<std::pair<std::uint16_t, bool>> manyColumns;
    for (const Col* c : from)
        manyColumns.emplace_back(c->number, true);
    from.clear();
    to.clear();
    const std::uint8_t cascadeUpdates = fk.cascadeUpdates ? 1 : 0;
    const std::uint8_t cascadeDeletes = fk.cascadeDeletes ? 1 : (fk.cascadeSetNull ? 2 : 0);

    // The two logical indexes, each naming the other: the referenced side first, on the key's own real index
    // (same columns in the same order, same flags: addIndex shares it), then the referencing side.
    const std::uint32_t oneNumber = nextLogicalNumber(table(oneTdef));
    const std::uint32_t manyNumber = self ? oneNumber + 1 : nextLogicalNumber(table(manyTdef));
    NewIndex oneSide;
    oneSide.name = referencedIndexName(table(oneTdef), oneNumber);
    oneSide.columns = keyIndex.columns;
    oneSide.flags = static_cast<std::uint8_t>(keyIndex.flags & 0x0B);
    oneSide.kind = 2;
    oneSide.relatedTdef = manyTdef;
    oneSide.relatedIndex = manyNumber;
    oneSide.relTableType = 1;
    oneSide.cascadeUpdates = cascadeUpdates;
    oneSide.cascadeDeletes = cascadeDeletes;
    NewIndex manySide = oneSide;
    manySide.name = name;
    manySide.columns = manyColumns;
    manySide.flags = 0;
    manySide.relatedTdef = oneTdef;
    manySide.relatedIndex = oneNumber;
    manySide.relTableType = 2;
    if (addIndex(table(oneTdef), oneSide) != oneNumber || addIndex(table(manyTdef), manySide) != manyNumber)
        throwError(err::Corrupt, "The indexes of relationship '" + fk.name + "' did not get the numbers expected.");

    // MSysRelationships: one row per column pair, in the order given.
    Table& rel = table(relationshipsPage);
    for (std::size_t i = 0; i < fromNames.size(); ++i) {
        std::vector<Cell> cells(rel.maxCols);
        auto text = [&](const char16_t* col, const std::u16string& value) {
            if (const Col* c = rel.column(col)) {
                cells[c->number].null = false;
                cells[c->number].text = value;
            }
        };
        auto number = [&](const char16_t* col, std::uint32_t value) {
            if (const Col* c = rel.column(col)) {
                cells[c->number].null = false;
                cells[c->number].bytes = le32(static_cast<std::int32_t>(value));
            }
        };
        text(u"szRelationship", name);
        text(u"szObject", many.name);
        text(u"szColumn", fromNames[i]);
        text(u"szReferencedObject", one.name);
        text(u"szReferencedColumn", toNames[i]);
        number(u"grbit", flags);
        number(u"icolumn", static_cast<std::uint32_t>(i));
        number(u"ccolumn", static_cast<std::uint32_t>(fromNames.size()));
        insertRow(rel, cells);
    }

    // The relationship as an object of the catalogue, with the next free synthetic id, and its permissions.
    std::uint32_t id = 0x80000000u;
    for (const CatalogRow& r : catalog)
        if (static_cast<std::uint32_t>(r.id) >= id)
            id = static_cast<std::uint32_t>(r.id) + 1;
    if (id == 0)
        throwError(err::DatabaseFull, "The catalogue has no free object id.");
    insertCatalogRow(static_cast<std::int32_t>(id), containerId, 8, name, {});
    loadCatalog();
}

void WriterImpl::dropConstraint(const sql::DropConstraint& dc)
{
    const CatalogRow many = userTable(dc.table, err::NoSuchTable);
    const std::uint32_t manyTdef = static_cast<std::uint32_t>(many.id);
    const std::u16string name = utf8ToUtf16(dc.name);
    std::vector<RelationshipRow> rows;
    for (RelationshipRow& r : relationshipRows())
        if (sameText(r.name, name) && nameIdentity(r.table) == nameIdentity(many.name))
            rows.push_back(std::move(r));
    if (rows.empty()) {
        // Not a relationship: a primary key or unique index of that name.
        const Table& t = table(manyTdef);
        const bool isKey = std::any_of(t.logical.begin(), t.logical.end(), [&](const LogicalIndex& li) {
            return sameText(li.name, name) && li.kind != 2 && li.realIndex < t.indexes.size() &&
                   (li.kind == 1 || t.indexes[li.realIndex].unique());
        });
        if (!isKey)
            throwError(err::NoSuchConstraint, "Cannot find table or constraint '" + dc.name + "'.");
        dropIndexByName(sql::DropIndex{dc.name, dc.table});
        return;
    }

    // The two logical indexes: the referencing side's carries the relationship's name and names the other.
    {
        Table& t = table(manyTdef);
        const auto it = std::find_if(t.logical.begin(), t.logical.end(), [&](const LogicalIndex& li) {
            return li.kind == 2 && sameText(li.name, name);
        });
        if (it != t.logical.end()) {
            const std::uint32_t manyNumber = it->number, oneTdef = it->relatedTdef, oneNumber = it->relatedIndex;
            Table& o = table(oneTdef);
            const bool found = std::any_of(o.logical.begin(), o.logical.end(), [&](const LogicalIndex& li) {
                return li.kind == 2 && li.number == oneNumber && li.relatedTdef == manyTdef &&
                       li.relatedIndex == manyNumber;
            });
            if (found)
                dropIndex(o, oneNumber);
            dropIndex(table(manyTdef), manyNumber);
        }
    }
    Table& rel = table(relationshipsPage);
    for (const RelationshipRow& r : rows)
        deleteRow(rel, r.rowPtr);

    // The catalogue row under the Relationships container and its permissions.
    std::int32_t containerId = 0;
    for (const CatalogRow& r : catalog)
        if (r.parentId == 0x0F000000 && r.type == 3 && r.name == u"Relationships")
            containerId = r.id;
    for (const CatalogRow& r : catalog) {
        if (r.parentId != containerId || r.type != 8 || !sameText(r.name, rows.front().name))
            continue;
        deleteRow(table(2), r.rowPtr);
        if (acesPage != 0) {
            Table& aces = table(acesPage);
            const Col* cObj = aces.column(u"ObjectId");
            std::vector<std::uint32_t> victims;
            if (cObj)
                forEachRow(pc(), aces, [&](const RowRef& row) {
                    const auto cells = decodeRow(pc(), aces, row.bytes, false);
                    const auto& o = cells[cObj->number];
                    if (o.present && o.bytes.size() == 4 && static_cast<std::int32_t>(rd32(o.bytes.data())) == r.id)
                        victims.push_back(row.page << 8 | row.slot);
                });
            for (std::uint32_t v : victims)
                deleteRow(aces, v);
        }
        break;
    }
    loadCatalog();
}

}  // namespace jet
