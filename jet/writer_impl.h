// The writer's state and its operations on the file's structures; the member functions live in
// writer_alloc.cpp, writer_rows.cpp, writer_index.cpp, writer_catalog.cpp and writer_statements.cpp.
#pragma once

#include "writer.h"

#include "codec_hook.h"
#include "convert.h"
#include "error.h"
#include "index_key.h"
#include "lock.h"
#include "writer_error.h"
#include "writer_internal.h"

#include <algorithm>
#include <exception>
#include <cmath>
#include <cstring>
#include <ctime>
#include <map>
#include <optional>
#include <unordered_map>

namespace jet {

using namespace w;
using SqlType = sql::ColumnType;

namespace {


inline std::u16string upper16(std::u16string_view s)
{
    std::u16string r(s);
    for (char16_t& c : r) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char16_t>(c - 32);
        else if (c >= 0xE0 && c <= 0xFE && c != 0xF7)
            c = static_cast<char16_t>(c - 32);  // Latin-1 letters: names ignore case here too
    }
    return r;
}

inline double nowAsDays()
{
    const std::time_t t = std::time(nullptr);
    std::tm tm {};
    localtime_r(&t, &tm);
    // Days from 1899-12-30 to the local date.
    int y = tm.tm_year + 1900, m = tm.tm_mon + 1;
    const int d = tm.tm_mday;
    y -= m <= 2;
    const long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * static_cast<unsigned>(m + (m > 2 ? -3 : 9)) + 2) / 5 + static_cast<unsigned>(d) - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const long days = era * 146097 + static_cast<long>(doe) - 719468 + 25569;
    return static_cast<double>(days) + (tm.tm_hour * 3600 + tm.tm_min * 60 + tm.tm_sec) / 86400.0;
}

inline std::vector<std::uint8_t> le32(std::int32_t v)
{
    std::vector<std::uint8_t> b(4);
    wr32(b.data(), static_cast<std::uint32_t>(v));
    return b;
}

inline std::vector<std::uint8_t> le16(std::int16_t v)
{
    std::vector<std::uint8_t> b(2);
    wr16(b.data(), static_cast<std::uint16_t>(v));
    return b;
}

inline std::vector<std::uint8_t> le64d(double d)
{
    std::vector<std::uint8_t> b(8);
    std::uint64_t u;
    std::memcpy(&u, &d, 8);
    for (int i = 0; i < 8; ++i)
        b[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(u >> (8 * i));
    return b;
}

// Text as stored: compressed (FF FE + one byte per character) when the column allows it and every character
// is in U+0001..U+00FF, otherwise UCS-2.
inline std::vector<std::uint8_t> storeText(std::u16string_view s, bool compressible, std::size_t maxCompress)
{
    std::vector<std::uint8_t> out;
    bool compress = compressible && s.size() > 2 && s.size() <= maxCompress;
    if (compress)
        for (char16_t c : s)
            if (c == 0 || c > 0xFF) {
                compress = false;
                break;
            }
    // Sized once and filled by index: this runs for every text value of every row.
    if (compress) {
        out.resize(s.size() + 2);
        out[0] = 0xFF;
        out[1] = 0xFE;
        for (std::size_t i = 0; i < s.size(); ++i)
            out[i + 2] = static_cast<std::uint8_t>(s[i]);
        return out;
    }
    out.resize(2 * s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        out[2 * i] = static_cast<std::uint8_t>(s[i]);
        out[2 * i + 1] = static_cast<std::uint8_t>(s[i] >> 8);
    }
    return out;
}

inline int compare(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b)
{
    const std::size_t n = std::min(a.size(), b.size());
    const int c = n ? std::memcmp(a.data(), b.data(), n) : 0;
    if (c != 0)
        return c;
    return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
}

inline bool validNameChar(char16_t c) { return c >= 0x20 && c != '.' && c != '!' && c != '`' && c != '[' && c != ']'; }

}  // namespace

struct CatalogRow {
    std::int32_t id = 0, parentId = 0;
    std::u16string name;
    std::int16_t type = 0;
    std::int32_t flags = 0;
    std::uint32_t rowPtr = 0;
};

// One logical index to add to a table.
struct NewIndex {
    std::u16string name;
    std::vector<std::pair<std::uint16_t, bool>> columns;  // column number, ascending
    std::uint8_t flags = 0;  // real-index flags: 0x01 unique, 0x02 ignore nulls, 0x08 required (no Null)
    std::uint8_t kind = 0;   // 0 plain, 1 primary key, 2 one side of a relationship
    // kind 2: the other table's TDEF page, its logical index number, the relationship table type and cascades
    std::uint32_t relatedTdef = 0, relatedIndex = 0;
    std::uint8_t relTableType = 0, cascadeUpdates = 0, cascadeDeletes = 0;
};

