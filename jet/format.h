#pragma once
// Constants of the Jet/ACE file format: versions, page types, column types and the
// per-version layout offsets. See docs/format/*.md for what they mean.

#include <cstdint>
#include <string>

namespace jet {

enum class Format { Jet3, Jet4, Ace12, Ace14, Ace15, Ace16, Ace17 };

// "JET3", "JET4", "ACE12", ... (the names mdb-ver and files.tsv use)
const char* formatName(Format f);

namespace page_type {
constexpr std::uint8_t Header = 0x00;
constexpr std::uint8_t Data = 0x01;      // table rows, long values ("LVAL"), usage-map rows
constexpr std::uint8_t TableDef = 0x02;  // TDEF, first page and continuations
constexpr std::uint8_t IndexNode = 0x03;
constexpr std::uint8_t IndexLeaf = 0x04;
constexpr std::uint8_t UsageMap = 0x05;  // bitmap page of a reference usage map
} // namespace page_type

// Column type codes as stored in the column descriptor.
enum class ColumnType : std::uint8_t {
    Boolean = 0x01,
    Byte = 0x02,
    Integer = 0x03,
    Long = 0x04,
    Currency = 0x05,
    Single = 0x06,
    Double = 0x07,
    DateTime = 0x08,
    Binary = 0x09,
    Text = 0x0A,
    Ole = 0x0B,
    Memo = 0x0C,
    Unknown0D = 0x0D,
    Guid = 0x0F,
    Numeric = 0x10,
    Unknown11 = 0x11,
    Complex = 0x12,
    BigInt = 0x13,
    DateTimeExt = 0x14,
};

// The type word of the canonical dump: "boolean", "byte", ..., "unknown".
const char* columnTypeName(std::uint8_t typeCode);
// Storage size of fixed-size types (0 for variable or unknown; Boolean 0 — it lives in the null mask).
int fixedTypeSize(std::uint8_t typeCode);

namespace col_flag {
constexpr std::uint8_t Fixed = 0x01;
constexpr std::uint8_t Updatable = 0x02;
constexpr std::uint8_t AutoLong = 0x04;
constexpr std::uint8_t AutoGuid = 0x40;
constexpr std::uint8_t Hyperlink = 0x80;
} // namespace col_flag
namespace col_ext_flag {
constexpr std::uint8_t CompressedUnicode = 0x01;
constexpr std::uint8_t Calculated = 0xC0; // both bits set on calculated columns
} // namespace col_ext_flag

// Row-offset-table flags of a data page slot.
namespace row_flag {
constexpr std::uint16_t Deleted = 0x8000;
constexpr std::uint16_t Overflow = 0x4000; // "lookup": the slot holds a pointer to the real row
constexpr std::uint16_t OffsetMask = 0x1FFF;
} // namespace row_flag

// Long-value (memo/OLE) header flags, in the top byte of the 4-byte length word.
namespace lval_flag {
constexpr std::uint32_t Inline = 0x80000000u;
constexpr std::uint32_t SinglePage = 0x40000000u;
constexpr std::uint32_t LengthMask = 0x3FFFFFFFu;
} // namespace lval_flag

// Layout of one format family. Offsets in bytes; "-1" where the field does not exist.
struct FormatInfo {
    Format format;
    bool jet3;              // Jet3: 2 KiB pages, 1-byte row fields, code-page text
    std::uint32_t pageSize; // 2048 / 4096
    bool unicodeText;       // Jet4+: UCS-2 with compression
    int engineVersionByte;  // byte at 0x14

    // Header page
    int headerMaskedStart = 0x18; // start of the RC4-masked region
    int headerMaskedSize;         // 126 (Jet3) / 128
    int headerCodePage = 0x3C;
    int headerEncodingKey = 0x3E;
    int headerPassword = 0x42;
    int headerPasswordSize; // 20 / 40
    int headerCreationDate; // 0x72 (Jet4+) / -1
    int headerSortOrder;    // 0x3A (Jet3) / 0x6E

    // Data pages
    int dataFreeSpace = 0x02;
    int dataOwner = 0x04;
    int dataRowCount;       // 0x08 / 0x0C
    int dataRowTable;       // 0x0A / 0x0E  (first slot of the row offset table)
    int maxRowsPerPage = 255;

    // TDEF
    int tdefLength = 0x08;
    int tdefRowCount;       // 0x0C / 0x10
    int tdefAutoNumber;     // 0x10 / 0x14
    int tdefComplexAutoNumber; // -1 / 0x1C
    int tdefTableType;      // 0x14 / 0x28
    int tdefMaxCols;        // 0x15 / 0x29
    int tdefNumVarCols;     // 0x17 / 0x2B
    int tdefNumCols;        // 0x19 / 0x2D
    int tdefNumLogicalIdx;  // 0x1B / 0x2F
    int tdefNumRealIdx;     // 0x1F / 0x33
    int tdefOwnedMap;       // 0x23 / 0x37
    int tdefFreeMap;        // 0x27 / 0x3B
    int tdefVariablePart;   // 0x2B / 0x3F
    int realIdxCounterSize; // 8 / 12
    int columnDescSize;     // 18 / 25
    int nameLengthSize;     // 1 / 2
    int realIdxDefSize;     // 39 / 52
    int logicalIdxDefSize;  // 20 / 28

    // Column descriptor fields
    int colType = 0;
    int colNumber;       // 1 / 5
    int colVarIndex;     // 3 / 7
    int colMisc;         // 11 / 11 : precision (+1 scale), sort order, complex id
    int colCodePage;     // 11 / -1 (Jet3 text: code page)
    int colFlags;        // 13 / 15
    int colExtFlags;     // -1 / 16
    int colFixedOffset;  // 14 / 21
    int colLength;       // 16 / 23

    // Rows
    int rowCountSize;    // 1 / 2 : column count at row start, var count, offsets
    int maxRowSize;      // bytes a row may take on a page

    // Long values
    int lvalPageHeader;  // size of a data page header before the row table
    int maxLvalRowData;  // largest LVAL row payload

    // Usage maps
    int inlineMapBytes;  // bitmap bytes of a freshly created inline map (64 / 128)
    std::uint32_t referenceMapPagesPerBitmap; // (pageSize - 4) * 8
};

const FormatInfo& formatInfo(Format f);

// Row pointer: page << 8 | row, stored little-endian (row byte, then 3 page bytes).
struct RowPointer {
    std::uint32_t page = 0;
    std::uint8_t row = 0;
    static RowPointer fromU32(std::uint32_t v) { return {v >> 8, static_cast<std::uint8_t>(v & 0xFF)}; }
    std::uint32_t toU32() const { return (page << 8) | row; }
    bool isNull() const { return page == 0 && row == 0; }
    bool operator==(const RowPointer&) const = default;
};

// Little-endian readers (no alignment assumptions).
inline std::uint16_t readU16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | (p[1] << 8)); }
inline std::uint32_t readU24(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16);
}
inline std::uint32_t readU32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline std::uint64_t readU64(const std::uint8_t* p) {
    return static_cast<std::uint64_t>(readU32(p)) | (static_cast<std::uint64_t>(readU32(p + 4)) << 32);
}
inline void writeU16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void writeU32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

} // namespace jet
