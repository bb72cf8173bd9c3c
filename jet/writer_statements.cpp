// The writer's statements: CREATE TABLE, INSERT, DROP TABLE and copying a table.
#include "writer_impl.h"

#include "writer_props.h"

namespace jet {

void WriterImpl::createTable(const sql::CreateTable& ct)
{
    const std::u16string name = utf8ToUtf16(ct.table);
    validateName(name, ct.table, "table");
    char16_t bad = 0;
    if (catalogOrder == SortOrder::General97 || !canKeyText(name, catalogOrder, bad)) {
        std::vector<std::uint8_t> probe;
        appendTextKey(probe, name, catalogOrder, true);  // throws naming the character
    }
    if (findTable(name))
        throwError(err::TableExists, "Table '" + ct.table + "' already exists.");
    if (ct.columns.empty())
        throwError(err::NoFields, "Table '" + ct.table + "' must have at least one field.");
    if (ct.columns.size() > 255)
        throwError(err::TooManyFields, "Too many fields defined: " + std::to_string(ct.columns.size()) +
                                           " (at most 255).");
    std::vector<std::u16string> names;
    for (const auto& c : ct.columns) {
        std::u16string cn = utf8ToUtf16(c.name);
        validateName(cn, c.name, "field");
        for (const auto& o : names)
            if (upper16(o) == upper16(cn))
                throwError(err::FieldDefinedTwice, "Field '" + c.name + "' is defined more than once.");
        names.push_back(cn);
        if (c.type == SqlType::BigInt && version < 5)
            throwError(err::Unsupported, "Large Number (BIGINT) fields need an Access 2016 or later file; '" +
                                             path + "' is older.");
        if (c.type == SqlType::DateTimeExt && version < 6)
            throwError(err::Unsupported, "Date/Time Extended (DATETIME2) fields need an Access 2019 or later file; '" +
                                             path + "' is older.");
        if (jet3() && c.type == SqlType::Decimal)
            throwError(err::Unsupported, "Field '" + c.name + "': Access 97 files have no Decimal fields.");
        if (jet3() && (c.type == SqlType::Text || c.type == SqlType::Binary) && c.size > 255)
            throwError(err::FieldTooSmall, "Field '" + c.name + "': Access 97 Text and Binary fields hold at "
                                           "most 255 bytes.");
    }
    if (jet3()) {
        createTableJet3(ct, name, names);
        return;
    }

    // Layout: numbers in order, variable columns get variable indexes, fixed ones offsets.
    const std::size_t n = ct.columns.size();
    std::vector<std::uint8_t> desc;
    std::uint16_t varIdx = 0, fixedOff = 0;
    std::size_t longCols = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const sql::ColumnDef& c = ct.columns[i];
        std::uint8_t d[25] = {};
        d[0] = static_cast<std::uint8_t>(c.type);
        wr32(d + 1, 1625);
        wr16(d + 5, static_cast<std::uint16_t>(i));
        wr16(d + 9, static_cast<std::uint16_t>(i));
        bool fixed = true;
        std::uint16_t len = 0;
        switch (c.type) {
        case SqlType::Boolean: len = 1; break;
        case SqlType::Byte: len = 1; break;
        case SqlType::Integer: len = 2; break;
        case SqlType::Long: len = 4; break;
        case SqlType::Single: len = 4; break;
        case SqlType::Currency:
        case SqlType::Double:
        case SqlType::DateTime:
        case SqlType::BigInt: len = 8; break;
        case SqlType::Guid: len = 16; break;
        case SqlType::Decimal: len = 17; break;
        case SqlType::DateTimeExt: len = 42; break;
        case SqlType::Text: fixed = false; len = static_cast<std::uint16_t>(2 * c.size); break;
        case SqlType::Binary: fixed = false; len = static_cast<std::uint16_t>(c.size); break;
        case SqlType::Memo:
        case SqlType::Ole: fixed = false; len = 0; break;
        }
        if (c.type == SqlType::Text || c.type == SqlType::Memo) {
            std::memcpy(d + 11, sortBytes, 4);
            d[16] = 0x01;  // Unicode compression
        } else if (c.type == SqlType::Decimal) {
            d[11] = static_cast<std::uint8_t>(c.precision);
            d[12] = static_cast<std::uint8_t>(c.scale);
        } else if (c.type == SqlType::DateTimeExt) {
            d[11] = 0x09;  // as Access 2019 writes these columns
            d[12] = 0x07;
        } else {
            d[11] = 0x09;
            d[12] = 0x04;
        }
        d[15] = static_cast<std::uint8_t>((fixed ? 0x03 : 0x02) | (c.autoNumber ? 0x04 : 0x00));
        if (fixed) {
            wr16(d + 7, varIdx);
            if (c.type != SqlType::Boolean) {
                wr16(d + 21, fixedOff);
                fixedOff = static_cast<std::uint16_t>(fixedOff + len);
            }
        } else {
            wr16(d + 7, varIdx++);
            if (c.type == SqlType::Memo || c.type == SqlType::Ole)
                ++longCols;
        }
        wr16(d + 23, len);
        desc.insert(desc.end(), d, d + 25);
    }
    std::size_t namesLen = 0;
    for (const auto& nm : names)
        namesLen += 2 + 2 * nm.size();
    const std::size_t tdefLen = 63 + 25 * n + namesLen + 10 * longCols + 2;
    const std::size_t mapRows = 2 + 2 * longCols;

