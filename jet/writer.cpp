#include "writer.h"

#include "codec_hook.h"
#include "convert.h"
#include "error.h"
#include "index_key.h"
#include "lock.h"
#include "writer_error.h"
#include "writer_internal.h"

#include <algorithm>
#include <exception>
#include <cmath>
#include <cstring>
#include <ctime>
#include <map>
#include <unordered_map>

namespace jet {

using namespace w;
using SqlType = sql::ColumnType;

namespace {


std::u16string upper16(std::u16string_view s)
{
    std::u16string r(s);
    for (char16_t& c : r) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char16_t>(c - 32);
        else if (c >= 0xE0 && c <= 0xFE && c != 0xF7)
            c = static_cast<char16_t>(c - 32);  // Latin-1 letters: names ignore case here too
    }
    return r;
}

double nowAsDays()
{
    const std::time_t t = std::time(nullptr);
    std::tm tm {};
    localtime_r(&t, &tm);
    // Days from 1899-12-30 to the local date.
    int y = tm.tm_year + 1900, m = tm.tm_mon + 1;
    const int d = tm.tm_mday;
    y -= m <= 2;
    const long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * static_cast<unsigned>(m + (m > 2 ? -3 : 9)) + 2) / 5 + static_cast<unsigned>(d) - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const long days = era * 146097 + static_cast<long>(doe) - 719468 + 25569;
    return static_cast<double>(days) + (tm.tm_hour * 3600 + tm.tm_min * 60 + tm.tm_sec) / 86400.0;
}

std::vector<std::uint8_t> le32(std::int32_t v)
{
    std::vector<std::uint8_t> b(4);
    wr32(b.data(), static_cast<std::uint32_t>(v));
    return b;
}

std::vector<std::uint8_t> le16(std::int16_t v)
{
    std::vector<std::uint8_t> b(2);
    wr16(b.data(), static_cast<std::uint16_t>(v));
    return b;
}

