#include "transfer/access_full_schema.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "db/access_session.h"
#include "jet/database.h"
#include "jet/format.h"
#include "jet/sql.h"
#include "jet/schema.h"
#include "transfer/access_batch.h"
#include "transfer/access_keys.h"
#include "transfer/access_schema_plan.h"
#include "transfer/after_rows.h"
#include "transfer/busy.h"
#include "transfer/helpers.h"
#include "transfer/names.h"
#include "transfer/pacing.h"
#include "transfer/pg_keys.h"
#include "transfer/schema_plan.h"

namespace transfer {

namespace {

using Rows = PgRows;

Rows query(db::Connection& pg, const std::string& text) { return queryRows(pg, text); }

std::string regclass(const std::string& table) { return regclassOf(table); }

// The columns of a table as the catalogue has them; a domain counts as its base type.
std::vector<PgColumn> readColumns(db::Connection& pg, const std::string& table) {
    const Rows rows = query(
        pg, "SELECT a.attname::text, b.typname::text, (CASE WHEN t.typtype = 'd' THEN t.typtypmod ELSE a.atttypmod "
            "END)::text, a.attnotnull::text, (a.attidentity <> '' OR coalesce(pg_get_expr(d.adbin, d.adrelid), '') "
            "LIKE 'nextval(%')::text, coalesce(pg_get_expr(d.adbin, d.adrelid), ''), "
            "coalesce(col_description(a.attrelid, a.attnum), '') FROM pg_attribute a JOIN pg_type t ON t.oid = a.atttypid JOIN pg_type b ON "
            "b.oid = CASE WHEN t.typtype = 'd' THEN t.typbasetype ELSE t.oid END LEFT JOIN pg_attrdef d ON "
            "d.adrelid = a.attrelid AND d.adnum = a.attnum WHERE a.attrelid = " +
                regclass(table) + " AND a.attnum > 0 AND NOT a.attisdropped ORDER BY a.attnum");
    std::vector<PgColumn> columns;
    for (const auto& r : rows) {
        PgColumn c;
        c.name = r.at(0).value_or("");
        c.type = r.at(1).value_or("");
        c.typmod = std::stoi(r.at(2).value_or("-1"));
        c.notNull = r.at(3) == "true";
        c.identity = r.at(4) == "true";
        c.defaultSql = r.at(5).value_or("");
        c.comment = r.at(6).value_or("");
        columns.push_back(std::move(c));
    }
    return columns;
}

// Asks the rows what the planned types depend on, in one pass over the table.
void measureColumns(db::Connection& pg, const std::string& table, std::vector<PgColumn>& columns) {
    std::string exprs;
    auto add = [&](const std::string& e) { exprs += (exprs.empty() ? "" : ", ") + e + "::text"; };
    for (const PgColumn& c : columns) {
        const std::string q = quotePostgresName(c.name);
        switch (measureFor(c)) {
        case Measure::None: break;
        case Measure::Nulls: add("bool_or(" + q + " IS NULL)"); break;
        case Measure::Digits:
            add("max(min_scale(" + q + ")) FILTER (WHERE " + q + " <> 'NaN')");
            add("max(length(trunc(abs(" + q + "))::text)) FILTER (WHERE " + q + " <> 'NaN')");
            break;
        case Measure::Fractions:
            add("bool_or(extract(microseconds from " + q + ")::bigint % 1000 <> 0)" +
                (c.type == "time" ? std::string() : " FILTER (WHERE isfinite(" + q + "))"));
            break;
        case Measure::Range:
            add("max(" + q + ")");
            add("min(" + q + ")");
            break;
        }
    }
    if (exprs.empty()) return;
    const Rows rows = query(pg, "SELECT " + exprs + " FROM " + quotePostgresName(table));
    if (rows.empty()) return;
    std::size_t i = 0;
    auto next = [&] { return rows[0].at(i++); };
    auto number = [](const std::optional<std::string>& t) { return t ? std::stoi(*t) : 0; };
    for (PgColumn& c : columns) {
        switch (measureFor(c)) {
        case Measure::None: break;
        case Measure::Nulls: c.holdsNull = next() == "true"; break;
        case Measure::Digits:
            c.scale = number(next());
            c.integerDigits = number(next());
            break;
        case Measure::Fractions: c.subMillisecond = next() == "true"; break;
        case Measure::Range: {
            const auto high = next(), low = next();
            if (high) c.highest = std::stoll(*high);
            if (low) c.lowest = std::stoll(*low);
            break;
        }
        }
    }
}

std::string tableComment(db::Connection& pg, const std::string& table) {
    const Rows rows = query(pg, "SELECT coalesce(obj_description(" + regclass(table) + ", 'pg_class'), '')");
    return rows.empty() ? std::string() : rows[0].at(0).value_or("");
}

} // namespace

struct AccessFullSchemaRun::State {
    app::TableManagerContext& page;
    app::Trap& trap;
    std::string& sql;
    db::Connection& access;
    db::Connection& pg;
    AfterRowsStatements after;
    std::vector<std::string> asText{}, leftOut{}, changed{};
    int tables = 0, autoNumbers = 0, required = 0, defaults = 0, descriptions = 0;
    int primaryKeys = 0, indexes = 0, uniqueIndexes = 0, relationships = 0;
    long long rows = 0;
    // The foreign keys of every selected table, read at the first table: the relationship indexes a table will
    // get are known before its own indexes are made.
    std::optional<std::vector<ForeignKey>> runKeys{};
    std::vector<std::string> sentTables{};
    // Relationships of the file removed so that a table could be overwritten, to make again after the run.
    struct Removed {
        ForeignKey key;
        bool enforced = true;
    };
    std::vector<Removed> removed{};
    std::vector<std::string> removedLines{};