    // Pages: the definition (first page = table id), then pages for the usage-map rows (57 to a page).
    const std::uint32_t tdef = allocPage();
    std::vector<std::uint32_t> tdefPages{tdef};
    std::size_t capacity = kPage;
    while (capacity < tdefLen) {
        tdefPages.push_back(allocPage());
        capacity += kPage - 8;
    }
    const std::vector<std::uint32_t> mapPtrs = newMapRows(mapRows);
    std::vector<std::uint8_t> buf(tdefLen, 0);
    buf[0] = 0x02;
    buf[1] = 0x01;
    wr32(&buf[8], static_cast<std::uint32_t>(tdefLen));
    wr32(&buf[0x0C], 1625);
    buf[0x18] = 0x01;
    buf[0x28] = 0x4E;
    wr16(&buf[0x29], static_cast<std::uint16_t>(n));
    wr16(&buf[0x2B], varIdx);
    wr16(&buf[0x2D], static_cast<std::uint16_t>(n));
    wr32(&buf[0x37], mapPtrs[0]);
    wr32(&buf[0x3B], mapPtrs[1]);
    std::size_t pos = 0x3F;
    std::memcpy(&buf[pos], desc.data(), desc.size());
    pos += desc.size();
    for (const auto& nm : names) {
        wr16(&buf[pos], static_cast<std::uint16_t>(2 * nm.size()));
        pos += 2;
        for (char16_t ch : nm) {
            wr16(&buf[pos], ch);
            pos += 2;
        }
    }
    std::size_t lvRow = 2;
    for (std::size_t i = 0; i < n; ++i) {
        if (ct.columns[i].type != SqlType::Memo && ct.columns[i].type != SqlType::Ole)
            continue;
        wr16(&buf[pos], static_cast<std::uint16_t>(i));
        wr32(&buf[pos + 2], mapPtrs[lvRow]);
        wr32(&buf[pos + 6], mapPtrs[lvRow + 1]);
        lvRow += 2;
        pos += 10;
    }
    wr16(&buf[pos], 0xFFFF);
    writeTdefPages(tdefPages, buf);
    tables.erase(tdef);
    addCatalogRow(tdef, name, requiredProperties(ct));
}

std::vector<std::uint8_t> WriterImpl::requiredProperties(const sql::CreateTable& ct)
{
    // NOT NULL is Access's Required property (an AutoNumber is filled in and a Yes/No field is never Null: Access
    // sets it on neither); DEFAULT is the DefaultValue property.
    std::vector<PropertyChange> changes;
    for (const sql::ColumnDef& c : ct.columns) {
        PropertyChange change;
        if (c.notNull && !c.autoNumber && c.type != SqlType::Boolean)
            change.required = true;
        if (!c.defaultValue.empty())
            change.defaultValue = c.defaultValue;
        if (change.required || change.defaultValue) {
            change.column = c.name;
            changes.push_back(std::move(change));
        }
    }
    if (changes.empty())
        return {};
    const std::uint16_t codePage = jet3() ? table(2).codePage : 0;
    std::vector<PropertyMap> maps;
    applyPropertyChanges(maps, changes, codePage);
    return buildPropertyBlob(maps, codePage);
}

