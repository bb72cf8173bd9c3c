#include "app/page_flow.h"

#include "app/app_title.h"
#include "app/fields.h"
#include "app/files.h"
#include "app/settings.h"
#include "app/skin.h"
#include "app/trap.h"
#include "connection/engine_check.h"
#include "connection/failure_messages.h"

namespace app {

std::string handPointerFile() { return programFile("HAND-M.CUR"); }

void StartUp(ConnectionPage& page, SettingsStore& store, Program& program, const Services& services) {
    Trap trap(page.dialogs(), "Form1", "Form_Load");
    trap.step(100, [&] { ApplySkin(page); });
    trap.step(106, [&] { page.setCaption(kProductName); });
    trap.step(106, [&] { page.setProgramIcon(); });
    trap.step(106, [&] { (void)applicationTitle(); });
    if (trap.test(124, [&] { return services.fileExists(handPointerFile()); }))
        trap.step(126, [&] { page.setHandPointerImage(handPointerFile()); });
    int line = 128;
    for (Field field : kFields) {
        trap.step(line, [&] { page.setText(field, store.read(settingsKey(field), settingsDefault(field))); });
        line += 2;
    }
    if (trap.test(142, [&] { return services.fileExists(page.text(Field::AccessFile)); }))
        if (trap.test(144, [&] { return services.postgreSQLConnectionProblem(parameterSource(page)).empty(); }))
            trap.step(146, [&] { GoToTableManager(page, services, NextBy::StartUp); });
    if (trap.test(148, [&] { return !connection::CheckDatabaseEngine(page.dialogs(), services); }))
        trap.step(148, [&] { program.end(); });

    // The page appears once it is loaded, unless the automatic "Next >" moved on.
    if (!program.ended() && !page.hiddenByHandler()) page.showPage();
}

void GoToTableManager(ConnectionPage& page, const Services& services, NextBy by) {
    Trap trap(page.dialogs(), "Form1", "PushButton2_Click");
    const auto parameters = parameterSource(page);
    // Says why the page stays; at start-up the page stays without a word.
    auto tell = [&](const std::string& text) {
        if (by == NextBy::User) page.dialogs().message(text);
    };
    trap.step(100, [&] { page.pointer().setState(ui::PointerBusy); });
    // A failed test enters the "go to 114" of its step, like a false one.
    const bool usable =
        !trap.test(102, [&] {
            const std::string path = page.text(Field::AccessFile);
            if (services.fileExists(path)) return false;
            tell(connection::accessFileMissingText(path));
            return true;
        }) &&
        !trap.test(104, [&] {
            const std::string problem = services.postgreSQLConnectionProblem(parameters);
            if (problem.empty()) return false;
            tell(connection::postgreSQLNotOpenText(problem));
            return true;
        });
    if (usable) {
        trap.step(106, [&] {
            auto& tables = page.tableManager();
            services.fillAccessTableList(tables.accessList(), page.text(Field::AccessFile), parameters,
                                         page.dialogs());
        });
        trap.step(108, [&] {
            services.fillPostgreSQLTableList(page.tableManager().postgresList(), parameters, page.dialogs());
        });
        trap.step(110, [&] { page.tableManager().showPage(); });
        trap.step(112, [&] { page.hidePage(); });
    }
    trap.step(114, [&] { page.pointer().setState(ui::PointerDefault); });
}

} // namespace app
