// Writing encrypted .accdb files: tables created, filled, copied and dropped in copies
// of the encrypted fixtures. The file must stay encrypted with its own keys (no
// written text readable in the raw bytes, every page still decodes), read back exactly
// through our reader and through mdb-reader (npm) with the same password, keep its
// original tables as they were, and a wrong password must leave the file untouched.

#include "crypto_test_support.h"

#include "jet/codec.h"
#include "jet/database.h"
#include "jet/dump.h"
#include "jet/error.h"
#include "jet/writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace qm_crypto_test;

struct WriteCase {
    const char* file;
    const char* password;
};

const WriteCase kEncrypted[] = {
    {"mdb-reader/password/V2010_with-password.accdb", "password"},
    {"mdb-reader/encryption/office-agile-4.4.accdb", "password"},
    {"mdb-reader/encryption/office-agile-4.2.accdb", "password"},
    {"jackcess-encrypt/db2007-enc.accdb", "Test123"},
    {"jackcess-encrypt/db2013-enc.accdb", "1234"},
};

// Everything written must stay hidden: the encrypted files and the Jet 4 RC4-encoded one.
const WriteCase kHidden[] = {
    kEncrypted[0], kEncrypted[1], kEncrypted[2], kEncrypted[3], kEncrypted[4],
    {"jackcess-encrypt/db-enc.mdb", ""},
};

constexpr const char* kMarker = "QmSecretMarker";
constexpr int kRows = 120;

std::string notesFor(int i) {
    // Every 10th memo is long enough for its own long-value page.
    std::string s = std::string(kMarker) + " notes " + std::to_string(i) + " ";
    s.append(static_cast<std::size_t>(i % 10 == 0 ? 5000 : 30 + i), static_cast<char>('a' + i % 26));
    return s;
}

void fill(jet::Writer& w) {
    w.execute("CREATE TABLE Secrets (ID LONG, Name TEXT(60), Notes MEMO, Amount DOUBLE)");
    for (int i = 0; i < kRows; ++i) {
        w.execute("INSERT INTO Secrets VALUES (" + std::to_string(i) + ", '" + kMarker + " row " + std::to_string(i) +
                  "', '" + notesFor(i) + "', " + std::to_string(i) + ".5)");
    }
    w.execute("CREATE TABLE Scratch (A LONG, B TEXT(10))");
    w.execute("INSERT INTO Scratch VALUES (1, 'x')");
    w.execute("SELECT a1.* INTO SecretsCopy FROM Secrets AS a1");
    w.execute("DROP TABLE Scratch");
}

// The rows of a table as text cells, in scan order.
std::vector<std::vector<std::string>> rowsOf(const jet::Database& db, const std::string& table) {
    auto t = db.openTable(table);
    std::vector<std::vector<std::string>> rows;
    while (t->next()) {
        std::vector<std::string> row;
        for (std::size_t c = 0; c < t->columns().size(); ++c) row.push_back(jet::toText(t->value(c)));
        rows.push_back(std::move(row));
    }
    return rows;
}

std::vector<std::vector<std::string>> expectedRows() {
    std::vector<std::vector<std::string>> rows;
    for (int i = 0; i < kRows; ++i)
        rows.push_back({std::to_string(i), std::string(kMarker) + " row " + std::to_string(i), notesFor(i),
                        std::to_string(i) + ".5"});
    return rows;
}

bool contains(const std::vector<std::uint8_t>& hay, const std::string& needle) {
    return std::search(hay.begin(), hay.end(), needle.begin(), needle.end()) != hay.end();
}

std::string oraclesDir() {
    if (const char* d = std::getenv("QM_ORACLES_DIR"); d && *d) return d;
    return std::string(QM_SOURCE_DIR) + "/../oracles";
}

