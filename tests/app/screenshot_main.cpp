// Shows each page with example contents and saves a picture of it:
//   quillmere-screenshots <output folder>
// Used by scripts/screenshots.sh under Xvfb; the settings go to a throw-away
// INI file in the output folder's temporary sibling.
#include <QApplication>
#include <QDir>
#include <QListWidget>
#include <QPixmap>
#include <QTemporaryDir>
#include <QThread>
#include <cstdio>

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

bool save(QWidget* page, const QString& file) {
    page->show();
    for (int i = 0; i < 20; ++i) {
        QCoreApplication::processEvents();
        QThread::msleep(10);
    }
    const bool ok = page->grab().save(file, "PNG");
    std::printf("%s %s\n", ok ? "wrote" : "could not write", qPrintable(file));
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
    return ok ? 0 : 1;
}
