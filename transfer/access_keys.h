#pragma once
// The keys, indexes and relationships of PostgreSQL tables going to Access with
// their full schema, as values: what the server's catalogue has (PgIndex,
// PgForeignKey), the Access statements they become (CREATE INDEX after a
// table's rows, ALTER TABLE ... ADD CONSTRAINT ... FOREIGN KEY once every table
// of the run is loaded), and what cannot go and why. Access's limits are
// checked here, before anything is written. Tested without a server;
// transfer/access_full_schema.* reads the catalogue and runs the statements.
#include <set>
#include <string>
#include <vector>

#include "jet/schema.h"
#include "transfer/access_schema_plan.h"

namespace transfer {

// Access's limits on indexes.
constexpr int kAccessMaxIndexes = 32;       // logical indexes a table, a relationship's own ones counted
constexpr int kAccessMaxIndexColumns = 10;  // columns an index (a relationship's too)
constexpr std::size_t kAccessMaxNameChars = 64;

struct PgIndexColumn {
    std::string name;        // "" for an expression
    bool descending = false;
    bool nullsFirst = false; // the server's NULLS FIRST (its default: only for DESC)
    bool notNull = false;    // the column is NOT NULL: where Nulls sort does not matter
};

// One index of a table as pg_index has it (a PRIMARY KEY or UNIQUE constraint is its index).
struct PgIndex {
    std::string name;
    std::vector<PgIndexColumn> columns; // key columns, in order
    int includedColumns = 0;            // INCLUDE (...) columns beyond the key
    bool primary = false;
    bool unique = false;
    std::string method = "btree";
    bool expression = false;            // some key column is an expression
    bool partial = false;               // WHERE ...
    std::string definition;             // pg_get_indexdef, for the summary
};

// A relationship to make: a foreign key of the server, or one the Access file had.
struct ForeignKey {
    std::string name;
    std::string table; // the referencing side
    std::vector<std::string> columns;
    std::string referencedTable;
    std::vector<std::string> referencedColumns;
    bool cascadeUpdates = false, cascadeDeletes = false, cascadeSetNull = false;
    std::vector<std::string> notKept; // actions Access has no equivalent of: "ON DELETE SET DEFAULT"
};

// A foreign key from pg_constraint's action codes (confupdtype, confdeltype: a, r, c, n, d).
ForeignKey foreignKeyFromServer(std::string name, std::string table, std::vector<std::string> columns,
                                std::string referencedTable, std::vector<std::string> referencedColumns,
                                char onUpdate, char onDelete);

// The same relationship as the Access file stores it.
ForeignKey foreignKeyFromFile(const jet::RelationshipSchema& relationship);

struct AccessIndexPlan {
    std::string name;
    std::vector<std::string> columns;
    bool primary = false, unique = false;
    std::string sql; // CREATE [UNIQUE] INDEX `name` ON `t` (`a`, `b` DESC) [WITH PRIMARY]
};

struct AccessKeysPlan {
    std::string table;
    std::vector<AccessIndexPlan> indexes; // primary key, then unique indexes, then the others: the order they are made
    std::vector<std::string> leftOut;     // "t.ix: an index on an expression; ... (CREATE INDEX ...)"
    std::vector<std::string> changed;     // "t.ix: NULLS LAST of a (...)", "t.Ix: named Ix_2 in Access"
};

// The indexes of one table. `columns` are the table's planned Access columns (an OLE Object column cannot be
// indexed, nor a Long Text one in an Access 97 file: `target`); `relationshipIndexes` is how many indexes the
// run's relationships will add to the table, kept free out of Access's 32. Beyond the limit the last plain
// indexes, then the last unique ones, are left out and named: the table and its rows still go.
AccessKeysPlan planAccessKeys(const std::string& table, const std::vector<PgIndex>& indexes,
                              const std::vector<AccessPlannedColumn>& columns, int relationshipIndexes = 0,
                              const AccessTarget& target = {});

// Names already taken in an Access file, as Access compares them (letter case ignored).
class AccessNames {
public:
    void reserve(const std::string& name);
    bool taken(const std::string& name) const;
    // `wanted` made a valid Access name (forbidden characters as '_', at most 64 characters), numbered when
    // taken, and reserved.
    std::string allocate(const std::string& wanted);

private:
    std::set<std::string> taken_;
};

struct RelationshipPlan {
    std::string name;
    std::string sql;                // empty when the relationship cannot be made
    std::string leftOut;            // why not, when sql is empty
    std::vector<std::string> notes; // what of it Access cannot keep: its actions other than cascades
};

// A relationship as the file allows it: both tables there (their schemas as the file has them, null when the
// table is not in the file), the referencing columns present, the referenced ones the primary key or a unique
// index of the other table, at most 10 columns, room for the relationship's own index on each side. `names`
// holds the file's relationship names (the new one is reserved there); the name also differs from the two
// tables' index names.
// `target`: an Access 97 file has no ON DELETE SET NULL (named, integrity kept).
RelationshipPlan planRelationship(const ForeignKey& key, const jet::TableSchema* table,
                                  const jet::TableSchema* referenced, AccessNames& names,
                                  const AccessTarget& target = {});

// "t (a, b) -> u (x, y)"
std::string describeForeignKey(const ForeignKey& key);

// Whether a relationship (the file's, or another ForeignKey) joins the same columns of the same tables (pairs in
// any order; `same` compares two table or column names as the file does).
template <class Relationship, class Same>
bool sameRelationship(const Relationship& r, const ForeignKey& k, Same same) {
    if (!same(r.table, k.table) || !same(r.referencedTable, k.referencedTable) || r.columns.size() != k.columns.size() ||
        r.referencedColumns.size() != r.columns.size() || k.referencedColumns.size() != k.columns.size())
        return false;
    for (std::size_t i = 0; i < k.columns.size(); ++i) {
        bool found = false;
        for (std::size_t j = 0; j < r.columns.size() && !found; ++j)
            found = same(r.columns[j], k.columns[i]) && same(r.referencedColumns[j], k.referencedColumns[i]);
        if (!found) return false;
    }
    return true;
}

} // namespace transfer
