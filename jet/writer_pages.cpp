// Reading side of the writer: table definitions, rows, usage maps and index pages (Jet 4 / ACE).
#include "writer_internal.h"

#include "writer_error.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <unordered_set>
#include <utility>

namespace jet::w {

namespace {

[[noreturn]] void corrupt(const std::string& what)
{
    throwError(err::Corrupt, "The database is damaged: " + what + ".");
}

std::u16string readName(const Layout& l, std::uint16_t codePage, const std::vector<std::uint8_t>& buf,
                        std::size_t& pos)
{
    if (l.jet3) {
        if (pos + 1 > buf.size() || pos + 1 + buf[pos] > buf.size())
            corrupt("a name runs past the table definition");
        const std::size_t len = buf[pos];
        std::u16string s = codePageText(codePage, std::span<const std::uint8_t>(buf.data() + pos + 1, len));
        pos += 1 + len;
        return s;
    }
    if (pos + 2 > buf.size())
        corrupt("a name runs past the table definition");
    const std::size_t len = rd16(&buf[pos]);
    pos += 2;
    if (pos + len > buf.size() || len % 2 != 0)
        corrupt("a name runs past the table definition");
    std::u16string s;
    for (std::size_t i = 0; i < len; i += 2)
        s.push_back(static_cast<char16_t>(buf[pos + i] | buf[pos + i + 1] << 8));
    pos += len;
    return s;
}

bool ieq(std::u16string_view a, std::u16string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char16_t x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z')
            x = static_cast<char16_t>(x - 32);
        if (y >= 'a' && y <= 'z')
            y = static_cast<char16_t>(y - 32);
        if (x != y)
            return false;
    }
    return true;
}

}  // namespace

const Layout& layoutFor(std::uint32_t pageSize)
{
    static const Layout jet4;
    static const Layout jet3 = [] {
        Layout l;
        l.jet3 = true;
        l.page = 2048;
        l.rowCount = 0x08;
        l.rowTable = 0x0A;
        l.maxRowSize = 2012;
        l.inlineMapRow = 133;
        l.ixPrev = 0x08;
        l.ixNext = 0x0C;
        l.ixTail = 0x10;
        l.ixPrefix = 0x14;
        l.ixNodeFlag = 0x15;
        l.ixBitmap = 0x16;
        l.ixEntries = 0xF8;
        l.tdRows = 0x0C;
        l.tdAuto = 0x10;
        l.tdType = 0x14;
        l.tdMaxCols = 0x15;
        l.tdVarCols = 0x17;
        l.tdCols = 0x19;
        l.tdLogical = 0x1B;
        l.tdReal = 0x1F;
        l.tdOwned = 0x23;
        l.tdFree = 0x27;
        l.tdVar = 0x2B;
        l.counterSize = 8;
        l.colSize = 18;
        l.nameLen = 1;
        l.realSize = 39;
        l.logicalSize = 20;
        l.realCols = 0;
        l.realMap = 30;
        l.realRoot = 34;
        l.realFlags = 38;
        l.logicalBase = 0;
        l.cNumber = 1;
        l.cVarIndex = 3;
        l.cMisc = 11;
        l.cFlags = 13;
        l.cFixedOffset = 14;
        l.cLength = 16;
        l.cExtFlags = -1;
        return l;
    }();
    return pageSize == 2048 ? jet3 : jet4;
}

const ColumnShape& Col::shape() const
{
    if (shapeCache.made)
        return *shapeCache.made;
    ColumnShape s;
    s.type = static_cast<sql::ColumnType>(type);
    s.size = type == 0x0A ? (codePage != 0 ? length : length / 2) : length;
    s.precision = misc[0];
    s.scale = misc[1];
    s.name = utf16ToUtf8(name);
    shapeCache.made = std::make_unique<const ColumnShape>(std::move(s));
    return *shapeCache.made;
}

const Col* Table::column(std::u16string_view n) const
{
    for (const Col& c : cols)
        if (ieq(c.name, n))
            return &c;
    return nullptr;
}

const Col* Table::columnByNumber(std::uint16_t number) const
{
    for (const Col& c : cols)
        if (c.number == number)
            return &c;
    return nullptr;
}

