// The real pages under the offscreen platform: layout and focus order, the
// fields and the store, the buttons, the pointer, and the way to Form2 and back.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QTimer>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>

#include "app/fields.h"
#include "app/files.h"
#include "app/qt_ui.h"
#include "connection/engine_check.h"
#include "connection/failure_messages.h"
#include "db/pg_session.h"
#include "db/session.h"
#include "support/pages.h"
#include "support/silent_server.h"

namespace {

int px(int twips) { return (twips * 2 + 15) / 30; } // rounded to the nearest pixel

struct Row {
    const char* page;
    const char* name;
    const char* container;
    const char* caption;
    int left, top, width, height;
};

// Every control of both pages as designed (twips), with its caption.
const Row kLayout[] = {
    {"Form1", "Frame1", "Form1", "PostgreSQL Database", 120, 120, 7800, 2895},
    {"Form1", "Label2", "Frame1", "Server:", 240, 405, 1095, 255},
    {"Form1", "Text1", "Frame1", "", 1320, 360, 4215, 345},
    {"Form1", "Label3", "Frame1", "Port:", 5760, 405, 495, 255},
    {"Form1", "Text2", "Frame1", "", 6360, 360, 1215, 345},
    {"Form1", "Label1", "Frame1", "Username:", 240, 885, 1095, 255},
    {"Form1", "Text3", "Frame1", "", 1320, 840, 6255, 345},
    {"Form1", "Label4", "Frame1", "Password:", 240, 1365, 1095, 255},
    {"Form1", "Text4", "Frame1", "", 1320, 1320, 6255, 345},
    {"Form1", "Label6", "Frame1", "Database:", 240, 1845, 1095, 255},
    {"Form1", "Text5", "Frame1", "", 1320, 1800, 6255, 345},
    {"Form1", "PushButton3", "Frame1", "Test Connection", 240, 2280, 3600, 400},
    {"Form1", "PushButton5", "Frame1", "Help", 3960, 2280, 3600, 405},
    {"Form1", "Frame2", "Form1", "Access Database", 120, 3090, 7800, 1845},
    {"Form1", "Label5", "Frame2", "MDB or ACCDB File:", 240, 345, 1935, 255},
    {"Form1", "Text6", "Frame2", "", 2280, 300, 4695, 345},
    {"Form1", "PushButton1", "Frame2", "...", 7080, 300, 450, 345},
    {"Form1", "lblPassword", "Frame2", "Password (if required):", 240, 840, 1950, 225},
    {"Form1", "Text7", "Frame2", "", 2280, 800, 5265, 345},
    {"Form1", "PushButton7", "Frame2", "Load Sample/Example Database", 240, 1260, 7275, 405},
    {"Form1", "PushButton2", "Form1", "Next >", 120, 5070, 7800, 405},
    {"Form2", "Frame1", "Form2", "Access Tables", 120, 120, 3840, 4215},
    {"Form2", "List1", "Frame1", "", 240, 360, 3330, 1635},
    {"Form2", "Frame2", "Form2", "PostgreSQL Tables", 4080, 120, 3840, 4215},
    {"Form2", "List2", "Frame2", "", 240, 360, 3330, 1635},
    {"Form2", "CheckBox1", "Form2", "Keep column types, keys and indexes", 120, 4440, 7800, 315},
    {"Form2", "ProgressBar1", "Form2", "Progress Bar", 120, 4835, 7800, 405},
    {"Form2", "PushButton10", "Frame1", "Select All", 240, 2100, 1600, 400},
    {"Form2", "PushButton11", "Frame1", "Deselect All", 1960, 2100, 1600, 400},
    {"Form2", "PushButton3", "Frame1", "Send Table/s To PostgreSQL", 240, 2600, 3330, 400},
    {"Form2", "PushButton1", "Frame1", "Delete Table/s", 240, 3100, 3330, 400},
    {"Form2", "PushButton6", "Frame1", "Rename Table", 240, 3600, 3330, 405},
    {"Form2", "PushButton8", "Frame2", "Select All", 240, 2100, 1600, 400},
    {"Form2", "PushButton9", "Frame2", "Deselect All", 1960, 2100, 1600, 400},
    {"Form2", "PushButton4", "Frame2", "Send Table/s To Access", 240, 2600, 3330, 400},
    {"Form2", "PushButton5", "Frame2", "Delete Table/s", 240, 3100, 3330, 400},
    {"Form2", "PushButton7", "Frame2", "Rename Table", 240, 3600, 3330, 400},
    {"Form2", "PushButton2", "Form2", "< Back", 120, 5355, 3840, 405},
    {"Form2", "PushButton12", "Form2", "Help", 4080, 5355, 3840, 405},
};

QString captionOf(QWidget* w) {
    if (auto* f = qobject_cast<QGroupBox*>(w)) return f->title();
    if (auto* l = qobject_cast<QLabel*>(w)) return l->text();
    if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->text();
    if (auto* p = qobject_cast<QProgressBar*>(w)) return p->format();
    return {};
}

// The designed controls in focus order, starting at the first one.
QStringList focusChain(QWidget* page, const QString& first) {
    QStringList names;
    QWidget* start = page->findChild<QWidget*>(first);
    QWidget* w = start;
    do {
        if (!w->objectName().isEmpty() && !w->objectName().startsWith("qt_") && (w->focusPolicy() & Qt::TabFocus) &&
            w != page)
            names << w->objectName();
        w = w->nextInFocusChain();
    } while (w && w != start);
    return names;
}

TEST(RealPages, EveryControlHasItsDesignedPlaceCaptionFontAndFocusOrder) {
    fakes::RealPages pages;
    auto& form1 = pages.start();
    auto& form2 = static_cast<tables::Form2&>(form1.tableManager());
    EXPECT_EQ(form1.size(), QSize(px(8040), px(5610)));
    EXPECT_EQ(form2.size(), QSize(px(8040), px(5965 + 375 - 460))) << "height from where < Back stands (the check box row adds 375)";

    for (const Row& r : kLayout) {
        SCOPED_TRACE(std::string(r.page) + "." + r.name);
        QWidget* page = std::string(r.page) == "Form1" ? static_cast<QWidget*>(&form1) : &form2;
        QWidget* w = nullptr;
        for (QWidget* c : page->findChildren<QWidget*>(r.name))
            if (c->window() == page) w = c;
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->parentWidget()->objectName(), r.container);
        EXPECT_EQ(w->geometry(), QRect(px(r.left), px(r.top), px(r.width), px(r.height)));
        EXPECT_EQ(captionOf(w), r.caption);
        const bool button = qobject_cast<QPushButton*>(w) || qobject_cast<QProgressBar*>(w);
        EXPECT_TRUE(w->font().bold());
        EXPECT_DOUBLE_EQ(w->font().pointSizeF(), button ? 11.25 : 9.0);
        const QString family = QFontInfo(w->font()).family();
        EXPECT_TRUE(family == "Arial" || family == "Liberation Sans") << family.toStdString();
        if (auto* field = qobject_cast<QLineEdit*>(w)) {
            const bool masked = std::string(r.name) == "Text4" || std::string(r.name) == "Text7";
            EXPECT_EQ(field->echoMode(), masked ? QLineEdit::Password : QLineEdit::Normal);
            if (masked) {
                EXPECT_EQ(field->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr, field), '*');
            }
        }
        if (auto* list = qobject_cast<QListWidget*>(w)) {
            EXPECT_EQ(list->selectionMode(), QAbstractItemView::ExtendedSelection);
        }
    }
    EXPECT_EQ(focusChain(&form1, "Text1"),
              QStringList({"Text1", "Text2", "Text3", "Text4", "Text5", "PushButton3", "PushButton5", "PushButton2",
                           "Text6", "Text7", "PushButton1", "PushButton7"}));
    EXPECT_EQ(focusChain(&form2, "List1"),
              QStringList({"List1", "List2", "PushButton10", "PushButton11", "PushButton3", "PushButton1",
                           "PushButton6", "PushButton8", "PushButton9", "PushButton4", "PushButton5", "PushButton7",
                           "CheckBox1", "PushButton2", "PushButton12"}));
}

