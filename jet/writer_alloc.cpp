// The writer's page allocation: the global free-page map, usage maps and data pages.
#include "writer_impl.h"

namespace jet {

Table& WriterImpl::table(std::uint32_t tdef)
{
    auto it = tables.find(tdef);
    if (it == tables.end())
        it = tables.emplace(tdef, readTable(pc(), tdef)).first;
    return it->second;
}

void WriterImpl::globalMapSet(std::uint32_t page, bool freeBit)
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

std::uint32_t WriterImpl::allocPage()
{
    const std::uint32_t n = pc().append();
    globalMapSet(n, false);
    return n;
}

void WriterImpl::freePage(std::uint32_t n)
{
    std::uint8_t* p = pc().modify(n);
    std::memset(p, 0, 4);
    globalMapSet(n, true);
}

std::uint8_t* WriterImpl::mapRow(std::uint32_t ptr, std::size_t& len)
{
    auto r = rowAt(pc(), ptr);
    len = r.size();
    std::uint8_t* p = pc().modify(ptr >> 8);
    return p + (r.data() - pc().page(ptr >> 8).data());
}

void WriterImpl::mapAdd(std::uint32_t ptr, std::uint32_t page)
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

void WriterImpl::mapRemove(std::uint32_t ptr, std::uint32_t page)
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

bool WriterImpl::mapContains(std::uint32_t ptr, std::uint32_t page)
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

void WriterImpl::initDataPage(const Layout& l, std::uint8_t* p, std::uint32_t owner)
{
    std::memset(p, 0, l.page);
    p[0] = 0x01;
    p[1] = 0x01;
    wr16(p + 2, static_cast<std::uint32_t>(l.page - l.rowTable));
    wr32(p + 4, owner);
}

bool WriterImpl::fits(const Layout& l, std::span<const std::uint8_t> p, std::size_t len)
{
    return rd16(&p[2]) >= len + 2 && rd16(&p[l.rowCount]) < 255;
}

std::uint8_t WriterImpl::putRow(const Layout& l, std::uint8_t* p, std::span<const std::uint8_t> row)
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

std::uint32_t WriterImpl::storeRow(Table& t, std::span<const std::uint8_t> row)
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

}  // namespace jet
