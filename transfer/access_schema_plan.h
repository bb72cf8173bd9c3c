#pragma once
// The schema plan of a PostgreSQL table going to Access with its full schema:
// the Access type each column becomes (from the server's catalogue and what
// its values need), the SELECT that reads the values in the text forms the
// Access engine takes exactly, and what was kept as text or left out and why.
// A plan is a value, tested without a server; transfer/access_full_schema.*
// carries it out.
#include <optional>
#include <string>
#include <vector>

#include "jet/writer_props.h"

namespace transfer {

// One column as the server's catalogue describes it, with what its values need.
struct PgColumn {
    std::string name;
    std::string type;       // pg_type.typname of the column (of the base type for a domain): "int4", "varchar", ...
    int typmod = -1;        // atttypmod (of the base type for a domain)
    bool notNull = false;
    bool identity = false;  // GENERATED ... AS IDENTITY, or a serial's nextval() default
    std::string defaultSql; // pg_get_expr of the default ("" when none)
    std::string comment;
    // Measured on the rows (asked only where the type needs it):
    bool holdsNull = false;        // boolean columns
    bool subMillisecond = false;   // date/time columns with digits below the millisecond
    int integerDigits = 0;         // numeric without a usable precision: most digits before the point
    int scale = 0;                 //   and after it (trailing zeros not counted)
    std::optional<long long> highest, lowest; // identity columns: the values copied
};

// What the columns ask the rows for, before a plan can be made.
enum class Measure { None, Nulls, Digits, Fractions, Range };
Measure measureFor(const PgColumn& column);

// The Access file's abilities that decide types.
struct AccessTarget {
    bool decimal = true; // Access 2000 and later
    bool bigInt = false; // Access 2016 and later (Large Number)
    bool memoIndexes = true; // Long Text in an index: Access 2007 and later files (the engine refuses it before)
    bool cascadeSetNull = true; // relationships that set Null on delete: Access 2000 and later
    bool dateTimeExtended = false; // Access 2019 and later (Date/Time Extended, 100 ns)
};

// How a value read by the plan's SELECT is written into the INSERT.
enum class AccessForm {
    Text,     // a quoted literal of the text, the empty text kept
    DateTime, // 'YYYY-MM-DD HH:MI:SS.ffffff' with the era marker removed (a BC date stays and is refused)
};

struct AccessPlannedColumn {
    std::string name;
    std::string type;       // the CREATE TABLE type: "LONG", "DECIMAL(19,0)", "VARCHAR(20)", "MEMO", ...
    std::string select;     // the server expression that reads the value as text
    AccessForm form = AccessForm::Text;
    bool autoNumber = false;
};

struct AccessSchemaPlan {
    std::string table;
    std::vector<AccessPlannedColumn> columns;
    std::vector<std::string> asText;  // "t.c: numeric values wider than 28 digits kept as Long Text"
    std::vector<std::string> leftOut; // "t.c: identity kept as plain values: ..."
    // Required, DefaultValue and Description of the columns (and the table's Description), set after CREATE TABLE.
    std::vector<jet::PropertyChange> properties;
    int autoNumbers = 0, required = 0, defaults = 0, descriptions = 0;
};

// `tableComment` is the table's COMMENT ("" for none).
AccessSchemaPlan planAccessTable(const std::string& table, const std::vector<PgColumn>& columns,
                                 const AccessTarget& target, const std::string& tableComment = {});

// The Access expression of a simple server default for a column of the given Access type ("0", "\"abc\"", "Yes",
// "Now()", "Date()"), or nullopt for any other expression.
std::optional<std::string> accessDefault(const std::string& defaultSql, const std::string& accessType);

// CREATE TABLE `t`(`a` COUNTER,`b` VARCHAR(20),...)
std::string accessCreateSql(const AccessSchemaPlan& plan);

// SELECT <expressions> FROM "t": one text value (or Null) per column.
std::string accessSelectSql(const AccessSchemaPlan& plan);

// INSERT INTO `t` VALUES('1','abc',NULL,''): every value as a quoted literal, Null only for Null.
std::string accessInsertSql(const AccessSchemaPlan& plan, const std::vector<std::optional<std::string>>& values);

// The value as the INSERT carries it (see AccessForm).
std::string accessValueText(AccessForm form, std::string text);

} // namespace transfer
