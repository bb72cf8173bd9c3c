#pragma once
// Object properties (MSysObjects.LvProp): the "MR2\0" (Jet4/ACE) or "KKD\0" (Jet3) blob
// that holds column and table properties such as ResultType, Expression, Format,
// Required and DefaultValue. Layout: docs/format/catalogue.md.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace jet {

struct TextDecoder;

struct Property {
    std::string name;
    std::uint8_t dataType = 0; // ColumnType code of the value
    bool ddl = false;
    std::vector<std::uint8_t> data; // stored value bytes
};

struct PropertyMap {
    std::string name;          // "" for the object itself, else the column name
    std::uint16_t blockType = 0; // 0 = object, 1 = column
    std::vector<Property> properties;
    const Property* find(std::string_view name) const; // case-insensitive (ASCII)
};

// Parses the blob. Returns no maps for an empty blob; throws Error 3049 on a malformed one.
std::vector<PropertyMap> parsePropertyMaps(std::span<const std::uint8_t> blob, const TextDecoder& names);

} // namespace jet
