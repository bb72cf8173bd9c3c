#include "db/access_session.h"

#include <algorithm>
#include <cctype>
#include <tuple>

#include "db/access_values.h"
#include "db/memory_recordset.h"
#include "jet/rename.h"
#include "jet/writer_props.h"
#include "jet/database.h"
#include "jet/sql.h"
#include "jet/writer.h"

namespace db {

namespace {

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return s;
}

std::string trim(std::string_view s) {
    std::size_t b = 0, e = s.size();
    while (b < e && std::isspace((unsigned char)s[b])) ++b;
    while (e > b && std::isspace((unsigned char)s[e - 1])) --e;
    return std::string(s.substr(b, e - b));
}

// Runs `f`, turning the engine's failures into the session's.
template <class F>
auto translated(F&& f) -> decltype(f()) {
    try {
        return f();
    } catch (const jet::Error& e) {
        throw Error(e.number(), e.what());
    }
}

// A record set over the rows of one Access table.
class TableRecordset : public Recordset {
public:
    explicit TableRecordset(std::unique_ptr<jet::Table> table) : table_(std::move(table)) {
        const auto& columns = table_->columns();
        for (std::size_t i = 0; i < columns.size(); ++i) {
            const auto& c = columns[i];
            if (!jet::isRecordsetField(c)) continue;
            columnOf_.push_back(i);
            FieldInfo f;
            f.name = c.name;
            f.type = accessFieldType(c);
            if (c.type == std::uint8_t(jet::ColumnType::Text) || c.type == std::uint8_t(jet::ColumnType::Binary))
                f.definedSize = c.size;
            if (c.type == std::uint8_t(jet::ColumnType::Numeric)) {
                f.precision = c.precision;
                f.scale = c.scale;
            }
            fields_.push_back(std::move(f));
        }
        values_.resize(fields_.size());
        converted_.resize(fields_.size());
        count_ = (long long)table_->countRows();
        advance();
    }
    int fieldCount() const override { return int(fields_.size()); }
    const FieldInfo& field(int i) const override {
        check(i);
        return fields_[std::size_t(i)];
    }
    const Variant& value(int i) const override {
        check(i);
        if (eof_) throw Error(3021, "Either BOF or EOF is True, or the current record has been deleted. "
                                    "Requested operation requires a current record.");
        auto k = std::size_t(i);
        if (!converted_[k]) {
            translated([&] {
                table_->value(columnOf_[k], scratch_);
                values_[k] = accessCellValue(scratch_);
            });
            converted_[k] = true;
        }
        return values_[k];
    }
    long long recordCount() const override { return count_; }
    bool eof() const override { return eof_; }
    void moveNext() override {
        if (eof_) throw Error(3021, "Either BOF or EOF is True, or the current record has been deleted. "
                                    "Requested operation requires a current record.");
        advance();
    }
    void close() override {
        table_.reset();
        eof_ = true;
    }

private:
    void check(int i) const {
        if (i < 0 || i >= int(fields_.size()))
            throw Error(3265, "Item cannot be found in the collection corresponding to the requested name or ordinal.");
    }
    void advance() {
        if (!table_) {
            eof_ = true;
            return;
        }
        eof_ = !translated([&] { return table_->next(); });
        std::fill(converted_.begin(), converted_.end(), false);
    }

    std::unique_ptr<jet::Table> table_;
    std::vector<std::size_t> columnOf_; // field → engine column
    std::vector<FieldInfo> fields_;
    mutable std::vector<Variant> values_;
    mutable std::vector<bool> converted_;
    mutable jet::Value scratch_;
    long long count_ = 0;
    bool eof_ = true;
};

bool changesTheFile(const jet::sql::Statement& st) { return !std::holds_alternative<jet::sql::SelectAll>(st); }

} // namespace

