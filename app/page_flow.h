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

// Who pressed "Next >": the user, or StartUp on its own.
enum class NextBy { User, StartUp };

// Form1.PushButton2_Click ("Next >"): with an existing Access file and a
// PostgreSQL connection that opens, fills both lists of the TableManagerPage
// and shows it instead of the ConnectionPage. Otherwise the page stays; for
// the user one message says which of the two failed and why, while StartUp's
// own "Next >" stays silent.
void GoToTableManager(ConnectionPage& page, const Services& services, NextBy by = NextBy::User);

// The hand pointer file in the program folder.
std::string handPointerFile();

} // namespace app
