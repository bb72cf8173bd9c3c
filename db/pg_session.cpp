#include "db/pg_session.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace db {

namespace {

// Type OIDs of the built-in types we map (fixed in every PostgreSQL release).
enum : Oid {
    kBool = 16, kBytea = 17, kName = 19, kInt8 = 20, kInt2 = 21, kInt4 = 23, kText = 25, kFloat4 = 700,
    kFloat8 = 701, kMoney = 790, kBpchar = 1042, kVarchar = 1043, kDate = 1082, kTime = 1083, kTimestamp = 1114,
    kTimestamptz = 1184, kNumeric = 1700, kUuid = 2950,
};

constexpr long kPgError = -1;

std::string lower(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return out;
}

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower((unsigned char)x) == std::tolower((unsigned char)y);
           });
}

std::string_view trimBlanks(std::string_view s) {
    while (!s.empty() && std::isspace((unsigned char)s.front())) s.remove_prefix(1);
    while (!s.empty() && std::isspace((unsigned char)s.back())) s.remove_suffix(1);
    return s;
}

std::string trimEnd(std::string s) {
    while (!s.empty() && std::isspace((unsigned char)s.back())) s.pop_back();
    return s;
}

// The description of a failed statement: severity, message and detail
// without the "LINE 1: ..." pointer that libpq appends for people at a terminal.
std::string resultMessage(const PGresult* result, PGconn* conn) {
    const char* primary = result ? PQresultErrorField(result, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
    if (!primary) {
        std::string text = result ? PQresultErrorMessage(result) : "";
        if (text.empty() && conn) text = PQerrorMessage(conn);
        text = trimEnd(text);
        return text.empty() ? "The PostgreSQL server did not answer." : text;
    }
    const char* severity = PQresultErrorField(result, PG_DIAG_SEVERITY);
    std::string text = std::string(severity ? severity : "ERROR") + ": " + primary;
    if (const char* detail = PQresultErrorField(result, PG_DIAG_MESSAGE_DETAIL)) text += "\n" + std::string(detail);
    return text;
}

[[noreturn]] void throwResult(const PGresult* result, PGconn* conn) { throw Error(kPgError, resultMessage(result, conn)); }

// Runs one statement and insists on the given outcome.
PgResultPtr run(PGconn* conn, const std::string& sql, ExecStatusType expected) {
    PgResultPtr result(PQexec(conn, sql.c_str()));
    if (!result || PQresultStatus(result.get()) != expected) throwResult(result.get(), conn);
    return result;
}

template <class T>
bool parseInt(std::string_view text, T& out) {
    auto r = std::from_chars(text.data(), text.data() + text.size(), out);
    return r.ec == std::errc() && r.ptr == text.data() + text.size();
}

template <class T>
std::optional<T> parseFloating(std::string_view text) {
    T v{};
    auto r = std::from_chars(text.data(), text.data() + text.size(), v);
    if (r.ec != std::errc() || r.ptr != text.data() + text.size()) return std::nullopt;
    return v;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::optional<Bytes> parseBytea(std::string_view text) {
    if (text.size() >= 2 && text[0] == '\\' && text[1] == 'x') {
        if (text.size() % 2) return std::nullopt;
        Bytes out;
        out.reserve((text.size() - 2) / 2);
        for (std::size_t i = 2; i < text.size(); i += 2) {
            const int hi = hexDigit(text[i]), lo = hexDigit(text[i + 1]);
            if (hi < 0 || lo < 0) return std::nullopt;
            out.push_back(std::uint8_t(hi * 16 + lo));
        }
        return out;
    }
    // The old escape format, should a server still send it.
    const std::string copy(text);
    std::size_t length = 0;
    std::unique_ptr<unsigned char, decltype(&PQfreemem)> raw(
        PQunescapeBytea(reinterpret_cast<const unsigned char*>(copy.c_str()), &length), &PQfreemem);
    if (!raw) return std::nullopt;
    return Bytes(raw.get(), raw.get() + length);
}

std::optional<Guid> parseUuid(std::string_view text) {
    Guid g;
    std::size_t n = 0;
    int pending = -1;
    for (char c : text) {
        if (c == '-') continue;
        const int d = hexDigit(c);
        if (d < 0 || n >= 16) return std::nullopt;
        if (pending < 0) {
            pending = d;
        } else {
            g.bytes[n++] = std::uint8_t(pending * 16 + d);
            pending = -1;
        }
    }
    if (n != 16 || pending >= 0) return std::nullopt;
    return g;
}

// Reads digits at `pos` into `out`; false when there are none.
bool readNumber(std::string_view s, std::size_t& pos, long long& out, std::size_t maxDigits = 9) {
    const std::size_t start = pos;
    out = 0;
    while (pos < s.size() && pos - start < maxDigits && std::isdigit((unsigned char)s[pos])) out = out * 10 + (s[pos++] - '0');
    return pos > start;
}

// "HH:MM:SS[.ffffff]" at `pos`; seconds of the day.
bool readTime(std::string_view s, std::size_t& pos, double& seconds) {
    long long h, m, sec;
    if (!readNumber(s, pos, h, 2) || pos >= s.size() || s[pos++] != ':') return false;
    if (!readNumber(s, pos, m, 2) || pos >= s.size() || s[pos++] != ':') return false;
    if (!readNumber(s, pos, sec, 2)) return false;
    double fraction = 0;
    if (pos < s.size() && s[pos] == '.') {
        ++pos;
        const std::size_t start = pos;
        long long digits = 0, divisor = 1;
        for (; pos < s.size() && std::isdigit((unsigned char)s[pos]); ++pos) {
            if (pos - start >= 9) continue; // finer than a nanosecond carries nothing
            digits = digits * 10 + (s[pos] - '0');
            divisor *= 10;
        }
        if (pos == start) return false;
        fraction = double(digits) / double(divisor);
    }
    if (m > 59 || sec > 60) return false;
    seconds = double(h * 3600 + m * 60 + sec) + fraction;
    return true;
}

// ISO dates and timestamps ("2024-02-29", "2024-02-29 13:45:00.25+01:00",
// "0044-03-15 BC") as an Access day count. A zone offset is dropped: the
// value is the wall-clock time of the session's time zone, as the ODBC
// driver hands it over. "infinity" and anything unexpected give nullopt.
std::optional<double> parseDateTime(std::string_view s, bool withTime) {
    std::size_t pos = 0;
    long long y, mo, d;
    if (!readNumber(s, pos, y, 7) || pos >= s.size() || s[pos++] != '-') return std::nullopt;
    if (!readNumber(s, pos, mo, 2) || pos >= s.size() || s[pos++] != '-') return std::nullopt;
    if (!readNumber(s, pos, d, 2)) return std::nullopt;
    double seconds = 0;
    if (withTime) {
        if (pos >= s.size() || s[pos++] != ' ') return std::nullopt;
        if (!readTime(s, pos, seconds)) return std::nullopt;
        if (pos < s.size() && (s[pos] == '+' || s[pos] == '-')) {
            ++pos;
            while (pos < s.size() && (std::isdigit((unsigned char)s[pos]) || s[pos] == ':')) ++pos;
        }
    }
    if (s.substr(pos) == " BC") {
        y = 1 - y; // 1 BC is year 0 of the proleptic calendar
        pos = s.size();
    }
    if (pos != s.size() || mo < 1 || mo > 12 || d < 1 || d > 31) return std::nullopt;
    if (seconds >= 86400) return std::nullopt;
    return daysFromCivil(int(y), int(mo), int(d), 0, 0, seconds);
}

// Money in the "C" monetary locale the session sets: "$1,234.56", "-$0.01".
std::optional<Currency> parseMoney(std::string_view s) {
    bool negative = false, point = false, digits = false;
    __int128 value = 0;
    int fractionDigits = 0;
    for (char c : s) {
        if (c == '-' || c == '(') {
            negative = true;
        } else if (c == '.') {
            if (point) return std::nullopt;
            point = true;
        } else if (std::isdigit((unsigned char)c)) {
            digits = true;
            if (point && ++fractionDigits > 4) return std::nullopt;
            value = value * 10 + (c - '0');
            if (value > (__int128)1 << 80) return std::nullopt;
        }
        // '$', ',', ')' and blanks carry nothing.
    }
    if (!digits) return std::nullopt;
    for (; fractionDigits < 4; ++fractionDigits) value *= 10;
    if (negative) value = -value;
    if (value > INT64_MAX || value < INT64_MIN) return std::nullopt;
    return Currency{std::int64_t(value)};
}

} // namespace

// ---------------------------------------------------------------------------
// Connection strings

std::vector<OdbcAttribute> parseOdbcConnectionString(std::string_view text) {
    std::vector<OdbcAttribute> out;
    std::size_t pos = 0;
    while (pos < text.size()) {
        // Name: up to '=' (or the end of this piece when there is none).
        const std::size_t eq = text.find('=', pos);
        const std::size_t semi = text.find(';', pos);
        if (eq == std::string_view::npos || (semi != std::string_view::npos && semi < eq)) {
            if (semi == std::string_view::npos) break;
            pos = semi + 1; // a piece without '=' carries nothing
            continue;
        }
        OdbcAttribute attribute;
        attribute.name = std::string(trimBlanks(text.substr(pos, eq - pos)));
        pos = eq + 1;
        if (pos < text.size() && text[pos] == '{') {
            ++pos;
            bool closed = false;
            while (pos < text.size()) {
                if (text[pos] == '}') {
                    if (pos + 1 < text.size() && text[pos + 1] == '}') {
                        attribute.value += '}';
                        pos += 2;
                        continue;
                    }
                    ++pos;
                    closed = true;
                    break;
                }
                attribute.value += text[pos++];
            }
            if (!closed)
                throw Error(kPgError, "Invalid connection string: the value of '" + attribute.name +
                                          "' has no closing brace.");
            // Blanks may follow the closing brace; the attribute ends at ';'.
            while (pos < text.size() && text[pos] != ';') {
                if (!std::isspace((unsigned char)text[pos]))
                    throw Error(kPgError, "Invalid connection string: text after the closing brace of '" +
                                              attribute.name + "'.");
                ++pos;
            }
        } else {
            const std::size_t end = text.find(';', pos);
            attribute.value = std::string(text.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos));
            pos = end == std::string_view::npos ? text.size() : end;
        }
        if (pos < text.size()) ++pos; // the ';'
        if (!attribute.name.empty()) out.push_back(std::move(attribute));
    }
    return out;
}

