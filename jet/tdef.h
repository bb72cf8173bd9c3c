#pragma once
// Table definitions (TDEF pages): parsing into plain structs a reader and a writer share.
// Layout: docs/format/table-definitions.md.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "jet/format.h"

namespace jet {

class PageSource;
struct TextDecoder;

// One column descriptor, as stored.
struct ColumnDef {
    std::string name;
    std::uint8_t type = 0;          // ColumnType code (calculated columns: the result type, from the
                                    // column's ResultType property when the reader could load it)
    std::uint8_t storedType = 0;    // the type code as stored in the descriptor
    std::uint16_t number = 0;       // column number: bit in the null mask, key of the LV map list
    std::uint16_t varIndex = 0;     // index in the row's variable-offset table (variable columns)
    std::uint16_t fixedOffset = 0;  // offset in the fixed area (fixed columns)
    std::uint16_t length = 0;       // bytes (Text: 2 x chars in Jet4, chars in Jet3)
    std::uint8_t flags = 0;         // col_flag
    std::uint8_t extFlags = 0;      // col_ext_flag (Jet4+)
    std::uint8_t precision = 0;     // Numeric
    std::uint8_t scale = 0;         // Numeric
    std::uint16_t sortOrder = 0;    // Text/Memo: LCID
    std::uint8_t sortVersion = 0;   // Jet4+ Text/Memo
    std::uint16_t codePage = 0;     // Jet3 Text/Memo: code page (0 = database default)
    std::uint32_t complexId = 0;    // Complex: id in MSysComplexColumns
    std::uint32_t displayIndex = 0; // position of the descriptor in the TDEF (display order)

    bool fixed() const { return (flags & col_flag::Fixed) != 0; }
    bool calculated() const { return (extFlags & col_ext_flag::Calculated) == col_ext_flag::Calculated; }
    bool compressedUnicode() const { return (extFlags & col_ext_flag::CompressedUnicode) != 0; }
    bool isLongValue() const {
        return type == static_cast<std::uint8_t>(ColumnType::Memo) || type == static_cast<std::uint8_t>(ColumnType::Ole);
    }
};

struct RealIndexDef {
    struct Col {
        std::uint16_t number;
        bool ascending;
    };
    std::vector<Col> columns;
    std::uint32_t usageMap = 0; // row pointer
    std::uint32_t rootPage = 0;
    std::uint8_t flags = 0;     // 0x01 unique, 0x02 ignore nulls, 0x08 required
    std::uint32_t uniqueCount = 0;
};

struct LogicalIndexDef {
    std::string name;
    std::uint32_t number = 0;
    std::uint32_t realIndex = 0;
    std::uint8_t relatedTableType = 0;
    std::int32_t relatedIndex = -1;
    std::uint32_t relatedTable = 0;
    std::uint8_t cascadeUpdates = 0, cascadeDeletes = 0;
    std::uint8_t kind = 0; // 0 normal, 1 primary key, 2 foreign key
};

struct LongValueMaps {
    std::uint16_t columnNumber = 0;
    std::uint32_t ownedMap = 0; // row pointers
    std::uint32_t freeMap = 0;
};

struct TableDef {
    std::uint32_t page = 0;      // first TDEF page (= MSysObjects.Id of a local table)
    std::uint32_t length = 0;    // logical TDEF length
    std::uint32_t rowCount = 0;  // stored count: NOT exact in all files, never use for RecordCount
    std::uint32_t autoNumber = 0;
    std::uint32_t complexAutoNumber = 0;
    std::uint8_t tableType = 0;  // 'N' normal, 'S' Jet system table
    std::uint16_t maxCols = 0;
    std::uint16_t numVarCols = 0;
    std::uint32_t ownedMap = 0;  // row pointer to the owned-pages usage map
    std::uint32_t freeMap = 0;   // row pointer to the free-space usage map
    std::vector<ColumnDef> columns;          // ordered by column number (storage order)
    std::vector<RealIndexDef> realIndexes;
    std::vector<LogicalIndexDef> logicalIndexes;
    std::vector<LongValueMaps> longValueMaps;
    std::vector<std::uint32_t> pages;        // the TDEF page chain
};

// Reads the logical TDEF buffer (first page whole + bytes 8.. of each continuation).
// Throws Error 3049 on a bad page type, a cycle or a length beyond the chain.
std::vector<std::uint8_t> readTdefBuffer(PageSource& src, const FormatInfo& fmt, std::uint32_t page,
                                         std::vector<std::uint32_t>* chain = nullptr);

// Parses a TDEF buffer. Names are decoded with `names` (Jet3 code page; Jet4 UCS-2).
// Columns come back sorted by column number. Throws Error 3049 on inconsistent data.
TableDef parseTableDef(std::span<const std::uint8_t> buf, const FormatInfo& fmt, const TextDecoder& names,
                       std::uint32_t page, const std::string& pathForErrors);

} // namespace jet
