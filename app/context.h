#pragma once
#include "app/ui.h"
#include "db/parameters.h"

namespace app {

// What the TableManagerPage's handlers work with: its two lists, progress bar
// and pointer, the page's dialogs, and the ConnectionPage's current fields.
struct TableManagerContext {
    ui::Dialogs& dialogs;
    ui::ListBox& accessList;     // List1, "Access Tables"
    ui::ListBox& postgresList;   // List2, "PostgreSQL Tables"
    ui::ProgressBar& progress;   // ProgressBar1
    ui::Pointer& pointer;        // the page's pointer state
    db::ParameterSource parameters;
    // "Keep column types, keys and indexes": tables go with their full schema,
    // to PostgreSQL (transfer/full_schema.h) and to Access
    // (transfer/access_full_schema.h). Off: the transfers as they are.
    bool fullSchema = false;
};

} // namespace app
