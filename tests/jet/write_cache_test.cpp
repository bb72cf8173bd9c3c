// The writer's page cache stays within its budget between statements, however large the file grows: pages
// given back are read (and decoded) again when wanted, and the file comes out the same as if every page had
// stayed in memory. Small budgets keep the files small enough for a quick test.
#include "write_test_util.h"

#include "jet/check.h"
#include "jet/database.h"
#include "jet/error.h"
#include "jet/writer.h"

#include <gtest/gtest.h>

#include "failing_file.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

namespace {

using Rows = std::vector<std::vector<std::string>>;

std::string noteFor(int i)
{
    // Every 50th note needs long-value pages of its own, the others share them or stay in the row.
    return "note " + std::to_string(i) + " " +
           std::string(static_cast<std::size_t>(i % 50 == 0 ? 5000 : 10 + i % 90), static_cast<char>('a' + i % 26));
}

std::vector<std::string> rowFor(int i)
{
    return {std::to_string(i), "name " + std::to_string(i % 9973), noteFor(i), std::to_string(i) + ".5"};
}

std::string insertFor(const std::string& table, int i)
{
    const auto r = rowFor(i);
    return "INSERT INTO [" + table + "] VALUES (" + r[0] + ", '" + r[1] + "', '" + r[2] + "', " + r[3] + ")";
}

// A table's rows as text through the reading engine, ordered by the first (numeric) column.
Rows rowsOf(const jet::Database& db, const std::string& table)
{
    auto t = db.openTable(table);
    Rows rows;
    while (t->next()) {
        std::vector<std::string> row;
        for (std::size_t c = 0; c < t->columns().size(); ++c)
            row.push_back(jet::toText(t->value(c)));
        rows.push_back(std::move(row));
    }
    std::sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) { return std::stol(a[0]) < std::stol(b[0]); });
    return rows;
}

Rows expectedRows(int from, int to)
{
    Rows rows;
    for (int i = from; i < to; ++i)
        rows.push_back(rowFor(i));
    return rows;
}

std::unique_ptr<jet::Writer> openWriter(const std::string& path, const std::string& password,
                                        std::unique_ptr<jet::FileIo> io = nullptr)
{
    jet::WriterOptions o;
    o.password = password;
    o.io = std::move(io);
    return jet::Writer::open(path, std::move(o));
}

struct CacheCase {
    const char* file;
    const char* password;
    int rows;
    std::size_t budget;
};

void PrintTo(const CacheCase& c, std::ostream* os) { *os << c.file << ", budget " << c.budget; }

class BoundedCache : public testing::TestWithParam<CacheCase> {};

// Rows go in one statement each, then the whole table is copied in one statement that by itself needs more pages
// than the budget. After every statement the cache holds no more than the budget, and the file reads back whole.
TEST_P(BoundedCache, StaysWithinItsBudgetAndTheFileReadsBack)
{
    const CacheCase& c = GetParam();
    wt::TempDir tmp;
    const std::string path = tmp.copy(c.file);
    std::size_t mostResident = 0;
    {
        auto w = openWriter(path, c.password);
        jet::PageCache& cache = w->pages();
        cache.setBudget(c.budget);
        w->execute("CREATE TABLE [Big] (id LONG, name TEXT(60), note MEMO, v DOUBLE)");
        for (int i = 0; i < c.rows; ++i) {
            w->execute(insertFor("Big", i));
            mostResident = std::max(mostResident, cache.residentPages());
        }
        const std::uint32_t pagesBeforeCopy = cache.pageCount();
        const std::uint64_t readsBeforeCopy = cache.pagesRead();
        w->execute("SELECT a1.* INTO [Big copy] FROM [Big] AS a1");
        EXPECT_GT(cache.pageCount() - pagesBeforeCopy, c.budget);  // the copy's own pages did not fit the budget
        // The table's pages, long given back, were read again for the copy.
        EXPECT_GT(cache.pagesRead() - readsBeforeCopy, pagesBeforeCopy / 2);
        mostResident = std::max(mostResident, cache.residentPages());
        w->close();
    }
    EXPECT_LE(mostResident, std::max<std::size_t>(c.budget, 3));  // pages 0, 1 and 2 always stay
    EXPECT_GE(std::filesystem::file_size(path), 4 * 4096 * std::max<std::size_t>(c.budget, 64));
    if (std::string(c.password).empty())
        for (const auto& f : jet::checkFile(path))
            ADD_FAILURE() << jet::describe(f);
    auto db = jet::Database::open(path, {.password = c.password});
    const Rows expected = expectedRows(0, c.rows);
    EXPECT_EQ(rowsOf(*db, "Big"), expected);
    EXPECT_EQ(rowsOf(*db, "Big copy"), expected);
}

