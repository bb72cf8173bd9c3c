#pragma once
// "Keep column types, keys and indexes", Access to PostgreSQL: each table is
// created from its schema plan (transfer/schema_plan.h), its rows copied type
// for type, then its keys, indexes, NOT NULL rules, identity restarts and
// comments added; after the last table the relationships become foreign keys,
// and one summary tells what was created and what was left out. The run keeps
// the transfer's order of tables, overwrite question, progress bar, error
// reports and list updates: it replaces only what happens to one table.
#include <memory>
#include <string>

#include "app/context.h"
#include "app/trap.h"
#include "db/session.h"
#include "transfer/transfer.h"

namespace transfer {

class FullSchemaRun {
public:
    // `sql` is the statement in hand that the trap's reports show.
    FullSchemaRun(app::TableManagerContext& page, app::Trap& trap, std::string& sql, db::Connection& access,
                  db::Connection& pg);
    ~FullSchemaRun();
    FullSchemaRun(const FullSchemaRun&) = delete;
    FullSchemaRun& operator=(const FullSchemaRun&) = delete;

    // Before an overwritten table is dropped: the foreign keys of other tables
    // that reference it are dropped too, and re-created once the run has
    // loaded the new table (the summary names them).
    void beforeDrop(const std::string& table);

    // The table's creation, rows and keys.
    void sendTable(const std::string& table, TransferSummary& summary);

    // After the last table: the foreign keys, then the summary message (when
    // the window is closing, only the foreign keys dropped for an overwrite).
    void finish();

    // The summary text of the run so far.
    std::string summaryText() const;

private:
    struct State;
    std::unique_ptr<State> s_;
};

} // namespace transfer