std::optional<std::string> odbcAttribute(const std::vector<OdbcAttribute>& attributes, std::string_view name) {
    for (const auto& a : attributes)
        if (equalsIgnoreCase(a.name, name)) return a.value;
    return std::nullopt;
}

std::string odbcQuoteValue(const std::string& value) {
    if (value.find(';') == std::string::npos && (value.empty() || value.front() != '{')) return value;
    std::string out = "{";
    for (char c : value) {
        out += c;
        if (c == '}') out += '}';
    }
    out += '}';
    return out;
}

std::vector<std::pair<std::string, std::string>> pgConnectParameters(const std::string& connectionString) {
    const auto attributes = parseOdbcConnectionString(connectionString);
    const auto driver = odbcAttribute(attributes, "Driver");
    if (!driver || lower(*driver).find("postgres") == std::string::npos)
        throw Error(kPgError, "[ODBC Driver Manager] Data source name not found and no default driver specified");

    // Each libpq keyword with the ODBC names that feed it, first found wins.
    static const std::pair<const char*, std::vector<const char*>> kMap[] = {
        {"host", {"Server", "Servername"}},
        {"port", {"Port"}},
        {"user", {"Uid", "Username"}},
        {"password", {"Pwd", "Password"}},
        {"dbname", {"Database"}},
        {"sslmode", {"SSLmode"}},
    };
    std::vector<std::pair<std::string, std::string>> params;
    for (const auto& [keyword, names] : kMap) {
        for (const char* name : names) {
            const auto value = odbcAttribute(attributes, name);
            if (!value) continue;
            if (!value->empty()) params.emplace_back(keyword, *value); // empty: libpq's default applies
            break;
        }
    }
    params.emplace_back("application_name", "Quillmere");
    params.emplace_back("client_encoding", "UTF8");
    params.emplace_back("connect_timeout", std::to_string(pgConnectTimeoutSeconds()));
    return params;
}

