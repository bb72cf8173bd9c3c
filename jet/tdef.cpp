#include "jet/tdef.h"

#include <algorithm>
#include <unordered_set>

#include "jet/error.h"
#include "jet/page_source.h"
#include "jet/text.h"

namespace jet {

std::vector<std::uint8_t> readTdefBuffer(PageSource& src, const FormatInfo& fmt, std::uint32_t page,
                                         std::vector<std::uint32_t>* chain) {
    std::vector<std::uint8_t> buf;
    std::unordered_set<std::uint32_t> seen;
    std::uint32_t p = page;
    std::uint32_t want = 0;
    bool first = true;
    while (p != 0) {
        if (!seen.insert(p).second)
            throwCorrupt(src.path(), "the table definition at page " + std::to_string(page) +
                                         " continues in a loop (page " + std::to_string(p) + " again)");
        auto pg = src.page(p);
        if (pg[0] != page_type::TableDef)
            throwCorrupt(src.path(), "page " + std::to_string(p) + " should hold a table definition (of page " +
                                         std::to_string(page) + ") but has page type " + std::to_string(pg[0]));
        if (chain) chain->push_back(p);
        if (first) {
            buf.assign(pg.begin(), pg.end());
            want = readU32(pg.data() + fmt.tdefLength);
            first = false;
        } else {
            buf.insert(buf.end(), pg.begin() + 8, pg.end());
        }
        if (want != 0 && buf.size() >= want) break;
        p = readU32(pg.data() + 4);
        if (seen.size() > 4096) throwCorrupt(src.path(), "the table definition chain is too long");
    }
    if (want != 0 && want < buf.size() && want >= static_cast<std::uint32_t>(fmt.tdefVariablePart)) buf.resize(want);
    return buf;
}

namespace {

class Reader {
public:
    Reader(std::span<const std::uint8_t> b, const std::string& path, std::uint32_t page)
        : b_(b), path_(path), page_(page) {}
    void need(std::size_t pos, std::size_t n) const {
        if (pos > b_.size() || n > b_.size() - pos)
            throwCorrupt(path_, "the table definition at page " + std::to_string(page_) +
                                    " ends before its contents (needs byte " + std::to_string(pos + n) + " of " +
                                    std::to_string(b_.size()) + ")");
    }
    std::uint8_t u8(std::size_t pos) const {
        need(pos, 1);
        return b_[pos];
    }
    std::uint16_t u16(std::size_t pos) const {
        need(pos, 2);
        return readU16(b_.data() + pos);
    }
    std::uint32_t u32(std::size_t pos) const {
        need(pos, 4);
        return readU32(b_.data() + pos);
    }
    const std::uint8_t* ptr(std::size_t pos, std::size_t n) const {
        need(pos, n);
        return b_.data() + pos;
    }
    std::size_t size() const { return b_.size(); }

private:
    std::span<const std::uint8_t> b_;
    const std::string& path_;
    std::uint32_t page_;
};

std::string readName(const Reader& r, std::size_t& pos, const FormatInfo& fmt, const TextDecoder& names) {
    std::size_t len = fmt.nameLengthSize == 1 ? r.u8(pos) : r.u16(pos);
    pos += static_cast<std::size_t>(fmt.nameLengthSize);
    const std::uint8_t* p = r.ptr(pos, len);
    pos += len;
    std::string s;
    if (fmt.unicodeText) utf16leToUtf8(p, len, s); // names are never compressed
    else names.decode(p, len, s);
    return s;
}

} // namespace

TableDef parseTableDef(std::span<const std::uint8_t> buf, const FormatInfo& fmt, const TextDecoder& names,
                       std::uint32_t page, const std::string& path) {
    Reader r(buf, path, page);
    TableDef t;
    t.page = page;
    t.length = r.u32(static_cast<std::size_t>(fmt.tdefLength));
    t.rowCount = r.u32(static_cast<std::size_t>(fmt.tdefRowCount));
    t.autoNumber = r.u32(static_cast<std::size_t>(fmt.tdefAutoNumber));
    if (fmt.tdefComplexAutoNumber >= 0) t.complexAutoNumber = r.u32(static_cast<std::size_t>(fmt.tdefComplexAutoNumber));
    t.tableType = r.u8(static_cast<std::size_t>(fmt.tdefTableType));
    t.maxCols = r.u16(static_cast<std::size_t>(fmt.tdefMaxCols));
    t.numVarCols = r.u16(static_cast<std::size_t>(fmt.tdefNumVarCols));
    std::uint16_t numCols = r.u16(static_cast<std::size_t>(fmt.tdefNumCols));
    std::uint32_t numLogical = r.u32(static_cast<std::size_t>(fmt.tdefNumLogicalIdx));
    std::uint32_t numReal = r.u32(static_cast<std::size_t>(fmt.tdefNumRealIdx));
    t.ownedMap = r.u32(static_cast<std::size_t>(fmt.tdefOwnedMap));
    t.freeMap = r.u32(static_cast<std::size_t>(fmt.tdefFreeMap));

    // Counts must fit in the buffer at all; this keeps corrupt counts from allocating.
    if (numReal > buf.size() / static_cast<std::size_t>(fmt.realIdxCounterSize) ||
        numLogical > buf.size() / static_cast<std::size_t>(fmt.logicalIdxDefSize / 2) ||
        numCols > buf.size() / static_cast<std::size_t>(fmt.columnDescSize))
        throwCorrupt(path, "the table definition at page " + std::to_string(page) +
                               " has impossible column or index counts");

    std::size_t pos = static_cast<std::size_t>(fmt.tdefVariablePart);
    std::vector<std::uint32_t> uniqueCounts(numReal);
    for (std::uint32_t i = 0; i < numReal; ++i) {
        uniqueCounts[i] = r.u32(pos + 4);
        pos += static_cast<std::size_t>(fmt.realIdxCounterSize);
    }

    // Column descriptors
    t.columns.resize(numCols);
    const std::size_t descStart = pos;
    for (std::uint16_t i = 0; i < numCols; ++i) {
        std::size_t d = descStart + static_cast<std::size_t>(i) * static_cast<std::size_t>(fmt.columnDescSize);
        r.need(d, static_cast<std::size_t>(fmt.columnDescSize));
        ColumnDef& c = t.columns[i];
        c.displayIndex = i;
        c.type = r.u8(d + static_cast<std::size_t>(fmt.colType));
        c.storedType = c.type;
        c.number = r.u16(d + static_cast<std::size_t>(fmt.colNumber));
        c.varIndex = r.u16(d + static_cast<std::size_t>(fmt.colVarIndex));
        c.flags = r.u8(d + static_cast<std::size_t>(fmt.colFlags));
        if (fmt.colExtFlags >= 0) c.extFlags = r.u8(d + static_cast<std::size_t>(fmt.colExtFlags));
        c.fixedOffset = r.u16(d + static_cast<std::size_t>(fmt.colFixedOffset));
        c.length = r.u16(d + static_cast<std::size_t>(fmt.colLength));
        const std::size_t misc = d + static_cast<std::size_t>(fmt.colMisc);
        const auto type = static_cast<ColumnType>(c.type);
        if (type == ColumnType::Numeric) {
            c.precision = r.u8(misc);
            c.scale = r.u8(misc + 1);
        } else if (type == ColumnType::Text || type == ColumnType::Memo) {
            if (fmt.jet3) {
                c.sortOrder = r.u16(d + 9);
                c.codePage = r.u16(static_cast<std::size_t>(fmt.colCodePage) + d);
            } else {
                c.sortOrder = r.u16(misc);
                c.sortVersion = r.u8(misc + 3);
            }
        } else if (type == ColumnType::Complex) {
            c.complexId = r.u32(misc);
        }
    }
    pos = descStart + static_cast<std::size_t>(numCols) * static_cast<std::size_t>(fmt.columnDescSize);
    for (std::uint16_t i = 0; i < numCols; ++i) t.columns[i].name = readName(r, pos, fmt, names);

    // Real index definitions
    t.realIndexes.resize(numReal);
    const std::size_t colsOff = fmt.jet3 ? 0 : 4;
    const std::size_t mapOff = fmt.jet3 ? 30 : 34;
    const std::size_t flagOff = fmt.jet3 ? 38 : 46;
    for (std::uint32_t i = 0; i < numReal; ++i) {
        r.need(pos, static_cast<std::size_t>(fmt.realIdxDefSize));
        RealIndexDef& ix = t.realIndexes[i];
        for (int k = 0; k < 10; ++k) {
            std::size_t e = pos + colsOff + static_cast<std::size_t>(k) * 3;
            std::uint16_t num = r.u16(e);
            if (num == 0xFFFF) continue;
            ix.columns.push_back({num, (r.u8(e + 2) & 0x01) != 0});
        }
        ix.usageMap = r.u32(pos + mapOff);
        ix.rootPage = r.u32(pos + mapOff + 4);
        ix.flags = r.u8(pos + flagOff);
        ix.uniqueCount = uniqueCounts[i];
        pos += static_cast<std::size_t>(fmt.realIdxDefSize);
    }
    // Logical index definitions and names
    t.logicalIndexes.resize(numLogical);
    const std::size_t lo = fmt.jet3 ? 0 : 4;
    for (std::uint32_t i = 0; i < numLogical; ++i) {
        r.need(pos, static_cast<std::size_t>(fmt.logicalIdxDefSize));
        LogicalIndexDef& li = t.logicalIndexes[i];
        li.number = r.u32(pos + lo);
        li.realIndex = r.u32(pos + lo + 4);
        li.relatedTableType = r.u8(pos + lo + 8);
        li.relatedIndex = static_cast<std::int32_t>(r.u32(pos + lo + 9));
        li.relatedTable = r.u32(pos + lo + 13);
        li.cascadeUpdates = r.u8(pos + lo + 17);
        li.cascadeDeletes = r.u8(pos + lo + 18);
        li.kind = r.u8(pos + lo + 19);
        pos += static_cast<std::size_t>(fmt.logicalIdxDefSize);
    }
    for (std::uint32_t i = 0; i < numLogical; ++i) t.logicalIndexes[i].name = readName(r, pos, fmt, names);

    // Long-value usage maps (lenient: a broken list is ignored, it is not needed to read)
    while (pos + 2 <= buf.size()) {
        std::uint16_t colNum = readU16(buf.data() + pos);
        if (colNum == 0xFFFF) break;
        if (pos + 10 > buf.size()) break;
        t.longValueMaps.push_back({colNum, readU32(buf.data() + pos + 2), readU32(buf.data() + pos + 6)});
        pos += 10;
    }

    std::stable_sort(t.columns.begin(), t.columns.end(),
                     [](const ColumnDef& a, const ColumnDef& b) { return a.number < b.number; });
    return t;
}

} // namespace jet