// Access's limits on indexes.
inline constexpr std::size_t kMaxIndexes = 32;       // logical indexes a table
inline constexpr std::size_t kMaxIndexColumns = 10;  // columns an index

struct WriterImpl {
    std::string path;
    std::unique_ptr<PageCache> cache;
    std::unique_ptr<WriteLock> lock;
    int version = 0;
    SortOrder catalogOrder = SortOrder::GeneralLegacy;
    std::uint8_t sortBytes[4] = {0x09, 0x04, 0x00, 0x00};
    bool closed = false;

    std::map<std::uint32_t, Table> tables;  // by TDEF page, loaded on demand
    std::vector<Cell> insertScratch;        // the cells of the INSERT in hand
    std::vector<CatalogRow> catalog;
    std::unordered_map<std::string, std::size_t> tableByName;  // nameIdentity → catalog index
    std::int32_t tablesId = 0;
    std::vector<std::uint8_t> owner;
    std::uint32_t acesPage = 0, relationshipsPage = 0;

    // ---- page helpers -------------------------------------------------------------------------------
    PageCache* external = nullptr;  // a cache owned by someone else (building a new database)
    PageCache& pc() { return external ? *external : *cache; }
    const Layout& lay() { return layoutOf(pc()); }
    bool jet3() { return lay().jet3; }
    Table& table(std::uint32_t tdef);

    // ---- global free-page map (page 1, row 0) ------------------------------------------------------
    void globalMapSet(std::uint32_t page, bool freeBit);

    std::uint32_t allocPage();

    void freePage(std::uint32_t n);

    // ---- usage maps -------------------------------------------------------------------------------
    std::uint8_t* mapRow(std::uint32_t ptr, std::size_t& len);

    void mapAdd(std::uint32_t ptr, std::uint32_t page);

    void mapRemove(std::uint32_t ptr, std::uint32_t page);

    bool mapContains(std::uint32_t ptr, std::uint32_t page);

    // ---- data pages -------------------------------------------------------------------------------
    static void initDataPage(const Layout& l, std::uint8_t* p, std::uint32_t owner);
    void initDataPage(std::uint8_t* p, std::uint32_t owner) { initDataPage(lay(), p, owner); }

    static bool fits(const Layout& l, std::span<const std::uint8_t> p, std::size_t len);
    bool fits(std::span<const std::uint8_t> p, std::size_t len) { return fits(lay(), p, len); }

    static std::uint8_t putRow(const Layout& l, std::uint8_t* p, std::span<const std::uint8_t> row);
    std::uint8_t putRow(std::uint8_t* p, std::span<const std::uint8_t> row) { return putRow(lay(), p, row); }

    // Stores a row of table `t` on one of its data pages; returns the row pointer.
    std::uint32_t storeRow(Table& t, std::span<const std::uint8_t> row);

    // ---- long values ------------------------------------------------------------------------------
    static bool isLvalPage(std::span<const std::uint8_t> p);

    // The column's pages that had room, as the free-page map has them: the last few (the map is read once per
    // loaded table; afterwards the writer keeps the list itself).
    void findRoomPages(LvMaps& lv);

    std::uint32_t lvalRow(LvMaps& lv, std::span<const std::uint8_t> data);

    std::vector<std::uint8_t> longValue(LvMaps& lv, const std::vector<std::uint8_t>& data, std::size_t rowRoom);

    // ---- rows -------------------------------------------------------------------------------------
    // Text as a column stores it: Access 97 in the column's code page (a character it cannot hold fails
    // the row), otherwise UCS-2, compressed where allowed.
    static std::vector<std::uint8_t> columnText(const Col& c, std::u16string_view text, bool compressible,
                                                std::size_t maxCompress);

    // The tail of a row with variable columns: end-of-data offset, the offsets from the last column to the
    // first and their count (Jet 4: u16 each; Jet 3: one byte each, plus one jump entry for every 256-byte
    // boundary the row crosses, naming the first offset at or past it).
    static void appendVarTail(bool jet3, std::vector<std::uint8_t>& row, const std::vector<std::uint16_t>& offsets,
                              std::size_t maskBytes);

    // Builds the stored row from cells given by column number.
    std::vector<std::uint8_t> encodeRow(Table& t, const std::vector<Cell>& cells);

    // Inserts a row into a table with all its indexes; cells by column number.
    std::uint32_t insertRow(Table& t, std::vector<Cell> cells) { return insertCells(t, cells); }

    // The same on cells the caller keeps (they are changed: auto numbers are filled in).
    std::uint32_t insertCells(Table& t, std::vector<Cell>& cells);

    // Index keys of long columns need the full value; rows hold only headers.
    std::vector<RawCell> rawWithLong(const Table& t, std::vector<RawCell> raw, const std::vector<Cell>& cells);

    void deleteRow(Table& t, std::uint32_t ptr);