std::vector<OleDbAttribute> parseOleDbConnectionString(std::string_view text) {
    std::vector<OleDbAttribute> out;
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t eq = text.find('=', i);
        const std::size_t semi = text.find(';', i);
        if (eq == std::string_view::npos || (semi != std::string_view::npos && semi < eq)) {
            if (semi == std::string_view::npos) break;
            i = semi + 1; // a piece without '=' carries nothing
            continue;
        }
        OleDbAttribute a;
        a.name = trim(text.substr(i, eq - i));
        std::size_t j = eq + 1;
        while (j < text.size() && text[j] == ' ') ++j;
        if (j < text.size() && (text[j] == '"' || text[j] == '\'')) {
            const char q = text[j++];
            std::string value;
            while (j < text.size()) {
                if (text[j] == q) {
                    if (j + 1 < text.size() && text[j + 1] == q) {
                        value += q;
                        j += 2;
                        continue;
                    }
                    ++j;
                    break;
                }
                value += text[j++];
            }
            a.value = value;
            const std::size_t next = text.find(';', j);
            i = next == std::string_view::npos ? text.size() : next + 1;
        } else {
            const std::size_t next = text.find(';', eq + 1);
            a.value = std::string(text.substr(eq + 1, (next == std::string_view::npos ? text.size() : next) - eq - 1));
            i = next == std::string_view::npos ? text.size() : next + 1;
        }
        out.push_back(std::move(a));
    }
    return out;
}

int accessAdoType(std::uint8_t typeCode, int size, bool fixed) {
    (void)size;
    switch (jet::ColumnType(typeCode)) {
    case jet::ColumnType::Boolean: return ado::adBoolean;
    case jet::ColumnType::Byte: return ado::adUnsignedTinyInt;
    case jet::ColumnType::Integer: return ado::adSmallInt;
    case jet::ColumnType::Long: return ado::adInteger;
    case jet::ColumnType::Currency: return ado::adCurrency;
    case jet::ColumnType::Single: return ado::adSingle;
    case jet::ColumnType::Double: return ado::adDouble;
    case jet::ColumnType::DateTime: return ado::adDate;
    case jet::ColumnType::Binary: return fixed ? ado::adBinary : ado::adVarBinary;
    case jet::ColumnType::Text: return ado::adVarWChar;
    case jet::ColumnType::Ole: return ado::adLongVarBinary;
    case jet::ColumnType::Memo: return ado::adLongVarWChar;
    case jet::ColumnType::Guid: return ado::adGUID;
    case jet::ColumnType::Numeric: return ado::adNumeric;
    case jet::ColumnType::Complex: return ado::adInteger;
    case jet::ColumnType::BigInt: return ado::adBigInt;
    case jet::ColumnType::DateTimeExt: return ado::adDBTimeStamp;
    default: return ado::adLongVarBinary;
    }
}

AccessBackend::AccessBackend(const std::string& connectionString, short) {
    bool haveSource = false;
    for (const auto& a : parseOleDbConnectionString(connectionString)) {
        const std::string name = lower(a.name);
        if (name == "data source" && !haveSource) {
            path_ = a.value;
            haveSource = true;
        } else if (name == "jet oledb:database password") {
            password_ = a.value;
        }
    }
    if (!haveSource || path_.empty())
        throw Error(3044, "'' is not a valid path. Make sure that the path name is spelled correctly and that you are "
                          "connected to the server on which the file resides.");
    // Opening checks the file, its format and its password, as the provider does.
    reader_ = translated([&] { return std::shared_ptr<jet::Database>(jet::Database::open(path_, {password_, true})); });
}

AccessBackend::~AccessBackend() {
    try {
        close();
    } catch (...) {
    }
}

void AccessBackend::beginBatch() {
    translated([&] { writer().beginBatch(); });
}

void AccessBackend::commitBatch() {
    if (writer_) translated([&] { writer_->commitBatch(); });
}

std::size_t AccessBackend::batchPages() const { return writer_ ? writer_->batchPages() : 0; }

std::shared_ptr<jet::Database> AccessBackend::reader() {
    if (writer_ && writer_->inBatch()) {
        commitBatch();
        reader_.reset();
    }
    if (!reader_) reader_ = translated([&] { return std::shared_ptr<jet::Database>(jet::Database::open(path_, {password_, true})); });
    return reader_;
}

jet::Writer& AccessBackend::writer() {
    if (!writer_) {
        jet::WriterOptions options;
        options.password = password_;
        writer_ = translated([&] { return jet::Writer::open(path_, std::move(options)); });
    }
    return *writer_;
}

