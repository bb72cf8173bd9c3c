#pragma once
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "db/session.h"
#include "transfer/type_rules.h"

// The statement texts of both transfers. Row values come as their text form;
// the empty text stands for Null (both are written as NULL).
namespace transfer {

// ---- Access to PostgreSQL ----

struct PostgresCreate {
    std::string sql;            // CREATE TABLE "t"("a" TEXT,"b" NUMERIC)
    std::vector<bool> currency; // per column: values go unquoted
    std::string currencyColumnList; // "1,4," — the positions of the currency columns
};

PostgresCreate buildPostgresCreate(const std::string& table, const std::vector<db::FieldInfo>& fields);

// INSERT INTO "t" VALUES('1', 12.5,NULL, 'True'), spacing and all.
std::string buildPostgresInsert(const std::string& table, std::span<const std::string> values,
                                const std::vector<bool>& currency);

// COPY "t" FROM STDIN (text format; the columns in table order, as the INSERTs).
std::string buildPostgresCopy(const std::string& table);

// One line of COPY text data: \N for the empty text, the rest escaped.
void appendCopyRow(std::string& out, std::span<const std::string> values);

// One value in COPY text format: backslash, line feed, carriage return and tab escaped.
void appendCopyText(std::string& out, std::string_view text);

// ---- PostgreSQL to Access ----

struct AccessCreate {
    std::string sql; // CREATE TABLE `t`(`a` VARCHAR,`b` DECIMAL(10,2));
    // Per column: the DECIMAL shape its values must fit, when it is a decimal column.
    std::vector<std::optional<DecimalShape>> decimals;
};

// Throws db::Error when the table or a column name cannot be an Access name.
// `measure(i)` tells what the values of column i need (numeric columns
// without a usable declared precision only).
// `decimalType` is false for Access files without a Decimal type (Access 97).
AccessCreate buildAccessCreate(const std::string& table, const std::vector<db::FieldInfo>& fields,
                               const std::function<DecimalNeed(int column)>& measure, bool decimalType = true);

// INSERT INTO `t` VALUES('7', NULL, 'O''Brien')
std::string buildAccessInsert(const std::string& table, std::span<const std::string> values);

// The lower-cased ADO type name of a field.
std::string lowerTypeName(const db::FieldInfo& field);

std::vector<db::FieldInfo> fieldsOf(const db::Recordset& recordset);

} // namespace transfer
