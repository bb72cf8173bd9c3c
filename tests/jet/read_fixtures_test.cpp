// Every real Access file of the shared fixtures is read and its canonical JSON dump
// compared with expected/<file>.json (written by an independent reader):
//   1. byte for byte; failing that
//   2. per table, the header line equal and the row lines equal as a multiset; failing that
//   3. compare_dumps.py (the fixtures' own rules) when python3 is there.
// One documented disagreement is checked explicitly instead (see kCp1252Undefined).

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "jet/database.h"
#include "jet/dump.h"
#include "jet/error.h"

namespace {

namespace fs = std::filesystem;

const std::string kFixtures = QM_ACCESS_FIXTURES;

struct FixtureFile {
    std::string file, format, password;
    int userTables = 0;
    long rows = 0;
};

void PrintTo(const FixtureFile& f, std::ostream* os) { *os << f.file; }

std::vector<FixtureFile> readFileList() {
    std::vector<FixtureFile> out;
    std::ifstream in(kFixtures + "/files.tsv");
    std::string line;
    std::getline(in, line); // header
    while (std::getline(in, line)) {
        if (line.empty()) continue;
        std::vector<std::string> f;
        std::size_t start = 0;
        for (;;) {
            auto tab = line.find('\t', start);
            f.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
            if (tab == std::string::npos) break;
            start = tab + 1;
        }
        f.resize(5);
        out.push_back({f[0], f[1], f[2], std::atoi(f[3].c_str()), std::atol(f[4].c_str())});
    }
    return out;
}

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

std::vector<std::string> lines(const std::string& s) {
    std::vector<std::string> out;
    std::istringstream in(s);
    std::string l;
    while (std::getline(in, l)) out.push_back(l);
    return out;
}

// Splits a canonical dump into tables: header line -> sorted row lines (the trailing
// ',' of a row line removed so that the last row compares like the others).
std::map<std::string, std::vector<std::string>> tablesOf(const std::string& dump) {
    std::map<std::string, std::vector<std::string>> t;
    std::string current;
    for (auto& l : lines(dump)) {
        if (l.rfind("{\"name\":", 0) == 0) {
            current = l;
            t[current];
        } else if (!current.empty() && !l.empty() && l[0] == '[') {
            if (l.back() == ',') l.pop_back();
            t[current].push_back(l);
        }
    }
    for (auto& [k, v] : t) std::sort(v.begin(), v.end());
    return t;
}

// Jet 3 text is in code page 1252. Five byte values (0x81 0x8D 0x8F 0x90 0x9D) have no
// character in that code page. Windows (MultiByteToWideChar, what the Access engine
// hands to ADO) maps them to the C1 controls U+0081 ... U+009D, which keeps the bytes;
// the reader that wrote the expected files (Java's windows-1252) turns them into
// U+FFFD. We keep the bytes. Only testIndexCodesV1997.mdb has such text; there the
// test checks that these characters are the only difference.
bool equalUpToCp1252Undefined(const std::string& expected, const std::string& actual) {
    static const char* kUndefined[] = {"\xc2\x81", "\xc2\x8d", "\xc2\x8f", "\xc2\x90", "\xc2\x9d"};
    const std::string replacement = "\xef\xbf\xbd";
    std::string norm = actual;
    for (const char* u : kUndefined) {
        for (std::size_t p = norm.find(u); p != std::string::npos; p = norm.find(u, p + 3)) norm.replace(p, 2, replacement);
    }
    return norm == expected;
}

std::string sanitize(std::string s) {
    for (char& c : s)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return s;
}

class FixtureDump : public ::testing::TestWithParam<FixtureFile> {};

TEST_P(FixtureDump, MatchesExpected) {
    const FixtureFile& f = GetParam();
    const std::string path = kFixtures + "/files/" + f.file;
    const std::string expectedPath = kFixtures + "/expected/" + f.file + ".json";
    ASSERT_TRUE(fs::exists(path)) << path;
    ASSERT_TRUE(fs::exists(expectedPath)) << expectedPath;

    std::unique_ptr<jet::Database> db;
    try {
        db = jet::Database::open(path, {.password = f.password});
    } catch (const jet::Error& e) {
        FAIL() << f.file << ": error " << e.number() << " " << e.what();
    }
    EXPECT_STREQ(jet::formatName(db->format()), f.format.c_str());
    EXPECT_EQ(static_cast<int>(db->userTableNames().size()), f.userTables);

    std::ostringstream out;
    auto result = jet::dump(*db, out);
    EXPECT_EQ(result.tablesFailed, 0);
    for (const auto& m : result.messages) ADD_FAILURE() << m;
    EXPECT_EQ(static_cast<long>(result.rowsWritten), f.rows) << "rows written";

    const std::string actual = out.str();
    const std::string expected = slurp(expectedPath);
    if (actual == expected) return;

    if (f.file == "jackcess/V1997/testIndexCodesV1997.mdb" && equalUpToCp1252Undefined(expected, actual)) {
        RecordProperty("note", "expected file has U+FFFD for cp1252 bytes 81 8D 8F 90 9D; we keep U+0081..U+009D");
        return;
    }
    if (tablesOf(actual) == tablesOf(expected)) return; // same rows, another order

    // Last resort: the fixtures' own comparison rules (markers, key matching).
    const fs::path tmp = fs::temp_directory_path() / ("jet_fixture_" + sanitize(f.file) + ".json");
    std::ofstream(tmp, std::ios::binary) << actual;
    const std::string cmd = "python3 '" + kFixtures + "/../../tools/compare_dumps.py' '" + expectedPath + "' '" +
                            tmp.string() + "' > '" + tmp.string() + ".diff' 2>&1";
    int rc = std::system(cmd.c_str());
    std::string diff = slurp(tmp.string() + ".diff");
    fs::remove(tmp);
    fs::remove(tmp.string() + ".diff");
    EXPECT_EQ(rc, 0) << f.file << " differs from the expected dump:\n" << diff.substr(0, 4000);
}

INSTANTIATE_TEST_SUITE_P(AllFiles, FixtureDump, ::testing::ValuesIn(readFileList()),
                         [](const ::testing::TestParamInfo<FixtureFile>& i) { return sanitize(i.param.file); });

// Row counts by scan equal the rows the dump writes, for every table of every file.
TEST(FixtureCounts, CountRowsEqualsScan) {
    for (const auto& f : readFileList()) {
        auto db = jet::Database::open(kFixtures + "/files/" + f.file, {.password = f.password});
        long total = 0;
        for (const auto& name : db->userTableNames()) {
            auto t = db->openTable(name);
            std::uint64_t n = 0;
            while (t->next()) ++n;
            EXPECT_EQ(t->countRows(), n) << f.file << " " << name;
            total += static_cast<long>(n);
        }
        EXPECT_EQ(total, f.rows) << f.file;
    }
}

// The catalogue: system tables, Access tables, links and queries get their TABLE_TYPE.
TEST(FixtureCatalog, SchemaTypes) {
    auto db = jet::Database::open(kFixtures + "/files/jackcess/V2007/linkerTestV2007.accdb");
    std::map<std::string, std::string> type;
    for (const auto& e : db->catalog()) type[e.name] = e.schemaType;
    EXPECT_EQ(type["MSysObjects"], "SYSTEM TABLE");
    EXPECT_EQ(type["MSysACEs"], "SYSTEM TABLE");
    EXPECT_EQ(type["MSysAccessStorage"], "ACCESS TABLE");
    bool link = false;
    for (const auto& e : db->catalog())
        if (e.type == 6) {
            EXPECT_EQ(e.schemaType, "LINK") << e.name;
            EXPECT_FALSE(e.database.empty()) << e.name;
            link = true;
        }
    EXPECT_TRUE(link);
    for (const auto& n : db->userTableNames()) EXPECT_EQ(type[n], "TABLE");

    auto odbc = jet::Database::open(kFixtures + "/files/jackcess/V2007/odbcLinkerTestV2007.accdb");
    bool pass = false;
    for (const auto& e : odbc->catalog())
        if (e.type == 4) {
            EXPECT_EQ(e.schemaType, "PASS-THROUGH") << e.name;
            EXPECT_FALSE(e.connect.empty());
            pass = true;
        }
    EXPECT_TRUE(pass);

    auto q = jet::Database::open(kFixtures + "/files/jackcess/V2007/queryTestV2007.accdb");
    int views = 0;
    for (const auto& e : q->catalog())
        if (e.schemaType == "VIEW") {
            EXPECT_EQ(e.type, 5);
            ++views;
        }
    EXPECT_GT(views, 0);
}

TEST(FixtureTables, OpenTableIsCaseInsensitiveAndNamesMissingTables) {
    auto db = jet::Database::open(kFixtures + "/files/mdb-reader/V2010/test.accdb");
    auto t = db->openTable("tAbLe1");
    EXPECT_EQ(t->name(), "Table1");
    EXPECT_EQ(t->columnIndex("a"), 0);
    try {
        db->openTable("NoSuchTable");
        FAIL() << "no error";
    } catch (const jet::Error& e) {
        EXPECT_EQ(e.number(), 3078);
        EXPECT_NE(std::string(e.what()).find("'NoSuchTable'"), std::string::npos);
    }
    // System tables open too (not listed as user tables).
    auto sys = db->openTable("MSysObjects");
    EXPECT_GT(sys->countRows(), 10u);
}

TEST(FixtureTables, ColumnsDescribeTypes) {
    auto db = jet::Database::open(kFixtures + "/files/jackcess/V2010/calcFieldTestV2010.accdb");
    auto t = db->openTable("Table1");
    const auto& cols = t->columns();
    auto col = [&](const char* n) -> const jet::Column& { return cols.at(static_cast<std::size_t>(t->columnIndex(n))); };
    EXPECT_TRUE(col("IsRich").calculated);
    EXPECT_EQ(col("IsRich").type, static_cast<std::uint8_t>(jet::ColumnType::Boolean));
    EXPECT_EQ(col("AllNames").type, static_cast<std::uint8_t>(jet::ColumnType::Memo));
    EXPECT_EQ(col("LastFirst").size, 243);
    EXPECT_FALSE(col("FirstName").calculated);
    EXPECT_EQ(col("FirstName").size, 255);
    EXPECT_EQ(col("Popularity").precision, 18);
    EXPECT_EQ(col("Popularity").scale, 6);
    EXPECT_TRUE(col("ID").autoNumber);

    auto cx = jet::Database::open(kFixtures + "/files/jackcess/V2007/complexDataTestV2007.accdb");
    auto ct = cx->openTable("Table1");
    EXPECT_EQ(ct->columns()[static_cast<std::size_t>(ct->columnIndex("attach-data"))].complexKind,
              jet::ComplexKind::Attachment);
    EXPECT_EQ(ct->columns()[static_cast<std::size_t>(ct->columnIndex("multi-value-data"))].complexKind,
              jet::ComplexKind::MultiValue);
}

TEST(FixturePasswords, WrongOrMissingPasswordIs3031) {
    for (const char* f : {"mdb-reader/password/V2000_with-password.mdb", "mdb-reader/password/V2003_with-password.mdb"}) {
        for (const char* pw : {"", "wrong", "Password"}) {
            try {
                jet::Database::open(kFixtures + "/files/" + f, {.password = pw});
                ADD_FAILURE() << f << " opened with '" << pw << "'";
            } catch (const jet::Error& e) {
                EXPECT_EQ(e.number(), 3031);
                EXPECT_STREQ(e.what(), "Not a valid password.");
            }
        }
        EXPECT_NO_THROW(jet::Database::open(kFixtures + "/files/" + f, {.password = "password"}));
    }
}

// Jet 3 keeps its password in the masked header as code-page bytes (no fixture has one:
// the test puts one into a copy of a Jet 3 file).
TEST(FixturePasswords, Jet3PasswordIsChecked) {
    std::ifstream in(kFixtures + "/files/mdb-reader/V1997/test.mdb", std::ios::binary);
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
    const std::string pw = "Secret97";
    for (std::size_t i = 0; i < pw.size(); ++i) bytes[0x42 + i] ^= static_cast<std::uint8_t>(pw[i]);
    for (const char* wrong : {"", "secret97", "Secret9"}) {
        try {
            jet::Database::openBytes(bytes, "pw97.mdb", {.password = wrong});
            ADD_FAILURE() << "opened with '" << wrong << "'";
        } catch (const jet::Error& e) {
            EXPECT_EQ(e.number(), 3031);
        }
    }
    auto db = jet::Database::openBytes(bytes, "pw97.mdb", {.password = pw});
    EXPECT_EQ(db->userTableNames().size(), 4u);
}

} // namespace
