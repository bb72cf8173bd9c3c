#include "db/session.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <mutex>

#include "db/engines.h"

namespace db {

namespace {

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return s;
}

std::map<std::string, Connection::Factory>& registry() {
    static std::map<std::string, Connection::Factory> engines;
    return engines;
}

std::function<void()>& creationFailure() {
    static std::function<void()> thrower;
    return thrower;
}

void ensureBuiltinEngines() {
    static std::once_flag once;
    std::call_once(once, registerBuiltinEngines);
}

} // namespace

int Recordset::fieldIndex(const std::string& name) const {
    const std::string wanted = lower(name);
    for (int i = 0; i < fieldCount(); ++i)
        if (lower(field(i).name) == wanted) return i;
    throw Error(3265, "Item cannot be found in the collection corresponding to the requested name or ordinal.");
}

Connection::Connection() = default;
Connection::~Connection() {
    try {
        close();
    } catch (...) {
        // Releasing a connection never throws.
    }
}

void Connection::registerEngine(const std::string& attribute, Factory factory) {
    registry()[lower(attribute)] = std::move(factory);
}

void Connection::open(const std::string& connectionString) {
    ensureBuiltinEngines();
    if (backend_) throw Error(3705, "Operation is not allowed when the object is open.");
    std::size_t start = 0;
    while (start < connectionString.size() && std::isspace((unsigned char)connectionString[start])) ++start;
    const auto eq = connectionString.find('=', start);
    const std::string attribute = eq == std::string::npos ? std::string() : lower(connectionString.substr(start, eq - start));
    auto it = registry().find(attribute);
    if (it == registry().end())
        throw Error(3706, "Provider cannot be found. It may not be properly installed.");
    backend_ = it->second(connectionString, cursorLocation_, mode_);
}

Backend& Connection::backend() {
    if (!backend_) throw Error(3709, "The connection cannot be used to perform this operation. It is either closed or invalid in this context.");
    return *backend_;
}

std::unique_ptr<Recordset> Connection::execute(const std::string& sql) { return backend().execute(sql); }

std::unique_ptr<Recordset> Connection::openSchema(int schema) { return backend().openSchema(schema); }

std::unique_ptr<Recordset> Connection::openRecordset(const std::string& source, int cursorType, int lockType) {
    return backend().openRecordset(source, cursorType, lockType);
}

void Connection::close() {
    if (!backend_) return;
    auto backend = std::move(backend_);
    backend->close();
}

std::unique_ptr<Connection> createConnection() {
    if (creationFailure()) creationFailure()();
    return std::make_unique<Connection>();
}

void setConnectionCreationFailure(std::function<void()> thrower) { creationFailure() = std::move(thrower); }

} // namespace db
