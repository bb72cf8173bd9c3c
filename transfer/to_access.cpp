// "Send Table/s To Access": every selected PostgreSQL table is created anew in
// the Access file and its rows copied, one INSERT per row through the Access
// session. The PostgreSQL side is read through a cursor, a chunk of rows at a
// time, so that a table of any size moves in the same memory. The INSERTs of
// a table reach the file in batches written together.
#include <memory>
#include <optional>
#include <vector>

#include "app/trap.h"
#include "db/access.h"
#include "db/access_session.h"
#include "db/postgresql.h"
#include "transfer/access_full_schema.h"
#include "transfer/access_rows.h"
#include "transfer/busy.h"
#include "transfer/handlers.h"
#include "transfer/helpers.h"
#include "transfer/names.h"
#include "transfer/pacing.h"
#include "transfer/statements.h"
#include "transfer/transfer.h"

namespace transfer {

namespace {

int integerText(const db::Variant& v) {
    if (v.isNull() || v.isEmpty()) return 0;
    try {
        return std::stoi(v.toText());
    } catch (...) {
        return 0;
    }
}

// What the values of a numeric column need, asked of the server: the most
// digits before the point and after it.
DecimalNeed measureNumericColumn(db::Connection& pg, const std::string& table, const std::string& column) {
    const std::string c = quotePostgresName(column);
    // min_scale: the digits the value needs after the point, trailing zeros not counted.
    auto rs = pg.execute("SELECT max(min_scale(" + c + ")), max(length(trunc(abs(" + c + "))::text)) FROM " +
                         quotePostgresName(table) + " WHERE " + c + " <> 'NaN'");
    DecimalNeed need;
    if (rs && !rs->eof()) {
        need.scale = integerText(rs->value(0));
        need.integerDigits = integerText(rs->value(1));
    }
    return need;
}

db::Error decimalOverflow(const std::string& value, const std::string& column, DecimalShape shape) {
    return db::Error(3349, "Numeric field overflow: the value " + value + " of the column " + column +
                               " cannot be held by " +
                               (shape.currency ? std::string("CURRENCY")
                                               : "DECIMAL(" + std::to_string(shape.precision) + "," +
                                                     std::to_string(shape.scale) + ")") +
                               " without losing digits.");
}

} // namespace

TransferSummary sendTablesToAccess(app::TableManagerContext& page) {
    TransferSummary summary;
    OperationScope scope;
    if (!scope.acquired()) return summary;

    app::Trap trap(page.dialogs, "Form2", "PushButton4_Click");
    std::string sql; // the statement in hand, shown after "sql: "
    trap.attachSql(&sql);

    std::unique_ptr<db::Connection> access, pg;
    std::unique_ptr<db::Recordset> source;
    const bool created = trap.step(100, [&] { access = db::createConnection(); }) &&
                         trap.step(102, [&] { pg = db::createConnection(); }) && (trap.reach(104), true);

    if (trap.test(112, [&] { return page.postgresList.currentIndex() == -1; })) {
        trap.reach(278);
        page.dialogs.message("Please select a table to send.");
        return summary;
    }
    summary.ran = true;
    trap.step(114, [&] { page.pointer.setState(ui::PointerBusy); });

    // A session that does not open is reported once, and the run ends.
    const bool opened = created && trap.step(116, [&] { pg->setCursorLocation(3); }) &&
                        trap.step(118, [&] { pg->open(db::PostgreSQLConnectionString(page.parameters())); }) &&
                        trap.step(120, [&] { access->setCursorLocation(2); }) &&
                        trap.step(122, [&] { access->setMode(3); }) &&
                        trap.step(124, [&] { access->open(db::AccessConnectionString("", "", page.parameters)); });
    summary.sessionsOpened = opened;

    if (opened) {
        std::unique_ptr<AccessFullSchemaRun> full;
        if (page.fullSchema) full = std::make_unique<AccessFullSchemaRun>(page, trap, sql, *access, *pg);
        detail::EventPacer pacer(page.dialogs);
        int last = -1;
        trap.step(126, [&] { last = page.postgresList.count() - 1; });
        for (int index = last; index >= 0 && !stopRequested(); --index) {
            pacer.now();
            if (!trap.test(128, [&] { return page.postgresList.selected(index); })) continue;

            std::string table;
            // A table or column name Access cannot hold is refused before anything is touched.
            if (!trap.step(130, [&] {
                    table = page.postgresList.item(index);
                    requireAccessName(table);
                    if (auto columns = pg->execute("SELECT * FROM " + quotePostgresName(table) + " LIMIT 0"))
                        for (int c = 0; c < columns->fieldCount(); ++c) requireAccessName(columns->field(c).name, "column");
                })) {
                ++summary.tablesFailed;
                continue;
            }
            int answer = 0;
            if (trap.test(132, [&] { return ListContainsAccessName(page.accessList, table, *access); })) {
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
                // With the full schema, the relationships that name the table
                // go first (and come back after the run).
                if (full) full->beforeDrop(table);
                // Access names ignore case: the table dropped is the one every
                // entry equal to the name, in any case, stands for.
                if (trap.step(142, [&] { access->execute("DROP TABLE `" + table + "`"); }))
                    trap.step(144, [&] { RemoveAccessListEntries(page.accessList, table, *access); });
            }

            auto finish = [&] {
                trap.step(256, [&] { page.pointer.setState(ui::PointerDefault); });
                trap.step(258, [&] {
                    page.progress.setValue(0);
                    page.progress.setText("Progress Bar");
                });
                trap.step(260, [&] {
                    if (source) source->close();
                });
                source.reset();
            };

            auto addListEntry = [&] {
                trap.step(262, [&] {
                    if (!ListContainsAccessName(page.accessList, table, *access)) page.accessList.addItem(table);
                });
            };
            if (full) {
                full->sendTable(table, summary);
                finish();
                addListEntry();
                continue;
            }

            if (!trap.step(146, [&] { source = pg->openRecordset("SELECT * FROM " + quotePostgresName(table)); })) {
                ++summary.tablesFailed;
                finish();
                continue;
            }

            AccessCreate create;
            const bool built = trap.step(148, [&] {
                std::vector<db::FieldInfo> fields = fieldsOf(*source);
                for (std::size_t c = 0; c < fields.size(); ++c) pacer.tick();
                sql = "CREATE TABLE `" + table + "`(";
                create = buildAccessCreate(
                    table, fields,
                    [&](int column) { return measureNumericColumn(*pg, table, fields[std::size_t(column)].name); },
                    db::accessHasDecimalType(*access));
                sql = create.sql;
            });
            if (!built || !trap.step(208, [&] { ExecuteSql(*access, sql); })) {
                // Rows would land in whatever table already has this name: none are sent.
                ++summary.tablesFailed;
                finish();
                continue;
            }

            long long count = 0;
            long long sent = 0, failed = 0;
            std::optional<AccessRows> rows;
            // Writes the open batch; rows of a batch that could not be written are run again one by one.
            auto writeBatch = [&] {
                const std::vector<std::vector<std::string>> again = rows->commitBatch();
                sent -= static_cast<long long>(again.size());
                for (const std::vector<std::string>& values : again) {
                    try {
                        trap.reach(252);
                        rows->runAgain(values);
                        ++sent;
                    } catch (...) {
                        if (failed++ == 0) trap.report(std::current_exception());
                    }
                }
            };
            if (trap.step(216, [&] { count = source->recordCount(); })) {
                detail::RowProgress progress(page.progress, count);
                const int columns = source->fieldCount();
                rows.emplace(*access, table, columns, sql);
                // A report shows the INSERT of the row in hand, made only then.
                trap.refreshSqlWith([&] { rows->statement(); });
                rows->beginBatch();
                for (long long row = 0; row < count && !stopRequested(); ++row) {
                    pacer.tick();
                    progress.row(row);
                    try {
                        trap.reach(224);
                        std::vector<std::string>& values = rows->reading();
                        for (int c = 0; c < columns; ++c) {
                            // NullToDefault(value, "") as text: Null and the empty text are both "".
                            source->value(c).textInto(values[std::size_t(c)]);
                        }
                        rows->taken(); // the INSERT of these values is the statement in hand
                        trap.reach(230);
                        for (int c = 0; c < columns; ++c) {
                            const auto& shape = create.decimals[std::size_t(c)];
                            const std::string& text = rows->values()[std::size_t(c)];
                            if (shape && !text.empty() && !fitsDecimal(text, *shape))
                                throw decimalOverflow(text, source->field(c).name, *shape);
                        }
                        trap.reach(252);
                        rows->insert();
                        ++sent;
                    } catch (...) {
                        // The first bad row of a table is reported; the others are counted.
                        if (failed++ == 0) trap.report(std::current_exception());
                    }
                    if (rows->batchFull()) {
                        writeBatch();
                        rows->beginBatch();
                    }
                    if (!trap.step(254, [&] { source->moveNext(); })) break;
                }
                writeBatch();
                rows->statement(); // the statement in hand stays as text once its rows are gone
                trap.refreshSqlWith({});
            }
            summary.rowsSent += sent;
            summary.rowsFailed += failed;
            if (failed > 0) page.dialogs.message(failedRowsMessage(failed, count, table));
            ++summary.tablesSent;
            finish();
            addListEntry();
        }
        if (full) full->finish();
    }

    summary.stopped = stopRequested();
    trap.step(272, [&] { page.pointer.setState(ui::PointerDefault); });
    trap.step(274, [&] {
        if (access) access->close();
    });
    trap.step(276, [&] {
        if (pg) pg->close();
    });
    return summary;
}

void SendTablesToAccess(app::TableManagerContext& page) { sendTablesToAccess(page); }

} // namespace transfer
