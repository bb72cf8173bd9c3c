#pragma once
// PostgreSQL cuts names longer than 63 bytes without a word; a table sent under
// a cut name would silently differ from its source. The selected tables whose
// name or column names are too long are found before anything is changed.
#include <set>
#include <string>

#include "app/context.h"
#include "db/session.h"

namespace transfer {

// The selected Access tables with a table or column name longer than 63 bytes
// (UTF-8). When there are any, one message names every such name.
std::set<std::string> refuseOverlongNames(app::TableManagerContext& page, db::Connection& access);

} // namespace transfer
