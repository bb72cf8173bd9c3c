// The schema reader on Access's own files: indexes, column properties, AutoNumbers and relationships
// in Access 97, 2000 and 2007 files.

#include <gtest/gtest.h>

#include <string>

#include "jet/schema.h"

namespace {

std::unique_ptr<jet::Database> openFixture(const std::string& rel) {
    return jet::Database::open(std::string(QM_ACCESS_FIXTURES) + "/files/" + rel);
}

const jet::IndexSchema* findIndex(const jet::TableSchema& t, const std::string& name) {
    for (const auto& ix : t.indexes)
        if (ix.name == name) return &ix;
    return nullptr;
}

TEST(SchemaRead, IndexFlagsInEveryFormat) {
    for (const char* file : {"jackcess/V2000/testIndexPropertiesV2000.mdb", "jackcess/V2007/testIndexPropertiesV2007.accdb"}) {
        SCOPED_TRACE(file);
        auto db = openFixture(file);
        const auto nulls = jet::readTableSchema(*db, "TableIgnoreNulls2");
        ASSERT_FALSE(nulls.indexes.empty());
        EXPECT_TRUE(nulls.indexes.front().primary); // the primary key comes first
        const auto* data = findIndex(nulls, "DataIndex");
        ASSERT_TRUE(data);
        EXPECT_TRUE(data->ignoreNulls);
        EXPECT_FALSE(data->unique);
        ASSERT_EQ(data->columns.size(), 2u);
        EXPECT_EQ(data->columns[0].name, "data1");
        EXPECT_EQ(data->columns[1].name, "data2");
        const auto unique = jet::readTableSchema(*db, "TableUnique1_temp");
        ASSERT_TRUE(findIndex(unique, "DataIndex"));
        EXPECT_TRUE(findIndex(unique, "DataIndex")->unique);
        EXPECT_FALSE(findIndex(unique, "DataIndex")->ignoreNulls);
    }
}

TEST(SchemaRead, DescendingIndexColumnsAlsoInAccess97) {
    for (const char* file : {"jackcess/V1997/compIndexTestV1997.mdb", "jackcess/V2000/compIndexTestV2000.mdb"}) {
        SCOPED_TRACE(file);
        auto db = openFixture(file);
        const auto t = jet::readTableSchema(*db, "Table1");
        const auto* ix = findIndex(t, "CD_AGENTE");
        ASSERT_TRUE(ix);
        ASSERT_EQ(ix->columns.size(), 1u);
        EXPECT_FALSE(ix->columns[0].ascending);
    }
}

TEST(SchemaRead, AutoNumbersDefaultsAndRequired) {
    auto db = openFixture("jackcess/V2000/testRefGlobalV2000.mdb");
    const auto t3 = jet::readTableSchema(*db, "Table3");
    EXPECT_EQ(t3.columns[0].autoNumber, jet::AutoNumber::Long);
    EXPECT_EQ(t3.columns[1].autoNumber, jet::AutoNumber::None);
    const auto t4 = jet::readTableSchema(*db, "Table4");
    EXPECT_EQ(t4.columns[1].autoNumber, jet::AutoNumber::Guid);
    EXPECT_EQ(t4.columns[1].defaultValue.value_or(""), "GenGUID()");
    const auto t1 = jet::readTableSchema(*db, "Table1");
    EXPECT_EQ(t1.columns[2].defaultValue.value_or(""), "0");   // Byte C
    EXPECT_FALSE(t1.columns[6].defaultValue.has_value());      // Date/Time G
    EXPECT_TRUE(t1.columns[8].required);                       // Yes/No I never holds Null
    EXPECT_FALSE(t1.columns[0].required);
}

TEST(SchemaRead, ComplexColumnsAreNotAutoNumbers) {
    auto db = openFixture("jackcess/V2007/complexDataTestV2007.accdb");
    const auto t = jet::readTableSchema(*db, "Table1");
    int complex = 0;
    for (const auto& c : t.columns) {
        if (c.column.complexKind == jet::ComplexKind::None) continue;
        ++complex;
        EXPECT_EQ(c.autoNumber, jet::AutoNumber::None) << c.column.name;
    }
    EXPECT_EQ(complex, 3);
}

TEST(SchemaRead, RelationshipsWithTheirRules) {
    for (const char* file : {"jackcess/V1997/indexTestV1997.mdb", "jackcess/V2000/indexTestV2000.mdb",
                             "jackcess/V2007/indexTestV2007.accdb"}) {
        SCOPED_TRACE(file);
        auto db = openFixture(file);
        const auto rels = jet::readRelationships(*db);
        ASSERT_EQ(rels.size(), 2u); // the system tables' relationships are left out
        EXPECT_EQ(rels[0].name, "Table2Table1");
        EXPECT_EQ(rels[0].table, "Table1");
        EXPECT_EQ(rels[0].columns, std::vector<std::string>{"otherfk1"});
        EXPECT_EQ(rels[0].referencedTable, "Table2");
        EXPECT_EQ(rels[0].referencedColumns, std::vector<std::string>{"id"});
        EXPECT_TRUE(rels[0].enforced());
        EXPECT_TRUE(rels[0].cascadeDeletes());
        EXPECT_FALSE(rels[0].cascadeUpdates());
        EXPECT_TRUE(rels[1].cascadeUpdates());
        EXPECT_FALSE(rels[1].cascadeDeletes());
        // Access keeps an index for each side; they are marked as the relationship's.
        const auto t1 = jet::readTableSchema(*db, "Table1");
        const auto* fk = findIndex(t1, "Table2Table1");
        ASSERT_TRUE(fk);
        EXPECT_TRUE(fk->foreignKey);
        EXPECT_EQ(fk->referencedTable, "Table2");
    }
    auto linker = openFixture("jackcess/V2007/linkerTestV2007.accdb");
    const auto rels = jet::readRelationships(*linker);
    ASSERT_EQ(rels.size(), 1u);
    EXPECT_FALSE(rels[0].enforced()); // a join line to a linked table, no integrity
    EXPECT_EQ(rels[0].referencedTable, "Table1");
}

TEST(SchemaRead, JsonNamesEveryPart) {
    auto db = openFixture("jackcess/V2007/indexTestV2007.accdb");
    const std::string json = jet::schemaJson(*db, {"Table1"});
    EXPECT_NE(json.find("\"primary\":true"), std::string::npos);
    EXPECT_NE(json.find("\"name\":\"Table2Table1\",\"table\":\"Table1\""), std::string::npos);
    EXPECT_EQ(json.find("\"name\":\"Table2\",\"columns\""), std::string::npos); // only the table asked for
}

} // namespace