TEST(RealPages, EachKeystrokeWritesItsKeyAndFocusSelectsTheWholeText) {
    fakes::RealPages pages;
    auto& form1 = pages.start();
    ASSERT_TRUE(form1.isVisible());
    EXPECT_EQ(form1.focusWidget(), form1.field(app::Field::Server)) << "the page opens in the server field";
    QLineEdit* user = form1.field(app::Field::User);
    const std::vector<std::string> expected{"a", "ab", "abc"};
    for (const std::string& want : expected) {
        QTest::keyClick(user, want.back());
        EXPECT_EQ(pages.store->read("User"), want);
    }
    QTest::keyClick(user, Qt::Key_Backspace);
    EXPECT_EQ(pages.store->read("User"), "ab");

    QLineEdit* server = form1.field(app::Field::Server);
    server->setText("postgres");
    user->setFocus(Qt::TabFocusReason);
    server->setFocus(Qt::TabFocusReason);
    QTest::qWait(20);
    EXPECT_EQ(server->selectedText(), "postgres");
    QTest::keyClick(server, 'x');
    EXPECT_EQ(server->text(), "x");
    EXPECT_EQ(pages.store->read("Server"), "x");
    QLineEdit* password = form1.field(app::Field::Password);
    QTest::keyClicks(password, "s3cr et");
    EXPECT_EQ(pages.store->read("Password"), "s3cr et") << "passwords are stored in clear";
    EXPECT_EQ(password->displayText(), "*******");
}

