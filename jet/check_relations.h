// Part of the file checker (check.h): relationships, their two logical indexes and the rows they govern.
#pragma once

#include "check.h"
#include "writer_internal.h"

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace jet {

using RelationFindingSink = std::function<void(CheckFinding::Kind, std::string where, std::string what)>;

// `tables`: every local table of the catalogue (TDEF page, name), system tables included.
void checkRelationships(PageSource& src, const std::vector<std::pair<std::uint32_t, std::string>>& tables,
                        const RelationFindingSink& add);

}  // namespace jet