    // ---- index B-trees ----------------------------------------------------------------------------
    static std::vector<std::uint8_t> withPointer(const std::vector<std::uint8_t>& key, std::uint32_t ptr);

    void savePage(std::uint32_t n, const IndexPage& ip) { writeIndexPage(lay(), pc().modify(n), ip); }

    struct PathStep {
        std::uint32_t page;
        std::size_t slot;  // index of the entry followed, entries.size() for the tail
    };

    std::vector<PathStep> descend(const RealIndex& ix, const std::vector<std::uint8_t>& entry);

    // After the last entry of the page at path[level] changed: fix the entry that names it above. The new
    // entry may be longer than the old one, so the parent may have to split.
    void refreshParents(Table& t, RealIndex& ix, std::vector<PathStep>& path, std::size_t level,
                        const std::vector<std::uint8_t>& last);

    // Whether the entry before (offset -1) / at `at` holds the same key as `entry`; looks into the neighbouring
    // leaf when `at` is at an end of this one.
    bool sameKeyAt(const IndexPage& leaf, std::size_t at, int offset, const std::vector<std::uint8_t>& entry,
                   std::size_t keySize);
    // Inserts into the leaf at the end of `path` in place when it has room, no shared prefix and the entry does
    // not go first (its neighbour before is then on the page); false: nothing done, the general path follows.
    bool insertInPlace(Table& t, RealIndex& ix, std::vector<PathStep>& path, const std::vector<std::uint8_t>& entry,
                       std::size_t keySize, bool nullKey);
    std::vector<std::uint16_t> leafEnds;  // scratch of insertInPlace and descend
    // The end offsets of the entries of an index page (its entry-end bitmap), ascending.
    static void entryEnds(std::span<const std::uint8_t> p, const Layout& l, std::size_t used,
                          std::vector<std::uint16_t>& ends);
    // `nullKey`: every key field is Null; such entries may repeat in a unique index, as in Access.
    // Throws when an entry of this key could not go four to a page.
    void requireKeyFits(std::size_t keySize);

    void indexInsert(Table& t, RealIndex& ix, const std::vector<std::uint8_t>& key, std::uint32_t ptr,
                     bool nullKey = false);

    // Writes page path[level] with its new entries, splitting it when they do not fit.
    void placePage(Table& t, RealIndex& ix, std::vector<PathStep>& path, std::size_t level, IndexPage& ip);

    void indexRemove(Table& t, RealIndex& ix, const std::vector<std::uint8_t>& key, std::uint32_t ptr);

    void removeFromPage(Table& t, RealIndex& ix, std::vector<PathStep>& path, std::size_t level, IndexPage& ip,
                        bool lastChanged);

    // ---- index definitions (writer_index_def.cpp) ------------------------------------------------
    // Adds the logical index (sharing an existing real index with the same columns and flags, else a new real
    // index whose tree is built from the table's rows, sorted) and rewrites the table definition, which may grow
    // onto more pages; returns the new logical index number. Checks every limit before anything changes; runs
    // inside a statement.
    std::uint32_t addIndex(Table& t, const NewIndex& request);
    // Removes a logical index; its real index and pages go too when no other logical index uses them.
    void dropIndex(Table& t, std::uint32_t logicalNumber);
    // The checks addIndex makes before it changes anything (names, limits, column types).
    void validateIndex(const Table& t, const NewIndex& request);
    // Builds the tree of a real index from the table's rows (sorted keys, packed leaves, node levels above);
    // fills root and the unique-key count. Refuses duplicates and Nulls as the flags say (3022, 3058).
    std::uint32_t buildIndexTree(Table& t, RealIndex& ix);
    // Writes the definition of `t` again with its real indexes' counter blocks and definitions given raw
    // (in real-index order) and its logical indexes from `t.logical`; `t` is read back afterwards.
    void rewriteTdef(Table& t, const std::vector<std::vector<std::uint8_t>>& counters,
                     const std::vector<std::vector<std::uint8_t>>& reals);
    // A new empty usage map for an index of `t`, on the page of the table's other maps when it has room.
    std::uint32_t newIndexMap(const Table& t);
    // Whether an index entry must be left out / may repeat: all its columns are Null.
    static bool allNull(const RealIndex& ix, const std::vector<RawCell>& cells);
    // SQL: CREATE INDEX, DROP INDEX, the constraints of CREATE TABLE.
    void createIndex(const sql::CreateIndex& ci);
    void dropIndexByName(const sql::DropIndex& di);
    // The name of a relationship of table `tableName` on the columns of `ix` (MSysRelationships), else `fallback`.
    std::string relationshipOf(const std::u16string& tableName, const RealIndex& ix, const Table& t,
                               const std::u16string& fallback);
    void addTableConstraints(const sql::CreateTable& ct);

