#include "transfer/access_schema_plan.h"

#include <array>
#include <limits>
#include <string_view>

#include "transfer/names.h"
#include "transfer/type_rules.h"

namespace transfer {

namespace {

// Server types by what they become. A type in no row is Long Text of its text form.
enum class Kind { Boolean, Small, Int, Big, Real, Double, Numeric, Money, Varchar, Bpchar, Uuid, Bytea, Date, Stamp, Time };

struct TypeRow {
    std::string_view typname;
    Kind kind;
};

constexpr std::array<TypeRow, 17> kTypes{{
    {"bool", Kind::Boolean},
    {"int2", Kind::Small},
    {"int4", Kind::Int},
    {"int8", Kind::Big},
    {"float4", Kind::Real},
    {"float8", Kind::Double},
    {"numeric", Kind::Numeric},
    {"money", Kind::Money},
    {"varchar", Kind::Varchar},
    {"bpchar", Kind::Bpchar},
    {"uuid", Kind::Uuid},
    {"bytea", Kind::Bytea},
    {"date", Kind::Date},
    {"timestamp", Kind::Stamp},
    {"timestamptz", Kind::Stamp},
    {"time", Kind::Time},
    {"oid", Kind::Big},
}};

std::optional<Kind> kindOf(const std::string& typname) {
    for (const auto& row : kTypes)
        if (row.typname == typname) return row.kind;
    return std::nullopt;
}

// numeric(p,s) as the column declares it, when it declares one Access can hold.
std::optional<DecimalShape> declaredDecimal(int typmod) {
    if (typmod < 4) return std::nullopt;
    const int p = ((typmod - 4) >> 16) & 0xFFFF;
    const int s = (typmod - 4) & 0xFFFF; // a negative or larger-than-p scale (PostgreSQL 15) reads as too wide
    if (p < 1 || p > kAccessMaxPrecision || s > p) return std::nullopt;
    return DecimalShape{p, s, false};
}

// Fractional-second digits a time type declares (-1: up to microseconds).
int secondDigits(int typmod) { return typmod < 0 ? -1 : typmod; }

std::string decimalType(DecimalShape d) {
    return "DECIMAL(" + std::to_string(d.precision) + "," + std::to_string(d.scale) + ")";
}

std::string plainText(const std::string& column) { return column + "::text"; }

} // namespace

Measure measureFor(const PgColumn& c) {
    const auto kind = kindOf(c.type);
    if (!kind) return Measure::None;
    switch (*kind) {
    case Kind::Boolean: return Measure::Nulls;
    case Kind::Numeric: return declaredDecimal(c.typmod) ? Measure::None : Measure::Digits;
    case Kind::Date: return Measure::None;
    case Kind::Stamp:
    case Kind::Time: {
        const int digits = secondDigits(c.typmod);
        return digits >= 0 && digits <= 3 ? Measure::None : Measure::Fractions;
    }
    case Kind::Big: return c.identity ? Measure::Range : Measure::None;
    default: return Measure::None;
    }
}

namespace {

bool isNumber(const std::string& t) {
    std::size_t i = t.size() > 1 && t[0] == '-' ? 1 : 0, digits = 0, points = 0;
    for (; i < t.size(); ++i) {
        if (t[i] == '.') ++points;
        else if (t[i] >= '0' && t[i] <= '9') ++digits;
        else return false;
    }
    return digits > 0 && points <= 1;
}

// The expression without the casts PostgreSQL shows after it: 'a'::character varying, '-1'::integer.
std::string withoutCasts(std::string e) {
    while (true) {
        const std::size_t at = e.rfind("::");
        if (at == std::string::npos || e.find('\'', at) != std::string::npos) return e;
        e.resize(at);
        if (e.size() >= 2 && e.front() == '(' && e.back() == ')') e = e.substr(1, e.size() - 2);
    }
}

// Access's properties of one column: Required for NOT NULL, DefaultValue, Description.
void planProperties(AccessSchemaPlan& plan, const PgColumn& c, const AccessPlannedColumn& out) {
    jet::PropertyChange change;
    change.column = c.name;
    // An AutoNumber is filled by the engine and a Yes/No field never holds Null: Access sets Required on neither.
    if (c.notNull && !out.autoNumber && out.type != "BIT") {
        change.required = true;
        ++plan.required;
    }
    if (!c.defaultSql.empty() && !c.identity) {
        change.defaultValue = accessDefault(c.defaultSql, out.type);
        if (change.defaultValue)
            ++plan.defaults;
        else
            plan.leftOut.push_back(plan.table + "." + c.name + ": default " + c.defaultSql +
                                   " (not a simple value Access can hold)");
    }
    if (!c.comment.empty()) {
        change.description = c.comment;
        ++plan.descriptions;
    }
    if (change.required || change.defaultValue || change.description) plan.properties.push_back(std::move(change));
}

} // namespace

std::optional<std::string> accessDefault(const std::string& defaultSql, const std::string& accessType) {
    const std::string e = withoutCasts(defaultSql);
    const bool text = accessType == "MEMO" || accessType.rfind("VARCHAR", 0) == 0;
    const bool date = accessType == "DATETIME";
    const bool number = !text && !date && accessType != "GUID" && accessType != "OLEOBJECT";
    std::string lower;
    for (char ch : e) lower += static_cast<char>(ch >= 'A' && ch <= 'Z' ? ch + 32 : ch);
    if (date && (lower == "now()" || lower == "current_timestamp" || lower == "localtimestamp" ||
                 lower == "statement_timestamp()" || lower == "transaction_timestamp()"))
        return "Now()";
    if (date && lower == "current_date") return "Date()";
    if (lower == "true" || lower == "false") {
        if (accessType == "BIT") return lower == "true" ? "Yes" : "No";
        if (accessType == "SMALLINT") return lower == "true" ? "-1" : "0";
        return std::nullopt;
    }
    if (e.size() >= 2 && e.front() == '\'' && e.back() == '\'') {
        // One literal only: inside it a quote comes doubled ('' stands for one).
        std::string inner;
        for (std::size_t i = 1; i + 1 < e.size(); ++i) {
            if (e[i] == '\'') {
                if (i + 2 >= e.size() || e[i + 1] != '\'') return std::nullopt;
                ++i;
            }
            inner += e[i];
        }
        if (number && isNumber(inner)) return inner;
        if (!text) return std::nullopt;
        std::string quoted = "\"";
        for (char ch : inner) quoted += ch == '"' ? std::string("\"\"") : std::string(1, ch);
        return quoted + "\"";
    }
    if (number && isNumber(e)) return e;
    return std::nullopt;
}

AccessSchemaPlan planAccessTable(const std::string& table, const std::vector<PgColumn>& columns,
                                 const AccessTarget& target, const std::string& tableComment) {
    AccessSchemaPlan plan;
    plan.table = table;
    for (const PgColumn& c : columns) {
        const std::string where = table + "." + c.name;
        const std::string expr = quotePostgresName(c.name);
        AccessPlannedColumn out{c.name, "MEMO", plainText(expr), AccessForm::Text, false};
        auto asText = [&](const std::string& why, std::string type = "MEMO") {
            out.type = std::move(type);
            out.select = plainText(expr);
            out.form = AccessForm::Text;
            plan.asText.push_back(where + ": " + why);
        };
        // An identity or serial column becomes the table's AutoNumber (a Long Integer; one per table).
        auto autoNumber = [&] {
            if (!c.identity) return false;
            if (plan.autoNumbers > 0) {
                plan.leftOut.push_back(where + ": a second identity column; Access has one AutoNumber a table, "
                                               "its values are copied as plain numbers");
                return false;
            }
            const long long most = std::numeric_limits<std::int32_t>::max();
            const long long least = std::numeric_limits<std::int32_t>::min();
            if ((c.highest && *c.highest > most) || (c.lowest && *c.lowest < least)) {
                plan.leftOut.push_back(where + ": identity values beyond Long Integer; copied as plain numbers "
                                               "without an AutoNumber");
                return false;
            }
            out.type = "COUNTER";
            out.autoNumber = true;
            ++plan.autoNumbers;
            return true;
        };
        const auto kind = kindOf(c.type);
        if (!kind) {
            planProperties(plan, c, out);
            plan.columns.push_back(out); // Long Text of PostgreSQL's text form
            continue;
        }
        switch (*kind) {
        case Kind::Boolean:
            // Access's own numbers: -1 for true, 0 for false; a Yes/No field never holds Null.
            out.select = "CASE " + expr + " WHEN true THEN '-1' WHEN false THEN '0' END";
            out.type = c.holdsNull ? "SMALLINT" : "BIT";
            break;
        case Kind::Small:
            if (!autoNumber()) out.type = "SMALLINT";
            break;
        case Kind::Int:
            if (!autoNumber()) out.type = "INT";
            break;
        case Kind::Big:
            if (autoNumber()) break;
            if (target.bigInt)
                out.type = "BIGINT";
            else if (target.decimal)
                out.type = "DECIMAL(19,0)";
            else
                asText("bigint kept as text (Access 97 has neither Large Number nor Decimal)", "VARCHAR(20)");
            break;
        case Kind::Real: out.type = "REAL"; break;
        case Kind::Double: out.type = "DOUBLE"; break;
        case Kind::Numeric: {
            std::optional<DecimalShape> shape = declaredDecimal(c.typmod);
            if (!shape && c.integerDigits + c.scale <= kAccessMaxPrecision)
                shape = DecimalShape{std::max(1, c.integerDigits + c.scale), c.scale, false};
            if (shape && !target.decimal) {
                // Currency holds 4 decimals and 15 integer digits exactly.
                if (shape->scale <= 4 && shape->precision - shape->scale <= 14)
                    out.type = "CURRENCY";
                else
                    asText("numeric values that Currency cannot hold exactly (Access 97 has no Decimal) kept as "
                           "Long Text");
            } else if (shape) {
                out.type = decimalType(*shape);
            } else {
                asText("numeric values wider than 28 digits kept as Long Text");
            }
            break;
        }
        case Kind::Money:
            out.type = "CURRENCY";
            out.select = expr + "::numeric::text";
            break;
        case Kind::Varchar:
        case Kind::Bpchar: {
            const int n = c.typmod >= 4 ? c.typmod - 4 : 0;
            if (n >= 1 && n <= kAccessMaxText) out.type = "VARCHAR(" + std::to_string(n) + ")";
            // char(n) keeps its padding, as PostgreSQL shows it (a cast to text would drop it).
            if (*kind == Kind::Bpchar) out.select = "CASE WHEN " + expr + " IS NOT NULL THEN concat(" + expr + ") END";
            break;
        }
        case Kind::Uuid: out.type = "GUID"; break;
        case Kind::Bytea:
            out.type = "OLEOBJECT";
            out.select = "'\\x' || encode(" + expr + ", 'hex')";
            break;
        case Kind::Date:
        case Kind::Stamp: {
            // Values finer than the millisecond keep every digit in Date/Time Extended where the file has it.
            const bool extended = c.subMillisecond && target.dateTimeExtended;
            if (c.subMillisecond && !extended) {
                asText("date/time values with digits below the millisecond kept as Long Text");
                break;
            }
            out.type = extended ? "DATETIME2" : "DATETIME";
            out.form = AccessForm::DateTime;
            // Infinity has no date: its text reaches the engine, which refuses it.
            out.select = "CASE WHEN isfinite(" + expr + ") THEN to_char(" + expr + ", 'YYYY-MM-DD HH24:MI:SS." +
                         (extended ? "US" : "MS") + " AD') ELSE " + plainText(expr) + " END";
            break;
        }
        case Kind::Time: {
            const bool extended = c.subMillisecond && target.dateTimeExtended;
            if (c.subMillisecond && !extended) {
                asText("time values with digits below the millisecond kept as Long Text");
                break;
            }
            // Day 0 (30 December 1899) with the time of day as the fraction (the same day in Date/Time Extended).
            out.type = extended ? "DATETIME2" : "DATETIME";
            out.select = extended ? "'1899-12-30 ' || to_char(" + expr + "::interval, 'HH24:MI:SS.US')"
                                  : "to_char(" + expr + "::interval, 'HH24:MI:SS.MS')";
            break;
        }
        }
        planProperties(plan, c, out);
        plan.columns.push_back(out);
    }
    if (!tableComment.empty()) {
        jet::PropertyChange change;
        change.description = tableComment;
        plan.properties.insert(plan.properties.begin(), std::move(change));
        ++plan.descriptions;
    }
    return plan;
}

std::string accessCreateSql(const AccessSchemaPlan& plan) {
    std::string sql = "CREATE TABLE " + quoteAccessName(plan.table) + "(";
    for (std::size_t i = 0; i < plan.columns.size(); ++i)
        sql += (i ? "," : "") + quoteAccessName(plan.columns[i].name, "column") + " " + plan.columns[i].type;
    return sql + ")";
}

std::string accessSelectSql(const AccessSchemaPlan& plan) {
    std::string sql = "SELECT ";
    for (std::size_t i = 0; i < plan.columns.size(); ++i) sql += (i ? ", " : "") + plan.columns[i].select;
    return sql + " FROM " + quotePostgresName(plan.table);
}

std::string accessValueText(AccessForm form, std::string text) {
    if (form == AccessForm::DateTime && text.size() > 3 && text.compare(text.size() - 3, 3, " AD") == 0)
        text.resize(text.size() - 3);
    return text;
}

std::string accessInsertSql(const AccessSchemaPlan& plan, const std::vector<std::optional<std::string>>& values) {
    std::string sql = "INSERT INTO " + quoteAccessName(plan.table) + " VALUES(";
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i) sql += ",";
        if (!values[i]) {
            sql += "NULL";
            continue;
        }
        sql += '\'';
        for (char ch : accessValueText(plan.columns[i].form, *values[i])) {
            sql += ch;
            if (ch == '\'') sql += '\'';
        }
        sql += '\'';
    }
    return sql + ")";
}

} // namespace transfer
