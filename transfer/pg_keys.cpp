#include "transfer/pg_keys.h"

#include <map>

#include "transfer/names.h"
#include "transfer/schema_plan.h"

namespace transfer {

PgRows queryRows(db::Connection& pg, const std::string& text) {
    PgRows out;
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

std::string regclassOf(const std::string& table) {
    return "to_regclass(" + sqlLiteral(quotePostgresName(table)) + ")";
}

std::vector<PgIndex> readIndexes(db::Connection& pg, const std::string& table) {
    const PgRows heads = queryRows(
        pg, "SELECT x.indexrelid::text, i.relname::text, x.indisprimary::text, x.indisunique::text, am.amname::text, "
            "(x.indexprs IS NOT NULL)::text, (x.indpred IS NOT NULL)::text, (x.indnatts - x.indnkeyatts)::text, "
            "pg_get_indexdef(x.indexrelid) FROM pg_index x JOIN pg_class i ON i.oid = x.indexrelid JOIN pg_am am ON "
            "am.oid = i.relam WHERE x.indrelid = " + regclassOf(table) + " AND x.indisvalid ORDER BY i.relname");
    // indoption: 1 DESC, 2 NULLS FIRST; attnum 0 is an expression.
    const PgRows keys = queryRows(
        pg, "SELECT x.indexrelid::text, coalesce(a.attname::text, ''), x.indoption[k.o - 1]::text, "
            "coalesce(a.attnotnull, false)::text FROM pg_index x CROSS JOIN LATERAL unnest(x.indkey::int2[]) WITH "
            "ORDINALITY k(n, o) LEFT JOIN pg_attribute a ON a.attrelid = x.indrelid AND a.attnum = k.n WHERE "
            "x.indrelid = " + regclassOf(table) + " AND k.o <= x.indnkeyatts ORDER BY x.indexrelid, k.o");
    std::map<std::string, std::vector<PgIndexColumn>> columns;
    for (const auto& k : keys) {
        const int option = std::stoi(k.at(2).value_or("0"));
        columns[k.at(0).value_or("")].push_back(
            {k.at(1).value_or(""), (option & 1) != 0, (option & 2) != 0, k.at(3) == "true"});
    }
    std::vector<PgIndex> out;
    for (const auto& h : heads) {
        PgIndex ix;
        ix.name = h.at(1).value_or("");
        ix.primary = h.at(2) == "true";
        ix.unique = h.at(3) == "true";
        ix.method = h.at(4).value_or("");
        ix.expression = h.at(5) == "true";
        ix.partial = h.at(6) == "true";
        ix.includedColumns = std::stoi(h.at(7).value_or("0"));
        ix.definition = h.at(8).value_or("");
        ix.columns = columns[h.at(0).value_or("")];
        for (const auto& c : ix.columns)
            if (c.name.empty()) ix.expression = true;
        out.push_back(std::move(ix));
    }
    return out;
}

std::vector<ForeignKey> readForeignKeys(db::Connection& pg, const std::string& table) {
    const PgRows rows = queryRows(
        pg, "SELECT c.oid::text, c.conname::text, CASE WHEN r.relnamespace = c.connamespace THEN r.relname::text ELSE "
            "c.confrelid::regclass::text END, c.confupdtype::text, c.confdeltype::text, a.attname::text, "
            "b.attname::text FROM pg_constraint c JOIN pg_class r ON r.oid = c.confrelid CROSS JOIN LATERAL "
            "unnest(c.conkey, c.confkey) WITH ORDINALITY k(n, m, o) JOIN pg_attribute a ON a.attrelid = c.conrelid "
            "AND a.attnum = k.n JOIN pg_attribute b ON b.attrelid = c.confrelid AND b.attnum = k.m WHERE c.contype = "
            "'f' AND c.conrelid = " + regclassOf(table) + " ORDER BY c.conname, c.oid, k.o");
    std::vector<ForeignKey> out;
    std::string last;
    for (const auto& r : rows) {
        const std::string oid = r.at(0).value_or("");
        if (out.empty() || oid != last) {
            const auto action = [](const std::optional<std::string>& t) { return t && !t->empty() ? (*t)[0] : 'a'; };
            out.push_back(foreignKeyFromServer(r.at(1).value_or(""), table, {}, r.at(2).value_or(""), {},
                                               action(r.at(3)), action(r.at(4))));
            last = oid;
        }
        out.back().columns.push_back(r.at(5).value_or(""));
        out.back().referencedColumns.push_back(r.at(6).value_or(""));
    }
    return out;
}

} // namespace transfer
