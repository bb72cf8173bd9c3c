#pragma once
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "db/error.h"
#include "db/variant.h"

namespace db {

// ADO data-type numbers as the session reports them in Field::type.
namespace ado {
constexpr int adEmpty = 0, adSmallInt = 2, adInteger = 3, adSingle = 4, adDouble = 5, adCurrency = 6, adDate = 7,
              adBSTR = 8, adBoolean = 11, adDecimal = 14, adTinyInt = 16, adUnsignedTinyInt = 17, adBigInt = 20,
              adGUID = 72, adBinary = 128, adChar = 129, adWChar = 130, adNumeric = 131, adDBDate = 133,
              adDBTime = 134, adDBTimeStamp = 135, adVarNumeric = 139, adVarChar = 200, adLongVarChar = 201,
              adVarWChar = 202, adLongVarWChar = 203, adVarBinary = 204, adLongVarBinary = 205;
}

// Column description of a record set.
struct FieldInfo {
    std::string name;
    int type = ado::adEmpty; // ADO data-type number
    // Declared size of the column where the source has one (characters for text,
    // bytes for binary), precision and scale of decimals; -1 when undeclared.
    int definedSize = -1;
    int precision = -1;
    int scale = -1;
};

// A forward cursor over the rows of a result, positioned on the first row after
// opening. recordCount() is exact before the first row is read.
class Recordset {
public:
    virtual ~Recordset() = default;
    virtual int fieldCount() const = 0;
    virtual const FieldInfo& field(int index) const = 0;
    int fieldIndex(const std::string& name) const; // case-insensitive; throws db::Error when absent
    virtual const Variant& value(int index) const = 0;
    const Variant& value(const std::string& name) const { return value(fieldIndex(name)); }
    virtual long long recordCount() const = 0;
    virtual bool eof() const = 0;
    virtual void moveNext() = 0;
    virtual void close() = 0;
};

// One engine behind a connection (PostgreSQL or the Access engine).
class Backend {
public:
    virtual ~Backend() = default;
    virtual std::unique_ptr<Recordset> execute(const std::string& sql) = 0; // null when the statement yields no rows
    virtual std::unique_ptr<Recordset> openSchema(int schema) = 0;
    virtual std::unique_ptr<Recordset> openRecordset(const std::string& source, int cursorType, int lockType) = 0;
    virtual void close() = 0;
};

// The connection object. Which engine serves it follows from the connection
// string given to open(). Destroying the object closes it.
class Connection {
public:
    Connection();
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    void setCursorLocation(short location) { cursorLocation_ = location; }
    void setMode(short mode) { mode_ = mode; }
    short cursorLocation() const { return cursorLocation_; }
    short mode() const { return mode_; }

    void open(const std::string& connectionString);
    bool isOpen() const { return backend_ != nullptr; }
    std::unique_ptr<Recordset> execute(const std::string& sql);
    std::unique_ptr<Recordset> openSchema(int schema);
    // Record set Open(source, this connection, cursor type, lock type); -1 means the default.
    std::unique_ptr<Recordset> openRecordset(const std::string& source, int cursorType = -1, int lockType = -1);
    void close();
    Backend& backend(); // throws when not open

    // How a connection string is turned into a backend; each engine registers one.
    using Factory = std::function<std::unique_ptr<Backend>(const std::string& connectionString, short cursorLocation,
                                                           short mode)>;
    // Registers an engine for connection strings whose first attribute name is
    // `attribute` ("Driver" or "Provider", compared ignoring case).
    static void registerEngine(const std::string& attribute, Factory factory);

private:
    short cursorLocation_ = 2;
    short mode_ = 0;
    std::unique_ptr<Backend> backend_;
};

// Creating a connection object; the seam through which tests make creation fail.
std::unique_ptr<Connection> createConnection();
void setConnectionCreationFailure(std::function<void()> thrower); // null to restore

// Schema number of the tables schema.
constexpr int adSchemaTables = 20;

} // namespace db