const LvMaps* Table::lvFor(std::uint16_t number) const
{
    for (const LvMaps& m : lvMaps)
        if (m.column == number)
            return &m;
    return nullptr;
}

LvMaps* Table::lvFor(std::uint16_t number)
{
    return const_cast<LvMaps*>(std::as_const(*this).lvFor(number));
}

std::uint16_t jet3CodePage(PageSource& src)
{
    auto p0 = src.page(0);
    std::uint8_t head[0x3E];
    std::memcpy(head, p0.data(), sizeof head);
    const std::uint8_t mkey[4] = {0xC7, 0xDA, 0x39, 0x6B};
    rc4Apply(mkey, 4, head + 0x18, sizeof head - 0x18);
    const std::uint16_t cp = rd16(head + 0x3C);
    return cp == 0 ? 1252 : cp;
}

Table readTable(PageSource& src, std::uint32_t tdefPage)
{
    const Layout& l = layoutOf(src);
    Table t;
    t.jet3 = l.jet3;
    if (l.jet3)
        t.codePage = jet3CodePage(src);
    t.tdefPage = tdefPage;
    std::vector<std::uint8_t> buf;
    std::uint32_t page = tdefPage;
    std::unordered_set<std::uint32_t> seen;
    while (page != 0) {
        if (!seen.insert(page).second)
            corrupt("the definition of table page " + std::to_string(tdefPage) + " loops");
        auto p = src.page(page);
        if (p[0] != 0x02)
            corrupt("page " + std::to_string(page) + " is not a table definition");
        t.tdefPages.push_back(page);
        if (buf.empty())
            buf.assign(p.begin(), p.end());
        else
            buf.insert(buf.end(), p.begin() + 8, p.end());
        page = rd32(&p[4]);
    }
    const std::uint32_t len = rd32(&buf[8]);
    if (len > buf.size())
        corrupt("the definition of table page " + std::to_string(tdefPage) + " is cut short");
    t.rowCount = rd32(&buf[l.tdRows]);
    t.autoNumber = rd32(&buf[l.tdAuto]);
    t.maxCols = rd16(&buf[l.tdMaxCols]);
    t.varCols = rd16(&buf[l.tdVarCols]);
    const std::uint16_t numCols = rd16(&buf[l.tdCols]);
    const std::uint32_t numLogical = rd32(&buf[l.tdLogical]);
    const std::uint32_t numReal = rd32(&buf[l.tdReal]);
    t.ownedMap = rd32(&buf[l.tdOwned]);
    t.freeMap = rd32(&buf[l.tdFree]);
    std::size_t pos = l.tdVar;
    if (numReal > 1000 || numLogical > 1000)
        corrupt("implausible index count in table page " + std::to_string(tdefPage));
    t.indexes.resize(numReal);
    for (std::uint32_t i = 0; i < numReal; ++i) {
        t.indexes[i].counterOffset = pos;
        pos += l.counterSize;
    }
    if (pos + l.colSize * numCols > len)
        corrupt("column descriptors run past the table definition");
    for (std::uint16_t i = 0; i < numCols; ++i) {
        const std::uint8_t* d = &buf[pos];
        Col c;
        c.type = d[0];
        c.number = rd16(d + l.cNumber);
        c.varIndex = rd16(d + l.cVarIndex);
        if (l.jet3) {
            std::memcpy(c.misc, d + l.cMiscJet3, 4);
            if (c.type == 0x0A || c.type == 0x0C) {
                const std::uint16_t cp = rd16(d + l.cMisc);
                c.codePage = cp == 0 ? t.codePage : cp;
            }
        } else {
            std::memcpy(c.misc, d + l.cMisc, 4);
        }
        c.flags = d[l.cFlags];
        c.extFlags = l.cExtFlags >= 0 ? d[l.cExtFlags] : 0;
        c.fixedOffset = rd16(d + l.cFixedOffset);
        c.length = rd16(d + l.cLength);
        t.cols.push_back(c);
        pos += l.colSize;
    }
    for (Col& c : t.cols)
        c.name = readName(l, t.codePage, buf, pos);
    for (std::size_t i = 0; i < t.cols.size(); ++i)
        t.byNumber.push_back(i);
    std::sort(t.byNumber.begin(), t.byNumber.end(),
              [&](std::size_t a, std::size_t b) { return t.cols[a].number < t.cols[b].number; });
    for (RealIndex& ix : t.indexes) {
        if (pos + l.realSize > len)
            corrupt("index definitions run past the table definition");
        const std::uint8_t* d = &buf[pos];
        for (int k = 0; k < 10; ++k) {
            const std::uint16_t num = rd16(d + l.realCols + 3 * k);
            if (num != 0xFFFF)
                ix.columns.emplace_back(num, (d[l.realCols + 2 + 3 * k] & 0x01) != 0);
        }
        ix.mapPtr = rd32(d + l.realMap);
        ix.root = rd32(d + l.realRoot);
        ix.flags = d[l.realFlags];
        pos += l.realSize;
    }
    for (std::uint32_t i = 0; i < numLogical; ++i) {
        if (pos + l.logicalSize > len)
            corrupt("index definitions run past the table definition");
        LogicalIndex li;
        const std::uint8_t* e = &buf[pos + l.logicalBase];
        li.number = rd32(e);
        li.realIndex = rd32(e + 4);
        li.relTableType = e[8];
        li.relatedIndex = rd32(e + 9);
        li.relatedTdef = rd32(e + 13);
        li.cascadeUpdates = e[17];
        li.cascadeDeletes = e[18];
        li.kind = e[19];
        if (!l.jet3)
            li.trailer = rd32(e + 20);
        t.logical.push_back(li);
        pos += l.logicalSize;
    }
    for (LogicalIndex& li : t.logical)
        li.name = readName(l, t.codePage, buf, pos);
    while (pos + 2 <= len) {
        const std::uint16_t num = rd16(&buf[pos]);
        if (num == 0xFFFF)
            break;
        if (pos + 10 > len)
            corrupt("long-value map list runs past the table definition");
        LvMaps& lv = t.lvMaps.emplace_back();
        lv.column = num;
        lv.owned = rd32(&buf[pos + 2]);
        lv.free = rd32(&buf[pos + 6]);
        pos += 10;
    }
    return t;
}

