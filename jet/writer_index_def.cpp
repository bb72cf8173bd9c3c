// Index definitions of a table: adding and dropping logical and real indexes, writing the table definition
// again with them, and building a new index's tree from the table's rows in one sorted pass.
#include "writer_impl.h"

namespace jet {

namespace {

std::size_t storedNameSize(const Layout& l, const std::vector<std::uint8_t>& buf, std::size_t pos)
{
    if (pos + l.nameLen > buf.size())
        throwError(err::Corrupt, "The database is damaged: a name runs past the table definition.");
    return l.jet3 ? 1 + buf[pos] : 2 + rd16(&buf[pos]);
}

// A table definition as stored, and where its parts begin.
struct TdefParts {
    std::vector<std::uint8_t> buf;  // the logical buffer, cut to its length
    std::size_t counters = 0, columns = 0, reals = 0, logicals = 0, logicalNames = 0, rest = 0;
    std::uint32_t numReal = 0, numLogical = 0;
};

TdefParts tdefParts(PageSource& src, const Table& t)
{
    const Layout& l = layoutOf(src);
    TdefParts d;
    for (std::size_t k = 0; k < t.tdefPages.size(); ++k) {
        auto p = src.page(t.tdefPages[k]);
        d.buf.insert(d.buf.end(), p.begin() + (k == 0 ? 0 : 8), p.end());
    }
    d.buf.resize(rd32(&d.buf[8]));  // readTable has checked the length
    const std::uint16_t numCols = rd16(&d.buf[l.tdCols]);
    d.numLogical = rd32(&d.buf[l.tdLogical]);
    d.numReal = rd32(&d.buf[l.tdReal]);
    d.counters = l.tdVar;
    d.columns = d.counters + l.counterSize * d.numReal;
    std::size_t pos = d.columns + l.colSize * numCols;
    for (std::uint16_t i = 0; i < numCols; ++i)
        pos += storedNameSize(l, d.buf, pos);
    d.reals = pos;
    d.logicals = d.reals + l.realSize * d.numReal;
    d.logicalNames = d.logicals + l.logicalSize * d.numLogical;
    pos = d.logicalNames;
    for (std::uint32_t i = 0; i < d.numLogical; ++i)
        pos += storedNameSize(l, d.buf, pos);
    if (pos > d.buf.size())
        throwError(err::Corrupt, "The database is damaged: index names run past the table definition.");
    d.rest = pos;
    return d;
}

std::vector<std::uint8_t> slice(const std::vector<std::uint8_t>& b, std::size_t from, std::size_t n)
{
    return {b.begin() + static_cast<std::ptrdiff_t>(from), b.begin() + static_cast<std::ptrdiff_t>(from + n)};
}

// A real index definition as Access writes it: (Jet 4: the constant 1923), ten column slots (0xFFFF unused,
// order byte 0x01 ascending / 0x00 descending), usage map, root page, flags.
std::vector<std::uint8_t> realDefinition(const Layout& l, const RealIndex& ix)
{
    std::vector<std::uint8_t> d(l.realSize, 0);
    if (!l.jet3)
        wr32(d.data(), 1923);
    for (std::size_t k = 0; k < kMaxIndexColumns; ++k) {
        const bool used = k < ix.columns.size();
        wr16(&d[l.realCols + 3 * k], used ? ix.columns[k].first : 0xFFFF);
        d[l.realCols + 2 + 3 * k] = used && ix.columns[k].second ? 0x01 : 0x00;
    }
    wr32(&d[l.realMap], ix.mapPtr);
    wr32(&d[l.realRoot], ix.root);
    d[l.realFlags] = ix.flags;
    return d;
}

void appendLogical(const Layout& l, std::vector<std::uint8_t>& out, const LogicalIndex& li)
{
    std::uint8_t d[28] = {};
    std::uint8_t* e = l.jet3 ? d : d + 4;
    if (!l.jet3)
        wr32(d, 1625);
    wr32(e, li.number);
    wr32(e + 4, li.realIndex);
    e[8] = li.relTableType;
    wr32(e + 9, li.relatedIndex);
    wr32(e + 13, li.relatedTdef);
    e[17] = li.cascadeUpdates;
    e[18] = li.cascadeDeletes;
    e[19] = li.kind;
    if (!l.jet3)
        wr32(e + 20, li.trailer);
    out.insert(out.end(), d, d + l.logicalSize);
}

bool sameName(std::u16string_view a, std::u16string_view b) { return upper16(a) == upper16(b); }

struct SortEntry {
    std::vector<std::uint8_t> bytes;  // key + row pointer
    bool nullKey = false;
};

}  // namespace

bool WriterImpl::allNull(const RealIndex& ix, const std::vector<RawCell>& cells)
{
    for (auto [num, asc] : ix.columns)
        if (num < cells.size() && cells[num].present)
            return false;
    return true;
}

void WriterImpl::validateIndex(const Table& t, const IndexSpec& spec)
{
    const std::string name = utf16ToUtf8(spec.name);
    if (spec.kind != 2)  // a relationship's indexes: its name is checked by ADD CONSTRAINT, ".rB"... are Access's own
        validateName(spec.name, name, "index");
    if (t.jet3) {
        std::vector<std::uint8_t> b;
        char16_t bad = 0;
        if (!codePageBytes(t.codePage, spec.name, b, bad))
            throwError(err::InvalidName, "'" + name + "' is not a valid index name here: " + describeChar(bad) +
                                             " has no place in the database's code page (" +
                                             std::to_string(t.codePage) + ").");
    }
    for (const LogicalIndex& li : t.logical) {
        if (sameName(li.name, spec.name))
            throwError(err::IndexExists, "The table already has an index named '" + name + "'.");
        if (spec.kind == 1 && li.kind == 1)
            throwError(err::PrimaryKeyExists, "Primary key already exists (index '" + utf16ToUtf8(li.name) + "').");
    }
    if (t.logical.size() >= kMaxIndexes)
        throwError(err::TooManyIndexes, "The operation failed. There are too many indexes on the table; a table "
                                        "has at most " + std::to_string(kMaxIndexes) + " indexes.");
    if (spec.columns.empty())
        throwError(err::NotInCollection, "Index '" + name + "' names no field.");
    if (spec.columns.size() > kMaxIndexColumns)
        throwError(err::TooManyIndexFields, "Index '" + name + "' has " + std::to_string(spec.columns.size()) +
                                                " fields; an index has at most " +
                                                std::to_string(kMaxIndexColumns) + ".");
    for (std::size_t i = 0; i < spec.columns.size(); ++i) {
        const Col* c = t.columnByNumber(spec.columns[i].first);
        if (!c)
            throwError(err::NotInCollection, "Index '" + name + "' names a field the table does not have.");
        for (std::size_t j = 0; j < i; ++j)
            if (spec.columns[j].first == spec.columns[i].first)
                throwError(err::FieldDefinedTwice,
                           "Field '" + utf16ToUtf8(c->name) + "' appears twice in index '" + name + "'.");
        const std::string field = utf16ToUtf8(c->name);
        const bool memo = c->type == 0x0C;
        if (c->type == 0x0B || ((c->flags & 0x80) && memo))
            throwError(err::Unsupported, "Cannot index field '" + field +
                                             "': OLE Object and Hyperlink fields cannot be indexed.");
        if (memo && version < 2)
            throwError(err::Unsupported, "Cannot index field '" + field +
                                             "': Memo fields can be indexed only in Access 2007 and later files.");
        const bool keyable = c->type <= 0x0A || memo || c->type == 0x0F || c->type == 0x13;
        if (!keyable || (c->extFlags & 0xC0) == 0xC0)
            throwError(err::Unsupported, "Cannot index field '" + field + "': this engine cannot build index keys "
                                             "for its type.");
        if (c->type == 0x0A || memo)
            sortOrderOf(*c);  // throws for sort orders the engine cannot key
    }
}

std::uint32_t WriterImpl::buildIndexTree(Table& t, RealIndex& ix)
{
    const Layout& l = lay();
    bool needLong = false;
    for (auto [num, asc] : ix.columns)
        if (const Col* c = t.columnByNumber(num); c && c->longValue())
            needLong = true;
    // Every row's entry, then sorted: the tree is written from the sorted run, never entry by entry.
    std::vector<SortEntry> entries;
    entries.reserve(t.rowCount);
    forEachRow(pc(), t, [&](const RowRef& r) {
        const std::vector<RawCell> cells = decodeRow(pc(), t, r.bytes, needLong);
        const bool nullKey = allNull(ix, cells);
        if (ix.ignoreNulls() && nullKey)
            return;
        if (ix.required())
            for (auto [num, asc] : ix.columns) {
                const Col* c = t.columnByNumber(num);
                if (c->type != 0x01 && !(num < cells.size() && cells[num].present))
                    throwError(err::NullInIndex, "Index or primary key cannot contain a Null value (field '" +
                                                     utf16ToUtf8(c->name) + "').");
            }
        SortEntry e{withPointer(indexKey(t, ix, cells), r.page << 8 | r.slot), nullKey};
        if (e.bytes.size() > l.ixCapacity() / 4)
            throwError(err::Unsupported, "An index key of " + std::to_string(e.bytes.size()) +
                                             " bytes is longer than this engine writes; index fewer or shorter "
                                             "fields.");
        entries.push_back(std::move(e));
    });
    std::sort(entries.begin(), entries.end(),
              [](const SortEntry& a, const SortEntry& b) { return compare(a.bytes, b.bytes) < 0; });
    std::uint32_t distinct = 0;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const auto& a = entries[i].bytes;
        const bool same = i > 0 && entries[i - 1].bytes.size() == a.size() &&
                          std::memcmp(entries[i - 1].bytes.data(), a.data(), a.size() - 4) == 0;
        if (!same)
            ++distinct;
        else if (ix.unique() && !entries[i].nullKey)
            throwError(err::DuplicateKey, "The changes you requested were not successful because they would "
                                          "create duplicate values in an index.");
    }
    // Leaves packed full, in order, linked both ways.
    const std::size_t cap = l.ixCapacity();
    std::vector<IndexPage> level(1);
    std::size_t used = 0;
    for (SortEntry& e : entries) {
        if (used + e.bytes.size() > cap) {
            level.emplace_back();
            used = 0;
        }
        used += e.bytes.size();
        level.back().entries.push_back({std::move(e.bytes), 0});
    }
    entries = {};
    // Writes one level: pages numbered, linked, saved; returns (page, last entry) for the level above.
    auto writeLevel = [&](std::vector<IndexPage>& pages, const std::vector<std::vector<std::uint8_t>>& maxima) {
        std::vector<std::uint32_t> numbers;
        for (std::size_t i = 0; i < pages.size(); ++i) {
            numbers.push_back(allocPage());
            mapAdd(ix.mapPtr, numbers.back());
        }
        std::vector<std::pair<std::uint32_t, std::vector<std::uint8_t>>> up;
        for (std::size_t i = 0; i < pages.size(); ++i) {
            IndexPage& p = pages[i];
            p.tdef = t.tdefPage;
            p.prev = i > 0 ? numbers[i - 1] : 0;
            p.next = i + 1 < pages.size() ? numbers[i + 1] : 0;
            savePage(numbers[i], p);
            up.emplace_back(numbers[i], maxima[i]);
        }
        return up;
    };
    std::vector<std::vector<std::uint8_t>> maxima;
    for (const IndexPage& p : level)
        maxima.push_back(p.entries.empty() ? std::vector<std::uint8_t>{} : p.entries.back().bytes);
    auto children = writeLevel(level, maxima);
    // Node levels: every child but a node's last gets an entry (its last entry + page); the last is the tail.
    while (children.size() > 1) {
        std::vector<IndexPage> nodes(1);
        nodes.back().type = 0x03;
        std::vector<std::vector<std::uint8_t>> nodeMax(1);
        std::size_t nodeUsed = 0;
        auto close = [&](IndexPage& n) {
            n.tail = n.entries.back().child;
            n.entries.pop_back();
        };
        for (auto& [page, max] : children) {
            const std::size_t size = max.size() + 4;
            if (!nodes.back().entries.empty() && nodeUsed + size > cap) {
                close(nodes.back());
                nodes.emplace_back();
                nodes.back().type = 0x03;
                nodeMax.emplace_back();
                nodeUsed = 0;
            }
            nodeUsed += size;
            nodes.back().entries.push_back({max, page});
            nodeMax.back() = max;
        }
        close(nodes.back());
        children = writeLevel(nodes, nodeMax);
    }
    ix.root = children.front().first;
    return distinct;
}

