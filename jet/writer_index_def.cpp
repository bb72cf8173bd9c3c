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

// An index entry (key + row pointer) in the arena of a build, with its first 16 bytes as two numbers so that
// most comparisons never touch the arena.
struct KeyRef {
    std::uint64_t prefix = 0, prefix2 = 0;
    std::uint32_t off = 0;
    std::uint16_t len = 0;
    bool nullKey = false;  // every key field Null
};

// Bytes from..from+7 of an entry as a big-endian number, zero past its end.
std::uint64_t prefixOf(const std::uint8_t* p, std::size_t n, std::size_t from)
{
    std::uint64_t v = 0;
    for (std::size_t i = from; i < from + 8; ++i)
        v = v << 8 | (i < n ? p[i] : 0);
    return v;
}

// The order of `compare` (bytes, then the shorter first): equal zero-padded prefixes mean the first
// min(len, 16) bytes are equal.
bool less(const KeyRef& a, const KeyRef& b, const std::uint8_t* arena)
{
    if (a.prefix != b.prefix)
        return a.prefix < b.prefix;
    if (a.prefix2 != b.prefix2)
        return a.prefix2 < b.prefix2;
    const std::size_t n = std::min(a.len, b.len);
    if (n > 16)
        if (const int c = std::memcmp(arena + a.off + 16, arena + b.off + 16, n - 16); c != 0)
            return c < 0;
    return a.len < b.len;
}

// A leaf page from a sorted run of entries, laid out as writeIndexPage lays out a leaf (no shared prefix).
void writeLeaf(const Layout& l, std::uint8_t* dst, std::uint32_t tdef, std::uint32_t prev, std::uint32_t next,
               std::span<const KeyRef> run, const std::uint8_t* arena)
{
    std::memset(dst, 0, l.page);
    dst[0] = 0x04;
    dst[1] = 0x01;
    std::size_t pos = 0;
    for (const KeyRef& e : run) {
        std::memcpy(dst + l.ixEntries + pos, arena + e.off, e.len);
        pos += e.len;
        dst[l.ixBitmap + pos / 8] |= static_cast<std::uint8_t>(1u << (pos % 8));
    }
    wr16(dst + 2, static_cast<std::uint32_t>(l.ixCapacity() - pos));
    wr32(dst + 4, tdef);
    wr32(dst + l.ixPrev, prev);
    wr32(dst + l.ixNext, next);
}

}  // namespace

bool WriterImpl::allNull(const RealIndex& ix, const std::vector<RawCell>& cells)
{
    for (auto [num, asc] : ix.columns)
        if (num < cells.size() && cells[num].present)
            return false;
    return true;
}