std::uint32_t WriterImpl::insertCatalogRow(std::int32_t id, std::int32_t parentId, std::int16_t type,
                                         const std::u16string& name, std::vector<std::uint8_t> properties)
{
    Table& mso = table(2);
    std::vector<Cell> cells(mso.maxCols);
    auto set = [&](const char16_t* col, std::vector<std::uint8_t> bytes) {
        const Col* c = mso.column(col);
        if (!c)
            return;
        cells[c->number].null = false;
        cells[c->number].bytes = std::move(bytes);
    };
    const double now = nowAsDays();
    set(u"Id", le32(id));
    set(u"ParentId", le32(parentId));
    set(u"Type", le16(type));
    set(u"DateCreate", le64d(now));
    set(u"DateUpdate", le64d(now));
    set(u"Flags", le32(0));
    if (!owner.empty())
        set(u"Owner", owner);
    if (!properties.empty())
        set(u"LvProp", std::move(properties));
    if (const Col* c = mso.column(u"Name")) {
        cells[c->number].null = false;
        cells[c->number].text = name;
    }
    const std::uint32_t rowPtr = insertRow(mso, cells);
    addAces(id);
    return rowPtr;
}

void WriterImpl::addCatalogRow(std::uint32_t tdef, const std::u16string& name, std::vector<std::uint8_t> properties)
{
    const std::uint32_t rowPtr =
        insertCatalogRow(static_cast<std::int32_t>(tdef), tablesId, 1, name, std::move(properties));
    CatalogRow cr;
    cr.id = static_cast<std::int32_t>(tdef);
    cr.parentId = tablesId;
    cr.name = name;
    cr.type = 1;
    cr.rowPtr = rowPtr;
    catalog.push_back(cr);
    tableByName[nameIdentity(name)] = catalog.size() - 1;
}