int pgConnectTimeoutSeconds() {
    constexpr int kDefault = 10;
    const char* text = std::getenv("PGCONNECT_TIMEOUT");
    if (!text) return kDefault;
    const std::string_view value = trimBlanks(text);
    int seconds = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), seconds);
    if (error != std::errc() || end != value.data() + value.size() || seconds < 1) return kDefault;
    return std::max(seconds, 2);
}

// ---------------------------------------------------------------------------
// Types and values

FieldInfo pgFieldInfo(const std::string& name, Oid type, int typmod) {
    FieldInfo f;
    f.name = name;
    switch (type) {
    case kInt2: f.type = ado::adSmallInt; break;
    case kInt4: f.type = ado::adInteger; break;
    case kInt8: f.type = ado::adBigInt; break;
    case kFloat4: f.type = ado::adSingle; break;
    case kFloat8: f.type = ado::adDouble; break;
    case kNumeric:
        f.type = ado::adNumeric;
        if (typmod >= 4) {
            const int t = typmod - 4;
            f.precision = (t >> 16) & 0xffff;
            f.scale = ((t & 0x7ff) ^ 1024) - 1024; // scale may be negative since PostgreSQL 15
        }
        break;
    case kMoney: f.type = ado::adCurrency; break;
    case kBool: f.type = ado::adBoolean; break;
    case kText: f.type = ado::adLongVarWChar; break;
    case kVarchar:
        f.type = ado::adVarWChar;
        if (typmod >= 4) f.definedSize = typmod - 4;
        break;
    case kBpchar:
        f.type = ado::adWChar;
        if (typmod >= 4) f.definedSize = typmod - 4;
        break;
    case kName:
        f.type = ado::adVarWChar;
        f.definedSize = 63;
        break;
    case kDate: f.type = ado::adDBDate; break;
    case kTime: f.type = ado::adDBTime; break;
    case kTimestamp:
    case kTimestamptz: f.type = ado::adDBTimeStamp; break;
    case kBytea: f.type = ado::adLongVarBinary; break;
    case kUuid: f.type = ado::adGUID; break;
    default: f.type = ado::adLongVarWChar; break;
    }
    return f;
}