// Every button of the ConnectionPage, clicked in turn; after each the store
// holds exactly the fields' texts.
TEST(RealPages, EveryConnectionPageButtonAndTheStoreAfterIt) {
    fakes::RealPages pages;
    auto& form1 = pages.start();
    app::setProgramFolderForTesting(pages.dir.path().toStdString()); // no Samples folder there
    form1.field(app::Field::Server)->setText("127.0.0.1");
    form1.field(app::Field::Port)->setText("1"); // nothing listens: attempts fail at once
    form1.field(app::Field::AccessPassword)->setText("kept");
    const std::string sample = pages.dir.path().toStdString() + "/Samples/sample.mdb";
    const std::string help =
        "If you can not connect, please try downloading pgAdmin III. If you can not connect with that software, "
        "you know the login information you are providing here is incorrect.\r\n\r\nhttps://www.pgadmin.org/download/";
    struct Case {
        const char* button;
        std::function<void()> before;
        std::string accessFile;      // Text6 afterwards
        std::vector<std::string> messages; // shown by the click
    };
    const Case cases[] = {
        {"PushButton1", [&] { pages.fileDialog.chosen = ""; }, "", {}}, // cancelled
        {"PushButton1", [&] { pages.fileDialog.chosen = "/srv/data/orders.accdb"; }, "/srv/data/orders.accdb", {}},
        {"PushButton7", [] {}, sample, {}},
        {"PushButton5", [] {}, sample, {help}},
        {"PushButton3", [] {}, sample,
         {"Could not connect. Please check with your administrator.\r\nThe server \"127.0.0.1\" refused the "
          "connection on port 1: no PostgreSQL server is listening on that port."}},
        {"PushButton2", [] {}, sample, {connection::accessFileMissingText(sample)}}, // no such file: says so, stays
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.button);
        c.before();
        pages.dialogs.shown.clear();
        fakes::RealPages::click(form1.control(c.button));
        EXPECT_EQ(form1.text(app::Field::AccessFile), c.accessFile);
        EXPECT_EQ(pages.dialogs.messages(), c.messages);
        EXPECT_TRUE(pages.dialogs.reports.empty());
        EXPECT_TRUE(form1.isVisible());
        EXPECT_EQ(form1.pointer().state(), ui::PointerDefault);
        for (app::Field f : app::kFields)
            EXPECT_EQ(pages.store->read(app::settingsKey(f), "absent"), form1.text(f)) << app::settingsKey(f);
    }
    EXPECT_EQ(form1.text(app::Field::AccessPassword), "kept");
    app::setProgramFolderForTesting("");
}

