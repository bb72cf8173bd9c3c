#include "catalog_row.h"

#include "error.h"
#include "writer.h"
#include "writer_error.h"

#include <cstring>
#include <string>

namespace jet {

namespace {

std::int32_t int32Of(const Cell& c)
{
    std::int32_t v = 0;
    if (!c.null && c.bytes.size() >= 4)
        std::memcpy(&v, c.bytes.data(), 4);
    return v;
}

}  // namespace

int catalogColumn(RowEditor& rows, const char16_t* name)
{
    const int c = rows.column(kCatalogPage, name);
    if (c < 0)
        throwError(err::Corrupt, "The catalogue (MSysObjects) lacks one of its columns.");
    return c;
}

void editCatalogRow(RowEditor& rows, std::uint32_t tablePage, const std::function<void(std::vector<Cell>&)>& edit)
{
    const int id = catalogColumn(rows, u"Id"), parent = catalogColumn(rows, u"ParentId");
    const auto container = static_cast<std::int32_t>(rows.tablesContainer());
    const int changed = rows.rewrite(kCatalogPage, [&](std::vector<Cell>& cells) {
        if (int32Of(cells[id]) != static_cast<std::int32_t>(tablePage) || int32Of(cells[parent]) != container)
            return false;
        edit(cells);
        return true;
    });
    if (changed != 1)
        throwError(err::Corrupt, "The catalogue holds " + std::to_string(changed) + " rows for the table at page " +
                                     std::to_string(tablePage) + ".");
}

}  // namespace jet
