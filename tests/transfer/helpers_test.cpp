#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "db/error.h"
#include "db/session.h"
#include "fakes.h"
#include "transfer/helpers.h"

using namespace transfer;

namespace {

TEST(AdoTypeName, EveryNumberOfTheTableAndNothingElse) {
    const struct {
        int number;
        const char* name;
    } rows[] = {
        {0, "adEmpty"}, {2, "adSmallInt"}, {3, "adInteger"}, {4, "adSingle"}, {5, "adDouble"},
        {6, "adCurrency"}, {7, "adDate"}, {8, "adBSTR"}, {9, "adIDispatch"}, {10, "adError"},
        {11, "adBoolean"}, {12, "adVariant"}, {13, "adIUnknown"}, {14, "adDecimal"}, {16, "adTinyInt"},
        {17, "adUnsignedTinyInt"}, {18, "adUnsignedSmallInt"}, {19, "adUnsignedInt"}, {20, "adBigInt"},
        {21, "adUnsignedBigInt"}, {64, "adFileTime"}, {72, "adGUID"}, {128, "adBinary"}, {129, "adChar"},
        {130, "adWChar"}, {131, "adNumeric"}, {132, "adUserDefined"}, {133, "adDBDate"}, {134, "adDBTime"},
        {135, "adDBTimeStamp"}, {136, "adChapter"}, {138, "adPropVariant"}, {139, "adVarNumeric"},
        {200, "adVarChar"}, {201, "adLongVarChar"}, {202, "adVarWChar"}, {203, "adLongVarWChar"},
        {204, "adVarBinary"}, {205, "adLongVarBinary"},
    };
    ASSERT_EQ(std::size(rows), 39u);
    int named = 0;
    for (int n = -32768; n <= 32767; ++n) {
        const std::string name = AdoTypeName(std::int16_t(n));
        const char* expected = "";
        for (const auto& r : rows)
            if (r.number == n) expected = r.name;
        EXPECT_EQ(name, expected) << n;
        if (!name.empty()) ++named;
    }
    EXPECT_EQ(named, 39);
}

// The edge cases of the shared helpers, one row each.
TEST(TransferHelpers, EdgeCases) {
    struct Case {
        const char* what;
        std::function<void()> check;
    };
    const Case cases[] = {
        {"type 0 is adEmpty", [] { EXPECT_EQ(AdoTypeName(0), "adEmpty"); }},
        {"137, 8192, 1, -1 have no name",
         [] {
             for (int n : {137, 8192, 1, -1}) EXPECT_EQ(AdoTypeName(std::int16_t(n)), "") << n;
         }},
        {"203 lower-cased holds varwchar",
         [] {
             const std::string name = lowerCase(AdoTypeName(203));
             EXPECT_EQ(name, "adlongvarwchar");
             EXPECT_NE(name.find("varwchar"), std::string::npos);
         }},
        {"contains ignores case, whole entries only",
         [] {
             fakes::List list{"Orders"};
             EXPECT_TRUE(ListContainsName(list, "orders"));
             EXPECT_TRUE(ListContainsName(list, "ORDERS"));
             EXPECT_FALSE(ListContainsName(list, "Order"));
             EXPECT_FALSE(ListContainsName(list, "Orders "));
         }},
        {"contains ignores case in other scripts, not accents",
         [] {
             fakes::List list{"ΠΕΛΆΤΕΣ", "Клиенты", "Ärzte"};
             EXPECT_TRUE(ListContainsName(list, "Πελάτες")); // final sigma too
             EXPECT_TRUE(ListContainsName(list, "КЛИЕНТЫ"));
             EXPECT_TRUE(ListContainsName(list, "ärzte"));
             EXPECT_FALSE(ListContainsName(list, "Πελατες"));
             EXPECT_FALSE(ListContainsName(list, "Arzte"));
         }},
        {"contains on an empty list", [] { EXPECT_FALSE(ListContainsName(fakes::List{}, "x")); }},
        {"remove is case-sensitive",
         [] {
             auto list = fakes::List::unsorted({"orders", "Orders", "orders2"});
             RemoveListEntries(list, "orders");
             EXPECT_EQ(list.items(), (std::vector<std::string>{"Orders", "orders2"}));
         }},
        {"remove takes two equal entries in a row",
         [] {
             auto list = fakes::List::unsorted({"orders", "orders", "x"});
             RemoveListEntries(list, "orders");
             EXPECT_EQ(list.items(), (std::vector<std::string>{"x"}));
         }},
        {"remove of a name no entry equals",
         [] {
             auto list = fakes::List::unsorted({"a", "b"});
             RemoveListEntries(list, "c");
             EXPECT_EQ(list.items(), (std::vector<std::string>{"a", "b"}));
         }},
        {"remove ignoring case takes every spelling",
         [] {
             auto list = fakes::List::unsorted({"orders", "Orders", "orders2", "ORDERS"});
             RemoveListEntriesIgnoringCase(list, "orders");
             EXPECT_EQ(list.items(), (std::vector<std::string>{"orders2"}));
         }},
        {"Null with replacement \"\" gives \"\"",
         [] { EXPECT_EQ(NullToDefault(db::Variant(db::Null{}), db::Variant("")), db::Variant(std::string())); }},
        {"0 stays 0",
         [] { EXPECT_EQ(NullToDefault(db::Variant(std::int32_t(0)), db::Variant("")), db::Variant(std::int32_t(0))); }},
        {"the empty text stays the empty text",
         [] { EXPECT_EQ(NullToDefault(db::Variant(std::string()), db::Variant("x")), db::Variant(std::string())); }},
        {"Empty and false are not Null",
         [] {
             EXPECT_TRUE(NullToDefault(db::Variant(), db::Variant("x")).isEmpty());
             EXPECT_EQ(NullToDefault(db::Variant(false), db::Variant("x")), db::Variant(false));
         }},
        {"ExecuteSql on a closed connection raises the session's error",
         [] {
             db::Connection closed;
             try {
                 ExecuteSql(closed, "DROP TABLE x");
                 ADD_FAILURE() << "no error";
             } catch (const db::Error& e) {
                 EXPECT_EQ(e.number(), 3709);
             }
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        c.check();
    }
}

} // namespace