void WriterImpl::rewriteTdef(Table& t, const std::vector<std::vector<std::uint8_t>>& counters,
                             const std::vector<std::vector<std::uint8_t>>& reals)
{
    const Layout& l = lay();
    const TdefParts d = tdefParts(pc(), t);
    std::vector<std::uint8_t> out(d.buf.begin(), d.buf.begin() + static_cast<std::ptrdiff_t>(d.counters));
    for (const auto& c : counters)
        out.insert(out.end(), c.begin(), c.end());
    out.insert(out.end(), d.buf.begin() + static_cast<std::ptrdiff_t>(d.columns),
               d.buf.begin() + static_cast<std::ptrdiff_t>(d.reals));
    for (const auto& r : reals)
        out.insert(out.end(), r.begin(), r.end());
    // Logical entries sorted by name, case ignored, as Access keeps them.
    std::vector<LogicalIndex> logical = t.logical;
    std::stable_sort(logical.begin(), logical.end(),
                     [](const LogicalIndex& a, const LogicalIndex& b) { return upper16(a.name) < upper16(b.name); });
    for (const LogicalIndex& li : logical)
        appendLogical(l, out, li);
    for (const LogicalIndex& li : logical) {
        if (l.jet3) {
            std::vector<std::uint8_t> b;
            char16_t bad = 0;
            codePageBytes(t.codePage, li.name, b, bad);
            out.push_back(static_cast<std::uint8_t>(b.size()));
            out.insert(out.end(), b.begin(), b.end());
        } else {
            const std::size_t at = out.size();
            out.resize(at + 2 + 2 * li.name.size());
            wr16(&out[at], static_cast<std::uint32_t>(2 * li.name.size()));
            for (std::size_t i = 0; i < li.name.size(); ++i)
                wr16(&out[at + 2 + 2 * i], li.name[i]);
        }
    }
    out.insert(out.end(), d.buf.begin() + static_cast<std::ptrdiff_t>(d.rest), d.buf.end());
    wr32(&out[8], static_cast<std::uint32_t>(out.size()));
    wr32(&out[l.tdLogical], static_cast<std::uint32_t>(logical.size()));
    wr32(&out[l.tdReal], static_cast<std::uint32_t>(reals.size()));
    // As many definition pages as the bytes need: more are taken, pages no longer needed are freed.
    std::vector<std::uint32_t> pages = t.tdefPages;
    auto capacity = [&](std::size_t n) { return l.page + (n - 1) * (l.page - 8); };
    while (capacity(pages.size()) < out.size())
        pages.push_back(allocPage());
    while (pages.size() > 1 && capacity(pages.size() - 1) >= out.size()) {
        freePage(pages.back());
        pages.pop_back();
    }
    writeTdefPages(pages, out);
    Table fresh = readTable(pc(), t.tdefPage);
    fresh.lastDataPage = t.lastDataPage;
    fresh.lvMaps = std::move(t.lvMaps);
    t = std::move(fresh);
}

