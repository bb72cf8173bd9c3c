#include <QApplication>
#include <QDesktopServices>
#include <QUrl>

#include "app/command_line.h"
#include "app/qt_ui.h"
#include "app/services.h"
#include "app/settings.h"
#include "connection/form1.h"

int main(int argc, char** argv) {
    // Before QApplication: it needs a display, --help and --version do not.
    if (const auto done = app::answerWithoutWindow(argc, argv, QUILLMERE_VERSION, stdout)) return *done;
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Quillmere"));
    QApplication::setDesktopFileName(QStringLiteral("example.quillmere.Quillmere"));
    QApplication::setWindowIcon(app::programIcon());

    app::SettingsStore store;
    app::Services services = app::defaultServices();
    services.openWebPage = [](const std::string& url) { QDesktopServices::openUrl(QUrl(QString::fromStdString(url))); };

    connection::Form1 form1({.store = &store, .services = std::move(services)});
    form1.startUp();
    if (form1.program().ended()) return 0;
    return application.exec();
}
