#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "db/access.h"
#include "db/access_session.h"
#include "db/session.h"

namespace fs = std::filesystem;

namespace {

const fs::path kFixtures = fs::path(QUILLMERE_SHARED_DIR) / "fixtures/access/files";

// Scripted dialogs: answers questions from a queue and records every text.
struct ScriptedDialogs : ui::Dialogs {
    std::vector<int> answers;
    std::vector<std::string> shown;
    void message(const std::string& text, const std::string&) override { shown.push_back(text); }
    int question(const std::string& text, const std::string& caption) override {
        shown.push_back(caption + ": " + text);
        int a = answers.empty() ? ui::AnswerNo : answers.front();
        if (!answers.empty()) answers.erase(answers.begin());
        return a;
    }
    std::string input(const std::string&, const std::string&, const std::string&) override { return {}; }
    void errorReport(const std::string& text) override { shown.push_back(text); }
    void processEvents() override {}
};

struct SimpleList : ui::ListBox {
    std::vector<std::string> items;
    int current = -1;
    int count() const override { return int(items.size()); }
    std::string item(int i) const override { return items[std::size_t(i)]; }
    bool selected(int) const override { return false; }
    void setSelected(int, bool) override {}
    int selCount() const override { return 0; }
    int currentIndex() const override { return current; }
    void setCurrentIndex(int i) override { current = i; }
    void addItem(const std::string& t) override { items.push_back(t); }
    void removeItem(int i) override { items.erase(items.begin() + i); }
    void clear() override {
        items.clear();
        current = -1;
    }
};

// A private copy of a fixture that the test may change.
class Scratch {
public:
    explicit Scratch(const std::string& fixture) {
        dir_ = fs::temp_directory_path() / ("qm-access-" + std::to_string(::getpid()) + "-" + std::to_string(counter()++));
        fs::create_directories(dir_);
        path_ = dir_ / fs::path(fixture).filename();
        fs::copy_file(kFixtures / fixture, path_);
        fs::permissions(path_, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add);
    }
    ~Scratch() {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    std::string path() const { return path_.string(); }

private:
    static int& counter() {
        static int n = 0;
        return n;
    }
    fs::path dir_, path_;
};

std::unique_ptr<db::Connection> openAccess(const std::string& path, const std::string& password = {}) {
    auto c = db::createConnection();
    c->open(db::AccessConnectionString(path, password, {}));
    return c;
}

std::vector<std::string> tablesOf(const std::string& path) {
    auto names = db::ListAccessTables(path, [&] {
        db::ConnectionParameters p;
        p.accessFile = path;
        return p;
    });
    return names ? *names : std::vector<std::string>{};
}

TEST(AccessConnectionString, ProviderFollowsTheLastFiveCharacters) {
    struct Case {
        std::string path, password, expected;
    } cases[] = {
        {"C:\\data\\X.ACCDB", "", "Provider=Microsoft.ACE.OLEDB.12.0;Data Source=C:\\data\\X.ACCDB;JET OLEDB:Database Password="},
        {"/tmp/a.mdb", "pw", "PROVIDER=Microsoft.Jet.OLEDB.4.0;Data Source=/tmp/a.mdb;JET OLEDB:Database Password=pw"},
        {"/tmp/plainaccdb", "", "Provider=Microsoft.ACE.OLEDB.12.0;Data Source=/tmp/plainaccdb;JET OLEDB:Database Password="},
        {"/tmp/a.accde", "", "PROVIDER=Microsoft.Jet.OLEDB.4.0;Data Source=/tmp/a.accde;JET OLEDB:Database Password="},
        {"db", "", "PROVIDER=Microsoft.Jet.OLEDB.4.0;Data Source=db;JET OLEDB:Database Password="},
    };
    for (const auto& c : cases) EXPECT_EQ(db::AccessConnectionString(c.path, c.password, {}), c.expected) << c.path;
    // An empty path takes both values from the fields, ignoring the password argument.
    auto fields = [] {
        db::ConnectionParameters p;
        p.accessFile = "/x/y.accdb";
        p.accessPassword = "secret";
        return p;
    };
    EXPECT_EQ(db::AccessConnectionString("", "ignored", fields),
              "Provider=Microsoft.ACE.OLEDB.12.0;Data Source=/x/y.accdb;JET OLEDB:Database Password=secret");
}

TEST(OleDbConnectionString, QuotedValuesMayHoldSemicolons) {
    const auto a = db::parseOleDbConnectionString("Provider=X; Data Source=\"/a;b.mdb\";Jet OLEDB:Database Password='p''w;'");
    ASSERT_EQ(a.size(), 3u);
    EXPECT_EQ(a[1], (db::OleDbAttribute{"Data Source", "/a;b.mdb"}));
    EXPECT_EQ(a[2], (db::OleDbAttribute{"Jet OLEDB:Database Password", "p'w;"}));
}

TEST(AccessSession, TablesSchemaTellsTheKindsApart) {
    auto c = openAccess((kFixtures / "jackcess/V2007/linkerTestV2007.accdb").string());
    auto rs = c->openSchema(db::adSchemaTables);
    std::map<std::string, std::string> kinds;
    while (!rs->eof()) {
        kinds[rs->value("TABLE_NAME").toText()] = rs->value("TABLE_TYPE").toText();
        rs->moveNext();
    }
    EXPECT_EQ(kinds["MSysObjects"], "SYSTEM TABLE");
    bool sawLink = false, sawTable = false;
    for (auto& [name, kind] : kinds) {
        sawLink |= kind == "LINK";
        sawTable |= kind == "TABLE";
    }
    EXPECT_TRUE(sawLink);
    EXPECT_TRUE(sawTable);
    // Only ordinary tables reach the list.
    for (const auto& name : tablesOf((kFixtures / "jackcess/V2007/linkerTestV2007.accdb").string()))
        EXPECT_EQ(kinds[name], "TABLE") << name;
}

TEST(AccessSession, RecordSetCountsRowsBeforeTheFirstIsRead) {
    auto c = openAccess((kFixtures / "jackcess/V2000/compIndexTestV2000.mdb").string());
    const auto names = tablesOf((kFixtures / "jackcess/V2000/compIndexTestV2000.mdb").string());
    ASSERT_FALSE(names.empty());
    auto rs = c->openRecordset("SELECT * FROM `" + names[0] + "`", 3, 3);
    const long long count = rs->recordCount();
    EXPECT_EQ(count, 512);
    long long seen = 0;
    while (!rs->eof()) {
        ++seen;
        rs->moveNext();
    }
    EXPECT_EQ(seen, count);
    // Bracketed names work the same way.
    auto again = c->execute("SELECT * FROM [" + names[0] + "]");
    ASSERT_TRUE(again);
    EXPECT_EQ(again->recordCount(), 512);
}

TEST(AccessSession, ColumnTypesAreTheProvidersNumbers) {
    auto c = openAccess((kFixtures / "mdb-reader/V2016/bigint.accdb").string());
    const auto names = tablesOf((kFixtures / "mdb-reader/V2016/bigint.accdb").string());
    ASSERT_EQ(names.size(), 1u);
    auto rs = c->execute("SELECT * FROM `" + names[0] + "`");
    bool sawBigInt = false;
    for (int i = 0; i < rs->fieldCount(); ++i) sawBigInt |= rs->field(i).type == db::ado::adBigInt;
    EXPECT_TRUE(sawBigInt);
    EXPECT_EQ(db::accessAdoType(0x01, 0, true), db::ado::adBoolean);
    EXPECT_EQ(db::accessAdoType(0x02, 1, true), db::ado::adUnsignedTinyInt);
    EXPECT_EQ(db::accessAdoType(0x09, 16, true), db::ado::adBinary);
    EXPECT_EQ(db::accessAdoType(0x09, 16, false), db::ado::adVarBinary);
    EXPECT_EQ(db::accessAdoType(0x0C, 0, false), db::ado::adLongVarWChar);
    EXPECT_EQ(db::accessAdoType(0x14, 0, true), db::ado::adDBTimeStamp);
}

TEST(AccessSession, FailuresCarryTheEnginesNumbers) {
    struct Case {
        std::string path, password;
        long number;
    } cases[] = {
        {(kFixtures / "mdb-reader/password/V2003_with-password.mdb").string(), "wrong", 3031},
        {(kFixtures / "mdb-reader/password/V2003_with-password.mdb").string(), "", 3031},
        {"/tmp/qm-no-such-file.mdb", "", 3024},
        {"/nonexistent/folder/file.mdb", "", 3044},
    };
    for (const auto& c : cases) {
        try {
            openAccess(c.path, c.password);
            ADD_FAILURE() << c.path << " opened";
        } catch (const db::Error& e) {
            EXPECT_EQ(e.number(), c.number) << c.path << ": " << e.what();
            if (c.number == 3031) {
                EXPECT_STREQ(e.what(), "Not a valid password.");
            }
        }
    }
    EXPECT_NO_THROW(openAccess((kFixtures / "mdb-reader/password/V2003_with-password.mdb").string(), "password"));
    auto c = openAccess((kFixtures / "mdb-reader/V2003/test.mdb").string());
    try {
        c->execute("SELECT * FROM `no such table`");
        ADD_FAILURE() << "unknown table was opened";
    } catch (const db::Error& e) {
        EXPECT_EQ(e.number(), 3078);
    }
}

TEST(AccessCatalogue, MissingFileGivesNoListAndTheMessage) {
    SimpleList list;
    list.items = {"stale"};
    ScriptedDialogs dialogs;
    db::FillAccessTableList(list, "/nonexistent/x.mdb", {}, dialogs);
    EXPECT_TRUE(list.items.empty());
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0], "Unable to access the database");
    EXPECT_FALSE(db::AccessTableExists("/nonexistent/x.mdb", "", "t"));
}

