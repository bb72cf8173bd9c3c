#include "jet/properties.h"

#include <cstring>

#include "jet/error.h"
#include "jet/format.h"
#include "jet/text.h"

namespace jet {

namespace {
bool asciiIEquals(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x + 32);
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y + 32);
        if (x != y) return false;
    }
    return true;
}

[[noreturn]] void bad(const std::string& why) {
    throw Error(errc::CorruptDatabase, "malformed property blob: " + why);
}

std::string readName(std::span<const std::uint8_t> b, std::size_t& pos, std::size_t end, const TextDecoder& td) {
    if (pos + 2 > end) bad("name length cut off");
    std::size_t len = readU16(b.data() + pos);
    pos += 2;
    if (pos + len > end) bad("name cut off");
    std::string s;
    if (td.unicode) utf16leToUtf8(b.data() + pos, len, s);
    else td.decode(b.data() + pos, len, s);
    pos += len;
    return s;
}
} // namespace

const Property* PropertyMap::find(std::string_view n) const {
    for (const auto& p : properties)
        if (asciiIEquals(p.name, n)) return &p;
    return nullptr;
}

std::vector<PropertyMap> parsePropertyMaps(std::span<const std::uint8_t> b, const TextDecoder& td) {
    std::vector<PropertyMap> maps;
    if (b.empty()) return maps;
    if (b.size() < 4 || (std::memcmp(b.data(), "MR2\0", 4) != 0 && std::memcmp(b.data(), "KKD\0", 4) != 0))
        bad("unknown signature");
    std::vector<std::string> names;
    std::size_t pos = 4;
    while (pos + 6 <= b.size()) {
        std::uint32_t len = readU32(b.data() + pos);
        std::uint16_t type = readU16(b.data() + pos + 4);
        if (len < 6 || len > b.size() - pos) bad("chunk length out of range");
        std::size_t end = pos + len;
        std::size_t p = pos + 6;
        if (type == 0x80) {
            names.clear();
            while (p < end) names.push_back(readName(b, p, end, td));
        } else {
            PropertyMap m;
            m.blockType = type;
            if (p + 4 <= end) {
                std::uint32_t nameBlock = readU32(b.data() + p);
                if (nameBlock < 4 || nameBlock > end - p) bad("map name block out of range");
                std::size_t q = p + 4;
                if (nameBlock > 6) m.name = readName(b, q, p + nameBlock, td);
                p += nameBlock;
            }
            while (p + 8 <= end) {
                std::uint16_t valLen = readU16(b.data() + p);
                if (valLen < 8 || valLen > end - p) bad("property length out of range");
                Property pr;
                pr.ddl = b[p + 2] != 0;
                pr.dataType = b[p + 3];
                std::uint16_t nameIdx = readU16(b.data() + p + 4);
                std::uint16_t dataSize = readU16(b.data() + p + 6);
                if (nameIdx >= names.size()) bad("property name index out of range");
                if (static_cast<std::size_t>(dataSize) + 8 > valLen) bad("property value cut off");
                pr.name = names[nameIdx];
                pr.data.assign(b.begin() + static_cast<std::ptrdiff_t>(p + 8),
                               b.begin() + static_cast<std::ptrdiff_t>(p + 8 + dataSize));
                m.properties.push_back(std::move(pr));
                p += valLen;
            }
            maps.push_back(std::move(m));
        }
        pos = end;
    }
    return maps;
}

} // namespace jet