std::uint32_t WriterImpl::newIndexMap(const Table& t)
{
    // Beside the table's other usage maps when their page has room, as Access keeps them together.
    std::vector<std::uint32_t> near{t.ownedMap >> 8, t.freeMap >> 8};
    for (const RealIndex& ix : t.indexes)
        near.push_back(ix.mapPtr >> 8);
    const std::size_t size = lay().inlineMapRow;
    for (std::uint32_t pg : near) {
        if (pg == 0 || pg >= pc().pageCount())
            continue;
        auto p = pc().page(pg);
        if (p[0] != 0x01 || rd32(&p[4]) != 0 || !fits(p, size))
            continue;
        const std::vector<std::uint8_t> row(size, 0);
        return pg << 8 | putRow(pc().modify(pg), row);
    }
    return newMapRows(1).front();
}

std::uint32_t WriterImpl::addIndex(Table& t, const IndexSpec& spec)
{
    validateIndex(t, spec);
    const Layout& l = lay();
    const TdefParts d = tdefParts(pc(), t);
    std::vector<std::vector<std::uint8_t>> counters, reals;
    for (std::uint32_t i = 0; i < d.numReal; ++i) {
        counters.push_back(slice(d.buf, d.counters + i * l.counterSize, l.counterSize));
        reals.push_back(slice(d.buf, d.reals + i * l.realSize, l.realSize));
    }
    const std::uint8_t flagMask = 0x0B;  // unique, ignore nulls, required
    std::optional<std::uint32_t> shared;
    for (std::uint32_t i = 0; i < t.indexes.size(); ++i)
        if (t.indexes[i].columns == spec.columns && (t.indexes[i].flags & flagMask) == (spec.flags & flagMask))
            shared = i;
    if (!shared) {
        RealIndex ix;
        ix.columns = spec.columns;
        ix.flags = static_cast<std::uint8_t>((spec.flags & flagMask) | (l.jet3 ? 0x00 : 0x80));
        ix.mapPtr = newIndexMap(t);
        const std::uint32_t distinct = buildIndexTree(t, ix);
        std::vector<std::uint8_t> counter(l.counterSize, 0);
        wr32(&counter[4], distinct);
        counters.push_back(std::move(counter));
        reals.push_back(realDefinition(l, ix));
        shared = static_cast<std::uint32_t>(reals.size() - 1);
    }
    LogicalIndex li;
    li.name = spec.name;
    for (const LogicalIndex& o : t.logical)
        li.number = std::max(li.number, o.number + 1);
    li.realIndex = *shared;
    li.kind = spec.kind;
    if (spec.kind == 2) {
        li.relTableType = spec.relTableType;
        li.relatedIndex = spec.relatedIndex;
        li.relatedTdef = spec.relatedTdef;
        li.cascadeUpdates = spec.cascadeUpdates;
        li.cascadeDeletes = spec.cascadeDeletes;
    } else {
        li.cascadeUpdates = li.cascadeDeletes = 0x04;  // what Access writes on its plain and primary indexes
    }
    const std::uint32_t number = li.number;
    t.logical.push_back(std::move(li));
    rewriteTdef(t, counters, reals);
    return number;
}

