// The keys plan without a server: the order and text of the index statements, what is left out and why, Access's
// limits (32 indexes a table with the relationships' own, 10 columns an index), names, and the relationships the
// file allows.
#include <gtest/gtest.h>

#include <algorithm>

#include "transfer/access_keys.h"
#include "transfer/helpers.h"

namespace {

using transfer::AccessPlannedColumn;
using transfer::ForeignKey;
using transfer::PgIndex;
using transfer::PgIndexColumn;

std::vector<AccessPlannedColumn> columns(std::initializer_list<const char*> names) {
    std::vector<AccessPlannedColumn> out;
    for (const char* n : names) out.push_back({n, "LONG", "", {}, false});
    return out;
}

PgIndex index(const std::string& name, std::vector<PgIndexColumn> keys, bool primary = false, bool unique = false) {
    PgIndex ix;
    ix.name = name;
    ix.columns = std::move(keys);
    ix.primary = primary;
    ix.unique = unique || primary;
    ix.definition = "CREATE INDEX " + name;
    return ix;
}

PgIndexColumn key(const std::string& name, bool notNull = true, bool descending = false) {
    // The server's defaults: NULLS LAST ascending, NULLS FIRST descending.
    return {name, descending, descending, notNull};
}

bool mentions(const std::vector<std::string>& lines, const std::string& text) {
    return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.find(text) != std::string::npos; });
}

TEST(AccessKeys, PrimaryKeyFirstThenUniqueThenPlainWithTheirStatements) {
    const auto plan = transfer::planAccessKeys(
        "order details",
        {index("od_product", {key("product_id"), key("discount", true, true)}),
         index("od_unique", {key("line_no")}, false, true),
         index("od_pkey", {key("order_id"), key("product_id")}, true)},
        columns({"order_id", "product_id", "discount", "line_no"}));
    ASSERT_EQ(plan.indexes.size(), 3u);
    EXPECT_EQ(plan.indexes[0].sql,
              "CREATE INDEX `od_pkey` ON `order details` (`order_id`, `product_id`) WITH PRIMARY");
    EXPECT_TRUE(plan.indexes[0].primary);
    EXPECT_EQ(plan.indexes[1].sql, "CREATE UNIQUE INDEX `od_unique` ON `order details` (`line_no`)");
    EXPECT_EQ(plan.indexes[2].sql, "CREATE INDEX `od_product` ON `order details` (`product_id`, `discount` DESC)");
    EXPECT_FALSE(plan.indexes[2].unique);
    EXPECT_EQ(plan.leftOut, std::vector<std::string>{});
    EXPECT_EQ(plan.changed, std::vector<std::string>{}); // NOT NULL columns: where Nulls sort does not matter
}

TEST(AccessKeys, WhatAccessCannotIndexIsLeftOutAndNamed) {
    std::vector<PgIndex> in;
    auto expr = index("by_lower", {key("")});
    expr.expression = true;
    in.push_back(expr);
    auto partial = index("open_only", {key("a")});
    partial.partial = true;
    in.push_back(partial);
    auto hash = index("by_hash", {key("a")});
    hash.method = "hash";
    in.push_back(hash);
    std::vector<PgIndexColumn> eleven;
    for (int i = 0; i < 11; ++i) eleven.push_back(key("a"));
    in.push_back(index("too_wide", eleven));
    in.push_back(index("on_picture", {key("pic")}));
    auto covering = index("covering", {key("a")});
    covering.includedColumns = 2;
    in.push_back(covering);
    auto cols = columns({"a"});
    cols.push_back({"pic", "OLEOBJECT", "", {}, false});
    const auto plan = transfer::planAccessKeys("t", in, cols);
    ASSERT_EQ(plan.indexes.size(), 1u);
    EXPECT_EQ(plan.indexes[0].name, "covering");
    ASSERT_EQ(plan.leftOut.size(), 6u) << ::testing::PrintToString(plan.leftOut);
    EXPECT_TRUE(mentions(plan.leftOut, "t.by_lower: an index on an expression"));
    EXPECT_TRUE(mentions(plan.leftOut, "t.open_only: a partial index"));
    EXPECT_TRUE(mentions(plan.leftOut, "t.by_hash: a hash index"));
    EXPECT_TRUE(mentions(plan.leftOut, "t.too_wide: 11 columns; Access indexes at most 10 columns"));
    EXPECT_TRUE(mentions(plan.leftOut, "t.on_picture: the column pic is an OLE Object"));
    EXPECT_TRUE(mentions(plan.leftOut, "t.covering: its INCLUDE columns"));
    // Decimal keys are not written by the engine: named, not failed after the rows; Date/Time Extended ones are.
    auto exact = columns({"price", "at"});
    exact[0].type = "DECIMAL(12,2)";
    exact[1].type = "DATETIME2";
    const auto numeric = transfer::planAccessKeys(
        "t", {index("by_price", {key("price")}), index("by_at", {key("at")})}, exact);
    ASSERT_EQ(numeric.indexes.size(), 1u);
    EXPECT_EQ(numeric.indexes[0].name, "by_at");
    EXPECT_EQ(numeric.leftOut.size(), 1u);
    EXPECT_TRUE(mentions(numeric.leftOut, "t.by_price: the column price is a Decimal"));
    // Long Text: indexed in Access 2007 and later files (as the engine allows), not in older ones.
    auto memo = columns({"note"});
    memo[0].type = "MEMO";
    EXPECT_EQ(transfer::planAccessKeys("t", {index("by_note", {key("note")})}, memo).indexes.size(), 1u);
    const auto in97 = transfer::planAccessKeys("t", {index("by_note", {key("note")})}, memo, 0, {false, false, false});
    EXPECT_TRUE(in97.indexes.empty());
    EXPECT_TRUE(mentions(in97.leftOut, "t.by_note: the column note is a Long Text, which files before Access 2007 cannot index"));
}

