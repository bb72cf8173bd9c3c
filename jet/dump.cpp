#include "jet/dump.h"

#include <algorithm>
#include <charconv>

#include "jet/database.h"
#include "jet/error.h"

namespace jet {

namespace {

std::u16string toUtf16(std::string_view s) {
    std::u16string out;
    std::size_t i = 0;
    while (i < s.size()) {
        auto c = static_cast<unsigned char>(s[i]);
        std::uint32_t cp = c;
        std::size_t len = 1;
        if (c >= 0xF0 && i + 3 < s.size() + 0) {
            cp = ((c & 0x07u) << 18) | ((static_cast<unsigned char>(s[i + 1]) & 0x3Fu) << 12) |
                 ((static_cast<unsigned char>(s[i + 2]) & 0x3Fu) << 6) | (static_cast<unsigned char>(s[i + 3]) & 0x3Fu);
            len = 4;
        } else if (c >= 0xE0 && i + 2 < s.size()) {
            cp = ((c & 0x0Fu) << 12) | ((static_cast<unsigned char>(s[i + 1]) & 0x3Fu) << 6) |
                 (static_cast<unsigned char>(s[i + 2]) & 0x3Fu);
            len = 3;
        } else if (c >= 0xC0 && i + 1 < s.size()) {
            cp = ((c & 0x1Fu) << 6) | (static_cast<unsigned char>(s[i + 1]) & 0x3Fu);
            len = 2;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (cp >> 10));
            out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
        } else {
            out += static_cast<char16_t>(cp);
        }
        i += len;
    }
    return out;
}

void appendScalarJson(std::string& out, const ScalarValue& v);

struct JsonVisitor {
    std::string& out;
    void operator()(std::monostate) const { out += "null"; }
    void operator()(bool b) const { out += b ? "true" : "false"; }
    void operator()(std::uint8_t v) const { out += std::to_string(v); }
    void operator()(std::int16_t v) const { out += std::to_string(v); }
    void operator()(std::int32_t v) const { out += std::to_string(v); }
    void operator()(std::int64_t v) const {
        out += '"';
        out += std::to_string(v);
        out += '"';
    }
    void number(const std::string& s) const {
        if (s == "NaN" || s == "Infinity" || s == "-Infinity") {
            out += '"';
            out += s;
            out += '"';
        } else {
            out += s;
        }
    }
    void operator()(float v) const { number(formatFloat(v)); }
    void operator()(double v) const { number(formatDouble(v)); }
    void operator()(const Currency& v) const { appendJsonString(out, v.toString()); }
    void operator()(const Decimal& v) const { appendJsonString(out, v.toString()); }
    void operator()(const DateTime& v) const { appendJsonString(out, v.toText()); }
    void operator()(const DateTimeExt& v) const { appendJsonString(out, v.toText()); }
    void operator()(const std::string& v) const { appendJsonString(out, v); }
    void operator()(const Bytes& v) const {
        out += '"';
        out += toHex(v);
        out += '"';
    }
    void operator()(const Guid& v) const { appendJsonString(out, v.toText()); }
    void operator()(const Attachments& v) const {
        out += '[';
        for (std::size_t i = 0; i < v.size(); ++i) {
            if (i) out += ',';
            out += "{\"name\":";
            appendJsonString(out, v[i].name);
            out += ",\"type\":";
            appendJsonString(out, v[i].type);
            out += ",\"data\":\"";
            out += toHex(v[i].data);
            out += "\"}";
        }
        out += ']';
    }
    void operator()(const MultiValues& v) const {
        out += '[';
        for (std::size_t i = 0; i < v.values.size(); ++i) {
            if (i) out += ',';
            appendScalarJson(out, v.values[i]);
        }
        out += ']';
    }
    void operator()(const VersionHistory& v) const {
        out += '[';
        for (std::size_t i = 0; i < v.versions.size(); ++i) {
            if (i) out += ',';
            out += "{\"value\":";
            appendScalarJson(out, v.versions[i].value);
            out += ",\"modified\":";
            appendJsonString(out, v.versions[i].modified.toText());
            out += '}';
        }
        out += ']';
    }
    void operator()(const ComplexRef& v) const {
        out += "{\"$complex\":";
        out += std::to_string(v.id);
        out += '}';
    }
};

void appendScalarJson(std::string& out, const ScalarValue& v) {
    std::visit([&](const auto& x) { JsonVisitor{out}(x); }, v);
}

bool isUnknownType(std::uint8_t t) { return std::string_view(columnTypeName(t)) == "unknown"; }

void appendColumnsJson(std::string& out, const Table& t) {
    out += "\"columns\":[";
    bool first = true;
    for (const auto& c : t.columns()) {
        if (!first) out += ',';
        first = false;
        out += "{\"name\":";
        appendJsonString(out, c.name);
        out += ",\"type\":\"";
        out += c.typeName();
        out += '"';
        const auto type = static_cast<ColumnType>(c.type);
        if (type == ColumnType::Text || type == ColumnType::Binary) {
            out += ",\"size\":";
            out += std::to_string(c.size);
        } else if (type == ColumnType::Numeric) {
            out += ",\"precision\":";
            out += std::to_string(c.precision);
            out += ",\"scale\":";
            out += std::to_string(c.scale);
        }
        out += '}';
    }
    out += ']';
}

constexpr std::size_t kFlushAt = 1 << 16;

void flush(std::string& buf, std::ostream& out) {
    out.write(buf.data(), static_cast<std::streamsize>(buf.size()));
    buf.clear();
}

std::string failureLine(const std::string& table, const Error& e) {
    return table + ": " + std::to_string(e.number()) + " " + e.what();
}

// Writes one table as JSON (the part from '{' to '}'), appending to buf and flushing to out.
void tableJson(Table& t, std::string& buf, std::ostream& out, DumpResult& r) {
    t.rewind();
    buf += "{\"name\":";
    appendJsonString(buf, t.name());
    buf += ',';
    appendColumnsJson(buf, t);
    buf += ",\"rows\":[\n";
    const std::size_t n = t.columns().size();
    std::vector<Value> cells(n);
    bool firstRow = true;
    try {
        while (t.next()) {
            if (!firstRow) buf += ",\n";
            firstRow = false;
            buf += '[';
            for (std::size_t i = 0; i < n; ++i) {
                if (i) buf += ',';
                try {
                    t.value(i, cells[i]);
                    if (isUnknownType(t.columns()[i].type) && !isNull(cells[i])) {
                        buf += "{\"$raw\":\"";
                        if (auto* b = std::get_if<Bytes>(&cells[i])) buf += toHex(*b);
                        buf += "\"}";
                    } else {
                        appendJsonValue(buf, cells[i]);
                    }
                } catch (const Error& e) {
                    buf += "{\"$error\":";
                    appendJsonString(buf, std::to_string(e.number()) + " " + e.what());
                    buf += '}';
                    ++r.cellErrors;
                    r.messages.push_back(failureLine(t.name(), e));
                }
            }
            buf += ']';
            ++r.rowsWritten;
            if (buf.size() >= kFlushAt) flush(buf, out);
        }
        if (!firstRow) buf += '\n';
        buf += "]}";
        ++r.tablesWritten;
    } catch (const Error& e) {
        if (!firstRow) buf += '\n';
        buf += "],\"error\":";
        appendJsonString(buf, std::to_string(e.number()) + " " + e.what());
        buf += '}';
        ++r.tablesFailed;
        r.messages.push_back(failureLine(t.name(), e));
    }
}

// Characters that make a CSV field quoted.
constexpr bool csvSpecial(char c) { return c == ',' || c == '"' || c == '\r' || c == '\n'; }

void appendCsvField(std::string& buf, std::string_view s, bool forceQuote) {
    bool quote = forceQuote;
    for (std::size_t i = 0; i < s.size() && !quote; ++i) quote = csvSpecial(s[i]);
    if (!quote) {
        buf.append(s);
        return;
    }
    // Copied a run at a time up to each double quote, which is doubled.
    buf += '"';
    for (std::size_t start = 0;;) {
        const std::size_t q = s.find('"', start);
        if (q == std::string_view::npos) {
            buf.append(s.substr(start));
            break;
        }
        buf.append(s.substr(start, q + 1 - start));
        buf += '"';
        start = q + 1;
    }
    buf += '"';
}

// A list cell as one text, as the record set shows it: attachment names as Access's provider joins
// them, multi-value items escaped; nothing for an empty list or a complex kind the engine cannot read.
void appendCsvList(std::string& buf, const Value& v) {
    const bool names = std::holds_alternative<Attachments>(v);
    std::vector<std::string> texts;
    for (const auto& item : listItems(v)) texts.push_back(toText(item));
    if (texts.empty()) return;
    const std::string text = joinListItems(texts, names ? ListJoin::Plain : ListJoin::Escaped);
    appendCsvField(buf, text, text.empty()); // one empty item is quoted, as an empty text is
}

void appendCsvValue(std::string& buf, const Value& v, bool unknownType) {
    if (isNull(v)) return;
    if (std::holds_alternative<Attachments>(v) || std::holds_alternative<MultiValues>(v) ||
        std::holds_alternative<VersionHistory>(v) || std::holds_alternative<ComplexRef>(v)) {
        appendCsvList(buf, v);
        return;
    }
    if (auto* s = std::get_if<std::string>(&v)) {
        appendCsvField(buf, *s, s->empty());
        return;
    }
    if (unknownType) {
        if (auto* b = std::get_if<Bytes>(&v)) {
            buf += toHex(*b);
            return;
        }
    }
    // Numbers, dates, Yes/No and GUIDs never need quotes.
    if (appendPlainText(buf, v)) return;
    std::string text = toText(v);
    appendCsvField(buf, text, false);
}

void tableCsv(Table& t, std::string& buf, std::ostream& out, DumpResult& r) {
    t.rewind();
    const auto& cols = t.columns();
    // The fields of the table as a record set shows them.
    std::vector<std::size_t> shown;
    for (std::size_t i = 0; i < cols.size(); ++i)
        if (isRecordsetField(cols[i])) shown.push_back(i);
    for (std::size_t k = 0; k < shown.size(); ++k) {
        if (k) buf += ',';
        appendCsvField(buf, cols[shown[k]].name, false);
    }
    buf += "\r\n";
    std::vector<Value> cells(cols.size());
    std::vector<char> unknown(cols.size());
    for (std::size_t i = 0; i < cols.size(); ++i) unknown[i] = isUnknownType(cols[i].type);
    try {
        while (t.next()) {
            for (std::size_t k = 0; k < shown.size(); ++k) {
                const std::size_t i = shown[k];
                if (k) buf += ',';
                try {
                    t.value(i, cells[i]);
                    appendCsvValue(buf, cells[i], unknown[i]);
                } catch (const Error& e) {
                    ++r.cellErrors;
                    r.messages.push_back(failureLine(t.name(), e));
                }
            }
            buf += "\r\n";
            ++r.rowsWritten;
            if (buf.size() >= kFlushAt) flush(buf, out);
        }
        ++r.tablesWritten;
    } catch (const Error& e) {
        ++r.tablesFailed;
        r.messages.push_back(failureLine(t.name(), e));
    }
}

} // namespace

