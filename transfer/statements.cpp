#include "transfer/statements.h"

#include "transfer/helpers.h"
#include "transfer/names.h"

namespace transfer {

namespace {

void appendQuotedLiteral(std::string& out, const std::string& text) {
    out += '\'';
    for (char c : text) {
        if (c == '\'') out += '\'';
        out += c;
    }
    out += '\'';
}

} // namespace

std::string lowerTypeName(const db::FieldInfo& field) {
    return lowerCase(AdoTypeName(static_cast<std::int16_t>(field.type)));
}

std::vector<db::FieldInfo> fieldsOf(const db::Recordset& recordset) {
    std::vector<db::FieldInfo> fields;
    const int n = recordset.fieldCount();
    fields.reserve(std::size_t(n));
    for (int i = 0; i < n; ++i) fields.push_back(recordset.field(i));
    return fields;
}

PostgresCreate buildPostgresCreate(const std::string& table, const std::vector<db::FieldInfo>& fields) {
    PostgresCreate create;
    create.sql = "CREATE TABLE " + quotePostgresName(table) + "(";
    for (std::size_t c = 0; c < fields.size(); ++c) {
        const PostgresTypeRule& rule = postgresTypeRule(lowerTypeName(fields[c]));
        create.sql += quotePostgresName(fields[c].name);
        create.sql += rule.suffix;
        create.currency.push_back(rule.currency);
        if (rule.currency) create.currencyColumnList += std::to_string(c) + ",";
    }
    create.sql.pop_back(); // the comma after the last column
    create.sql += ")";
    return create;
}

std::string buildPostgresInsert(const std::string& table, std::span<const std::string> values,
                                const std::vector<bool>& currency) {
    std::string sql = "INSERT INTO " + quotePostgresName(table) + " VALUES(";
    const std::size_t open = sql.size() - 1; // where "(" stands
    bool firstNull = false;
    for (std::size_t c = 0; c < values.size(); ++c) {
        const std::string& text = values[c];
        if (text.empty()) {
            if (c == 0) firstNull = true;
            sql.pop_back();
            sql += "NULL, ";
        } else if (c < currency.size() && currency[c]) {
            sql += text;
            sql += ", ";
        } else {
            appendQuotedLiteral(sql, text);
            sql += ", ";
        }
    }
    sql.resize(sql.size() - 2);
    sql += ")";
    // A Null in first place ate the "(" of "VALUES(": put it back right there,
    // never anywhere in a name or a value.
    if (firstNull) sql.insert(open, 1, '(');
    return sql;
}

std::string buildPostgresCopy(const std::string& table) { return "COPY " + quotePostgresName(table) + " FROM STDIN"; }

void appendCopyRow(std::string& out, std::span<const std::string> values) {
    bool first = true;
    for (const std::string& text : values) {
        if (!first) out += '\t';
        first = false;
        if (text.empty()) {
            out += "\\N";
            continue;
        }
        appendCopyText(out, text);
    }
    out += '\n';
}

void appendCopyText(std::string& out, std::string_view text) {
    // Copied a run at a time up to each character that needs its escape.
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const char* escaped = c == '\\' ? "\\\\" : c == '\n' ? "\\n" : c == '\r' ? "\\r" : c == '\t' ? "\\t" : nullptr;
        if (!escaped) continue;
        out.append(text.substr(start, i - start));
        out.append(escaped, 2);
        start = i + 1;
    }
    out.append(text.substr(start));
}

AccessCreate buildAccessCreate(const std::string& table, const std::vector<db::FieldInfo>& fields,
                               const std::function<DecimalNeed(int column)>& measure, bool decimalType) {
    AccessCreate create;
    create.sql = "CREATE TABLE " + quoteAccessName(table) + "(";
    for (std::size_t c = 0; c < fields.size(); ++c) {
        requireAccessName(fields[c].name, "column");
        const AccessTypeRule& rule = accessTypeRule(lowerTypeName(fields[c]));
        DecimalShape shape;
        const int column = int(c);
        std::function<DecimalNeed()> measureThis;
        if (measure) measureThis = [&measure, column] { return measure(column); };
        create.sql += "`" + fields[c].name + accessColumnSuffix(rule, fields[c], measureThis, &shape, decimalType);
        if (rule.kind == AccessTypeKind::Decimal)
            create.decimals.emplace_back(shape);
        else
            create.decimals.emplace_back();
    }
    create.sql.pop_back(); // the comma after the last column, or "(" when there is none
    create.sql += ");";
    return create;
}

std::string buildAccessInsert(const std::string& table, std::span<const std::string> values) {
    std::size_t size = table.size() + 24;
    for (const std::string& text : values) size += text.size() + 8;
    std::string sql;
    sql.reserve(size);
    sql += "INSERT INTO `";
    sql += table;
    sql += "` VALUES('";
    for (const std::string& text : values) {
        if (text.empty()) {
            sql.pop_back(); // the quote opened for this value
            sql += "NULL, '";
            continue;
        }
        // Copied a run at a time; every apostrophe is doubled.
        for (std::size_t start = 0;;) {
            const std::size_t quote = text.find('\'', start);
            if (quote == std::string::npos) {
                sql.append(text, start, std::string::npos);
                break;
            }
            sql.append(text, start, quote + 1 - start);
            sql += '\'';
            start = quote + 1;
        }
        sql += "', '";
    }
    sql.resize(sql.size() >= 3 ? sql.size() - 3 : 0);
    sql += ")";
    return sql;
}

} // namespace transfer