std::span<const std::uint8_t> rowAt(PageSource& src, std::uint32_t rowPtr)
{
    const Layout& l = layoutOf(src);
    const std::uint32_t page = rowPtr >> 8;
    const unsigned slot = rowPtr & 0xFF;
    auto p = src.page(page);
    if (p[0] != 0x01)
        corrupt("row pointer to page " + std::to_string(page) + " which is not a data page");
    const unsigned count = rd16(&p[l.rowCount]);
    if (slot >= count)
        corrupt("row " + std::to_string(slot) + " of page " + std::to_string(page) + " does not exist");
    const unsigned start = rd16(&p[l.rowTable + 2 * slot]) & 0x1FFF;
    const unsigned end = slot == 0 ? l.page : (rd16(&p[l.rowTable + 2 * (slot - 1)]) & 0x1FFF);
    if (start > end || end > l.page || start < l.rowTable + 2 * count)
        corrupt("row " + std::to_string(slot) + " of page " + std::to_string(page) + " has impossible bounds");
    return p.subspan(start, end - start);
}

namespace {

// Appends first + i for every bit i set in `bits` (least significant bit first), below `limit`.
void appendBits(std::vector<std::uint32_t>& out, std::span<const std::uint8_t> bits, std::uint32_t first,
                std::uint32_t limit)
{
    for (std::size_t byte = 0; byte < bits.size(); ++byte) {
        unsigned v = bits[byte];
        while (v != 0) {
            const std::uint64_t page = first + byte * 8 + static_cast<unsigned>(std::countr_zero(v));
            if (page >= limit)
                return;
            out.push_back(static_cast<std::uint32_t>(page));
            v &= v - 1;
        }
    }
}

}  // namespace

