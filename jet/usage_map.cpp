#include "jet/usage_map.h"

#include "jet/error.h"
#include "jet/page_source.h"
#include "jet/row.h"

namespace jet {

UsageMap UsageMap::read(PageSource& src, const FormatInfo& fmt, std::uint32_t rowPointer) {
    UsageMap m;
    m.location = RowPointer::fromU32(rowPointer);
    auto row = rowBytes(src, fmt, m.location);
    if (row.empty())
        throwCorrupt(src.path(), "the usage map at page " + std::to_string(m.location.page) + " row " +
                                     std::to_string(m.location.row) + " is empty");
    m.type_ = row[0];
    if (m.type_ == 0) {
        if (row.size() < 5)
            throwCorrupt(src.path(), "the usage map at page " + std::to_string(m.location.page) + " is too short");
        Segment s;
        s.firstPage = readU32(row.data() + 1);
        s.bits.assign(row.begin() + 5, row.end());
        m.segments_.push_back(std::move(s));
    } else if (m.type_ == 1) {
        std::size_t n = (row.size() - 1) / 4;
        for (std::size_t i = 0; i < n; ++i) {
            std::uint32_t pg = readU32(row.data() + 1 + 4 * i);
            m.referencePages.push_back(pg);
            if (pg == 0) continue;
            auto bp = src.page(pg);
            if (bp[0] != page_type::UsageMap)
                throwCorrupt(src.path(), "page " + std::to_string(pg) + " should be a usage-map bitmap page (type 5) "
                                         "but has type " + std::to_string(bp[0]));
            Segment s;
            s.firstPage = static_cast<std::uint32_t>(i) * fmt.referenceMapPagesPerBitmap;
            s.bits.assign(bp.begin() + 4, bp.end());
            m.segments_.push_back(std::move(s));
        }
    } else {
        throwCorrupt(src.path(), "the usage map at page " + std::to_string(m.location.page) + " row " +
                                     std::to_string(m.location.row) + " has unknown type " + std::to_string(m.type_));
    }
    return m;
}

bool UsageMap::contains(std::uint32_t page) const {
    for (const auto& s : segments_) {
        if (page < s.firstPage) continue;
        std::uint64_t bit = page - s.firstPage;
        if (bit / 8 >= s.bits.size()) continue;
        if (s.bits[bit / 8] & (1u << (bit % 8))) return true;
    }
    return false;
}

std::vector<std::uint32_t> UsageMap::pages(std::uint32_t pageLimit) const {
    std::vector<std::uint32_t> out;
    for (const auto& s : segments_) {
        for (std::size_t byte = 0; byte < s.bits.size(); ++byte) {
            std::uint8_t b = s.bits[byte];
            if (!b) continue;
            for (int k = 0; k < 8; ++k) {
                if (!(b & (1u << k))) continue;
                std::uint64_t pg = static_cast<std::uint64_t>(s.firstPage) + byte * 8 + static_cast<unsigned>(k);
                if (pg < pageLimit) out.push_back(static_cast<std::uint32_t>(pg));
            }
        }
    }
    return out;
}

} // namespace jet
