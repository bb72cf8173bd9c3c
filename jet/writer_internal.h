// Pieces of the writer shared with the file checker: table definitions as the writer keeps them, row
// decoding into stored cells, index pages, usage maps and the free-page map of page 1. Jet 4 / ACE layout,
// and the Access 97 (Jet 3) one through `Layout` (chosen by the page size: 2048 bytes = Jet 3).
#pragma once

#include "convert.h"
#include "index_key.h"
#include "page_cache.h"

#include <cstdint>
#include <memory>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace jet::w {

inline constexpr std::uint32_t kPage = 4096;
inline constexpr std::size_t kDataHeader = 14;     // data page header before the slot table
inline constexpr std::size_t kIndexBitmap = 0x1B;   // index page: entry-end bitmap
inline constexpr std::size_t kIndexEntries = 0x1E0; // index page: first entry byte
inline constexpr std::size_t kIndexCapacity = kPage - kIndexEntries;  // 3616
inline constexpr int kMaxRowSize = 4060;

// Where the two families keep the fields the writer touches (Jet 4 / ACE first, Jet 3 second in comments).
struct Layout {
    bool jet3 = false;
    std::uint32_t page = 4096;
    // data pages
    std::size_t rowCount = 0x0C;     // 0x0C / 0x08: number of slots
    std::size_t rowTable = 0x0E;     // 0x0E / 0x0A: first slot
    int maxRowSize = 4060;           // 4060 / 2012
    std::size_t inlineMapRow = 69;   // a new inline usage map: type, start page, bitmap (64 / 128 bytes)
    // index pages
    std::size_t ixPrev = 0x0C, ixNext = 0x10, ixTail = 0x14;  // 0x08, 0x0C, 0x10
    std::size_t ixPrefix = 0x18;     // 0x18 (u16) / 0x14 (u8): bytes every entry shares with the first
    std::size_t ixNodeFlag = 0x1A;   // 0x1A / 0x15
    std::size_t ixBitmap = 0x1B;     // 0x1B / 0x16
    std::size_t ixEntries = 0x1E0;   // 0x1E0 / 0xF8
    // table definitions
    std::size_t tdRows = 0x10, tdAuto = 0x14, tdType = 0x28, tdMaxCols = 0x29, tdVarCols = 0x2B, tdCols = 0x2D,
                tdLogical = 0x2F, tdReal = 0x33, tdOwned = 0x37, tdFree = 0x3B, tdVar = 0x3F;
    std::size_t counterSize = 12, colSize = 25, nameLen = 2, realSize = 52, logicalSize = 28;
    std::size_t realCols = 4, realMap = 34, realRoot = 38, realFlags = 46;  // 0, 30, 34, 38
    std::size_t logicalBase = 4;  // 4 / 0: logical definitions of Jet 3 lack the leading word
    // column descriptors
    std::size_t cNumber = 5, cVarIndex = 7, cMisc = 11, cFlags = 15, cFixedOffset = 21, cLength = 23;
    int cExtFlags = 16;              // -1 on Jet 3
    std::size_t cMiscJet3 = 9;       // Jet 3 Text/Memo: sort order at 9, code page at 11 (kept as misc[0..3])

    std::size_t ixCapacity() const { return page - ixEntries; }
    std::uint32_t perBitmapPage() const { return (page - 4) * 8; }
    std::size_t singleLongRow() const { return page - rowTable - 2; }  // one row filling a data page
};
const Layout& layoutFor(std::uint32_t pageSize);
inline const Layout& layoutOf(const PageSource& src) { return layoutFor(src.pageSize()); }

