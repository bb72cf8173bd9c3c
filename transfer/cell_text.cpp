#include "transfer/cell_text.h"

#include <type_traits>

#include "db/error.h"
#include "jet/dump.h"
#include "transfer/statements.h"

namespace transfer {

namespace {

std::string dateText(const jet::DateTime& d) {
    jet::CivilDateTime civil;
    if (!d.toCivil(civil)) throw db::Error(3049, "A date outside the years 1 to 9999 (" + jet::formatDouble(d.days) + " days).");
    std::string text = d.toText();
    if (auto t = text.find('T'); t != std::string::npos) text[t] = ' ';
    return text;
}

std::string extendedText(const jet::DateTimeExt& d) {
    std::string text = d.toText();
    if (auto t = text.find('T'); t != std::string::npos) text[t] = ' ';
    return text;
}

// The text of one scalar, as its type's input form takes it.
template <class T>
std::string scalarText(const T& v) {
    if constexpr (std::is_same_v<T, bool>) return v ? "true" : "false";
    else if constexpr (std::is_same_v<T, std::uint8_t>) return std::to_string(unsigned(v));
    else if constexpr (std::is_integral_v<T>) return std::to_string(v);
    else if constexpr (std::is_same_v<T, float>) return jet::formatFloat(v);
    else if constexpr (std::is_same_v<T, double>) return jet::formatDouble(v);
    else if constexpr (std::is_same_v<T, jet::Currency> || std::is_same_v<T, jet::Decimal>) return v.toString();
    else if constexpr (std::is_same_v<T, jet::DateTime>) return dateText(v);
    else if constexpr (std::is_same_v<T, jet::DateTimeExt>) return extendedText(v);
    else if constexpr (std::is_same_v<T, std::string>) return v;
    else if constexpr (std::is_same_v<T, jet::Bytes>) return "\\x" + jet::toHex(v);
    else if constexpr (std::is_same_v<T, jet::Guid>) return v.toText();
    else return {};
}

// {"a","b",NULL}: every element quoted, its quotes and backslashes escaped.
std::string arrayText(const jet::MultiValues& m) {
    std::string out = "{";
    for (std::size_t i = 0; i < m.values.size(); ++i) {
        if (i) out += ',';
        const std::string element = std::visit(
            [](const auto& v) -> std::string {
                using T = std::decay_t<decltype(v)>;
                if constexpr (std::is_same_v<T, std::monostate>) return "NULL";
                else {
                    std::string quoted = "\"";
                    for (char c : scalarText(v)) {
                        if (c == '"' || c == '\\') quoted += '\\';
                        quoted += c;
                    }
                    return quoted + "\"";
                }
            },
            m.values[i]);
        out += element;
    }
    return out + "}";
}

std::string attachmentsJson(const jet::Attachments& files) {
    std::string out = "[";
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (i) out += ',';
        out += "{\"name\":";
        jet::appendJsonString(out, files[i].name);
        out += ",\"type\":";
        jet::appendJsonString(out, files[i].type);
        out += ",\"data\":\"" + base64(files[i].data) + "\"}";
    }
    return out + "]";
}

std::string historyJson(const jet::VersionHistory& h) {
    std::string out = "[";
    for (std::size_t i = 0; i < h.versions.size(); ++i) {
        if (i) out += ',';
        out += "{\"value\":";
        const auto& v = h.versions[i].value;
        if (std::holds_alternative<std::monostate>(v)) out += "null";
        else jet::appendJsonString(out, std::visit([](const auto& x) { return scalarText(x); }, v));
        out += ",\"modified\":";
        jet::appendJsonString(out, h.versions[i].modified.toText());
        out += '}';
    }
    return out + "]";
}

} // namespace

std::optional<std::string> cellText(const jet::Value& value, CellForm form) {
    return std::visit(
        [form](const auto& v) -> std::optional<std::string> {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, std::monostate>) return std::nullopt;
            else if constexpr (std::is_same_v<T, jet::Attachments>) return attachmentsJson(v);
            else if constexpr (std::is_same_v<T, jet::VersionHistory>) {
                if (form == CellForm::ComplexKey) return std::to_string(v.id);
                return historyJson(v);
            } else if constexpr (std::is_same_v<T, jet::MultiValues>) {
                if (form == CellForm::ComplexKey) return std::to_string(v.id);
                return arrayText(v);
            } else if constexpr (std::is_same_v<T, jet::ComplexRef>) return std::to_string(v.id);
            else return scalarText(v);
        },
        value);
}

void appendCopyField(std::string& out, const std::optional<std::string>& text) {
    if (!text) {
        out += "\\N";
        return;
    }
    appendCopyText(out, *text);
}

std::string insertLiteral(const std::optional<std::string>& text) { return text ? sqlLiteral(*text) : "NULL"; }

std::string base64(const jet::Bytes& bytes) {
    static const char* const digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const unsigned n = unsigned(bytes[i]) << 16 | unsigned(bytes[i + 1]) << 8 | bytes[i + 2];
        for (int s = 18; s >= 0; s -= 6) out += digits[(n >> s) & 63];
    }
    if (const std::size_t rest = bytes.size() - i) {
        const unsigned n = unsigned(bytes[i]) << 16 | (rest == 2 ? unsigned(bytes[i + 1]) << 8 : 0u);
        out += digits[(n >> 18) & 63];
        out += digits[(n >> 12) & 63];
        out += rest == 2 ? digits[(n >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

} // namespace transfer