void WriterImpl::dropIndex(Table& t, std::uint32_t logicalNumber)
{
    const Layout& l = lay();
    auto it = std::find_if(t.logical.begin(), t.logical.end(),
                           [&](const LogicalIndex& li) { return li.number == logicalNumber; });
    if (it == t.logical.end())
        throwError(err::NotInCollection, "The table has no index number " + std::to_string(logicalNumber) + ".");
    const std::uint32_t real = it->realIndex;
    const TdefParts d = tdefParts(pc(), t);
    t.logical.erase(it);
    std::vector<std::vector<std::uint8_t>> counters, reals;
    for (std::uint32_t i = 0; i < d.numReal; ++i) {
        counters.push_back(slice(d.buf, d.counters + i * l.counterSize, l.counterSize));
        reals.push_back(slice(d.buf, d.reals + i * l.realSize, l.realSize));
    }
    const bool stillUsed = std::any_of(t.logical.begin(), t.logical.end(),
                                       [&](const LogicalIndex& li) { return li.realIndex == real; });
    if (!stillUsed && real < t.indexes.size()) {
        // The real index goes: its pages, its usage map (row and any bitmap pages), its definition.
        const RealIndex& ix = t.indexes[real];
        std::vector<std::uint32_t> pages = mapMembers(pc(), ix.mapPtr);
        pages.push_back(ix.root);
        auto row = rowAt(pc(), ix.mapPtr);
        if (row[0] == 0x01)
            for (std::size_t k = 0; k * 4 + 5 <= row.size(); ++k)
                if (std::uint32_t bp = rd32(&row[1 + 4 * k]))
                    pages.push_back(bp);
        std::sort(pages.begin(), pages.end());
        pages.erase(std::unique(pages.begin(), pages.end()), pages.end());
        std::uint8_t* mp = pc().modify(ix.mapPtr >> 8);
        const std::size_t slotAt = l.rowTable + 2 * (ix.mapPtr & 0xFF);
        wr16(mp + slotAt, rd16(mp + slotAt) | 0xC000);
        // A page of usage maps that no table owns goes when its last map does.
        bool live = false;
        for (unsigned k = 0; k < rd16(mp + l.rowCount); ++k)
            live = live || !(rd16(mp + l.rowTable + 2 * k) & 0x8000);
        if (!live && rd32(mp + 4) == 0)
            pages.push_back(ix.mapPtr >> 8);
        for (std::uint32_t p : pages)
            if (p > 2 && p < pc().pageCount())
                freePage(p);
        counters.erase(counters.begin() + real);
        reals.erase(reals.begin() + real);
        for (LogicalIndex& li : t.logical)
            if (li.realIndex > real)
                --li.realIndex;
    }
    rewriteTdef(t, counters, reals);
}