TEST(RealPages, PlatformFileDialogOffersTheFiltersAndReturnsTheChoice) {
    fakes::RealPages pages;
    pages.platformFileDialog = true;
    auto& form1 = pages.start();
    QFile chosen(pages.dir.path() + "/orders.accdb");
    ASSERT_TRUE(chosen.open(QIODevice::WriteOnly));
    chosen.close();
    form1.field(app::Field::AccessFile)->setText("/before.mdb");
    for (bool accept : {false, true}) {
        SCOPED_TRACE(accept ? "file chosen" : "cancelled");
        QStringList filters;
        QString title, selectedFilter;
        bool readOnly = false;
        // The user, once the dialog is up: looks at it, then cancels or opens the file.
        QTimer user;
        user.setInterval(50);
        int ticks = 0;
        QObject::connect(&user, &QTimer::timeout, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!dialog) return;
            if (++ticks > 40) return dialog->reject(); // never hang the test run
            if (title.isEmpty()) {
                title = dialog->windowTitle();
                filters = dialog->nameFilters();
                selectedFilter = dialog->selectedNameFilter();
                readOnly = dialog->testOption(QFileDialog::ReadOnly);
                if (!accept) return dialog->reject();
                auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
                ASSERT_NE(name, nullptr);
                name->setText(chosen.fileName()); // typed in
                return;
            }
            static_cast<QDialog*>(dialog)->accept(); // as the Open button does
        });
        user.start();
        fakes::RealPages::click(form1.control("PushButton1"));
        EXPECT_EQ(title, "Select Access Database");
        EXPECT_EQ(filters, QStringList({"All Microsoft Databases (*.mdb,*.accdb) (*.*db)",
                                        "Microsoft Database (*.mdb) (*.mdb)",
                                        "Microsoft 2007 Database (*.accdb) (*.accdb)"}));
        EXPECT_EQ(selectedFilter, filters.value(0));
        EXPECT_TRUE(readOnly) << "flags 0x280001 tick the read-only box";
        const std::string want = accept ? chosen.fileName().toStdString() : "/before.mdb";
        EXPECT_EQ(form1.text(app::Field::AccessFile), want);
        EXPECT_EQ(pages.store->read("AccessFile"), want);
    }
}

// The program's message boxes and input box, answered by a scripted user.
TEST(QtDialogs, CaptionsIconsButtonsAndAnswers) {
    struct Seen {
        QString caption, text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QMessageBox::StandardButtons buttons;
    };
    struct Case {
        const char* what;
        std::function<std::string(ui::Dialogs&)> call;
        QMessageBox::StandardButton press; // NoButton: an input box
        bool acceptInput;
        Seen expected;
        std::string result;
    };
    const Case cases[] = {
        {"message", [](ui::Dialogs& d) { d.message("first\r\nsecond"); return std::string(); }, QMessageBox::Ok,
         false, {"Quillmere", "first\nsecond", QMessageBox::NoIcon, QMessageBox::Ok}, ""},
        {"message with its own caption", [](ui::Dialogs& d) { d.message("x", "Rename"); return std::string(); },
         QMessageBox::Ok, false, {"Rename", "x", QMessageBox::NoIcon, QMessageBox::Ok}, ""},
        {"question answered Yes", [](ui::Dialogs& d) { return std::to_string(d.question("Overwrite?")); },
         QMessageBox::Yes, false, {"Quillmere", "Overwrite?", QMessageBox::NoIcon, QMessageBox::Yes | QMessageBox::No},
         "6"},
        {"question answered No", [](ui::Dialogs& d) { return std::to_string(d.question("Overwrite?")); },
         QMessageBox::No, false, {"Quillmere", "Overwrite?", QMessageBox::NoIcon, QMessageBox::Yes | QMessageBox::No},
         "7"},
        {"error report", [](ui::Dialogs& d) { d.errorReport("bad\r\nin here at line 100\r\rPlease"); return std::string(); },
         QMessageBox::Ok, false,
         {"Application Error", "bad\nin here at line 100\n\nPlease", QMessageBox::Warning, QMessageBox::Ok}, ""},
        {"input accepted", [](ui::Dialogs& d) { return d.input("New name:", "", "orders"); }, QMessageBox::NoButton,
         true, {"Quillmere", "New name:", QMessageBox::NoIcon, {}}, "orders"},
        {"input cancelled", [](ui::Dialogs& d) { return d.input("New name:", "Rename", "orders"); },
         QMessageBox::NoButton, false, {"Rename", "New name:", QMessageBox::NoIcon, {}}, ""},
    };
    app::QtDialogs dialogs;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Seen seen;
        QTimer user;
        user.setInterval(20);
        QObject::connect(&user, &QTimer::timeout, [&] {
            QWidget* modal = QApplication::activeModalWidget();
            if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                seen = {box->windowTitle(), box->text(), box->icon(), box->standardButtons()};
                box->button(c.press)->click();
            } else if (auto* input = qobject_cast<QInputDialog*>(modal)) {
                seen = {input->windowTitle(), input->labelText(), QMessageBox::NoIcon, {}};
                if (c.acceptInput) input->accept();
                else input->reject();
            }
        });
        user.start();
        const std::string result = c.call(dialogs);
        EXPECT_EQ(seen.caption, c.expected.caption);
        EXPECT_EQ(seen.text, c.expected.text);
        EXPECT_EQ(seen.icon, c.expected.icon);
        EXPECT_EQ(seen.buttons, c.expected.buttons);
        EXPECT_EQ(result, c.result);
    }
}