// mdb-reader's view of one table, one line per row, cells joined by '|'. The password
// goes through the environment, never the command line.
std::string mdbReaderRows(const std::string& file, const std::string& password, const std::string& table,
                          const TempDir& dir) {
    const std::string module = oraclesDir() + "/node_modules/mdb-reader/lib/node/index.js";
    const std::string script = dir.path("read_encrypted.mjs");
    std::ofstream(script) << "import MDBReader from 'file://" << module << "';\n"
                          << "import { readFileSync } from 'node:fs';\n"
                          << "const r = new MDBReader(readFileSync(process.argv[2]), { password: process.env.QM_PW });\n"
                          << "const t = r.getTable(process.argv[3]);\n"
                          << "for (const row of t.getData()) process.stdout.write(t.getColumnNames().map(c => {\n"
                          << "  const v = row[c]; return v === null || v === undefined ? '' : String(v); }).join('|') + '\\n');\n";
    const std::string out = dir.path("mdb-reader.txt");
    ::setenv("QM_PW", password.c_str(), 1);
    const std::string cmd = "node '" + script + "' '" + file + "' '" + table + "' > '" + out + "' 2>&1";
    const int rc = std::system(cmd.c_str());
    ::unsetenv("QM_PW");
    std::ifstream in(out);
    std::string text((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(rc, 0) << text.substr(0, 500);
    if (rc != 0) return {};
    return text;
}

std::unique_ptr<jet::Writer> openWriter(const std::string& path, const std::string& password) {
    jet::WriterOptions options;
    options.password = password;
    return jet::Writer::open(path, std::move(options));
}

class EncryptedWrite : public testing::TestWithParam<WriteCase> {};
class HiddenWrite : public testing::TestWithParam<WriteCase> {};

TEST_P(HiddenWrite, WrittenTablesReadBackAndTheFileStaysEncrypted) {
    const auto& c = GetParam();
    TempDir dir;
    const std::string path = dir.path("copy.accdb");
    writeBytes(path, readBytes(fixturePath(c.file)));
    const auto before = readBytes(path);
    {
        auto w = openWriter(path, c.password);
        fill(*w);
        w->close();
    }
    const auto after = readBytes(path);
    ASSERT_GT(after.size(), before.size()); // new pages were appended

    // Page 0 (mask, descriptor, encoding key) is untouched.
    EXPECT_TRUE(std::equal(before.begin(), before.begin() + 4096, after.begin()));
    // Nothing written is readable in the file, but all of it is after decoding.
    EXPECT_FALSE(contains(after, kMarker));
    auto header = after;
    toggleAceHeaderMask(header.data()); // Jet 4 masks the same 128 bytes
    auto codec = jet::makePageCodec(std::span<const std::uint8_t>(header.data(), 4096), formatOfVersion(after[0x14]),
                                    c.password);
    ASSERT_NE(codec, nullptr);
    std::vector<std::uint8_t> plain = after;
    for (std::size_t n = 1; n < plain.size() / 4096; ++n) {
        codec->decode(static_cast<std::uint32_t>(n), plain.data() + n * 4096, 4096);
        const std::uint8_t type = plain[n * 4096];
        EXPECT_TRUE(type <= 0x05 || type == 0x08 || type == 0x09) << "page " << n << " type " << int(type);
    }
    EXPECT_TRUE(contains(plain, kMarker));

    // Our reader: the new tables row for row, the scratch table gone, the original tables as before.
    auto db = jet::Database::open(path, {.password = c.password});
    EXPECT_EQ(rowsOf(*db, "Secrets"), expectedRows());
    EXPECT_EQ(rowsOf(*db, "SecretsCopy"), expectedRows());
    EXPECT_EQ(db->findObject("Scratch"), nullptr);
    auto original = jet::Database::open(fixturePath(c.file), {.password = c.password});
    for (const auto& name : original->userTableNames()) EXPECT_EQ(rowsOf(*db, name), rowsOf(*original, name)) << name;

    // And with a wrong password it does not open (Jet page encoding has no password).
    if (std::string(c.password).empty()) {
        EXPECT_EQ(rowsOf(*jet::Database::open(path, {.password = "nope"}), "Secrets"), expectedRows());
    } else {
        EXPECT_THROW(jet::Database::open(path, {.password = "nope"}), jet::Error);
    }
}

// Lines of text, for comparing long outputs with a short message.
void expectSameLines(const std::string& actual, const std::string& expected, const std::string& what) {
    std::istringstream a(actual), e(expected);
    std::string la, le;
    for (int line = 1;; ++line) {
        const bool ha = static_cast<bool>(std::getline(a, la));
        const bool he = static_cast<bool>(std::getline(e, le));
        if (!ha && !he) return;
        if (ha != he || la != le) {
            ADD_FAILURE() << what << ": line " << line << " differs\n  got:      " << (ha ? la.substr(0, 200) : "<end>")
                          << "\n  expected: " << (he ? le.substr(0, 200) : "<end>");
            return;
        }
    }
}

// mdb-reader 3.2 cannot open agile files with SHA-1 at all (its verifier check pads the
// 20-byte hash to 32 and throws), not even the untouched db2007-enc.accdb, so that one
// is read back by our reader only.
TEST(EncryptedWriteOracle, MdbReaderReadsWhatWeWrote) {
    if (!fs::exists(oraclesDir() + "/node_modules/mdb-reader/package.json"))
        GTEST_SKIP() << "mdb-reader is not installed (scripts/oracles.sh)";
    std::string expected;
    for (const auto& row : expectedRows()) expected += row[0] + "|" + row[1] + "|" + row[2] + "|" + row[3] + "\n";
    for (const auto& c : kHidden) {
        if (std::string(c.file) == "jackcess-encrypt/db2007-enc.accdb") continue;
        SCOPED_TRACE(c.file);
        TempDir dir;
        const std::string path = dir.path("copy.accdb");
        writeBytes(path, readBytes(fixturePath(c.file)));
        {
            auto w = openWriter(path, c.password);
            fill(*w);
            w->close();
        }
        expectSameLines(mdbReaderRows(path, c.password, "Secrets", dir), expected, "Secrets");
        expectSameLines(mdbReaderRows(path, c.password, "SecretsCopy", dir), expected, "SecretsCopy");
    }
}

// Encrypted files that are not fixtures: plain fixtures encrypted like an encrypted one
// (its descriptor and keys), then written into; our reader and mdb-reader read the new
// table back and the old tables are unchanged.
TEST(EncryptedWriteOracle, WritingIntoEncryptedCopiesOfPlainFiles) {
    const WriteCase models[] = {
        {"jackcess-encrypt/db2013-enc.accdb", "1234"},                 // agile AES-256 / SHA-512
        {"mdb-reader/encryption/office-agile-4.2.accdb", "password"}, // RC4 CryptoAPI
    };
    const char* plainFiles[] = {"mdb-reader/V2016/longtext.accdb", "mdb-reader/V2010/test.accdb"};
    const bool haveMdbReader = fs::exists(oraclesDir() + "/node_modules/mdb-reader/package.json");
    std::string expected;
    for (const auto& row : expectedRows()) expected += row[0] + "|" + row[1] + "|" + row[2] + "|" + row[3] + "\n";
    for (const auto& m : models) {
        for (const char* plain : plainFiles) {
            SCOPED_TRACE(std::string(plain) + " encrypted like " + m.file);
            TempDir dir;
            const std::string path = dir.path("twin.accdb");
            writeBytes(path, encryptLike(readBytes(fixturePath(plain)), readBytes(fixturePath(m.file)), m.password));
            {
                auto w = openWriter(path, m.password);
                fill(*w);
                w->close();
            }
            EXPECT_FALSE(contains(readBytes(path), kMarker));
            auto db = jet::Database::open(path, {.password = m.password});
            EXPECT_EQ(rowsOf(*db, "Secrets"), expectedRows());
            auto original = jet::Database::open(fixturePath(plain));
            for (const auto& name : original->userTableNames())
                EXPECT_EQ(rowsOf(*db, name), rowsOf(*original, name)) << name;
            if (haveMdbReader) expectSameLines(mdbReaderRows(path, m.password, "Secrets", dir), expected, "Secrets");
        }
    }
}

TEST_P(EncryptedWrite, WrongPasswordLeavesTheFileUntouched) {
    const auto& c = GetParam();
    TempDir dir;
    const std::string path = dir.path("copy.accdb");
    writeBytes(path, readBytes(fixturePath(c.file)));
    const auto before = readBytes(path);
    for (const std::string pw : {"", "wrong"}) {
        try {
            auto w = openWriter(path, pw);
            ADD_FAILURE() << "the writer opened " << c.file << " with a wrong password";
        } catch (const jet::Error& e) {
            EXPECT_EQ(e.number(), jet::errc::NotValidPassword);
            EXPECT_STREQ(e.what(), "Not a valid password.");
        }
    }
    EXPECT_EQ(readBytes(path), before);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, EncryptedWrite, testing::ValuesIn(kEncrypted),
                         [](const testing::TestParamInfo<WriteCase>& info) { return testName(info.param.file); });
INSTANTIATE_TEST_SUITE_P(Fixtures, HiddenWrite, testing::ValuesIn(kHidden),
                         [](const testing::TestParamInfo<WriteCase>& info) { return testName(info.param.file); });

} // namespace
