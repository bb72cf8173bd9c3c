#include "transfer/full_schema.h"

#include <algorithm>
#include <optional>
#include <set>
#include <vector>

#include "db/access_session.h"
#include "db/error.h"
#include "db/pg_session.h"
#include "jet/schema.h"
#include "transfer/after_rows.h"
#include "transfer/busy.h"
#include "transfer/cell_text.h"
#include "transfer/helpers.h"
#include "transfer/names.h"
#include "transfer/pacing.h"
#include "transfer/schema_plan.h"

namespace transfer {

namespace {

using Cells = std::vector<std::optional<std::string>>;

std::string insertSql(const SchemaPlan& plan, const std::optional<std::string>* cells) {
    std::string names, values;
    for (std::size_t c = 0; c < plan.columns.size(); ++c) {
        names += (c ? "," : "") + quotePostgresName(plan.columns[c].name);
        values += (c ? "," : "") + insertLiteral(cells[c]);
    }
    return "INSERT INTO " + quotePostgresName(plan.table) + "(" + names + ") VALUES(" + values + ")";
}

// Whether the Date/Time Extended values of each column fit microseconds.
std::vector<ColumnFacts> measure(const jet::TableSchema& schema, jet::Table& table) {
    std::vector<ColumnFacts> facts(schema.columns.size());
    std::vector<std::size_t> extended;
    for (std::size_t i = 0; i < schema.columns.size(); ++i)
        if (schema.columns[i].column.type == static_cast<std::uint8_t>(jet::ColumnType::DateTimeExt)) extended.push_back(i);
    if (extended.empty()) return facts;
    jet::Value v;
    while (table.next())
        for (std::size_t i : extended) {
            table.value(i, v);
            if (const auto* d = std::get_if<jet::DateTimeExt>(&v); d && d->ticks % 10 != 0)
                facts[i].extendedNeedsText = true;
        }
    table.rewind();
    return facts;
}

} // namespace

struct FullSchemaRun::State {
    app::TableManagerContext& page;
    app::Trap& trap;
    std::string& sql;
    db::Connection& access;
    db::Connection& pg;
    NameAllocator names;
    std::vector<std::string> sentTables;
    std::vector<std::string> leftOut;
    AfterRowsStatements after;
    std::vector<std::string> recreated;
    struct DroppedKey {
        std::string table, name, definition, referenced;
    };
    std::vector<DroppedKey> dropped;
    bool attempted = false;
    int tables = 0, primaryKeys = 0, uniqueKeys = 0, indexes = 0, foreignKeys = 0, identities = 0;
    long long rows = 0;

    std::shared_ptr<jet::Database> database() {
        auto* backend = dynamic_cast<db::AccessBackend*>(&access.backend());
        if (!backend) throw db::Error(3251, "The full schema needs an Access file as the source.");
        return backend->database();
    }

    std::vector<std::vector<std::string>> query(const std::string& text) {
        std::vector<std::vector<std::string>> out;
        auto rs = pg.openRecordset(text);
        for (; rs && !rs->eof(); rs->moveNext()) {
            std::vector<std::string> row;
            for (int i = 0; i < rs->fieldCount(); ++i) row.push_back(rs->value(i).toText());
            out.push_back(std::move(row));
        }
        return out;
    }

    bool onServer(const std::string& table) {
        return !query("SELECT 1 WHERE to_regclass(" + sqlLiteral(quotePostgresName(table)) + ") IS NOT NULL").empty();
    }

    void reserveServerNames() {
        for (const auto& row : query("SELECT relname::text FROM pg_class WHERE relnamespace = "
                                     "(SELECT oid FROM pg_namespace WHERE nspname = current_schema()) "
                                     "UNION SELECT conname::text FROM pg_constraint WHERE connamespace = "
                                     "(SELECT oid FROM pg_namespace WHERE nspname = current_schema())"))
            names.reserve(row.at(0));
    }

    // Runs one statement after the rows; a failure is reported and listed, and the run goes on.
    bool run(const std::string& statement) { return after.run(pg, statement); }

    void count(PlannedStatement::Kind kind) {
        switch (kind) {
        case PlannedStatement::PrimaryKey: ++primaryKeys; break;
        case PlannedStatement::Unique: ++uniqueKeys; break;
        case PlannedStatement::Index: ++indexes; break;
        case PlannedStatement::Identity: ++identities; break;
        case PlannedStatement::ForeignKey: ++foreignKeys; break;
        default: break;
        }
    }

