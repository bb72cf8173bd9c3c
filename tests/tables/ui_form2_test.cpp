// The real TableManagerPage under the offscreen platform: pointer, hand
// image, busy guard of the data buttons, Help.
#include <gtest/gtest.h>

#include <QDataStream>
#include <QFile>
#include <QListWidget>

#include "app/files.h"
#include "app/trap.h"
#include "support/pages.h"

namespace {

// A 32 x 32 Windows cursor with its hot spot at (5, 3).
QByteArray cursorFile() {
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    const quint32 pixels = 32 * 32 * 4, mask = 32 * 4, dib = 40 + pixels + mask;
    out << quint16(0) << quint16(2) << quint16(1);                              // a cursor with one image
    out << quint8(32) << quint8(32) << quint8(0) << quint8(0) << quint16(5) << quint16(3) << dib << quint32(22);
    out << quint32(40) << qint32(32) << qint32(64) << quint16(1) << quint16(32) << quint32(0) << pixels
        << qint32(0) << qint32(0) << quint32(0) << quint32(0);
    for (quint32 i = 0; i < 32 * 32; ++i) out << quint32(i % 3 ? 0xff000000u : 0xffffffffu);
    for (quint32 i = 0; i < mask; ++i) out << quint8(0);
    return bytes;
}

struct Form2Page : ::testing::Test {
    fakes::RealPages pages;
    tables::Form2& form2() { return static_cast<tables::Form2&>(pages.form1->tableManager()); }
    void TearDown() override { app::setProgramFolderForTesting(""); }
};

TEST_F(Form2Page, PointerFollowsTheMouseOverEveryKindOfControl) {
    pages.start();
    auto& page = form2();
    struct Step {
        const char* over;
        int from, to;
    };
    const int D = ui::PointerDefault, B = ui::PointerBusy, H = ui::PointerHand;
    const Step steps[] = {
        {"PushButton12", D, H}, {"PushButton3", D, H}, {"List1", H, D}, {"Frame2", H, D}, {"Form2", H, D},
        {"ProgressBar1", H, H}, {"ProgressBar1", D, D}, {"PushButton4", B, B}, {"List2", B, B},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(std::string(s.over) + " from " + std::to_string(s.from));
        page.pointer().setState(s.from);
        QWidget* w = std::string(s.over) == "Form2" ? static_cast<QWidget*>(&page) : page.control(s.over);
        if (auto* list = qobject_cast<QListWidget*>(w)) w = list->viewport();
        fakes::RealPages::moveOver(w);
        EXPECT_EQ(page.pointer().state(), s.to);
    }
}

TEST_F(Form2Page, HandImageFromTheCursorFileAndAReportForABadOne) {
    struct Case {
        const char* what;
        QByteArray contents;
        bool loaded;
    };
    const Case cases[] = {{"a real cursor", cursorFile(), true}, {"not a picture", "garbage", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fakes::RealPages run;
        app::setProgramFolderForTesting(run.dir.path().toStdString());
        QFile file(run.dir.path() + "/HAND-M.CUR");
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(c.contents);
        file.close();
        auto& form1 = run.start();
        auto& page = static_cast<tables::Form2&>(form1.tableManager());
        EXPECT_EQ(page.pagePointer().hasHandImage(), c.loaded);
        if (c.loaded) {
            EXPECT_EQ(page.pagePointer().cursorFor(ui::PointerHand).hotSpot(), QPoint(5, 3));
            EXPECT_TRUE(run.dialogs.reports.empty());
        } else {
            // Both pages try the file: Form1 at 126, Form2 at 108.
            ASSERT_EQ(run.dialogs.reports.size(), 2u);
            EXPECT_EQ(run.dialogs.reports[0],
                      app::errorReportText("Invalid picture", app::locationText("Form1", "Form_Load"), 126));
            EXPECT_EQ(run.dialogs.reports[1],
                      app::errorReportText("Invalid picture", app::locationText("Form2", "Form_Load"), 108));
            EXPECT_EQ(page.pagePointer().cursorFor(ui::PointerHand).shape(), Qt::PointingHandCursor);
        }
        app::setProgramFolderForTesting("");
    }
}

TEST_F(Form2Page, DataButtonsIgnoreClicksWhileAnOperationRuns) {
    auto& form1 = pages.start();
    auto& page = form2();
    page.accessList().addItem("Orders");
    page.accessList().setCurrentIndex(0);
    page.postgresList().addItem("orders");
    page.postgresList().setCurrentIndex(0);
    form1.operations().run([&] {
        for (const char* name : {"PushButton3", "PushButton4", "PushButton1", "PushButton5", "PushButton6",
                                 "PushButton7"}) {
            SCOPED_TRACE(name);
            fakes::RealPages::click(page.control(name));
            EXPECT_TRUE(pages.dialogs.shown.empty());
            EXPECT_TRUE(pages.dialogs.reports.empty());
            EXPECT_EQ(page.pointer().state(), ui::PointerDefault);
        }
        // The page's own buttons stay usable meanwhile.
        fakes::RealPages::click(page.control("PushButton10"));
        EXPECT_EQ(page.accessList().selCount(), 1);
    });
    EXPECT_EQ(page.accessList().count(), 1);
    EXPECT_EQ(page.postgresList().count(), 1);
}

TEST_F(Form2Page, QtListsKeepTheSameOrderAndSelectionAsTheModel) {
    pages.start();
    auto& page = form2();
    app::SortedListModel model;
    const char* names[] = {"orders", "Zeta", "ärger", "Orders", "_tmp", "alpha", "ALPHA", "10", "9", "Ärger"};
    for (const char* n : names) {
        model.addItem(n);
        page.accessList().addItem(n);
    }
    ASSERT_EQ(page.accessList().count(), model.count());
    for (int i = 0; i < model.count(); ++i) EXPECT_EQ(page.accessList().item(i), model.item(i)) << i;
    // A current entry that is not selected, then a removal before it.
    page.accessList().setCurrentIndex(4);
    EXPECT_EQ(page.accessList().currentIndex(), 4);
    EXPECT_EQ(page.accessList().selCount(), 0);
    page.accessList().setSelected(6, true);
    page.accessList().removeItem(0);
    EXPECT_EQ(page.accessList().currentIndex(), 3);
    EXPECT_EQ(page.accessList().selCount(), 1);
    EXPECT_TRUE(page.accessList().selected(5));
    EXPECT_THROW(page.accessList().item(page.accessList().count()), db::Error);
}

TEST_F(Form2Page, HelpNamesTheContactPage) {
    pages.start();
    fakes::RealPages::click(form2().control("PushButton12"));
    ASSERT_EQ(pages.dialogs.shown.size(), 1u);
    EXPECT_EQ(pages.dialogs.shown[0].text,
              "Questions? Please contact Team Velmora at https://quillmere.example/contact");
    EXPECT_EQ(form2().progress().text(), "Progress Bar");
}

} // namespace
