#include "transfer/name_limits.h"

#include "db/access_session.h"
#include "jet/database.h"
#include "transfer/schema_plan.h"

namespace transfer {

std::set<std::string> refuseOverlongNames(app::TableManagerContext& page, db::Connection& access) {
    std::set<std::string> refused;
    auto* backend = dynamic_cast<db::AccessBackend*>(&access.backend());
    if (!backend) return refused;
    std::string names;
    auto refuse = [&](const std::string& table, const std::string& what) {
        refused.insert(table);
        names += "\r\n  " + what;
    };
    const auto database = backend->database();
    for (int i = 0; i < page.accessList.count(); ++i) {
        if (!page.accessList.selected(i)) continue;
        const std::string table = page.accessList.item(i);
        if (table.size() > kMaxNameBytes) refuse(table, "table " + table);
        std::unique_ptr<jet::Table> t;
        try {
            t = database->openTable(table);
        } catch (const jet::Error&) {
            continue; // the transfer reports a table it cannot open
        }
        for (const auto& c : t->columns())
            if (c.name.size() > kMaxNameBytes) refuse(table, "column " + c.name + " of the table " + table);
    }
    if (!refused.empty())
        page.dialogs.message("These names are longer than the 63 bytes PostgreSQL keeps, so their tables are not sent:" +
                             names);
    return refused;
}

} // namespace transfer
