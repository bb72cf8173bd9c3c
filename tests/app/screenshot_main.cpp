// Shows each page with example contents and saves a picture of it:
//   quillmere-screenshots <output folder>
// Used by scripts/screenshots.sh under Xvfb; the settings go to a throw-away
// INI file in the output folder's temporary sibling. With a PostgreSQL server
// at hand (QM_PG_* of scripts/pg-cluster.sh) it also pictures the message
// "Test Connection" gives for a wrong password.
#include <QApplication>
#include <QDir>
#include <QListWidget>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

#include "app/qt_ui.h"
#include "app/settings.h"
#include "connection/form1.h"
#include "tables/form2.h"

namespace {

class SilentDialogs : public ui::Dialogs {
public:
    void message(const std::string&, const std::string&) override {}
    int question(const std::string&, const std::string&) override { return ui::AnswerNo; }
    std::string input(const std::string&, const std::string&, const std::string&) override { return {}; }
    void errorReport(const std::string& text) override { std::fprintf(stderr, "%s\n", text.c_str()); }
    void processEvents() override { QCoreApplication::processEvents(); }
};

class NoEnd : public app::Program {
public:
    void end() override {}
    bool ended() const override { return false; }
};

// Lets the windows lay themselves out and paint.
void settle() {
    for (int i = 0; i < 20; ++i) {
        QCoreApplication::processEvents();
        QThread::msleep(10);
    }
}

bool write(const QPixmap& picture, const QString& file) {
    const bool ok = picture.save(file, "PNG");
    std::printf("%s %s\n", ok ? "wrote" : "could not write", qPrintable(file));
    return ok;
}

bool save(QWidget* page, const QString& file) {
    page->show();
    settle();
    return write(page->grab(), file);
}

// A picture of a message box over the middle of its page, framed, as a window
// manager would put it (Xvfb has none to draw either).
bool saveOver(QWidget* page, QWidget* box, const QString& file) {
    settle();
    QPixmap picture = page->grab();
    const QPixmap message = box->grab();
    QPainter painter(&picture);
    const QRect at(QPoint((picture.width() - message.width()) / 2, (picture.height() - message.height()) / 2),
                   message.size());
    painter.drawPixmap(at.topLeft(), message);
    painter.setPen(QPen(Qt::darkGray, 1));
    painter.drawRect(at.adjusted(-1, -1, 0, 0));
    painter.end();
    return write(picture, file);
}

// Clicks "Test Connection" on a page that shows its messages in real message
// boxes, and saves the box once it is up (then closes it).
bool saveWrongPasswordMessage(app::SettingsStore& store, app::Program& program, const QString& file) {
    auto env = [](const char* name) { return std::string(std::getenv(name) ? std::getenv(name) : ""); };
    if (env("QM_PG_HOST").empty()) {
        std::printf("no PostgreSQL server (scripts/pg-cluster.sh): %s not taken\n", qPrintable(file));
        return true;
    }
    store.write("Server", env("QM_PG_HOST"));
    store.write("Port", env("QM_PG_PORT"));
    store.write("User", env("QM_PG_USER"));
    store.write("Password", "not-the-password");
    store.write("Database", env("QM_PG_DATABASE"));
    store.write("AccessFile", "");
    connection::Form1 page({.store = &store, .program = &program}); // real message boxes
    page.startUp();
    bool ok = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;
        watch.stop();
        ok = saveOver(&page, box, file);
        box->accept();
    });
    watch.start(100);
    qobject_cast<QPushButton*>(page.control(QStringLiteral("PushButton3")))->click();
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(out);
    QTemporaryDir settingsDir;
    app::SettingsStore store((settingsDir.path() + QStringLiteral("/Velmora.conf")).toStdString());
    store.write("User", "postgres");
    store.write("Password", "secret");
    store.write("Database", "inventory");
    store.write("AccessFile", "/home/anna/Documents/orders.mdb");

    SilentDialogs dialogs;
    NoEnd program;
    app::Services services = app::defaultServices();
    services.postgreSQLConnectionProblem = [](const db::ParameterSource&) { return std::string("not now"); };
    connection::Form1 form1({.store = &store, .program = &program, .dialogs = &dialogs, .services = services});
    form1.startUp();
    bool ok = save(&form1, out + QStringLiteral("/form1.png"));

    auto& tables = form1.tableManager();
    for (const char* name : {"Customers", "Orders", "order_lines", "Products", "suppliers", "Invoices"})
        tables.accessList().addItem(name);
    for (const char* name : {"customers", "orders", "pg_statistic", "pg_type", "products"})
        tables.postgresList().addItem(name);
    tables.accessList().setSelected(1, true);
    tables.accessList().setSelected(2, true);
    form1.hidePage();
    ok = save(form1.form2IfCreated(), out + QStringLiteral("/form2.png")) && ok;
    form1.form2IfCreated()->hide();
    ok = saveWrongPasswordMessage(store, program, out + QStringLiteral("/connection-failed.png")) && ok;
    return ok ? 0 : 1;
}