std::vector<std::uint8_t> le64d(double d)
{
    std::vector<std::uint8_t> b(8);
    std::uint64_t u;
    std::memcpy(&u, &d, 8);
    for (int i = 0; i < 8; ++i)
        b[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(u >> (8 * i));
    return b;
}

// Text as stored: compressed (FF FE + one byte per character) when the column allows it and every character
// is in U+0001..U+00FF, otherwise UCS-2.
std::vector<std::uint8_t> storeText(std::u16string_view s, bool compressible, std::size_t maxCompress)
{
    std::vector<std::uint8_t> out;
    bool compress = compressible && s.size() > 2 && s.size() <= maxCompress;
    if (compress)
        for (char16_t c : s)
            if (c == 0 || c > 0xFF) {
                compress = false;
                break;
            }
    // Sized once and filled by index: this runs for every text value of every row.
    if (compress) {
        out.resize(s.size() + 2);
        out[0] = 0xFF;
        out[1] = 0xFE;
        for (std::size_t i = 0; i < s.size(); ++i)
            out[i + 2] = static_cast<std::uint8_t>(s[i]);
        return out;
    }
    out.resize(2 * s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        out[2 * i] = static_cast<std::uint8_t>(s[i]);
        out[2 * i + 1] = static_cast<std::uint8_t>(s[i] >> 8);
    }
    return out;
}

int compare(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b)
{
    const std::size_t n = std::min(a.size(), b.size());
    const int c = n ? std::memcmp(a.data(), b.data(), n) : 0;
    if (c != 0)
        return c;
    return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

bool validNameChar(char16_t c) { return c >= 0x20 && c != '.' && c != '!' && c != '`' && c != '[' && c != ']'; }

}  // namespace

struct CatalogRow {
    std::int32_t id = 0, parentId = 0;
    std::u16string name;
    std::int16_t type = 0;
    std::int32_t flags = 0;
    std::uint32_t rowPtr = 0;
};

struct WriterImpl {
    std::string path;
    std::unique_ptr<PageCache> cache;
    std::unique_ptr<WriteLock> lock;
    int version = 0;
    SortOrder catalogOrder = SortOrder::GeneralLegacy;
    std::uint8_t sortBytes[4] = {0x09, 0x04, 0x00, 0x00};
    bool closed = false;

    std::map<std::uint32_t, Table> tables;  // by TDEF page, loaded on demand
    std::vector<Cell> insertScratch;        // the cells of the INSERT in hand
    std::vector<CatalogRow> catalog;
    std::unordered_map<std::string, std::size_t> tableByName;  // nameIdentity → catalog index
    std::int32_t tablesId = 0;
    std::vector<std::uint8_t> owner;
    std::uint32_t acesPage = 0, relationshipsPage = 0;

    // ---- page helpers -------------------------------------------------------------------------------
    PageCache* external = nullptr;  // a cache owned by someone else (building a new database)
    PageCache& pc() { return external ? *external : *cache; }
    const Layout& lay() { return layoutOf(pc()); }
    bool jet3() { return lay().jet3; }
    Table& table(std::uint32_t tdef)
    {
        auto it = tables.find(tdef);
        if (it == tables.end())
            it = tables.emplace(tdef, readTable(pc(), tdef)).first;
        return it->second;
    }

    // ---- global free-page map (page 1, row 0) ------------------------------------------------------
    void globalMapSet(std::uint32_t page, bool freeBit)
    {
        const Layout& l = lay();
        const std::size_t slots = l.rowTable;
        std::uint8_t* p = pc().modify(1);
        const unsigned count = rd16(p + l.rowCount);
        if (p[0] != 0x01 || count < 1)
            throwError(err::Corrupt, "The free-page map on page 1 is damaged.");
        unsigned start0 = rd16(p + slots) & 0x1FFF;
        const unsigned end0 = l.page;
        std::uint8_t* row = p + start0;
        if (row[0] != 0x00)
            throwError(err::Unsupported, "This file keeps its free-page map in a form this engine does not "
                                         "write (a reference map); open and compact it in Access first.");
        std::uint32_t base = rd32(row + 1);
        std::size_t bits = (end0 - start0 - 5) * 8;
        if (page < base)
            return;  // below the map's window every page counts as in use; a freed one stays so
        if (page - base >= bits) {
            if (freeBit)
                return;  // beyond the map counts as free already
            std::size_t need = ((page - base) / 8 + 1) - (end0 - start0 - 5);
            need = (need + 63) / 64 * 64;
            const unsigned freeSpace = rd16(p + 2);
            if (need <= freeSpace) {
                // Lengthen row 0: move the rows stored below it down and fill the new bits with "free".
                unsigned lowest = start0;
                for (unsigned s = 1; s < count; ++s)
                    lowest = std::min<unsigned>(lowest, rd16(p + slots + 2 * s) & 0x1FFF);
                std::memmove(p + lowest - need, p + lowest, start0 - lowest);
                for (unsigned s = 1; s < count; ++s) {
                    const std::uint16_t v = rd16(p + slots + 2 * s);
                    wr16(p + slots + 2 * s, static_cast<std::uint16_t>(v - need));
                }
                // Row 0 now starts `need` bytes earlier: header and old bitmap move down, new bytes follow.
                const unsigned newStart = static_cast<unsigned>(start0 - need);
                std::memmove(p + newStart, p + start0, end0 - start0);
                std::memset(p + newStart + (end0 - start0), 0xFF, need);
                wr16(p + slots, static_cast<std::uint16_t>(newStart | (rd16(p + slots) & 0xE000)));
                wr16(p + 2, static_cast<std::uint16_t>(freeSpace - need));
                start0 = newStart;
                row = p + start0;
                bits = (end0 - start0 - 5) * 8;
            } else {
                // Page 1 is full: slide the window up so that it ends with this page. The pages it leaves
                // behind count as in use from then on (freeing one of them can no longer be recorded).
                const std::size_t bytes = end0 - start0 - 5;
                const std::uint32_t newBase = (page - static_cast<std::uint32_t>(bits) + 1 + 7) / 8 * 8;
                const std::size_t shift = (newBase - base) / 8;
                if (shift >= bytes) {
                    std::memset(row + 5, 0xFF, bytes);
                } else {
                    std::memmove(row + 5, row + 5 + shift, bytes - shift);
                    std::memset(row + 5 + bytes - shift, 0xFF, shift);
                }
                base = newBase;
                wr32(row + 1, base);
            }
        }
        std::uint8_t& b = row[5 + (page - base) / 8];
        if (freeBit)
            b = static_cast<std::uint8_t>(b | (1u << ((page - base) % 8)));
        else
            b = static_cast<std::uint8_t>(b & ~(1u << ((page - base) % 8)));
    }

    std::uint32_t allocPage()
    {
        const std::uint32_t n = pc().append();
        globalMapSet(n, false);
        return n;
    }

    void freePage(std::uint32_t n)
    {
        std::uint8_t* p = pc().modify(n);
        std::memset(p, 0, 4);
        globalMapSet(n, true);
    }

    // ---- usage maps -------------------------------------------------------------------------------
    std::uint8_t* mapRow(std::uint32_t ptr, std::size_t& len)
    {
        auto r = rowAt(pc(), ptr);
        len = r.size();
        std::uint8_t* p = pc().modify(ptr >> 8);
        return p + (r.data() - pc().page(ptr >> 8).data());
    }

    void mapAdd(std::uint32_t ptr, std::uint32_t page)
    {
        std::size_t len = 0;
        std::uint8_t* row = mapRow(ptr, len);
        if (row[0] == 0x00) {
            const std::size_t bits = (len - 5) * 8;
            std::uint32_t start = rd32(row + 1);
            bool empty = true;
            for (std::size_t i = 5; i < len; ++i)
                if (row[i]) {
                    empty = false;
                    break;
                }
            if (empty) {
                start = page / 8 * 8;
                wr32(row + 1, start);
            }
            if (page >= start && page - start < bits) {
                row[5 + (page - start) / 8] |= static_cast<std::uint8_t>(1u << ((page - start) % 8));
                return;
            }
            // Outside the window: try a new window over all members, else become a reference map.
            std::vector<std::uint32_t> members = mapMembers(pc(), ptr);
            members.push_back(page);
            const std::uint32_t lo = *std::min_element(members.begin(), members.end()) / 8 * 8;
            const std::uint32_t hi = *std::max_element(members.begin(), members.end());
            row = mapRow(ptr, len);
            if (hi - lo < bits) {
                std::memset(row + 5, 0, len - 5);
                wr32(row + 1, lo);
                for (std::uint32_t m : members)
                    row[5 + (m - lo) / 8] |= static_cast<std::uint8_t>(1u << ((m - lo) % 8));
                return;
            }
            std::memset(row, 0, len);
            row[0] = 0x01;
            for (std::uint32_t m : members)
                mapAdd(ptr, m);
            return;
        }
        if (row[0] != 0x01)
            throwError(err::Corrupt, "Unknown usage map type.");
        const std::uint32_t kPerBitmapPage = lay().perBitmapPage();
        const std::size_t k = page / kPerBitmapPage;
        if (1 + 4 * (k + 1) > len)
            throwError(err::DatabaseFull, "A usage map cannot describe page " + std::to_string(page) + ".");
        std::uint32_t bp = rd32(row + 1 + 4 * k);
        if (bp == 0) {
            bp = allocPage();
            std::uint8_t* b = pc().modify(bp);
            b[0] = 0x05;
            b[1] = 0x01;
            row = mapRow(ptr, len);
            wr32(row + 1 + 4 * k, bp);
        }
        std::uint8_t* b = pc().modify(bp);
        const std::uint32_t i = page - static_cast<std::uint32_t>(k) * kPerBitmapPage;
        b[4 + i / 8] |= static_cast<std::uint8_t>(1u << (i % 8));
    }

    void mapRemove(std::uint32_t ptr, std::uint32_t page)
    {
        std::size_t len = 0;
        std::uint8_t* row = mapRow(ptr, len);
        if (row[0] == 0x00) {
            const std::uint32_t start = rd32(row + 1);
            if (page >= start && page - start < (len - 5) * 8)
                row[5 + (page - start) / 8] &= static_cast<std::uint8_t>(~(1u << ((page - start) % 8)));
            return;
        }
        const std::uint32_t kPerBitmapPage = lay().perBitmapPage();
        const std::size_t k = page / kPerBitmapPage;
        if (1 + 4 * (k + 1) > len)
            return;
        const std::uint32_t bp = rd32(row + 1 + 4 * k);
        if (bp == 0)
            return;
        std::uint8_t* b = pc().modify(bp);
        const std::uint32_t i = page - static_cast<std::uint32_t>(k) * kPerBitmapPage;
        b[4 + i / 8] &= static_cast<std::uint8_t>(~(1u << (i % 8)));
    }

    bool mapContains(std::uint32_t ptr, std::uint32_t page)
    {
        auto row = rowAt(pc(), ptr);
        if (row[0] == 0x00) {
            const std::uint32_t start = rd32(&row[1]);
            return page >= start && page - start < (row.size() - 5) * 8 &&
                   (row[5 + (page - start) / 8] >> ((page - start) % 8) & 1);
        }
        const std::uint32_t kPerBitmapPage = lay().perBitmapPage();
        const std::size_t k = page / kPerBitmapPage;
        if (1 + 4 * (k + 1) > row.size())
            return false;
        const std::uint32_t bp = rd32(&row[1 + 4 * k]);
        if (bp == 0)
            return false;
        auto b = pc().page(bp);
        const std::uint32_t i = page - static_cast<std::uint32_t>(k) * kPerBitmapPage;
        return b[4 + i / 8] >> (i % 8) & 1;
    }

    // ---- data pages -------------------------------------------------------------------------------
    static void initDataPage(const Layout& l, std::uint8_t* p, std::uint32_t owner)
    {
        std::memset(p, 0, l.page);
        p[0] = 0x01;
        p[1] = 0x01;
        wr16(p + 2, static_cast<std::uint32_t>(l.page - l.rowTable));
        wr32(p + 4, owner);
    }
    void initDataPage(std::uint8_t* p, std::uint32_t owner) { initDataPage(lay(), p, owner); }

    static bool fits(const Layout& l, std::span<const std::uint8_t> p, std::size_t len)
    {
        return rd16(&p[2]) >= len + 2 && rd16(&p[l.rowCount]) < 255;
    }
    bool fits(std::span<const std::uint8_t> p, std::size_t len) { return fits(lay(), p, len); }

    static std::uint8_t putRow(const Layout& l, std::uint8_t* p, std::span<const std::uint8_t> row)
    {
        const unsigned count = rd16(p + l.rowCount);
        const unsigned top = count == 0 ? l.page : (rd16(p + l.rowTable + 2 * (count - 1)) & 0x1FFF);
        const unsigned start = static_cast<unsigned>(top - row.size());
        std::memcpy(p + start, row.data(), row.size());
        wr16(p + l.rowTable + 2 * count, static_cast<std::uint16_t>(start));
        wr16(p + l.rowCount, static_cast<std::uint16_t>(count + 1));
        wr16(p + 2, static_cast<std::uint16_t>(rd16(p + 2) - row.size() - 2));
        return static_cast<std::uint8_t>(count);
    }
    std::uint8_t putRow(std::uint8_t* p, std::span<const std::uint8_t> row) { return putRow(lay(), p, row); }

    // Stores a row of table `t` on one of its data pages; returns the row pointer.
    std::uint32_t storeRow(Table& t, std::span<const std::uint8_t> row)
    {
        if (t.lastDataPage == 0) {
            for (std::uint32_t pg : mapMembers(pc(), t.freeMap)) {
                auto p = pc().page(pg);
                if (p[0] == 0x01 && rd32(&p[4]) == t.tdefPage)
                    t.lastDataPage = pg;
            }
        }
        if (t.lastDataPage != 0) {
            auto p = pc().page(t.lastDataPage);
            if (p[0] == 0x01 && rd32(&p[4]) == t.tdefPage && fits(p, row.size())) {
                const std::uint8_t slot = putRow(pc().modify(t.lastDataPage), row);
                return t.lastDataPage << 8 | slot;
            }
            if (mapContains(t.freeMap, t.lastDataPage))
                mapRemove(t.freeMap, t.lastDataPage);
        }
        const std::uint32_t pg = allocPage();
        std::uint8_t* p = pc().modify(pg);
        initDataPage(p, t.tdefPage);
        mapAdd(t.ownedMap, pg);
        mapAdd(t.freeMap, pg);
        t.lastDataPage = pg;
        const std::uint8_t slot = putRow(pc().modify(pg), row);
        return pg << 8 | slot;
    }

    // ---- long values ------------------------------------------------------------------------------
    static bool isLvalPage(std::span<const std::uint8_t> p)
    {
        return p[0] == 0x01 && std::memcmp(&p[4], "LVAL", 4) == 0;
    }

    // The column's pages that had room, as the free-page map has them: the last few (the map is read once per
    // loaded table; afterwards the writer keeps the list itself).
    void findRoomPages(LvMaps& lv)
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

    std::uint32_t lvalRow(LvMaps& lv, std::span<const std::uint8_t> data)
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

    std::vector<std::uint8_t> longValue(LvMaps& lv, const std::vector<std::uint8_t>& data, std::size_t rowRoom)
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

    // ---- rows -------------------------------------------------------------------------------------
    // Text as a column stores it: Access 97 in the column's code page (a character it cannot hold fails
    // the row), otherwise UCS-2, compressed where allowed.
    static std::vector<std::uint8_t> columnText(const Col& c, std::u16string_view text, bool compressible,
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

    // The tail of a row with variable columns: end-of-data offset, the offsets from the last column to the
    // first and their count (Jet 4: u16 each; Jet 3: one byte each, plus one jump entry for every 256-byte
    // boundary the row crosses, naming the first offset at or past it).
    static void appendVarTail(bool jet3, std::vector<std::uint8_t>& row, const std::vector<std::uint16_t>& offsets,
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

    // Builds the stored row from cells given by column number.
    std::vector<std::uint8_t> encodeRow(Table& t, const std::vector<Cell>& cells)
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

    // Inserts a row into a table with all its indexes; cells by column number.
    std::uint32_t insertRow(Table& t, std::vector<Cell> cells) { return insertCells(t, cells); }

    // The same on cells the caller keeps (they are changed: auto numbers are filled in).
    std::uint32_t insertCells(Table& t, std::vector<Cell>& cells)
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
            for (RealIndex& ix : t.indexes)
                indexInsert(t, ix, indexKey(t, ix, rawWithLong(t, raw, cells)), ptr);
        }
        return ptr;
    }

    // Index keys of long columns need the full value; rows hold only headers.
    std::vector<RawCell> rawWithLong(const Table& t, std::vector<RawCell> raw, const std::vector<Cell>& cells)
    {
        for (const Col& c : t.cols)
            if (c.longValue() && !cells[c.number].null)
                raw[c.number].bytes =
                    c.type == 0x0C ? columnText(c, cells[c.number].text, false, 0) : cells[c.number].bytes;
        return raw;
    }

    void deleteRow(Table& t, std::uint32_t ptr)
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

    // ---- index B-trees ----------------------------------------------------------------------------
    static std::vector<std::uint8_t> withPointer(const std::vector<std::uint8_t>& key, std::uint32_t ptr)
    {
        std::vector<std::uint8_t> e = key;
        const std::uint32_t pg = ptr >> 8;
        e.push_back(static_cast<std::uint8_t>(pg >> 16));
        e.push_back(static_cast<std::uint8_t>(pg >> 8));
        e.push_back(static_cast<std::uint8_t>(pg));
        e.push_back(static_cast<std::uint8_t>(ptr & 0xFF));
        return e;
    }

    void savePage(std::uint32_t n, const IndexPage& ip) { writeIndexPage(lay(), pc().modify(n), ip); }

    struct PathStep {
        std::uint32_t page;
        std::size_t slot;  // index of the entry followed, entries.size() for the tail
    };

    std::vector<PathStep> descend(const RealIndex& ix, const std::vector<std::uint8_t>& entry)
    {
        std::vector<PathStep> path;
        std::uint32_t pg = ix.root;
        for (int depth = 0; depth < 32; ++depth) {
            const IndexPage ip = readIndexPage(pc(), pg);
            if (ip.leaf()) {
                path.push_back({pg, 0});
                return path;
            }
            std::size_t i = 0;
            while (i < ip.entries.size() && compare(ip.entries[i].bytes, entry) < 0)
                ++i;
            path.push_back({pg, i});
            pg = i < ip.entries.size() ? ip.entries[i].child : ip.tail;
            if (pg == 0)
                throwError(err::Corrupt, "An index node has no child to follow.");
        }
        throwError(err::Corrupt, "An index is deeper than any real one; it may be damaged.");
    }

    // After the last entry of the page at path[level] changed: fix the entry that names it above. The new
    // entry may be longer than the old one, so the parent may have to split.
    void refreshParents(Table& t, RealIndex& ix, std::vector<PathStep>& path, std::size_t level,
                        const std::vector<std::uint8_t>& last)
    {
        while (level > 0) {
            PathStep& up = path[level - 1];
            IndexPage parent = readIndexPage(pc(), up.page);
            if (up.slot < parent.entries.size()) {
                parent.entries[up.slot].bytes = last;
                placePage(t, ix, path, level - 1, parent);
                return;
            }
            --level;  // the page is its parent's tail: the parent's own last entry changed
        }
    }

    void indexInsert(Table& t, RealIndex& ix, const std::vector<std::uint8_t>& key, std::uint32_t ptr)
    {
        const std::vector<std::uint8_t> entry = withPointer(key, ptr);
        std::vector<PathStep> path = descend(ix, entry);
        const std::uint32_t leafNo = path.back().page;
        IndexPage leaf = readIndexPage(pc(), leafNo);
        std::size_t i = 0;
        while (i < leaf.entries.size() && compare(leaf.entries[i].bytes, entry) < 0)
            ++i;
        auto sameKey = [&](std::size_t j) {
            if (j >= leaf.entries.size())
                return false;
            const auto& b = leaf.entries[j].bytes;
            return b.size() == entry.size() && std::memcmp(b.data(), entry.data(), key.size()) == 0;
        };
        const bool dupBefore = i > 0 && sameKey(i - 1);
        const bool dupAfter = sameKey(i);
        if (ix.unique() && (dupBefore || dupAfter))
            throwError(3022, "The changes you requested were not successful because they would create "
                             "duplicate values in an index.");
        if (!dupBefore && !dupAfter) {
            std::uint8_t* tp = pc().modify(t.tdefPage);
            wr32(tp + ix.counterOffset + 4, rd32(tp + ix.counterOffset + 4) + 1);
        }
        leaf.entries.insert(leaf.entries.begin() + static_cast<std::ptrdiff_t>(i), {entry, 0});
        const bool newLast = i + 1 == leaf.entries.size();
        placePage(t, ix, path, path.size() - 1, leaf);
        if (newLast)
            refreshParents(t, ix, path, path.size() - 1, entry);
    }

    // Writes page path[level] with its new entries, splitting it when they do not fit.
    void placePage(Table& t, RealIndex& ix, std::vector<PathStep>& path, std::size_t level, IndexPage& ip)
    {
        const std::uint32_t pgNo = path[level].page;
        if (indexEntriesSize(ip) <= lay().ixCapacity()) {
            savePage(pgNo, ip);
            return;
        }
        if (level == 0) {
            // The root keeps its page number: its entries move to a new page under it.
            const std::uint32_t c = allocPage();
            mapAdd(ix.mapPtr, c);
            IndexPage moved = ip;
            moved.prev = moved.next = 0;
            IndexPage root;
            root.type = 0x03;
            root.tdef = ip.tdef;
            root.tail = c;
            savePage(pgNo, root);
            path.insert(path.begin() + 1, PathStep{c, path[0].slot});
            path[0].slot = 0;  // the root has no entries now: slot 0 is its tail
            ip = moved;
            placePage(t, ix, path, 1, ip);
            return;
        }
        // Split: the first half goes to a new page L placed before this one.
        const std::uint32_t l = allocPage();
        mapAdd(ix.mapPtr, l);
        const std::size_t half = ip.entries.size() / 2;
        IndexPage left;
        left.type = ip.type;
        left.tdef = ip.tdef;
        left.prev = ip.prev;
        left.next = pgNo;
        left.entries.assign(ip.entries.begin(), ip.entries.begin() + static_cast<std::ptrdiff_t>(half));
        ip.entries.erase(ip.entries.begin(), ip.entries.begin() + static_cast<std::ptrdiff_t>(half));
        std::vector<std::uint8_t> leftMax;
        if (left.leaf()) {
            leftMax = left.entries.back().bytes;
        } else {
            // The last moved child becomes L's tail; its entry is L's maximum.
            left.tail = left.entries.back().child;
            leftMax = left.entries.back().bytes;
            left.entries.pop_back();
        }
        if (ip.prev != 0) {
            IndexPage before = readIndexPage(pc(), ip.prev);
            before.next = l;
            savePage(ip.prev, before);
        }
        ip.prev = l;
        savePage(l, left);
        savePage(pgNo, ip);
        // Keep the path pointing at the page that now holds the entry it followed.
        bool movedLeft = false;
        if (!ip.leaf() && level + 1 < path.size()) {
            const std::size_t s = path[level].slot;
            if (s + 1 < half) {
                path[level] = {l, s};
                movedLeft = true;
            } else if (s + 1 == half) {
                path[level] = {l, left.entries.size()};
                movedLeft = true;
            } else {
                path[level].slot = s - half;
            }
        }
        // The parent gets an entry for L just before the one for this page.
        IndexPage parent = readIndexPage(pc(), path[level - 1].page);
        const std::size_t at = path[level - 1].slot;
        parent.entries.insert(parent.entries.begin() + static_cast<std::ptrdiff_t>(at), {leftMax, l});
        path[level - 1].slot = movedLeft ? at : at + 1;
        placePage(t, ix, path, level - 1, parent);
    }

    void indexRemove(Table& t, RealIndex& ix, const std::vector<std::uint8_t>& key, std::uint32_t ptr)
    {
        const std::vector<std::uint8_t> entry = withPointer(key, ptr);
        std::vector<PathStep> path = descend(ix, entry);
        IndexPage leaf = readIndexPage(pc(), path.back().page);
        std::size_t i = 0;
        while (i < leaf.entries.size() && compare(leaf.entries[i].bytes, entry) != 0)
            ++i;
        if (i == leaf.entries.size())
            throwError(err::Corrupt, "An index entry to remove is missing; the index may be damaged.");
        const bool dupBefore = i > 0 && leaf.entries[i - 1].bytes.size() == entry.size() &&
                               std::memcmp(leaf.entries[i - 1].bytes.data(), entry.data(), key.size()) == 0;
        const bool dupAfter = i + 1 < leaf.entries.size() && leaf.entries[i + 1].bytes.size() == entry.size() &&
                              std::memcmp(leaf.entries[i + 1].bytes.data(), entry.data(), key.size()) == 0;
        if (!dupBefore && !dupAfter) {
            std::uint8_t* tp = pc().modify(t.tdefPage);
            const std::uint32_t n = rd32(tp + ix.counterOffset + 4);
            if (n > 0)
                wr32(tp + ix.counterOffset + 4, n - 1);
        }
        const bool wasLast = i + 1 == leaf.entries.size();
        leaf.entries.erase(leaf.entries.begin() + static_cast<std::ptrdiff_t>(i));
        removeFromPage(t, ix, path, path.size() - 1, leaf, wasLast);
    }

    void removeFromPage(Table& t, RealIndex& ix, std::vector<PathStep>& path, std::size_t level, IndexPage& ip,
                        bool lastChanged)
    {
        const std::uint32_t pgNo = path[level].page;
        const bool empty = ip.leaf() ? ip.entries.empty() : (ip.entries.empty() && ip.tail == 0);
        if (!empty || level == 0) {
            if (level == 0 && empty && !ip.leaf()) {
                ip.type = 0x04;  // an emptied root becomes an empty leaf again
                ip.tail = 0;
            }
            savePage(pgNo, ip);
            // (A node's maximum lives in its tail subtree, so only a leaf's last entry matters here.)
            if (lastChanged && !ip.entries.empty() && ip.leaf())
                refreshParents(t, ix, path, level, ip.entries.back().bytes);
            return;
        }
        // Unlink the empty page from its level and from its parent.
        if (ip.prev) {
            IndexPage b = readIndexPage(pc(), ip.prev);
            b.next = ip.next;
            savePage(ip.prev, b);
        }
        if (ip.next) {
            IndexPage a = readIndexPage(pc(), ip.next);
            a.prev = ip.prev;
            savePage(ip.next, a);
        }
        mapRemove(ix.mapPtr, pgNo);
        freePage(pgNo);
        IndexPage parent = readIndexPage(pc(), path[level - 1].page);
        const std::size_t slot = path[level - 1].slot;
        bool parentLastChanged = false;
        if (slot < parent.entries.size()) {
            parent.entries.erase(parent.entries.begin() + static_cast<std::ptrdiff_t>(slot));
        } else if (!parent.entries.empty()) {
            // The tail went away: the previous child becomes the tail and its entry disappears.
            parent.tail = parent.entries.back().child;
            parent.entries.pop_back();
            parentLastChanged = true;
        } else {
            parent.tail = 0;
        }
        removeFromPage(t, ix, path, level - 1, parent, parentLastChanged);
        if (parentLastChanged && level >= 2) {
            // The parent's maximum is now the maximum of its new tail subtree.
            std::uint32_t pg = parent.tail;
            while (pg) {
                IndexPage d = readIndexPage(pc(), pg);
                if (d.leaf()) {
                    if (!d.entries.empty())
                        refreshParents(t, ix, path, level - 1, d.entries.back().bytes);
                    break;
                }
                pg = d.tail;
            }
        }
    }

    // ---- catalogue ----------------------------------------------------------------------------------
    void loadCatalog()
    {
        catalog.clear();
        tableByName.clear();
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

    // Two names are the same object when the catalogue's name index gives them the same key: case is
    // ignored in every script the sort order knows, accents are not. Names without a key (only Access
    // could have written them) fall back to comparing upper-cased text.
    std::string nameIdentity(std::u16string_view name) const
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
    mutable std::u16string lastIdentityName;
    mutable std::string lastIdentity;

    const CatalogRow* findTable(std::u16string_view name)
    {
        auto it = tableByName.find(nameIdentity(name));
        if (it == tableByName.end())
            return nullptr;
        return &catalog[it->second];
    }

    const CatalogRow& userTable(const std::string& name, int missingError)
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

    void validateName(const std::u16string& n, const std::string& utf8, const char* what)
    {
        if (n.empty() || n.size() > 64 || n.front() == ' ' || n.back() == ' ')
            throwError(err::InvalidName, "'" + utf8 + "' is not a valid " + what +
                                             " name: it must be 1 to 64 characters and not begin or end with a blank.");
        for (char16_t c : n)
            if (!validNameChar(c))
                throwError(err::InvalidName, "'" + utf8 + "' is not a valid " + what +
                                                 " name: it must not contain . ! ` [ ] or control characters.");
    }

    // ---- statements -------------------------------------------------------------------------------
    void createTable(const sql::CreateTable& ct)
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
        addCatalogRow(tdef, name);
    }

    // The catalogue row of a new table and its index entries, then the permissions.
    void addCatalogRow(std::uint32_t tdef, const std::u16string& name)
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
        set(u"Id", le32(static_cast<std::int32_t>(tdef)));
        set(u"ParentId", le32(tablesId));
        set(u"Type", le16(1));
        set(u"DateCreate", le64d(now));
        set(u"DateUpdate", le64d(now));
        set(u"Flags", le32(0));
        if (!owner.empty())
            set(u"Owner", owner);
        if (const Col* c = mso.column(u"Name")) {
            cells[c->number].null = false;
            cells[c->number].text = name;
        }
        const std::uint32_t rowPtr = insertRow(mso, cells);
        addAces(static_cast<std::int32_t>(tdef));

        CatalogRow cr;
        cr.id = static_cast<std::int32_t>(tdef);
        cr.parentId = tablesId;
        cr.name = name;
        cr.type = 1;
        cr.rowPtr = rowPtr;
        catalog.push_back(cr);
        tableByName[nameIdentity(name)] = catalog.size() - 1;
    }

    // CREATE TABLE on an Access 97 file: 18-byte column descriptors, names in the code page, 133-byte usage
    // maps, the same order of parts as Jet 4 (docs/format/table-definitions.md).
    void createTableJet3(const sql::CreateTable& ct, const std::u16string& name,
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
        addCatalogRow(tdef, name);
    }

    // Empty inline usage maps for a new table, as many to a page as fit.
    std::vector<std::uint32_t> newMapRows(std::size_t count)
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

    // Spreads a definition over its pages: the first page holds its start whole, every further page an
    // 8-byte header (type, free space or "VC", next page) and the next piece.
    void writeTdefPages(const std::vector<std::uint32_t>& tdefPages, const std::vector<std::uint8_t>& buf)
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

    void addAces(std::int32_t objectId)
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

    void insert(const sql::Insert& ins)
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
            if (c->type == 0x12 || c->type == 0x14 || c->type == 0x0D || c->type == 0x11 ||
                (c->extFlags & 0xC0) == 0xC0)
                throwError(err::Unsupported, "Field '" + utf16ToUtf8(c->name) +
                                                 "' has a type this engine cannot write yet.");
            convertLiteral(ins.values[i], c->shape(), cells[c->number]);
        }
        for (const Col& c : t.cols)
            if ((c.type == 0x12 || c.type == 0x14 || (c.extFlags & 0xC0) == 0xC0) && !cells[c.number].null)
                throwError(err::Unsupported, "Field '" + utf16ToUtf8(c.name) + "' cannot be written yet.");
        insertCells(t, cells);
    }

    void dropTable(const std::string& nameUtf8)
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

    void copyTable(const std::string& source, const std::string& target)
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
};

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