void WriterImpl::createTableJet3(const sql::CreateTable& ct, const std::u16string& name,
                                 const std::vector<std::u16string>& names)
{
    const Layout& l = lay();
    const Table& mso = table(2);
    const std::uint16_t cp = mso.codePage;
    const std::size_t n = ct.columns.size();
    std::vector<std::vector<std::uint8_t>> nameBytes;
    for (const auto& nm : names) {
        std::vector<std::uint8_t> b;
        char16_t bad = 0;
        if (!codePageBytes(cp, nm, b, bad))
            throwError(err::InvalidName, "'" + utf16ToUtf8(nm) + "' is not a valid name here: " +
                                             describeChar(bad) + " has no place in the database's code page (" +
                                             std::to_string(cp) + ").");
        nameBytes.push_back(std::move(b));
    }
    {
        std::vector<std::uint8_t> b;
        char16_t bad = 0;
        if (!codePageBytes(cp, name, b, bad))
            throwError(err::InvalidName, "'" + utf16ToUtf8(name) + "' is not a valid table name here: " +
                                             describeChar(bad) + " has no place in the database's code page (" +
                                             std::to_string(cp) + ").");
    }
    std::vector<std::uint8_t> desc;
    std::uint16_t varIdx = 0, fixedOff = 0;
    std::size_t longCols = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const sql::ColumnDef& c = ct.columns[i];
        std::uint8_t d[18] = {};
        d[0] = static_cast<std::uint8_t>(c.type);
        wr16(d + 1, static_cast<std::uint16_t>(i));
        wr16(d + 5, static_cast<std::uint16_t>(i));
        wr16(d + 7, 1);
        std::memcpy(d + 9, mso.column(u"Name")->misc, 2);  // the catalogue's sort order
        wr16(d + 11, cp);
        bool fixed = true;
        std::uint16_t len = 0;
        switch (c.type) {
        case SqlType::Boolean: len = 1; break;
        case SqlType::Byte: len = 1; break;
        case SqlType::Integer: len = 2; break;
        case SqlType::Long: len = 4; break;
        case SqlType::Single: len = 4; break;
        case SqlType::Currency:
        case SqlType::Double:
        case SqlType::DateTime: len = 8; break;
        case SqlType::Guid: len = 16; break;
        case SqlType::Text: fixed = false; len = static_cast<std::uint16_t>(c.size); break;
        case SqlType::Binary: fixed = false; len = static_cast<std::uint16_t>(c.size); break;
        case SqlType::Memo:
        case SqlType::Ole: fixed = false; len = 0; break;
        case SqlType::Decimal:
        case SqlType::BigInt:
        case SqlType::DateTimeExt:
            throwError(err::Unsupported, "Field '" + c.name + "' has a type Access 97 files do not know.");
        }
        d[13] = static_cast<std::uint8_t>((fixed ? 0x03 : 0x02) | (c.autoNumber ? 0x04 : 0x00));
        if (fixed) {
            wr16(d + 3, varIdx);
            if (c.type != SqlType::Boolean) {
                wr16(d + 14, fixedOff);
                fixedOff = static_cast<std::uint16_t>(fixedOff + len);
            }
        } else {
            wr16(d + 3, varIdx++);
            if (c.type == SqlType::Memo || c.type == SqlType::Ole)
                ++longCols;
        }
        wr16(d + 16, len);
        desc.insert(desc.end(), d, d + 18);
    }
    std::size_t namesLen = 0;
    for (const auto& nb : nameBytes)
        namesLen += 1 + nb.size();
    const std::size_t tdefLen = l.tdVar + desc.size() + namesLen + 10 * longCols + 2;
    const std::size_t mapRows = 2 + 2 * longCols;

    const std::uint32_t tdef = allocPage();
    std::vector<std::uint32_t> tdefPages{tdef};
    std::size_t capacity = l.page;
    while (capacity < tdefLen) {
        tdefPages.push_back(allocPage());
        capacity += l.page - 8;
    }
    const std::vector<std::uint32_t> mapPtrs = newMapRows(mapRows);
    std::vector<std::uint8_t> buf(tdefLen, 0);
    buf[0] = 0x02;
    buf[1] = 0x01;
    buf[2] = 'V';
    buf[3] = 'C';
    wr32(&buf[8], static_cast<std::uint32_t>(tdefLen));
    buf[l.tdType] = 0x4E;
    wr16(&buf[l.tdMaxCols], static_cast<std::uint16_t>(n));
    wr16(&buf[l.tdVarCols], varIdx);
    wr16(&buf[l.tdCols], static_cast<std::uint16_t>(n));
    wr32(&buf[l.tdOwned], mapPtrs[0]);
    wr32(&buf[l.tdFree], mapPtrs[1]);
    std::size_t pos = l.tdVar;
    std::memcpy(&buf[pos], desc.data(), desc.size());
    pos += desc.size();
    for (const auto& nb : nameBytes) {
        buf[pos++] = static_cast<std::uint8_t>(nb.size());
        std::memcpy(&buf[pos], nb.data(), nb.size());
        pos += nb.size();
    }
    std::size_t lvRow = 2;
    for (std::size_t i = 0; i < n; ++i) {
        if (ct.columns[i].type != SqlType::Memo && ct.columns[i].type != SqlType::Ole)
            continue;
        wr16(&buf[pos], static_cast<std::uint16_t>(i));
        wr32(&buf[pos + 2], mapPtrs[lvRow]);
        wr32(&buf[pos + 6], mapPtrs[lvRow + 1]);
        lvRow += 2;
        pos += 10;
    }
    wr16(&buf[pos], 0xFFFF);
    writeTdefPages(tdefPages, buf);
    tables.erase(tdef);
    addCatalogRow(tdef, name, requiredProperties(ct));
}

