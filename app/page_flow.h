#pragma once
#include "app/pages.h"
#include "app/services.h"

namespace app {

class SettingsStore;

// Form1.Form_Load: look, caption, pointer image, the seven fields from the
// store, the automatic "Next >" when the stored connection is usable, and the
// database engine check, which ends the program when it fails. Afterwards the
// ConnectionPage is shown unless the automatic "Next >" has hidden it.
void StartUp(ConnectionPage& page, SettingsStore& store, Program& program, const Services& services);

// Form1.PushButton2_Click ("Next >"): with an existing Access file and a
// PostgreSQL connection that opens, fills both lists of the TableManagerPage
// and shows it instead of the ConnectionPage; otherwise stays silently.
void GoToTableManager(ConnectionPage& page, const Services& services);

// The hand pointer file in the program folder.
std::string handPointerFile();

} // namespace app
