#pragma once
// Usage maps: which pages belong to a table, an index or a long-value column.
// Layout: docs/format/usage-maps.md.

#include <cstdint>
#include <span>
#include <vector>

#include "jet/format.h"

namespace jet {

class PageSource;

// The bitmap of a usage map, read once. Type 0 (inline) maps have one segment; type 1
// (reference) maps one segment per type-0x05 bitmap page.
class UsageMap {
public:
    struct Segment {
        std::uint32_t firstPage = 0;     // page of bit 0
        std::vector<std::uint8_t> bits;  // LSB first
    };

    // Reads the map whose row the pointer names. Throws Error 3049 on a bad pointer,
    // an unknown map type or a bitmap page of the wrong type.
    static UsageMap read(PageSource& src, const FormatInfo& fmt, std::uint32_t rowPointer);

    std::uint8_t mapType() const { return type_; }
    const std::vector<Segment>& segments() const { return segments_; }
    bool contains(std::uint32_t page) const;
    // Member pages in ascending order, limited to pages below `pageLimit`.
    std::vector<std::uint32_t> pages(std::uint32_t pageLimit) const;

    // The map's own location, for a writer: page and row of the map row, and the
    // bitmap page numbers of a reference map (0 = none).
    RowPointer location;
    std::vector<std::uint32_t> referencePages;

private:
    std::uint8_t type_ = 0;
    std::vector<Segment> segments_;
};

} // namespace jet