Variant pgValue(Oid type, std::string_view text) {
    switch (type) {
    case kInt2: {
        std::int16_t v;
        if (parseInt(text, v)) return v;
        break;
    }
    case kInt4: {
        std::int32_t v;
        if (parseInt(text, v)) return v;
        break;
    }
    case kInt8: {
        std::int64_t v;
        if (parseInt(text, v)) return v;
        break;
    }
    case kFloat4:
        if (auto v = parseFloating<float>(text)) return *v;
        break;
    case kFloat8:
        if (auto v = parseFloating<double>(text)) return *v;
        break;
    case kNumeric:
        try {
            return Decimal::parse(std::string(text));
        } catch (const Error&) {
            // NaN, infinity or more than 28 digits: kept as text, digit for digit.
        }
        break;
    case kMoney:
        if (auto v = parseMoney(text)) return *v;
        break;
    case kBool:
        if (text == "t") return true;
        if (text == "f") return false;
        break;
    case kBytea:
        if (auto v = parseBytea(text)) return std::move(*v);
        break;
    case kDate:
        if (auto v = parseDateTime(text, false)) return Date{*v};
        break;
    case kTimestamp:
    case kTimestamptz:
        if (auto v = parseDateTime(text, true)) return Date{*v};
        break;
    case kTime: {
        std::size_t pos = 0;
        double seconds = 0;
        if (readTime(text, pos, seconds) && pos == text.size() && seconds < 86400) return Date{seconds / 86400.0};
        break;
    }
    case kUuid:
        if (auto v = parseUuid(text)) return *v;
        break;
    default: break;
    }
    return std::string(text);
}

void appendCopyText(std::string& line, std::string_view value) {
    for (char c : value) {
        switch (c) {
        case '\\': line += "\\\\"; break;
        case '\t': line += "\\t"; break;
        case '\n': line += "\\n"; break;
        case '\r': line += "\\r"; break;
        default: line += c;
        }
    }
}

// ---------------------------------------------------------------------------
// Record sets

struct PostgreSQLBackend::Link {
    PgConnPtr conn;
    // Set while a record set's FETCH is under way: takes its answer in for that record set.
    std::function<void()> settle;
};

namespace {

// Takes in the answer to a FETCH sent ahead, if one is under way, so the connection can carry the next command.
void settle(PostgreSQLBackend::Link& link) {
    if (link.settle) std::exchange(link.settle, {})();
}

const char* kClosedMessage = "Operation is not allowed when the object is closed.";
const char* kNoCurrentRecord =
    "Either BOF or EOF is True, or the current record has been deleted. Requested operation requires a current record.";

// Rows of one PGresult at a time: the whole result for execute(), or the
// chunks FETCH returns from a holdable cursor.
class PgRecordset final : public Recordset {
public:
    // Whole result already in memory.
    explicit PgRecordset(PgResultPtr all) : count_(PQntuples(all.get())) {
        adopt(std::move(all));
    }

    // Cursor: `first` is the first chunk, `count` the rows of the whole result.
    PgRecordset(std::weak_ptr<PostgreSQLBackend::Link> link, std::string cursor, long long count, PgResultPtr first)
        : count_(count), link_(std::move(link)), cursor_(std::move(cursor)) {
        adopt(std::move(first));
        fetchAhead();
    }

    ~PgRecordset() override {
        try {
            close();
        } catch (...) {
            // Releasing a record set never throws.
        }
    }

