// libFuzzer target over the reading engine's decoders, fed raw bytes:
// row layouts (Jet3 and Jet4) with a table definition drawn from the input, cell
// values of every type, text (compressed UCS-2, code pages), inflate, property blobs,
// table definitions and usage maps over an in-memory page source.
//
// Build: cmake -DQUILLMERE_FUZZ=ON with clang (see scripts/fuzz.sh).

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "jet/error.h"
#include "jet/format.h"
#include "jet/inflate.h"
#include "jet/page_source.h"
#include "jet/properties.h"
#include "jet/row.h"
#include "jet/tdef.h"
#include "jet/text.h"
#include "jet/usage_map.h"

namespace {

struct Input {
    const std::uint8_t* p;
    std::size_t n;
    std::uint8_t byte() {
        if (!n) return 0;
        --n;
        return *p++;
    }
    std::uint16_t u16() { return static_cast<std::uint16_t>(byte() | (byte() << 8)); }
};

void fuzzRow(Input in) {
    const bool jet3 = in.byte() & 1;
    const jet::FormatInfo& fmt = jet::formatInfo(jet3 ? jet::Format::Jet3 : jet::Format::Jet4);
    jet::TableDef def;
    unsigned ncols = in.byte() % 12;
    std::uint16_t fixedOff = 0;
    std::uint16_t var = 0;
    for (unsigned i = 0; i < ncols; ++i) {
        jet::ColumnDef c;
        static const std::uint8_t types[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 15, 16, 18, 19, 20, 13};
        c.type = types[in.byte() % sizeof types];
        c.number = static_cast<std::uint16_t>(in.byte() % 16);
        c.extFlags = in.byte() & 0xC1;
        int size = jet::fixedTypeSize(c.type);
        if (c.type == 1) {
            c.flags = 0x03;
        } else if (size > 0 && !(c.extFlags & 0xC0)) {
            c.flags = 0x03;
            c.fixedOffset = fixedOff;
            c.length = static_cast<std::uint16_t>(size);
            fixedOff = static_cast<std::uint16_t>(fixedOff + size);
        } else {
            c.flags = 0x02;
            c.varIndex = var++;
            c.length = 510;
        }
        c.scale = in.byte() % 30;
        c.name = "c" + std::to_string(i);
        def.columns.push_back(c);
    }
    def.numVarCols = var;
    jet::RowView rv;
    try {
        rv.parse(in.p, in.n, def, fmt);
    } catch (const jet::Error&) {
        return;
    }
    jet::TextDecoder td;
    td.unicode = !jet3;
    jet::Value v;
    for (const auto& c : def.columns) {
        try {
            (void)rv.present(c);
            auto cell = rv.cell(c);
            if (!c.isLongValue() && c.type != 18) jet::decodeCell(c, cell, td, v);
        } catch (const jet::Error&) {
        }
    }
}

void fuzzPages(Input in) {
    // The input as a small file of 2 KiB or 4 KiB pages: TDEF parse of page 2, usage maps
    // named by its pointers, every row of every data page, long values named by rows.
    const bool jet3 = in.byte() & 1;
    const jet::FormatInfo& fmt = jet::formatInfo(jet3 ? jet::Format::Jet3 : jet::Format::Jet4);
    std::vector<std::uint8_t> bytes(in.p, in.p + in.n);
    // Pages are mostly empty: repeat the input to fill at least three pages.
    if (bytes.empty()) return;
    while (bytes.size() < 3 * fmt.pageSize) bytes.insert(bytes.end(), in.p, in.p + in.n);
    auto src = jet::FilePageSource::fromMemory(std::move(bytes), "fuzz");
    src->setPageSize(fmt.pageSize);
    jet::TextDecoder td;
    td.unicode = !jet3;
    try {
        auto buf = jet::readTdefBuffer(*src, fmt, 2);
        auto def = jet::parseTableDef(buf, fmt, td, 2, "fuzz");
        try {
            auto m = jet::UsageMap::read(*src, fmt, def.ownedMap);
            (void)m.pages(src->pageCount());
        } catch (const jet::Error&) {
        }
        std::vector<std::uint8_t> lv;
        for (std::uint32_t pg = 0; pg < src->pageCount(); ++pg) {
            auto page = src->page(pg);
            unsigned n = jet::dataPageSlotCount(page, fmt);
            for (unsigned i = 0; i < n; ++i) {
                jet::RowSlot s;
                if (!jet::dataPageSlot(page, fmt, i, s) || s.deleted()) continue;
                jet::RowView rv;
                try {
                    rv.parse(page.data() + s.start, s.end - s.start, def, fmt);
                    for (const auto& c : def.columns) {
                        auto cell = rv.cell(c);
                        if (c.isLongValue() && !cell.empty()) jet::readLongValue(*src, fmt, cell, lv);
                    }
                } catch (const jet::Error&) {
                }
            }
        }
    } catch (const jet::Error&) {
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    Input in{data + 1, size - 1};
    switch (data[0] % 6) {
    case 0: fuzzRow(in); break;
    case 1: {
        jet::TextDecoder td;
        td.unicode = true;
        std::string s;
        td.decode(in.p, in.n, s);
        td.unicode = false;
        td.codePage = static_cast<std::uint16_t>(in.n ? 1250 + in.p[0] % 9 : 1252);
        td.decode(in.p, in.n, s);
        break;
    }
    case 2: {
        std::vector<std::uint8_t> out;
        jet::zlibInflate(in.p, in.n, out, 1 << 20);
        jet::rawInflate(in.p, in.n, out, 1 << 20);
        break;
    }
    case 3: {
        jet::TextDecoder td;
        try {
            (void)jet::parsePropertyMaps({in.p, in.n}, td);
        } catch (const jet::Error&) {
        }
        break;
    }
    default: fuzzPages(in); break;
    }
    return 0;
}