TEST(AccessCatalogue, EmptyDatabaseGivesAnEmptyListWithoutMessage) {
    const std::string path = (kFixtures / "jackcess/templates/empty2010.accdb").string();
    SimpleList list;
    ScriptedDialogs dialogs;
    db::FillAccessTableList(list, path, [&] {
        db::ConnectionParameters p;
        p.accessFile = path;
        return p;
    }, dialogs);
    EXPECT_TRUE(list.items.empty());
    EXPECT_EQ(list.current, -1);
    EXPECT_TRUE(dialogs.shown.empty());
}

TEST(AccessCatalogue, RenameCopiesThenDropsAndAsksBeforeOverwriting) {
    Scratch file("mdb-reader/V2003/test.mdb");
    auto original = tablesOf(file.path());
    ASSERT_GE(original.size(), 2u);
    const std::string a = original[0], b = original[1];
    long long rowsOfA = openAccess(file.path())->execute("SELECT * FROM `" + a + "`")->recordCount();
    ScriptedDialogs dialogs;

    // Same name in other letter case: nothing happens, nothing is asked.
    EXPECT_FALSE(db::RenameAccessTable(a, a, file.path(), "", dialogs));
    EXPECT_TRUE(dialogs.shown.empty());

    // Existing target, answer No: unchanged.
    dialogs.answers = {ui::AnswerNo};
    EXPECT_FALSE(db::RenameAccessTable(a, b, file.path(), "", dialogs));
    EXPECT_EQ(dialogs.shown.back(), "Overwrite?: Would you like to overwrite " + b + "?");
    EXPECT_EQ(tablesOf(file.path()).size(), original.size());

    // A new name: copied with its rows, source gone.
    EXPECT_TRUE(db::RenameAccessTable(a, "Renamed one", file.path(), "", dialogs));
    EXPECT_TRUE(db::AccessTableExists(file.path(), "", "RENAMED ONE"));
    EXPECT_FALSE(db::AccessTableExists(file.path(), "", a));
    EXPECT_EQ(openAccess(file.path())->execute("SELECT * FROM `Renamed one`")->recordCount(), rowsOfA);

    // Existing target, answer Yes: target replaced by the copy.
    dialogs.answers = {ui::AnswerYes};
    EXPECT_TRUE(db::RenameAccessTable("Renamed one", b, file.path(), "", dialogs));
    EXPECT_EQ(tablesOf(file.path()).size(), original.size() - 1);
    EXPECT_EQ(openAccess(file.path())->execute("SELECT * FROM `" + b + "`")->recordCount(), rowsOfA);

    // A failing copy leaves the source in place.
    EXPECT_THROW(db::RenameAccessTable("missing table", "other", file.path(), "", dialogs), db::Error);
}