std::vector<std::uint32_t> mapMembers(PageSource& src, std::uint32_t rowPtr)
{
    std::vector<std::uint32_t> out;
    if (rowPtr == 0)
        return out;  // no map: no pages
    auto row = rowAt(src, rowPtr);
    if (row.empty())
        corrupt("empty usage map");
    const std::uint32_t limit = src.pageCount();
    if (row[0] == 0x00) {
        if (row.size() < 5)
            corrupt("short usage map");
        const std::uint32_t start = rd32(&row[1]);
        appendBits(out, row.subspan(5), start, limit);
    } else if (row[0] == 0x01) {
        const std::uint32_t per = layoutOf(src).perBitmapPage();
        for (std::size_t k = 0; k * 4 + 5 <= row.size(); ++k) {
            const std::uint32_t bp = rd32(&row[1 + 4 * k]);
            if (bp == 0)
                continue;
            auto b = src.page(bp);
            if (b[0] != 0x05)
                corrupt("usage map bitmap page " + std::to_string(bp) + " has the wrong type");
            const std::uint64_t first = static_cast<std::uint64_t>(k) * per;
            if (first < limit)
                appendBits(out, b.subspan(4, per / 8), static_cast<std::uint32_t>(first), limit);
        }
    } else {
        corrupt("unknown usage map type " + std::to_string(row[0]));
    }
    return out;
}

std::u16string decodeStoredText(std::span<const std::uint8_t> b)
{
    std::u16string s;
    if (b.size() >= 2 && b[0] == 0xFF && b[1] == 0xFE) {
        bool compressed = true;
        std::size_t i = 2;
        while (i < b.size()) {
            if (b[i] == 0x00) {
                compressed = !compressed;
                ++i;
                continue;
            }
            if (compressed) {
                s.push_back(b[i]);
                ++i;
            } else {
                if (i + 1 >= b.size())
                    break;
                s.push_back(static_cast<char16_t>(b[i] | b[i + 1] << 8));
                i += 2;
            }
        }
        return s;
    }
    for (std::size_t i = 0; i + 1 < b.size(); i += 2)
        s.push_back(static_cast<char16_t>(b[i] | b[i + 1] << 8));
    return s;
}

namespace {

void readLong(PageSource& src, std::span<const std::uint8_t> cell, std::vector<std::uint8_t>& out)
{
    out.clear();
    if (cell.size() < 12)
        corrupt("long value header cut short");
    const std::uint32_t word = rd32(&cell[0]);
    const std::uint32_t length = word & 0x3FFFFFFF;
    if (word & 0x80000000u) {
        if (cell.size() < 12 + length)
            corrupt("inline long value cut short");
        out.assign(cell.begin() + 12, cell.begin() + 12 + length);
        return;
    }
    std::uint32_t ptr = rd32(&cell[4]);
    if (word & 0x40000000u) {
        auto r = rowAt(src, ptr);
        if (r.size() < length)
            corrupt("long value cut short");
        out.assign(r.begin(), r.begin() + length);
        return;
    }
    std::unordered_set<std::uint32_t> seen;
    while (out.size() < length) {
        if (ptr == 0 || !seen.insert(ptr).second)
            corrupt("long value chain ends early or loops");
        auto r = rowAt(src, ptr);
        if (r.size() < 4)
            corrupt("long value chain row cut short");
        const std::size_t take = std::min<std::size_t>(r.size() - 4, length - out.size());
        out.insert(out.end(), r.begin() + 4, r.begin() + 4 + static_cast<std::ptrdiff_t>(take));
        ptr = rd32(&r[0]);
    }
}

}  // namespace

namespace {

// Variable-column offsets of a Jet 3 row: one byte each, plus a jump table that counts the 256-byte
// boundaries crossed (docs/format/rows.md).
std::vector<std::size_t> jet3Offsets(std::span<const std::uint8_t> row, std::size_t maskBytes)
{
    const std::size_t size = row.size();
    if (size < maskBytes + 2)
        corrupt("row too short for its variable columns");
    const std::size_t rowEnd = size - 1;
    const unsigned n = row[rowEnd - maskBytes];
    std::size_t jumps = (size - 1) / 256;
    if (rowEnd < maskBytes + jumps + 1 + n)
        corrupt("variable offsets run past the row");
    const std::size_t first = rowEnd - maskBytes - jumps - 1;
    if ((first - n) / 256 < jumps)
        --jumps;
    std::vector<std::size_t> off(n + 1);
    std::size_t used = 0;
    for (unsigned i = 0; i <= n; ++i) {
        while (used < jumps && i == row[rowEnd - maskBytes - used - 1])
            ++used;
        off[i] = row[first - i] + used * 256;
    }
    return off;
}

}  // namespace