std::unique_ptr<Writer> Writer::open(const std::string& path, WriterOptions options)
{
    auto wtr = std::make_unique<Writer>(Token{});
    auto impl = std::make_unique<WriterImpl>();
    impl->path = path;
    std::unique_ptr<FileIo> io = options.io ? std::move(options.io) : openPosixFile(path);
    if (options.takeLock)
        impl->lock = WriteLock::acquire(path, io->fd());
    std::uint8_t head[0x100] = {};
    if (io->size() < 3 * 2048)
        throwError(err::Corrupt, "Unrecognized database format '" + path + "'.");
    io->read(0, head, sizeof head);
    if (std::memcmp(head + 4, "Standard Jet DB", 15) != 0 && std::memcmp(head + 4, "Standard ACE DB", 15) != 0)
        throwError(err::Corrupt, "Unrecognized database format '" + path + "'.");
    impl->version = head[0x14];
    if (impl->version > 6)
        throwError(err::Unsupported, "'" + path + "' has an unknown file version (" +
                                         std::to_string(impl->version) + ").");
    const bool jet3 = impl->version == 0;  // Access 97: 2 KiB pages, text in the file's code page
    // Unmask the header fields (RC4 with a fixed key).
    const std::uint8_t mkey[4] = {0xC7, 0xDA, 0x39, 0x6B};
    rc4Apply(mkey, 4, head + 0x18, jet3 ? 126 : 128);
    const std::uint32_t dbKey = rd32(head + 0x3E);
    const std::uint16_t lcid = rd16(head + (jet3 ? 0x3A : 0x6E));
    if (jet3) {
        // Index keys of text are known for the General order over windows-1252 only.
        const std::uint16_t cp = rd16(head + 0x3C);
        if ((lcid != 0x0409 && lcid != 0) || (cp != 1252 && cp != 0))
            throwError(err::Unsupported, "'" + path + "' is an Access 97 database with sort order " +
                                             std::to_string(lcid) + " and code page " + std::to_string(cp) +
                                             "; this engine writes Access 97 files only in the General sort order "
                                             "(1033) with code page 1252.");
        if (!options.password.empty() || rd16(head + 0x42) != 0) {
            // A database password on an Access 97 file: 20 bytes at 0x42, plain code-page text.
            std::string stored;
            for (int i = 0; i < 20 && head[0x42 + i] != 0; ++i)
                stored.push_back(static_cast<char>(head[0x42 + i]));
            if (!stored.empty() && utf16ToUtf8(codePageText(1252, std::span<const std::uint8_t>(
                                       reinterpret_cast<const std::uint8_t*>(stored.data()), stored.size()))) !=
                                       options.password)
                throwError(3031, "Not a valid password.");
        }
    }
    // Encrypted .accdb: pages are decrypted on load and re-encrypted with the file's own keys
    // (jet/codec.h; a wrong or missing password is 3031).
    std::unique_ptr<PageCodec> codec;
    if (impl->version >= 2 && dbKey != 0) {
        std::vector<std::uint8_t> page0(kPage);
        io->read(0, page0.data(), kPage);
        rc4Apply(mkey, 4, page0.data() + 0x18, 128);
        codec = makePageCodecForVersion(page0, impl->version, options.password, path);
    }
    if (lcid != 0x0409 && lcid != 0)
        throwError(err::Unsupported, "'" + path + "' was created with sort order " + std::to_string(lcid) +
                                         "; this engine writes only databases with the sort orders \"General\" and "
                                         "\"General - Legacy\" (1033).");
    {
        // Jet 4 password: 40 bytes at 0x42, XOR-ed with the creation date's integer part. (.accdb passwords
        // are encryption and are checked by the page codec.)
        if (impl->version == 1) {
            double created;
            std::memcpy(&created, head + 0x72, 8);
            const std::uint32_t pat = static_cast<std::uint32_t>(static_cast<std::int32_t>(created));
            std::u16string pw;
            for (int i = 0; i < 20; ++i) {
                const std::uint8_t* q = head + 0x42 + 2 * i;
                const std::uint8_t lo = q[0] ^ static_cast<std::uint8_t>(pat >> (8 * ((2 * i) % 4)));
                const std::uint8_t hi = q[1] ^ static_cast<std::uint8_t>(pat >> (8 * ((2 * i + 1) % 4)));
                const char16_t ch = static_cast<char16_t>(lo | hi << 8);
                if (ch == 0)
                    break;
                pw.push_back(ch);
            }
            if (!pw.empty() && pw != utf8ToUtf16(options.password))
                throwError(3031, "Not a valid password.");
        }
    }
    impl->cache = std::make_unique<PageCache>(std::move(io), jet3 ? 2048 : kPage, path,
                                              impl->version <= 1 ? dbKey : 0);
    if (codec)
        impl->cache->setCodec(std::move(codec));
    if (impl->cache->page(2)[0] != 0x02)
        throwError(err::Corrupt, "Unrecognized database format '" + path + "': page 2 is not the catalogue.");
    impl->loadCatalog();
    wtr->impl_ = std::move(impl);
    return wtr;
}

