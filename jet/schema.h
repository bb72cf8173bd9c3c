#pragma once
// The schema of an Access database beyond its columns: indexes, the column and
// table properties Access keeps (Required, DefaultValue, Description), AutoNumber
// columns, and the relationships of MSysRelationships.
//
//   auto db = jet::Database::open(path);
//   jet::TableSchema t = jet::readTableSchema(*db, "Orders");
//   for (const auto& ix : t.indexes) ...          // primary key first
//   for (const auto& r : jet::readRelationships(*db)) ...

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "jet/database.h"

namespace jet {

enum class AutoNumber { None, Long, Guid };

struct ColumnSchema {
    Column column;                           // as the table reports it (type, size, precision, ...)
    AutoNumber autoNumber = AutoNumber::None;
    bool required = false;                   // the Required property (a Yes/No column never holds Null)
    bool allowZeroLength = true;             // text and memo columns
    std::optional<std::string> defaultValue; // the DefaultValue expression as Access stores it
    std::string description;
    std::string expression;                  // calculated columns: the expression
    // Multi-value columns: the type of the values (a ColumnType code) and its shape.
    std::uint8_t elementType = 0;
    int elementSize = 0, elementPrecision = 0, elementScale = 0;
};

struct IndexColumn {
    std::string name;
    bool ascending = true;
};

struct IndexSchema {
    std::string name;
    std::vector<IndexColumn> columns;
    bool primary = false;
    bool unique = false;
    bool ignoreNulls = false;
    bool required = false;
    // Access keeps an index of its own for each side of a relationship with
    // integrity; it is the relationship's, not one the user made.
    bool foreignKey = false;
    std::string referencedTable; // foreignKey: the table on the other side, when the file names it
};

struct TableSchema {
    std::string name;
    std::string description;
    std::vector<ColumnSchema> columns; // column-number order, as Table::columns()
    std::vector<IndexSchema> indexes;  // primary key first, then by name
};

// Relationship attribute bits of MSysRelationships.grbit.
namespace relation_flag {
constexpr std::uint32_t OneToOne = 0x00000001;
constexpr std::uint32_t NotEnforced = 0x00000002;
constexpr std::uint32_t CascadeUpdates = 0x00000100;
constexpr std::uint32_t CascadeDeletes = 0x00001000;
constexpr std::uint32_t CascadeSetNull = 0x00002000;
} // namespace relation_flag

struct RelationshipSchema {
    std::string name;
    std::string table;                       // the referencing ("many") side
    std::vector<std::string> columns;
    std::string referencedTable;             // the referenced ("one") side
    std::vector<std::string> referencedColumns;
    std::uint32_t flags = 0;

    bool enforced() const { return (flags & relation_flag::NotEnforced) == 0; }
    bool cascadeUpdates() const { return (flags & relation_flag::CascadeUpdates) != 0; }
    bool cascadeDeletes() const { return (flags & relation_flag::CascadeDeletes) != 0; }
    bool cascadeSetNull() const { return (flags & relation_flag::CascadeSetNull) != 0; }
};

// The schema of one local table (case-insensitive name). Throws like openTable().
// Properties that cannot be read leave their fields at the defaults.
TableSchema readTableSchema(const Database& db, std::string_view table);

// Every relationship of MSysRelationships between user tables (linked ones too),
// sorted by name; column pairs in their stored order. Empty when the file has
// no MSysRelationships.
std::vector<RelationshipSchema> readRelationships(const Database& db);

// The text of a text-typed property value (UTF-8), "" for other types.
std::string propertyText(const Database& db, const Property& property);

// The schema of the named tables (every user table when empty) and the
// relationships between them, as one JSON document.
std::string schemaJson(const Database& db, const std::vector<std::string>& tables = {});

} // namespace jet