TEST(AccessKeys, NullsOrderNamedOnlyWhereItDiffersFromAccess) {
    // Access: Null first ascending, last descending.
    const auto plan = transfer::planAccessKeys(
        "t",
        {index("asc_default", {key("a", false)}), index("desc_default", {key("a", false, true)}),
         index("asc_first", {{"a", false, true, false}}), index("desc_last", {{"a", true, false, false}}),
         index("not_null", {key("b")})},
        columns({"a", "b"}));
    ASSERT_EQ(plan.indexes.size(), 5u);
    EXPECT_EQ(plan.changed.size(), 2u) << ::testing::PrintToString(plan.changed);
    EXPECT_TRUE(mentions(plan.changed, "t.asc_default: NULLS LAST of a"));
    EXPECT_TRUE(mentions(plan.changed, "t.desc_default: NULLS FIRST of a"));
}

TEST(AccessKeys, ThirtyTwoIndexesWithTheRelationshipsOwnKeyAndUniqueFirst) {
    std::vector<PgIndex> in;
    for (int i = 0; i < 30; ++i) in.push_back(index("plain" + std::to_string(i), {key("a")}));
    in.push_back(index("u1", {key("b")}, false, true));
    in.push_back(index("u2", {key("c")}, false, true));
    in.push_back(index("pk", {key("a")}, true));
    const auto plan = transfer::planAccessKeys("t", in, columns({"a", "b", "c"}), 3);
    ASSERT_EQ(plan.indexes.size(), 29u); // 32 less the 3 the relationships will add
    EXPECT_TRUE(plan.indexes[0].primary);
    EXPECT_EQ(plan.indexes[1].name, "u1");
    EXPECT_EQ(plan.indexes[2].name, "u2");
    EXPECT_EQ(plan.indexes.back().name, "plain25");
    ASSERT_EQ(plan.leftOut.size(), 4u);
    EXPECT_NE(plan.leftOut[0].find("t.plain26: Access holds at most 32 indexes a table, 3 of them for relationships"),
              std::string::npos)
        << plan.leftOut[0];
    // No room at all: even the primary key is named, never written past the limit.
    const auto full = transfer::planAccessKeys("t", {index("pk", {key("a")}, true)}, columns({"a"}), 32);
    EXPECT_TRUE(full.indexes.empty());
    EXPECT_EQ(full.leftOut.size(), 1u);
}

