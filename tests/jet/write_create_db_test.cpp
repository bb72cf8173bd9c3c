// New databases written from scratch, in every format: our reader, mdbtools and mdb-reader open them, the
// checker (with exact counters and page accounting) finds nothing, and a script of statements works in them.
#include "jet/check.h"
#include "jet/create_db.h"
#include "jet/database.h"
#include "jet/error.h"
#include "jet/statement.h"
#include "write_test_util.h"

#include <gtest/gtest.h>

namespace {

struct FormatCase {
    const char* name;
    const char* ext;
    const char* mdbVer;
    int versionByte;
    int sortVersion;
};

int errorOf(const std::string& path, const char* format)
{
    try {
        jet::createDatabase(path, jet::parseNewFormat(format));
    } catch (const jet::Error& e) {
        return e.number();
    }
    return 0;
}

class CreateDb : public ::testing::TestWithParam<FormatCase> {};

TEST_P(CreateDb, OpensEverywhereAndTakesStatements)
{
    const FormatCase& c = GetParam();
    wt::TempDir tmp;
    const std::string path = (tmp.path() / (std::string("new.") + c.ext)).string();
    jet::createDatabase(path, jet::parseNewFormat(c.name));
    EXPECT_EQ(errorOf(path, c.name), 3204) << "an existing file is never overwritten";

    std::string head = wt::slurp(path).substr(0, 0x100);
    EXPECT_EQ(static_cast<int>(static_cast<unsigned char>(head[0x14])), c.versionByte);
    const std::uint8_t mask[4] = {0xC7, 0xDA, 0x39, 0x6B};
    jet::rc4Apply(mask, 4, reinterpret_cast<std::uint8_t*>(head.data()) + 0x18, 128);
    EXPECT_EQ(static_cast<int>(static_cast<unsigned char>(head[0x71])), c.sortVersion);
    EXPECT_EQ(std::filesystem::file_size(path) % 4096, 0u);

    jet::CheckOptions strict;
    strict.statistics = true;
    strict.leaks = true;
    for (const auto& f : jet::checkFile(path, strict))
        ADD_FAILURE() << jet::describe(f);

    // Our reader: the four engine tables, no user tables, the General / General Legacy sort order.
    {
        auto db = jet::Database::open(path);
        EXPECT_TRUE(db->userTableNames().empty());
        for (const char* sys : {"MSysObjects", "MSysACEs", "MSysQueries", "MSysRelationships"})
            EXPECT_NO_THROW(db->openTable(sys)) << sys;
        EXPECT_EQ(db->sortOrder(), 0x0409);
    }
    int st = 0;
    const std::string ver = wt::run("mdb-ver " + wt::shellQuote(path) + " 2>&1", st);
    if (st == 0) {
        EXPECT_EQ(ver.substr(0, ver.find('\n')), c.mdbVer);
    }

    // A script through a session, then every reader again.
    {
        auto s = jet::Session::open(path);
        const auto r = s->executeScript(
            "CREATE TABLE `Kunden`(`Nr` INT,`Name` VARCHAR,`Notiz` MEMO,`Seit` DATETIME);"
            "INSERT INTO `Kunden` VALUES('1', 'Müller; Söhne', '" + std::string(3000, 'x') + "', '2024-01-31');"
            "INSERT INTO `Kunden` VALUES('2', 'O''Brien', NULL, NULL);"
            "INSERT INTO `Kunden` VALUES('drei', NULL, NULL, NULL);"  // fails: not a number
            "INSERT INTO `Kunden` VALUES('4', NULL, NULL, NULL)",
            true);
        EXPECT_EQ(r.ran, 5);
        EXPECT_EQ(r.failed, 1);
        ASSERT_EQ(r.errors.size(), 1u);
        EXPECT_NE(r.errors[0].find("3464"), std::string::npos) << r.errors[0];
    }
    for (const auto& f : jet::checkFile(path, strict))
        ADD_FAILURE() << jet::describe(f);
    {
        auto db = jet::Database::open(path);
        ASSERT_EQ(db->userTableNames(), std::vector<std::string>{"Kunden"});
        EXPECT_EQ(db->openTable("kunden")->countRows(), 3u);
    }
    const std::string json = wt::run("mdb-json " + wt::shellQuote(path) + " Kunden 2>/dev/null", st);
    if (st == 0) {
        EXPECT_NE(json.find("Müller; Söhne"), std::string::npos) << json.substr(0, 300);
        EXPECT_NE(json.find("O'Brien"), std::string::npos);
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, CreateDb,
                         ::testing::Values(FormatCase{"jet4", "mdb", "JET4", 1, 0},
                                           FormatCase{"ace12", "accdb", "ACE12", 2, 0},
                                           FormatCase{"ace14", "accdb", "ACE14", 3, 1},
                                           FormatCase{"ACE16", "accdb", "ACE16", 5, 1},
                                           FormatCase{"ace17", "accdb", "ACE17", 6, 1}),
                         [](const ::testing::TestParamInfo<FormatCase>& i) { return std::string(i.param.name); });

TEST(CreateDbNames, UnknownFormatIsRefused)
{
    EXPECT_THROW(jet::parseNewFormat("jet5"), jet::Error);
    EXPECT_THROW(jet::parseNewFormat("ace15"), jet::Error);
}

}  // namespace