TEST(AccessSession, StatementsChangeTheFileAndLaterReadsSeeThem) {
    Scratch file("jackcess/templates/empty2007.accdb");
    auto c = openAccess(file.path());
    c->setMode(3);
    c->execute("CREATE TABLE `Orders`(`ID` INTEGER,`Note` TEXT(50),`Amount` CURRENCY)");
    c->execute("INSERT INTO `Orders` VALUES('7', 'it''s', '12.5')");
    c->execute("INSERT INTO `Orders` VALUES(NULL, NULL, NULL)");
    auto rs = c->execute("SELECT * FROM `Orders`");
    ASSERT_EQ(rs->recordCount(), 2);
    std::vector<std::string> texts;
    for (; !rs->eof(); rs->moveNext())
        for (int i = 0; i < rs->fieldCount(); ++i) texts.push_back(rs->value(i).isNull() ? "NULL" : rs->value(i).toText());
    std::sort(texts.begin(), texts.end());
    EXPECT_EQ(texts, (std::vector<std::string>{"12.5", "7", "NULL", "NULL", "NULL", "it's"}));
    EXPECT_THROW(c->execute("INSERT INTO `Orders` VALUES('x', NULL, NULL)"), db::Error);
    c->execute("DROP TABLE `Orders`;");
    c->close();
    EXPECT_TRUE(tablesOf(file.path()).empty());
}

// In a batch the file is written at its end; a read in between writes the batch first and sees every row.
TEST(AccessSession, ABatchIsReadBackBeforeItsEndAndWrittenByClose) {
    Scratch file("jackcess/templates/empty2007.accdb");
    auto c = openAccess(file.path());
    c->execute("CREATE TABLE `Orders`(`ID` INTEGER)");
    auto* access = dynamic_cast<db::AccessBackend*>(&c->backend());
    ASSERT_NE(access, nullptr);
    access->beginBatch();
    for (int i = 0; i < 50; ++i) c->execute("INSERT INTO `Orders` VALUES(" + std::to_string(i) + ")");
    EXPECT_THROW(c->execute("INSERT INTO `Orders` VALUES('x')"), db::Error); // fails alone
    EXPECT_EQ(c->execute("SELECT * FROM `Orders`")->recordCount(), 50);
    access->beginBatch();
    for (int i = 0; i < 10; ++i) c->execute("INSERT INTO `Orders` VALUES(" + std::to_string(i) + ")");
    c->close(); // writes the open batch
    auto again = openAccess(file.path());
    EXPECT_EQ(again->execute("SELECT * FROM `Orders`")->recordCount(), 60);
}

} // namespace