Writer::Writer(Token) {}

Writer::~Writer()
{
    try {
        close();
    } catch (...) {
    }
}

void Writer::close()
{
    if (!impl_ || impl_->closed)
        return;
    impl_->closed = true;
    if (impl_->cache->inStatement())
        impl_->cache->rollback();
    // An open batch is written: its statements were reported done.
    std::exception_ptr failure;
    try {
        impl_->cache->commitGroup();
    } catch (...) {
        failure = std::current_exception();
    }
    impl_->cache->sync();
    impl_->lock.reset();
    if (failure)
        std::rethrow_exception(failure);
}

void Writer::beginBatch()
{
    if (impl_->closed)
        throwError(err::ReadOnly, "The database '" + impl_->path + "' has been closed.");
    impl_->cache->beginGroup();
}

void Writer::commitBatch()
{
    PageCache& pc = *impl_->cache;
    if (!pc.inGroup())
        return;
    try {
        pc.commitGroup();
    } catch (...) {
        // The file and the pages are as before the batch: cached table state is read again.
        impl_->tables.clear();
        pc.begin();
        try {
            impl_->loadCatalog();
        } catch (...) {
        }
        pc.rollback();
        throw;
    }
}

PageCache& Writer::pages() { return *impl_->cache; }
bool Writer::inBatch() const { return impl_->cache->inGroup(); }
std::size_t Writer::batchPages() const { return impl_->cache->groupPages(); }
const std::string& Writer::path() const { return impl_->path; }