    int fieldCount() const override {
        checkOpen();
        return int(fields_.size());
    }
    const FieldInfo& field(int index) const override {
        checkOpen();
        if (index < 0 || index >= int(fields_.size()))
            throw Error(3265, "Item cannot be found in the collection corresponding to the requested name or ordinal.");
        return fields_[std::size_t(index)];
    }
    const Variant& value(int index) const override {
        field(index);
        if (eof()) throw Error(3021, kNoCurrentRecord);
        return values_[std::size_t(index)];
    }
    long long recordCount() const override {
        checkOpen();
        return count_;
    }
    bool eof() const override {
        checkOpen();
        return position_ >= count_;
    }
    void moveNext() override {
        if (eof()) throw Error(3021, kNoCurrentRecord);
        if (position_ + 1 < count_ && row_ + 1 >= PQntuples(chunk_.get())) {
            // A failed FETCH leaves the record set on the row it was on.
            PgResultPtr next = nextChunk();
            chunk_ = std::move(next);
            row_ = 0;
            // The cursor holds a materialised result, so its length cannot
            // change under us; should it come up short anyway, it ends there.
            if (PQntuples(chunk_.get()) == 0) count_ = position_ + 1;
            ++position_;
            load();
            fetchAhead();
            return;
        }
        ++row_;
        ++position_;
        load();
        // Lets the server go on sending the chunk ahead once the socket's buffer is full.
        if (pending_ && row_ % 1024 == 0)
            if (auto link = link_.lock(); link && link->conn) PQconsumeInput(link->conn.get());
    }
    void close() override {
        if (closed_) return;
        closed_ = true;
        chunk_.reset();
        values_.clear();
        if (cursor_.empty()) return;
        auto link = link_.lock();
        if (link && link->conn && pending_) settle(*link);
        pending_ = false;
        ahead_.reset();
        if (link && link->conn && PQstatus(link->conn.get()) == CONNECTION_OK &&
            PQtransactionStatus(link->conn.get()) != PQTRANS_INERROR)
            PgResultPtr(PQexec(link->conn.get(), ("CLOSE " + cursor_).c_str()));
    }

private:
    void checkOpen() const {
        if (closed_) throw Error(3704, kClosedMessage);
    }

    void adopt(PgResultPtr result) {
        chunk_ = std::move(result);
        const int n = PQnfields(chunk_.get());
        fields_.clear();
        types_.clear();
        for (int i = 0; i < n; ++i) {
            fields_.push_back(pgFieldInfo(PQfname(chunk_.get(), i), PQftype(chunk_.get(), i), PQfmod(chunk_.get(), i)));
            types_.push_back(PQftype(chunk_.get(), i));
        }
        row_ = 0;
        load();
    }

    std::string fetchSql() const { return "FETCH FORWARD " + std::to_string(nextFetchRows()) + " FROM " + cursor_; }

    // The chunk after the current one: the one asked for ahead, or the failure of that FETCH, or else a FETCH now.
    PgResultPtr nextChunk() {
        auto link = link_.lock();
        if (!link || !link->conn || cursor_.empty()) {
            pending_ = false;
            throw Error(3704, kClosedMessage);
        }
        settle(*link); // ours, or another record set's answer to take in first
        if (aheadFailure_) {
            const Error failure = std::move(*aheadFailure_);
            aheadFailure_.reset();
            throw failure;
        }
        if (ahead_) {
            // Rows read ahead of a transaction that failed since: the FETCH made now fails as it always did, and
            // the rows stay for when the transaction has been rolled back.
            if (PQtransactionStatus(link->conn.get()) == PQTRANS_INERROR)
                run(link->conn.get(), fetchSql(), PGRES_TUPLES_OK);
            return std::move(ahead_);
        }
        return run(link->conn.get(), fetchSql(), PGRES_TUPLES_OK);
    }

    // Asks for the next chunk now, when rows remain beyond the current one and no transaction is open.
    void fetchAhead() {
        if (cursor_.empty() || pending_ || ahead_ || aheadFailure_) return;
        if (position_ - row_ + PQntuples(chunk_.get()) >= count_) return;
        auto link = link_.lock();
        if (!link || !link->conn) return;
        settle(*link);
        PGconn* conn = link->conn.get();
        // A failure inside a transaction would fail the statements that follow it before their time.
        if (PQtransactionStatus(conn) != PQTRANS_IDLE) return;
        // Should it not go out, the FETCH made when the rows are needed meets the trouble and reports it.
        if (PQsendQuery(conn, fetchSql().c_str()) != 1) return;
        pending_ = true;
        link->settle = [this] { takeAhead(); };
    }