std::vector<std::uint32_t> WriterImpl::newMapRows(std::size_t count)
{
    const std::size_t size = lay().inlineMapRow;
    std::vector<std::uint32_t> mapPtrs;
    std::uint32_t mapPage = 0;
    for (std::size_t r = 0; r < count; ++r) {
        if (mapPage == 0 || !fits(pc().page(mapPage), size)) {
            mapPage = allocPage();
            initDataPage(pc().modify(mapPage), 0);
        }
        const std::vector<std::uint8_t> row(size, 0);
        const std::uint8_t slot = putRow(pc().modify(mapPage), row);
        mapPtrs.push_back(mapPage << 8 | slot);
    }
    return mapPtrs;
}

void WriterImpl::writeTdefPages(const std::vector<std::uint32_t>& tdefPages, const std::vector<std::uint8_t>& buf)
{
    const Layout& l = lay();
    std::size_t from = 0;
    for (std::size_t k = 0; k < tdefPages.size(); ++k) {
        std::uint8_t* p = pc().modify(tdefPages[k]);
        std::memset(p, 0, l.page);
        const std::size_t head = k == 0 ? 0 : 8;
        const std::size_t take = std::min(buf.size() - from, l.page - head);
        std::memcpy(p + head, buf.data() + from, take);
        from += take;
        p[0] = 0x02;
        p[1] = 0x01;
        const std::size_t used = head + take;
        if (l.jet3) {
            p[2] = 'V';
            p[3] = 'C';
        } else {
            wr16(p + 2, static_cast<std::uint16_t>(used + 8 <= l.page ? l.page - used - 8 : 0));
        }
        wr32(p + 4, k + 1 < tdefPages.size() ? tdefPages[k + 1] : 0);
    }
}

void WriterImpl::addAces(std::int32_t objectId)
{
    if (acesPage == 0)
        return;
    Table& aces = table(acesPage);
    const Col* cObj = aces.column(u"ObjectId");
    const Col* cSid = aces.column(u"SID");
    const Col* cAcm = aces.column(u"ACM");
    const Col* cInh = aces.column(u"FInheritable");
    if (!cObj || !cSid || !cAcm)
        return;
    std::vector<std::vector<std::uint8_t>> sids;
    forEachRow(pc(), aces, [&](const RowRef& r) {
        const auto cells = decodeRow(pc(), aces, r.bytes, false);
        const auto& o = cells[cObj->number];
        if (o.present && o.bytes.size() == 4 && static_cast<std::int32_t>(rd32(o.bytes.data())) == tablesId &&
            cells[cSid->number].present) {
            const auto& sid = cells[cSid->number].bytes;
            if (std::find(sids.begin(), sids.end(), sid) == sids.end())
                sids.push_back(sid);
        }
    });
    if (sids.empty())
        sids.push_back({0xA6, 0x33});
    for (const auto& sid : sids) {
        std::vector<Cell> cells(aces.maxCols);
        cells[cObj->number].null = false;
        cells[cObj->number].bytes = le32(objectId);
        cells[cSid->number].null = false;
        cells[cSid->number].bytes = sid;
        cells[cAcm->number].null = false;
        cells[cAcm->number].bytes = le32(0x000FFFFF);
        if (cInh) {
            cells[cInh->number].null = false;
            cells[cInh->number].flag = false;
        }
        insertRow(aces, cells);
    }
}

