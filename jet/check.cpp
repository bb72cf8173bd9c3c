#include "check.h"

#include "check_relations.h"

#include "codec_hook.h"
#include "error.h"
#include "writer_error.h"
#include "writer_internal.h"

#include <algorithm>
#include <cstring>
#include <set>
#include <unordered_set>

namespace jet {

using namespace w;

namespace {

std::string hex(const std::vector<std::uint8_t>& b)
{
    static const char* d = "0123456789abcdef";
    std::string s;
    for (std::uint8_t x : b) {
        s.push_back(d[x >> 4]);
        s.push_back(d[x & 15]);
    }
    return s;
}

int cmp(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b)
{
    const std::size_t n = std::min(a.size(), b.size());
    const int c = n ? std::memcmp(a.data(), b.data(), n) : 0;
    if (c)
        return c;
    return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

std::uint32_t entryPointer(const std::vector<std::uint8_t>& e)
{
    const std::size_t n = e.size();
    return (static_cast<std::uint32_t>(e[n - 4]) << 16 | static_cast<std::uint32_t>(e[n - 3]) << 8 | e[n - 2]) << 8 |
           e[n - 1];
}

class Checker {
public:
    Checker(PageSource& src, const CheckOptions& o) : src_(src), opt_(o) {}

    CheckReport report;

    std::vector<CheckFinding> run()
    {
        used_.insert(0);
        used_.insert(1);
        guard("catalogue", [&] { checkTable(2, "MSysObjects"); });
        // Every local table named in the catalogue.
        guard("catalogue", [&] {
            Table mso = readTable(src_, 2);
            const Col* cId = mso.column(u"Id");
            const Col* cName = mso.column(u"Name");
            const Col* cType = mso.column(u"Type");
            if (!cId || !cName || !cType) {
                add(CheckFinding::Kind::Structure, "MSysObjects", "catalogue columns missing");
                return;
            }
            std::vector<std::pair<std::uint32_t, std::string>> todo;
            forEachRow(src_, mso, [&](const RowRef& r) {
                auto cells = decodeRow(src_, mso, r.bytes, false);
                const auto& t = cells[cType->number];
                if (!t.present || t.bytes.size() < 2 || rd16(t.bytes.data()) != 1)
                    return;
                const std::uint32_t id = rd32(cells[cId->number].bytes.data());
                todo.emplace_back(id, utf16ToUtf8(decodeColumnText(*cName, cells[cName->number].bytes)));
            });
            for (auto& [id, name] : todo)
                if (id != 2)
                    guard(name, [&] { checkTable(id, name); });
            guard("relationships", [&] {
                checkRelationships(src_, todo, [&](CheckFinding::Kind k, std::string where, std::string what) {
                    add(k, std::move(where), std::move(what));
                });
            });
        });
        checkFreeMap();
        return std::move(findings_);
    }

private:
    template <typename F>
    void guard(const std::string& where, F&& f)
    {
        try {
            f();
        } catch (const Error& e) {
            add(CheckFinding::Kind::Structure, where, e.what());
        }
    }

    void add(CheckFinding::Kind k, std::string where, std::string what)
    {
        findings_.push_back({k, std::move(where), std::move(what)});
    }

    void use(std::uint32_t page, const std::string& where)
    {
        if (page >= src_.pageCount()) {
            add(CheckFinding::Kind::FreeMap, where, "page " + std::to_string(page) + " lies past the end of the file");
            return;
        }
        used_.insert(page);
    }

    void useMap(std::uint32_t ptr, const std::string& where)
    {
        if (ptr == 0)
            return;  // a table that never had pages of this kind
        use(ptr >> 8, where);
        auto row = rowAt(src_, ptr);
        if (!row.empty() && row[0] == 0x01)
            for (std::size_t k = 0; k * 4 + 5 <= row.size(); ++k)
                if (std::uint32_t bp = rd32(&row[1 + 4 * k]))
                    use(bp, where);
    }

    void checkTable(std::uint32_t tdef, const std::string& name)
    {
        Table t = readTable(src_, tdef);
        ++report.tables;
        for (std::uint32_t p : t.tdefPages)
            use(p, name);
        useMap(t.ownedMap, name);
        useMap(t.freeMap, name);
        const std::vector<std::uint32_t> owned = mapMembers(src_, t.ownedMap);
        const std::set<std::uint32_t> ownedSet(owned.begin(), owned.end());
        for (std::uint32_t p : owned) {
            use(p, name);
            auto pg = src_.page(p);
            if (pg[0] != 0x01 || rd32(&pg[4]) != tdef)
                add(CheckFinding::Kind::Structure, name,
                    "page " + std::to_string(p) + " is in the table's page map but is not one of its data pages");
        }
        for (std::uint32_t p : mapMembers(src_, t.freeMap))
            if (!ownedSet.contains(p))
                add(CheckFinding::Kind::Structure, name,
                    "page " + std::to_string(p) + " is in the free-space map but not in the page map");
        for (const LvMaps& lv : t.lvMaps) {
            useMap(lv.owned, name);
            useMap(lv.free, name);
            for (std::uint32_t p : mapMembers(src_, lv.owned)) {
                use(p, name);
                auto pg = src_.page(p);
                if (pg[0] != 0x01 || std::memcmp(&pg[4], "LVAL", 4) != 0)
                    add(CheckFinding::Kind::Structure, name,
                        "page " + std::to_string(p) + " is in a long-value map but is not a long-value page");
            }
        }
        // Rows.
        std::vector<std::pair<std::uint32_t, std::vector<RawCell>>> rows;
        forEachRow(src_, t, [&](const RowRef& r) {
            try {
                rows.emplace_back(r.page << 8 | r.slot, decodeRow(src_, t, r.bytes, true));
            } catch (const Error& e) {
                add(CheckFinding::Kind::Structure, name,
                    "row " + std::to_string(r.slot) + " of page " + std::to_string(r.page) + ": " + e.what());
            }
        });
        report.rows += rows.size();
        if (rows.size() != t.rowCount)
            add(CheckFinding::Kind::Count, name,
                "stored row count " + std::to_string(t.rowCount) + ", scan finds " + std::to_string(rows.size()));
        for (std::size_t i = 0; i < t.indexes.size(); ++i)
            guard(name, [&] { checkIndex(t, i, name, rows); });
    }

    // Walks one index: structure, order, node entries, keys against rows, counts.
    void checkIndex(const Table& t, std::size_t which, const std::string& name,
                    const std::vector<std::pair<std::uint32_t, std::vector<RawCell>>>& rows)
    {
        const RealIndex& ix = t.indexes[which];
        const std::string where = name + " index #" + std::to_string(which);
        useMap(ix.mapPtr, where);
        const std::vector<std::uint32_t> members = mapMembers(src_, ix.mapPtr);
        const std::set<std::uint32_t> memberSet(members.begin(), members.end());
        for (std::uint32_t p : members)
            use(p, where);
        std::vector<std::vector<std::uint8_t>> leafEntries;
        std::unordered_set<std::uint32_t> seen;
        // Returns the maximum entry of the subtree.
        std::function<std::vector<std::uint8_t>(std::uint32_t, int)> walk = [&](std::uint32_t pg, int depth) {
            std::vector<std::uint8_t> maxEntry;
            if (depth > 32 || !seen.insert(pg).second) {
                add(CheckFinding::Kind::Index, where, "index pages loop at page " + std::to_string(pg));
                return maxEntry;
            }
            use(pg, where);
            if (!memberSet.contains(pg))
                add(CheckFinding::Kind::Index, where, "page " + std::to_string(pg) + " is not in the index's page map");
            const IndexPage ip = readIndexPage(src_, pg);
            if (ip.tdef != t.tdefPage)
                add(CheckFinding::Kind::Index, where, "page " + std::to_string(pg) + " names another table");
            for (std::size_t i = 1; i < ip.entries.size(); ++i)
                if (cmp(ip.entries[i - 1].bytes, ip.entries[i].bytes) >= 0)
                    add(CheckFinding::Kind::Index, where,
                        "entries out of order on page " + std::to_string(pg) + " at entry " + std::to_string(i));
            if (ip.leaf()) {
                for (const auto& e : ip.entries)
                    leafEntries.push_back(e.bytes);
                return ip.entries.empty() ? maxEntry : ip.entries.back().bytes;
            }
            for (const auto& e : ip.entries) {
                const auto childMax = walk(e.child, depth + 1);
                if (childMax != e.bytes)
                    add(CheckFinding::Kind::Index, where,
                        "node entry on page " + std::to_string(pg) + " for child " + std::to_string(e.child) +
                            " is not the child's last entry");
            }
            if (ip.tail == 0) {
                add(CheckFinding::Kind::Index, where, "node page " + std::to_string(pg) + " has no tail child");
                return maxEntry;
            }
            return walk(ip.tail, depth + 1);
        };
        walk(ix.root, 0);
        for (std::size_t i = 1; i < leafEntries.size(); ++i)
            if (cmp(leafEntries[i - 1], leafEntries[i]) >= 0) {
                add(CheckFinding::Kind::Index, where, "entries out of order across leaves at entry " + std::to_string(i));
                break;
            }
        // Keys against rows.
        bool keyable = true;
        for (auto [num, asc] : ix.columns) {
            const Col* c = t.columnByNumber(num);
            if (!c || !(c->type <= 0x0A || c->type == 0x0C || c->type == 0x0F || c->type == 0x13 || c->type == 0x14))
                keyable = false;
        }
        if (!keyable)
            return;
        std::vector<std::vector<std::uint8_t>> expected;
        for (const auto& [ptr, cells] : rows) {
            std::vector<std::uint8_t> key;
            try {
                key = indexKey(t, ix, cells);
            } catch (const Error&) {
                ++report.unkeyedIndexes;
                return;  // a character or type we cannot key: no verdict on this index
            }
            if (ix.flags & 0x02) {
                // An ignore-nulls index leaves out rows whose key columns are all Null.
                bool allNull = true;
                for (auto [num, asc] : ix.columns)
                    if (num < cells.size() && cells[num].present)
                        allNull = false;
                if (allNull)
                    continue;
            }
            key.push_back(static_cast<std::uint8_t>(ptr >> 24));
            key.push_back(static_cast<std::uint8_t>(ptr >> 16));
            key.push_back(static_cast<std::uint8_t>(ptr >> 8));
            key.push_back(static_cast<std::uint8_t>(ptr));
            expected.push_back(std::move(key));
        }
        std::sort(expected.begin(), expected.end(), [](const auto& a, const auto& b) { return cmp(a, b) < 0; });
        std::vector<std::vector<std::uint8_t>> actual = leafEntries;
        std::sort(actual.begin(), actual.end(), [](const auto& a, const auto& b) { return cmp(a, b) < 0; });
        std::vector<std::vector<std::uint8_t>> missing, extra;
        std::set_difference(expected.begin(), expected.end(), actual.begin(), actual.end(), std::back_inserter(missing),
                            [](const auto& a, const auto& b) { return cmp(a, b) < 0; });
        std::set_difference(actual.begin(), actual.end(), expected.begin(), expected.end(), std::back_inserter(extra),
                            [](const auto& a, const auto& b) { return cmp(a, b) < 0; });
        for (std::size_t i = 0; i < missing.size() && i < 5; ++i)
            add(CheckFinding::Kind::Index, where,
                "no entry for the row at " + std::to_string(entryPointer(missing[i]) >> 8) + "/" +
                    std::to_string(entryPointer(missing[i]) & 0xFF) + " (expected key " + hex(missing[i]) + ")");
        report.indexEntries += expected.size() - missing.size();
        for (std::size_t i = 0; i < extra.size() && i < 5; ++i)
            add(CheckFinding::Kind::Index, where, "entry " + hex(extra[i]) + " matches no row");
        if (opt_.statistics) {
            std::size_t distinct = 0;
            for (std::size_t i = 0; i < expected.size(); ++i)
                if (i == 0 || expected[i].size() != expected[i - 1].size() ||
                    std::memcmp(expected[i].data(), expected[i - 1].data(), expected[i].size() - 4) != 0)
                    ++distinct;
            auto head = src_.page(t.tdefPage);
            const std::uint32_t stored = rd32(&head[ix.counterOffset + 4]);
            if (stored != distinct)
                add(CheckFinding::Kind::Statistic, where,
                    "unique-key counter " + std::to_string(stored) + ", index holds " + std::to_string(distinct));
        }
    }

    void checkFreeMap()
    {
        const Layout& l = layoutOf(src_);
        auto p = src_.page(1);
        const unsigned start = rd16(&p[l.rowTable]) & 0x1FFF;
        const std::uint8_t* row = &p[start];
        if (row[0] != 0x00) {
            add(CheckFinding::Kind::FreeMap, "page 1", "the free-page map is a reference map; not checked");
            return;
        }
        const std::uint32_t base = rd32(row + 1);
        const std::size_t bits = (l.page - start - 5) * 8;
        for (std::uint32_t pg : used_) {
            if (pg < base || pg - base >= bits) {
                if (pg >= base + bits)
                    add(CheckFinding::Kind::FreeMap, "page 1",
                        "page " + std::to_string(pg) + " is in use but lies beyond the free-page map");
                continue;
            }
            if (row[5 + (pg - base) / 8] >> ((pg - base) % 8) & 1)
                add(CheckFinding::Kind::FreeMap, "page 1",
                    "page " + std::to_string(pg) + " is in use but marked free");
        }
        if (opt_.leaks)
            for (std::uint32_t pg = 0; pg < src_.pageCount(); ++pg) {
                if (used_.contains(pg) || pg < base || pg - base >= bits)
                    continue;
                if (!(row[5 + (pg - base) / 8] >> ((pg - base) % 8) & 1))
                    add(CheckFinding::Kind::FreeMap, "page 1",
                        "page " + std::to_string(pg) + " is marked in use but nothing references it");
            }
    }

    PageSource& src_;
    CheckOptions opt_;
    std::set<std::uint32_t> used_;
    std::vector<CheckFinding> findings_;
};

}  // namespace

std::vector<CheckFinding> checkFile(const std::string& path, const CheckOptions& options)
{
    return checkFileReport(path, options).findings;
}

CheckReport checkFileReport(const std::string& path, const CheckOptions& options)
{
    auto io = openPosixFile(path, false);
    std::uint8_t head[0x100] = {};
    if (io->size() < 3 * 2048)
        throwError(err::Corrupt, "Unrecognized database format '" + path + "'.");
    io->read(0, head, sizeof head);
    const bool jet3 = head[0x14] == 0;  // Access 97: 2 KiB pages
    const std::uint8_t mkey[4] = {0xC7, 0xDA, 0x39, 0x6B};
    rc4Apply(mkey, 4, head + 0x18, jet3 ? 126 : 128);
    const std::uint32_t dbKey = rd32(head + 0x3E);
    // An encrypted .accdb is checked through its page codec (3031 for a wrong or missing password).
    std::unique_ptr<PageCodec> codec;
    if (head[0x14] >= 2 && dbKey != 0) {
        std::vector<std::uint8_t> page0(kPage);
        io->read(0, page0.data(), kPage);
        rc4Apply(mkey, 4, page0.data() + 0x18, 128);
        codec = makePageCodecForVersion(page0, head[0x14], options.password, path);
    }
    PageCache cache(std::move(io), jet3 ? 2048 : kPage, path, head[0x14] <= 1 ? dbKey : 0);
    if (codec)
        cache.setCodec(std::move(codec));
    Checker c(cache, options);
    auto findings = c.run();
    CheckReport r = std::move(c.report);
    r.findings = std::move(findings);
    return r;
}

std::string describe(const CheckFinding& f)
{
    static const char* kinds[] = {"structure", "index", "count", "statistic", "free map"};
    return std::string(kinds[static_cast<int>(f.kind)]) + ": " + f.where + ": " + f.what;
}

}  // namespace jet
