// "Send Table/s To PostgreSQL": every selected Access table is created anew on
// the server and its rows copied. Rows travel by COPY in batches, one
// transaction each; a batch the server refuses is sent again row by row as
// the INSERT statements, so that each bad row is reported with its statement
// and every good row lands.
#include <algorithm>
#include <memory>
#include <optional>
#include <set>
#include <vector>

#include "app/trap.h"
#include "db/access.h"
#include "db/postgresql.h"
#include "db/pg_session.h"
#include "transfer/busy.h"
#include "transfer/full_schema.h"
#include "transfer/handlers.h"
#include "transfer/helpers.h"
#include "transfer/name_limits.h"
#include "transfer/names.h"
#include "transfer/pacing.h"
#include "transfer/statements.h"
#include "transfer/transfer.h"

namespace transfer {

namespace {

CopyLimits& limits() {
    static CopyLimits l;
    return l;
}

// The rows of one table going to the server, and what became of them.
class RowSender {
public:
    RowSender(app::TableManagerContext& page, app::Trap& trap, std::string& sql, db::Connection& pg,
              db::Recordset& source, const std::string& table, const PostgresCreate& create)
        : page_(page), trap_(trap), sql_(sql), pg_(pg), source_(source), table_(table), create_(create),
          pacer_(page.dialogs) {}

    void run(long long count) {
        count_ = count;
        columns_ = std::size_t(source_.fieldCount());
        detail::RowProgress progress(page_.progress, count);
        auto* fast = dynamic_cast<db::PostgreSQLBackend*>(&pg_.backend());
        const std::string copySql = buildPostgresCopy(table_);
        const int batchRows = std::max(1, limits().batchRows);
        long long row = 0;
        while (row < count && !stopped()) {
            // Read one batch of rows as their texts.
            batch_.clear();
            rowsInBatch_ = 0;
            if (fast) {
                bool readFailed = false;
                auto producer = [&](std::string& chunk) {
                    while (rowsInBatch_ < batchRows && row < count && !stopped() &&
                           chunk.size() < limits().chunkBytes) {
                        const int before = rowsInBatch_;
                        const bool moved = readRow(row, progress);
                        if (rowsInBatch_ > before)
                            appendCopyRow(chunk, rowValues(std::size_t(rowsInBatch_ - 1)));
                        ++row;
                        if (!moved) {
                            readFailed = true;
                            return false;
                        }
                    }
                    return rowsInBatch_ < batchRows && row < count && !stopped();
                };
                const bool copied = fast->copyInAtomically(copySql, producer);
                if (copied) {
                    sent_ += rowsInBatch_;
                    rowsInBatch_ = 0;
                } else {
                    replay();
                }
                if (readFailed) break;
            } else {
                bool moved = true;
                while (moved && rowsInBatch_ < batchRows && row < count && !stopped()) {
                    moved = readRow(row, progress);
                    ++row;
                }
                replay();
                if (!moved) break;
            }
        }
    }

    long long sent() const { return sent_; }
    long long failed() const { return failed_; }

private:
    bool stopped() const { return stopRequested(); }

    std::span<const std::string> rowValues(std::size_t index) const {
        return std::span<const std::string>(batch_).subspan(index * columns_, columns_);
    }

    // Reads the row in hand into the batch and moves on; false when the source
    // failed (a row that could not be read is left out).
    bool readRow(long long row, detail::RowProgress& progress) {
        pacer_.tick();
        progress.row(row);
        const std::size_t start = batch_.size();
        const bool read = trap_.step(224, [&] {
            for (std::size_t c = 0; c < columns_; ++c) {
                // NullToDefault(value, "") as text: Null and the empty text are both "".
                const db::Variant& value = source_.value(int(c));
                batch_.push_back(value.isNull() ? std::string() : value.toText());
            }
        });
        if (!read) {
            batch_.resize(start);
            return false;
        }
        ++rowsInBatch_;
        return trap_.step(278, [&] { source_.moveNext(); });
    }

    // Sends the rows of the batch one INSERT at a time, each on its own.
    void replay() {
        for (int r = 0; r < rowsInBatch_; ++r) {
            pacer_.tick();
            trap_.reach(218);
            sql_ = buildPostgresInsert(table_, rowValues(std::size_t(r)), create_.currency);
            trap_.reach(276);
            try {
                ExecuteSql(pg_, sql_);
                ++sent_;
            } catch (...) {
                if (failed_++ == 0) trap_.report(std::current_exception());
            }
        }
        rowsInBatch_ = 0;
    }