// ---- SQL -------------------------------------------------------------------------------------------

void WriterImpl::createIndex(const sql::CreateIndex& ci)
{
    const CatalogRow& cr = userTable(ci.table, err::NoSuchTable);
    Table& t = table(static_cast<std::uint32_t>(cr.id));
    IndexSpec spec;
    spec.name = utf8ToUtf16(ci.name);
    for (const sql::IndexColumn& c : ci.columns) {
        const Col* col = t.column(utf8ToUtf16(c.name));
        if (!col)
            throwError(err::NotInCollection, "Field '" + c.name + "' of index '" + ci.name +
                                                 "' is not a field of table '" + ci.table + "'.");
        spec.columns.emplace_back(col->number, c.ascending);
    }
    spec.flags = static_cast<std::uint8_t>((ci.unique || ci.primary ? 0x01 : 0) |
                                           (ci.primary || ci.disallowNull ? 0x08 : 0) | (ci.ignoreNull ? 0x02 : 0));
    spec.kind = ci.primary ? 1 : 0;
    addIndex(t, spec);
}

void WriterImpl::dropIndexByName(const sql::DropIndex& di)
{
    const CatalogRow& cr = userTable(di.table, err::NoSuchTable);
    Table& t = table(static_cast<std::uint32_t>(cr.id));
    const std::u16string name = utf8ToUtf16(di.name);
    const LogicalIndex* target = nullptr;
    for (const LogicalIndex& li : t.logical)
        if (sameName(li.name, name))
            target = &li;
    if (!target)
        throwError(err::NotInCollection, "Table '" + di.table + "' has no index named '" + di.name + "'.");
    // An index a relationship relies on stays: the relationship goes first.
    for (const LogicalIndex& li : t.logical)
        if (li.kind == 2 && (li.realIndex == target->realIndex))
            throwError(err::InRelationship,
                       "Cannot delete the index '" + di.name + "'; it is used in one or more relationships (index '" +
                           utf16ToUtf8(li.name) + "'). Delete the relationship first.");
    dropIndex(t, target->number);
}

