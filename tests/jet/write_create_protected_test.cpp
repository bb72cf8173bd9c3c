// New password-protected databases. An .accdb created with a password is encrypted with Office agile
// encryption (AES-256, SHA-512, 100000 rounds) and a Jet 4 .mdb gets a database password. Tables are created,
// filled, "renamed" (copied, then the original dropped, as the program renames Access tables) and dropped in
// them through a session; our reader and mdb-reader read them back exactly with the password, the checker
// finds nothing, a wrong or missing password is 3031 everywhere, and the password (like the written data of
// an encrypted file) is nowhere in the file in clear nor in any message.
#include "jet/check.h"
#include "jet/codec.h"
#include "jet/create_db.h"
#include "jet/database.h"
#include "jet/error.h"
#include "jet/header.h"
#include "jet/statement.h"
#include "jet/writer.h"
#include "write_test_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>

namespace {

namespace fs = std::filesystem;

constexpr const char* kMarker = "QmHiddenMarker";
constexpr int kRows = 150;

using Rows = std::vector<std::vector<std::string>>;

std::string notesFor(int i)
{
    if (i % 7 == 3)
        return {};  // NULL
    // Every 10th memo is long enough for a long-value page of its own.
    std::string s = std::string(kMarker) + " Notiz " + std::to_string(i) + " ";
    s.append(static_cast<std::size_t>(i % 10 == 0 ? 6000 : 20 + i), static_cast<char>('a' + i % 26));
    return s;
}

std::string nameFor(int i) { return std::string(kMarker) + " Müller & Söhne " + std::to_string(i); }

// What the statements of fillAndRename leave: the two tables, rows as text cells.
std::map<std::string, Rows> expectedTables()
{
    Rows kunden, neu;
    for (int i = 0; i < kRows; ++i)
        kunden.push_back({std::to_string(i), nameFor(i), notesFor(i), std::to_string(i) + ".25"});
    for (int i = 0; i < 3; ++i)
        neu.push_back({std::to_string(10 * i), "zeile " + std::to_string(i)});
    return {{"Kunden", kunden}, {"Neu", neu}};
}

void fillAndRename(jet::Session& s)
{
    s.execute("CREATE TABLE `Kunden` (`Nr` LONG, `Name` TEXT(80), `Notiz` MEMO, `Betrag` DOUBLE)");
    for (int i = 0; i < kRows; ++i) {
        const std::string notes = notesFor(i);
        s.execute("INSERT INTO `Kunden` VALUES (" + std::to_string(i) + ", '" + nameFor(i) + "', " +
                  (notes.empty() ? std::string("NULL") : "'" + notes + "'") + ", " + std::to_string(i) + ".25)");
    }
    s.execute("CREATE TABLE `Alt` (`A` LONG, `B` TEXT(20))");
    for (int i = 0; i < 3; ++i)
        s.execute("INSERT INTO `Alt` VALUES (" + std::to_string(10 * i) + ", 'zeile " + std::to_string(i) + "')");
    s.execute("SELECT a1.* INTO `Neu` FROM `Alt` AS a1");
    s.execute("DROP TABLE `Alt`");
    s.execute("CREATE TABLE `Weg` (`X` TEXT(5))");
    s.execute("INSERT INTO `Weg` VALUES ('weg')");
    s.execute("DROP TABLE `Weg`");
}

std::map<std::string, Rows> readAll(const std::string& path, const std::string& password)
{
    auto db = jet::Database::open(path, {.password = password});
    std::map<std::string, Rows> out;
    for (const auto& name : db->userTableNames()) {
        auto t = db->openTable(name);
        Rows rows;
        while (t->next()) {
            std::vector<std::string> row;
            for (std::size_t c = 0; c < t->columns().size(); ++c) {
                row.push_back(jet::toText(t->value(c)));
            }
            rows.push_back(std::move(row));
        }
        out[name] = std::move(rows);
    }
    return out;
}

std::string utf16le(const std::string& utf8)
{
    std::string out;
    for (char16_t c : jet::utf8ToUtf16(utf8)) {
        out.push_back(static_cast<char>(c & 0xFF));
        out.push_back(static_cast<char>(c >> 8));
    }
    return out;
}

bool has(const std::string& hay, const std::string& needle) { return hay.find(needle) != std::string::npos; }

// The error number of `f`, 0 when it succeeds; its message must never contain `secret`.
int errorOf(const std::function<void()>& f, const std::string& secret)
{
    try {
        f();
    } catch (const jet::Error& e) {
        EXPECT_FALSE(has(e.what(), secret)) << "the password is in the message: " << e.what();
        return e.number();
    }
    return 0;
}

std::vector<jet::CheckFinding> strictCheck(const std::string& path, const std::string& password)
{
    jet::CheckOptions strict;
    strict.statistics = true;
    strict.leaks = true;
    strict.password = password;
    return jet::checkFile(path, strict);
}

std::string oraclesDir()
{
    if (const char* d = std::getenv("QM_ORACLES_DIR"); d && *d)
        return d;
    return std::string(QM_SOURCE_DIR) + "/../oracles";
}

bool haveMdbReader() { return fs::exists(oraclesDir() + "/node_modules/mdb-reader/package.json"); }

// mdb-reader's view of a file: "password: <database password or -> " and then every user table, sorted by
// name, as "## name" and one line per row with the cells joined by '|'. NULL is an empty cell. The password
// goes through the environment, never the command line. Failures print "error: <message>".
std::string mdbReaderView(const std::string& file, const std::string& password, const wt::TempDir& dir)
{
    const std::string script = (dir.path() / "view.mjs").string();
    std::ofstream(script)
        << "import MDBReader from 'file://" << oraclesDir() << "/node_modules/mdb-reader/lib/node/index.js';\n"
        << "import { readFileSync } from 'node:fs';\n"
        << "try {\n"
        << "  const r = new MDBReader(readFileSync(process.argv[2]), { password: process.env.QM_PW });\n"
        << "  let out = 'password: ' + (r.getPassword() ?? '-') + '\\n';\n"
        << "  for (const name of r.getTableNames().sort()) {\n"
        << "    const t = r.getTable(name);\n"
        << "    out += '## ' + name + '\\n';\n"
        << "    for (const row of t.getData()) out += t.getColumnNames().map(c => {\n"
        << "      const v = row[c]; return v === null || v === undefined ? '' : String(v); }).join('|') + '\\n';\n"
        << "  }\n"
        << "  process.stdout.write(out);\n"
        << "} catch (e) { process.stdout.write('error: ' + e.message + '\\n'); process.exit(2); }\n";
    ::setenv("QM_PW", password.c_str(), 1);
    int status = 0;
    std::string out = wt::run("node " + wt::shellQuote(script) + " " + wt::shellQuote(file) + " 2>&1", status);
    ::unsetenv("QM_PW");
    return out;
}

std::string expectedView(const std::string& databasePassword)
{
    std::string out = "password: " + (databasePassword.empty() ? std::string("-") : databasePassword) + "\n";
    for (const auto& [name, rows] : expectedTables()) {
        out += "## " + name + "\n";
        for (const auto& row : rows) {
            for (std::size_t c = 0; c < row.size(); ++c)
                out += (c ? "|" : "") + row[c];
            out += "\n";
        }
    }
    return out;
}

struct AceCase {
    const char* format;
    int versionByte;
};

class EncryptedCreate : public ::testing::TestWithParam<AceCase> {};

TEST_P(EncryptedCreate, EncryptedWithItsOwnKeysAndReadBackEverywhere)
{
    const AceCase& c = GetParam();
    const std::string password = "Kennwort-Üñí 7431 mit einem langen Satz, der über zwanzig Zeichen hat";
    wt::TempDir tmp;
    const std::string path = (tmp.path() / "geheim.accdb").string();
    jet::createDatabase(path, jet::parseNewFormat(c.format), password);

    // Page 0 declares agile AES-256 / SHA-512 with 100000 rounds.
    std::string raw = wt::slurp(path);
    ASSERT_GE(raw.size(), 4u * 4096);
    ASSERT_EQ(raw.size() % 4096, 0u);
    EXPECT_EQ(static_cast<unsigned char>(raw[0x14]), c.versionByte);
    std::vector<std::uint8_t> page0(raw.begin(), raw.begin() + 4096);
    const std::uint8_t mask[4] = {0xC7, 0xDA, 0x39, 0x6B};
    jet::rc4Apply(mask, 4, page0.data() + 0x18, 128);
    const jet::Format format = jet::parseHeader(page0, path).format;
    const jet::EncryptionInfo info = jet::describeEncryption(page0, format);
    EXPECT_EQ(info.kind, jet::Protection::OfficeAgile);
    EXPECT_EQ(info.cipher, "AES-256-CBC");
    EXPECT_EQ(info.hash, "SHA512");
    EXPECT_EQ(info.keyBits, 256);
    EXPECT_EQ(info.spinCount, 100000u);
    EXPECT_NE(info.encodingKey, 0u);

    // The same password again gives other salts, another file key and another encoding key.
    const std::string twin = (tmp.path() / "twin.accdb").string();
    jet::createDatabase(twin, jet::parseNewFormat(c.format), password);
    const std::string twinRaw = wt::slurp(twin);
    EXPECT_NE(raw.substr(0x18, 0x80), twinRaw.substr(0x18, 0x80));
    EXPECT_NE(raw.substr(0x299, 0x420), twinRaw.substr(0x299, 0x420));
    EXPECT_NE(raw.substr(4096, 4096), twinRaw.substr(4096, 4096));

    // Without the password nothing opens it; no message shows the password.
    for (const std::string& wrong : {std::string(), std::string("kennwort"), password + " "}) {
        EXPECT_EQ(errorOf([&] { jet::Database::open(path, {.password = wrong}); }, password), 3031);
        EXPECT_EQ(errorOf([&] { jet::Session::open(path, {.password = wrong}); }, password), 3031);
        EXPECT_EQ(errorOf([&] { strictCheck(path, wrong); }, password), 3031);
    }
    EXPECT_EQ(wt::slurp(path), raw) << "a refused open changed the file";

    for (const auto& f : strictCheck(path, password))
        ADD_FAILURE() << "new file: " << jet::describe(f);
    {
        auto s = jet::Session::open(path, {.password = password});
        fillAndRename(*s);
    }
    for (const auto& f : strictCheck(path, password))
        ADD_FAILURE() << "after the statements: " << jet::describe(f);
    EXPECT_EQ(readAll(path, password), expectedTables());

    // Every page but the header is encrypted with the file's keys: stored differently, decoding to a page.
    const std::string header = raw.substr(0, 4096);
    raw = wt::slurp(path);
    EXPECT_EQ(raw.substr(0, 4096), header) << "the writer changed page 0";
    EXPECT_FALSE(has(raw, kMarker));
    EXPECT_FALSE(has(raw, utf16le(kMarker)));
    EXPECT_FALSE(has(raw, password));
    EXPECT_FALSE(has(raw, utf16le(password)));
    auto codec = jet::makePageCodec(page0, format, password, path);
    ASSERT_NE(codec, nullptr);
    std::string plain = raw;
    for (std::size_t n = 1; n < raw.size() / 4096; ++n) {
        auto* p = reinterpret_cast<std::uint8_t*>(plain.data() + n * 4096);
        codec->decode(static_cast<std::uint32_t>(n), p, 4096);
        EXPECT_NE(raw.substr(n * 4096, 4096), plain.substr(n * 4096, 4096)) << "page " << n << " is stored plain";
        EXPECT_TRUE(p[0] <= 0x05 || p[0] == 0x08) << "page " << n << " decodes to type " << int(p[0]);
    }
    EXPECT_TRUE(has(plain, utf16le(kMarker)) || has(plain, kMarker));

    if (!haveMdbReader()) {
        GTEST_SKIP() << "mdb-reader is not installed (scripts/oracles.sh); our reader only";
    }
    // mdb-reader reads the same rows with the password, and refuses the file without it.
    const std::string view = mdbReaderView(path, password, tmp);
    const std::string want = expectedView("");
    EXPECT_EQ(view.substr(view.find('\n') + 1), want.substr(want.find('\n') + 1));
    EXPECT_TRUE(has(mdbReaderView(path, "falsch", tmp), "error: Wrong password"));
}

INSTANTIATE_TEST_SUITE_P(Formats, EncryptedCreate,
                         ::testing::Values(AceCase{"ace12", 2}, AceCase{"ace14", 3}, AceCase{"ace16", 5},
                                           AceCase{"ace17", 6}),
                         [](const ::testing::TestParamInfo<AceCase>& i) { return std::string(i.param.format); });

TEST(Jet4Create, DatabasePasswordIsCheckedAndReadTheSameByMdbReader)
{
    // 20 characters, the most a Jet 4 database password holds, some outside ASCII.
    const std::string password = "Geheimnis-ßäöü-12345";
    ASSERT_EQ(jet::utf8ToUtf16(password).size(), 20u);
    wt::TempDir tmp;
    const std::string path = (tmp.path() / "geheim.mdb").string();
    jet::createDatabase(path, jet::NewFormat::Jet4, password);
    const std::string created = wt::slurp(path);

    for (const std::string& wrong : {std::string(), std::string("geheimnis-ßäöü-12345"), password + "6"}) {
        EXPECT_EQ(errorOf([&] { jet::Database::open(path, {.password = wrong}); }, password), 3031);
        EXPECT_EQ(errorOf([&] { jet::Session::open(path, {.password = wrong}); }, password), 3031);
    }
    EXPECT_EQ(wt::slurp(path), created);
    {
        auto s = jet::Session::open(path, {.password = password});
        fillAndRename(*s);
    }
    EXPECT_EQ(readAll(path, password), expectedTables());
    for (const auto& f : strictCheck(path, ""))
        ADD_FAILURE() << jet::describe(f);

    // A database password is a check, not encryption: the rows are plain, the password is not.
    const std::string raw = wt::slurp(path);
    EXPECT_TRUE(has(raw, utf16le("zeile 1")) || has(raw, "zeile 1"));
    EXPECT_FALSE(has(raw, password));
    EXPECT_FALSE(has(raw, utf16le(password)));

    // mdbtools reads the pages without any password, as it does Access's own protected files.
    int st = 0;
    wt::run("command -v mdb-json >/dev/null 2>&1", st);
    if (st == 0) {
        const std::string json = wt::run("mdb-json " + wt::shellQuote(path) + " Neu 2>&1", st);
        EXPECT_TRUE(has(json, "zeile 2")) << json.substr(0, 300);
    }
    if (!haveMdbReader()) {
        GTEST_SKIP() << "mdb-reader is not installed (scripts/oracles.sh)";
    }
    // mdb-reader decodes the stored password to exactly ours, and reads the same rows.
    EXPECT_EQ(mdbReaderView(path, "", tmp), expectedView(password));
}

TEST(ProtectedCreate, PasswordsTheFormatCannotHoldAreRefusedWithoutAFile)
{
    wt::TempDir tmp;
    struct Bad {
        jet::NewFormat format;
        std::string password;
    };
    const Bad bad[] = {
        {jet::NewFormat::Jet4, "Einundzwanzig-Zeichen"},          // 21 characters
        {jet::NewFormat::Ace14, std::string(256, 'k')},           // longer than 255
        {jet::NewFormat::Ace16, std::string("ab\0cd", 5)},        // a NUL would cut it short
        {jet::NewFormat::Jet4, std::string("Kennw\xC3rt")},       // not UTF-8
    };
    for (const auto& b : bad) {
        const std::string path = (tmp.path() / "bad.db").string();
        EXPECT_EQ(errorOf([&] { jet::createDatabase(path, b.format, b.password); }, b.password), 3031);
        EXPECT_FALSE(fs::exists(path));
    }
    // The longest passwords that fit work.
    const std::string ace = (tmp.path() / "long.accdb").string();
    jet::createDatabase(ace, jet::NewFormat::Ace14, std::string(255, 'k'));
    EXPECT_EQ(errorOf([&] { jet::Database::open(ace, {.password = std::string(254, 'k')}); }, "kkkkkkkkkk"), 3031);
    EXPECT_EQ(errorOf([&] { jet::Database::open(ace, {.password = std::string(255, 'k')}); }, "kkkkkkkkkk"), 0);
}

}  // namespace