void AccessBackend::closeWriter() {
    if (writer_) {
        auto w = std::move(writer_);
        translated([&] { w->close(); });
    }
}

std::unique_ptr<Recordset> AccessBackend::execute(const std::string& sql) {
    const auto statement = translated([&] { return jet::sql::parse(sql); });
    if (!changesTheFile(statement)) return selectAll(std::get<jet::sql::SelectAll>(statement).table);
    reader_.reset(); // the next read sees what this statement wrote
    translated([&] { writer().run(statement); });
    return nullptr;
}

void AccessBackend::renameTable(const std::string& oldName, const std::string& newName) {
    reader_.reset();
    translated([&] { jet::renameTable(writer(), oldName, newName); });
}

void AccessBackend::setProperties(const std::string& table, const std::vector<jet::PropertyChange>& changes) {
    reader_.reset();
    translated([&] { jet::setProperties(writer(), table, changes); });
}

void AccessBackend::insert(const jet::sql::Insert& statement) {
    reader_.reset(); // the next read sees this row
    translated([&] { writer().insert(statement); });
}

std::unique_ptr<Recordset> AccessBackend::selectAll(const std::string& table) {
    auto db = reader();
    auto t = translated([&] { return db->openTable(table); });
    return std::make_unique<TableRecordset>(std::move(t));
}

std::unique_ptr<Recordset> AccessBackend::openRecordset(const std::string& source, int, int) {
    const auto statement = translated([&] { return jet::sql::parse(source); });
    if (auto* s = std::get_if<jet::sql::SelectAll>(&statement)) return selectAll(s->table);
    throw Error(3219, "Invalid operation: a record set is opened on a SELECT statement.");
}

std::unique_ptr<Recordset> AccessBackend::openSchema(int schema) {
    if (schema != adSchemaTables)
        throw Error(3251, "Operation is not supported for this type of object (schema " + std::to_string(schema) + ").");
    auto db = reader();
    struct Row {
        std::string type, name;
        double created, modified;
    };
    std::vector<Row> rows;
    for (const auto& e : db->catalog())
        if (!e.schemaType.empty()) rows.push_back({e.schemaType, e.name, e.dateCreate, e.dateUpdate});
    // The provider's tables rowset is ordered by type, then by name.
    std::stable_sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) {
        return std::tie(a.type, a.name) < std::tie(b.type, b.name);
    });
    auto rs = std::make_unique<MemoryRecordset>(std::vector<FieldInfo>{
        {"TABLE_CATALOG", ado::adVarWChar}, {"TABLE_SCHEMA", ado::adVarWChar}, {"TABLE_NAME", ado::adVarWChar},
        {"TABLE_TYPE", ado::adVarWChar}, {"TABLE_GUID", ado::adGUID}, {"DESCRIPTION", ado::adLongVarWChar},
        {"TABLE_PROPID", ado::adInteger}, {"DATE_CREATED", ado::adDate}, {"DATE_MODIFIED", ado::adDate}});
    for (auto& r : rows)
        rs->addRow({Null{}, Null{}, r.name, r.type, Null{}, Null{}, Null{}, Date{r.created}, Date{r.modified}});
    return rs;
}

std::string AccessBackend::nameIdentity(const std::string& name) { return reader()->nameIdentity(name); }

std::string accessNameIdentity(Connection& connection, const std::string& name) {
    if (auto* access = dynamic_cast<AccessBackend*>(&connection.backend())) return access->nameIdentity(name);
    std::string lower = name;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return lower;
}

bool AccessBackend::hasDecimalType() { return reader()->format() != jet::Format::Jet3; }

bool accessHasDecimalType(Connection& connection) {
    auto* access = dynamic_cast<AccessBackend*>(&connection.backend());
    return !access || access->hasDecimalType();
}

void AccessBackend::close() {
    reader_.reset();
    closeWriter();
}

void registerAccessEngine() {
    Connection::registerEngine("Provider", [](const std::string& cs, short, short mode) {
        return std::make_unique<AccessBackend>(cs, mode);
    });
}

} // namespace db
