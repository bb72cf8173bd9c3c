#include "writer_props.h"

#include "catalog_row.h"
#include "convert.h"
#include "error.h"
#include "format.h"
#include "index_key.h"
#include "text.h"
#include "writer.h"
#include "writer_error.h"

#include <cstring>

namespace jet {

namespace {

constexpr std::uint8_t kBooleanType = 0x01, kMemoType = 0x0C;

void put16(std::vector<std::uint8_t>& out, std::size_t v)
{
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void put32(std::vector<std::uint8_t>& out, std::size_t v)
{
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

void set32(std::vector<std::uint8_t>& out, std::size_t at, std::size_t v)
{
    for (int i = 0; i < 4; ++i)
        out[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

// A name or text as the blob stores it: UTF-16LE, or the Access 97 file's code page.
std::vector<std::uint8_t> textBytes(const std::string& text, std::uint16_t codePage)
{
    std::vector<std::uint8_t> out;
    const std::u16string units = utf8ToUtf16(text);
    if (codePage == 0) {
        for (char16_t c : units)
            put16(out, c);
        return out;
    }
    char16_t bad = 0;
    if (!codePageBytes(codePage, units, out, bad))
        throwError(err::TypeMismatch, "The property text '" + text + "' has a character that code page " +
                                          std::to_string(codePage) + " cannot hold.");
    return out;
}

void setProperty(PropertyMap& map, const std::string& name, std::uint8_t type, std::vector<std::uint8_t> data)
{
    for (Property& p : map.properties)
        if (p.name == name) {
            p.dataType = type;
            p.data = std::move(data);
            return;
        }
    map.properties.push_back(Property{name, type, true, std::move(data)});
}

PropertyMap& mapFor(std::vector<PropertyMap>& maps, const std::string& column)
{
    for (PropertyMap& m : maps)
        if (m.name == column && m.blockType == (column.empty() ? 0 : 1))
            return m;
    PropertyMap m;
    m.name = column;
    m.blockType = column.empty() ? 0 : 1;
    // The table's own map comes first, as Access writes it.
    if (column.empty())
        return *maps.insert(maps.begin(), std::move(m));
    maps.push_back(std::move(m));
    return maps.back();
}

}  // namespace

std::vector<std::uint8_t> buildPropertyBlob(const std::vector<PropertyMap>& maps, std::uint16_t codePage)
{
    std::vector<std::string> names;
    auto nameIndex = [&](const std::string& name) {
        for (std::size_t i = 0; i < names.size(); ++i)
            if (names[i] == name)
                return i;
        names.push_back(name);
        return names.size() - 1;
    };
    std::vector<std::uint8_t> body;
    for (const PropertyMap& m : maps) {
        const std::size_t start = body.size();
        put32(body, 0);  // the chunk's length, set below
        put16(body, m.blockType);
        const std::vector<std::uint8_t> name = textBytes(m.name, codePage);
        put32(body, 4 + 2 + name.size());
        put16(body, name.size());
        body.insert(body.end(), name.begin(), name.end());
        for (const Property& p : m.properties) {
            put16(body, 8 + p.data.size());
            body.push_back(p.ddl ? 1 : 0);
            body.push_back(p.dataType);
            put16(body, nameIndex(p.name));
            put16(body, p.data.size());
            body.insert(body.end(), p.data.begin(), p.data.end());
        }
        set32(body, start, body.size() - start);
    }
    std::vector<std::uint8_t> out{'M', 'R', '2', 0};
    if (codePage != 0)
        out = {'K', 'K', 'D', 0};
    std::vector<std::uint8_t> pool;
    for (const std::string& n : names) {
        const std::vector<std::uint8_t> b = textBytes(n, codePage);
        put16(pool, b.size());
        pool.insert(pool.end(), b.begin(), b.end());
    }
    put32(out, 6 + pool.size());
    put16(out, 0x80);
    out.insert(out.end(), pool.begin(), pool.end());
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

void applyPropertyChanges(std::vector<PropertyMap>& maps, const std::vector<PropertyChange>& changes,
                          std::uint16_t codePage)
{
    for (const PropertyChange& c : changes) {
        PropertyMap& m = mapFor(maps, c.column);
        if (c.required)
            setProperty(m, "Required", kBooleanType, {static_cast<std::uint8_t>(*c.required ? 1 : 0)});
        if (c.defaultValue)
            setProperty(m, "DefaultValue", kMemoType, textBytes(*c.defaultValue, codePage));
        if (c.description)
            setProperty(m, "Description", kMemoType, textBytes(*c.description, codePage));
    }
}

void setProperties(Writer& writer, const std::string& table, const std::vector<PropertyChange>& changes)
{
    writer.change([&](RowEditor& rows) {
        const std::uint32_t page = rows.tablePage(table);
        if (page == 0)
            throwError(err::NoSuchTable, "Table '" + table + "' does not exist.");
        const int props = catalogColumn(rows, u"LvProp");
        const std::uint16_t codePage = rows.textCodePage();
        editCatalogRow(rows, page, [&](std::vector<Cell>& cells) {
            std::vector<PropertyMap> maps;
            if (!cells[props].null)
                maps = parsePropertyMaps(cells[props].bytes, TextDecoder{codePage == 0, codePage ? codePage
                                                                                             : std::uint16_t(1252)});
            applyPropertyChanges(maps, changes, codePage);
            cells[props].null = false;
            cells[props].bytes = buildPropertyBlob(maps, codePage);
        });
    });
}

}  // namespace jet
