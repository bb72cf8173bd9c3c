// Index pages read in place: their entries compared where they lie, without parsing the page into entries.
// Used on the hot paths that only look (a descent to a leaf, a key lookup).
#pragma once

#include "writer_error.h"
#include "writer_internal.h"

#include <algorithm>
#include <span>
#include <string>
#include <vector>

namespace jet::w {

// One entry of an index page as stored: the bytes it shares with the page's first entry, then its own (a node
// entry's child page left out). Compared in place: a lookup parses no page into entries.
struct StoredEntry {
    const std::uint8_t* shared;
    std::size_t sharedLen;
    const std::uint8_t* own;
    std::size_t ownLen;
    std::size_t size() const { return sharedLen + ownLen; }
    std::uint8_t at(std::size_t k) const { return k < sharedLen ? shared[k] : own[k - sharedLen]; }
};

// <0, 0, >0 as plain byte comparison of the entry with `t`.
inline int compareStored(const StoredEntry& e, const std::vector<std::uint8_t>& t)
{
    const std::size_t n = std::min(e.size(), t.size());
    for (std::size_t k = 0; k < n; ++k)
        if (const int d = int(e.at(k)) - int(t[k]))
            return d;
    return e.size() < t.size() ? -1 : (e.size() > t.size() ? 1 : 0);
}

inline bool startsWith(const StoredEntry& e, const std::vector<std::uint8_t>& key)
{
    if (e.size() < key.size())
        return false;
    for (std::size_t k = 0; k < key.size(); ++k)
        if (e.at(k) != key[k])
            return false;
    return true;
}

// Calls `fn(entry, child)` for each entry of an index page in order until it returns true; returns whether it did.
template <class Fn>
bool forEachStoredEntry(const Layout& l, std::span<const std::uint8_t> p, std::uint32_t page, Fn&& fn)
{
    const bool node = p[0] == 0x03;
    const std::size_t prefix = l.jet3 ? p[l.ixPrefix] : rd16(&p[l.ixPrefix]);
    const std::size_t capacity = l.ixCapacity();
    if (rd16(&p[2]) > capacity)
        throwError(err::Corrupt, "Index page " + std::to_string(page) + " has an impossible free space.");
    const std::size_t used = capacity - rd16(&p[2]);
    const std::uint8_t* area = p.data() + l.ixEntries;
    const std::uint8_t* first = nullptr;
    std::size_t firstLen = 0, start = 0;
    for (std::size_t bit = 1; bit <= used; ++bit) {
        if (!(p[l.ixBitmap + bit / 8] >> (bit % 8) & 1))
            continue;
        StoredEntry e{area, 0, area + start, bit - start};
        if (first) {
            e.shared = first;
            e.sharedLen = std::min(prefix, firstLen);
        } else {
            first = area + start;
            firstLen = bit - start;
        }
        start = bit;
        std::uint32_t child = 0;
        if (node) {
            if (e.ownLen < 4 || e.size() < 8)
                throwError(err::Corrupt, "Index node entry too short on page " + std::to_string(page) + ".");
            const std::uint8_t* c = e.own + e.ownLen - 4;
            child = std::uint32_t(c[0]) << 24 | std::uint32_t(c[1]) << 16 | std::uint32_t(c[2]) << 8 | c[3];
            e.ownLen -= 4;
        }
        if (fn(e, child))
            return true;
    }
    return false;
}

}  // namespace jet::w