    // The answer to the FETCH sent ahead, kept for nextChunk(); the connection is free again afterwards.
    void takeAhead() {
        pending_ = false;
        auto link = link_.lock();
        if (!link || !link->conn) return;
        PGconn* conn = link->conn.get();
        PgResultPtr result(PQgetResult(conn));
        while (PgResultPtr(PQgetResult(conn))) {
        }
        if (result && PQresultStatus(result.get()) == PGRES_TUPLES_OK)
            ahead_ = std::move(result);
        else
            aheadFailure_ = Error(kPgError, resultMessage(result.get(), conn));
    }

    // As many rows as about kChunkBytes hold, judged by the current chunk.
    int nextFetchRows() const {
        const int rows = PQntuples(chunk_.get());
        long long bytes = 0;
        for (int r = 0; r < rows; ++r)
            for (int c = 0; c < PQnfields(chunk_.get()); ++c) bytes += PQgetlength(chunk_.get(), r, c) + 8;
        if (rows == 0 || bytes == 0) return PostgreSQLBackend::kFetchRows;
        const long long fit = PostgreSQLBackend::kChunkBytes * rows / bytes;
        return int(std::clamp<long long>(fit, 1, PostgreSQLBackend::kFetchRows));
    }

    void load() {
        values_.assign(fields_.size(), Variant{});
        if (position_ >= count_ || row_ >= PQntuples(chunk_.get())) return;
        for (int i = 0; i < int(fields_.size()); ++i) {
            if (PQgetisnull(chunk_.get(), row_, i)) {
                values_[std::size_t(i)] = Null{};
                continue;
            }
            values_[std::size_t(i)] = pgValue(types_[std::size_t(i)], std::string_view(PQgetvalue(chunk_.get(), row_, i),
                                                                                   std::size_t(PQgetlength(chunk_.get(), row_, i))));
        }
    }

    PgResultPtr chunk_;
    std::vector<FieldInfo> fields_;
    std::vector<Oid> types_;
    std::vector<Variant> values_;
    int row_ = 0;
    long long position_ = 0;
    long long count_ = 0;
    std::weak_ptr<PostgreSQLBackend::Link> link_;
    std::string cursor_;
    bool closed_ = false;
    // The FETCH sent ahead: under way, or its answer (rows or failure) waiting for the record set to reach it.
    bool pending_ = false;
    PgResultPtr ahead_;
    std::optional<Error> aheadFailure_;
};

// Does the text start with a statement that DECLARE CURSOR accepts?
bool isRowQuery(std::string_view sql) {
    std::size_t pos = 0;
    while (pos < sql.size()) {
        if (std::isspace((unsigned char)sql[pos]) || sql[pos] == '(') {
            ++pos;
        } else if (sql.substr(pos, 2) == "--") {
            const auto nl = sql.find('\n', pos);
            pos = nl == std::string_view::npos ? sql.size() : nl + 1;
        } else if (sql.substr(pos, 2) == "/*") {
            const auto end = sql.find("*/", pos + 2);
            pos = end == std::string_view::npos ? sql.size() : end + 2;
        } else {
            break;
        }
    }
    std::size_t end = pos;
    while (end < sql.size() && std::isalpha((unsigned char)sql[end])) ++end;
    const std::string word = lower(sql.substr(pos, end - pos));
    return word == "select" || word == "with" || word == "values" || word == "table";
}

std::string withoutTrailingSemicolons(std::string sql) {
    while (!sql.empty() && (sql.back() == ';' || std::isspace((unsigned char)sql.back()))) sql.pop_back();
    return sql;
}

} // namespace

// ---------------------------------------------------------------------------
// The backend

PostgreSQLBackend::PostgreSQLBackend(const std::string& connectionString) {
    const auto params = pgConnectParameters(connectionString);
    std::vector<const char*> keywords, values;
    for (const auto& [k, v] : params) {
        keywords.push_back(k.c_str());
        values.push_back(v.c_str());
    }
    keywords.push_back(nullptr);
    values.push_back(nullptr);
    // expand_dbname 0: a database name is only ever a name, never a conninfo string.
    PgConnPtr conn(PQconnectdbParams(keywords.data(), values.data(), 0));
    if (!conn) throw Error(kPgError, "Out of memory while connecting to the PostgreSQL server.");
    if (PQstatus(conn.get()) != CONNECTION_OK) throw Error(kPgError, trimEnd(PQerrorMessage(conn.get())));
    // Notices ("drop cascades to ...") are not failures and have no reader here.
    PQsetNoticeProcessor(conn.get(), [](void*, const char*) {}, nullptr);
    // Fixed output forms, whatever the server or the user's PGOPTIONS say, so
    // that values parse the same everywhere.
    run(conn.get(),
        "SET DateStyle = 'ISO, MDY'; SET IntervalStyle = 'postgres'; SET extra_float_digits = 3; "
        "SET bytea_output = 'hex'; SET lc_monetary = 'C'",
        PGRES_COMMAND_OK);
    link_ = std::make_shared<Link>();
    link_->conn = std::move(conn);
}