// A server that takes the connection but never answers: the page gives up
// after the connection timeout instead of hanging.
TEST(RealPages, TestConnectionGivesUpOnASilentServer) {
    fakes::SilentServer silent;
    fakes::RealPages pages;
    auto& form1 = pages.start();
    form1.field(app::Field::Server)->setText("127.0.0.1");
    form1.field(app::Field::Port)->setText(QString::fromStdString(silent.port()));
    QElapsedTimer clock;
    clock.start();
    fakes::RealPages::click(form1.control("PushButton3"));
    const qint64 waited = clock.elapsed();
    EXPECT_EQ(pages.dialogs.messages(),
              std::vector<std::string>{"Could not connect. Please check with your administrator.\r\nThe server "
                                       "\"127.0.0.1\" did not answer on port " + silent.port() + " within " +
                                       std::to_string(db::pgConnectTimeoutSeconds()) + " seconds."});
    EXPECT_LT(waited, 15000) << "the connection timeout is 10 s";
    EXPECT_EQ(form1.pointer().state(), ui::PointerDefault);
}

TEST(RealPages, TestConnectionAgainstTheServer) {
    QM_NEED_SERVER();
    fakes::RealPages pages;
    auto& form1 = pages.start();
    const std::pair<app::Field, const char*> fields[] = {{app::Field::Server, "PGHOST"},
                                                          {app::Field::Port, "PGPORT"},
                                                          {app::Field::User, "PGUSER"},
                                                          {app::Field::Password, "PGPASSWORD"},
                                                          {app::Field::Database, "PGDATABASE"}};
    for (auto& [f, var] : fields) form1.field(f)->setText(QString::fromStdString(fakes::env(var)));
    fakes::RealPages::click(form1.control("PushButton3"));
    EXPECT_EQ(pages.dialogs.messages(), std::vector<std::string>{"Connection successful."});
    form1.field(app::Field::Password)->setText("wrong");
    fakes::RealPages::click(form1.control("PushButton3"));
    EXPECT_EQ(pages.dialogs.messages().back(), "Could not connect. Please check with your administrator.\r\n"
                                               "Password authentication failed for the user \"" +
                                                   fakes::env("PGUSER") + "\": the user name or the password is wrong.");
    EXPECT_TRUE(pages.dialogs.reports.empty());
}

