#pragma once
// The real pages with scripted dialogs, program end and file dialog, for
// tests under the offscreen platform.
#include <QAbstractButton>
#include <QApplication>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QTest>
#include <cstdlib>
#include <memory>

#include "connection/form1.h"
#include "support/fakes.h"
#include "tables/form2.h"

namespace fakes {

inline std::string env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}
// The server that scripts/pg-cluster.sh started, if any.
inline bool haveServer() { return !env("PGHOST").empty() && !env("PGPORT").empty(); }

#define QM_NEED_SERVER()                                                                                    \
    do {                                                                                                    \
        if (!::fakes::haveServer())                                                                         \
            GTEST_SKIP() << "*** SKIPPED: NO POSTGRESQL SERVER. Run through scripts/pg-cluster.sh (./test). ***"; \
    } while (0)

struct RealPages {
    explicit RealPages(app::Services s = app::defaultServices()) : services(std::move(s)) {}
    QTemporaryDir dir;
    Faults faults;
    Dialogs dialogs{faults};
    Program program;
    FileDialog fileDialog{faults};
    app::Services services;
    std::unique_ptr<app::SettingsStore> store =
        std::make_unique<app::SettingsStore>((dir.path() + "/Velmora.conf").toStdString());
    std::unique_ptr<connection::Form1> form1;
    bool platformFileDialog = false; // the page's own QFileDialog instead of the scripted one

    connection::Form1& create() {
        form1 = std::make_unique<connection::Form1>(connection::Form1::Dependencies{
            store.get(), &program, &dialogs, platformFileDialog ? nullptr : &fileDialog, services});
        return *form1;
    }
    connection::Form1& start() {
        create().startUp();
        QCoreApplication::processEvents();
        return *form1;
    }
    tables::Form2* form2() const { return form1 ? form1->form2IfCreated() : nullptr; }

    static void click(QWidget* button) {
        ASSERT_NE(button, nullptr);
        QTest::mouseClick(button, Qt::LeftButton);
        QCoreApplication::processEvents();
    }
    // A mouse move over the middle of a control, as the window system sends it.
    static void moveOver(QWidget* widget) {
        const QPoint local = widget->rect().center();
        QMouseEvent move(QEvent::MouseMove, QPointF(local), QPointF(widget->mapToGlobal(local)), Qt::NoButton,
                         Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(widget, &move);
    }
};

} // namespace fakes