TEST(AccessKeys, NamesValidUniquePerTableIgnoringCaseAtMost64) {
    const std::string long64(64, 'x');
    const auto plan = transfer::planAccessKeys(
        "t", {index("Idx", {key("a")}), index("idx", {key("a")}), index("a.b[c]", {key("a")}),
              index(long64, {key("a")}), index(std::string(64, 'X'), {key("a")})},
        columns({"a"}));
    ASSERT_EQ(plan.indexes.size(), 5u);
    EXPECT_EQ(plan.indexes[0].name, "Idx");
    EXPECT_EQ(plan.indexes[1].name, "idx_2");
    EXPECT_EQ(plan.indexes[2].name, "a_b_c_");
    EXPECT_EQ(plan.indexes[3].name, long64);
    EXPECT_EQ(plan.indexes[4].name, std::string(62, 'X') + "_2"); // numbered within 64 characters
    EXPECT_TRUE(mentions(plan.changed, "t.idx: named idx_2 in Access"));
    transfer::AccessNames names;
    EXPECT_EQ(names.allocate(" Ünï"), "_Ünï");
    EXPECT_EQ(names.allocate("ÜNÏ"), "ÜNÏ"); // another leading character: not taken
    EXPECT_EQ(names.allocate("ünï"), "ünï_2");
    EXPECT_EQ(names.allocate(std::string(70, 'e')).size(), 64u);
}

jet::TableSchema table(const std::string& name, std::vector<std::string> cols, std::vector<jet::IndexSchema> indexes) {
    jet::TableSchema t;
    t.name = name;
    for (auto& c : cols) {
        jet::ColumnSchema cs;
        cs.column.name = c;
        cs.column.type = static_cast<std::uint8_t>(jet::ColumnType::Long);
        t.columns.push_back(cs);
    }
    t.indexes = std::move(indexes);
    return t;
}

jet::IndexSchema accessIndex(const std::string& name, std::vector<std::string> cols, bool primary, bool unique) {
    jet::IndexSchema ix;
    ix.name = name;
    for (auto& c : cols) ix.columns.push_back({c, true});
    ix.primary = primary;
    ix.unique = unique || primary;
    return ix;
}

TEST(AccessRelationships, PairsFollowTheReferencedKeyAndActionsBecomeCascades) {
    const auto details = table("order_details", {"order_id", "product_id", "line"},
                               {accessIndex("od_pkey", {"order_id", "product_id"}, true, true)});
    const auto products = table("products", {"product_id"}, {accessIndex("products_pkey", {"product_id"}, true, true)});
    const auto orders = table("orders", {"a", "b", "order_id"}, {accessIndex("orders_ab", {"b", "a"}, false, true)});
    transfer::AccessNames names;
    auto k = transfer::foreignKeyFromServer("od_order", "order_details", {"order_id", "line"}, "orders", {"a", "b"},
                                            'c', 'n');
    auto plan = transfer::planRelationship(k, &details, &orders, names);
    EXPECT_EQ(plan.sql, "ALTER TABLE `order_details` ADD CONSTRAINT `od_order` FOREIGN KEY (`line`, `order_id`) "
                        "REFERENCES `orders` (`b`, `a`) ON UPDATE CASCADE ON DELETE SET NULL");
    EXPECT_TRUE(plan.notes.empty());
    // Access 97 has no ON DELETE SET NULL: integrity alone, and named.
    transfer::AccessTarget access97;
    access97.cascadeSetNull = false;
    plan = transfer::planRelationship(k, &details, &orders, names, access97);
    EXPECT_EQ(plan.sql.find("SET NULL"), std::string::npos) << plan.sql;
    EXPECT_NE(plan.sql.find("ON UPDATE CASCADE"), std::string::npos) << plan.sql;
    ASSERT_EQ(plan.notes.size(), 1u);
    EXPECT_NE(plan.notes[0].find("ON DELETE SET NULL (Access 97 has no such action"), std::string::npos);
    k = transfer::foreignKeyFromServer("od_product", "order_details", {"product_id"}, "products", {"product_id"}, 'r',
                                       'c');
    plan = transfer::planRelationship(k, &details, &products, names);
    EXPECT_EQ(plan.sql, "ALTER TABLE `order_details` ADD CONSTRAINT `od_product` FOREIGN KEY (`product_id`) "
                        "REFERENCES `products` (`product_id`) ON DELETE CASCADE");
    // SET DEFAULT has no Access equivalent: integrity without it, and named.
    k = transfer::foreignKeyFromServer("od_product", "order_details", {"product_id"}, "products", {"product_id"}, 'd',
                                       'd');
    plan = transfer::planRelationship(k, &details, &products, names);
    EXPECT_EQ(plan.name, "od_product_2"); // relationship names are the file's, taken by the one before
    EXPECT_EQ(plan.sql.find(" ON "), std::string::npos) << plan.sql;
    ASSERT_EQ(plan.notes.size(), 2u);
    EXPECT_NE(plan.notes[1].find("ON DELETE SET DEFAULT (Access has no such action"), std::string::npos);
}