    app::TableManagerContext& page_;
    app::Trap& trap_;
    std::string& sql_;
    db::Connection& pg_;
    db::Recordset& source_;
    const std::string& table_;
    const PostgresCreate& create_;
    detail::EventPacer pacer_;
    long long count_ = 0;
    std::size_t columns_ = 0;
    std::vector<std::string> batch_;
    int rowsInBatch_ = 0;
    long long sent_ = 0;
    long long failed_ = 0;
};

} // namespace

void setCopyLimits(CopyLimits l) { limits() = l; }
CopyLimits copyLimits() { return limits(); }

std::string failedRowsMessage(long long failed, long long total, const std::string& table) {
    return std::to_string(failed) + " of " + std::to_string(total) + (total == 1 ? " row" : " rows") +
           " of the table " + table + " could not be sent.";
}

TransferSummary sendTablesToPostgreSQL(app::TableManagerContext& page) {
    TransferSummary summary;
    OperationScope scope;
    if (!scope.acquired()) return summary;

    app::Trap trap(page.dialogs, "Form2", "PushButton3_Click");
    std::string sql; // the statement in hand, shown after "sql: "
    trap.attachSql(&sql);

    std::unique_ptr<db::Connection> access, pg;
    std::unique_ptr<db::Recordset> source;
    const bool created = trap.step(100, [&] { access = db::createConnection(); }) &&
                         (trap.reach(102), true) && trap.step(104, [&] { pg = db::createConnection(); });

    if (trap.test(110, [&] { return page.accessList.currentIndex() == -1; })) {
        page.dialogs.message("Please select a table");
        return summary;
    }
    summary.ran = true;
    trap.step(112, [&] { page.pointer.setState(ui::PointerBusy); });

    // A session that does not open is reported once, and the run ends.
    const bool opened = created && trap.step(114, [&] { pg->setCursorLocation(2); }) &&
                        trap.step(116, [&] { pg->open(db::PostgreSQLConnectionString(page.parameters())); }) &&
                        trap.step(118, [&] { access->setCursorLocation(3); }) &&
                        trap.step(120, [&] { access->setMode(3); }) &&
                        trap.step(122, [&] { access->open(db::AccessConnectionString("", "", page.parameters)); });
    summary.sessionsOpened = opened;

    if (opened) {
        std::set<std::string> refused;
        trap.step(124, [&] { refused = refuseOverlongNames(page, *access); });
        std::unique_ptr<FullSchemaRun> full;
        if (page.fullSchema) full = std::make_unique<FullSchemaRun>(page, trap, sql, *access, *pg);
        detail::EventPacer pacer(page.dialogs);
        int last = -1;
        trap.step(124, [&] { last = page.accessList.count() - 1; });
        for (int index = last; index >= 0 && !stopRequested(); --index) {
            trap.step(126, [&] { pacer.now(); });
            if (!trap.test(128, [&] { return page.accessList.selected(index); })) continue;

            std::string table;
            if (!trap.step(130, [&] { table = page.accessList.item(index); })) {
                ++summary.tablesFailed;
                continue;
            }
            if (refused.count(table)) {
                ++summary.tablesFailed;
                continue;
            }
            int answer = 0;
            if (trap.test(132, [&] { return ListContainsName(page.postgresList, table); })) {
                trap.step(134, [&] {
                    answer = page.dialogs.question("Would you like to overwrite " + table + "?", "Overwrite?");
                });
            } else {
                trap.step(136, [&] { answer = 0; });
            }
            if (trap.test(138, [&] { return answer == ui::AnswerNo; })) {
                ++summary.tablesSkipped;
                continue;
            }
            if (trap.test(140, [&] { return answer == ui::AnswerYes; })) {
                // The server holds the name exactly as quoted: only those entries leave the list,
                // and only when the table is gone.
                if (full) full->beforeDrop(table);
                if (trap.step(142, [&] { pg->execute("DROP TABLE " + quotePostgresName(table)); }))
                    trap.step(144, [&] { RemoveListEntries(page.postgresList, table); });
            }

            // Ends a table: pointer, progress bar, record set.
            auto finish = [&] {
                trap.step(280, [&] { page.pointer.setState(ui::PointerDefault); });
                trap.step(282, [&] {
                    page.progress.setValue(0);
                    page.progress.setText("Progress Bar");
                });
                trap.step(284, [&] {
                    if (source) source->close();
                });
                source.reset();
            };

            auto addListEntry = [&] {
                trap.step(286, [&] {
                    bool present = false;
                    for (int i = 0; i < page.postgresList.count(); ++i)
                        if (page.postgresList.item(i) == table) present = true;
                    if (!present) page.postgresList.addItem(table);
                });
            };
            if (full) {
                full->sendTable(table, summary);
                finish();
                addListEntry();
                continue;
            }

            if (!trap.step(146, [&] { source = access->openRecordset("SELECT * FROM " + quoteAccessName(table), 3, 3); })) {
                ++summary.tablesFailed;
                finish();
                continue;
            }

            PostgresCreate create;
            const bool built = trap.step(148, [&] {
                for (int c = 0; c < source->fieldCount(); ++c) pacer.tick();
                create = buildPostgresCreate(table, fieldsOf(*source));
                sql = create.sql;
            });
            if (!built || !trap.step(198, [&] { ExecuteSql(*pg, sql); })) {
                // Rows would land in whatever table already has this name: none are sent.
                ++summary.tablesFailed;
                finish();
                continue;
            }

            long long count = 0;
            if (trap.step(206, [&] { count = source->recordCount(); })) {
                RowSender sender(page, trap, sql, *pg, *source, table, create);
                trap.reach(210);
                sender.run(count);
                summary.rowsSent += sender.sent();
                summary.rowsFailed += sender.failed();
                if (sender.failed() > 0)
                    page.dialogs.message(failedRowsMessage(sender.failed(), count, table));
            }
            ++summary.tablesSent;
            finish();
            addListEntry();
        }
        if (full) full->finish();
    }

    summary.stopped = stopRequested();
    trap.step(296, [&] {
        if (access) access->close();
    });
    trap.step(298, [&] {
        if (pg) pg->close();
    });
    trap.step(300, [&] { page.pointer.setState(ui::PointerDefault); });
    return summary;
}

void SendTablesToPostgreSQL(app::TableManagerContext& page) { sendTablesToPostgreSQL(page); }

} // namespace transfer
