#pragma once
#include <array>
#include <functional>
#include <string>
#include <string_view>

#include "db/session.h"

// The column type rules of both transfers: the first rule whose key word
// occurs in the lower-cased ADO type name of the source column decides the
// target column's type. An empty key word marks the fallback, always last.
namespace transfer {

// Access to PostgreSQL.
struct PostgresTypeRule {
    std::string_view keyword;
    std::string_view suffix; // appended after the quoted column name
    bool currency;           // values of such columns go unquoted
    int testLine;            // ReportLine of the test (0 for the fallback)
    int appendLine;          // ReportLine of the append
};

inline constexpr std::array<PostgresTypeRule, 7> kPostgresTypeRules{{
    {"varwchar", " TEXT,", false, 160, 162},
    {"longvar", " TEXT,", false, 164, 166},
    {"int", " TEXT,", false, 168, 170},
    {"currency", " NUMERIC,", true, 172, 174},
    {"date", " TEXT,", false, 178, 180},
    {"bool", " BOOL,", false, 182, 184},
    {"", " TEXT,", false, 0, 186},
}};

const PostgresTypeRule& postgresTypeRule(std::string_view lowerTypeName);

// PostgreSQL to Access.
enum class AccessTypeKind {
    Fixed,   // the suffix as written
    Text,    // VARCHAR, or MEMO when the source declares more than 255 characters or no length
    Decimal, // DECIMAL(p,s) from the source's precision and scale, or from its values
};

struct AccessTypeRule {
    std::string_view keyword;
    std::string_view suffix; // after the column name's opening back-quote and the name
    AccessTypeKind kind;
    int testLine;
    int appendLine;
};

// Binary before long text ("adlongvarbinary" holds "longvar"), long text
// before "char".
inline constexpr std::array<AccessTypeRule, 11> kAccessTypeRules{{
    {"binary", "` OLEOBJECT,", AccessTypeKind::Fixed, 174, 176},
    {"longvar", "` MEMO,", AccessTypeKind::Fixed, 178, 180},
    {"char", "` VARCHAR,", AccessTypeKind::Text, 158, 160},
    {"decimal", "` DECIMAL,", AccessTypeKind::Decimal, 162, 164},
    {"single", "` REAL,", AccessTypeKind::Fixed, 166, 168},
    {"int", "` INT,", AccessTypeKind::Fixed, 170, 172},
    {"numeric", "` DECIMAL,", AccessTypeKind::Decimal, 182, 184},
    {"date", "` DATETIME,", AccessTypeKind::Fixed, 186, 188},
    {"timestamp", "` DATETIME,", AccessTypeKind::Fixed, 190, 192},
    {"double", "` FLOAT,", AccessTypeKind::Fixed, 194, 196},
    {"", "` VARCHAR,", AccessTypeKind::Fixed, 0, 198},
}};

const AccessTypeRule& accessTypeRule(std::string_view lowerTypeName);

// Access keeps at most 28 decimal digits.
constexpr int kAccessMaxPrecision = 28;
// VARCHAR without a length holds 255 characters in Access.
constexpr int kAccessMaxText = 255;

struct DecimalShape {
    int precision = 0;
    int scale = 0;
    bool currency = false; // held in a CURRENCY column (files without a Decimal type)
    bool operator==(const DecimalShape&) const = default;
};

// Access 97 files have no Decimal type. A numeric column whose values need at
// most 4 decimals and 14 integer digits goes into CURRENCY there, which holds
// them exactly; any other stays DECIMAL, which such a file refuses loudly.
inline constexpr DecimalShape kCurrencyShape{18, 4, true};

// What the values of a numeric column need: the most digits before the point
// and the most after it (trailing zeros not counted).
struct DecimalNeed {
    int integerDigits = 0;
    int scale = 0;
};

// The DECIMAL(p,s) for a column: the declared precision and scale when they
// fit 28 digits; otherwise the shape that holds the measured values, or as
// much of them as 28 digits can (the rest fail when they are inserted).
DecimalShape accessDecimalShape(const db::FieldInfo& field, const std::function<DecimalNeed()>& measure);

// True when the text of a number fits DECIMAL(p,s) without losing a digit.
bool fitsDecimal(std::string_view numberText, DecimalShape shape);

// The text appended for one column (after "`" + name), e.g. "` DECIMAL(10,2),".
// `measure` is asked only for numeric columns whose source declares no
// precision that Access can hold.
// `decimalType` is false for files without a Decimal type (Access 97).
std::string accessColumnSuffix(const AccessTypeRule& rule, const db::FieldInfo& field,
                               const std::function<DecimalNeed()>& measure, DecimalShape* decimal = nullptr,
                               bool decimalType = true);

} // namespace transfer