PostgreSQLBackend::~PostgreSQLBackend() { close(); }

PGconn* PostgreSQLBackend::native() const {
    if (!link_ || !link_->conn)
        throw Error(3709, "The connection cannot be used to perform this operation. It is either closed or invalid in "
                          "this context.");
    settle(*link_);
    return link_->conn.get();
}

int PostgreSQLBackend::serverVersion() const { return PQserverVersion(native()); }

void PostgreSQLBackend::close() { link_.reset(); }

std::unique_ptr<Recordset> PostgreSQLBackend::execute(const std::string& sql) {
    PGconn* conn = native();
    PgResultPtr result(PQexec(conn, sql.c_str()));
    if (!result) throwResult(nullptr, conn);
    switch (PQresultStatus(result.get())) {
    case PGRES_TUPLES_OK: return std::make_unique<PgRecordset>(std::move(result));
    case PGRES_COMMAND_OK:
    case PGRES_EMPTY_QUERY: return nullptr;
    case PGRES_COPY_IN:
        // COPY FROM STDIN needs data; copyIn() is the way to send it.
        PQputCopyEnd(conn, "COPY FROM STDIN is not supported by Execute");
        while (PgResultPtr(PQgetResult(conn))) {
        }
        throw Error(kPgError, "COPY ... FROM STDIN needs a data source; it cannot run through Execute.");
    case PGRES_COPY_OUT: {
        char* buffer = nullptr;
        while (PQgetCopyData(conn, &buffer, 0) > 0) PQfreemem(buffer);
        PgResultPtr last;
        while (PgResultPtr next{PQgetResult(conn)}) last = std::move(next);
        if (last && PQresultStatus(last.get()) != PGRES_COMMAND_OK) throwResult(last.get(), conn);
        return nullptr;
    }
    default: throwResult(result.get(), conn);
    }
}

std::unique_ptr<Recordset> PostgreSQLBackend::openSchema(int schema) {
    if (schema != adSchemaTables)
        throw Error(3251, "Object or provider is not capable of performing requested operation.");
    return execute(R"(SELECT current_database()::text AS "TABLE_CATALOG", n.nspname::text AS "TABLE_SCHEMA",
       c.relname::text AS "TABLE_NAME",
       CASE WHEN n.nspname IN ('pg_catalog', 'information_schema') THEN 'SYSTEM TABLE'
            WHEN c.relkind IN ('v', 'm') THEN 'VIEW' ELSE 'TABLE' END AS "TABLE_TYPE",
       obj_description(c.oid, 'pg_class') AS "DESCRIPTION"
  FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace
 WHERE c.relkind IN ('r', 'v', 'm', 'p', 'f') AND n.nspname NOT LIKE 'pg\_toast%'
 ORDER BY 4, 2, 3)");
}

std::unique_ptr<Recordset> PostgreSQLBackend::openRecordset(const std::string& source, int /*cursorType*/,
                                                            int /*lockType*/) {
    PGconn* conn = native();
    if (!isRowQuery(source)) {
        auto rs = execute(source);
        if (!rs) throw Error(3704, kClosedMessage);
        return rs;
    }
    const std::string cursor = "qm_cursor_" + std::to_string(++cursorSerial_);
    const bool idle = PQtransactionStatus(conn) == PQTRANS_IDLE;
    {
        PgResultPtr declared(
            PQexec(conn, ("DECLARE " + cursor + " SCROLL CURSOR WITH HOLD FOR " + withoutTrailingSemicolons(source)).c_str()));
        if (!declared) throwResult(nullptr, conn);
        if (PQresultStatus(declared.get()) != PGRES_COMMAND_OK) {
            // Statements a holdable cursor cannot carry (FOR UPDATE, data-changing
            // WITH) still work the ordinary way when no transaction was spoilt.
            const char* state = PQresultErrorField(declared.get(), PG_DIAG_SQLSTATE);
            if (idle && state && std::strcmp(state, "0A000") == 0) {
                auto rs = execute(source);
                if (!rs) throw Error(3704, kClosedMessage);
                return rs;
            }
            throwResult(declared.get(), conn);
        }
    }
    try {
        const PgResultPtr moved = run(conn, "MOVE FORWARD ALL IN " + cursor, PGRES_COMMAND_OK);
        long long count = 0;
        if (!parseInt(std::string_view(PQcmdTuples(moved.get())), count))
            throw Error(kPgError, "The server did not report the number of rows.");
        run(conn, "MOVE ABSOLUTE 0 IN " + cursor, PGRES_COMMAND_OK);
        auto first = run(conn, "FETCH FORWARD " + std::to_string(kFirstFetchRows) + " FROM " + cursor, PGRES_TUPLES_OK);
        return std::make_unique<PgRecordset>(std::weak_ptr<Link>(link_), cursor, count, std::move(first));
    } catch (...) {
        if (PQtransactionStatus(conn) == PQTRANS_IDLE) PgResultPtr(PQexec(conn, ("CLOSE " + cursor).c_str()));
        throw;
    }
}