std::vector<RawCell> decodeRow(PageSource& src, const Table& t, std::span<const std::uint8_t> row, bool resolveLong,
                               const std::vector<bool>* wanted)
{
    std::vector<RawCell> cells;
    decodeRowInto(src, t, row, resolveLong, wanted, cells);
    return cells;
}

void decodeRowInto(PageSource& src, const Table& t, std::span<const std::uint8_t> row, bool resolveLong,
                   const std::vector<bool>* wanted, std::vector<RawCell>& cells)
{
    cells.resize(std::max<std::size_t>(t.maxCols, 1));
    const std::size_t cs = t.jet3 ? 1 : 2;
    if (row.size() < cs)
        corrupt("row shorter than its column count");
    const unsigned count = t.jet3 ? row[0] : rd16(&row[0]);
    const std::size_t maskBytes = (count + 7) / 8;
    if (row.size() < cs + maskBytes)
        corrupt("row shorter than its null mask");
    const std::uint8_t* mask = &row[row.size() - maskBytes];
    auto bit = [&](unsigned n) { return n < count && (mask[n / 8] >> (n % 8) & 1); };
    thread_local std::vector<std::size_t> offsets;  // kept between rows: one allocation, not one per row
    offsets.clear();
    unsigned varCount = 0;
    if (t.varCols > 0 && t.jet3) {
        offsets = jet3Offsets(row, maskBytes);
        varCount = static_cast<unsigned>(offsets.size() - 1);
    } else if (t.varCols > 0) {
        const std::size_t vpos = row.size() - maskBytes - 2;
        varCount = rd16(&row[vpos]);
        if (vpos < 2 * (varCount + 1))
            corrupt("variable offsets run past the row");
        offsets.resize(varCount + 1);
        for (unsigned k = 0; k < varCount; ++k)
            offsets[k] = rd16(&row[vpos - 2 * (k + 1)]);
        offsets[varCount] = rd16(&row[vpos - 2 * (varCount + 1)]);
    }
    for (const Col& c : t.cols) {
        if (c.number >= cells.size())
            cells.resize(c.number + 1u);
        RawCell& rc = cells[c.number];
        rc.bytes.clear();
        rc.present = false;
        if (wanted && (c.number >= wanted->size() || !(*wanted)[c.number]))
            continue;
        rc.present = bit(c.number);
        if (c.type == 0x01 || !rc.present)
            continue;
        if (c.fixed()) {
            const std::size_t len = c.length;
            if (cs + c.fixedOffset + len > row.size())
                corrupt("fixed column past the row end");
            rc.bytes.assign(row.begin() + static_cast<std::ptrdiff_t>(cs + c.fixedOffset),
                            row.begin() + static_cast<std::ptrdiff_t>(cs + c.fixedOffset + len));
        } else {
            if (c.varIndex >= varCount) {
                rc.present = false;
                continue;
            }
            const std::size_t a = offsets[c.varIndex], b = offsets[c.varIndex + 1];
            if (a > b || b > row.size())
                corrupt("variable column with impossible bounds");
            auto cell = row.subspan(a, b - a);
            if (c.longValue() && resolveLong)
                readLong(src, cell, rc.bytes);
            else
                rc.bytes.assign(cell.begin(), cell.end());
        }
    }
}

std::u16string decodeColumnText(const Col& c, std::span<const std::uint8_t> b)
{
    return c.codePage != 0 ? codePageText(c.codePage, b) : decodeStoredText(b);
}

Cell toCell(const Col& c, const RawCell& raw)
{
    Cell cell;
    cell.null = !raw.present;
    if (c.type == 0x01) {
        cell.null = false;
        cell.flag = raw.present;
        return cell;
    }
    if (cell.null)
        return cell;
    if (c.type == 0x0A || c.type == 0x0C)
        cell.text = decodeColumnText(c, raw.bytes);
    else
        cell.bytes = raw.bytes;
    return cell;
}

