// The real pages under the offscreen platform: "Next >", then one click on
// each transfer button, against the real server and a copy of a real Access file.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <algorithm>

#include "environment.h"
#include "support/pages.h"

namespace {

int indexOf(ui::ListBox& list, const std::string& name) {
    for (int i = 0; i < list.count(); ++i)
        if (list.item(i) == name) return i;
    return -1;
}

// The connection page filled in for the test server and the file, then "Next >".
tables::Form2& openTableManager(fakes::RealPages& pages, const std::string& file) {
    auto& form1 = pages.start();
    const db::ConnectionParameters p = env::parameters(file);
    form1.setText(app::Field::Server, p.server);
    form1.setText(app::Field::Port, p.port);
    form1.setText(app::Field::User, p.user);
    form1.setText(app::Field::Password, p.password);
    form1.setText(app::Field::Database, p.database);
    form1.setText(app::Field::AccessFile, file);
    fakes::RealPages::click(form1.control(QStringLiteral("PushButton2"))); // "Next >"
    return static_cast<tables::Form2&>(form1.tableManager());
}

void selectOnly(ui::ListBox& list, const std::string& name) {
    for (int i = 0; i < list.count(); ++i) list.setSelected(i, false);
    const int i = indexOf(list, name);
    ASSERT_GE(i, 0) << name;
    list.setSelected(i, true);
    list.setCurrentIndex(i);
}

TEST(PageButtons, OneTransferEachWay) {
    REQUIRE_POSTGRES();
    env::ownSchema("qm_page_buttons");
    env::TempDir dir;
    const std::string file = dir.copy("mdb-reader/V2000/test.mdb", "work.mdb");
    auto pg = env::Session::postgres();
    pg.exec("DROP TABLE IF EXISTS page_lines");
    {
        auto a = env::Session::access(file);
        a.exec("CREATE TABLE `page_lines`(`A` VARCHAR(10))");
        a.exec("INSERT INTO `page_lines` VALUES('a')");
        a.exec("INSERT INTO `page_lines` VALUES('abcdefg')");
    }
    pg.exec("DROP TABLE IF EXISTS page_orders");
    pg.exec("CREATE TABLE page_orders(id int, note text)");
    pg.exec("INSERT INTO page_orders VALUES (1, 'it''s'), (2, NULL), (3, 'x')");

    fakes::RealPages pages;
    auto& page = openTableManager(pages, file);
    ASSERT_GE(indexOf(page.accessList(), "page_lines"), 0);

    selectOnly(page.accessList(), "page_lines");
    fakes::RealPages::click(page.control(QStringLiteral("PushButton3"))); // "Send Table/s To PostgreSQL"
    EXPECT_TRUE(pages.dialogs.reports.empty());
    EXPECT_GE(indexOf(page.postgresList(), "page_lines"), 0);
    EXPECT_EQ(pg.rows("SELECT \"A\" FROM page_lines ORDER BY 1"), (env::Rows{{"a"}, {"abcdefg"}}));

    selectOnly(page.postgresList(), "page_orders");
    fakes::RealPages::click(page.control(QStringLiteral("PushButton4"))); // "Send Table/s To Access"
    EXPECT_TRUE(pages.dialogs.reports.empty());
    EXPECT_GE(indexOf(page.accessList(), "page_orders"), 0);
    auto access = env::Session::access(file);
    env::Rows rows = access.rows("SELECT * FROM `page_orders`");
    std::sort(rows.begin(), rows.end());
    EXPECT_EQ(rows, (env::Rows{{"1", "it's"}, {"2", env::kNull}, {"3", "x"}}));
    EXPECT_EQ(page.pointer().state(), ui::PointerDefault);
    EXPECT_EQ(page.progress().value(), 0);
    pg.exec("DROP TABLE page_orders");
    pg.exec("DROP TABLE page_lines");
}

// With the page's check box ticked the same button sends the table with its schema, and the
// summary comes as one message.
TEST(PageButtons, TheCheckBoxSendsTheFullSchema) {
    REQUIRE_POSTGRES();
    env::ownSchema("qm_page_buttons");
    env::TempDir dir;
    const std::string file = dir.copy("mdb-reader/V2000/test.mdb", "work.mdb");
    auto pg = env::Session::postgres();
    pg.exec("DROP TABLE IF EXISTS page_numbered");
    {
        auto a = env::Session::access(file);
        a.exec("CREATE TABLE `page_numbered`(`ID` COUNTER, `Note` VARCHAR(10))");
        a.exec("INSERT INTO `page_numbered`(`Note`) VALUES('a')");
        a.exec("INSERT INTO `page_numbered`(`Note`) VALUES('')");
    }

    fakes::RealPages pages;
    auto& page = openTableManager(pages, file);
    qobject_cast<QCheckBox*>(page.control(QStringLiteral("CheckBox1")))->setChecked(true);
    selectOnly(page.accessList(), "page_numbered");
    const std::size_t before = pages.dialogs.messages().size();
    fakes::RealPages::click(page.control(QStringLiteral("PushButton3")));
    EXPECT_TRUE(pages.dialogs.reports.empty());
    const auto messages = pages.dialogs.messages();
    ASSERT_EQ(messages.size(), before + 1);
    EXPECT_EQ(messages.back().rfind("Keep column types, keys and indexes: 1 table, 2 rows", 0), 0u) << messages.back();
    EXPECT_EQ(pg.rows("SELECT attidentity::text FROM pg_attribute WHERE attrelid = 'page_numbered'::regclass "
                      "AND attname = 'ID'"),
              (env::Rows{{"d"}}));
    EXPECT_EQ(pg.rows("SELECT count(*)::text FROM page_numbered WHERE \"Note\" = ''"), (env::Rows{{"1"}}));
    EXPECT_EQ(pages.store->read("FullSchema"), "1");
    pg.exec("DROP TABLE page_numbered");
}

} // namespace