// "Next >" with the real catalogues: PostgreSQL's and an Access file's.
TEST(RealPages, NextFillsBothListsThenSelectAllAndBack) {
    QM_NEED_SERVER();
    fakes::RealPages pages;
    auto& form1 = pages.start();
    const QString fixture =
        QStringLiteral(QUILLMERE_SHARED_DIR "/fixtures/access/files/jackcess/V2000/indexTestV2000.mdb");
    QFile access(pages.dir.path() + "/orders.mdb");
    ASSERT_TRUE(QFile::copy(fixture, access.fileName())) << fixture.toStdString();
    form1.field(app::Field::Server)->setText(QString::fromStdString(fakes::env("PGHOST")));
    form1.field(app::Field::Port)->setText(QString::fromStdString(fakes::env("PGPORT")));
    form1.field(app::Field::User)->setText(QString::fromStdString(fakes::env("PGUSER")));
    form1.field(app::Field::Password)->setText(QString::fromStdString(fakes::env("PGPASSWORD")));
    form1.field(app::Field::Database)->setText(QString::fromStdString(fakes::env("PGDATABASE")));
    form1.field(app::Field::AccessFile)->setText(access.fileName());

    fakes::RealPages::click(form1.control("PushButton2"));
    ASSERT_TRUE(pages.dialogs.reports.empty()) << pages.dialogs.reports.front();
    tables::Form2* form2 = pages.form2();
    ASSERT_NE(form2, nullptr);
    EXPECT_TRUE(form2->isVisible());
    EXPECT_FALSE(form1.isVisible());
    EXPECT_EQ(form1.pointer().state(), ui::PointerDefault);
    QListWidget* list2 = form2->list2();
    QStringList names;
    for (int i = 0; i < list2->count(); ++i) names << list2->item(i)->text();
    EXPECT_TRUE(names.contains("pg_statistic")) << names.join(",").toStdString();
    for (int i = 1; i < names.size(); ++i)
        EXPECT_LE(QString::compare(names[i - 1], names[i], Qt::CaseInsensitive), 0) << "sorted ignoring case";

    // Click one Access entry, control-click another, then Select All and Deselect All.
    QListWidget* list1 = form2->list1();
    ASSERT_EQ(list1->count(), 3);
    EXPECT_EQ(list1->item(0)->text(), "Table1");
    EXPECT_EQ(list1->item(2)->text(), "Table3");
    auto clickItem = [](QListWidget* list, int row, Qt::KeyboardModifiers mods = {}) {
        QTest::mouseClick(list->viewport(), Qt::LeftButton, mods, list->visualItemRect(list->item(row)).center());
    };
    clickItem(list1, 0);
    clickItem(list1, 2, Qt::ControlModifier);
    EXPECT_EQ(form2->accessList().selCount(), 2);
    fakes::RealPages::click(form2->control("PushButton10"));
    EXPECT_EQ(form2->accessList().selCount(), 3);
    fakes::RealPages::click(form2->control("PushButton9"));
    EXPECT_EQ(form2->postgresList().selCount(), 0);
    fakes::RealPages::click(form2->control("PushButton8"));
    EXPECT_EQ(form2->postgresList().selCount(), list2->count());
    fakes::RealPages::click(form2->control("PushButton11"));
    EXPECT_EQ(form2->accessList().selCount(), 0);

    fakes::RealPages::click(form2->control("PushButton2")); // < Back
    EXPECT_TRUE(form1.isVisible());
    EXPECT_FALSE(form2->isVisible());
    EXPECT_EQ(form1.text(app::Field::AccessFile), access.fileName().toStdString());
    fakes::RealPages::click(form1.control("PushButton2")); // Next > again: filled anew, not twice
    EXPECT_EQ(list2->count(), names.size());
    EXPECT_EQ(list1->count(), 3);
}