void WriterImpl::insert(const sql::Insert& ins)
{
    const CatalogRow& cr = userTable(ins.table, err::CannotFindInput);
    Table& t = table(static_cast<std::uint32_t>(cr.id));
    std::vector<const Col*> targets;
    if (ins.columns.empty()) {
        targets.reserve(t.byNumber.size());
        for (std::size_t i : t.byNumber)
            targets.push_back(&t.cols[i]);
    } else {
        for (const auto& cn : ins.columns) {
            const Col* c = t.column(utf8ToUtf16(cn));
            if (!c)
                throwError(err::UnknownField,
                           "The INSERT INTO statement contains the following unknown field name: '" + cn +
                               "'. Make sure you have typed the name correctly, and try the operation again.");
            targets.push_back(c);
        }
    }
    if (targets.size() != ins.values.size())
        throwError(err::ValueCount, "Number of query values and destination fields are not the same (" +
                                        std::to_string(ins.values.size()) + " values, " +
                                        std::to_string(targets.size()) + " fields).");
    // One set of cells serves every INSERT: their buffers are reused row after row.
    std::vector<Cell>& cells = insertScratch;
    cells.resize(t.maxCols);
    for (Cell& cell : cells)
        cell.reset();
    for (std::size_t i = 0; i < targets.size(); ++i) {
        const Col* c = targets[i];
        if (c->type == 0x12 || c->type == 0x0D || c->type == 0x11 ||
            (c->extFlags & 0xC0) == 0xC0)
            throwError(err::Unsupported, "Field '" + utf16ToUtf8(c->name) +
                                             "' has a type this engine cannot write yet.");
        convertLiteral(ins.values[i], c->shape(), cells[c->number]);
    }
    for (const Col& c : t.cols)
        if ((c.type == 0x12 || (c.extFlags & 0xC0) == 0xC0) && !cells[c.number].null)
            throwError(err::Unsupported, "Field '" + utf16ToUtf8(c.name) + "' cannot be written yet.");
    if (const InsertChecks& checks = checksFor(cr, t); !checks.defaults.empty() && targets.size() < t.cols.size())
        applyDefaults(t, checks, targets, cells);
    checkInsert(cr, t, cells);
    insertCells(t, cells);
}

void WriterImpl::dropTable(const std::string& nameUtf8)
{
    const CatalogRow cr = userTable(nameUtf8, err::NoSuchTable);
    if ((cr.flags & static_cast<std::int32_t>(0x80000002u)) != 0)
        throwError(err::ReadOnly, "Table '" + nameUtf8 + "' is a system table and cannot be deleted.");
    // Refuse when a relationship names the table.
    if (relationshipsPage != 0) {
        Table& rel = table(relationshipsPage);
        const Col* a = rel.column(u"szObject");
        const Col* b = rel.column(u"szReferencedObject");
        bool used = false;
        forEachRow(pc(), rel, [&](const RowRef& r) {
            const auto cells = decodeRow(pc(), rel, r.bytes, false);
            for (const Col* c : {a, b})
                if (c && cells[c->number].present &&
                    upper16(decodeColumnText(*c, cells[c->number].bytes)) == upper16(cr.name))
                    used = true;
        });
        if (used)
            throwError(err::InRelationship, "Cannot delete table '" + nameUtf8 +
                                                "'; it participates in one or more relationships.");
    }
    const std::uint32_t tdef = static_cast<std::uint32_t>(cr.id);
    Table t = readTable(pc(), tdef);
    for (const Col& c : t.cols)
        if (c.type == 0x12)
            throwError(err::Unsupported, "Table '" + nameUtf8 +
                                             "' has attachment or multi-value fields; this engine cannot drop "
                                             "it yet.");
    // Everything the table owns.
    std::vector<std::uint32_t> pages = t.tdefPages;
    std::vector<std::uint32_t> mapPtrs{t.ownedMap, t.freeMap};
    auto addMembers = [&](std::uint32_t ptr) {
        for (std::uint32_t p : mapMembers(pc(), ptr))
            pages.push_back(p);
        auto row = rowAt(pc(), ptr);
        if (row[0] == 0x01)
            for (std::size_t k = 0; k * 4 + 5 <= row.size(); ++k)
                if (std::uint32_t bp = rd32(&row[1 + 4 * k]))
                    pages.push_back(bp);
    };
    addMembers(t.ownedMap);
    for (const LvMaps& lv : t.lvMaps) {
        addMembers(lv.owned);
        mapPtrs.push_back(lv.owned);
        mapPtrs.push_back(lv.free);
    }
    for (const RealIndex& ix : t.indexes) {
        addMembers(ix.mapPtr);
        mapPtrs.push_back(ix.mapPtr);
        pages.push_back(ix.root);
    }
    for (std::uint32_t ptr : mapPtrs) {
        auto row = rowAt(pc(), ptr);
        if (row[0] == 0x01)
            for (std::size_t k = 0; k * 4 + 5 <= row.size(); ++k)
                if (std::uint32_t bp = rd32(&row[1 + 4 * k]))
                    pages.push_back(bp);
    }
    // Map pages whose every live row belongs to this table.
    std::map<std::uint32_t, std::vector<unsigned>> mapRowsByPage;
    for (std::uint32_t ptr : mapPtrs)
        mapRowsByPage[ptr >> 8].push_back(ptr & 0xFF);
    for (auto& [pg, slots] : mapRowsByPage) {
        auto p = pc().page(pg);
        if (p[0] != 0x01 || rd32(&p[4]) != 0)
            continue;
        const unsigned count = rd16(&p[lay().rowCount]);
        bool onlyOurs = true;
        for (unsigned s = 0; s < count; ++s)
            if (!(rd16(&p[lay().rowTable + 2 * s]) & 0x8000) &&
                std::find(slots.begin(), slots.end(), s) == slots.end())
                onlyOurs = false;
        if (onlyOurs)
            pages.push_back(pg);
    }
    // Catalogue rows and permissions.
    Table& mso = table(2);
    deleteRow(mso, cr.rowPtr);
    if (acesPage != 0) {
        Table& aces = table(acesPage);
        const Col* cObj = aces.column(u"ObjectId");
        std::vector<std::uint32_t> victims;
        if (cObj)
            forEachRow(pc(), aces, [&](const RowRef& r) {
                const auto cells = decodeRow(pc(), aces, r.bytes, false);
                const auto& o = cells[cObj->number];
                if (o.present && o.bytes.size() == 4 && rd32(o.bytes.data()) == tdef)
                    victims.push_back(r.page << 8 | r.slot);
            });
        for (std::uint32_t v : victims)
            deleteRow(aces, v);
    }
    std::sort(pages.begin(), pages.end());
    pages.erase(std::unique(pages.begin(), pages.end()), pages.end());
    for (std::uint32_t p : pages)
        if (p > 2 && p < pc().pageCount())
            freePage(p);
    tables.erase(tdef);
    loadCatalog();
}