    db::AccessBackend* backend() { return dynamic_cast<db::AccessBackend*>(&access.backend()); }

    // Two table names as the Access file compares them.
    bool sameTable(const std::string& a, const std::string& b) {
        auto* engine = backend();
        return engine ? engine->nameIdentity(a) == engine->nameIdentity(b) : lowerCase(a) == lowerCase(b);
    }

    std::optional<jet::TableSchema> fileSchema(const std::string& table) {
        auto* engine = backend();
        if (!engine) return std::nullopt;
        const auto db = engine->database();
        const jet::CatalogEntry* entry = db->findObject(table);
        if (!entry || entry->type != 1) return std::nullopt; // a linked table's keys are its own file's
        return jet::readTableSchema(*db, table);
    }

    std::vector<jet::RelationshipSchema> fileRelationships() {
        auto* engine = backend();
        return engine ? jet::readRelationships(*engine->database()) : std::vector<jet::RelationshipSchema>{};
    }

    void readRunKeys() {
        runKeys.emplace();
        for (int i = 0; i < page.postgresList.count(); ++i) {
            if (!page.postgresList.selected(i)) continue;
            const auto keys = readForeignKeys(pg, page.postgresList.item(i));
            runKeys->insert(runKeys->end(), keys.begin(), keys.end());
        }
    }

    // The logical indexes the run's relationships will add to the table (one on each side of each).
    int relationshipIndexes(const std::string& table) {
        int n = 0;
        for (const auto& k : *runKeys) n += (k.table == table) + (k.referencedTable == table);
        // Removed ones come back unless the server's own foreign key, counted above, makes them.
        auto same = [&](const std::string& a, const std::string& b) { return sameTable(a, b); };
        for (const auto& r : removed) {
            if (!r.enforced || std::any_of(runKeys->begin(), runKeys->end(),
                                           [&](const ForeignKey& k) { return sameRelationship(k, r.key, same); }))
                continue;
            n += sameTable(r.key.table, table) + sameTable(r.key.referencedTable, table);
        }
        return n;
    }

    void sendKeys(const AccessSchemaPlan& table);
    bool makeRelationship(const ForeignKey& key, std::string& why);