void forEachRow(PageSource& src, const Table& t, const std::function<void(const RowRef&)>& fn)
{
    const Layout& l = layoutOf(src);
    for (std::uint32_t pg : mapMembers(src, t.ownedMap)) {
        auto p = src.page(pg);
        if (p[0] != 0x01 || rd32(&p[4]) != t.tdefPage)
            continue;
        const unsigned count = rd16(&p[l.rowCount]);
        for (unsigned s = 0; s < count; ++s) {
            const std::uint16_t off = rd16(&p[l.rowTable + 2 * s]);
            if (off & 0x8000)
                continue;
            auto bytes = rowAt(src, pg << 8 | s);
            if (off & 0x4000) {
                if (bytes.size() < 4)
                    corrupt("overflow row too short");
                const std::uint32_t target = rd32(&bytes[0]);
                fn({pg, static_cast<std::uint8_t>(s), rowAt(src, target)});
                continue;
            }
            fn({pg, static_cast<std::uint8_t>(s), bytes});
        }
    }
}

IndexPage readIndexPage(PageSource& src, std::uint32_t page)
{
    const Layout& l = layoutOf(src);
    auto p = src.page(page);
    IndexPage ip;
    ip.type = p[0];
    if (ip.type != 0x03 && ip.type != 0x04)
        corrupt("page " + std::to_string(page) + " is not an index page");
    ip.tdef = rd32(&p[4]);
    ip.prev = rd32(&p[l.ixPrev]);
    ip.next = rd32(&p[l.ixNext]);
    ip.tail = rd32(&p[l.ixTail]);
    const std::size_t prefix = l.jet3 ? p[l.ixPrefix] : rd16(&p[l.ixPrefix]);
    const std::size_t capacity = l.ixCapacity();
    if (rd16(&p[2]) > capacity)
        corrupt("index page " + std::to_string(page) + " has an impossible free space");
    const std::size_t used = capacity - rd16(&p[2]);
    std::size_t start = 0;
    std::vector<std::uint8_t> first;
    for (std::size_t bitPos = 1; bitPos <= used; ++bitPos) {
        if (!(p[l.ixBitmap + bitPos / 8] >> (bitPos % 8) & 1))
            continue;
        std::vector<std::uint8_t> e;
        if (!ip.entries.empty() && prefix > 0)
            e.assign(first.begin(), first.begin() + static_cast<std::ptrdiff_t>(std::min(prefix, first.size())));
        e.insert(e.end(), p.begin() + static_cast<std::ptrdiff_t>(l.ixEntries + start),
                 p.begin() + static_cast<std::ptrdiff_t>(l.ixEntries + bitPos));
        if (ip.entries.empty())
            first = e;
        IndexPage::Entry en;
        if (ip.type == 0x03) {
            if (e.size() < 8)
                corrupt("index node entry too short on page " + std::to_string(page));
            en.child = static_cast<std::uint32_t>(e[e.size() - 4]) << 24 |
                       static_cast<std::uint32_t>(e[e.size() - 3]) << 16 |
                       static_cast<std::uint32_t>(e[e.size() - 2]) << 8 | e[e.size() - 1];
            e.resize(e.size() - 4);
        } else if (e.size() < 4) {
            corrupt("index entry too short on page " + std::to_string(page));
        }
        en.bytes = std::move(e);
        ip.entries.push_back(std::move(en));
        start = bitPos;
    }
    return ip;
}

std::size_t indexEntriesSize(const IndexPage& p)
{
    std::size_t n = 0;
    for (const auto& e : p.entries)
        n += e.bytes.size() + (p.leaf() ? 0 : 4);
    return n;
}

void writeIndexPage(const Layout& l, std::uint8_t* dst, const IndexPage& p)
{
    const std::size_t used = indexEntriesSize(p);
    if (used > l.ixCapacity())  // never past the page: the callers split first
        throwError(err::Corrupt, "Internal error: index entries of " + std::to_string(used) +
                                     " bytes do not fit one page.");
    std::memset(dst, 0, l.page);
    dst[0] = p.type;
    dst[1] = 0x01;
    wr16(dst + 2, static_cast<std::uint32_t>(l.ixCapacity() - used));
    wr32(dst + 4, p.tdef);
    wr32(dst + l.ixPrev, p.prev);
    wr32(dst + l.ixNext, p.next);
    wr32(dst + l.ixTail, p.leaf() ? 0 : p.tail);
    dst[l.ixNodeFlag] = p.leaf() ? 0 : 1;
    std::size_t pos = 0;
    for (const auto& e : p.entries) {
        std::memcpy(dst + l.ixEntries + pos, e.bytes.data(), e.bytes.size());
        pos += e.bytes.size();
        if (!p.leaf()) {
            std::uint8_t* c = dst + l.ixEntries + pos;
            c[0] = static_cast<std::uint8_t>(e.child >> 24);
            c[1] = static_cast<std::uint8_t>(e.child >> 16);
            c[2] = static_cast<std::uint8_t>(e.child >> 8);
            c[3] = static_cast<std::uint8_t>(e.child);
            pos += 4;
        }
        dst[l.ixBitmap + pos / 8] |= static_cast<std::uint8_t>(1u << (pos % 8));
    }
}

