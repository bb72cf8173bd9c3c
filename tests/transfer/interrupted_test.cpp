// The program ends in the middle of a transfer (the window was closed while
// it processed events): neither database is damaged. The transfer runs in a
// child process that ends at once from inside the event processing, as the
// page's close handler ends the program.
#include <gtest/gtest.h>

#include <cstdio>
#include <sys/wait.h>
#include <unistd.h>

#include "jet/check.h"
#include "page.h"
#include "transfer/transfer.h"

namespace {

// Runs the transfer in a child that ends abruptly at its `events`th event processing.
template <class Transfer>
void endAbruptly(Page& page, int events, Transfer transfer) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        int seen = 0;
        page.dialogs.onEvents = [&] {
            if (++seen == events) ::_exit(0);
        };
        auto context = page.context();
        transfer(context);
        ::_exit(3); // the transfer was over before the program could end it
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0) << "the transfer ended before the program did";
}

constexpr int kRows = 40000;
// Sending to Access has to outlast the first few event rounds (50 ms apart)
// by far, however fast the machine writes.
constexpr int kRowsToAccess = 400000;

TEST(Interrupted, AccessFileStaysSoundWhenTheProgramEndsDuringItsRows) {
    REQUIRE_POSTGRES();
    env::ownSchema("qm_interrupted");
    env::TempDir dir;
    const std::string file = dir.copy("jackcess/templates/empty.mdb", "target.mdb");
    {
        auto pg = env::Session::postgres();
        pg.exec("DROP TABLE IF EXISTS cut");
        pg.exec("CREATE TABLE cut(id int, note text)");
        pg.exec("INSERT INTO cut SELECT i, 'note ' || i FROM generate_series(1, " + std::to_string(kRowsToAccess) + ") i");
    }
    Page page(file);
    page.postgres.addItem("cut");
    page.postgres.select({"cut"});
    endAbruptly(page, 4, [](app::TableManagerContext& c) { transfer::sendTablesToAccess(c); });

    for (const auto& f : jet::checkFile(file)) ADD_FAILURE() << jet::describe(f);
    const env::Rows rows = env::Session::access(file).rows("SELECT * FROM `cut`");
    EXPECT_GT(rows.size(), 0u);
    EXPECT_LT(rows.size(), std::size_t(kRowsToAccess));
    std::printf("Access file holds %zu of %d rows\n", rows.size(), kRowsToAccess);
    for (const auto& r : rows) ASSERT_EQ(r.at(1), "note " + r.at(0)); // every row whole
}

TEST(Interrupted, ServerKeepsOnlyWholeBatchesWhenTheProgramEndsDuringACopy) {
    REQUIRE_POSTGRES();
    env::ownSchema("qm_interrupted");
    env::TempDir dir;
    const std::string file = dir.copy("jackcess/templates/empty.mdb", "source.mdb");
    {
        auto a = env::Session::access(file);
        a.exec("CREATE TABLE `cut`(`id` INT, `note` VARCHAR(20))");
        for (int i = 1; i <= kRows; ++i)
            a.exec("INSERT INTO `cut` VALUES(" + std::to_string(i) + ", 'note " + std::to_string(i) + "')");
        auto pg = env::Session::postgres();
        pg.exec("DROP TABLE IF EXISTS cut");
    }
    transfer::setCopyLimits({.batchRows = 1000, .chunkBytes = 4096});
    Page page(file);
    page.access.addItem("cut");
    page.access.select({"cut"});
    endAbruptly(page, 3, [](app::TableManagerContext& c) { transfer::sendTablesToPostgreSQL(c); });
    transfer::setCopyLimits({});

    auto pg = env::Session::postgres();
    const env::Rows count = pg.rows("SELECT count(*), count(*) FILTER (WHERE note = 'note ' || id) FROM cut");
    const long rows = std::stol(count.at(0).at(0));
    EXPECT_GT(rows, 0);
    EXPECT_LT(rows, kRows);
    std::printf("server holds %ld of %d rows\n", rows, kRows);
    EXPECT_EQ(rows % 1000, 0) << "only whole batches";
    EXPECT_EQ(count.at(0).at(1), count.at(0).at(0));
}

} // namespace
