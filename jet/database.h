#pragma once
// jet::Database — opens an Access file (.mdb Jet 3/Jet 4, .accdb ACE 12-17) for reading.
//
//   auto db = jet::Database::open(path, {.password = pw});
//   for (auto& name : db->userTableNames()) {
//       auto t = db->openTable(name);
//       auto n = t->countRows();            // exact, by scan
//       while (t->next())
//           jet::Value v = t->value(0);
//   }
//
// All failures are jet::Error (see jet/error.h). A Table keeps its database's file
// alive, so it may outlive the Database object. A Database and its Tables are used
// from one thread at a time (open one Database per thread to read in parallel).

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "jet/error.h"
#include "jet/format.h"
#include "jet/properties.h"
#include "jet/tdef.h"
#include "jet/value.h"

namespace jet {

class PageSource;
class FilePageSource;
struct TextDecoder;

struct OpenOptions {
    std::string password;  // Jet3/Jet4 database password (checked); empty = none
    bool readOnly = true;  // the reader never writes; the file is opened read-shared
};

// Kind of complex column (attachment, multi-value, version history).
enum class ComplexKind { None, Attachment, MultiValue, VersionHistory, Unknown };

// A column as a table reports it.
struct Column {
    std::string name;
    std::uint8_t type = 0;      // ColumnType code (for calculated columns: the result type)
    int number = 0;             // column number as stored
    int size = 0;               // Text: characters; Binary: bytes; fixed types: bytes; Memo/OLE: 0
    int precision = 0;          // Numeric
    int scale = 0;              // Numeric
    bool fixed = false;         // stored in the fixed area
    bool autoNumber = false;    // AutoNumber Long or GUID
    bool hyperlink = false;     // Memo shown as hyperlink
    bool calculated = false;    // expression column; value is its result
    std::uint8_t resultType = 0; // for calculated columns: type of the result (= type)
    ComplexKind complexKind = ComplexKind::None;
    const char* typeName() const { return columnTypeName(type); } // "long", "text", ...
};

// Whether a column is a field of the table as Access's own record sets show it. The version history of
// an append-only memo is not: Access keeps it in an extra column of its own making (no properties, not in
// the table's name map, extended flag 0x20); the memo column holds the current text, and Access shows
// the earlier ones only through ColumnHistory(). The engine still reads it (Table::value).
inline bool isRecordsetField(const Column& c) { return c.complexKind != ComplexKind::VersionHistory; }

// One row of MSysObjects.
struct CatalogEntry {
    std::int32_t id = 0;
    std::int32_t parentId = 0;
    std::string name;
    std::int16_t type = 0;      // 1 table, 4 ODBC link, 5 query, 6 linked table, 3 container, ...
    std::int32_t flags = 0;
    std::uint32_t tdefPage = 0; // local tables: the TDEF page (= id); 0 otherwise
    // TABLE_TYPE as the Jet/ACE OLE DB provider's tables rowset reports it:
    // "TABLE", "SYSTEM TABLE", "ACCESS TABLE", "LINK", "PASS-THROUGH", "VIEW"; "" for other objects.
    std::string schemaType;
    std::string database;       // linked tables: source database path
    std::string connect;        // linked tables: connect string
    std::string foreignName;    // linked tables: name in the source
    double dateCreate = 0, dateUpdate = 0;
    std::uint32_t catalogRow = 0; // row pointer (page << 8 | row) of the MSysObjects row
};

class Table;
struct DatabaseImpl;

class Database {
public:
    // Opens the file. Errors: 3024 (no such file), 3044 (bad path), 3051 (no access),
    // 3343 (not an Access database), 3031 (wrong or missing password), 3049 (corrupt),
    // 3251 (encrypted .accdb: not yet supported).
    static std::unique_ptr<Database> open(const std::string& path, const OpenOptions& options = {});
    // The same over bytes already in memory (tests, fuzzing); `name` stands for the path in messages.
    static std::unique_ptr<Database> openBytes(std::vector<std::uint8_t> bytes, const std::string& name,
                                               const OpenOptions& options = {});
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    Format format() const;
    const FormatInfo& formatInfo() const;
    const std::string& path() const;
    std::uint16_t codePage() const;     // header code page (Jet3 text)
    std::uint16_t sortOrder() const;    // LCID of the database sort order

    // Every object of MSysObjects, in catalogue (scan) order.
    const std::vector<CatalogEntry>& catalog() const;
    // Names of the user tables (schemaType "TABLE"), in catalogue order.
    std::vector<std::string> userTableNames() const;
    // How the catalogue compares names: two names with the same identity name the same object (their keys
    // in the catalogue's sort order: case ignored, accents kept, hiragana and katakana alike).
    std::string nameIdentity(std::string_view name) const;
    // The catalogue entry of a table/query/link, case-insensitive; nullptr when absent.
    const CatalogEntry* findObject(std::string_view name) const;

    // Opens a local table by name (case-insensitive; system and hidden tables too).
    // Error 3078 when there is no such table; linked tables are refused with 3251.
    std::unique_ptr<Table> openTable(std::string_view name) const;
    // Opens the table whose TDEF starts at `tdefPage` (used for MSys* tables).
    std::unique_ptr<Table> openTableAt(std::uint32_t tdefPage, const std::string& name) const;

    // The properties (MSysObjects.LvProp) of a catalogue object: one map for the object
    // itself (name "") and one per column that has any. Empty when it has none.
    std::vector<PropertyMap> objectProperties(const CatalogEntry& entry) const;

    PageSource& pages() const;          // for tools and a writer
    const TextDecoder& textDecoder() const;

private:
    Database() = default;
    static std::unique_ptr<Database> openSource(std::unique_ptr<FilePageSource> source, const std::string& path,
                                                const OpenOptions& options);
    std::shared_ptr<DatabaseImpl> impl_;
};

// A forward cursor over the rows of one table.
class Table {
public:
    ~Table();
    Table(const Table&) = delete;
    Table& operator=(const Table&) = delete;

    const std::string& name() const;
    const std::vector<Column>& columns() const;  // in column-number order
    int columnIndex(std::string_view name) const; // case-insensitive; -1 when absent
    const TableDef& definition() const;

    // Exact number of live rows, by scanning the data pages (the stored count is not
    // trusted). Does not move the cursor.
    std::uint64_t countRows();

    // Moves to the next live row; false at the end. Deleted rows are skipped and
    // overflow rows followed. Throws Error 3049 on a corrupt page or row.
    bool next();
    // Back before the first row.
    void rewind();

    // The current row's values (column index as in columns()). Long values, complex
    // values and text are decoded on access. Error 3021 when not on a row, 3265 for a
    // bad index, 3049 when the stored value is corrupt.
    bool isNull(std::size_t column) const;
    Value value(std::size_t column) const;
    // Same, reusing out's storage (no allocation for fixed types; strings keep capacity).
    void value(std::size_t column, Value& out) const;
    // Where the current row is stored (the overflow target when it was followed).
    RowPointer position() const;

private:
    friend class Database;
    struct Impl;
    explicit Table(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

} // namespace jet
