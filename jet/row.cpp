#include "jet/row.h"

#include <cstring>
#include <unordered_set>

#include "jet/error.h"
#include "jet/page_source.h"
#include "jet/text.h"

namespace jet {

// ---------------------------------------------------------------- data pages

unsigned dataPageSlotCount(std::span<const std::uint8_t> page, const FormatInfo& fmt) {
    if (page.size() < static_cast<std::size_t>(fmt.dataRowTable)) return 0;
    unsigned n = readU16(page.data() + fmt.dataRowCount);
    unsigned fit = static_cast<unsigned>((page.size() - static_cast<std::size_t>(fmt.dataRowTable)) / 2);
    return n > fit ? fit : n;
}

bool dataPageSlot(std::span<const std::uint8_t> page, const FormatInfo& fmt, unsigned i, RowSlot& out) {
    unsigned count = dataPageSlotCount(page, fmt);
    if (i >= count) return false;
    std::uint16_t raw = readU16(page.data() + fmt.dataRowTable + 2 * i);
    out.flags = raw & (row_flag::Deleted | row_flag::Overflow);
    out.start = raw & row_flag::OffsetMask;
    if (i == 0) {
        out.end = static_cast<std::uint16_t>(page.size());
    } else {
        out.end = readU16(page.data() + fmt.dataRowTable + 2 * (i - 1)) & row_flag::OffsetMask;
    }
    const std::size_t tableEnd = static_cast<std::size_t>(fmt.dataRowTable) + 2 * count;
    if (out.end > page.size() || out.start > out.end || out.start < tableEnd) {
        if (out.deleted()) { // a deleted slot may have any bounds: nobody reads it
            out.start = out.end = 0;
            return true;
        }
        return false;
    }
    return true;
}

std::span<const std::uint8_t> rowBytes(PageSource& src, const FormatInfo& fmt, RowPointer ptr) {
    auto page = src.page(ptr.page);
    if (page[0] != page_type::Data)
        throwCorrupt(src.path(), "row pointer to page " + std::to_string(ptr.page) + " row " +
                                     std::to_string(ptr.row) + ": not a data page (type " + std::to_string(page[0]) +
                                     ")");
    RowSlot slot;
    if (!dataPageSlot(page, fmt, ptr.row, slot))
        throwCorrupt(src.path(), "row pointer to page " + std::to_string(ptr.page) + " row " +
                                     std::to_string(ptr.row) + ": no such row, or its bounds are impossible");
    return page.subspan(slot.start, static_cast<std::size_t>(slot.end - slot.start));
}

// ---------------------------------------------------------------- rows

void RowView::parse(const std::uint8_t* row, std::size_t size, const TableDef& def, const FormatInfo& fmt) {
    row_ = row;
    size_ = size;
    fmt_ = &fmt;
    varOffsets_.clear();
    const std::size_t cs = static_cast<std::size_t>(fmt.rowCountSize);
    if (size < cs + 1) throw Error(errc::CorruptDatabase, "row too short (" + std::to_string(size) + " bytes)");
    colCount_ = cs == 1 ? row[0] : readU16(row);
    nullMaskBytes_ = (colCount_ + 7) / 8;
    if (cs + nullMaskBytes_ > size)
        throw Error(errc::CorruptDatabase, "row of " + std::to_string(size) + " bytes cannot hold the null mask of " +
                                               std::to_string(colCount_) + " columns");
    nullMask_ = row + size - nullMaskBytes_;
    fixedStart_ = cs;

    bool hasVar = false;
    for (const auto& c : def.columns)
        if (!c.fixed()) {
            hasVar = true;
            break;
        }
    if (!hasVar) return;

    const std::size_t tailEnd = size - nullMaskBytes_; // one past the var count
    if (fmt.rowCountSize == 2) {
        if (tailEnd < cs + 2) throw Error(errc::CorruptDatabase, "row too short for its variable-column count");
        unsigned n = readU16(row + tailEnd - 2);
        // entries: off[0] at tailEnd-4, off[1] at tailEnd-6, ..., EOD at tailEnd-4-2n
        if (static_cast<std::size_t>(4 + 2 * n) > tailEnd - cs)
            throw Error(errc::CorruptDatabase, "row's variable-column table (" + std::to_string(n) +
                                                   " entries) does not fit in the row");
        varOffsets_.resize(n + 1);
        const std::size_t tableLow = tailEnd - 4 - 2 * n;
        for (unsigned i = 0; i <= n; ++i) {
            std::uint32_t off = readU16(row + tailEnd - 4 - 2 * i);
            varOffsets_[i] = off;
        }
        for (unsigned i = 0; i <= n; ++i) {
            if (varOffsets_[i] > tableLow || (i > 0 && varOffsets_[i] < varOffsets_[i - 1]) || varOffsets_[i] < cs)
                throw Error(errc::CorruptDatabase, "row's variable-column offsets are out of order or outside the row");
        }
    } else {
        // Jet3: 1-byte offsets plus a jump table for each 256-byte boundary crossed.
        const std::size_t rowEnd = size - 1; // inclusive, relative to row start
        if (size < nullMaskBytes_ + 2) throw Error(errc::CorruptDatabase, "row too short for its variable columns");
        unsigned n = row[rowEnd - nullMaskBytes_];
        std::size_t numJumps = (size - 1) / 256;
        if (rowEnd < nullMaskBytes_ + numJumps + 1 + n)
            throw Error(errc::CorruptDatabase, "row's variable-column table does not fit in the row");
        std::size_t colOffset = rowEnd - nullMaskBytes_ - numJumps - 1;
        if ((colOffset - n) / 256 < numJumps) --numJumps;
        varOffsets_.resize(n + 1);
        std::size_t jumpsUsed = 0;
        for (unsigned i = 0; i <= n; ++i) {
            while (jumpsUsed < numJumps && i == row[rowEnd - nullMaskBytes_ - jumpsUsed - 1]) ++jumpsUsed;
            varOffsets_[i] = static_cast<std::uint32_t>(row[colOffset - i] + jumpsUsed * 256);
        }
        const std::size_t tableLow = colOffset - n;
        for (unsigned i = 0; i <= n; ++i) {
            if (varOffsets_[i] > tableLow + 1 || (i > 0 && varOffsets_[i] < varOffsets_[i - 1]) || varOffsets_[i] < cs)
                throw Error(errc::CorruptDatabase, "row's variable-column offsets are out of order or outside the row");
        }
    }
}

bool RowView::present(const ColumnDef& col) const {
    if (col.number >= colCount_) return false;
    return (nullMask_[col.number / 8] >> (col.number % 8)) & 1;
}

std::span<const std::uint8_t> RowView::cell(const ColumnDef& col) const {
    if (!present(col)) return {};
    if (col.fixed()) {
        std::size_t start = fixedStart_ + col.fixedOffset;
        std::size_t len = col.length;
        if (col.type == static_cast<std::uint8_t>(ColumnType::Boolean) && !col.calculated()) return {};
        if (start + len > size_ - nullMaskBytes_)
            throw Error(errc::CorruptDatabase, "fixed column '" + col.name + "' lies outside its row");
        return {row_ + start, len};
    }
    if (col.varIndex + 1u >= varOffsets_.size()) return {}; // row written before the column existed
    std::uint32_t a = varOffsets_[col.varIndex], b = varOffsets_[col.varIndex + 1u];
    return {row_ + a, static_cast<std::size_t>(b - a)};
}

// ---------------------------------------------------------------- long values

void readLongValue(PageSource& src, const FormatInfo& fmt, std::span<const std::uint8_t> cell,
                   std::vector<std::uint8_t>& out) {
    out.clear();
    if (cell.size() < 12) throw Error(errc::CorruptDatabase, "long value header shorter than 12 bytes");
    std::uint32_t word = readU32(cell.data());
    std::uint32_t len = word & lval_flag::LengthMask;
    RowPointer ptr = RowPointer::fromU32(readU32(cell.data() + 4));
    if (word & lval_flag::Inline) {
        if (len > cell.size() - 12)
            throw Error(errc::CorruptDatabase, "inline long value of " + std::to_string(len) +
                                                   " bytes is longer than its cell");
        out.assign(cell.begin() + 12, cell.begin() + 12 + len);
        return;
    }
    if (word & lval_flag::SinglePage) {
        auto row = rowBytes(src, fmt, ptr);
        if (row.size() < len)
            throw Error(errc::CorruptDatabase, "long value at page " + std::to_string(ptr.page) + " row " +
                                                   std::to_string(ptr.row) + " is shorter than its length " +
                                                   std::to_string(len));
        out.assign(row.begin(), row.begin() + len);
        return;
    }
    // Chain of LVAL rows: 4-byte pointer to the next row, then data.
    std::size_t fileBytes = static_cast<std::size_t>(src.pageCount()) * src.pageSize();
    out.reserve(std::min<std::size_t>(len, fileBytes));
    std::unordered_set<std::uint32_t> seen;
    std::size_t remaining = len;
    while (remaining > 0) {
        if (ptr.isNull())
            throw Error(errc::CorruptDatabase, "long value chain ends after " + std::to_string(out.size()) + " of " +
                                                   std::to_string(len) + " bytes");
        if (!seen.insert(ptr.toU32()).second)
            throw Error(errc::CorruptDatabase, "long value chain loops back to page " + std::to_string(ptr.page) +
                                                   " row " + std::to_string(ptr.row));
        auto row = rowBytes(src, fmt, ptr);
        if (row.size() < 4)
            throw Error(errc::CorruptDatabase, "long value chain row at page " + std::to_string(ptr.page) +
                                                   " is too short");
        RowPointer next = RowPointer::fromU32(readU32(row.data()));
        std::size_t chunk = std::min(row.size() - 4, remaining);
        out.insert(out.end(), row.begin() + 4, row.begin() + 4 + static_cast<std::ptrdiff_t>(chunk));
        remaining -= chunk;
        if (chunk == 0 && !next.isNull() && next == ptr) break;
        ptr = next;
    }
}

// ---------------------------------------------------------------- values

std::span<const std::uint8_t> unwrapCalculated(std::span<const std::uint8_t> d) {
    if (d.size() < 20) return d;
    std::uint32_t len = readU32(d.data() + 16);
    std::size_t n = std::min<std::size_t>(len, d.size() - 20);
    return d.subspan(20, n);
}

namespace {

template <class T>
T& ensure(Value& v) {
    if (!std::holds_alternative<T>(v)) v.template emplace<T>();
    return std::get<T>(v);
}

[[noreturn]] void badSize(const ColumnDef& col, std::size_t got) {
    throw Error(errc::CorruptDatabase, "column '" + col.name + "': stored value of " + std::to_string(got) +
                                           " bytes does not fit its type " + columnTypeName(col.type));
}

Decimal readNumeric(const ColumnDef& col, std::span<const std::uint8_t> b) {
    if (b.size() < 17) badSize(col, b.size());
    Decimal d;
    d.negative = b[0] != 0;
    unsigned __int128 m = 0;
    for (int w = 0; w < 4; ++w) m = (m << 32) | readU32(b.data() + 1 + 4 * w);
    d.mantissa = m;
    d.scale = col.scale;
    return d;
}

Decimal readCalcNumeric(const ColumnDef& col, std::span<const std::uint8_t> b) {
    if (b.size() < 4) badSize(col, b.size());
    auto totalLen = static_cast<std::int16_t>(readU16(b.data()));
    long numByteLen = (totalLen > 0 ? totalLen : static_cast<long>(b.size()) - 2) - 2;
    numByteLen = std::min<long>((numByteLen / 4) * 4, 16);
    if (numByteLen < 0 || static_cast<std::size_t>(4 + numByteLen) > b.size()) badSize(col, b.size());
    Decimal d;
    d.scale = b[2];
    d.negative = b[3] != 0;
    const std::uint8_t* p = b.data() + 4;
    unsigned __int128 m = 0;
    long pos = 0;
    if (numByteLen % 8 != 0) {
        m = readU32(p);
        pos = 4;
    }
    for (; pos + 8 <= numByteLen; pos += 8) m = (m << 64) | readU64(p + pos);
    d.mantissa = m;
    return d;
}

DateTimeExt readDateTimeExt(const ColumnDef& col, std::span<const std::uint8_t> b) {
    // "DDDDDDDDDDDDDDDDDDD:SSSSSSSSSSSSFFFFFFF:7\0"
    if (b.size() < 39) badSize(col, b.size());
    auto num = [&](std::size_t from, std::size_t n) {
        std::int64_t v = 0;
        for (std::size_t i = from; i < from + n; ++i) {
            if (b[i] < '0' || b[i] > '9')
                throw Error(errc::CorruptDatabase, "column '" + col.name + "': malformed Date/Time Extended value");
            v = v * 10 + (b[i] - '0');
        }
        return v;
    };
    if (b[19] != ':') throw Error(errc::CorruptDatabase, "column '" + col.name + "': malformed Date/Time Extended value");
    DateTimeExt v;
    v.days = num(0, 19);
    std::int64_t secs = num(20, 12);
    std::int64_t frac = num(32, 7);
    if (v.days > 3652058 || secs > 86400LL * 3652059) // keep the arithmetic in range
        throw Error(errc::CorruptDatabase, "column '" + col.name + "': Date/Time Extended value out of range");
    v.ticks = secs * 10000000 + frac;
    return v;
}

} // namespace

void decodeMemo(std::span<const std::uint8_t> bytes, const TextDecoder& text, std::string& out) {
    out.clear();
    text.decode(bytes.data(), bytes.size(), out);
}

void decodeCell(const ColumnDef& col, std::span<const std::uint8_t> bytes, const TextDecoder& text, Value& out) {
    std::span<const std::uint8_t> b = bytes;
    const auto type = static_cast<ColumnType>(col.type);
    if (col.calculated()) {
        b = unwrapCalculated(bytes);
        if (type == ColumnType::Boolean) {
            out = b.empty() ? false : (b[0] != 0);
            return;
        }
        if (type == ColumnType::Numeric) {
            if (b.empty()) out = std::monostate{};
            else out = readCalcNumeric(col, b);
            return;
        }
        if (b.empty() && type != ColumnType::Text && type != ColumnType::Memo && type != ColumnType::Binary &&
            type != ColumnType::Ole) {
            out = std::monostate{};
            return;
        }
    }
    auto need = [&](std::size_t n) {
        if (b.size() < n) badSize(col, b.size());
    };
    switch (type) {
    case ColumnType::Boolean: out = !b.empty() && b[0] != 0; return;
    case ColumnType::Byte: need(1); out = static_cast<std::uint8_t>(b[0]); return;
    case ColumnType::Integer: need(2); out = static_cast<std::int16_t>(readU16(b.data())); return;
    case ColumnType::Long: need(4); out = static_cast<std::int32_t>(readU32(b.data())); return;
    case ColumnType::Complex: need(4); out = ComplexRef{static_cast<std::int32_t>(readU32(b.data()))}; return;
    case ColumnType::BigInt: need(8); out = static_cast<std::int64_t>(readU64(b.data())); return;
    case ColumnType::Currency: need(8); out = Currency{static_cast<std::int64_t>(readU64(b.data()))}; return;
    case ColumnType::Single: {
        need(4);
        std::uint32_t u = readU32(b.data());
        float f;
        std::memcpy(&f, &u, 4);
        out = f;
        return;
    }
    case ColumnType::Double:
    case ColumnType::DateTime: {
        need(8);
        std::uint64_t u = readU64(b.data());
        double d;
        std::memcpy(&d, &u, 8);
        if (type == ColumnType::Double) out = d;
        else out = DateTime{d};
        return;
    }
    case ColumnType::Guid: {
        need(16);
        Guid g;
        static const int order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
        for (int i = 0; i < 16; ++i) g.bytes[static_cast<std::size_t>(i)] = b[static_cast<std::size_t>(order[i])];
        out = g;
        return;
    }
    case ColumnType::Numeric: out = readNumeric(col, b); return;
    case ColumnType::DateTimeExt: out = readDateTimeExt(col, b); return;
    case ColumnType::Text:
    case ColumnType::Memo: {
        auto& s = ensure<std::string>(out);
        s.clear();
        text.decode(b.data(), b.size(), s);
        return;
    }
    default: {
        auto& v = ensure<Bytes>(out);
        v.assign(b.begin(), b.end());
        return;
    }
    }
}

} // namespace jet
