// Stand-ins for the data buttons until their handlers are in; weak, so the
// real ones take over as soon as they are linked. Delete this file then.
#include "transfer/handlers.h"

namespace {
void notAvailable(app::TableManagerContext& page) { page.dialogs.message("Not available yet."); }
} // namespace

namespace transfer {
[[gnu::weak]] void SendTablesToPostgreSQL(app::TableManagerContext& page) { notAvailable(page); }
[[gnu::weak]] void SendTablesToAccess(app::TableManagerContext& page) { notAvailable(page); }
} // namespace transfer

namespace tables {
[[gnu::weak]] void DeleteAccessTables(app::TableManagerContext& page) { notAvailable(page); }
[[gnu::weak]] void DeletePostgreSQLTables(app::TableManagerContext& page) { notAvailable(page); }
[[gnu::weak]] void RenameSelectedAccessTable(app::TableManagerContext& page) { notAvailable(page); }
[[gnu::weak]] void RenameSelectedPostgreSQLTable(app::TableManagerContext& page) { notAvailable(page); }
} // namespace tables