void Writer::execute(std::string_view sqlText)
{
    run(sql::parse(sqlText));
}

namespace {

// Runs `body` as one statement: its pages reach the file together, or, when it fails, the pages and the
// cached table state are as before it.
void inStatement(WriterImpl& w, const std::function<void()>& body)
{
    PageCache& pc = *w.cache;
    pc.begin();
    try {
        body();
        pc.commit();
    } catch (...) {
        if (pc.inStatement())
            pc.rollback();
        // Cached table state (row counts, current pages, catalogue) is read again from the restored pages.
        w.tables.clear();
        pc.begin();
        try {
            w.loadCatalog();
        } catch (...) {
        }
        pc.rollback();
        throw;
    }
}

}  // namespace

void Writer::run(const sql::Statement& st)
{
    if (impl_->closed)
        throwError(err::ReadOnly, "The database '" + impl_->path + "' has been closed.");
    if (const auto* sa = std::get_if<sql::SelectAll>(&st)) {
        impl_->userTable(sa->table, err::CannotFindInput);
        return;
    }
    inStatement(*impl_, [&] {
        std::visit(
            [&](const auto& s) {
                using T = std::decay_t<decltype(s)>;
                if constexpr (std::is_same_v<T, sql::CreateTable>)
                    impl_->createTable(s);
                else if constexpr (std::is_same_v<T, sql::Insert>)
                    impl_->insert(s);
                else if constexpr (std::is_same_v<T, sql::DropTable>)
                    impl_->dropTable(s.table);
                else if constexpr (std::is_same_v<T, sql::SelectInto>)
                    impl_->copyTable(s.source, s.target);
            },
            st);
    });
}

