#include "rename.h"

#include "catalog_row.h"
#include "convert.h"
#include "error.h"
#include "writer.h"
#include "writer_error.h"

namespace jet {

void renameTable(Writer& writer, const std::string& oldName, const std::string& newName)
{
    writer.change([&](RowEditor& rows) {
        const std::uint32_t page = rows.tablePage(oldName);
        if (page == 0)
            throwError(err::NoSuchTable, "Table '" + oldName + "' does not exist.");
        rows.requireTableName(newName, page);
        const std::u16string name = utf8ToUtf16(newName);
        // The catalogue row: its Name, and with it the entry of the name index.
        const int nameColumn = catalogColumn(rows, u"Name");
        std::u16string stored;
        editCatalogRow(rows, page, [&](std::vector<Cell>& cells) {
            stored = cells[nameColumn].text;
            cells[nameColumn].text = name;
        });
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
