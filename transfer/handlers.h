#pragma once
#include "app/context.h"

// The click handlers of the TableManagerPage's data buttons. Each runs its
// numbered steps under its own error trap.
namespace transfer {
void SendTablesToPostgreSQL(app::TableManagerContext& page); // PushButton3
void SendTablesToAccess(app::TableManagerContext& page);     // PushButton4
} // namespace transfer

namespace tables {
void DeleteAccessTables(app::TableManagerContext& page);            // PushButton1
void DeletePostgreSQLTables(app::TableManagerContext& page);        // PushButton5
void RenameSelectedAccessTable(app::TableManagerContext& page);     // PushButton6
void RenameSelectedPostgreSQLTable(app::TableManagerContext& page); // PushButton7
} // namespace tables
