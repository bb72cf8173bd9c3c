#include "transfer/access_full_schema.h"

#include <optional>
#include <vector>

#include "db/access_session.h"
#include "jet/database.h"
#include "jet/format.h"
#include "jet/sql.h"
#include "transfer/access_batch.h"
#include "transfer/access_schema_plan.h"
#include "transfer/busy.h"
#include "transfer/helpers.h"
#include "transfer/names.h"
#include "transfer/pacing.h"
#include "transfer/schema_plan.h"

namespace transfer {

namespace {

using Rows = std::vector<std::vector<std::optional<std::string>>>;

Rows query(db::Connection& pg, const std::string& text) {
    Rows out;
    auto rs = pg.openRecordset(text);
    for (; rs && !rs->eof(); rs->moveNext()) {
        std::vector<std::optional<std::string>> row;
        for (int i = 0; i < rs->fieldCount(); ++i) {
            const db::Variant& v = rs->value(i);
            row.push_back(v.isNull() ? std::nullopt : std::optional<std::string>(v.toText()));
        }
        out.push_back(std::move(row));
    }
    return out;
}

std::string regclass(const std::string& table) { return "to_regclass(" + sqlLiteral(quotePostgresName(table)) + ")"; }

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

// What the table carries that the Access side does not receive yet.
std::optional<std::string> notCarried(db::Connection& pg, const std::string& table) {
    const Rows rows = query(
        pg, "SELECT (SELECT count(*) FROM pg_constraint WHERE conrelid = " + regclass(table) +
                " AND contype = 'p')::text, (SELECT count(*) FROM pg_index WHERE indrelid = " + regclass(table) +
                " AND NOT indisprimary)::text, (SELECT count(*) FROM pg_constraint WHERE conrelid = " +
                regclass(table) + " AND contype = 'f')::text");
    if (rows.empty()) return std::nullopt;
    static const char* const kWhat[] = {"primary key", "other indexes", "foreign keys"};
    std::string text;
    for (std::size_t i = 0; i < std::size(kWhat); ++i) {
        const std::string n = rows[0].at(i).value_or("0");
        if (n != "0") text += (text.empty() ? "" : ", ") + n + " " + kWhat[i];
    }
    if (text.empty()) return std::nullopt;
    return table + ": " + text + " (not written to Access files yet)";
}

std::string plural(long long n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

} // namespace

struct AccessFullSchemaRun::State {
    app::TableManagerContext& page;
    app::Trap& trap;
    std::string& sql;
    db::Connection& access;
    db::Connection& pg;
    std::vector<std::string> asText, leftOut;
    int tables = 0, autoNumbers = 0, required = 0, defaults = 0, descriptions = 0;
    long long rows = 0;

    AccessTarget target() {
        AccessTarget t;
        if (auto* backend = dynamic_cast<db::AccessBackend*>(&access.backend())) {
            const jet::Format format = backend->database()->format();
            t.decimal = format != jet::Format::Jet3;
            t.bigInt = format >= jet::Format::Ace16;
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
    : s_(std::make_unique<State>(State{page, trap, sql, access, pg, {}, {}})) {}

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
    s.setProperties(plan);
    std::optional<std::string> missing;
    if (s.trap.step(148, [&] { missing = notCarried(s.pg, table); }) && missing) s.leftOut.push_back(*missing);
}

void AccessFullSchemaRun::finish() { s_->page.dialogs.message(summaryText()); }

std::string AccessFullSchemaRun::summaryText() const {
    const State& s = *s_;
    std::string text = "Keep column types, keys and indexes: " + plural(s.tables, "table", "tables") + ", " +
                       plural(s.rows, "row", "rows") + "; created " +
                       plural(s.autoNumbers, "AutoNumber", "AutoNumbers") + ", " +
                       plural(s.required, "Required field", "Required fields") + ", " +
                       plural(s.defaults, "default value", "default values") + ", " +
                       plural(s.descriptions, "description", "descriptions") + ".";
    if (!s.asText.empty()) {
        text += "\r\nKept as text:";
        for (const auto& l : s.asText) text += "\r\n  " + l;
    }
    if (!s.leftOut.empty()) {
        text += "\r\nLeft out:";
        for (const auto& l : s.leftOut) text += "\r\n  " + l;
    }
    return text;
}

} // namespace transfer
