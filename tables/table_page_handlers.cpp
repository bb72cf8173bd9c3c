#include "tables/table_page_handlers.h"

#include "app/app_title.h"
#include "app/page_flow.h"
#include "app/trap.h"

namespace tables {

void CreateTableManagerPage(app::TableManagerPage& page, const app::Services& services) {
    app::Trap trap(page.dialogs(), "Form2", "Form_Load");
    trap.step(100, [&] { page.applySystemFaceColour(); });
    trap.step(102, [&] { page.setProgramIcon(); });
    if (trap.test(106, [&] { return services.fileExists(app::handPointerFile()); }))
        trap.step(108, [&] { page.setHandPointerImage(app::handPointerFile()); });
    trap.step(110, [&] { page.setCaption(app::kProductName); });
    trap.step(112, [&] {
        const app::TwipsRect back = page.controlRect("PushButton2");
        page.setOuterHeight(back.top + back.height + 580);
    });
}

namespace {

void setAllSelected(app::TableManagerPage& page, ui::ListBox& list, const char* handler, bool on) {
    app::Trap trap(page.dialogs(), "Form2", handler);
    int last = -1;
    if (!trap.step(100, [&] { last = list.count() - 1; })) return;
    for (int i = 0; i <= last; ++i) {
        trap.step(102, [&] { list.setSelected(i, on); });
        trap.reach(104);
    }
}

} // namespace

void SelectAllAccessTables(app::TableManagerPage& page) {
    setAllSelected(page, page.accessList(), "PushButton10_Click", true);
}
void DeselectAllAccessTables(app::TableManagerPage& page) {
    setAllSelected(page, page.accessList(), "PushButton11_Click", false);
}
void SelectAllPostgreSQLTables(app::TableManagerPage& page) {
    setAllSelected(page, page.postgresList(), "PushButton8_Click", true);
}
void DeselectAllPostgreSQLTables(app::TableManagerPage& page) {
    setAllSelected(page, page.postgresList(), "PushButton9_Click", false);
}

void ReturnToConnectionPage(app::TableManagerPage& page, app::ConnectionPage& connectionPage) {
    app::Trap trap(page.dialogs(), "Form2", "PushButton2_Click");
    trap.step(100, [&] { connectionPage.showPage(); });
    trap.step(102, [&] { page.hidePage(); });
}

void ShowTableManagerHelp(app::TableManagerPage& page) {
    app::Trap trap(page.dialogs(), "Form2", "PushButton12_Click");
    trap.step(100, [&] { page.dialogs().message("Questions? Please contact Team Velmora at " + app::kContactPage); });
}

} // namespace tables
