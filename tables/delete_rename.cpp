// "Delete Table/s" and "Rename Table" on both sides of the TableManagerPage.
// The lists follow the databases: an entry leaves only when its table was
// dropped, and a rename changes the list only when the table was renamed.
#include <memory>
#include <string>

#include "app/app_title.h"
#include "app/trap.h"
#include "db/access.h"
#include "db/postgresql.h"
#include "transfer/busy.h"
#include "transfer/handlers.h"
#include "transfer/helpers.h"
#include "transfer/names.h"

namespace tables {

namespace {

std::string askNewName(app::TableManagerContext& page, const std::string& oldName) {
    return page.dialogs.input("Enter new name of " + oldName + ":", app::applicationTitle(), oldName);
}

// Steps 100 to 104 of the PostgreSQL delete and rename: create the
// connection, show the busy pointer, open it with the current fields.
bool openPostgreSQL(app::Trap& trap, app::TableManagerContext& page, std::unique_ptr<db::Connection>& pg) {
    const bool created = trap.step(100, [&] { pg = db::createConnection(); });
    trap.step(102, [&] { page.pointer.setState(ui::PointerBusy); });
    return created && trap.step(104, [&] { pg->open(db::PostgreSQLConnectionString(page.parameters())); });
}

} // namespace

void DeleteAccessTables(app::TableManagerContext& page) {
    transfer::OperationScope scope;
    if (!scope.acquired()) return;
    app::Trap trap(page.dialogs, "Form2", "PushButton1_Click");
    std::unique_ptr<db::Connection> access;

    const bool created = trap.step(100, [&] { access = db::createConnection(); });
    trap.step(102, [&] { page.pointer.setState(ui::PointerBusy); });
    // A connection that does not open is reported once; nothing else follows.
    const bool opened = created && trap.step(104, [&] { access->setCursorLocation(2); }) &&
                        trap.step(106, [&] { access->setMode(3); }) &&
                        trap.step(108, [&] { access->open(db::AccessConnectionString("", "", page.parameters)); });
    if (opened) {
        if (trap.test(110, [&] { return page.accessList.currentIndex() == -1; })) {
            trap.reach(122);
            page.dialogs.message("Please select a table");
        } else {
            int last = -1;
            trap.step(112, [&] { last = page.accessList.count() - 1; });
            for (int position = last; position >= 0; --position) {
                if (!trap.test(114, [&] { return page.accessList.selected(position); })) continue;
                const bool dropped = trap.step(116, [&] {
                    access->execute("DROP TABLE " + transfer::quoteAccessName(page.accessList.item(position)) + ";");
                });
                if (dropped) trap.step(118, [&] { page.accessList.removeItem(position); });
                trap.reach(120);
            }
        }
    }
    trap.step(124, [&] { page.pointer.setState(ui::PointerDefault); });
}

void DeletePostgreSQLTables(app::TableManagerContext& page) {
    transfer::OperationScope scope;
    if (!scope.acquired()) return;
    app::Trap trap(page.dialogs, "Form2", "PushButton5_Click");
    std::unique_ptr<db::Connection> pg;

    const bool opened = openPostgreSQL(trap, page, pg);
    if (opened) {
        if (trap.test(106, [&] { return page.postgresList.currentIndex() == -1; })) {
            trap.reach(118);
            page.dialogs.message("Please select a table");
        } else {
            int last = -1;
            trap.step(108, [&] { last = page.postgresList.count() - 1; });
            for (int position = last; position >= 0; --position) {
                if (!trap.test(110, [&] { return page.postgresList.selected(position); })) continue;
                const bool dropped = trap.step(112, [&] {
                    pg->execute("DROP TABLE " + transfer::quotePostgresName(page.postgresList.item(position)));
                });
                if (dropped) trap.step(114, [&] { page.postgresList.removeItem(position); });
                trap.reach(116);
            }
        }
    }
    trap.step(120, [&] { page.pointer.setState(ui::PointerDefault); });
}

void RenameSelectedAccessTable(app::TableManagerContext& page) {
    transfer::OperationScope scope;
    if (!scope.acquired()) return;
    app::Trap trap(page.dialogs, "Form2", "PushButton6_Click");

    if (trap.test(100, [&] { return page.accessList.selCount() != 1; })) {
        trap.reach(130);
        page.dialogs.message("Please select just one table to rename.");
        return;
    }
    if (trap.test(102, [&] { return page.accessList.currentIndex() == -1; })) {
        trap.reach(128);
        page.dialogs.message("Please select a table to rename.");
        return;
    }
    trap.step(104, [&] { page.pointer.setState(ui::PointerBusy); });
    std::string oldName;
    int remembered = -1;
    int count = 0;
    trap.step(106, [&] { count = page.accessList.count(); });
    for (int position = 0; position < count; ++position) {
        if (!trap.test(108, [&] { return page.accessList.selected(position); })) continue;
        trap.step(110, [&] { oldName = page.accessList.item(position); });
        trap.step(112, [&] { remembered = position; });
        trap.reach(114);
    }
    std::string newName;
    trap.step(116, [&] { newName = askNewName(page, oldName); });
    // Cancel, or the name it has already (Access names ignore case): nothing to do.
    const bool wanted = !trap.test(118, [&] {
        return newName.empty() || transfer::lowerCase(newName) == transfer::lowerCase(oldName);
    });
    if (wanted) {
        bool renamed = false;
        trap.step(120, [&] {
            transfer::requireAccessName(newName);
            const db::ConnectionParameters fields = page.parameters();
            renamed = db::RenameAccessTable(oldName, newName, fields.accessFile, fields.accessPassword, page.dialogs);
        });
        if (renamed) {
            trap.step(122, [&] { page.accessList.removeItem(remembered); });
            trap.step(124, [&] { page.accessList.addItem(newName); });
        }
    }
    trap.step(126, [&] { page.pointer.setState(ui::PointerDefault); });
}

void RenameSelectedPostgreSQLTable(app::TableManagerContext& page) {
    transfer::OperationScope scope;
    if (!scope.acquired()) return;
    app::Trap trap(page.dialogs, "Form2", "PushButton7_Click");
    std::unique_ptr<db::Connection> pg;

    const bool opened = openPostgreSQL(trap, page, pg);
    if (opened) {
        if (trap.test(106, [&] { return page.postgresList.currentIndex() == -1; })) {
            trap.reach(132);
            page.dialogs.message("Please select a table to rename.");
        } else if (trap.test(108, [&] { return page.postgresList.selCount() != 1; })) {
            trap.reach(130);
            page.dialogs.message("Please select just one table to rename.");
        } else {
            int last = -1;
            trap.step(110, [&] { last = page.postgresList.count() - 1; });
            for (int position = last; position >= 0; --position) {
                if (!trap.test(112, [&] { return page.postgresList.selected(position); })) continue;
                std::string oldName, newName;
                trap.step(114, [&] { oldName = page.postgresList.item(position); });
                trap.step(116, [&] { newName = askNewName(page, oldName); });
                // Cancel, or the very name it has: nothing to do.
                if (trap.test(118, [&] { return newName.empty() || newName == oldName; })) continue;
                const bool renamed = trap.step(120, [&] {
                    pg->execute("ALTER TABLE " + transfer::quotePostgresName(oldName) + " RENAME TO " +
                                transfer::quotePostgresName(newName) + ";");
                });
                if (!renamed) continue;
                trap.step(122, [&] { page.postgresList.removeItem(position); });
                trap.step(124, [&] { page.postgresList.addItem(newName); });
                trap.step(126, [&] {
                    if (page.postgresList.count() >= 1) page.postgresList.setCurrentIndex(0);
                });
                trap.reach(128);
            }
        }
    }
    trap.step(134, [&] { page.pointer.setState(ui::PointerDefault); });
}

} // namespace tables
