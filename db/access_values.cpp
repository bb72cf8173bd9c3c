#include "db/access_values.h"

#include "db/access_session.h"

namespace db {

namespace {

struct ScalarToVariant {
    Variant operator()(std::monostate) const { return Null{}; }
    Variant operator()(bool b) const { return b; }
    Variant operator()(std::uint8_t x) const { return x; }
    Variant operator()(std::int16_t x) const { return x; }
    Variant operator()(std::int32_t x) const { return x; }
    Variant operator()(std::int64_t x) const { return x; }
    Variant operator()(float x) const { return x; }
    Variant operator()(double x) const { return x; }
    Variant operator()(const jet::Currency& c) const { return Currency{c.scaled}; }
    Variant operator()(const jet::Decimal& d) const { return Decimal{d.mantissa, d.scale, d.negative}; }
    Variant operator()(const jet::DateTime& d) const { return Date{d.days}; }
    Variant operator()(const jet::DateTimeExt& d) const {
        // Exact to 100 ns, which a day count cannot hold: carried as text.
        std::string text = d.toText();
        if (auto t = text.find('T'); t != std::string::npos) text[t] = ' ';
        return text;
    }
    Variant operator()(const std::string& s) const { return s; }
    Variant operator()(const jet::Bytes& b) const { return Bytes(b); }
    Variant operator()(const jet::Guid& g) const { return Guid{g.bytes}; }
};

Variant scalarVariant(const jet::ScalarValue& v) { return std::visit(ScalarToVariant{}, v); }

} // namespace

std::vector<Variant> accessListItems(const jet::Value& v) {
    std::vector<Variant> items;
    for (const auto& item : jet::listItems(v)) items.push_back(scalarVariant(item));
    return items;
}

Variant accessCellValue(const jet::Value& v) {
    const bool attachments = std::holds_alternative<jet::Attachments>(v);
    if (attachments || std::holds_alternative<jet::MultiValues>(v)) {
        const auto items = accessListItems(v);
        if (items.empty()) return Null{};
        std::vector<std::string> texts;
        texts.reserve(items.size());
        for (const auto& item : items) texts.push_back(item.toText());
        return jet::joinListItems(texts, attachments ? jet::ListJoin::Plain : jet::ListJoin::Escaped);
    }
    if (std::holds_alternative<jet::VersionHistory>(v) || std::holds_alternative<jet::ComplexRef>(v)) return Null{};
    return std::visit(
        [](const auto& x) -> Variant {
            using T = std::decay_t<decltype(x)>;
            if constexpr (std::is_constructible_v<jet::ScalarValue, T>) return ScalarToVariant{}(x);
            else return Null{};
        },
        v);
}

int accessFieldType(const jet::Column& c) {
    switch (c.complexKind) {
    case jet::ComplexKind::None: return accessAdoType(c.type, c.size, c.fixed);
    case jet::ComplexKind::Attachment:
    case jet::ComplexKind::MultiValue: return ado::adLongVarWChar;
    default: return ado::adInteger; // no value the engine can read: always Null
    }
}

} // namespace db