void appendJsonString(std::string& out, std::string_view s) {
    static const char* hex = "0123456789abcdef";
    out += '"';
    std::size_t i = 0;
    std::size_t runStart = 0;
    auto flushRun = [&](std::size_t upTo) {
        if (upTo > runStart) out.append(s.data() + runStart, upTo - runStart);
    };
    while (i < s.size()) {
        auto c = static_cast<unsigned char>(s[i]);
        if (c >= 0x20 && c != '"' && c != '\\' && c != 0xED) {
            ++i;
            continue;
        }
        if (c == 0xED && i + 2 < s.size() && (static_cast<unsigned char>(s[i + 1]) & 0xE0) == 0xA0) {
            // an unpaired surrogate kept as WTF-8: write it as \uXXXX
            flushRun(i);
            std::uint32_t cp = ((c & 0x0Fu) << 12) | ((static_cast<unsigned char>(s[i + 1]) & 0x3Fu) << 6) |
                               (static_cast<unsigned char>(s[i + 2]) & 0x3Fu);
            out += "\\u";
            out += hex[(cp >> 12) & 15];
            out += hex[(cp >> 8) & 15];
            out += hex[(cp >> 4) & 15];
            out += hex[cp & 15];
            i += 3;
            runStart = i;
            continue;
        }
        if (c == 0xED) {
            ++i;
            continue;
        }
        flushRun(i);
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            out += "\\u00";
            out += hex[c >> 4];
            out += hex[c & 15];
        }
        ++i;
        runStart = i;
    }
    flushRun(i);
    out += '"';
}

