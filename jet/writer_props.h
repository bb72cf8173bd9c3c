// Column and table properties written the way Access stores them: the "MR2" blob of the table's catalogue row
// (MSysObjects.LvProp), one map for the table and one per column (layout: docs/format/catalogue.md). Setting a
// property keeps every other property the row holds.
#pragma once

#include "properties.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace jet {

class Writer;

// The properties the full-schema transfer sets; what is unset stays as it is.
struct PropertyChange {
    std::string column;  // "" for the table itself
    std::optional<bool> required;
    std::optional<std::string> defaultValue;  // an Access expression: 0, "abc", Yes, Now()
    std::optional<std::string> description;
};

// The blob of Jet 4 / ACE files (names and texts in UTF-16).
std::vector<std::uint8_t> buildPropertyBlob(const std::vector<PropertyMap>& maps);

// Applies the changes to the maps: a property set again replaces its value, a new one is added.
void applyPropertyChanges(std::vector<PropertyMap>& maps, const std::vector<PropertyChange>& changes);

// Sets the properties of a table and its columns, as one statement. Access 97 files keep their properties in
// another blob ("KKD") that this does not write: error 3251 there.
void setProperties(Writer& writer, const std::string& table, const std::vector<PropertyChange>& changes);

}  // namespace jet
