// A small, strict parser for the Access SQL statements the program sends to an Access file:
//
//   CREATE TABLE name (col TYPE[(size[,scale])] [NULL|NOT NULL] [[CONSTRAINT c] PRIMARY KEY|UNIQUE], ...,
//                      [CONSTRAINT c] PRIMARY KEY (col, ...) | [CONSTRAINT c] UNIQUE (col, ...), ...)
//   CREATE [UNIQUE] INDEX name ON table (col [ASC|DESC], ...) [WITH PRIMARY | DISALLOW NULL | IGNORE NULL]
//   DROP INDEX name ON table
//   INSERT INTO name [(col, ...)] VALUES (literal, ...)
//   DROP TABLE name
//   SELECT alias.* INTO new FROM old [AS] alias      (also SELECT * INTO new FROM old)
//   SELECT * FROM name
//   ALTER TABLE name ADD CONSTRAINT c FOREIGN KEY (col, ...) REFERENCES other (col, ...)
//         [ON UPDATE CASCADE] [ON DELETE CASCADE | ON DELETE SET NULL]
//   ALTER TABLE name DROP CONSTRAINT c
//
// Names may be bare words, `back-quoted` or [bracketed]. Literals: 'text' with '' for a quote, numbers with an
// optional sign, NULL, 0x... binary. One statement, an optional trailing ';'. Anything else is a syntax error
// that names the (1-based) character position.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace jet::sql {

// Column types a CREATE TABLE can ask for; the values are the type codes stored in a table definition.
enum class ColumnType : std::uint8_t {
    Boolean = 0x01,
    Byte = 0x02,
    Integer = 0x03,
    Long = 0x04,
    Currency = 0x05,
    Single = 0x06,
    Double = 0x07,
    DateTime = 0x08,
    Binary = 0x09,
    Text = 0x0A,
    Ole = 0x0B,
    Memo = 0x0C,
    Guid = 0x0F,
    Decimal = 0x10,
    BigInt = 0x13,
    DateTimeExt = 0x14,  // Date/Time Extended: Access 2019 and later, 100 ns, years 1-9999
};

const char* columnTypeName(ColumnType t);

struct ColumnDef {
    std::string name;
    ColumnType type = ColumnType::Text;
    int size = 0;        // Text: characters (1-255); Binary: bytes (1-510); 0 otherwise
    int precision = 0;   // Decimal only
    int scale = 0;       // Decimal only
    bool notNull = false;
    bool autoNumber = false;  // COUNTER / AUTOINCREMENT
    std::string defaultValue; // DEFAULT, as the Access expression the field's DefaultValue holds ("" for none)
};

struct Literal {
    enum class Kind { Null, Text, Number, Binary };
    Kind kind = Kind::Null;
    std::string text;                 // Text: the unquoted text (UTF-8); Number: the number as written
    std::vector<std::uint8_t> bytes;  // Binary: the bytes of 0x...
    std::size_t position = 0;         // 1-based position in the statement, for messages
};

struct IndexColumn {
    std::string name;
    bool ascending = true;
};

// A PRIMARY KEY or UNIQUE constraint of CREATE TABLE (a column's own, or one for several columns).
struct KeyConstraint {
    std::string name;  // empty: none given
    bool primary = false;
    bool columnLevel = false;
    std::vector<IndexColumn> columns;
};

struct CreateTable {
    std::string table;
    std::vector<ColumnDef> columns;
    std::vector<KeyConstraint> constraints;
};

struct CreateIndex {
    std::string name;
    std::string table;
    std::vector<IndexColumn> columns;
    bool unique = false;
    bool primary = false;       // WITH PRIMARY
    bool disallowNull = false;  // WITH DISALLOW NULL
    bool ignoreNull = false;    // WITH IGNORE NULL
};

struct DropIndex {
    std::string name;
    std::string table;
};

struct Insert {
    std::string table;
    std::vector<std::string> columns;  // empty: all columns in table order
    std::vector<Literal> values;
};

struct DropTable {
    std::string table;
};

struct SelectInto {
    std::string target;
    std::string source;
};

struct SelectAll {
    std::string table;
};

// A relationship with referential integrity: `table` (the referencing side) points at `referencedTable`.
struct AddForeignKey {
    std::string table, name;
    std::vector<std::string> columns;
    std::string referencedTable;
    std::vector<std::string> referencedColumns;
    bool cascadeUpdates = false, cascadeDeletes = false, cascadeSetNull = false;
};

struct DropConstraint {
    std::string table, name;
};

using Statement = std::variant<CreateTable, Insert, DropTable, SelectInto, SelectAll, CreateIndex, DropIndex,
                               AddForeignKey, DropConstraint>;

// Parses one statement; throws jet::Error (a syntax error naming the position) on anything else.
Statement parse(std::string_view text);

// Splits a script into statements at ';' outside quoted text and names. Empty pieces are dropped.
std::vector<std::string> splitScript(std::string_view script);
// The same pieces as views into `script`.
std::vector<std::string_view> splitScriptViews(std::string_view script);

}  // namespace jet::sql
