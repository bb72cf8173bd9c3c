// The writer's catalogue: loading it, finding tables by name, checking new names, and the system tables
// of a new database.
#include "writer_impl.h"

namespace jet {

void WriterImpl::loadCatalog()
{
    catalog.clear();
    tableByName.clear();
    insertChecks.clear();
    Table& mso = table(2);
    const Col* cId = mso.column(u"Id");
    const Col* cParent = mso.column(u"ParentId");
    const Col* cName = mso.column(u"Name");
    const Col* cType = mso.column(u"Type");
    const Col* cFlags = mso.column(u"Flags");
    const Col* cOwner = mso.column(u"Owner");
    if (!cId || !cParent || !cName || !cType || !cFlags)
        throwError(err::Corrupt, "The catalogue (MSysObjects) lacks one of its columns.");
    catalogOrder = sortOrderOf(*cName);
    lastIdentityName.clear();
    lastIdentity = "U";
    std::memcpy(sortBytes, cName->misc, 4);
    std::vector<std::uint8_t> dbOwner;
    forEachRow(pc(), mso, [&](const RowRef& r) {
        const auto cells = decodeRow(pc(), mso, r.bytes, false);
        CatalogRow row;
        auto i32 = [&](const Col* c) {
            const auto& b = cells[c->number];
            return b.present && b.bytes.size() >= 4 ? static_cast<std::int32_t>(rd32(b.bytes.data())) : 0;
        };
        row.id = i32(cId);
        row.parentId = i32(cParent);
        row.flags = i32(cFlags);
        const auto& tb = cells[cType->number];
        row.type = tb.present && tb.bytes.size() >= 2 ? static_cast<std::int16_t>(rd16(tb.bytes.data())) : 0;
        if (cells[cName->number].present)
            row.name = decodeColumnText(*cName, cells[cName->number].bytes);
        row.rowPtr = r.page << 8 | r.slot;
        if (row.name == u"MSysDb" && cOwner && cells[cOwner->number].present)
            dbOwner = cells[cOwner->number].bytes;
        catalog.push_back(std::move(row));
    });
    for (const CatalogRow& r : catalog)
        if (r.parentId == 0x0F000000 && r.name == u"Tables" && r.type == 3)
            tablesId = r.id;
    if (tablesId == 0)
        throwError(err::Corrupt, "The catalogue has no Tables container.");
    owner = dbOwner;
    for (std::size_t i = 0; i < catalog.size(); ++i) {
        const CatalogRow& r = catalog[i];
        if (r.parentId == tablesId)
            tableByName[nameIdentity(r.name)] = i;
        if (r.parentId == tablesId && r.type == 1 && r.name == u"MSysACEs")
            acesPage = static_cast<std::uint32_t>(r.id);
        if (r.parentId == tablesId && r.type == 1 && r.name == u"MSysRelationships")
            relationshipsPage = static_cast<std::uint32_t>(r.id);
    }
}

std::string WriterImpl::nameIdentity(std::u16string_view name) const
{
    // A run of INSERTs names the same table each time: remember the last answer.
    if (name == lastIdentityName)
        return lastIdentity;
    std::string identity;
    try {
        std::vector<std::uint8_t> key;
        appendTextKey(key, name, catalogOrder, true);
        identity = "K" + std::string(key.begin(), key.end());
    } catch (const Error&) {
        identity = "U" + utf16ToUtf8(upper16(name));
    }
    lastIdentityName = name;
    lastIdentity = identity;
    return identity;
}

const CatalogRow* WriterImpl::findTable(std::u16string_view name)
{
    auto it = tableByName.find(nameIdentity(name));
    if (it == tableByName.end())
        return nullptr;
    return &catalog[it->second];
}

const CatalogRow& WriterImpl::userTable(const std::string& name, int missingError)
{
    const CatalogRow* r = findTable(utf8ToUtf16(name));
    if (!r || r->type != 1)
        throwError(missingError, missingError == err::NoSuchTable
                                     ? "Table '" + name + "' does not exist."
                                     : "The Microsoft Access database engine cannot find the input table or "
                                       "query '" + name + "'. Make sure it exists and that its name is "
                                       "spelled correctly.");
    return *r;
}

void WriterImpl::validateName(const std::u16string& n, const std::string& utf8, const char* what)
{
    if (n.empty() || n.size() > 64 || n.front() == ' ' || n.back() == ' ')
        throwError(err::InvalidName, "'" + utf8 + "' is not a valid " + what +
                                         " name: it must be 1 to 64 characters and not begin or end with a blank.");
    for (char16_t c : n)
        if (!validNameChar(c))
            throwError(err::InvalidName, "'" + utf8 + "' is not a valid " + what +
                                             " name: it must not contain . ! ` [ ] or control characters.");
}

namespace w {

namespace {

// The end of a definition of one of the engine's own tables, the same in both families but for the logical
// index entries: sorted by name, 20 bytes each in Access 97 (number, real index, FF FF FF FF at 9, the
// cascade bytes 04 04 at 17, kind at 19); Jet 4 puts a 4-byte marker (1625) in front and 4 zero bytes
// behind. Then their names, the long-value maps, FF FF.
template <class NewMap, class PutName>
void appendSystemTdefTail(std::vector<std::uint8_t>& buf, const SystemTable& st, bool jet4,
                          const std::vector<std::size_t>& longCols, NewMap& newMap, PutName& putName)
{
    std::vector<SystemLogicalIndex> logical = st.logical;
    std::sort(logical.begin(), logical.end(),
              [](const SystemLogicalIndex& a, const SystemLogicalIndex& b) { return a.name < b.name; });
    for (const SystemLogicalIndex& li : logical) {
        std::uint8_t d[28] = {};
        std::uint8_t* e = jet4 ? d + 4 : d;
        if (jet4)
            wr32(d, 1625);
        wr32(e, li.number);
        wr32(e + 4, li.realIndex);
        wr32(e + 9, 0xFFFFFFFFu);
        e[17] = 0x04;  // what the engine writes in the cascade bytes of its own tables
        e[18] = 0x04;
        e[19] = li.kind;
        buf.insert(buf.end(), d, d + (jet4 ? 28 : 20));
    }
    for (const SystemLogicalIndex& li : logical)
        putName(buf, li.name);
    for (std::size_t k : longCols) {
        std::uint8_t e[10];
        wr16(e, static_cast<std::uint16_t>(k));
        wr32(e + 2, newMap(0));
        wr32(e + 6, newMap(0));
        buf.insert(buf.end(), e, e + 10);
    }
    buf.push_back(0xFF);
    buf.push_back(0xFF);
}

// The definition of one of the engine's own tables in an Access 97 file: the 0x2B-byte header ('VC' at 2, as
// Access 97 writes every definition page), 8-byte index counters, 18-byte column descriptors in column order
// (number at 1, variable index at 3, 01 00 at 7, sort order at 9, code page at 11, flags 13, fixed offset
// 14, length 16), names, 39-byte real and 20-byte logical index definitions, the long-value maps.
template <class NewMap, class PutName, class NewRoot>
std::vector<std::uint8_t> systemTdef97(const SystemTable& st, const std::vector<std::uint16_t>& varIndex,
                                       const std::vector<std::uint16_t>& fixedOffset,
                                       const std::vector<std::size_t>& longCols, const std::uint8_t sortBytes[4],
                                       NewMap& newMap, PutName& putName, NewRoot newRoot)
{
    const std::size_t n = st.columns.size();
    std::uint16_t vars = 0;
    for (const SystemColumn& c : st.columns)
        vars = static_cast<std::uint16_t>(vars + ((c.flags & 0x01) ? 0 : 1));
    std::vector<std::uint8_t> buf(0x2B, 0);
    buf[0] = 0x02;
    buf[1] = 0x01;
    buf[2] = 'V';
    buf[3] = 'C';
    buf[0x14] = 0x53;  // 'S': a table of the engine's own
    wr16(&buf[0x15], static_cast<std::uint16_t>(n));
    wr16(&buf[0x17], vars);
    wr16(&buf[0x19], static_cast<std::uint16_t>(n));
    wr32(&buf[0x1B], static_cast<std::uint32_t>(st.logical.size()));
    wr32(&buf[0x1F], static_cast<std::uint32_t>(st.indexes.size()));
    wr32(&buf[0x23], newMap(0));
    wr32(&buf[0x27], newMap(0));
    buf.resize(buf.size() + 8 * st.indexes.size(), 0);
    for (std::size_t k = 0; k < n; ++k) {
        const SystemColumn& c = st.columns[k];
        std::uint8_t d[18] = {};
        d[0] = c.type;
        wr16(d + 1, static_cast<std::uint16_t>(k));
        wr16(d + 3, varIndex[k]);
        wr16(d + 7, 1);
        d[9] = sortBytes[0];
        d[10] = sortBytes[1];
        wr16(d + 11, 1252);
        d[13] = c.flags;
        wr16(d + 14, fixedOffset[k]);
        wr16(d + 16, c.length);
        buf.insert(buf.end(), d, d + 18);
    }
    for (const SystemColumn& c : st.columns)
        putName(buf, c.name);
    for (const SystemIndex& ix : st.indexes) {
        const std::uint32_t root = newRoot();
        std::uint8_t d[39] = {};
        for (int k = 0; k < 10; ++k) {
            const bool used = static_cast<std::size_t>(k) < ix.columns.size();
            wr16(d + 3 * k, used ? ix.columns[static_cast<std::size_t>(k)].first : 0xFFFF);
            d[2 + 3 * k] = used && ix.columns[static_cast<std::size_t>(k)].second ? 0x01 : 0x00;
        }
        wr32(d + 30, newMap(root));
        wr32(d + 34, root);
        d[38] = ix.flags;
        buf.insert(buf.end(), d, d + 39);
    }
    appendSystemTdefTail(buf, st, false, longCols, newMap, putName);
    wr32(&buf[8], static_cast<std::uint32_t>(buf.size()));
    return buf;
}

}  // namespace

void buildSystemTables(PageCache& cache, const std::vector<SystemTable>& tables, const std::uint8_t sortBytes[4],
                       std::vector<NewCatalogEntry> catalog, const std::vector<NewAce>& aces, double created)
{
    WriterImpl wi;
    wi.external = &cache;
    std::memcpy(wi.sortBytes, sortBytes, 4);
    // Definition pages first, in order: MSysObjects lands on page 2.
    std::vector<std::uint32_t> tdefs;
    for (std::size_t i = 0; i < tables.size(); ++i)
        tdefs.push_back(wi.allocPage());
    // The usage-map rows of the catalogue, on data pages of their own: one on Jet 4 / ACE; a 2 KiB page holds
    // 15 of the larger Access 97 rows, so there a new page is started when one is full.
    const Layout& l = layoutOf(cache);
    std::uint32_t mapPage = 0;
    auto newMap = [&](std::uint32_t firstPage) {
        if (mapPage == 0 || !WriterImpl::fits(l, cache.page(mapPage), l.inlineMapRow)) {
            mapPage = wi.allocPage();
            WriterImpl::initDataPage(l, cache.modify(mapPage), 0);
        }
        std::vector<std::uint8_t> row(l.inlineMapRow, 0);
        if (firstPage != 0) {
            wr32(row.data() + 1, firstPage / 8 * 8);
            row[5 + (firstPage % 8) / 8] |= static_cast<std::uint8_t>(1u << (firstPage % 8));
        }
        const std::uint8_t slot = WriterImpl::putRow(l, cache.modify(mapPage), row);
        return mapPage << 8 | slot;
    };
    // An empty root page for an index of the table defined on page `tdef`.
    auto newRoot = [&](std::uint32_t tdef) {
        const std::uint32_t root = wi.allocPage();
        IndexPage empty;
        empty.type = 0x04;
        empty.tdef = tdef;
        writeIndexPage(l, cache.modify(root), empty);
        return root;
    };
    // Names in an Access 97 definition: a length byte and the code-page bytes (the engine's names are ASCII).
    auto putName = [&](std::vector<std::uint8_t>& buf, const std::u16string& nm) {
        if (l.jet3) {
            buf.push_back(static_cast<std::uint8_t>(nm.size()));
            for (char16_t ch : nm)
                buf.push_back(static_cast<std::uint8_t>(ch));
            return;
        }
        std::uint8_t len[2];
        wr16(len, static_cast<std::uint16_t>(2 * nm.size()));
        buf.insert(buf.end(), len, len + 2);
        for (char16_t ch : nm) {
            buf.push_back(static_cast<std::uint8_t>(ch));
            buf.push_back(static_cast<std::uint8_t>(ch >> 8));
        }
    };
    for (std::size_t t = 0; t < tables.size(); ++t) {
        const SystemTable& st = tables[t];
        const std::uint32_t tdef = tdefs[t];
        const std::size_t n = st.columns.size();
        // Display order: by name, as the engine stores its own tables.
        std::vector<std::size_t> order(n);
        for (std::size_t i = 0; i < n; ++i)
            order[i] = i;
        std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
            return upper16(st.columns[a].name) < upper16(st.columns[b].name);
        });
        std::vector<std::uint16_t> varIndex(n, 0), fixedOffset(n, 0);
        std::uint16_t vars = 0, fixedPos = 0;
        std::vector<std::size_t> longCols;
        for (std::size_t i = 0; i < n; ++i) {
            const SystemColumn& c = st.columns[i];
            if (c.flags & 0x01) {
                varIndex[i] = vars;
                if (c.type != 0x01) {
                    fixedOffset[i] = fixedPos;
                    fixedPos = static_cast<std::uint16_t>(fixedPos + c.length);
                }
            } else {
                varIndex[i] = vars++;
                if (c.type == 0x0B || c.type == 0x0C)
                    longCols.push_back(i);
            }
        }
        if (l.jet3) {
            std::vector<std::uint8_t> buf = systemTdef97(st, varIndex, fixedOffset, longCols, sortBytes, newMap,
                                                         putName, [&] { return newRoot(tdef); });
            if (buf.size() > l.page)
                throwError(err::Corrupt, "Internal error: a system table definition does not fit one page.");
            std::uint8_t* p = cache.modify(tdef);
            std::memset(p, 0, l.page);
            std::memcpy(p, buf.data(), buf.size());
            continue;
        }
        std::vector<std::uint8_t> buf(0x3F, 0);
        buf[0] = 0x02;
        buf[1] = 0x01;
        wr32(&buf[0x0C], 1625);
        buf[0x18] = 0x01;
        buf[0x28] = 0x53;  // 'S': a table of the engine's own
        wr16(&buf[0x29], static_cast<std::uint16_t>(n));
        wr16(&buf[0x2B], vars);
        wr16(&buf[0x2D], static_cast<std::uint16_t>(n));
        wr32(&buf[0x2F], static_cast<std::uint32_t>(st.logical.size()));
        wr32(&buf[0x33], static_cast<std::uint32_t>(st.indexes.size()));
        wr32(&buf[0x37], newMap(0));
        wr32(&buf[0x3B], newMap(0));
        buf.resize(buf.size() + 12 * st.indexes.size(), 0);
        for (std::size_t k : order) {
            const SystemColumn& c = st.columns[k];
            std::uint8_t d[25] = {};
            d[0] = c.type;
            wr32(d + 1, 1625);
            wr16(d + 5, static_cast<std::uint16_t>(k));
            wr16(d + 7, varIndex[k]);
            wr16(d + 9, static_cast<std::uint16_t>(k));
            if (c.type == 0x0A || c.type == 0x0C)
                std::memcpy(d + 11, sortBytes, 4);
            else {
                d[11] = 0x09;
                d[12] = 0x04;
            }
            d[15] = c.flags;
            wr16(d + 21, fixedOffset[k]);
            wr16(d + 23, c.length);
            buf.insert(buf.end(), d, d + 25);
        }
        for (std::size_t k : order)
            putName(buf, st.columns[k].name);
        for (const SystemIndex& ix : st.indexes) {
            const std::uint32_t root = newRoot(tdef);
            std::uint8_t d[52] = {};
            wr32(d, 1923);
            for (int k = 0; k < 10; ++k) {
                const bool used = static_cast<std::size_t>(k) < ix.columns.size();
                wr16(d + 4 + 3 * k, used ? ix.columns[static_cast<std::size_t>(k)].first : 0xFFFF);
                d[6 + 3 * k] = used && ix.columns[static_cast<std::size_t>(k)].second ? 0x01 : 0x00;
            }
            wr32(d + 34, newMap(root));
            wr32(d + 38, root);
            d[46] = ix.flags;
            buf.insert(buf.end(), d, d + 52);
        }
        appendSystemTdefTail(buf, st, true, longCols, newMap, putName);
        if (buf.size() > kPage)
            throwError(err::Corrupt, "Internal error: a system table definition does not fit one page.");
        wr32(&buf[8], static_cast<std::uint32_t>(buf.size()));
        std::uint8_t* p = cache.modify(tdef);
        std::memset(p, 0, kPage);
        std::memcpy(p, buf.data(), buf.size());
        wr16(p + 2, static_cast<std::uint16_t>(kPage - buf.size() - 8));
    }
    // Catalogue rows.
    Table& mso = wi.table(tdefs.at(0));
    for (NewCatalogEntry& e : catalog) {
        if (e.id == 0)
            for (std::size_t t = 0; t < tables.size(); ++t)
                if (tables[t].name == e.name)
                    e.id = static_cast<std::int32_t>(tdefs[t]);
        std::vector<Cell> cells(mso.maxCols);
        auto set = [&](const char16_t* col, std::vector<std::uint8_t> bytes) {
            const Col* c = mso.column(col);
            cells[c->number].null = false;
            cells[c->number].bytes = std::move(bytes);
        };
        set(u"Id", le32(e.id));
        set(u"ParentId", le32(e.parentId));
        set(u"Type", le16(e.type));
        set(u"DateCreate", le64d(created));
        set(u"DateUpdate", le64d(created));
        set(u"Flags", le32(static_cast<std::int32_t>(e.flags)));
        if (!e.owner.empty())
            set(u"Owner", e.owner);
        const Col* name = mso.column(u"Name");
        cells[name->number].null = false;
        cells[name->number].text = e.name;
        wi.insertRow(mso, cells);
    }
    Table& aceTable = wi.table(tdefs.at(1));
    for (const NewAce& a : aces) {
        std::int32_t id = a.objectId;
        std::vector<Cell> cells(aceTable.maxCols);
        cells[aceTable.column(u"ObjectId")->number] = Cell{false, false, le32(id), {}};
        cells[aceTable.column(u"SID")->number] = Cell{false, false, a.sid, {}};
        cells[aceTable.column(u"ACM")->number] = Cell{false, false, le32(static_cast<std::int32_t>(a.acm)), {}};
        cells[aceTable.column(u"FInheritable")->number] = Cell{false, a.inheritable, {}, {}};
        wi.insertRow(aceTable, cells);
    }
}

}  // namespace w

}  // namespace jet