void WriterImpl::addTableConstraints(const sql::CreateTable& ct)
{
    if (ct.constraints.empty())
        return;
    Table& t = table(static_cast<std::uint32_t>(findTable(utf8ToUtf16(ct.table))->id));
    for (const sql::KeyConstraint& k : ct.constraints) {
        IndexSpec spec;
        for (const sql::IndexColumn& c : k.columns) {
            const Col* col = t.column(utf8ToUtf16(c.name));
            if (!col)
                throwError(err::NotInCollection, "Field '" + c.name + "' of a key of table '" + ct.table +
                                                     "' is not one of its fields.");
            spec.columns.emplace_back(col->number, c.ascending);
        }
        if (!k.name.empty()) {
            spec.name = utf8ToUtf16(k.name);
        } else if (k.primary) {
            spec.name = u"PrimaryKey";
        } else {
            // Named after its (first) field, as Access names a field's own index; a number follows when taken.
            const std::u16string base = t.columnByNumber(spec.columns.front().first)->name;
            spec.name = base;
            for (int n = 1; std::any_of(t.logical.begin(), t.logical.end(),
                                        [&](const LogicalIndex& li) { return sameName(li.name, spec.name); });
                 ++n)
                spec.name = base + utf8ToUtf16(std::to_string(n));
        }
        spec.flags = static_cast<std::uint8_t>(k.primary ? 0x09 : 0x01);
        spec.kind = k.primary ? 1 : 0;
        addIndex(t, spec);
    }
}

}  // namespace jet