void appendJsonValue(std::string& out, const Value& v) {
    std::visit([&](const auto& x) { JsonVisitor{out}(x); }, v);
}

std::vector<std::string> dumpTableOrder(const Database& db) {
    auto names = db.userTableNames();
    std::stable_sort(names.begin(), names.end(),
                     [](const std::string& a, const std::string& b) { return toUtf16(a) < toUtf16(b); });
    return names;
}

DumpResult dumpTableJson(Table& table, std::ostream& out) {
    DumpResult r;
    std::string buf;
    tableJson(table, buf, out, r);
    flush(buf, out);
    return r;
}

DumpResult dumpTableCsv(Table& table, std::ostream& out) {
    DumpResult r;
    std::string buf;
    tableCsv(table, buf, out, r);
    flush(buf, out);
    return r;
}

DumpResult dump(Database& db, std::ostream& out, const DumpOptions& options) {
    DumpResult r;
    std::vector<std::string> names;
    if (options.tables.empty()) {
        names = dumpTableOrder(db);
    } else {
        for (const auto& n : options.tables) {
            const CatalogEntry* e = db.findObject(n);
            if (!e || e->type != 1)
                throw Error(errc::TableNotFound,
                            "The Microsoft Access database engine cannot find the input table or query '" + n +
                                "'. Make sure it exists and that its name is spelled correctly.");
            names.push_back(e->name);
        }
    }
    std::string buf;
    if (options.format == DumpFormat::Json) buf += "{\"tables\":[\n";
    bool first = true;
    for (const auto& name : names) {
        if (!first) buf += options.format == DumpFormat::Json ? ",\n" : "\r\n";
        first = false;
        std::unique_ptr<Table> t;
        try {
            t = db.openTable(name);
        } catch (const Error& e) {
            ++r.tablesFailed;
            r.messages.push_back(failureLine(name, e));
            if (options.format == DumpFormat::Json) {
                buf += "{\"name\":";
                appendJsonString(buf, name);
                buf += ",\"error\":";
                appendJsonString(buf, std::to_string(e.number()) + " " + e.what());
                buf += '}';
            }
            continue;
        }
        if (options.format == DumpFormat::Json) tableJson(*t, buf, out, r);
        else tableCsv(*t, buf, out, r);
    }
    if (options.format == DumpFormat::Json) buf += first ? "]}\n" : "\n]}\n";
    flush(buf, out);
    out.flush();
    return r;
}

} // namespace jet
