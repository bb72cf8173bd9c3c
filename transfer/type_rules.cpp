#include "transfer/type_rules.h"

#include <algorithm>

namespace transfer {

const PostgresTypeRule& postgresTypeRule(std::string_view lowerTypeName) {
    for (const auto& rule : kPostgresTypeRules)
        if (rule.keyword.empty() || lowerTypeName.find(rule.keyword) != std::string_view::npos) return rule;
    return kPostgresTypeRules.back();
}

const AccessTypeRule& accessTypeRule(std::string_view lowerTypeName) {
    for (const auto& rule : kAccessTypeRules)
        if (rule.keyword.empty() || lowerTypeName.find(rule.keyword) != std::string_view::npos) return rule;
    return kAccessTypeRules.back();
}

DecimalShape accessDecimalShape(const db::FieldInfo& field, const std::function<DecimalNeed()>& measure) {
    if (field.precision >= 1 && field.precision <= kAccessMaxPrecision && field.scale >= 0 &&
        field.scale <= field.precision)
        return {field.precision, field.scale};
    const DecimalNeed need = measure ? measure() : DecimalNeed{};
    // Keep every integer digit the values have; give the rest of the 28 digits
    // to the fraction, as far as the values need them.
    const int integerDigits = std::clamp(need.integerDigits, 0, kAccessMaxPrecision);
    const int scale = std::clamp(need.scale, 0, kAccessMaxPrecision - integerDigits);
    return {kAccessMaxPrecision, scale};
}

bool fitsDecimal(std::string_view text, DecimalShape shape) {
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
    int integerDigits = 0, fractionDigits = 0, pendingZeros = 0;
    bool point = false, digits = false, leading = true;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '.' && !point) {
            point = true;
            continue;
        }
        if (c < '0' || c > '9') return false; // NaN, exponents: not a value Access can hold
        digits = true;
        if (!point) {
            if (leading && c == '0') continue;
            leading = false;
            ++integerDigits;
        } else if (c == '0') {
            ++pendingZeros;
        } else {
            fractionDigits += pendingZeros + 1;
            pendingZeros = 0;
        }
    }
    return digits && fractionDigits <= shape.scale && integerDigits <= shape.precision - shape.scale;
}

namespace {

// True when every value of the column fits CURRENCY exactly.
bool fitsCurrency(const db::FieldInfo& field, const std::function<DecimalNeed()>& measure) {
    const int maxScale = kCurrencyShape.scale, maxInteger = kCurrencyShape.precision - kCurrencyShape.scale;
    if (field.precision >= 1 && field.scale >= 0 && field.scale <= field.precision)
        return field.scale <= maxScale && field.precision - field.scale <= maxInteger;
    const DecimalNeed need = measure ? measure() : DecimalNeed{};
    return need.scale <= maxScale && need.integerDigits <= maxInteger;
}

} // namespace

std::string accessColumnSuffix(const AccessTypeRule& rule, const db::FieldInfo& field,
                               const std::function<DecimalNeed()>& measure, DecimalShape* decimal,
                               bool decimalType) {
    switch (rule.kind) {
    case AccessTypeKind::Fixed:
        return std::string(rule.suffix);
    case AccessTypeKind::Text:
        if (field.definedSize < 0 || field.definedSize > kAccessMaxText) return "` MEMO,";
        return std::string(rule.suffix);
    case AccessTypeKind::Decimal: {
        if (!decimalType && fitsCurrency(field, measure)) {
            if (decimal) *decimal = kCurrencyShape;
            return "` CURRENCY,";
        }
        const DecimalShape shape = accessDecimalShape(field, measure);
        if (decimal) *decimal = shape;
        return "` DECIMAL(" + std::to_string(shape.precision) + "," + std::to_string(shape.scale) + "),";
    }
    }
    return std::string(rule.suffix);
}

} // namespace transfer
