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

// The blob: "MR2" with names and texts in UTF-16 (codePage 0: Jet 4 / ACE), or "KKD" with them in the code page
// (Access 97); the layout is otherwise the same.
std::vector<std::uint8_t> buildPropertyBlob(const std::vector<PropertyMap>& maps, std::uint16_t codePage = 0);

// Applies the changes to the maps: a property set again replaces its value, a new one is added. Texts are stored
// in UTF-16 (codePage 0) or in the code page; a character the code page lacks is error 3464.
void applyPropertyChanges(std::vector<PropertyMap>& maps, const std::vector<PropertyChange>& changes,
                          std::uint16_t codePage = 0);

// Sets the properties of a table and its columns, as one statement.
void setProperties(Writer& writer, const std::string& table, const std::vector<PropertyChange>& changes);

}  // namespace jet