void WriterImpl::validateIndex(const Table& t, const NewIndex& request)
{
    const std::string name = utf16ToUtf8(request.name);
    if (request.kind == 2) {
        // A relationship's own index: Access names the referenced side ".rA", ".rB", ... itself.
        if (request.name.empty() || request.name.size() > 64)
            throwError(err::InvalidName, "'" + name + "' is not a valid index name: it must be 1 to 64 characters.");
    } else {
        validateName(request.name, name, "index");
    }
    if (t.jet3) {
        std::vector<std::uint8_t> b;
        char16_t bad = 0;
        if (!codePageBytes(t.codePage, request.name, b, bad))
            throwError(err::InvalidName, "'" + name + "' is not a valid index name here: " + describeChar(bad) +
                                             " has no place in the database's code page (" +
                                             std::to_string(t.codePage) + ").");
    }
    for (const LogicalIndex& li : t.logical) {
        if (sameName(li.name, request.name))
            throwError(err::IndexExists, "The table already has an index named '" + name + "'.");
        if (request.kind == 1 && li.kind == 1)
            throwError(err::PrimaryKeyExists, "Primary key already exists (index '" + utf16ToUtf8(li.name) + "').");
    }
    if (t.logical.size() >= kMaxIndexes)
        throwError(err::TooManyIndexes, "The operation failed. There are too many indexes on the table; a table "
                                        "has at most " + std::to_string(kMaxIndexes) + " indexes.");
    if (request.columns.empty())
        throwError(err::NotInCollection, "Index '" + name + "' names no field.");
    if (request.columns.size() > kMaxIndexColumns)
        throwError(err::TooManyIndexFields, "Index '" + name + "' has " + std::to_string(request.columns.size()) +
                                                " fields; an index has at most " +
                                                std::to_string(kMaxIndexColumns) + ".");
    for (std::size_t i = 0; i < request.columns.size(); ++i) {
        const Col* c = t.columnByNumber(request.columns[i].first);
        if (!c)
            throwError(err::NotInCollection, "Index '" + name + "' names a field the table does not have.");
        for (std::size_t j = 0; j < i; ++j)
            if (request.columns[j].first == request.columns[i].first)
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
        const bool keyable = c->type <= 0x0A || memo || c->type == 0x0F || c->type == 0x13 || c->type == 0x14;
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
    std::vector<bool> wanted(t.maxCols, false);
    for (auto [num, asc] : ix.columns) {
        if (num < wanted.size())
            wanted[num] = true;
        if (const Col* c = t.columnByNumber(num); c && c->longValue())
            needLong = true;
    }
    // Every row's entry (key + row pointer) into one arena, then sorted: the tree is written from the sorted
    // run, never entry by entry.
    std::vector<std::uint8_t> arena;
    std::vector<KeyRef> refs;
    const std::size_t expected = std::min<std::size_t>(t.rowCount, 1u << 20);  // the stored count may be wrong
    arena.reserve(expected * 16);
    refs.reserve(expected);
    // The key of a row as indexKey makes it, with the cells and buffers kept from row to row.
    struct KeyColumn {
        const Col* col;
        std::uint16_t number;
        bool ascending;
        SortOrder order;
    };
    std::vector<KeyColumn> keyColumns;
    for (auto [num, asc] : ix.columns) {
        const Col* c = t.columnByNumber(num);
        if (!c)
            throwError(err::Corrupt, "The database is damaged: an index names a missing column.");
        keyColumns.push_back({c, num, asc, (c->type == 0x0A || c->type == 0x0C) ? sortOrderOf(*c)
                                                                                 : SortOrder::GeneralLegacy});
    }
    std::vector<RawCell> cells;
    Cell cell;
    std::vector<std::uint8_t> key;
    auto makeKey = [&] {
        key.clear();
        for (const KeyColumn& k : keyColumns) {
            const RawCell& raw = cells[k.number];
            cell.reset();
            if (k.col->type == 0x01) {
                cell.null = false;
                cell.flag = raw.present;
            } else if (raw.present) {
                cell.null = false;
                if (k.col->type == 0x0A || k.col->type == 0x0C)
                    cell.text = decodeColumnText(*k.col, raw.bytes);
                else
                    cell.bytes.assign(raw.bytes.begin(), raw.bytes.end());
            }
            appendColumnKey(key, static_cast<sql::ColumnType>(k.col->type), cell, k.order, k.ascending);
        }
    };
    forEachRow(pc(), t, [&](const RowRef& r) {
        decodeRowInto(pc(), t, r.bytes, needLong, &wanted, cells);
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
        makeKey();
        requireKeyFits(key.size());
        const std::size_t at = arena.size();
        arena.insert(arena.end(), key.begin(), key.end());
        const std::uint8_t ptr[4] = {static_cast<std::uint8_t>(r.page >> 16), static_cast<std::uint8_t>(r.page >> 8),
                                     static_cast<std::uint8_t>(r.page), r.slot};
        arena.insert(arena.end(), ptr, ptr + 4);
        refs.push_back({prefixOf(&arena[at], key.size() + 4, 0), prefixOf(&arena[at], key.size() + 4, 8),
                        static_cast<std::uint32_t>(at),
                        static_cast<std::uint16_t>(key.size() + 4), nullKey});
    });
    const std::uint8_t* base = arena.data();
    const auto order = [base](const KeyRef& a, const KeyRef& b) { return less(a, b, base); };
    if (!std::is_sorted(refs.begin(), refs.end(), order))  // rows stored in key order need no sort
        std::sort(refs.begin(), refs.end(), order);
    std::uint32_t distinct = 0;
    for (std::size_t i = 0; i < refs.size(); ++i) {
        const KeyRef& a = refs[i];
        const bool same = i > 0 && refs[i - 1].len == a.len &&
                          std::memcmp(base + refs[i - 1].off, base + a.off, a.len - 4u) == 0;
        if (!same)
            ++distinct;
        else if (ix.unique() && !a.nullKey)
            throwError(err::DuplicateKey, "The changes you requested were not successful because they would "
                                          "create duplicate values in an index.");
    }
    // Leaves packed full, in order, linked both ways; their pages are taken first so that each names its
    // neighbours when it is written.
    const std::size_t cap = l.ixCapacity();
    std::vector<std::size_t> starts{0};
    std::size_t used = 0;
    for (std::size_t i = 0; i < refs.size(); ++i) {
        if (used + refs[i].len > cap) {
            starts.push_back(i);
            used = 0;
        }
        used += refs[i].len;
    }
    starts.push_back(refs.size());
    const std::size_t leaves = starts.size() - 1;
    std::vector<std::uint32_t> pages(leaves);
    for (std::uint32_t& p : pages) {
        p = allocPage();
        mapAdd(ix.mapPtr, p);
    }
    std::vector<std::pair<std::uint32_t, std::vector<std::uint8_t>>> children;
    for (std::size_t k = 0; k < leaves; ++k) {
        const std::span<const KeyRef> run(refs.data() + starts[k], starts[k + 1] - starts[k]);
        writeLeaf(l, pc().modify(pages[k]), t.tdefPage, k > 0 ? pages[k - 1] : 0, k + 1 < leaves ? pages[k + 1] : 0,
                  run, base);
        std::vector<std::uint8_t> max;
        if (!run.empty())
            max.assign(base + run.back().off, base + run.back().off + run.back().len);
        children.emplace_back(pages[k], std::move(max));
    }
    // Node levels: every child but a node's last gets an entry (its last entry + page); the last is the tail.
    while (children.size() > 1) {
        std::vector<IndexPage> nodes(1);
        std::vector<std::vector<std::uint8_t>> nodeMax(1);
        std::size_t nodeUsed = 0;
        for (auto& [page, max] : children) {
            const std::size_t size = max.size() + 4;
            if (!nodes.back().entries.empty() && nodeUsed + size > cap) {
                nodes.emplace_back();
                nodeMax.emplace_back();
                nodeUsed = 0;
            }
            nodeUsed += size;
            nodes.back().entries.push_back({max, page});
            nodeMax.back() = max;
        }
        std::vector<std::uint32_t> numbers;
        for (std::size_t i = 0; i < nodes.size(); ++i) {
            numbers.push_back(allocPage());
            mapAdd(ix.mapPtr, numbers.back());
        }
        children.clear();
        for (std::size_t i = 0; i < nodes.size(); ++i) {
            IndexPage& n = nodes[i];
            n.type = 0x03;
            n.tdef = t.tdefPage;
            n.tail = n.entries.back().child;
            n.entries.pop_back();
            n.prev = i > 0 ? numbers[i - 1] : 0;
            n.next = i + 1 < nodes.size() ? numbers[i + 1] : 0;
            savePage(numbers[i], n);
            children.emplace_back(numbers[i], std::move(nodeMax[i]));
        }
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
    // Logical entries in the order `t.logical` has them (the stored order; addIndex places a new one by name).
    const std::vector<LogicalIndex>& logical = t.logical;
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

std::uint32_t WriterImpl::addIndex(Table& t, const NewIndex& request)
{
    validateIndex(t, request);
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
        if (t.indexes[i].columns == request.columns && (t.indexes[i].flags & flagMask) == (request.flags & flagMask))
            shared = i;
    if (!shared) {
        RealIndex ix;
        ix.columns = request.columns;
        ix.flags = static_cast<std::uint8_t>((request.flags & flagMask) | (l.jet3 ? 0x00 : 0x80));
        ix.mapPtr = newIndexMap(t);
        const std::uint32_t distinct = buildIndexTree(t, ix);
        std::vector<std::uint8_t> counter(l.counterSize, 0);
        wr32(&counter[4], distinct);
        counters.push_back(std::move(counter));
        reals.push_back(realDefinition(l, ix));
        shared = static_cast<std::uint32_t>(reals.size() - 1);
    }
    LogicalIndex li;
    li.name = request.name;
    for (const LogicalIndex& o : t.logical)
        li.number = std::max(li.number, o.number + 1);
    li.realIndex = *shared;
    li.kind = request.kind;
    if (request.kind == 2) {
        li.relTableType = request.relTableType;
        li.relatedIndex = request.relatedIndex;
        li.relatedTdef = request.relatedTdef;
        li.cascadeUpdates = request.cascadeUpdates;
        li.cascadeDeletes = request.cascadeDeletes;
    } else {
        li.cascadeUpdates = li.cascadeDeletes = 0x04;  // what Access writes on its plain and primary indexes
    }
    const std::uint32_t number = li.number;
    // Access keeps the entries sorted by name, case ignored: the new one goes before the first greater name
    // (the others keep their stored order).
    const std::u16string key = upper16(li.name);
    auto at = std::find_if(t.logical.begin(), t.logical.end(),
                           [&](const LogicalIndex& o) { return upper16(o.name) > key; });
    t.logical.insert(at, std::move(li));
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
    NewIndex request;
    request.name = utf8ToUtf16(ci.name);
    for (const sql::IndexColumn& c : ci.columns) {
        const Col* col = t.column(utf8ToUtf16(c.name));
        if (!col)
            throwError(err::NotInCollection, "Field '" + c.name + "' of index '" + ci.name +
                                                 "' is not a field of table '" + ci.table + "'.");
        request.columns.emplace_back(col->number, c.ascending);
    }
    request.flags = static_cast<std::uint8_t>((ci.unique || ci.primary ? 0x01 : 0) |
                                           (ci.primary || ci.disallowNull ? 0x08 : 0) | (ci.ignoreNull ? 0x02 : 0));
    request.kind = ci.primary ? 1 : 0;
    addIndex(t, request);
}

std::string WriterImpl::relationshipOf(const std::u16string& tableName, const RealIndex& ix, const Table& t,
                                       const std::u16string& fallback)
{
    // MSysRelationships has a row per column of a relationship: its name, both tables and both columns.
    if (relationshipsPage != 0) {
        Table& rel = table(relationshipsPage);
        const Col* name = rel.column(u"szRelationship");
        const Col* objects[2] = {rel.column(u"szObject"), rel.column(u"szReferencedObject")};
        const Col* columns[2] = {rel.column(u"szColumn"), rel.column(u"szReferencedColumn")};
        std::u16string found;
        if (name && objects[0] && objects[1] && columns[0] && columns[1])
            forEachRow(pc(), rel, [&](const RowRef& r) {
                const auto cells = decodeRow(pc(), rel, r.bytes, false);
                auto text = [&](const Col* c) {
                    return cells[c->number].present ? decodeColumnText(*c, cells[c->number].bytes) : std::u16string();
                };
                for (int side = 0; side < 2 && found.empty(); ++side) {
                    if (!sameName(text(objects[side]), tableName))
                        continue;
                    for (auto [num, asc] : ix.columns)
                        if (const Col* c = t.columnByNumber(num); c && sameName(c->name, text(columns[side])))
                            found = text(name);
                }
            });
        if (!found.empty())
            return utf16ToUtf8(found);
    }
    return utf16ToUtf8(fallback);
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
        if (li.kind == 2 && li.realIndex == target->realIndex)
            throwError(err::InRelationship,
                       "Cannot delete the index '" + di.name + "'; it is used in the relationship '" +
                           relationshipOf(cr.name, t.indexes[li.realIndex], t, li.name) +
                           "'. Delete the relationship first.");
    dropIndex(t, target->number);
}

void WriterImpl::addTableConstraints(const sql::CreateTable& ct)
{
    if (ct.constraints.empty())
        return;
    Table& t = table(static_cast<std::uint32_t>(findTable(utf8ToUtf16(ct.table))->id));
    for (const sql::KeyConstraint& k : ct.constraints) {
        NewIndex request;
        for (const sql::IndexColumn& c : k.columns) {
            const Col* col = t.column(utf8ToUtf16(c.name));
            if (!col)
                throwError(err::NotInCollection, "Field '" + c.name + "' of a key of table '" + ct.table +
                                                     "' is not one of its fields.");
            request.columns.emplace_back(col->number, c.ascending);
        }
        if (!k.name.empty()) {
            request.name = utf8ToUtf16(k.name);
        } else if (k.primary) {
            request.name = u"PrimaryKey";
        } else {
            // Named after its (first) field, as Access names a field's own index; a number follows when taken.
            const std::u16string base = t.columnByNumber(request.columns.front().first)->name;
            request.name = base;
            for (int n = 1; std::any_of(t.logical.begin(), t.logical.end(),
                                        [&](const LogicalIndex& li) { return sameName(li.name, request.name); });
                 ++n)
                request.name = base + utf8ToUtf16(std::to_string(n));
        }
        request.flags = static_cast<std::uint8_t>(k.primary ? 0x09 : 0x01);
        request.kind = k.primary ? 1 : 0;
        addIndex(t, request);
    }
}

}  // namespace jet
