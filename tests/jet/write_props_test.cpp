// Column and table properties (Required, DefaultValue, Description) written into the catalogue's property blob:
// the blob reads back as written, the properties Access already keeps for a table stay, our schema reader and
// mdbtools' mdb-prop see the new ones, in every format (Access 97's blob holds its texts in the code page).
#include "jet/check.h"
#include "jet/create_db.h"
#include "jet/database.h"
#include "jet/error.h"
#include "jet/schema.h"
#include "jet/text.h"
#include "jet/writer.h"
#include "jet/writer_props.h"
#include "write_test_util.h"

#include <gtest/gtest.h>

namespace {

using jet::PropertyChange;
using jet::Writer;
using wt::errorOf;

std::vector<PropertyChange> sampleChanges()
{
    PropertyChange table;
    table.description = "Kunden, alle";
    PropertyChange name;
    name.column = "name";
    name.required = true;
    name.defaultValue = "\"it's \"\"x\"\"\"";
    name.description = "Name (ünï)";
    PropertyChange qty;
    qty.column = "qty";
    qty.defaultValue = "0";
    return {table, name, qty};
}

TEST(WriteProps, BlobReadsBackAsWritten)
{
    std::vector<jet::PropertyMap> maps;
    jet::applyPropertyChanges(maps, sampleChanges());
    PropertyChange again;
    again.column = "qty";
    again.defaultValue = "7";  // set again: replaced, not added
    jet::applyPropertyChanges(maps, {again});
    const auto blob = jet::buildPropertyBlob(maps);
    const auto back = jet::parsePropertyMaps(blob, jet::TextDecoder{});
    ASSERT_EQ(back.size(), 3u);
    EXPECT_EQ(back[0].name, "");  // the table's own map first
    EXPECT_EQ(back[0].blockType, 0);
    EXPECT_EQ(back[1].name, "name");
    EXPECT_EQ(back[1].blockType, 1);
    ASSERT_NE(back[1].find("Required"), nullptr);
    EXPECT_EQ(back[1].find("Required")->data, std::vector<std::uint8_t>{0x01});  // as Access stores true
    EXPECT_EQ(back[1].find("Description")->dataType, 0x0C);
    ASSERT_EQ(back[2].properties.size(), 1u);
    EXPECT_EQ(back[2].find("DefaultValue")->data, (std::vector<std::uint8_t>{'7', 0}));
}

TEST(WriteProps, NewFilesOfEachFormatAndAnEncryptedOne)
{
    wt::TempDir tmp;
    for (const auto& c : wt::kEveryNewFormat) {
        SCOPED_TRACE(c.file);
        const std::string path = (tmp.path() / c.file).string();
        jet::createDatabase(path, c.format, c.password);
        {
            jet::WriterOptions options;
            options.password = c.password;
            auto w = Writer::open(path, std::move(options));
            w->execute("CREATE TABLE Kunden (id COUNTER, name VARCHAR(40), qty INT)");
            w->execute("INSERT INTO Kunden (name, qty) VALUES('a', 1)");
            jet::setProperties(*w, "kunden", sampleChanges());
            w->execute("INSERT INTO Kunden (name, qty) VALUES('b', 2)");
            w->close();
        }
        for (const auto& f : jet::checkFile(path, {.password = c.password}))
            ADD_FAILURE() << jet::describe(f);
        const auto db = jet::Database::open(path, {.password = c.password});
        const auto schema = jet::readTableSchema(*db, "Kunden");
        EXPECT_EQ(schema.description, "Kunden, alle");
        ASSERT_EQ(schema.columns.size(), 3u);
        EXPECT_FALSE(schema.columns[0].required);
        EXPECT_TRUE(schema.columns[1].required);
        EXPECT_EQ(schema.columns[1].defaultValue, "\"it's \"\"x\"\"\"");
        EXPECT_EQ(schema.columns[1].description, "Name (ünï)");
        EXPECT_FALSE(schema.columns[2].required);
        EXPECT_EQ(schema.columns[2].defaultValue, "0");
        EXPECT_EQ(db->openTable("Kunden")->countRows(), 2u);
        if (*c.password)
            continue;  // mdbtools does not open encrypted files
        int status = 0;
        const std::string props = wt::run("mdb-prop " + wt::shellQuote(path) + " Kunden 2>&1", status);
        if (status != 0 && props.find("not found") != std::string::npos)
            continue;  // mdbtools missing
        EXPECT_NE(props.find("Description: Kunden, alle"), std::string::npos) << props;
        EXPECT_NE(props.find("Required: yes"), std::string::npos) << props;
        EXPECT_NE(props.find("DefaultValue: 0"), std::string::npos) << props;
    }
}

// CREATE TABLE's NOT NULL and DEFAULT are the Required and DefaultValue properties; an INSERT that leaves a column
// out gets its default (the properties Access set on its own tables too), one that names it keeps what it gives.
TEST(WriteProps, CreateTableDefaultsAreStoredAndFilledIn)
{
    wt::TempDir tmp;
    std::vector<std::string> paths;
    for (const auto& c : wt::kEveryNewFormat)
        if (!*c.password) {
            paths.push_back((tmp.path() / c.file).string());
            jet::createDatabase(paths.back(), c.format);
        }
    paths.push_back(tmp.copy("jackcess/templates/empty2010.accdb"));
    for (const std::string& path : paths) {
        SCOPED_TRACE(path);
        {
            auto w = Writer::open(path);
            w->execute("CREATE TABLE d (id COUNTER PRIMARY KEY, qty INT NOT NULL DEFAULT -5, "
                       "name VARCHAR(20) DEFAULT 'it''s \"x\"', flag BIT DEFAULT TRUE, price DOUBLE DEFAULT 2.5, "
                       "made DATETIME DEFAULT NOW(), note VARCHAR(10))");
            w->execute("INSERT INTO d (note) VALUES('defaults')");
            w->execute("INSERT INTO d (qty, name, flag, price, made, note) VALUES(7, NULL, 0, NULL, NULL, 'given')");
            EXPECT_EQ(errorOf([&] { w->execute("INSERT INTO d (qty, note) VALUES(NULL, 'no qty')"); }), 3314);
            w->close();
        }
        for (const auto& f : jet::checkFile(path))
            ADD_FAILURE() << jet::describe(f);
        const auto db = jet::Database::open(path);
        const auto schema = jet::readTableSchema(*db, "d");
        ASSERT_EQ(schema.columns.size(), 7u);
        EXPECT_TRUE(schema.columns[1].required);
        EXPECT_EQ(schema.columns[1].defaultValue, "-5");
        EXPECT_EQ(schema.columns[2].defaultValue, "\"it's \"\"x\"\"\"");
        EXPECT_EQ(schema.columns[3].defaultValue, "Yes");
        EXPECT_EQ(schema.columns[4].defaultValue, "2.5");
        EXPECT_EQ(schema.columns[5].defaultValue, "Now()");
        const auto t = db->openTable("d");
        ASSERT_TRUE(t->next());
        EXPECT_EQ(std::get<std::int32_t>(t->value(1)), -5);
        EXPECT_EQ(std::get<std::string>(t->value(2)), "it's \"x\"");
        EXPECT_TRUE(std::get<bool>(t->value(3)));
        EXPECT_EQ(std::get<double>(t->value(4)), 2.5);
        EXPECT_FALSE(t->isNull(5));  // the time of the INSERT
        ASSERT_TRUE(t->next());
        EXPECT_EQ(std::get<std::int32_t>(t->value(1)), 7);
        EXPECT_TRUE(t->isNull(2));
        EXPECT_FALSE(std::get<bool>(t->value(3)));
        EXPECT_TRUE(t->isNull(4));
        EXPECT_TRUE(t->isNull(5));
        EXPECT_FALSE(t->next());
    }
}

// A table Access made keeps every property it had; ours are added beside them.
TEST(WriteProps, AccessMadePropertiesStay)
{
    wt::TempDir tmp;
    const std::string path = tmp.copy("jackcess/V2007/testIndexPropertiesV2007.accdb");
    std::vector<jet::PropertyMap> before;
    std::string table;
    {
        const auto db = jet::Database::open(path);
        table = db->userTableNames().at(0);
        before = db->objectProperties(*db->findObject(table));
    }
    const std::string column = before.size() > 1 ? before[1].name : "";
    PropertyChange change;
    change.column = column;
    change.description = "neu";
    {
        auto w = Writer::open(path);
        jet::setProperties(*w, table, {change});
        w->close();
    }
    for (const auto& f : jet::checkFile(path))
        ADD_FAILURE() << jet::describe(f);
    const auto reopened = jet::Database::open(path);
    const auto after = reopened->objectProperties(*reopened->findObject(table));
    ASSERT_EQ(after.size(), before.size());
    for (std::size_t m = 0; m < before.size(); ++m) {
        EXPECT_EQ(after[m].name, before[m].name);
        for (const auto& p : before[m].properties) {
            const jet::Property* q = after[m].find(p.name);
            ASSERT_NE(q, nullptr) << p.name;
            EXPECT_EQ(q->data, p.data) << p.name;
            EXPECT_EQ(q->dataType, p.dataType) << p.name;
        }
    }
    ASSERT_NE(after[1].find("Description"), nullptr);
    EXPECT_EQ(after[1].find("Description")->data, (std::vector<std::uint8_t>{'n', 0, 'e', 0, 'u', 0}));
}

// Access 97 keeps the same layout with names and texts in the code page ("KKD"); a character the code page lacks
// is refused and the file stays as it was.
TEST(WriteProps, Access97BlobInTheCodePage)
{
    std::vector<jet::PropertyMap> maps;
    jet::applyPropertyChanges(maps, sampleChanges(), 1252);
    const auto blob = jet::buildPropertyBlob(maps, 1252);
    ASSERT_GE(blob.size(), 4u);
    EXPECT_EQ(std::string(blob.begin(), blob.begin() + 4), std::string("KKD\0", 4));
    const auto back = jet::parsePropertyMaps(blob, jet::TextDecoder{false, 1252});
    ASSERT_EQ(back.size(), 3u);
    EXPECT_EQ(back[1].find("Description")->data, (std::vector<std::uint8_t>{'N', 'a', 'm', 'e', ' ', '(', 0xFC, 'n',
                                                                               0xEF, ')'}));
    wt::TempDir tmp;
    const std::string path = (tmp.path() / "a.mdb").string();
    jet::createDatabase(path, jet::NewFormat::Jet3);
    {
        auto w = Writer::open(path);
        w->execute("CREATE TABLE Kunden (name VARCHAR(40))");
        w->close();
    }
    const std::string before = wt::slurp(path);
    auto w = Writer::open(path);
    PropertyChange greek;
    greek.column = "name";
    greek.description = "Όνομα";
    try {
        jet::setProperties(*w, "Kunden", {greek});
        ADD_FAILURE() << "no error";
    } catch (const jet::Error& e) {
        EXPECT_EQ(e.number(), 3464);
    }
    w->close();
    EXPECT_EQ(wt::slurp(path), before);
}

}  // namespace
