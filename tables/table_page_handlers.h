#pragma once
#include "app/pages.h"
#include "app/services.h"

// The TableManagerPage's own handlers; the data buttons are in transfer/ and
// tables/delete_rename.
namespace tables {

// Form2.Form_Load: face colour, icon, pointer image, caption and the height
// that follows from where "< Back" stands. Runs once, at the first use.
void CreateTableManagerPage(app::TableManagerPage& page, const app::Services& services);

void SelectAllAccessTables(app::TableManagerPage& page);       // PushButton10
void DeselectAllAccessTables(app::TableManagerPage& page);     // PushButton11
void SelectAllPostgreSQLTables(app::TableManagerPage& page);   // PushButton8
void DeselectAllPostgreSQLTables(app::TableManagerPage& page); // PushButton9

// "< Back" (PushButton2): the ConnectionPage again, fields unchanged.
void ReturnToConnectionPage(app::TableManagerPage& page, app::ConnectionPage& connectionPage);
// "Help" (PushButton12).
void ShowTableManagerHelp(app::TableManagerPage& page);

// The frame of the window around its client area as the designed sizes
// assume it (title bar and borders, in twips).
inline constexpr int kWindowFrameTwips = 460;

} // namespace tables
