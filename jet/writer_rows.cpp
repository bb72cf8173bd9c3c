// The writer's rows and long values: encoding, storing, inserting and deleting rows.
#include "writer_impl.h"

namespace jet {

bool WriterImpl::isLvalPage(std::span<const std::uint8_t> p)
{
    return p[0] == 0x01 && std::memcmp(&p[4], "LVAL", 4) == 0;
}

void WriterImpl::findRoomPages(LvMaps& lv)
{
    lv.roomPages.clear();
    for (std::uint32_t pg : mapMembers(pc(), lv.free)) {
        const auto p = pc().page(pg);
        if (!isLvalPage(p) || !fits(p, 64))
            continue;
        if (lv.roomPages.size() == LvMaps::kRoomPages)
            lv.roomPages.erase(lv.roomPages.begin());
        lv.roomPages.push_back(pg);
    }
    lv.roomKnown = true;
}

std::uint32_t WriterImpl::lvalRow(LvMaps& lv, std::span<const std::uint8_t> data)
{
    // One of the column's recent pages that still has room, else a new one. A page passed over keeps its
    // place in the free-page map; it only leaves the map when it has no room left for a short value.
    if (!lv.roomKnown)
        findRoomPages(lv);
    std::uint32_t target = 0;
    for (std::uint32_t pg : lv.roomPages) {
        auto p = pc().page(pg);
        if (isLvalPage(p) && fits(p, data.size())) {
            target = pg;
            break;
        }
    }
    if (target == 0) {
        target = allocPage();
        std::uint8_t* p = pc().modify(target);
        initDataPage(p, 0);
        std::memcpy(p + 4, "LVAL", 4);
        mapAdd(lv.owned, target);
        mapAdd(lv.free, target);
        if (lv.roomPages.size() == LvMaps::kRoomPages)
            lv.roomPages.erase(lv.roomPages.begin());
        lv.roomPages.push_back(target);
    }
    const std::uint8_t slot = putRow(pc().modify(target), data);
    if (!fits(pc().page(target), 64)) {
        mapRemove(lv.free, target);
        std::erase(lv.roomPages, target);
    }
    return target << 8 | slot;
}

std::vector<std::uint8_t> WriterImpl::longValue(LvMaps& lv, const std::vector<std::uint8_t>& data, std::size_t rowRoom)
{
    std::vector<std::uint8_t> h(12, 0);
    const std::uint32_t len = static_cast<std::uint32_t>(data.size());
    if (data.size() <= 64 && data.size() + 12 <= rowRoom) {
        wr32(h.data(), len | 0x80000000u);
        h.insert(h.end(), data.begin(), data.end());
        return h;
    }
    const std::size_t single = lay().singleLongRow();  // 4080 / 2036: one row filling a page
    if (data.size() <= single - 4) {
        wr32(h.data(), len | 0x40000000u);
        wr32(h.data() + 4, lvalRow(lv, data));
        return h;
    }
    // A chain: each row is the pointer to the next one and up to 4072 (2028) bytes; written back to front.
    const std::size_t chunk = single - 8;
    std::uint32_t next = 0;
    const std::size_t pieces = (data.size() + chunk - 1) / chunk;
    for (std::size_t k = pieces; k-- > 0;) {
        const std::size_t from = k * chunk, to = std::min(data.size(), from + chunk);
        std::vector<std::uint8_t> row(4);
        wr32(row.data(), next);
        row.insert(row.end(), data.begin() + static_cast<std::ptrdiff_t>(from),
                   data.begin() + static_cast<std::ptrdiff_t>(to));
        next = lvalRow(lv, row);
    }
    wr32(h.data(), len);
    wr32(h.data() + 4, next);
    return h;
}

std::vector<std::uint8_t> WriterImpl::columnText(const Col& c, std::u16string_view text, bool compressible,
                                                 std::size_t maxCompress)
{
    if (c.codePage == 0)
        return storeText(text, compressible, maxCompress);
    std::vector<std::uint8_t> out;
    char16_t bad = 0;
    if (!codePageBytes(c.codePage, text, out, bad))
        throwError(err::Unsupported, "The value for field '" + utf16ToUtf8(c.name) + "' contains " +
                                         describeChar(bad) + ", which this Access 97 database cannot hold: "
                                         "its text is in code page " + std::to_string(c.codePage) +
                                         ". The row was not stored.");
    return out;
}

void WriterImpl::appendVarTail(bool jet3, std::vector<std::uint8_t>& row, const std::vector<std::uint16_t>& offsets,
                               std::size_t maskBytes)
{
    const std::size_t n = offsets.size();
    const std::size_t eod = row.size();
    if (!jet3) {
        row.resize(row.size() + 2 * (n + 2));
        std::uint8_t* tail = row.data() + eod;
        wr16(tail, static_cast<std::uint16_t>(eod));
        for (std::size_t k = 0; k < n; ++k)
            wr16(tail + 2 * (n - k), offsets[k]);
        wr16(tail + 2 * (n + 1), static_cast<std::uint16_t>(n));
        return;
    }
    std::size_t jumps = 0;
    for (;;) {
        const std::size_t size = eod + (n + 1) + jumps + 1 + maskBytes;
        const std::size_t need = (size - 1) / 256;
        if (need == jumps)
            break;
        jumps = need;
    }
    std::vector<std::size_t> all(offsets.begin(), offsets.end());
    all.push_back(eod);
    row.push_back(static_cast<std::uint8_t>(eod & 0xFF));
    for (std::size_t k = n; k-- > 0;)
        row.push_back(static_cast<std::uint8_t>(offsets[k] & 0xFF));
    std::vector<std::uint8_t> jump(jumps, static_cast<std::uint8_t>(n + 1));  // n + 1: a boundary no offset reaches
    for (std::size_t j = 0; j < jumps; ++j) {
        std::size_t i = 0;
        while (i < all.size() && all[i] < 256 * (j + 1))
            ++i;
        if (i < all.size())
            jump[j] = static_cast<std::uint8_t>(i);
        else if (j + 1 < jumps)
            throwError(err::RecordTooLarge, "Record is too large: its variable-column table does not fit.");
    }
    for (std::size_t j = jumps; j-- > 0;)
        row.push_back(jump[j]);
    row.push_back(static_cast<std::uint8_t>(n));
}

std::vector<std::uint8_t> WriterImpl::encodeRow(Table& t, const std::vector<Cell>& cells)
{
    const Layout& l = lay();
    const std::size_t cs = l.jet3 ? 1 : 2;  // size of the column count and of each tail entry
    const unsigned count = t.maxCols;
    const std::size_t maskBytes = (count + 7) / 8;
    std::vector<std::uint8_t> mask(maskBytes, 0);
    std::size_t fixedLen = 0;
    for (const Col& c : t.cols)
        if (c.fixed() && c.type != 0x01)
            fixedLen = std::max<std::size_t>(fixedLen, c.fixedOffset + c.length);
    std::vector<std::uint8_t> row(cs + fixedLen, 0);
    if (l.jet3)
        row[0] = static_cast<std::uint8_t>(count);
    else
        wr16(row.data(), count);
    std::vector<const Col*> vars(t.varCols, nullptr);
    for (const Col& c : t.cols) {
        const Cell& cell = cells[c.number];
        if (c.type == 0x01) {
            if (cell.flag)
                mask[c.number / 8] |= static_cast<std::uint8_t>(1u << (c.number % 8));
            continue;
        }
        if (!c.fixed()) {
            if (c.varIndex < vars.size())
                vars[c.varIndex] = &c;
            continue;
        }
        if (cell.null)
            continue;
        if (cell.bytes.size() != c.length)
            throwError(err::TypeMismatch, "Internal error: value of field '" + utf16ToUtf8(c.name) +
                                              "' has the wrong size.");
        std::memcpy(row.data() + cs + c.fixedOffset, cell.bytes.data(), c.length);
        mask[c.number / 8] |= static_cast<std::uint8_t>(1u << (c.number % 8));
    }
    const std::size_t maxRow = static_cast<std::size_t>(l.maxRowSize);
    if (t.varCols > 0) {
        std::vector<std::uint16_t> offsets;
        // Short values first so the room left for inline long values is known.
        const std::size_t tail = maskBytes + cs * (t.varCols + 2) + (l.jet3 ? 2 : 0);
        std::size_t room = maxRow - std::min(maxRow, row.size() + tail);
        std::vector<std::vector<std::uint8_t>> stored(vars.size());
        for (std::size_t k = 0; k < vars.size(); ++k) {
            const Col* c = vars[k];
            if (!c || c->longValue())
                continue;
            const Cell& cell = cells[c->number];
            if (cell.null)
                continue;
            stored[k] = c->type == 0x0A ? columnText(*c, cell.text, c->compressed(), 0xFFFF) : cell.bytes;
            room -= std::min(room, stored[k].size());
        }
        for (std::size_t k = 0; k < vars.size(); ++k) {
            const Col* c = vars[k];
            if (!c || !c->longValue())
                continue;
            const Cell& cell = cells[c->number];
            if (cell.null)
                continue;
            LvMaps* lv = t.lvFor(c->number);
            if (!lv)
                throwError(err::Corrupt, "The long-value maps of field '" + utf16ToUtf8(c->name) +
                                             "' are missing.");
            const std::vector<std::uint8_t> data =
                c->type == 0x0C ? columnText(*c, cell.text, c->compressed(), 1024) : cell.bytes;
            stored[k] = longValue(*lv, data, room);
            room -= std::min(room, stored[k].size());
        }
        for (std::size_t k = 0; k < vars.size(); ++k) {
            offsets.push_back(static_cast<std::uint16_t>(row.size()));
            const Col* c = vars[k];
            if (c && !cells[c->number].null) {
                row.insert(row.end(), stored[k].begin(), stored[k].end());
                mask[c->number / 8] |= static_cast<std::uint8_t>(1u << (c->number % 8));
            }
        }
        appendVarTail(l.jet3, row, offsets, maskBytes);
    }
    row.insert(row.end(), mask.begin(), mask.end());
    if (row.size() > maxRow)
        throwError(err::RecordTooLarge, "Record is too large: " + std::to_string(row.size()) +
                                            " bytes (at most " + std::to_string(maxRow) + ").");
    return row;
}

std::uint32_t WriterImpl::insertCells(Table& t, std::vector<Cell>& cells)
{
    cells.resize(std::max<std::size_t>(cells.size(), t.maxCols));
    for (const Col& c : t.cols) {
        if ((c.flags & 0x04) && c.type == 0x04 && cells[c.number].null) {
            ++t.autoNumber;
            cells[c.number].null = false;
            cells[c.number].bytes = le32(static_cast<std::int32_t>(t.autoNumber));
            wr32(pc().modify(t.tdefPage) + lay().tdAuto, t.autoNumber);
        } else if ((c.flags & 0x04) && c.type == 0x04 && cells[c.number].bytes.size() == 4) {
            // A value given for the AutoNumber: the next one handed out follows the highest given.
            const auto given = static_cast<std::int32_t>(rd32(cells[c.number].bytes.data()));
            if (given > 0 && static_cast<std::uint32_t>(given) > t.autoNumber) {
                t.autoNumber = static_cast<std::uint32_t>(given);
                wr32(pc().modify(t.tdefPage) + lay().tdAuto, t.autoNumber);
            }
        }
    }
    const std::vector<std::uint8_t> row = encodeRow(t, cells);
    const std::uint32_t ptr = storeRow(t, row);
    ++t.rowCount;
    wr32(pc().modify(t.tdefPage) + lay().tdRows, t.rowCount);
    if (!t.indexes.empty()) {
        const std::vector<RawCell> raw = decodeRow(pc(), t, rowAt(pc(), ptr), false);
        for (RealIndex& ix : t.indexes) {
            const bool nullKey = allNull(ix, raw);
            if (nullKey && ix.ignoreNulls())
                continue;  // an ignore-nulls index has no entry for a row whose key fields are all Null
            if (ix.required())
                for (auto [num, asc] : ix.columns)
                    if (const Col* c = t.columnByNumber(num); c && c->type != 0x01 && !raw[num].present)
                        throwError(err::NullInIndex, "Index or primary key cannot contain a Null value (field '" +
                                                         utf16ToUtf8(c->name) + "').");
            indexInsert(t, ix, indexKey(t, ix, rawWithLong(t, raw, cells)), ptr, nullKey);
        }
    }
    return ptr;
}

std::vector<RawCell> WriterImpl::rawWithLong(const Table& t, std::vector<RawCell> raw, const std::vector<Cell>& cells)
{
    for (const Col& c : t.cols)
        if (c.longValue() && !cells[c.number].null)
            raw[c.number].bytes =
                c.type == 0x0C ? columnText(c, cells[c.number].text, false, 0) : cells[c.number].bytes;
    return raw;
}

void WriterImpl::deleteRow(Table& t, std::uint32_t ptr)
{
    const Layout& l = lay();
    const std::uint32_t pg = ptr >> 8;
    const unsigned slot = ptr & 0xFF;
    if (!t.indexes.empty()) {
        // A row Access moved elsewhere keeps a pointer in its slot; the index entries name the slot.
        std::span<const std::uint8_t> bytes = rowAt(pc(), ptr);
        if ((rd16(&pc().page(pg)[l.rowTable + 2 * slot]) & 0x4000) && bytes.size() >= 4)
            bytes = rowAt(pc(), rd32(bytes.data()));
        const std::vector<RawCell> raw = decodeRow(pc(), t, bytes);
        for (RealIndex& ix : t.indexes)
            if (!(ix.ignoreNulls() && allNull(ix, raw)))
                indexRemove(t, ix, indexKey(t, ix, raw), ptr);
    }
    std::uint8_t* p = pc().modify(pg);
    if (rd16(p + l.rowTable + 2 * slot) & 0x4000) {
        // The moved row itself goes too, or a reader that scans pages without the slot would still see it.
        const std::uint32_t target = rd32(rowAt(pc(), ptr).data());
        std::uint8_t* tp = pc().modify(target >> 8);
        const unsigned ts = target & 0xFF;
        if (ts < rd16(tp + l.rowCount))
            wr16(tp + l.rowTable + 2 * ts, rd16(tp + l.rowTable + 2 * ts) | 0xC000);
        p = pc().modify(pg);
    }
    wr16(p + l.rowTable + 2 * slot, rd16(p + l.rowTable + 2 * slot) | 0xC000);
    --t.rowCount;
    wr32(pc().modify(t.tdefPage) + l.tdRows, t.rowCount);
}

}  // namespace jet
