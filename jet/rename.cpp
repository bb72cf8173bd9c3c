#include "rename.h"

#include "convert.h"
#include "error.h"
#include "writer.h"
#include "writer_error.h"

#include <cstring>

namespace jet {

namespace {

constexpr std::uint32_t kCatalogPage = 2;  // MSysObjects

std::int32_t int32Of(const Cell& c)
{
    std::int32_t v = 0;
    if (!c.null && c.bytes.size() >= 4)
        std::memcpy(&v, c.bytes.data(), 4);
    return v;
}

}  // namespace

void renameTable(Writer& writer, const std::string& oldName, const std::string& newName)
{
    writer.change([&](RowEditor& rows) {
        const std::uint32_t page = rows.tablePage(oldName);
        if (page == 0)
            throwError(err::NoSuchTable, "Table '" + oldName + "' does not exist.");
        rows.requireTableName(newName, page);
        const std::u16string name = utf8ToUtf16(newName);
        const int id = rows.column(kCatalogPage, u"Id"), parent = rows.column(kCatalogPage, u"ParentId"),
                  nameColumn = rows.column(kCatalogPage, u"Name");
        if (id < 0 || parent < 0 || nameColumn < 0)
            throwError(err::Corrupt, "The catalogue (MSysObjects) lacks one of its columns.");
        // The catalogue row: its Name, and with it the entry of the name index.
        std::u16string stored;
        const int changed = rows.rewrite(kCatalogPage, [&](std::vector<Cell>& cells) {
            if (int32Of(cells[id]) != static_cast<std::int32_t>(page) ||
                int32Of(cells[parent]) != static_cast<std::int32_t>(rows.tablesContainer()))
                return false;
            stored = cells[nameColumn].text;
            cells[nameColumn].text = name;
            return true;
        });
        if (changed != 1)
            throwError(err::Corrupt, "The catalogue holds " + std::to_string(changed) + " rows for table '" +
                                         oldName + "'.");
        // The relationships that name the table, on either side.
        const std::uint32_t relationships = rows.tablePage("MSysRelationships");
        if (relationships == 0)
            return;
        const int object = rows.column(relationships, u"szObject"),
                  referenced = rows.column(relationships, u"szReferencedObject");
        rows.rewrite(relationships, [&](std::vector<Cell>& cells) {
            bool edited = false;
            for (int c : {object, referenced})
                if (c >= 0 && !cells[c].null && cells[c].text == stored) {
                    cells[c].text = name;
                    edited = true;
                }
            return edited;
        });
    });
}

}  // namespace jet