namespace {

class ImplRowEditor final : public RowEditor {
public:
    explicit ImplRowEditor(WriterImpl& w) : w_(w) {}
    std::uint32_t tablePage(const std::string& name) override
    {
        const CatalogRow* r = w_.findTable(utf8ToUtf16(name));
        return r && r->type == 1 ? static_cast<std::uint32_t>(r->id) : 0;
    }
    std::uint32_t tablesContainer() override { return static_cast<std::uint32_t>(w_.tablesId); }
    std::uint16_t textCodePage() override
    {
        const Table& catalog = w_.table(2);
        return catalog.jet3 ? catalog.codePage : 0;
    }
    int column(std::uint32_t tdefPage, std::u16string_view name) override
    {
        const Col* c = w_.table(tdefPage).column(std::u16string(name).c_str());
        return c ? c->number : -1;
    }
    int rewrite(std::uint32_t tdefPage, const std::function<bool(std::vector<Cell>&)>& edit) override
    {
        Table& t = w_.table(tdefPage);
        std::vector<std::pair<std::uint32_t, std::vector<Cell>>> changed;
        forEachRow(w_.pc(), t, [&](const RowRef& r) {
            const std::vector<RawCell> raw = decodeRow(w_.pc(), t, r.bytes, true);
            std::vector<Cell> cells(t.maxCols);
            for (const Col& c : t.cols)
                if (c.number < raw.size())
                    cells[c.number] = toCell(c, raw[c.number]);
            if (edit(cells))
                changed.emplace_back(r.page << 8 | r.slot, std::move(cells));
        });
        for (auto& [ptr, cells] : changed) {
            w_.deleteRow(t, ptr);
            w_.insertRow(t, std::move(cells));
        }
        return static_cast<int>(changed.size());
    }
    void requireTableName(const std::string& name, std::uint32_t samePage) override
    {
        const std::u16string n = utf8ToUtf16(name);
        w_.validateName(n, name, "table");
        if (const CatalogRow* r = w_.findTable(n); r && static_cast<std::uint32_t>(r->id) != samePage)
            throwError(err::TableExists, "Table '" + name + "' already exists.");
    }

private:
    WriterImpl& w_;
};

}  // namespace

