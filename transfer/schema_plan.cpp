#include "transfer/schema_plan.h"

#include <algorithm>
#include <cctype>
#include <regex>

#include "transfer/names.h"

namespace transfer {

namespace {

using jet::ColumnType;

bool is(std::uint8_t code, ColumnType t) { return code == static_cast<std::uint8_t>(t); }

// The server type of each Access type code that maps without further facts.
struct TypeRule {
    ColumnType access;
    const char* postgres;
    CellForm form;
};
constexpr TypeRule kTypeRules[] = {
    {ColumnType::Boolean, "boolean", CellForm::Plain},
    {ColumnType::Byte, "smallint", CellForm::Plain},
    {ColumnType::Integer, "smallint", CellForm::Plain},
    {ColumnType::Long, "integer", CellForm::Plain},
    {ColumnType::BigInt, "bigint", CellForm::Plain},
    {ColumnType::Single, "real", CellForm::Plain},
    {ColumnType::Double, "double precision", CellForm::Plain},
    {ColumnType::Currency, "numeric(19,4)", CellForm::Plain},
    {ColumnType::DateTime, "timestamp without time zone", CellForm::Plain},
    {ColumnType::Memo, "text", CellForm::Plain},
    {ColumnType::Guid, "uuid", CellForm::Uuid},
    {ColumnType::Binary, "bytea", CellForm::Binary},
    {ColumnType::Ole, "bytea", CellForm::Binary},
};

const TypeRule* typeRule(std::uint8_t code) {
    for (const auto& r : kTypeRules)
        if (is(code, r.access)) return &r;
    return nullptr;
}

// Type and value form of a column, before keys and defaults.
std::pair<std::string, CellForm> columnType(const jet::ColumnSchema& c, const ColumnFacts& facts) {
    const jet::Column& col = c.column;
    switch (col.complexKind) {
    case jet::ComplexKind::None: break;
    case jet::ComplexKind::MultiValue: {
        jet::ColumnSchema element;
        element.column.type = c.elementType;
        element.column.size = c.elementSize;
        element.column.precision = c.elementPrecision;
        element.column.scale = c.elementScale;
        return {columnType(element, {}).first + "[]", CellForm::Array};
    }
    case jet::ComplexKind::Attachment:
    case jet::ComplexKind::VersionHistory: return {"jsonb", CellForm::Json};
    case jet::ComplexKind::Unknown: return {"integer", CellForm::ComplexKey};
    }
    if (const TypeRule* r = typeRule(col.type)) return {r->postgres, r->form};
    if (is(col.type, ColumnType::Text))
        return {col.size > 0 ? "varchar(" + std::to_string(col.size) + ")" : std::string("text"), CellForm::Plain};
    if (is(col.type, ColumnType::Numeric)) {
        // A calculated decimal's scale is the expression's: only an open numeric holds every result.
        if (col.precision <= 0 || col.calculated) return {"numeric", CellForm::Plain};
        return {"numeric(" + std::to_string(col.precision) + "," + std::to_string(col.scale) + ")", CellForm::Plain};
    }
    if (is(col.type, ColumnType::DateTimeExt)) {
        if (facts.extendedNeedsText) return {"varchar(27)", CellForm::TextExt};
        return {"timestamp(6) without time zone", CellForm::TimestampExt};
    }
    return {"bytea", CellForm::Binary}; // a type this engine does not know: its stored bytes
}

std::string trim(const std::string& s) {
    std::size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
    return s.substr(b, e - b);
}

std::string lowerAscii(std::string s) {
    for (auto& ch : s) ch = char(std::tolower(static_cast<unsigned char>(ch)));
    return s;
}

bool isNumeric(std::uint8_t t) {
    for (ColumnType n : {ColumnType::Byte, ColumnType::Integer, ColumnType::Long, ColumnType::BigInt,
                         ColumnType::Single, ColumnType::Double, ColumnType::Currency, ColumnType::Numeric})
        if (is(t, n)) return true;
    return false;
}

bool isTextual(std::uint8_t t) { return is(t, ColumnType::Text) || is(t, ColumnType::Memo); }
bool isDate(std::uint8_t t) { return is(t, ColumnType::DateTime) || is(t, ColumnType::DateTimeExt); }

// Cuts a UTF-8 text to at most `bytes` bytes, never inside a character.
std::string cutUtf8(const std::string& s, std::size_t bytes) {
    if (s.size() <= bytes) return s;
    std::size_t end = bytes;
    while (end > 0 && (static_cast<unsigned char>(s[end]) & 0xC0) == 0x80) --end;
    return s.substr(0, end);
}

std::string columnList(const std::vector<std::string>& names) {
    std::string out;
    for (const auto& n : names) out += (out.empty() ? "" : ",") + quotePostgresName(n);
    return out;
}

} // namespace

void NameAllocator::reserve(const std::string& name) { taken_.insert(name); }

std::string NameAllocator::allocate(const std::string& wanted) {
    std::string name = cutUtf8(wanted, kMaxNameBytes);
    for (int n = 1; taken_.count(name); ++n) {
        const std::string suffix = "_" + std::to_string(n);
        name = cutUtf8(wanted, kMaxNameBytes - suffix.size()) + suffix;
    }
    taken_.insert(name);
    return name;
}

std::string sqlLiteral(const std::string& text) {
    std::string out = "'";
    for (char ch : text) out += ch == '\'' ? std::string("''") : std::string(1, ch);
    return out + "'";
}

std::string postgresType(const jet::ColumnSchema& column, const ColumnFacts& facts) {
    return columnType(column, facts).first;
}

std::optional<std::string> postgresDefault(const std::string& expression, const jet::ColumnSchema& column) {
    std::string e = trim(expression);
    if (!e.empty() && e.front() == '=') e = trim(e.substr(1));
    const std::uint8_t t = column.column.type;
    static const std::regex number(R"(^[-+]?(\d+\.?\d*|\.\d+)([eE][-+]?\d+)?$)");
    const std::string word = lowerAscii(e);
    const bool boolean = is(t, ColumnType::Boolean);
    if (std::regex_match(e, number)) {
        if (boolean) return std::stod(e) != 0 ? "true" : "false";
        if (isNumeric(t)) return e.front() == '+' ? e.substr(1) : e;
        if (isTextual(t)) return sqlLiteral(e);
        return std::nullopt;
    }
    if (word == "yes" || word == "true" || word == "on" || word == "no" || word == "false" || word == "off") {
        const bool on = word == "yes" || word == "true" || word == "on";
        if (boolean) return on ? "true" : "false";
        if (isNumeric(t)) return on ? "-1" : "0"; // Access's True is -1
        return std::nullopt;
    }
    if (e.size() >= 2 && (e.front() == '"' || e.front() == '\'') && e.back() == e.front()) {
        // A quoted text: the quote character doubled inside stands for one.
        const char q = e.front();
        std::string text;
        for (std::size_t i = 1; i + 1 < e.size(); ++i) {
            if (e[i] == q) {
                if (i + 2 < e.size() && e[i + 1] == q) ++i;
                else return std::nullopt; // two texts joined by an operator: not a simple text
            }
            text += e[i];
        }
        if (isTextual(t)) return sqlLiteral(text);
        return std::nullopt;
    }
    if (isDate(t)) {
        if (word == "now()") return std::string("LOCALTIMESTAMP");
        if (word == "date()") return std::string("CURRENT_DATE");
        if (word == "time()") return std::string("(DATE '1899-12-30' + LOCALTIME)"); // Access's day of a bare time
    }
    return std::nullopt;
}

SchemaPlan planTable(const jet::TableSchema& table, NameAllocator& names, const std::vector<ColumnFacts>& facts) {
    SchemaPlan plan;
    plan.table = table.name;
    const std::string tableSql = quotePostgresName(table.name);
    std::vector<PlannedStatement> notNull, identity, comments;
    for (std::size_t i = 0; i < table.columns.size(); ++i) {
        const jet::ColumnSchema& c = table.columns[i];
        PlannedColumn p;
        p.name = c.column.name;
        std::tie(p.type, p.form) = columnType(c, i < facts.size() ? facts[i] : ColumnFacts{});
        const std::string where = table.name + "." + c.column.name;
        const std::string columnSql = quotePostgresName(p.name);
        if (c.autoNumber == jet::AutoNumber::Long) {
            p.identity = true;
            p.notNull = true;
            identity.push_back({PlannedStatement::Identity,
                                "SELECT setval(pg_get_serial_sequence(" + sqlLiteral(tableSql) + ", " +
                                    sqlLiteral(p.name) + "), GREATEST(COALESCE(MAX(" + columnSql +
                                    "), 0) + 1, 1), false) FROM " + tableSql});
        } else if (c.autoNumber == jet::AutoNumber::Guid) {
            p.defaultSql = "gen_random_uuid()";
            p.notNull = true;
        } else if (c.defaultValue) {
            if (auto d = postgresDefault(*c.defaultValue, c)) p.defaultSql = *d;
            else plan.leftOut.push_back(where + ": default value " + *c.defaultValue + " (not a simple value)");
        }
        if (is(c.column.type, ColumnType::Boolean) && !c.column.calculated && c.column.complexKind == jet::ComplexKind::None) {
            p.notNull = true; // a Yes/No value is never Null; a new row gets No
            if (p.defaultSql.empty()) p.defaultSql = "false";
        } else if (c.required && !p.notNull) {
            // Checked after the rows: rows Access let in before the rule stay, and the failure is told.
            notNull.push_back({PlannedStatement::NotNull,
                               "ALTER TABLE " + tableSql + " ALTER COLUMN " + columnSql + " SET NOT NULL"});
        }
        if (!c.description.empty())
            comments.push_back({PlannedStatement::Comment, "COMMENT ON COLUMN " + tableSql + "." + columnSql + " IS " +
                                                               sqlLiteral(c.description)});
        plan.columns.push_back(std::move(p));
    }

    auto complexColumn = [&](const std::string& name) {
        for (const auto& c : table.columns)
            if (c.column.name == name) return c.column.complexKind != jet::ComplexKind::None;
        return false;
    };
    for (const auto& ix : table.indexes) {
        // The relationship's own indexes come back with its foreign key; the keys of
        // complex columns are the engine's.
        if (ix.foreignKey) continue;
        if (std::any_of(ix.columns.begin(), ix.columns.end(), [&](const jet::IndexColumn& c) { return complexColumn(c.name); }))
            continue;
        std::vector<std::string> cols;
        std::string ordered;
        bool allAscending = true;
        for (const auto& c : ix.columns) {
            cols.push_back(c.name);
            ordered += (ordered.empty() ? "" : ",") + quotePostgresName(c.name) + (c.ascending ? "" : " DESC");
            allAscending = allAscending && c.ascending;
        }
        const std::string name = quotePostgresName(names.allocate(table.name + "_" + ix.name));
        if (ix.primary) {
            plan.afterRows.push_back({PlannedStatement::PrimaryKey, "ALTER TABLE " + tableSql + " ADD CONSTRAINT " +
                                                                        name + " PRIMARY KEY (" + columnList(cols) + ")"});
        } else if (ix.unique && allAscending) {
            plan.afterRows.push_back({PlannedStatement::Unique, "ALTER TABLE " + tableSql + " ADD CONSTRAINT " + name +
                                                                    " UNIQUE (" + columnList(cols) + ")"});
        } else {
            plan.afterRows.push_back({ix.unique ? PlannedStatement::Unique : PlannedStatement::Index,
                                      std::string(ix.unique ? "CREATE UNIQUE INDEX " : "CREATE INDEX ") + name +
                                          " ON " + tableSql + " (" + ordered + ")"});
        }
    }
    plan.afterRows.insert(plan.afterRows.end(), notNull.begin(), notNull.end());
    plan.afterRows.insert(plan.afterRows.end(), identity.begin(), identity.end());
    if (!table.description.empty())
        plan.afterRows.push_back({PlannedStatement::Comment,
                                  "COMMENT ON TABLE " + tableSql + " IS " + sqlLiteral(table.description)});
    plan.afterRows.insert(plan.afterRows.end(), comments.begin(), comments.end());
    return plan;
}

std::string createTableSql(const SchemaPlan& plan) {
    std::string sql = "CREATE TABLE " + quotePostgresName(plan.table) + "(";
    for (std::size_t i = 0; i < plan.columns.size(); ++i) {
        const PlannedColumn& c = plan.columns[i];
        if (i) sql += ",";
        sql += quotePostgresName(c.name) + " " + c.type;
        if (c.identity) sql += " GENERATED BY DEFAULT AS IDENTITY";
        if (!c.defaultSql.empty()) sql += " DEFAULT " + c.defaultSql;
        if (c.notNull) sql += " NOT NULL";
    }
    return sql + ")";
}

std::string copySql(const SchemaPlan& plan) {
    std::vector<std::string> names;
    for (const auto& c : plan.columns) names.push_back(c.name);
    return "COPY " + quotePostgresName(plan.table) + "(" + columnList(names) + ") FROM STDIN";
}

std::string foreignKeySql(const jet::RelationshipSchema& r, const std::string& constraintName) {
    std::string sql = "ALTER TABLE " + quotePostgresName(r.table) + " ADD CONSTRAINT " +
                      quotePostgresName(constraintName) + " FOREIGN KEY (" + columnList(r.columns) + ") REFERENCES " +
                      quotePostgresName(r.referencedTable) + "(" + columnList(r.referencedColumns) + ")";
    if (r.cascadeUpdates()) sql += " ON UPDATE CASCADE";
    if (r.cascadeDeletes()) sql += " ON DELETE CASCADE";
    else if (r.cascadeSetNull()) sql += " ON DELETE SET NULL";
    return sql;
}

} // namespace transfer