TEST(AccessRelationships, LeftOutWhenTheFileCannotHoldIt) {
    const auto orders = table("orders", {"order_id", "customer_id", "code"},
                              {accessIndex("orders_pkey", {"order_id"}, true, true),
                               accessIndex("orders_code", {"code"}, false, false)});
    const auto customers = table("customers", {"customer_id", "code"},
                                 {accessIndex("customers_pkey", {"customer_id"}, true, true),
                                  accessIndex("customers_code", {"code"}, false, false)});
    transfer::AccessNames names;
    auto why = [&](const ForeignKey& k, const jet::TableSchema* t, const jet::TableSchema* r) {
        const auto plan = transfer::planRelationship(k, t, r, names);
        EXPECT_TRUE(plan.sql.empty()) << plan.sql;
        return plan.leftOut;
    };
    const auto byCustomer =
        transfer::foreignKeyFromServer("fk", "orders", {"customer_id"}, "customers", {"customer_id"}, 'a', 'a');
    EXPECT_EQ(why(byCustomer, &orders, nullptr), "the table customers is neither in this run nor in the Access file");
    const auto byCode = transfer::foreignKeyFromServer("fk", "orders", {"code"}, "customers", {"code"}, 'a', 'a');
    EXPECT_EQ(why(byCode, &orders, &customers),
              "the columns code are neither the primary key nor a unique index of customers in the Access file");
    const auto missing = transfer::foreignKeyFromServer("fk", "orders", {"cust"}, "customers", {"customer_id"}, 'a', 'a');
    EXPECT_EQ(why(missing, &orders, &customers), "the Access table orders has no column cust");
    ForeignKey wide = byCustomer;
    wide.columns.assign(11, "customer_id");
    wide.referencedColumns.assign(11, "customer_id");
    EXPECT_EQ(why(wide, &orders, &customers), "11 columns; Access relates at most 10");
    auto bigCustomers = customers;
    bigCustomers.columns[0].column.type = static_cast<std::uint8_t>(jet::ColumnType::BigInt);
    EXPECT_EQ(why(byCustomer, &orders, &bigCustomers),
              "the columns orders.customer_id (Long Integer) and customers.customer_id (Large Number) differ in type "
              "in Access, which relates columns of one type");
    auto memoCustomers = customers;
    auto memoOrders = orders;
    memoCustomers.columns[0].column.type = memoOrders.columns[1].column.type =
        static_cast<std::uint8_t>(jet::ColumnType::Memo);
    EXPECT_EQ(why(byCustomer, &memoOrders, &memoCustomers),
              "the column orders.customer_id is a Memo, which Access cannot relate");
    auto crowded = orders;
    while (crowded.indexes.size() < 32) crowded.indexes.push_back(accessIndex("x", {"code"}, false, false));
    EXPECT_NE(why(byCustomer, &crowded, &customers).find("at most 32 indexes a table"), std::string::npos);
    // A name that is an index of either table, or a relationship of the file, is not taken twice.
    names.reserve("FK");
    auto plan = transfer::planRelationship(
        transfer::foreignKeyFromServer("customers_pkey", "orders", {"customer_id"}, "customers", {"customer_id"}, 'a',
                                       'a'),
        &orders, &customers, names);
    EXPECT_EQ(plan.name, "customers_pkey_2");
    EXPECT_TRUE(names.taken("CUSTOMERS_PKEY_2"));
}

TEST(AccessRelationships, SameRelationshipIgnoresPairOrder) {
    jet::RelationshipSchema r;
    r.name = "x";
    r.table = "Order Details";
    r.columns = {"b", "a"};
    r.referencedTable = "orders";
    r.referencedColumns = {"y", "x"};
    auto same = [](const std::string& p, const std::string& q) { return transfer::lowerCase(p) == transfer::lowerCase(q); };
    ForeignKey k = transfer::foreignKeyFromFile(r);
    k.columns = {"A", "b"};
    k.referencedColumns = {"x", "Y"};
    k.table = "order details";
    EXPECT_TRUE(transfer::sameRelationship(r, k, same));
    k.referencedColumns = {"y", "x"}; // the pairs differ
    EXPECT_FALSE(transfer::sameRelationship(r, k, same));
}

} // namespace
