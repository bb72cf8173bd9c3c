// The catalogue row (MSysObjects) of a table, for the operations that change it in place (jet/rename.cpp,
// jet/writer_props.cpp).
#pragma once

#include "convert.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace jet {

class RowEditor;

inline constexpr std::uint32_t kCatalogPage = 2;  // MSysObjects' definition page

// Column numbers of the catalogue's columns by name; throws 3343 when one is missing.
int catalogColumn(RowEditor& rows, const char16_t* name);

// Edits the catalogue row of the table whose definition starts at `tablePage` (stored again with its index
// entries); throws 3343 unless there is exactly one.
void editCatalogRow(RowEditor& rows, std::uint32_t tablePage, const std::function<void(std::vector<Cell>&)>& edit);

}  // namespace jet
