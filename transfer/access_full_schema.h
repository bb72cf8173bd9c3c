#pragma once
// "Keep column types, keys and indexes", PostgreSQL to Access: each table is
// created from its schema plan (transfer/access_schema_plan.h), built from the
// server's catalogue and from what the rows need, its rows copied exactly (an
// empty text stays an empty text), then its primary key and indexes made
// (transfer/access_keys.h); the relationships follow the last table. One
// summary at the end tells what was created, what was kept as text or changed,
// and what was left out. The run keeps the transfer's order of tables,
// overwrite question, progress bar, error reports and list updates: it
// replaces only what happens to one table.
#include <memory>
#include <string>

#include "app/context.h"
#include "app/trap.h"
#include "db/session.h"
#include "transfer/transfer.h"

namespace transfer {

class AccessFullSchemaRun {
public:
    // `sql` is the statement in hand that the trap's reports show.
    AccessFullSchemaRun(app::TableManagerContext& page, app::Trap& trap, std::string& sql, db::Connection& access,
                        db::Connection& pg);
    ~AccessFullSchemaRun();
    AccessFullSchemaRun(const AccessFullSchemaRun&) = delete;
    AccessFullSchemaRun& operator=(const AccessFullSchemaRun&) = delete;

    // Before an overwritten table is dropped: the file's relationships that name
    // it are removed, to be made again after the run (the summary lists them).
    void beforeDrop(const std::string& table);

    // The table's creation, rows, properties, primary key and indexes.
    void sendTable(const std::string& table, TransferSummary& summary);

    // After the last table: the relationships (the server's foreign keys, then
    // those removed for an overwrite), then the summary message.
    void finish();

    std::string summaryText() const;

private:
    struct State;
    std::unique_ptr<State> s_;
};

} // namespace transfer
