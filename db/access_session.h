#pragma once
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "db/session.h"

namespace jet {
class Database;
class Writer;
struct PropertyChange;
namespace sql {
struct Insert;
}
} // namespace jet

namespace db {

// One attribute of an OLE DB connection string.
struct OleDbAttribute {
    std::string name;
    std::string value;
    bool operator==(const OleDbAttribute&) const = default;
};

// Splits an OLE DB connection string: attributes separated by ';', a value in
// double quotes (or single quotes) may hold ';' and doubles its quote
// character. Names are trimmed; values are kept as written.
std::vector<OleDbAttribute> parseOleDbConnectionString(std::string_view text);

// The Access engine behind db::Connection. Reads go through a fresh reader of
// the file for each record set, so they always see what earlier statements of
// the same connection wrote; statements that change the file go through one
// writer that is opened on the first such statement and holds the file's
// write lock until the connection closes.
class AccessBackend : public Backend {
public:
    AccessBackend(const std::string& connectionString, short mode);
    ~AccessBackend() override;

    std::unique_ptr<Recordset> execute(const std::string& sql) override;
    std::unique_ptr<Recordset> openSchema(int schema) override;
    std::unique_ptr<Recordset> openRecordset(const std::string& source, int cursorType, int lockType) override;
    void close() override;

    // Runs an INSERT already in parsed form: the same as execute() of its text, without making and parsing it.
    void insert(const jet::sql::Insert& statement);

    const std::string& path() const { return path_; }
    // The identity under which the file's catalogue compares names (jet::Database::nameIdentity).
    std::string nameIdentity(const std::string& name);
    // False for Access 97 files, which have no Decimal column type.
    bool hasDecimalType();

    // Renames a table in place (jet/rename.h): keys, indexes, properties and relationships stay.
    void renameTable(const std::string& oldName, const std::string& newName);
    // Sets Required, DefaultValue and Description of a table's columns and of the table (jet/writer_props.h).
    void setProperties(const std::string& table, const std::vector<jet::PropertyChange>& changes);

    // Statements run between beginBatch() and commitBatch() reach the file together (see jet::Writer).
    // Reading the file meanwhile writes the batch first, so that a read sees every statement before it.
    // commitBatch() failing means the batch's statements are not in the file; the caller runs them again.
    void beginBatch();
    void commitBatch();
    std::size_t batchPages() const; // held in memory until written

    // The file as the engine reads it (what a record set opened now would see),
    // for callers that need more than rows: the schema, complex values.
    std::shared_ptr<jet::Database> database() { return reader(); }

private:
    std::unique_ptr<Recordset> selectAll(const std::string& table);
    std::shared_ptr<jet::Database> reader();
    jet::Writer& writer();
    void closeWriter();

    std::string path_;
    std::string password_;
    std::shared_ptr<jet::Database> reader_;
    std::unique_ptr<jet::Writer> writer_;
};

void registerAccessEngine();

// Whether the Access file behind an open connection has a Decimal column type
// (true for connections to other engines).
bool accessHasDecimalType(Connection& connection);

// The identity under which the Access file behind an open connection compares names: equal identities are
// the same table there. For connections to other engines, the name lower-cased.
std::string accessNameIdentity(Connection& connection, const std::string& name);

// ADO type number the Access provider reports for a column type code.
int accessAdoType(std::uint8_t typeCode, int size, bool fixed);

} // namespace db