    void sendRows(const SchemaPlan& plan, jet::Table& table, long long count, TransferSummary& summary);
};

void FullSchemaRun::State::sendRows(const SchemaPlan& plan, jet::Table& table, long long count,
                                    TransferSummary& summary) {
    detail::RowProgress progress(page.progress, count);
    detail::EventPacer pacer(page.dialogs);
    auto* fast = dynamic_cast<db::PostgreSQLBackend*>(&pg.backend());
    const std::size_t width = plan.columns.size();
    const std::string copy = copySql(plan);
    const CopyLimits limits = copyLimits();
    long long row = 0, sent = 0, lost = 0;
    bool more = true;
    Cells cells;
    jet::Value value;
    // Reads the next row into the batch's cells; false at the end of the table.
    auto readRow = [&]() {
        pacer.tick();
        progress.row(row);
        ++row;
        bool have = false;
        const std::size_t start = cells.size();
        const bool read = trap.step(224, [&] {
            have = table.next();
            if (!have) return;
            for (std::size_t c = 0; c < width; ++c) {
                table.value(c, value);
                cells.push_back(cellText(value, plan.columns[c].form));
            }
        });
        if (!read) {
            cells.resize(start);
            ++lost;
            return true; // the row is told and left out; the next one may read
        }
        return have;
    };
    while (more && row < count && !stopRequested()) {
        cells.clear();
        int inBatch = 0;
        auto fill = [&](std::string* chunk) {
            while (inBatch < limits.batchRows && row < count && !stopRequested() &&
                   (!chunk || chunk->size() < limits.chunkBytes)) {
                const std::size_t before = cells.size();
                if (!readRow()) {
                    more = false;
                    return false;
                }
                if (cells.size() == before) continue;
                ++inBatch;
                if (chunk) {
                    for (std::size_t c = 0; c < width; ++c) {
                        if (c) *chunk += '\t';
                        appendCopyField(*chunk, cells[before + c]);
                    }
                    *chunk += '\n';
                }
            }
            return more && inBatch < limits.batchRows && row < count && !stopRequested();
        };
        bool copied = false;
        if (fast) {
            copied = fast->copyInAtomically(copy, [&](std::string& chunk) { return fill(&chunk); });
        } else {
            fill(nullptr);
        }
        if (copied) {
            sent += inBatch;
            continue;
        }
        // The batch again, one INSERT per row, so that each bad row is told and the good ones land.
        for (int r = 0; r < inBatch; ++r) {
            pacer.tick();
            sql = insertSql(plan, cells.data() + std::size_t(r) * width);
            trap.reach(276);
            try {
                ExecuteSql(pg, sql);
                ++sent;
            } catch (...) {
                if (lost++ == 0) trap.report(std::current_exception());
            }
        }
    }
    summary.rowsSent += sent;
    summary.rowsFailed += lost;
    rows += sent;
    if (lost > 0) page.dialogs.message(failedRowsMessage(lost, count, plan.table));
}

FullSchemaRun::FullSchemaRun(app::TableManagerContext& page, app::Trap& trap, std::string& sql, db::Connection& access,
                             db::Connection& pg)
    : s_(std::make_unique<State>(State{page, trap, sql, access, pg, {}, {}, {}, AfterRowsStatements(trap, sql), {}, {}})) {}

FullSchemaRun::~FullSchemaRun() = default;

void FullSchemaRun::beforeDrop(const std::string& table) {
    State& s = *s_;
    std::vector<std::vector<std::string>> keys;
    s.trap.step(142, [&] {
        keys = s.query("SELECT c.conrelid::regclass::text, c.conname::text, pg_get_constraintdef(c.oid) FROM pg_constraint c "
                       "WHERE c.contype = 'f' AND c.confrelid = to_regclass(" +
                       sqlLiteral(quotePostgresName(table)) + ") AND c.conrelid <> c.confrelid");
    });
    for (const auto& k : keys) {
        if (s.run("ALTER TABLE " + k.at(0) + " DROP CONSTRAINT " + quotePostgresName(k.at(1))))
            s.dropped.push_back({k.at(0), k.at(1), k.at(2), table});
    }
}

void FullSchemaRun::sendTable(const std::string& table, TransferSummary& summary) {
    State& s = *s_;
    s.attempted = true;
    std::shared_ptr<jet::Database> db;
    jet::TableSchema schema;
    std::unique_ptr<jet::Table> rows;
    std::vector<ColumnFacts> facts;
    if (!s.trap.step(146, [&] {
            db = s.database();
            schema = jet::readTableSchema(*db, table);
            rows = db->openTable(table);
            facts = measure(schema, *rows);
        })) {
        ++summary.tablesFailed;
        return;
    }
    SchemaPlan plan;
    const bool built = s.trap.step(148, [&] {
        s.reserveServerNames();
        plan = planTable(schema, s.names, facts);
        s.sql = createTableSql(plan);
    });
    if (!built || !s.trap.step(198, [&] { ExecuteSql(s.pg, s.sql); })) {
        ++summary.tablesFailed;
        return;
    }
    ++s.tables;
    s.sentTables.push_back(table);
    s.leftOut.insert(s.leftOut.end(), plan.leftOut.begin(), plan.leftOut.end());
    long long count = 0;
    if (s.trap.step(206, [&] { count = (long long)rows->countRows(); })) {
        s.trap.reach(210);
        s.sendRows(plan, *rows, count, summary);
    }
    ++summary.tablesSent;
    for (const auto& statement : plan.afterRows)
        if (s.run(statement.sql)) s.count(statement.kind);
}

void FullSchemaRun::finish() {
    State& s = *s_;
    auto sent = [&](const std::string& t) {
        return std::find(s.sentTables.begin(), s.sentTables.end(), t) != s.sentTables.end();
    };
    // Foreign keys dropped for an overwrite come back first, as they were. When the
    // new rows break one, it comes back NOT VALID (checked for new rows only) rather
    // than not at all, and the summary says so.
    for (const auto& k : s.dropped) {
        const std::string add = "ALTER TABLE " + k.table + " ADD CONSTRAINT " + quotePostgresName(k.name) + " " + k.definition;
        std::string what = k.table + "." + k.name + " (references " + k.referenced + ")";
        bool back = false;
        try {
            s.sql = add;
            ExecuteSql(s.pg, add);
            back = true;
        } catch (...) {
            if (s.run(add + " NOT VALID")) {
                what += ", NOT VALID: rows of " + k.table + " do not match it";
                back = true;
            }
        }
        if (back) s.recreated.push_back(what);
    }
    // A window that is closing gets its dropped keys back, and nothing more.
    if (stopRequested()) return;
    std::vector<jet::RelationshipSchema> relationships;
    if (!s.sentTables.empty())
        s.trap.step(kAfterRowsLine, [&] { relationships = jet::readRelationships(*s.database()); });
    std::set<std::string> done;
    for (const auto& r : relationships) {
        if (!sent(r.table) && !sent(r.referencedTable)) continue;
        if (!done.insert(r.name).second) continue;
        if (!r.enforced()) continue; // a join line, not a rule on the data
        const std::string& other = sent(r.table) ? r.referencedTable : r.table;
        if (!sent(other) && !s.onServer(other)) {
            s.leftOut.push_back("relationship " + r.name + ": the table " + other +
                                " is neither in this run nor on the server");
            continue;
        }
        // Already there (re-created above, or made by an earlier run)?
        std::string columns;
        for (const auto& c : r.columns) columns += (columns.empty() ? "" : ",") + sqlLiteral(c);
        const bool exists = !s.query("SELECT 1 FROM pg_constraint c WHERE c.contype = 'f' AND c.conrelid = to_regclass(" +
                                     sqlLiteral(quotePostgresName(r.table)) + ") AND c.confrelid = to_regclass(" +
                                     sqlLiteral(quotePostgresName(r.referencedTable)) +
                                     ") AND ARRAY(SELECT a.attname::text FROM unnest(c.conkey) WITH ORDINALITY k(n, o) "
                                     "JOIN pg_attribute a ON a.attrelid = c.conrelid AND a.attnum = k.n ORDER BY k.o) = "
                                     "ARRAY[" + columns + "]::text[]")
                                .empty();
        if (exists) continue;
        s.reserveServerNames();
        if (s.run(foreignKeySql(r, s.names.allocate(r.name)))) s.count(PlannedStatement::ForeignKey);
    }
    // A run in which no table was selected says nothing, as without the option.
    if (s.attempted) s.page.dialogs.message(summaryText());
}

std::string FullSchemaRun::summaryText() const {
    const State& s = *s_;
    std::string text = "Keep column types, keys and indexes: " + plural(s.tables, "table", "tables") + ", " +
                       plural(s.rows, "row", "rows") + "; created " + plural(s.primaryKeys, "primary key", "primary keys") +
                       ", " + plural(s.uniqueKeys, "unique key", "unique keys") + ", " +
                       plural(s.indexes, "index", "indexes") + ", " +
                       plural(s.foreignKeys, "foreign key", "foreign keys") + ", " +
                       plural(s.identities, "identity column", "identity columns") + ".";
    appendSection(text, "Foreign keys of other tables dropped for an overwrite and created again:", s.recreated);
    appendSection(text, "Left out:", s.leftOut);
    s.after.appendFailed(text);
    return text;
}

} // namespace transfer
