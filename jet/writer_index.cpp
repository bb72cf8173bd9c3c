// The writer's index B-trees: inserting and removing entries, splitting and merging pages.
#include "writer_impl.h"

#include <bit>

namespace jet {

std::vector<std::uint8_t> WriterImpl::withPointer(const std::vector<std::uint8_t>& key, std::uint32_t ptr)
{
    std::vector<std::uint8_t> e = key;
    const std::uint32_t pg = ptr >> 8;
    e.push_back(static_cast<std::uint8_t>(pg >> 16));
    e.push_back(static_cast<std::uint8_t>(pg >> 8));
    e.push_back(static_cast<std::uint8_t>(pg));
    e.push_back(static_cast<std::uint8_t>(ptr & 0xFF));
    return e;
}

std::vector<WriterImpl::PathStep> WriterImpl::descend(const RealIndex& ix, const std::vector<std::uint8_t>& entry)
{
    // Node pages are read in place, entry by entry, up to the first entry not below `entry`: every INSERT
    // passes here once per level of every index.
    const Layout& l = lay();
    std::vector<PathStep> path;
    std::vector<std::uint8_t> cur, first;
    std::uint32_t pg = ix.root;
    for (int depth = 0; depth < 32; ++depth) {
        const std::span<const std::uint8_t> p = pc().page(pg);
        if (p[0] == 0x04) {
            path.push_back({pg, 0});
            return path;
        }
        if (p[0] != 0x03)
            throwError(err::Corrupt, "Page " + std::to_string(pg) + " of an index is not an index page.");
        const std::size_t prefix = l.jet3 ? p[l.ixPrefix] : rd16(&p[l.ixPrefix]);
        const std::size_t free = rd16(&p[2]);
        if (free > l.ixCapacity())
            throwError(err::Corrupt, "Index page " + std::to_string(pg) + " has an impossible free space.");
        const std::size_t used = l.ixCapacity() - free;
        std::size_t start = 0, i = 0;
        std::uint32_t child = 0;
        bool found = false;
        entryEnds(p, l, used, leafEnds);
        for (const std::size_t bitPos : leafEnds) {
            cur.clear();
            if (i > 0 && prefix > 0)
                cur.assign(first.begin(), first.begin() + static_cast<std::ptrdiff_t>(std::min(prefix, first.size())));
            cur.insert(cur.end(), p.begin() + static_cast<std::ptrdiff_t>(l.ixEntries + start),
                       p.begin() + static_cast<std::ptrdiff_t>(l.ixEntries + bitPos));
            if (i == 0)
                first = cur;
            if (cur.size() < 8)
                throwError(err::Corrupt, "An index node entry on page " + std::to_string(pg) + " is too short.");
            const std::size_t keyLen = cur.size() - 4;
            const std::size_t n = std::min(keyLen, entry.size());
            int c = n ? std::memcmp(cur.data(), entry.data(), n) : 0;
            if (c == 0)
                c = keyLen < entry.size() ? -1 : (keyLen > entry.size() ? 1 : 0);
            if (c >= 0) {
                const std::uint8_t* q = cur.data() + keyLen;
                child = static_cast<std::uint32_t>(q[0]) << 24 | static_cast<std::uint32_t>(q[1]) << 16 |
                        static_cast<std::uint32_t>(q[2]) << 8 | q[3];
                found = true;
                break;
            }
            start = bitPos;
            ++i;
        }
        path.push_back({pg, i});
        pg = found ? child : rd32(&p[l.ixTail]);
        if (pg == 0)
            throwError(err::Corrupt, "An index node has no child to follow.");
    }
    throwError(err::Corrupt, "An index is deeper than any real one; it may be damaged.");
}

void WriterImpl::refreshParents(Table& t, RealIndex& ix, std::vector<PathStep>& path, std::size_t level,
                                const std::vector<std::uint8_t>& last)
{
    while (level > 0) {
        PathStep& up = path[level - 1];
        IndexPage parent = readIndexPage(pc(), up.page);
        if (up.slot < parent.entries.size()) {
            parent.entries[up.slot].bytes = last;
            placePage(t, ix, path, level - 1, parent);
            return;
        }
        --level;  // the page is its parent's tail: the parent's own last entry changed
    }
}

bool WriterImpl::sameKeyAt(const IndexPage& leaf, std::size_t at, int offset, const std::vector<std::uint8_t>& entry,
                           std::size_t keySize)
{
    // The neighbour may be the last entry of the previous leaf or the first of the next one.
    const std::vector<std::uint8_t>* b = nullptr;
    IndexPage other;
    if ((offset < 0 && at == 0) || (offset >= 0 && at >= leaf.entries.size())) {
        const std::uint32_t page = offset < 0 ? leaf.prev : leaf.next;
        if (page == 0)
            return false;
        other = readIndexPage(pc(), page);
        if (other.entries.empty())
            return false;
        b = offset < 0 ? &other.entries.back().bytes : &other.entries.front().bytes;
    } else {
        b = &leaf.entries[offset < 0 ? at - 1 : at].bytes;
    }
    return b->size() == entry.size() && std::memcmp(b->data(), entry.data(), keySize) == 0;
}

void WriterImpl::requireKeyFits(std::size_t keySize)
{
    // At least four entries to a page, so that splitting a full page always makes room.
    if (keySize + 4 > lay().ixCapacity() / 4)
        throwError(err::Unsupported, "An index key of " + std::to_string(keySize) +
                                         " bytes is longer than this engine writes; index fewer or shorter fields.");
}

void WriterImpl::indexInsert(Table& t, RealIndex& ix, const std::vector<std::uint8_t>& key, std::uint32_t ptr,
                             bool nullKey)
{
    requireKeyFits(key.size());
    const std::vector<std::uint8_t> entry = withPointer(key, ptr);
    std::vector<PathStep> path = descend(ix, entry);
    if (insertInPlace(t, ix, path, entry, key.size(), nullKey))
        return;
    const std::uint32_t leafNo = path.back().page;
    IndexPage leaf = readIndexPage(pc(), leafNo);
    std::size_t i = 0;
    while (i < leaf.entries.size() && compare(leaf.entries[i].bytes, entry) < 0)
        ++i;
    const bool dupBefore = sameKeyAt(leaf, i, -1, entry, key.size());
    const bool dupAfter = sameKeyAt(leaf, i, 0, entry, key.size());
    if (ix.unique() && !nullKey && (dupBefore || dupAfter))
        throwError(3022, "The changes you requested were not successful because they would create "
                         "duplicate values in an index.");
    if (!dupBefore && !dupAfter) {
        std::uint8_t* tp = pc().modify(t.tdefPage);
        wr32(tp + ix.counterOffset + 4, rd32(tp + ix.counterOffset + 4) + 1);
    }
    leaf.entries.insert(leaf.entries.begin() + static_cast<std::ptrdiff_t>(i), {entry, 0});
    const bool newLast = i + 1 == leaf.entries.size();
    placePage(t, ix, path, path.size() - 1, leaf);
    if (newLast)
        refreshParents(t, ix, path, path.size() - 1, entry);
}

void WriterImpl::entryEnds(std::span<const std::uint8_t> p, const Layout& l, std::size_t used,
                           std::vector<std::uint16_t>& ends)
{
    // A byte at a time: most bytes of the bitmap are zero.
    ends.clear();
    for (std::size_t byte = 0; byte * 8 <= used; ++byte) {
        unsigned b = p[l.ixBitmap + byte];
        while (b != 0) {
            const std::size_t pos = byte * 8 + static_cast<std::size_t>(std::countr_zero(b));
            if (pos >= 1 && pos <= used)
                ends.push_back(static_cast<std::uint16_t>(pos));
            b &= b - 1;
        }
    }
}

bool WriterImpl::insertInPlace(Table& t, RealIndex& ix, std::vector<PathStep>& path,
                               const std::vector<std::uint8_t>& entry, std::size_t keySize, bool nullKey)
{
    const Layout& l = lay();
    const std::uint32_t pgNo = path.back().page;
    std::uint32_t next = 0;
    std::size_t i = 0, count = 0, used = 0;
    bool dupBefore = false, dupAfter = false;
    std::vector<std::uint16_t>& ends = leafEnds;
    {
        const std::span<const std::uint8_t> p = pc().page(pgNo);
        const std::size_t prefix = l.jet3 ? p[l.ixPrefix] : rd16(&p[l.ixPrefix]);
        const std::size_t free = rd16(&p[2]);
        // Pages with a shared prefix (Access writes them) and pages without room take the general path.
        if (p[0] != 0x04 || prefix != 0 || free > l.ixCapacity() || free < entry.size())
            return false;
        used = l.ixCapacity() - free;
        entryEnds(p, l, used, ends);
        count = ends.size();
        const std::uint8_t* base = p.data() + l.ixEntries;
        auto at = [&](std::size_t k) {
            const std::size_t from = k == 0 ? 0 : ends[k - 1];
            return std::span<const std::uint8_t>(base + from, ends[k] - from);
        };
        auto cmp = [&](std::span<const std::uint8_t> e) {
            const std::size_t n = std::min(e.size(), entry.size());
            const int c = n ? std::memcmp(e.data(), entry.data(), n) : 0;
            return c != 0 ? c : (e.size() < entry.size() ? -1 : (e.size() > entry.size() ? 1 : 0));
        };
        // The first entry not below the new one.
        std::size_t lo = 0, hi = count;
        while (lo < hi) {
            const std::size_t mid = (lo + hi) / 2;
            if (cmp(at(mid)) < 0)
                lo = mid + 1;
            else
                hi = mid;
        }
        i = lo;
        if (i == 0)
            return false;  // the neighbour before is on another page
        auto same = [&](std::span<const std::uint8_t> e) {
            return e.size() == entry.size() && std::memcmp(e.data(), entry.data(), keySize) == 0;
        };
        dupBefore = same(at(i - 1));
        if (i < count)
            dupAfter = same(at(i));
        else
            next = rd32(&p[l.ixNext]);
    }
    if (next != 0) {
        const std::span<const std::uint8_t> n = pc().page(next);
        const std::size_t nUsed = l.ixCapacity() - std::min<std::size_t>(rd16(&n[2]), l.ixCapacity());
        for (std::size_t bitPos = 1; bitPos <= nUsed; ++bitPos)
            if (n[l.ixBitmap + bitPos / 8] >> (bitPos % 8) & 1) {
                dupAfter = bitPos == entry.size() && std::memcmp(&n[l.ixEntries], entry.data(), keySize) == 0;
                break;
            }
    }
    if (ix.unique() && !nullKey && (dupBefore || dupAfter))
        throwError(3022, "The changes you requested were not successful because they would create "
                         "duplicate values in an index.");
    if (!dupBefore && !dupAfter) {
        std::uint8_t* tp = pc().modify(t.tdefPage);
        wr32(tp + ix.counterOffset + 4, rd32(tp + ix.counterOffset + 4) + 1);
    }
    // The entries behind the new one move up; the entry-end bitmap is set again.
    std::uint8_t* w = pc().modify(pgNo);
    const std::size_t len = entry.size();
    const std::size_t from = i == 0 ? 0 : ends[i - 1];
    std::memmove(w + l.ixEntries + from + len, w + l.ixEntries + from, used - from);
    std::memcpy(w + l.ixEntries + from, entry.data(), len);
    std::memset(w + l.ixBitmap, 0, l.ixEntries - l.ixBitmap);
    auto mark = [&](std::size_t pos) { w[l.ixBitmap + pos / 8] |= static_cast<std::uint8_t>(1u << (pos % 8)); };
    for (std::size_t k = 0; k < count; ++k)
        mark(ends[k] + (k < i ? 0 : len));
    mark(from + len);
    wr16(w + 2, static_cast<std::uint32_t>(l.ixCapacity() - used - len));
    if (i == count)
        refreshParents(t, ix, path, path.size() - 1, entry);
    return true;
}

void WriterImpl::placePage(Table& t, RealIndex& ix, std::vector<PathStep>& path, std::size_t level, IndexPage& ip)
{
    const std::uint32_t pgNo = path[level].page;
    if (indexEntriesSize(ip) <= lay().ixCapacity()) {
        savePage(pgNo, ip);
        return;
    }
    if (level == 0) {
        // The root keeps its page number: its entries move to a new page under it.
        const std::uint32_t c = allocPage();
        mapAdd(ix.mapPtr, c);
        IndexPage moved = ip;
        moved.prev = moved.next = 0;
        IndexPage root;
        root.type = 0x03;
        root.tdef = ip.tdef;
        root.tail = c;
        savePage(pgNo, root);
        path.insert(path.begin() + 1, PathStep{c, path[0].slot});
        path[0].slot = 0;  // the root has no entries now: slot 0 is its tail
        ip = moved;
        placePage(t, ix, path, 1, ip);
        return;
    }
    // Split: the first half goes to a new page L placed before this one.
    const std::uint32_t l = allocPage();
    mapAdd(ix.mapPtr, l);
    // Halved by bytes, not by count: entries differ in length (long texts beside short ones), and both halves
    // must fit a page.
    const std::size_t extra = ip.leaf() ? 0 : 4;
    const std::size_t total = indexEntriesSize(ip);
    std::size_t half = 0, leftBytes = 0;
    while (half + 1 < ip.entries.size() && 2 * (leftBytes + ip.entries[half].bytes.size() + extra) <= total + extra) {
        leftBytes += ip.entries[half].bytes.size() + extra;
        ++half;
    }
    half = std::max<std::size_t>(half, 1);
    IndexPage left;
    left.type = ip.type;
    left.tdef = ip.tdef;
    left.prev = ip.prev;
    left.next = pgNo;
    left.entries.assign(ip.entries.begin(), ip.entries.begin() + static_cast<std::ptrdiff_t>(half));
    ip.entries.erase(ip.entries.begin(), ip.entries.begin() + static_cast<std::ptrdiff_t>(half));
    std::vector<std::uint8_t> leftMax;
    if (left.leaf()) {
        leftMax = left.entries.back().bytes;
    } else {
        // The last moved child becomes L's tail; its entry is L's maximum.
        left.tail = left.entries.back().child;
        leftMax = left.entries.back().bytes;
        left.entries.pop_back();
    }
    if (ip.prev != 0) {
        IndexPage before = readIndexPage(pc(), ip.prev);
        before.next = l;
        savePage(ip.prev, before);
    }
    ip.prev = l;
    savePage(l, left);
    savePage(pgNo, ip);
    // Keep the path pointing at the page that now holds the entry it followed.
    bool movedLeft = false;
    if (!ip.leaf() && level + 1 < path.size()) {
        const std::size_t s = path[level].slot;
        if (s + 1 < half) {
            path[level] = {l, s};
            movedLeft = true;
        } else if (s + 1 == half) {
            path[level] = {l, left.entries.size()};
            movedLeft = true;
        } else {
            path[level].slot = s - half;
        }
    }
    // The parent gets an entry for L just before the one for this page.
    IndexPage parent = readIndexPage(pc(), path[level - 1].page);
    const std::size_t at = path[level - 1].slot;
    parent.entries.insert(parent.entries.begin() + static_cast<std::ptrdiff_t>(at), {leftMax, l});
    path[level - 1].slot = movedLeft ? at : at + 1;
    placePage(t, ix, path, level - 1, parent);
}

void WriterImpl::indexRemove(Table& t, RealIndex& ix, const std::vector<std::uint8_t>& key, std::uint32_t ptr)
{
    const std::vector<std::uint8_t> entry = withPointer(key, ptr);
    std::vector<PathStep> path = descend(ix, entry);
    IndexPage leaf = readIndexPage(pc(), path.back().page);
    std::size_t i = 0;
    while (i < leaf.entries.size() && compare(leaf.entries[i].bytes, entry) != 0)
        ++i;
    if (i == leaf.entries.size())
        throwError(err::Corrupt, "An index entry to remove is missing; the index may be damaged.");
    const bool dupBefore = sameKeyAt(leaf, i, -1, entry, key.size());
    const bool dupAfter = sameKeyAt(leaf, i + 1, 0, entry, key.size());
    if (!dupBefore && !dupAfter) {
        std::uint8_t* tp = pc().modify(t.tdefPage);
        const std::uint32_t n = rd32(tp + ix.counterOffset + 4);
        if (n > 0)
            wr32(tp + ix.counterOffset + 4, n - 1);
    }
    const bool wasLast = i + 1 == leaf.entries.size();
    leaf.entries.erase(leaf.entries.begin() + static_cast<std::ptrdiff_t>(i));
    removeFromPage(t, ix, path, path.size() - 1, leaf, wasLast);
}

void WriterImpl::removeFromPage(Table& t, RealIndex& ix, std::vector<PathStep>& path, std::size_t level, IndexPage& ip,
                                bool lastChanged)
{
    const std::uint32_t pgNo = path[level].page;
    const bool empty = ip.leaf() ? ip.entries.empty() : (ip.entries.empty() && ip.tail == 0);
    if (!empty || level == 0) {
        if (level == 0 && empty && !ip.leaf()) {
            ip.type = 0x04;  // an emptied root becomes an empty leaf again
            ip.tail = 0;
        }
        savePage(pgNo, ip);
        // (A node's maximum lives in its tail subtree, so only a leaf's last entry matters here.)
        if (lastChanged && !ip.entries.empty() && ip.leaf())
            refreshParents(t, ix, path, level, ip.entries.back().bytes);
        return;
    }
    // Unlink the empty page from its level and from its parent.
    if (ip.prev) {
        IndexPage b = readIndexPage(pc(), ip.prev);
        b.next = ip.next;
        savePage(ip.prev, b);
    }
    if (ip.next) {
        IndexPage a = readIndexPage(pc(), ip.next);
        a.prev = ip.prev;
        savePage(ip.next, a);
    }
    mapRemove(ix.mapPtr, pgNo);
    freePage(pgNo);
    IndexPage parent = readIndexPage(pc(), path[level - 1].page);
    const std::size_t slot = path[level - 1].slot;
    bool parentLastChanged = false;
    if (slot < parent.entries.size()) {
        parent.entries.erase(parent.entries.begin() + static_cast<std::ptrdiff_t>(slot));
    } else if (!parent.entries.empty()) {
        // The tail went away: the previous child becomes the tail and its entry disappears.
        parent.tail = parent.entries.back().child;
        parent.entries.pop_back();
        parentLastChanged = true;
    } else {
        parent.tail = 0;
    }
    removeFromPage(t, ix, path, level - 1, parent, parentLastChanged);
    if (parentLastChanged && level >= 2) {
        // The parent's maximum is now the maximum of its new tail subtree.
        std::uint32_t pg = parent.tail;
        while (pg) {
            IndexPage d = readIndexPage(pc(), pg);
            if (d.leaf()) {
                if (!d.entries.empty())
                    refreshParents(t, ix, path, level - 1, d.entries.back().bytes);
                break;
            }
            pg = d.tail;
        }
    }
}

}  // namespace jet