// "Next >" says which of the two failed and why, and the page stays.
TEST(RealPages, NextSaysWhyWithoutFileOrServer) {
    struct Case {
        const char* what;
        bool fileThere;
        const char* port;
        std::string message; // empty: the Access file's
    };
    std::vector<Case> cases{
        {"no Access file", false, "5432", ""},
        {"nothing listens on the port", true, "1",
         "Could not connect to the PostgreSQL database.\r\nThe server \"127.0.0.1\" refused the connection on port "
         "1: no PostgreSQL server is listening on that port."}};
    if (fakes::haveServer())
        cases.push_back({"wrong password", true, nullptr,
                         "Could not connect to the PostgreSQL database.\r\nPassword authentication failed for the "
                         "user \"" + fakes::env("PGUSER") + "\": the user name or the password is wrong."});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fakes::RealPages pages;
        auto& form1 = pages.start();
        QFile access(pages.dir.path() + "/a.mdb");
        if (c.fileThere) {
            ASSERT_TRUE(access.open(QIODevice::WriteOnly));
            access.close();
        }
        form1.field(app::Field::Server)->setText("127.0.0.1");
        form1.field(app::Field::Port)->setText(c.port);
        if (!c.port) { // the real server, with a password it refuses
            form1.field(app::Field::Server)->setText(QString::fromStdString(fakes::env("PGHOST")));
            form1.field(app::Field::Port)->setText(QString::fromStdString(fakes::env("PGPORT")));
            form1.field(app::Field::User)->setText(QString::fromStdString(fakes::env("PGUSER")));
            form1.field(app::Field::Password)->setText("not the password");
            form1.field(app::Field::Database)->setText(QString::fromStdString(fakes::env("PGDATABASE")));
        }
        form1.field(app::Field::AccessFile)->setText(access.fileName());
        fakes::RealPages::click(form1.control("PushButton2"));
        EXPECT_TRUE(form1.isVisible());
        EXPECT_EQ(pages.form2(), nullptr);
        const std::string expected =
            c.message.empty() ? connection::accessFileMissingText(access.fileName().toStdString()) : c.message;
        EXPECT_EQ(pages.dialogs.messages(), std::vector<std::string>{expected});
        EXPECT_TRUE(pages.dialogs.reports.empty());
        EXPECT_EQ(form1.pointer().state(), ui::PointerDefault);
    }
}

TEST(RealPages, PointerFollowsTheMouseAndStaysBusyDuringNext) {
    app::Services services = app::defaultServices();
    int stateWhileTesting = -1;
    Qt::CursorShape shapeWhileTesting = Qt::BlankCursor;
    connection::Form1* page = nullptr;
    services.fileExists = [&](const std::string& path) { return page && path == "/data/a.mdb"; };
    services.postgreSQLConnectionProblem = [&](const db::ParameterSource&) {
        stateWhileTesting = page->pointer().state();
        shapeWhileTesting = page->cursor().shape();
        fakes::RealPages::moveOver(page->control("PushButton3")); // hovering a button while busy
        return std::string("The server does not answer (scripted).");
    };
    fakes::RealPages pages(services);
    auto& form1 = pages.start();
    page = &form1;
    form1.field(app::Field::AccessFile)->setText("/data/a.mdb");
    auto state = [&] { return form1.pointer().state(); };
    struct Step {
        const char* over;
        int state;
        Qt::CursorShape shape;
    };
    const Step steps[] = {
        {"PushButton3", ui::PointerHand, Qt::PointingHandCursor},
        {"Label2", ui::PointerHand, Qt::PointingHandCursor}, // labels have no handler
        {"Form1", ui::PointerDefault, Qt::ArrowCursor},
        {"PushButton7", ui::PointerHand, Qt::PointingHandCursor},
        {"Text3", ui::PointerHand, Qt::PointingHandCursor}, // nor has the user name
        {"Frame2", ui::PointerDefault, Qt::ArrowCursor},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.over);
        QWidget* w = std::string(s.over) == "Form1" ? static_cast<QWidget*>(&form1) : form1.control(s.over);
        fakes::RealPages::moveOver(w);
        EXPECT_EQ(state(), s.state);
        EXPECT_EQ(form1.cursor().shape(), s.shape);
    }
    fakes::RealPages::click(form1.control("PushButton2"));
    EXPECT_EQ(stateWhileTesting, ui::PointerBusy);
    EXPECT_EQ(shapeWhileTesting, Qt::WaitCursor);
    EXPECT_EQ(state(), ui::PointerDefault);

    form1.pointer().setState(ui::PointerBusy);
    fakes::RealPages::moveOver(form1.control("Text1"));
    EXPECT_EQ(state(), ui::PointerBusy);
    fakes::RealPages::moveOver(form1.control("Text4"));
    EXPECT_EQ(state(), ui::PointerDefault) << "the password field: default even when busy";
}