void WriterImpl::copyTable(const std::string& source, const std::string& target)
{
    const CatalogRow src = userTable(source, err::CannotFindInput);
    Table from = readTable(pc(), static_cast<std::uint32_t>(src.id));
    sql::CreateTable ct;
    ct.table = target;
    std::vector<const Col*> order;
    for (const Col& c : from.cols)
        order.push_back(&c);
    std::sort(order.begin(), order.end(), [](const Col* a, const Col* b) { return a->number < b->number; });
    for (const Col* c : order) {
        sql::ColumnDef d;
        d.name = utf16ToUtf8(c->name);
        switch (c->type) {
        case 0x01: case 0x02: case 0x03: case 0x04: case 0x05: case 0x06: case 0x07: case 0x08:
        case 0x0B: case 0x0C: case 0x0F: case 0x13:
            d.type = static_cast<SqlType>(c->type);
            break;
        case 0x0A: d.type = SqlType::Text; d.size = std::max(1, c->codePage != 0 ? c->length : c->length / 2); break;
        case 0x09: d.type = SqlType::Binary; d.size = std::clamp<int>(c->length, 1, 510); break;
        case 0x10:
            d.type = SqlType::Decimal;
            d.precision = c->misc[0];
            d.scale = c->misc[1];
            break;
        default:
            throwError(err::Unsupported, "Field '" + d.name + "' of table '" + source +
                                             "' has a type this engine cannot copy yet.");
        }
        ct.columns.push_back(d);
    }
    // Rows first into memory: the new table must not see its own rows.
    std::vector<std::vector<Cell>> rows;
    forEachRow(pc(), from, [&](const RowRef& r) {
        const auto raw = decodeRow(pc(), from, r.bytes, true);
        std::vector<Cell> cells;
        for (const Col* c : order)
            cells.push_back(toCell(*c, c->number < raw.size() ? raw[c->number] : RawCell{}));
        rows.push_back(std::move(cells));
    });
    createTable(ct);
    Table& to = table(static_cast<std::uint32_t>(findTable(utf8ToUtf16(target))->id));
    for (auto& cells : rows) {
        // New columns are numbered 0..n-1 in the source's column-number order.
        insertRow(to, std::move(cells));
    }
}

}  // namespace jet
