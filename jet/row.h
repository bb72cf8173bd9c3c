#pragma once
// Data pages, rows and cell values: the decoders under a table cursor.
// Layout: docs/format/pages.md, docs/format/rows.md, docs/format/long-values.md.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "jet/format.h"
#include "jet/tdef.h"
#include "jet/value.h"

namespace jet {

class PageSource;
struct TextDecoder;

// The row slots of a data page.
struct RowSlot {
    std::uint16_t start = 0; // offset of the first byte of the row
    std::uint16_t end = 0;   // one past the last byte
    std::uint16_t flags = 0; // row_flag::Deleted / Overflow
    bool deleted() const { return (flags & row_flag::Deleted) != 0; }
    bool overflow() const { return (flags & row_flag::Overflow) != 0; }
};

// Number of slots on a data page (0 if the table would run past the page).
unsigned dataPageSlotCount(std::span<const std::uint8_t> page, const FormatInfo& fmt);
// Slot i of a data page. Returns false when the slot's bounds are impossible
// (start beyond the page, end before start, ...): a corrupt slot.
bool dataPageSlot(std::span<const std::uint8_t> page, const FormatInfo& fmt, unsigned i, RowSlot& out);

// One stored row split into its cells (pointers into the page; nothing is copied).
class RowView {
public:
    // Parses the row layout. Throws Error 3049 naming `where` when the row is inconsistent.
    void parse(const std::uint8_t* row, std::size_t size, const TableDef& def, const FormatInfo& fmt);

    // True when the column has a value in this row (for Boolean: the value itself).
    bool present(const ColumnDef& col) const;
    // The stored bytes of a non-Boolean cell; empty when NULL or absent from the row.
    std::span<const std::uint8_t> cell(const ColumnDef& col) const;

    const std::uint8_t* data() const { return row_; }
    std::size_t size() const { return size_; }
    unsigned columnCount() const { return colCount_; }

private:
    const std::uint8_t* row_ = nullptr;
    std::size_t size_ = 0;
    const FormatInfo* fmt_ = nullptr;
    unsigned colCount_ = 0;       // columns in this row (max_cols when written)
    const std::uint8_t* nullMask_ = nullptr;
    unsigned nullMaskBytes_ = 0;
    std::size_t fixedStart_ = 0;
    std::vector<std::uint32_t> varOffsets_; // var count + 1 entries (last = end of data)
};

// Long values (Memo/OLE): reads the whole value named by a cell's 12-byte header
// (+ inline data) into out. Follows single-page and chained LVAL rows; a chain that
// loops, leaves the file or runs short throws Error 3049.
void readLongValue(PageSource& src, const FormatInfo& fmt, std::span<const std::uint8_t> cell,
                   std::vector<std::uint8_t>& out);

// The bytes of row `row` on page `page` (after following nothing). Throws 3049 when
// the page is not a data page or the slot does not exist.
std::span<const std::uint8_t> rowBytes(PageSource& src, const FormatInfo& fmt, RowPointer ptr);

// Decodes a stored cell of a non-long, non-complex column into out (reusing its
// storage when it already holds the same alternative). Calculated columns are
// unwrapped. Unknown types give Bytes. Throws Error 3049 when the size is wrong.
void decodeCell(const ColumnDef& col, std::span<const std::uint8_t> bytes, const TextDecoder& text, Value& out);

// Unwraps a calculated column's stored value: returns the bytes of the result.
std::span<const std::uint8_t> unwrapCalculated(std::span<const std::uint8_t> stored);

// Stored OLE/memo text: decodes `bytes` as the column's text (memo) into out.
void decodeMemo(std::span<const std::uint8_t> bytes, const TextDecoder& text, std::string& out);

} // namespace jet