    AccessTarget target() {
        AccessTarget t;
        if (auto* backend = dynamic_cast<db::AccessBackend*>(&access.backend())) {
            const jet::Format format = backend->database()->format();
            t.decimal = format != jet::Format::Jet3;
            t.bigInt = format >= jet::Format::Ace16;
            t.memoIndexes = format >= jet::Format::Ace12;
            t.cascadeSetNull = format != jet::Format::Jet3;
            t.dateTimeExtended = format >= jet::Format::Ace17;
        }
        return t;
    }

    bool sendRows(const AccessSchemaPlan& plan, TransferSummary& summary);

    // Required, DefaultValue and Description, after the rows; a failure is reported and the table stays.
    void setProperties(const AccessSchemaPlan& plan) {
        if (plan.properties.empty()) return;
        auto* backend = dynamic_cast<db::AccessBackend*>(&access.backend());
        if (!backend) return;
        sql = "properties of " + plan.table;
        if (!trap.step(262, [&] { backend->setProperties(plan.table, plan.properties); })) {
            leftOut.push_back(plan.table + ": Required, default values and descriptions (could not be written)");
            return;
        }
        required += plan.required;
        defaults += plan.defaults;
        descriptions += plan.descriptions;
    }
};

bool AccessFullSchemaRun::State::sendRows(const AccessSchemaPlan& plan, TransferSummary& summary) {
    std::unique_ptr<db::Recordset> source;
    if (!trap.step(146, [&] { source = pg.openRecordset(accessSelectSql(plan)); })) return false;
    long long count = 0, sent = 0, failed = 0;
    AccessBatch<std::string> batch(dynamic_cast<db::AccessBackend*>(&access.backend()));
    auto writeBatch = [&] {
        const std::vector<std::string> again = batch.commit();
        sent -= static_cast<long long>(again.size());
        for (const std::string& statement : again) {
            sql = statement;
            try {
                trap.reach(252);
                ExecuteSql(access, sql);
                ++sent;
            } catch (...) {
                if (failed++ == 0) trap.report(std::current_exception());
            }
        }
    };
    if (trap.step(216, [&] { count = source->recordCount(); })) {
        detail::RowProgress progress(page.progress, count);
        detail::EventPacer pacer(page.dialogs);
        const int columns = source->fieldCount();
        std::vector<std::optional<std::string>> values(static_cast<std::size_t>(columns));
        // The Access engine takes the statement parsed; its text is kept for reports and rows run again.
        auto* engine = dynamic_cast<db::AccessBackend*>(&access.backend());
        jet::sql::Insert statement;
        statement.table = plan.table;
        statement.values.resize(static_cast<std::size_t>(columns));
        batch.begin();
        for (long long row = 0; row < count && !stopRequested(); ++row) {
            pacer.tick();
            progress.row(row);
            try {
                trap.reach(224);
                for (int c = 0; c < columns; ++c) {
                    const db::Variant& v = source->value(c);
                    values[std::size_t(c)] = v.isNull() ? std::nullopt : std::optional<std::string>(v.toText());
                }
                sql = accessInsertSql(plan, values);
                trap.reach(252);
                if (engine) {
                    for (std::size_t c = 0; c < values.size(); ++c) {
                        jet::sql::Literal& literal = statement.values[c];
                        literal.kind = values[c] ? jet::sql::Literal::Kind::Text : jet::sql::Literal::Kind::Null;
                        literal.text = values[c] ? accessValueText(plan.columns[c].form, *values[c]) : std::string();
                    }
                    engine->insert(statement);
                } else {
                    ExecuteSql(access, sql);
                }
                ++sent;
                batch.stored(sql);
            } catch (...) {
                if (failed++ == 0) trap.report(std::current_exception());
            }
            if (batch.full()) {
                writeBatch();
                batch.begin();
            }
            if (!trap.step(254, [&] { source->moveNext(); })) break;
        }
        writeBatch();
    }
    source->close();
    summary.rowsSent += sent;
    summary.rowsFailed += failed;
    rows += sent;
    if (failed > 0) page.dialogs.message(failedRowsMessage(failed, count, plan.table));
    return true;
}

AccessFullSchemaRun::AccessFullSchemaRun(app::TableManagerContext& page, app::Trap& trap, std::string& sql,
                                         db::Connection& access, db::Connection& pg)
    : s_(std::make_unique<State>(State{page, trap, sql, access, pg, AfterRowsStatements(trap, sql)})) {}

AccessFullSchemaRun::~AccessFullSchemaRun() = default;

void AccessFullSchemaRun::sendTable(const std::string& table, TransferSummary& summary) {
    State& s = *s_;
    // Still in the file: the overwrite's DROP was refused (a table in a relationship, 3303, reported then).
    // The table, its rows and its relationships stay as they are, and the summary says so.
    if (auto* backend = dynamic_cast<db::AccessBackend*>(&s.access.backend());
        backend && backend->database()->findObject(table)) {
        s.leftOut.push_back(table + ": not replaced; the table in the file stays as it was, with its relationships");
        ++summary.tablesFailed;
        return;
    }
    std::vector<PgColumn> columns;
    AccessSchemaPlan plan;
    const bool built = s.trap.step(148, [&] {
        columns = readColumns(s.pg, table);
        for (const PgColumn& c : columns) requireAccessName(c.name, "column");
        measureColumns(s.pg, table, columns);
        plan = planAccessTable(table, columns, s.target(), tableComment(s.pg, table));
        s.sql = accessCreateSql(plan);
    });
    if (!built || !s.trap.step(208, [&] { ExecuteSql(s.access, s.sql); })) {
        ++summary.tablesFailed;
        return;
    }
    ++s.tables;
    s.autoNumbers += plan.autoNumbers;
    s.asText.insert(s.asText.end(), plan.asText.begin(), plan.asText.end());
    s.leftOut.insert(s.leftOut.end(), plan.leftOut.begin(), plan.leftOut.end());
    if (!s.sendRows(plan, summary)) {
        ++summary.tablesFailed;
        return;
    }
    ++summary.tablesSent;
    s.sentTables.push_back(table);
    s.setProperties(plan);
    s.sendKeys(plan);
}

// The primary key and indexes of a loaded table, each built from its rows; a failing one is reported with its
// statement and the rows stay.
void AccessFullSchemaRun::State::sendKeys(const AccessSchemaPlan& table) {
    AccessKeysPlan keys;
    if (!trap.step(148, [&] {
            if (!runKeys) readRunKeys();
            keys = planAccessKeys(table.table, readIndexes(pg, table.table), table.columns,
                                  relationshipIndexes(table.table), target());
        }))
        return;
    leftOut.insert(leftOut.end(), keys.leftOut.begin(), keys.leftOut.end());
    changed.insert(changed.end(), keys.changed.begin(), keys.changed.end());
    for (const auto& index : keys.indexes) {
        if (stopRequested() || !after.run(access, index.sql)) continue;
        if (index.primary)
            ++primaryKeys;
        else
            ++(index.unique ? uniqueIndexes : indexes);
    }
}

// Makes one relationship when the file allows it; `why` tells why not.
bool AccessFullSchemaRun::State::makeRelationship(const ForeignKey& key, std::string& why) {
    AccessNames names;
    std::optional<jet::TableSchema> child, parent;
    const bool read = trap.step(kAfterRowsLine, [&] {
        for (const auto& r : fileRelationships()) names.reserve(r.name);
        child = fileSchema(key.table);
        parent = fileSchema(key.referencedTable);
    });
    if (!read) {
        why = "the Access file could not be read";
        return false;
    }
    const RelationshipPlan plan =
        planRelationship(key, child ? &*child : nullptr, parent ? &*parent : nullptr, names, target());
    if (plan.sql.empty()) {
        why = plan.leftOut;
        return false;
    }
    if (!after.run(access, plan.sql)) {
        why = "the statement failed (below)";
        return false;
    }
    changed.insert(changed.end(), plan.notes.begin(), plan.notes.end());
    return true;
}

void AccessFullSchemaRun::beforeDrop(const std::string& table) {
    State& s = *s_;
    // A relationship whose referencing table is linked cannot be removed by SQL: it stays, and so does the table
    // (its DROP is refused and reported, as without the option).
    std::vector<jet::RelationshipSchema> named;
    s.trap.step(142, [&] {
        for (auto& r : s.fileRelationships())
            if ((s.sameTable(r.table, table) || s.sameTable(r.referencedTable, table)) && s.fileSchema(r.table))
                named.push_back(std::move(r));
    });
    for (const auto& r : named) {
        if (s.after.run(s.access, "ALTER TABLE " + quoteAccessName(r.table) + " DROP CONSTRAINT " +
                                      quoteAccessName(r.name, "index")))
            s.removed.push_back({foreignKeyFromFile(r), r.enforced()});
    }
}

void AccessFullSchemaRun::finish() {
    State& s = *s_;
    auto same = [&](const std::string& a, const std::string& b) { return s.sameTable(a, b); };
    auto sent = [&](const std::string& t) {
        return std::any_of(s.sentTables.begin(), s.sentTables.end(), [&](const std::string& x) { return x == t; });
    };
    auto exists = [&](const ForeignKey& k) {
        std::vector<jet::RelationshipSchema> now;
        s.trap.step(kAfterRowsLine, [&] { now = s.fileRelationships(); });
        return std::any_of(now.begin(), now.end(),
                           [&](const jet::RelationshipSchema& r) { return sameRelationship(r, k, same); });
    };
    // The server's foreign keys of the tables sent, once every table of the run is loaded.
    if (s.runKeys && !stopRequested()) {
        for (const auto& k : *s.runKeys) {
            if (!sent(k.table)) continue;
            const std::string what = "relationship " + k.name + ", " + describeForeignKey(k);
            if (exists(k)) continue;
            std::string why;
            if (s.makeRelationship(k, why))
                ++s.relationships;
            else
                s.leftOut.push_back(what + ": " + why);
        }
    }
    // The relationships removed for an overwrite come back when both tables are there again with matching keys;
    // each one is listed, and those that cannot come back say why.
    for (const auto& r : s.removed) {
        const std::string what = r.key.name + ", " + describeForeignKey(r.key);
        std::string why;
        if (!r.enforced)
            s.removedLines.push_back(what + ": not made again (a relationship without integrity, which Access SQL "
                                            "cannot make; draw it again in Access)");
        else if (exists(r.key))
            s.removedLines.push_back(what + ": made again from the server's foreign key");
        else if (s.makeRelationship(r.key, why))
            s.removedLines.push_back(what + ": made again");
        else
            s.removedLines.push_back(what + ": could not be made again: " + why);
    }
    s.page.dialogs.message(summaryText());
}

std::string AccessFullSchemaRun::summaryText() const {
    const State& s = *s_;
    std::string text = "Keep column types, keys and indexes: " + plural(s.tables, "table", "tables") + ", " +
                       plural(s.rows, "row", "rows") + "; created " +
                       plural(s.autoNumbers, "AutoNumber", "AutoNumbers") + ", " +
                       plural(s.required, "Required field", "Required fields") + ", " +
                       plural(s.defaults, "default value", "default values") + ", " +
                       plural(s.descriptions, "description", "descriptions") + ", " +
                       plural(s.primaryKeys, "primary key", "primary keys") + ", " +
                       plural(s.uniqueIndexes + s.indexes, "index", "indexes") + " (" +
                       std::to_string(s.uniqueIndexes) + " unique), " +
                       plural(s.relationships, "relationship", "relationships") + ".";
    appendSection(text, "Kept as text:", s.asText);
    appendSection(text, "Kept with a change:", s.changed);
    appendSection(text, "Relationships removed from the Access file to overwrite a table:", s.removedLines);
    appendSection(text, "Left out:", s.leftOut);
    s.after.appendFailed(text);
    return text;
}

} // namespace transfer