void Writer::change(const std::function<void(RowEditor&)>& body)
{
    if (impl_->closed)
        throwError(err::ReadOnly, "The database '" + impl_->path + "' has been closed.");
    inStatement(*impl_, [&] {
        ImplRowEditor editor(*impl_);
        body(editor);
        impl_->loadCatalog();
    });
}

void Writer::createTable(const sql::CreateTable& ct) { run(ct); }
void Writer::insert(const sql::Insert& ins) { run(ins); }
void Writer::dropTable(const std::string& name) { run(sql::DropTable{name}); }
void Writer::copyTable(const std::string& source, const std::string& target)
{
    run(sql::SelectInto{target, source});
}

std::vector<std::string> Writer::tableNames()
{
    std::vector<std::string> out;
    for (const CatalogRow& r : impl_->catalog)
        if (r.type == 1 && r.parentId == impl_->tablesId && (r.flags & static_cast<std::int32_t>(0x80000002u)) == 0)
            out.push_back(utf16ToUtf8(r.name));
    return out;
}

bool Writer::hasTable(const std::string& name)
{
    const CatalogRow* r = impl_->findTable(utf8ToUtf16(name));
    return r && r->type == 1;
}

std::vector<WriterColumn> Writer::columns(const std::string& name)
{
    const CatalogRow& cr = impl_->userTable(name, err::CannotFindInput);
    const Table& t = impl_->table(static_cast<std::uint32_t>(cr.id));
    std::vector<const Col*> order;
    for (const Col& c : t.cols)
        order.push_back(&c);
    std::sort(order.begin(), order.end(), [](const Col* a, const Col* b) { return a->number < b->number; });
    std::vector<WriterColumn> out;
    for (const Col* c : order) {
        WriterColumn wc;
        wc.name = utf16ToUtf8(c->name);
        wc.type = static_cast<SqlType>(c->type);
        const ColumnShape s = c->shape();
        wc.size = s.size;
        wc.precision = s.precision;
        wc.scale = s.scale;
        wc.autoNumber = (c->flags & 0x04) != 0;
        out.push_back(wc);
    }
    return out;
}

}  // namespace jet