inline std::uint16_t rd16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
inline std::uint32_t rd32(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
inline void wr16(std::uint8_t* p, std::uint32_t v)
{
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void wr32(std::uint8_t* p, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

struct Col {
    std::u16string name;
    std::uint8_t type = 0;
    std::uint16_t number = 0;
    std::uint16_t varIndex = 0;
    std::uint16_t fixedOffset = 0;
    std::uint16_t length = 0;
    std::uint8_t flags = 0;
    std::uint8_t extFlags = 0;
    std::uint8_t misc[4] = {};  // sort order / precision+scale / complex id (Jet 3 text: sort order, code page)
    std::uint16_t codePage = 0;  // Jet 3 Text/Memo: the code page of the stored bytes; 0 = UCS-2 (Jet 4 / ACE)
    bool fixed() const { return (flags & 0x01) != 0; }
    bool longValue() const { return type == 0x0B || type == 0x0C; }
    bool compressed() const { return (extFlags & 0x01) != 0; }
    // What literal conversion needs to know of the column. Made once per column object, since every
    // INSERT asks again; a copy (which may then be changed) makes its own.
    const ColumnShape& shape() const;

    struct ShapeCache {
        std::unique_ptr<const ColumnShape> made;
        ShapeCache() = default;
        ShapeCache(const ShapeCache&) {}
        ShapeCache& operator=(const ShapeCache&)
        {
            made.reset();
            return *this;
        }
        ShapeCache(ShapeCache&&) noexcept = default;
        ShapeCache& operator=(ShapeCache&&) noexcept = default;
    };
    mutable ShapeCache shapeCache;
};

struct RealIndex {
    std::vector<std::pair<std::uint16_t, bool>> columns;  // column number, ascending
    std::uint32_t mapPtr = 0;
    std::uint32_t root = 0;
    std::uint8_t flags = 0;         // 0x01 unique, 0x02 ignore nulls, 0x08 required; 0x80 set by Jet 4 and later
    std::size_t counterOffset = 0;  // offset of this index's counter block (12 / 8 bytes) in the TDEF
    bool unique() const { return (flags & 0x01) != 0; }
    bool ignoreNulls() const { return (flags & 0x02) != 0; }
    bool required() const { return (flags & 0x08) != 0; }
};

// A logical index entry with every stored field, so that a rewritten definition keeps them.
struct LogicalIndex {
    std::u16string name;
    std::uint32_t number = 0;        // the index number (creation order; entries are stored sorted by name)
    std::uint32_t realIndex = 0;     // ordinal of the real index it uses
    std::uint8_t relTableType = 0;   // relationship side (kind 2), else 0
    std::uint32_t relatedIndex = 0xFFFFFFFFu;  // the other table's logical index number, -1 when none
    std::uint32_t relatedTdef = 0;   // the other table's TDEF page
    std::uint8_t cascadeUpdates = 0, cascadeDeletes = 0;  // Access writes 04 04 on plain and primary indexes
    std::uint8_t kind = 0;           // 0 plain, 1 primary key, 2 one side of a relationship
    std::uint32_t trailer = 0;       // Jet 4 / ACE: the last 4 bytes (0 in every file seen)
};

struct LvMaps {
    std::uint16_t column = 0;
    std::uint32_t owned = 0, free = 0;
    // The writer's pages for new long values of this column, newest last: a few of the column's pages that still
    // had room when last used, so that placing a value does not walk the free-page map. Filled from the map the
    // first time a value is placed (`roomKnown`).
    static constexpr std::size_t kRoomPages = 4;
    std::vector<std::uint32_t> roomPages;
    bool roomKnown = false;
};

struct Table {
    bool jet3 = false;
    std::uint16_t codePage = 1252;  // Jet 3: the database's code page (text columns store it again)
    std::uint32_t tdefPage = 0;
    std::vector<std::uint32_t> tdefPages;
    std::uint32_t rowCount = 0;
    std::uint32_t autoNumber = 0;
    std::uint16_t maxCols = 0;
    std::uint16_t varCols = 0;
    std::uint32_t ownedMap = 0, freeMap = 0;
    std::vector<Col> cols;  // in descriptor (display) order
    std::vector<std::size_t> byNumber;  // indexes into cols, sorted by column number (filled by readTable)
    std::vector<RealIndex> indexes;
    std::vector<LogicalIndex> logical;
    std::vector<LvMaps> lvMaps;
    std::uint32_t lastDataPage = 0;  // writer's current page for new rows (0 = look in the free map)
    const Col* column(std::u16string_view name) const;
    const Col* columnByNumber(std::uint16_t number) const;
    const LvMaps* lvFor(std::uint16_t number) const;
    LvMaps* lvFor(std::uint16_t number);
};

// Reads and parses a table definition (Jet 4 / ACE).
Table readTable(PageSource& src, std::uint32_t tdefPage);

// One decoded cell of a stored row: `present` (for Boolean: the value), raw bytes of fixed and variable
// columns; long values resolved to their full bytes.
struct RawCell {
    bool present = false;
    std::vector<std::uint8_t> bytes;
};

// Cells by column number (size maxCols); long values read through `src` when `resolveLong`. With `wanted`
// (by column number), only those columns are decoded; the others stay absent.
std::vector<RawCell> decodeRow(PageSource& src, const Table& t, std::span<const std::uint8_t> row,
                               bool resolveLong = true, const std::vector<bool>* wanted = nullptr);
// The same into cells the caller keeps from row to row (their buffers are reused).
void decodeRowInto(PageSource& src, const Table& t, std::span<const std::uint8_t> row, bool resolveLong,
                   const std::vector<bool>* wanted, std::vector<RawCell>& cells);
// Stored text (plain UCS-2 or compressed) to UTF-16.
std::u16string decodeStoredText(std::span<const std::uint8_t> b);
// Stored text of a column: code-page bytes on Jet 3, UCS-2 (maybe compressed) otherwise.
std::u16string decodeColumnText(const Col& c, std::span<const std::uint8_t> b);
// A stored cell in the writer's value form.
Cell toCell(const Col& c, const RawCell& raw);

// Live rows of a table: page, slot, bytes. Follows overflow pointers; skips deleted rows.
struct RowRef {
    std::uint32_t page = 0;
    std::uint8_t slot = 0;
    std::span<const std::uint8_t> bytes;
};
void forEachRow(PageSource& src, const Table& t, const std::function<void(const RowRef&)>& fn);

// Usage maps.
std::vector<std::uint32_t> mapMembers(PageSource& src, std::uint32_t rowPtr);
std::span<const std::uint8_t> rowAt(PageSource& src, std::uint32_t rowPtr);  // a row by pointer

// Index pages.
struct IndexPage {
    std::uint8_t type = 0x04;  // 0x03 node, 0x04 leaf
    std::uint32_t tdef = 0;
    std::uint32_t prev = 0, next = 0, tail = 0;
    struct Entry {
        std::vector<std::uint8_t> bytes;  // key + 4-byte row pointer
        std::uint32_t child = 0;          // node entries
    };
    std::vector<Entry> entries;
    bool leaf() const { return type == 0x04; }
};
IndexPage readIndexPage(PageSource& src, std::uint32_t page);
std::size_t indexEntriesSize(const IndexPage& p);
void writeIndexPage(const Layout& l, std::uint8_t* dst, const IndexPage& p);

// The key of a row for one real index (flag bytes and values, no row pointer).
std::vector<std::uint8_t> indexKey(const Table& t, const RealIndex& ix, const std::vector<RawCell>& cells);

// Sort order of a text column (throws for orders the engine cannot key).
SortOrder sortOrderOf(const Col& c);

// One column pair of a relationship as MSysRelationships stores it.
struct RelationshipRow {
    std::u16string name, table, column, referencedTable, referencedColumn;
    std::uint32_t flags = 0;
    std::int32_t position = 0;
    std::uint32_t rowPtr = 0;
};
// Every row of MSysRelationships (`rel`); nullopt when the table lacks one of the columns that name a pair.
std::optional<std::vector<RelationshipRow>> readRelationshipRows(PageSource& src, const Table& rel);

}  // namespace jet::w

namespace jet::w {

// A table of the catalogue a new database starts with, described column by column (by column number).
struct SystemColumn {
    std::u16string name;
    std::uint8_t type = 0;
    std::uint16_t length = 0;  // Text/Binary: bytes
    std::uint8_t flags = 0;    // column flags as the engine sets them on its own tables
};
struct SystemIndex {
    std::vector<std::pair<std::uint16_t, bool>> columns;
    std::uint8_t flags = 0;
};
struct SystemLogicalIndex {
    std::u16string name;
    std::uint32_t number = 0;
    std::uint32_t realIndex = 0;
    std::uint8_t kind = 0;
};
struct SystemTable {
    std::u16string name;
    std::vector<SystemColumn> columns;
    std::vector<SystemIndex> indexes;
    std::vector<SystemLogicalIndex> logical;
};
struct NewCatalogEntry {
    std::int32_t id = 0, parentId = 0;
    std::u16string name;
    std::int16_t type = 0;
    std::uint32_t flags = 0;
    std::vector<std::uint8_t> owner;
};
struct NewAce {
    std::int32_t objectId = 0;
    std::vector<std::uint8_t> sid;
    std::uint32_t acm = 0;
    bool inheritable = false;
};

// Lays the system tables out on a file that so far holds pages 0 and 1 (their definitions on pages 2, 3, ...
// in order, so that MSysObjects is page 2), then fills MSysObjects and MSysACEs. Table entries of
// `catalog` with id 0 get the id of the system table of the same name. Runs inside one statement of `cache`.
void buildSystemTables(PageCache& cache, const std::vector<SystemTable>& tables, const std::uint8_t sortBytes[4],
                       std::vector<NewCatalogEntry> catalog, const std::vector<NewAce>& aces, double created);

}  // namespace jet::w