INSTANTIATE_TEST_SUITE_P(Files, BoundedCache,
                         testing::Values(CacheCase{"jackcess/templates/empty2003.mdb", "", 50000, 256},
                                         CacheCase{"jackcess/templates/empty2003.mdb", "", 4000, 0},
                                         CacheCase{"jackcess/templates/empty2010.accdb", "", 15000, 64},
                                         CacheCase{"jackcess-encrypt/db-enc.mdb", "", 15000, 64},
                                         CacheCase{"mdb-reader/encryption/office-agile-4.4.accdb", "password",
                                                   10000, 64}),
                         [](const testing::TestParamInfo<CacheCase>& info) {
                             std::string name = std::filesystem::path(info.param.file).stem().string() + "_budget" +
                                                std::to_string(info.param.budget);
                             std::replace_if(
                                 name.begin(), name.end(), [](unsigned char ch) { return !std::isalnum(ch); }, '_');
                             return name;
                         });

// With pages given back after every statement, a statement that fails at any of its writes still leaves the file
// as it was, and the same writer carries on from there (reading the pages it gave back again).
TEST(BoundedCache, AFailedWriteAfterPagesWereGivenBackLeavesTheFileUnchanged)
{
    wt::TempDir tmp;
    const std::string path = tmp.copy("jackcess/templates/empty2003.mdb");
    std::vector<int> ids;
    {
        auto w = openWriter(path, "");
        w->execute("CREATE TABLE [Big] (id LONG, name TEXT(60), note MEMO, v DOUBLE)");
        for (int i = 0; i < 400; ++i) {
            w->execute(insertFor("Big", i));
            ids.push_back(i);
        }
    }
    // Row 450 has a long note: new long-value pages, the data page, both usage maps, the TDEF, page 1.
    const int failing = 450;
    int k = 1;
    for (;; ++k) {
        SCOPED_TRACE("failing write " + std::to_string(k));
        int countdown = 0, writes = 0;
        auto w = openWriter(path, "", std::make_unique<FailingFile>(jet::openPosixFile(path), &countdown, &writes));
        w->pages().setBudget(0);
        w->execute(insertFor("Big", 1000 + 2 * k));  // commits; then every page but 0, 1 and 2 is given back
        ids.push_back(1000 + 2 * k);
        const std::string before = wt::slurp(path);
        countdown = k;
        try {
            w->execute(insertFor("Big", failing));
        } catch (const jet::Error& e) {
            EXPECT_EQ(e.number(), 3043);
            ASSERT_EQ(wt::slurp(path), before);
            countdown = 0;
            w->execute(insertFor("Big", 1001 + 2 * k));
            ids.push_back(1001 + 2 * k);
            EXPECT_LE(w->pages().residentPages(), 3u);
            continue;
        }
        // The statement needed fewer than k writes: it went through.
        countdown = 0;
        ids.push_back(failing);
        w->close();
        break;
    }
    EXPECT_GT(k, 4);  // the statement has several writes, each of which failed once
    for (const auto& f : jet::checkFile(path))
        ADD_FAILURE() << jet::describe(f);
    Rows expected;
    std::sort(ids.begin(), ids.end());
    for (int i : ids)
        expected.push_back(rowFor(i));
    EXPECT_EQ(rowsOf(*jet::Database::open(path), "Big"), expected);
}

}  // namespace
