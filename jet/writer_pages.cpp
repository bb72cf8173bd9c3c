// Reading side of the writer: table definitions, rows, usage maps and index pages (Jet 4 / ACE).
#include "writer_internal.h"

#include "writer_error.h"

#include <algorithm>
#include <cstring>
#include <unordered_set>

namespace jet::w {

namespace {

[[noreturn]] void corrupt(const std::string& what)
{
    throwError(err::Corrupt, "The database is damaged: " + what + ".");
}

std::u16string readName(const std::vector<std::uint8_t>& buf, std::size_t& pos)
{
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

ColumnShape Col::shape() const
{
    ColumnShape s;
    s.type = static_cast<sql::ColumnType>(type);
    s.size = type == 0x0A ? length / 2 : length;
    s.precision = misc[0];
    s.scale = misc[1];
    s.name = utf16ToUtf8(name);
    return s;
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

Table readTable(PageSource& src, std::uint32_t tdefPage)
{
    Table t;
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
    t.rowCount = rd32(&buf[0x10]);
    t.autoNumber = rd32(&buf[0x14]);
    t.maxCols = rd16(&buf[0x29]);
    t.varCols = rd16(&buf[0x2B]);
    const std::uint16_t numCols = rd16(&buf[0x2D]);
    const std::uint32_t numLogical = rd32(&buf[0x2F]);
    const std::uint32_t numReal = rd32(&buf[0x33]);
    t.ownedMap = rd32(&buf[0x37]);
    t.freeMap = rd32(&buf[0x3B]);
    std::size_t pos = 0x3F;
    if (numReal > 1000 || numLogical > 1000)
        corrupt("implausible index count in table page " + std::to_string(tdefPage));
    t.indexes.resize(numReal);
    for (std::uint32_t i = 0; i < numReal; ++i) {
        t.indexes[i].counterOffset = pos;
        pos += 12;
    }
    if (pos + 25u * numCols > len)
        corrupt("column descriptors run past the table definition");
    for (std::uint16_t i = 0; i < numCols; ++i) {
        const std::uint8_t* d = &buf[pos];
        Col c;
        c.type = d[0];
        c.number = rd16(d + 5);
        c.varIndex = rd16(d + 7);
        std::memcpy(c.misc, d + 11, 4);
        c.flags = d[15];
        c.extFlags = d[16];
        c.fixedOffset = rd16(d + 21);
        c.length = rd16(d + 23);
        t.cols.push_back(c);
        pos += 25;
    }
    for (Col& c : t.cols)
        c.name = readName(buf, pos);
    for (std::size_t i = 0; i < t.cols.size(); ++i)
        t.byNumber.push_back(i);
    std::sort(t.byNumber.begin(), t.byNumber.end(),
              [&](std::size_t a, std::size_t b) { return t.cols[a].number < t.cols[b].number; });
    for (RealIndex& ix : t.indexes) {
        if (pos + 52 > len)
            corrupt("index definitions run past the table definition");
        const std::uint8_t* d = &buf[pos];
        for (int k = 0; k < 10; ++k) {
            const std::uint16_t num = rd16(d + 4 + 3 * k);
            if (num != 0xFFFF)
                ix.columns.emplace_back(num, (d[6 + 3 * k] & 0x01) != 0);
        }
        ix.mapPtr = rd32(d + 34);
        ix.root = rd32(d + 38);
        ix.flags = d[46];
        pos += 52;
    }
    for (std::uint32_t i = 0; i < numLogical; ++i) {
        if (pos + 28 > len)
            corrupt("index definitions run past the table definition");
        LogicalIndex li;
        li.realIndex = rd32(&buf[pos + 8]);
        li.kind = buf[pos + 23];
        t.logical.push_back(li);
        pos += 28;
    }
    for (LogicalIndex& li : t.logical)
        li.name = readName(buf, pos);
    while (pos + 2 <= len) {
        const std::uint16_t num = rd16(&buf[pos]);
        if (num == 0xFFFF)
            break;
        if (pos + 10 > len)
            corrupt("long-value map list runs past the table definition");
        t.lvMaps.push_back({num, rd32(&buf[pos + 2]), rd32(&buf[pos + 6])});
        pos += 10;
    }
    return t;
}

std::span<const std::uint8_t> rowAt(PageSource& src, std::uint32_t rowPtr)
{
    const std::uint32_t page = rowPtr >> 8;
    const unsigned slot = rowPtr & 0xFF;
    auto p = src.page(page);
    if (p[0] != 0x01)
        corrupt("row pointer to page " + std::to_string(page) + " which is not a data page");
    const unsigned count = rd16(&p[0x0C]);
    if (slot >= count)
        corrupt("row " + std::to_string(slot) + " of page " + std::to_string(page) + " does not exist");
    const unsigned start = rd16(&p[kDataHeader + 2 * slot]) & 0x1FFF;
    const unsigned end = slot == 0 ? kPage : (rd16(&p[kDataHeader + 2 * (slot - 1)]) & 0x1FFF);
    if (start > end || end > kPage || start < kDataHeader + 2 * count)
        corrupt("row " + std::to_string(slot) + " of page " + std::to_string(page) + " has impossible bounds");
    return p.subspan(start, end - start);
}

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
        for (std::size_t i = 0; i < (row.size() - 5) * 8; ++i)
            if (row[5 + i / 8] >> (i % 8) & 1)
                if (start + i < limit)
                    out.push_back(static_cast<std::uint32_t>(start + i));
    } else if (row[0] == 0x01) {
        const std::uint32_t per = (kPage - 4) * 8;
        for (std::size_t k = 0; k * 4 + 5 <= row.size(); ++k) {
            const std::uint32_t bp = rd32(&row[1 + 4 * k]);
            if (bp == 0)
                continue;
            auto b = src.page(bp);
            if (b[0] != 0x05)
                corrupt("usage map bitmap page " + std::to_string(bp) + " has the wrong type");
            for (std::uint32_t i = 0; i < per; ++i)
                if (b[4 + i / 8] >> (i % 8) & 1) {
                    const std::uint64_t pg = static_cast<std::uint64_t>(k) * per + i;
                    if (pg < limit)
                        out.push_back(static_cast<std::uint32_t>(pg));
                }
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

std::vector<RawCell> decodeRow(PageSource& src, const Table& t, std::span<const std::uint8_t> row, bool resolveLong)
{
    std::vector<RawCell> cells(std::max<std::size_t>(t.maxCols, 1));
    if (row.size() < 2)
        corrupt("row shorter than its column count");
    const unsigned count = rd16(&row[0]);
    const std::size_t maskBytes = (count + 7) / 8;
    if (row.size() < 2 + maskBytes)
        corrupt("row shorter than its null mask");
    const std::uint8_t* mask = &row[row.size() - maskBytes];
    auto bit = [&](unsigned n) { return n < count && (mask[n / 8] >> (n % 8) & 1); };
    std::vector<std::size_t> offsets;
    unsigned varCount = 0;
    if (t.varCols > 0) {
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
        rc.present = bit(c.number);
        if (c.type == 0x01 || !rc.present)
            continue;
        if (c.fixed()) {
            const std::size_t len = c.length;
            if (2 + c.fixedOffset + len > row.size())
                corrupt("fixed column past the row end");
            rc.bytes.assign(row.begin() + 2 + c.fixedOffset, row.begin() + 2 + c.fixedOffset + len);
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
    return cells;
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
        cell.text = decodeStoredText(raw.bytes);
    else
        cell.bytes = raw.bytes;
    return cell;
}

void forEachRow(PageSource& src, const Table& t, const std::function<void(const RowRef&)>& fn)
{
    for (std::uint32_t pg : mapMembers(src, t.ownedMap)) {
        auto p = src.page(pg);
        if (p[0] != 0x01 || rd32(&p[4]) != t.tdefPage)
            continue;
        const unsigned count = rd16(&p[0x0C]);
        for (unsigned s = 0; s < count; ++s) {
            const std::uint16_t off = rd16(&p[kDataHeader + 2 * s]);
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
    auto p = src.page(page);
    IndexPage ip;
    ip.type = p[0];
    if (ip.type != 0x03 && ip.type != 0x04)
        corrupt("page " + std::to_string(page) + " is not an index page");
    ip.tdef = rd32(&p[4]);
    ip.prev = rd32(&p[0x0C]);
    ip.next = rd32(&p[0x10]);
    ip.tail = rd32(&p[0x14]);
    const std::size_t prefix = rd16(&p[0x18]);
    const std::size_t used = kIndexCapacity - rd16(&p[2]);
    if (rd16(&p[2]) > kIndexCapacity)
        corrupt("index page " + std::to_string(page) + " has an impossible free space");
    std::size_t start = 0;
    std::vector<std::uint8_t> first;
    for (std::size_t bitPos = 1; bitPos <= used; ++bitPos) {
        if (!(p[kIndexBitmap + bitPos / 8] >> (bitPos % 8) & 1))
            continue;
        std::vector<std::uint8_t> e;
        if (!ip.entries.empty() && prefix > 0)
            e.assign(first.begin(), first.begin() + static_cast<std::ptrdiff_t>(std::min(prefix, first.size())));
        e.insert(e.end(), p.begin() + static_cast<std::ptrdiff_t>(kIndexEntries + start),
                 p.begin() + static_cast<std::ptrdiff_t>(kIndexEntries + bitPos));
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

void writeIndexPage(std::uint8_t* dst, const IndexPage& p)
{
    std::memset(dst, 0, kPage);
    dst[0] = p.type;
    dst[1] = 0x01;
    const std::size_t used = indexEntriesSize(p);
    wr16(dst + 2, static_cast<std::uint32_t>(kIndexCapacity - used));
    wr32(dst + 4, p.tdef);
    wr32(dst + 0x0C, p.prev);
    wr32(dst + 0x10, p.next);
    wr32(dst + 0x14, p.leaf() ? 0 : p.tail);
    dst[0x1A] = p.leaf() ? 0 : 1;
    std::size_t pos = 0;
    for (const auto& e : p.entries) {
        std::memcpy(dst + kIndexEntries + pos, e.bytes.data(), e.bytes.size());
        pos += e.bytes.size();
        if (!p.leaf()) {
            std::uint8_t* c = dst + kIndexEntries + pos;
            c[0] = static_cast<std::uint8_t>(e.child >> 24);
            c[1] = static_cast<std::uint8_t>(e.child >> 16);
            c[2] = static_cast<std::uint8_t>(e.child >> 8);
            c[3] = static_cast<std::uint8_t>(e.child);
            pos += 4;
        }
        dst[kIndexBitmap + pos / 8] |= static_cast<std::uint8_t>(1u << (pos % 8));
    }
}

SortOrder sortOrderOf(const Col& c)
{
    const std::uint16_t lcid = static_cast<std::uint16_t>(c.misc[0] | c.misc[1] << 8);
    if (lcid != 0x0409 && lcid != 0)
        throwError(err::Unsupported, "The text column '" + utf16ToUtf8(c.name) + "' uses sort order " +
                                         std::to_string(lcid) +
                                         "; only the General sort orders (1033) can be written.");
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

}  // namespace jet::w
