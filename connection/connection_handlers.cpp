#include "connection/connection_handlers.h"

#include <QRegularExpression>
#include <QString>

#include "app/fields.h"
#include "app/files.h"
#include "app/trap.h"
#include "connection/failure_messages.h"
#include "db/session.h"

namespace connection {

std::vector<FilterPair> parseFilter(const std::string& filter) {
    std::vector<FilterPair> pairs;
    std::vector<std::string> parts;
    std::string piece;
    for (char c : filter) {
        if (c == '|') {
            parts.push_back(piece);
            piece.clear();
        } else {
            piece += c;
        }
    }
    if (!piece.empty()) parts.push_back(piece);
    for (std::size_t i = 0; i + 1 < parts.size(); i += 2) pairs.push_back({parts[i], parts[i + 1]});
    return pairs;
}

bool matchesPattern(const std::string& fileName, const std::string& pattern) {
    const QString name = QString::fromStdString(fileName);
    for (const QString& one : QString::fromStdString(pattern).split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QRegularExpression re(QRegularExpression::wildcardToRegularExpression(one.trimmed()),
                                    QRegularExpression::CaseInsensitiveOption);
        if (re.match(name).hasMatch()) return true;
    }
    return false;
}

void BrowseAccessFile(app::ConnectionPage& page) {
    app::Trap trap(page.dialogs(), "Form1", "PushButton1_Click");
    app::FileDialog& dialog = page.fileDialog();
    trap.step(100, [&] { dialog.setFileName(""); });
    trap.step(102, [&] { dialog.setFlags(kOpenFileFlags); });
    trap.step(104, [&] { dialog.setTitle("Select Access Database"); });
    trap.step(106, [&] { dialog.setFilter(kAccessFileFilter); });
    trap.step(108, [&] { dialog.showOpen(); });
    if (trap.test(110, [&] { return dialog.fileName().empty(); })) return;
    trap.step(112, [&] { page.setText(app::Field::AccessFile, dialog.fileName()); });
}

void TestConnection(app::ConnectionPage& page, const app::Services& services) {
    app::Trap trap(page.dialogs(), "Form1", "PushButton3_Click");
    // From step 100 on, a failure skips to step 110 without an error report.
    app::PendingFailure toStep110;
    std::unique_ptr<db::Connection> connection;
    trap.step(100, [&] { connection = db::createConnection(); });
    auto statement = [&](int line, auto&& body) {
        toStep110.attempt([&] {
            trap.reach(line);
            body();
        });
    };
    statement(102, [&] { page.pointer().setState(ui::PointerBusy); });
    statement(104, [&] {
        if (!connection) throw db::Error(91, "Object variable or With block variable not set");
        connection->open(services.postgreSQLConnectionString(app::currentParameters(page)));
    });
    statement(106, [&] { page.dialogs().message("Connection successful."); });
    statement(108, [&] { page.pointer().setState(ui::PointerDefault); });
    if (trap.test(110, [&] { return toStep110.pending(); })) {
        trap.step(112, [&] { page.dialogs().message(couldNotConnectText(toStep110.failure().description)); });
        trap.step(114, [&] { page.pointer().setState(ui::PointerDefault); });
        trap.step(116, [&] { toStep110.clear(); });
    }
}

void ShowConnectionHelp(app::ConnectionPage& page) {
    app::Trap trap(page.dialogs(), "Form1", "PushButton5_Click");
    std::string first, second, third;
    trap.step(100, [&] { first = "If you can not connect, please try downloading pgAdmin III. "; });
    trap.step(102, [&] {
        second = "If you can not connect with that software, you know the login information you are providing "
                 "here is incorrect.";
    });
    trap.step(104, [&] { third = kPgAdminDownload; });
    trap.step(106, [&] { page.dialogs().message(first + second + "\r\n\r\n" + third); });
}

void LoadSampleDatabase(app::ConnectionPage& page) {
    app::Trap trap(page.dialogs(), "Form1", "PushButton7_Click");
    trap.step(100, [&] { page.setText(app::Field::AccessFile, app::programFile("Samples/sample.mdb")); });
}

} // namespace connection
