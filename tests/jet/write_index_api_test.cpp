// The index API of the engine (WriterImpl::addIndex / dropIndex) as the relationship statements use it, below
// the SQL: relationship indexes with every stored field, sharing of real indexes, freeing on drop.
#include "jet/check.h"
#include "jet/create_db.h"
#include "jet/writer.h"
#include "jet/writer_impl.h"
#include "write_test_util.h"

#include <gtest/gtest.h>

namespace {

std::vector<std::string> findings(const std::string& path)
{
    jet::CheckOptions o;
    o.statistics = true;
    o.leaks = true;
    std::vector<std::string> out;
    for (const auto& f : jet::checkFile(path, o))
        out.push_back(jet::describe(f));
    return out;
}

// The engine's API as the relationship statements use it: a relationship's index on the referenced side
// shares the primary key's real index, the one on the other side gets its own, every stored field of theirs
// survives later rewrites of the definition, and dropping them frees only what no other index uses.
TEST(WriteIndex, RelationshipIndexesThroughTheEngine)
{
    for (const auto format : {jet::NewFormat::Jet3, jet::NewFormat::Jet4, jet::NewFormat::Ace17}) {
        wt::TempDir dir;
        const std::string path = (dir.path() / "rel.db").string();
        jet::createDatabase(path, format);
        {
            auto w = jet::Writer::open(path);
            w->execute("CREATE TABLE parent (id LONG PRIMARY KEY, name TEXT(20))");
            w->execute("CREATE TABLE child (cid COUNTER, pid LONG, note TEXT(20))");
            for (int i = 0; i < 300; ++i) {
                w->execute("INSERT INTO parent VALUES (" + std::to_string(i) + ", 'p" + std::to_string(i) + "')");
                w->execute("INSERT INTO child (pid, note) VALUES (" + std::to_string(i % 37) + ", 'c')");
            }
            w->close();
        }
        std::uint32_t parentPage = 0, childPage = 0;
        {
            auto w = jet::Writer::open(path);
            w->change([&](jet::RowEditor& ed) {
                parentPage = ed.tablePage("parent");
                childPage = ed.tablePage("child");
            });
        }
        const std::uint32_t pageSize = format == jet::NewFormat::Jet3 ? 2048 : 4096;
        jet::PageCache cache(jet::openPosixFile(path), pageSize, path);
        jet::WriterImpl wi;
        wi.external = &cache;
        wi.version = format == jet::NewFormat::Jet3 ? 0 : (format == jet::NewFormat::Jet4 ? 1 : 6);
        cache.begin();
        wi.loadCatalog();
        jet::Table& parent = wi.table(parentPage);
        jet::Table& child = wi.table(childPage);
        ASSERT_EQ(parent.indexes.size(), 1u);
        jet::NewIndex one;
        one.name = u".rB";
        one.columns = {{0, true}};
        one.flags = 0x09;
        one.kind = 2;
        one.relatedTdef = childPage;
        one.relatedIndex = 0;
        one.relTableType = 1;
        one.cascadeUpdates = 1;
        const std::uint32_t oneNumber = wi.addIndex(parent, one);
        EXPECT_EQ(oneNumber, 1u);
        EXPECT_EQ(parent.indexes.size(), 1u) << "the relationship did not share the key's real index";
        jet::NewIndex many = one;
        many.name = u"parentchild";
        many.columns = {{1, true}};
        many.flags = 0;
        many.relatedTdef = parentPage;
        many.relatedIndex = oneNumber;
        many.relTableType = 2;
        many.cascadeUpdates = 0;
        many.cascadeDeletes = 1;
        const std::uint32_t manyNumber = wi.addIndex(child, many);
        EXPECT_EQ(child.indexes.size(), 1u);
        // A later index rewrites both definitions: the relationship fields stay as they were.
        jet::NewIndex plain;
        plain.name = u"byName";
        plain.columns = {{1, false}};
        wi.addIndex(parent, plain);
        plain.columns = {{2, true}, {1, true}};
        wi.addIndex(child, plain);
        cache.commit();
        {
            jet::PageCache again(jet::openPosixFile(path, false), pageSize, path);
            const jet::Table p = jet::w::readTable(again, parentPage), c = jet::w::readTable(again, childPage);
            auto find = [](const jet::Table& t, std::u16string_view n) {
                return *std::find_if(t.logical.begin(), t.logical.end(), [&](const auto& li) { return li.name == n; });
            };
            const jet::w::LogicalIndex a = find(p, u".rB"), b = find(c, u"parentchild");
            EXPECT_EQ(a.number, oneNumber);
            EXPECT_EQ(a.kind, 2);
            EXPECT_EQ(a.relatedTdef, childPage);
            EXPECT_EQ(a.relatedIndex, 0u);
            EXPECT_EQ(a.relTableType, 1);
            EXPECT_EQ(a.cascadeUpdates, 1);
            EXPECT_EQ(a.realIndex, find(p, u"PrimaryKey").realIndex);
            EXPECT_EQ(b.number, manyNumber);
            EXPECT_EQ(b.relatedTdef, parentPage);
            EXPECT_EQ(b.relatedIndex, oneNumber);
            EXPECT_EQ(b.relTableType, 2);
            EXPECT_EQ(b.cascadeDeletes, 1);
            EXPECT_EQ(c.indexes.at(b.realIndex).columns, (std::vector<std::pair<std::uint16_t, bool>>{{1, true}}));
        }
        EXPECT_EQ(findings(path), std::vector<std::string>{});
        // Dropped again: the key keeps its real index, the other side's goes with its pages.
        cache.begin();
        wi.tables.clear();
        jet::Table& p2 = wi.table(parentPage);
        jet::Table& c2 = wi.table(childPage);
        wi.dropIndex(p2, oneNumber);
        wi.dropIndex(c2, manyNumber);
        EXPECT_EQ(p2.indexes.size(), 2u);
        EXPECT_EQ(c2.indexes.size(), 1u);
        cache.commit();
        EXPECT_EQ(findings(path), std::vector<std::string>{});
        jet::PageCache last(jet::openPosixFile(path, false), pageSize, path);
        EXPECT_EQ(jet::w::readTable(last, parentPage).logical.size(), 2u);
    }
}

}  // namespace