void PostgreSQLBackend::begin() { run(native(), "BEGIN", PGRES_COMMAND_OK); }

void PostgreSQLBackend::commit() {
    const auto result = run(native(), "COMMIT", PGRES_COMMAND_OK);
    // COMMIT of a failed transaction "succeeds" as a ROLLBACK.
    if (std::strcmp(PQcmdStatus(result.get()), "ROLLBACK") == 0)
        throw Error(kPgError, "The transaction was rolled back because a statement in it failed.");
}

void PostgreSQLBackend::rollback() { run(native(), "ROLLBACK", PGRES_COMMAND_OK); }

bool PostgreSQLBackend::inTransaction() const { return PQtransactionStatus(native()) != PQTRANS_IDLE; }

bool PostgreSQLBackend::copyInAtomically(const std::string& copySql,
                                         const std::function<bool(std::string& chunk)>& producer)
{
    try {
        begin();
        copyIn(copySql, producer);
        commit();
        return true;
    } catch (...) {
        try {
            if (inTransaction())
                rollback();
        } catch (...) {
            // The caller's replay row by row reports what is wrong with the connection.
        }
        return false;
    }
}

long long PostgreSQLBackend::copyIn(const std::string& copySql,
                                    const std::function<bool(std::string& chunk)>& producer) {
    PGconn* conn = native();
    {
        PgResultPtr started(PQexec(conn, copySql.c_str()));
        if (!started) throwResult(nullptr, conn);
        switch (PQresultStatus(started.get())) {
        case PGRES_COPY_IN: break;
        case PGRES_COPY_OUT: {
            // Nothing to send to: read the data away so the connection stays usable.
            char* buffer = nullptr;
            while (PQgetCopyData(conn, &buffer, 0) > 0) PQfreemem(buffer);
            while (PgResultPtr(PQgetResult(conn))) {
            }
            [[fallthrough]];
        }
        case PGRES_COMMAND_OK:
        case PGRES_TUPLES_OK:
        case PGRES_EMPTY_QUERY: throw Error(kPgError, "Not a COPY ... FROM STDIN statement: " + copySql);
        default: throwResult(started.get(), conn);
        }
    }
    auto drain = [conn] {
        PgResultPtr failure;
        long long rows = 0;
        while (PgResultPtr next{PQgetResult(conn)}) {
            if (PQresultStatus(next.get()) == PGRES_COMMAND_OK) {
                parseInt(std::string_view(PQcmdTuples(next.get())), rows);
            } else if (!failure) {
                failure = std::move(next);
            }
        }
        if (failure) throwResult(failure.get(), conn);
        return rows;
    };
    std::string chunk;
    try {
        bool more = true;
        while (more) {
            chunk.clear();
            more = producer(chunk);
            if (!chunk.empty() && PQputCopyData(conn, chunk.data(), int(chunk.size())) != 1)
                throw Error(kPgError, trimEnd(PQerrorMessage(conn)));
        }
    } catch (...) {
        PQputCopyEnd(conn, "cancelled by Quillmere");
        while (PgResultPtr(PQgetResult(conn))) {
        }
        throw;
    }
    if (PQputCopyEnd(conn, nullptr) != 1) throw Error(kPgError, trimEnd(PQerrorMessage(conn)));
    return drain();
}

void registerPostgreSQLEngine() {
    Connection::registerEngine("Driver", [](const std::string& connectionString, short, short) {
        return std::unique_ptr<Backend>(std::make_unique<PostgreSQLBackend>(connectionString));
    });
}

} // namespace db