SortOrder sortOrderOf(const Col& c)
{
    if (c.codePage != 0) {
        // Access 97: sort order in misc[0..1], the text's code page beside it.
        const std::uint16_t order = static_cast<std::uint16_t>(c.misc[0] | c.misc[1] << 8);
        if ((order != 0x0409 && order != 0) || c.codePage != 1252)
            throwError(err::Unsupported, "The text column '" + utf16ToUtf8(c.name) + "' uses sort order " +
                                             std::to_string(order) + " with code page " +
                                             std::to_string(c.codePage) +
                                             "; on Access 97 files only the General sort order with code page 1252 "
                                             "can be written.");
        return SortOrder::General97;
    }
    const std::uint16_t lcid = static_cast<std::uint16_t>(c.misc[0] | c.misc[1] << 8);
    if (lcid != 0x0409 && lcid != 0)
        throwError(err::Unsupported, "The text column '" + utf16ToUtf8(c.name) + "' uses sort order " +
                                         std::to_string(lcid) +
                                         "; only the sort orders \"General\" and \"General - Legacy\" (1033) can be "
                                         "written.");
    return c.misc[3] == 1 ? SortOrder::General : SortOrder::GeneralLegacy;
}

std::vector<std::uint8_t> indexKey(const Table& t, const RealIndex& ix, const std::vector<RawCell>& cells)
{
    std::vector<std::uint8_t> key;
    for (auto [num, asc] : ix.columns) {
        const Col* c = t.columnByNumber(num);
        if (!c)
            corrupt("index on a missing column");
        const RawCell empty;
        const RawCell& raw = num < cells.size() ? cells[num] : empty;
        const Cell cell = toCell(*c, raw);
        const SortOrder order =
            (c->type == 0x0A || c->type == 0x0C) ? sortOrderOf(*c) : SortOrder::GeneralLegacy;
        appendColumnKey(key, static_cast<sql::ColumnType>(c->type), cell, order, asc);
    }
    return key;
}

std::optional<std::vector<RelationshipRow>> readRelationshipRows(PageSource& src, const Table& rel)
{
    const Col* cName = rel.column(u"szRelationship");
    const Col* cTable = rel.column(u"szObject");
    const Col* cColumn = rel.column(u"szColumn");
    const Col* cRefTable = rel.column(u"szReferencedObject");
    const Col* cRefColumn = rel.column(u"szReferencedColumn");
    const Col* cFlags = rel.column(u"grbit");
    const Col* cPosition = rel.column(u"icolumn");
    if (!cName || !cTable || !cColumn || !cRefTable || !cRefColumn)
        return std::nullopt;
    std::vector<RelationshipRow> out;
    forEachRow(src, rel, [&](const RowRef& r) {
        const auto cells = decodeRow(src, rel, r.bytes, false);
        auto text = [&](const Col* c) {
            const RawCell& v = cells[c->number];
            return v.present ? decodeColumnText(*c, v.bytes) : std::u16string();
        };
        auto i32 = [&](const Col* c) {
            return c && cells[c->number].present && cells[c->number].bytes.size() >= 4
                       ? static_cast<std::int32_t>(rd32(cells[c->number].bytes.data()))
                       : 0;
        };
        RelationshipRow row;
        row.name = text(cName);
        row.table = text(cTable);
        row.column = text(cColumn);
        row.referencedTable = text(cRefTable);
        row.referencedColumn = text(cRefColumn);
        row.flags = static_cast<std::uint32_t>(i32(cFlags));
        row.position = i32(cPosition);
        row.rowPtr = r.page << 8 | r.slot;
        out.push_back(std::move(row));
    });
    return out;
}

}  // namespace jet::w