    // ---- catalogue ----------------------------------------------------------------------------------
    void loadCatalog();

    // Two names are the same object when the catalogue's name index gives them the same key: case is
    // ignored in every script the sort order knows, accents are not. Names without a key (only Access
    // could have written them) fall back to comparing upper-cased text.
    std::string nameIdentity(std::u16string_view name) const;
    mutable std::u16string lastIdentityName;
    mutable std::string lastIdentity;

    const CatalogRow* findTable(std::u16string_view name);

    const CatalogRow& userTable(const std::string& name, int missingError);

    void validateName(const std::u16string& n, const std::string& utf8, const char* what);

    // ---- statements -------------------------------------------------------------------------------
    void createTable(const sql::CreateTable& ct);

    // A row of MSysObjects (created and updated now, the database's owner) with its index entries, then the
    // object's permissions; returns the row pointer.
    std::uint32_t insertCatalogRow(std::int32_t id, std::int32_t parentId, std::int16_t type,
                                   const std::u16string& name, std::vector<std::uint8_t> properties);

    // The catalogue row of a new table and its index entries, then the permissions.
    // `properties`: the row's property blob (LvProp), none when empty.
    void addCatalogRow(std::uint32_t tdef, const std::u16string& name, std::vector<std::uint8_t> properties = {});
    // The property blob of a new table whose NOT NULL columns are Required; empty when there are none.
    std::vector<std::uint8_t> requiredProperties(const sql::CreateTable& ct);

    // CREATE TABLE on an Access 97 file: 18-byte column descriptors, names in the code page, 133-byte usage
    // maps, the same order of parts as Jet 4 (docs/format/table-definitions.md).
    void createTableJet3(const sql::CreateTable& ct, const std::u16string& name,
                         const std::vector<std::u16string>& names);

    // Empty inline usage maps for a new table, as many to a page as fit.
    std::vector<std::uint32_t> newMapRows(std::size_t count);

    // Spreads a definition over its pages: the first page holds its start whole, every further page an
    // 8-byte header (type, free space or "VC", next page) and the next piece.
    void writeTdefPages(const std::vector<std::uint32_t>& tdefPages, const std::vector<std::uint8_t>& buf);

    void addAces(std::int32_t objectId);

    void insert(const sql::Insert& ins);

    void dropTable(const std::string& nameUtf8);

    void copyTable(const std::string& source, const std::string& target);

    // ---- relationships (writer_relations.cpp) and the checks of INSERT (writer_checks.cpp) -------------
    using RelationshipRow = w::RelationshipRow;
    std::vector<RelationshipRow> relationshipRows();

    // What an INSERT into one table must check beyond the values' own conversion: the columns whose Required
    // property is set, and every enforced relationship in which the table is the referencing side, as a key
    // lookup in the referenced table's unique index. Made once per table; any change of schema clears them.
    struct InsertChecks {
        struct Required {
            std::uint16_t column;
            std::string label;  // "Table.Column", as the message names it
        };
        struct Parent {
            std::uint32_t tdef = 0;        // the referenced table
            std::size_t realIndex = 0;     // its unique index on the referenced columns
            std::vector<std::uint16_t> from;  // referencing column numbers, in that index's column order
            std::string tableName;
        };
        // A DefaultValue the engine can evaluate: a number, a text, Yes/No, Now(), Date() or Time().
        struct Default {
            std::uint16_t column = 0;
            sql::Literal value;  // the number or text; for the functions, filled in at each INSERT
            char function = 0;   // 'N' Now(), 'D' Date(), 'T' Time(); 0 for a constant
        };
        std::vector<Required> required;
        std::vector<Parent> parents;
        std::vector<Default> defaults;
    };
    std::unordered_map<std::uint32_t, InsertChecks> insertChecks;  // by TDEF page
    const InsertChecks& checksFor(const CatalogRow& cr, Table& t);
    // Fills the columns an INSERT leaves out with their DefaultValue, as Access does (`given`: the columns named).
    void applyDefaults(const Table& t, const InsertChecks& checks, const std::vector<const Col*>& given,
                       std::vector<Cell>& cells);
    // Throws 3314 for a Null in a Required column, 3201 for a row whose parent is missing.
    void checkInsert(const CatalogRow& cr, Table& t, const std::vector<Cell>& cells);
    // The key of a referencing row in the referenced index; empty when one of its columns is Null.
    std::vector<std::uint8_t> parentKey(const InsertChecks::Parent& p, const std::vector<Cell>& cells);
    // Whether a real index holds an entry with exactly this key (one descent of the tree, no scan).
    bool indexHasKey(const RealIndex& ix, const std::vector<std::uint8_t>& key);

    void addForeignKey(const sql::AddForeignKey& fk);
    void dropConstraint(const sql::DropConstraint& dc);
};

}  // namespace jet