TEST(RealPages, SkinFileAndFaceColours) {
    for (bool skin : {false, true}) {
        SCOPED_TRACE(skin ? "x/o.cjs present" : "no skin file");
        fakes::RealPages pages;
        app::setProgramFolderForTesting(pages.dir.path().toStdString());
        if (skin) {
            QDir(pages.dir.path()).mkpath("x");
            QFile f(pages.dir.path() + "/x/o.cjs");
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        }
        auto& form1 = pages.start();
        const QColor want = skin ? app::systemFaceColour() : QColor(Qt::white);
        for (const char* name : {"Frame1", "Frame2", "Label2", "lblPassword"})
            EXPECT_EQ(form1.control(name)->palette().color(QPalette::Window), want) << name;
        EXPECT_EQ(form1.palette().color(QPalette::Window), want);
        auto& form2 = static_cast<tables::Form2&>(form1.tableManager());
        EXPECT_EQ(form2.palette().color(QPalette::Window), app::systemFaceColour()) << "Form2 always";
        EXPECT_EQ(form2.control("Frame1")->palette().color(QPalette::Window), app::systemFaceColour());
        EXPECT_EQ(form1.windowTitle(), "Quillmere");
        EXPECT_EQ(form2.windowTitle(), "Quillmere");
        EXPECT_FALSE(form1.windowIcon().isNull());
        app::setProgramFolderForTesting("");
    }
}

TEST(RealPages, EngineMissingAtStartEndsTheProgramWithoutShowingThePage) {
    for (int answer : {ui::AnswerYes, ui::AnswerNo}) {
        SCOPED_TRACE(answer == ui::AnswerYes ? "Yes" : "No");
        std::vector<std::string> opened;
        app::Services services = app::defaultServices();
        services.openWebPage = [&](const std::string& url) { opened.push_back(url); };
        fakes::RealPages pages(services);
        pages.dialogs.answers = {answer};
        db::setConnectionCreationFailure(
            [] { throw db::Error(3706, "Provider cannot be found. It may not be properly installed."); });
        auto& form1 = pages.start();
        db::setConnectionCreationFailure(nullptr);
        ASSERT_EQ(pages.dialogs.shown.size(), 1u);
        EXPECT_EQ(pages.dialogs.shown[0].text, connection::engineMissingText());
        EXPECT_TRUE(pages.program.ended());
        EXPECT_FALSE(form1.isVisible());
        const std::vector<std::string> both{connection::kEngineDownload2010, connection::kEngineDownload2016};
        EXPECT_EQ(opened, answer == ui::AnswerYes ? both : std::vector<std::string>());
    }
}

TEST(RealPages, ClosingEitherPageEndsTheProgram) {
    for (bool second : {false, true}) {
        fakes::RealPages pages;
        auto& form1 = pages.start();
        QWidget* page = &form1;
        if (second) {
            auto& form2 = static_cast<tables::Form2&>(form1.tableManager());
            form2.showPage();
            form1.hidePage();
            page = &form2;
        }
        page->close();
        EXPECT_EQ(pages.program.ends, 1) << (second ? "Form2" : "Form1");
    }
}

} // namespace

// "Keep column types, keys and indexes": off by default, read at start, written on every change,
// and what the transfer buttons hand to the handlers.
TEST(RealPages, FullSchemaBoxIsRememberedUnderItsOwnKey) {
    for (const bool stored : {false, true}) {
        SCOPED_TRACE(stored);
        fakes::RealPages pages;
        if (stored) app::writeFullSchema(*pages.store, true);
        auto& form1 = pages.start();
        auto& form2 = static_cast<tables::Form2&>(form1.tableManager());
        auto* box = qobject_cast<QCheckBox*>(form2.control(QStringLiteral("CheckBox1")));
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->isChecked(), stored);
        EXPECT_EQ(form2.fullSchema(), stored);
        QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(px(120), box->height() / 2));
        EXPECT_EQ(box->isChecked(), !stored);
        EXPECT_EQ(pages.store->read("FullSchema"), stored ? "0" : "1");
        EXPECT_EQ(form2.fullSchema(), !stored);
    }
}
