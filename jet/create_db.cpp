#include "create_db.h"

#include "codec.h"
#include "error.h"
#include "writer_error.h"
#include "writer_internal.h"

#include <openssl/crypto.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

namespace jet {

using namespace w;

namespace {

// Types and the column flags the engine gives the columns of its own tables.
constexpr std::uint8_t kLong = 0x04, kInt = 0x03, kByte = 0x02, kDate = 0x08, kText = 0x0A, kBin = 0x09,
                       kMemo = 0x0C, kOle = 0x0B, kBool = 0x01;
constexpr std::uint8_t kFixed = 0x13, kVar = 0x12, kOwnerVar = 0x32;

SystemColumn fixedCol(const char16_t* n, std::uint8_t type, std::uint16_t len)
{
    return {n, type, len, kFixed};
}
SystemColumn varCol(const char16_t* n, std::uint8_t type, std::uint16_t len = 510, std::uint8_t flags = kVar)
{
    return {n, type, len, flags};
}

std::vector<SystemTable> engineTables(bool jet3)
{
    std::vector<SystemTable> t(4);
    t[0].name = u"MSysObjects";
    t[0].columns = {fixedCol(u"Id", kLong, 4),        fixedCol(u"ParentId", kLong, 4),
                    varCol(u"Name", kText),           fixedCol(u"Type", kInt, 2),
                    fixedCol(u"DateCreate", kDate, 8), fixedCol(u"DateUpdate", kDate, 8),
                    varCol(u"Owner", kBin, 510, kOwnerVar), fixedCol(u"Flags", kLong, 4),
                    varCol(u"Database", kMemo, 0),    varCol(u"Connect", kMemo, 0),
                    varCol(u"ForeignName", kText),    varCol(u"RmtInfoShort", kBin),
                    varCol(u"RmtInfoLong", kOle, 0),  varCol(u"Lv", kOle, 0),
                    varCol(u"LvProp", kOle, 0),       varCol(u"LvModule", kOle, 0),
                    varCol(u"LvExtra", kOle, 0)};
    t[0].indexes = {{{{1, true}, {2, true}}, 0x81}, {{{0, true}}, 0x81}};
    t[0].logical = {{u"Id", 1, 1, 1}, {u"ParentIdName", 0, 0, 0}};

    t[1].name = u"MSysACEs";
    t[1].columns = {fixedCol(u"ObjectId", kLong, 4), varCol(u"SID", kBin, 510, kOwnerVar), fixedCol(u"ACM", kLong, 4),
                    fixedCol(u"FInheritable", kBool, 1)};
    t[1].indexes = {{{{0, true}}, 0x88}};
    t[1].logical = {{u"ObjectId", 0, 0, 0}};

    t[2].name = u"MSysQueries";
    t[2].columns = {fixedCol(u"ObjectId", kLong, 4), fixedCol(u"Attribute", kByte, 1), varCol(u"Order", kBin),
                    varCol(u"Name1", kText),          varCol(u"Name2", kText),           varCol(u"Expression", kMemo, 0),
                    fixedCol(u"Flag", kInt, 2),       fixedCol(u"LvExtra", kLong, 4)};
    t[2].indexes = {{{{0, true}, {1, true}, {2, true}}, 0x81}};
    t[2].logical = {{u"ObjectIdAttribute", 0, 0, 1}};

    t[3].name = u"MSysRelationships";
    t[3].columns = {varCol(u"szRelationship", kText), fixedCol(u"grbit", kLong, 4), fixedCol(u"ccolumn", kLong, 4),
                    fixedCol(u"icolumn", kLong, 4),   varCol(u"szObject", kText),   varCol(u"szColumn", kText),
                    varCol(u"szReferencedObject", kText), varCol(u"szReferencedColumn", kText)};
    t[3].indexes = {{{{0, true}}, 0x82}, {{{4, true}}, 0x82}, {{{6, true}}, 0x82}};
    t[3].logical = {{u"szObject", 1, 1, 0}, {u"szReferencedObject", 2, 2, 0}, {u"szRelationship", 0, 0, 0}};
    if (jet3) {
        // Access 97: text and binary columns are counted in bytes of the code page (255, not 510),
        // MSysQueries has no LvExtra yet, and the index flags lack the high bit Jet 4 sets.
        t[2].columns.pop_back();
        for (SystemTable& table : t) {
            for (SystemColumn& c : table.columns)
                if (c.length == 510)
                    c.length = 255;
            for (SystemIndex& ix : table.indexes)
                ix.flags &= 0x7F;
        }
    }
    return t;
}

// The password as UTF-16, checked against what the format can hold; wiped when it goes away. Messages never
// contain it.
class PasswordUnits {
public:
    PasswordUnits(const std::string& password, std::size_t maxUnits, const char* limit)
    {
        try {
            units_ = utf8ToUtf16(password);
        } catch (const Error&) {
            throwError(3031, "Not a valid password: it is not valid UTF-8 text.");
        }
        if (units_.find(u'\0') != std::u16string::npos)
            throwError(3031, "Not a valid password: it contains a NUL character.");
        if (units_.size() > maxUnits)
            throwError(3031, std::string("Not a valid password: ") + limit);
    }
    ~PasswordUnits() { OPENSSL_cleanse(units_.data(), units_.size() * sizeof(char16_t)); }
    PasswordUnits(const PasswordUnits&) = delete;
    PasswordUnits& operator=(const PasswordUnits&) = delete;
    const std::u16string& units() const { return units_; }

private:
    std::u16string units_;
};

double nowDays()
{
    const std::time_t t = std::time(nullptr);
    std::tm tm {};
    localtime_r(&t, &tm);
    const std::time_t local = timegm(&tm);
    return static_cast<double>(local) / 86400.0 + 25569.0;
}

}  // namespace

NewFormat parseNewFormat(std::string_view name)
{
    std::string n(name);
    for (char& c : n)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (n == "jet3")
        return NewFormat::Jet3;
    if (n == "jet4")
        return NewFormat::Jet4;
    if (n == "ace12")
        return NewFormat::Ace12;
    if (n == "ace14")
        return NewFormat::Ace14;
    if (n == "ace16")
        return NewFormat::Ace16;
    if (n == "ace17")
        return NewFormat::Ace17;
    throwError(err::Unsupported, "Unknown database format '" + std::string(name) +
                                     "'; use jet3, jet4, ace12, ace14, ace16 or ace17.");
}

void createDatabase(const std::string& path, Format format, const std::string& password)
{
    switch (format) {
    case Format::Jet3: return createDatabase(path, NewFormat::Jet3, password);
    case Format::Jet4: return createDatabase(path, NewFormat::Jet4, password);
    case Format::Ace12: return createDatabase(path, NewFormat::Ace12, password);
    case Format::Ace14:
    case Format::Ace15: return createDatabase(path, NewFormat::Ace14, password);
    case Format::Ace16: return createDatabase(path, NewFormat::Ace16, password);
    case Format::Ace17: return createDatabase(path, NewFormat::Ace17, password);
    }
    throwError(err::Unsupported, "Unknown database format.");
}

namespace {

// Pages 0 and 1 of a new Jet 4 / ACE file; `codec` is set when the file is encrypted.
std::vector<std::uint8_t> firstPages(std::uint8_t version, const std::string& password, double created,
                                     std::unique_ptr<PageCodec>& codec)
{
    const std::uint8_t sortVersion = version >= 3 ? 1 : 0;  // General from Access 2010 on
    // Page 0: the header. Fields in the masked region are written plain, then masked.
    std::vector<std::uint8_t> file(2 * kPage, 0);
    std::uint8_t* h = file.data();
    h[1] = 0x01;
    std::memcpy(h + 4, version == 1 ? "Standard Jet DB" : "Standard ACE DB", 15);
    h[0x14] = version;
    // A fixed prologue of the masked region: 00 01 00 00, 01 01 00 00, then the numbers 2 to 5.
    h[0x19] = 0x01;
    h[0x1C] = 0x01;
    h[0x1D] = 0x01;
    for (std::uint32_t k = 0; k < 4; ++k)
        wr32(h + 0x20 + 4 * k, 2 + k);
    wr16(h + 0x3C, 1252);  // code page
    // The 40 bytes at 0x42 are XOR-ed with the creation day's integer part, repeated. Under the mask a Jet 4
    // file keeps its database password there (UTF-16, zero-filled; no password is all zeros); an encrypted
    // .accdb fills them with the low byte of its encoding key.
    std::uint8_t pwField[40] = {};
    if (!password.empty() && version == 1) {
        const PasswordUnits pw(password, 20, "an Access 2000-2003 database password has at most 20 characters.");
        for (std::size_t k = 0; k < pw.units().size(); ++k)
            wr16(pwField + 2 * k, static_cast<std::uint16_t>(pw.units()[k]));
    } else if (!password.empty()) {
        const PasswordUnits pw(password, 255, "an .accdb password has at most 255 characters.");
        codec = protectNewDatabase(std::span<std::uint8_t>(h, kPage), password);
        std::memset(pwField, h[0x3E], sizeof pwField);
    }
    const std::uint32_t pat = static_cast<std::uint32_t>(static_cast<std::int32_t>(created));
    for (int k = 0; k < 40; ++k)
        h[0x42 + k] = static_cast<std::uint8_t>(pwField[k] ^ (pat >> (8 * (k % 4))));
    OPENSSL_cleanse(pwField, sizeof pwField);
    wr32(h + 0x6A, version == 1 ? 0x21AA : 0x11A6);
    wr16(h + 0x6E, 0x0409);
    h[0x71] = sortVersion;
    std::memcpy(h + 0x72, &created, 8);
    const std::uint8_t mask[4] = {0xC7, 0xDA, 0x39, 0x6B};
    rc4Apply(mask, 4, h + 0x18, 128);
    wr32(h + 0x98, 0x0654);
    std::memcpy(h + 0x9C, "4.0", 4);
    // A table of 256 16-bit counters at 0xE00, 0x0100 each; the first one counts 1 up for a new file.
    for (int k = 0; k < 256; ++k)
        wr16(h + 0xE00 + 2 * k, k == 0 ? 0x0101 : 0x0100);
    return file;
}

// Pages 0 and 1 of a new Access 97 file (2 KiB pages). The header has no creation date; the database
// password is plain windows-1252 text (at most 20 bytes) under the mask.
std::vector<std::uint8_t> firstPages97(const std::string& password)
{
    std::vector<std::uint8_t> file(2 * 2048, 0);
    std::uint8_t* h = file.data();
    h[1] = 0x01;
    std::memcpy(h + 4, "Standard Jet DB", 15);
    h[0x14] = 0;
    h[0x19] = 0x01;
    h[0x1C] = 0x01;
    h[0x1D] = 0x01;
    for (std::uint32_t k = 0; k < 4; ++k)
        wr32(h + 0x20 + 4 * k, 2 + k);
    h[0x38] = 0x01;
    wr16(h + 0x3A, 0x0409);  // General sort order
    wr16(h + 0x3C, 1252);    // code page
    if (!password.empty()) {
        const PasswordUnits pw(password, 20, "an Access 97 database password has at most 20 characters.");
        std::vector<std::uint8_t> bytes;
        char16_t bad = 0;
        const bool fits = codePageBytes(1252, pw.units(), bytes, bad);
        if (fits)
            std::memcpy(h + 0x42, bytes.data(), std::min<std::size_t>(bytes.size(), 20));
        OPENSSL_cleanse(bytes.data(), bytes.size());
        if (!fits)
            throwError(3031, "Not a valid password: an Access 97 password holds only windows-1252 characters.");
    }
    wr16(h + 0x56, 0x251E);
    const std::uint8_t mask[4] = {0xC7, 0xDA, 0x39, 0x6B};
    rc4Apply(mask, 4, h + 0x18, 126);
    for (int k = 0; k < 256; ++k)
        wr16(h + 0x600 + 2 * k, k == 0 ? 0x0101 : 0x0100);
    return file;
}

// Page 1 of a new file: the free-page map (row 0: pages 0 and 1 in use, everything after free) and an empty
// second map.
void freePageMap(std::uint8_t* p1, const Layout& l)
{
    p1[0] = 0x01;
    p1[1] = 0x01;
    wr32(p1 + 4, 1);
    const std::size_t rowLen = l.inlineMapRow;
    std::vector<std::uint8_t> row0(rowLen, 0xFF), row1(rowLen, 0);
    std::fill(row0.begin(), row0.begin() + 5, 0);
    row0[5] = 0xFC;
    const std::size_t start0 = l.page - rowLen, start1 = start0 - rowLen;
    std::memcpy(p1 + start0, row0.data(), rowLen);
    std::memcpy(p1 + start1, row1.data(), rowLen);
    wr16(p1 + l.rowCount, 2);
    wr16(p1 + l.rowTable, static_cast<std::uint32_t>(start0));
    wr16(p1 + l.rowTable + 2, static_cast<std::uint32_t>(start1));
    wr16(p1 + 2, static_cast<std::uint32_t>(l.page - l.rowTable - 4 - 2 * rowLen));
}

}  // namespace

void createDatabase(const std::string& path, NewFormat format, const std::string& password)
{
    const bool jet3 = format == NewFormat::Jet3;
    const std::uint8_t version = jet3                          ? 0
                                 : format == NewFormat::Jet4  ? 1
                                 : format == NewFormat::Ace12 ? 2
                                 : format == NewFormat::Ace14 ? 3
                                 : format == NewFormat::Ace16 ? 5
                                                              : 6;
    const std::uint8_t sortVersion = version >= 3 ? 1 : 0;
    const double created = nowDays();
    const Layout& l = layoutFor(jet3 ? 2048 : kPage);

    std::unique_ptr<PageCodec> codec;
    std::vector<std::uint8_t> file = jet3 ? firstPages97(password) : firstPages(version, password, created, codec);
    freePageMap(file.data() + l.page, l);
    if (codec)
        codec->encode(1, file.data() + l.page, l.page);

    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        if (errno == EEXIST)
            throwError(3204, "Database '" + path + "' already exists.");
        throwError(3051, "Cannot create '" + path + "': " + std::strerror(errno) + ".");
    }
    bool ok = false;
    try {
        const bool written = ::write(fd, file.data(), file.size()) == static_cast<ssize_t>(file.size());
        ::close(fd);
        if (!written)
            throwError(err::DiskIo, "Disk or network error while creating '" + path + "'.");
        PageCache cache(openPosixFile(path), l.page, path);
        if (codec)
            cache.setCodec(std::move(codec));
        cache.begin();
        const std::uint8_t sortBytes[4] = {0x09, 0x04, 0x00, sortVersion};
        // Security ids: the engine (owner of its own objects), the admins, the creator and the users group,
        // in the shorter form Access 97 gives them on the second line.
        const std::vector<std::uint8_t> engine = jet3 ? std::vector<std::uint8_t>{0x02, 0x03}
                                                      : std::vector<std::uint8_t>{0xA7, 0x31};
        const std::vector<std::uint8_t> admins = jet3 ? std::vector<std::uint8_t>{0x03, 0x01}
                                                      : std::vector<std::uint8_t>{0xA6, 0x33};
        const std::vector<std::uint8_t> creator = jet3 ? std::vector<std::uint8_t>{0x02, 0x04}
                                                       : std::vector<std::uint8_t>{0xA6, 0x3E};
        const std::vector<std::uint8_t> users = jet3 ? std::vector<std::uint8_t>{0x02, 0x01}
                                                     : std::vector<std::uint8_t>{0xA6, 0x3C};
        std::vector<NewCatalogEntry> catalog = {
            {0x0F000001, 0x0F000000, u"Tables", 3, 0x80000000u, engine},
            {0x0F000002, 0x0F000000, u"Databases", 3, 0x80000000u, engine},
            {0x0F000003, 0x0F000000, u"Relationships", 3, 0x80000000u, engine},
            {0x10000000, 0x0F000002, u"MSysDb", 2, 0x80000000u, admins},
            {0, 0x0F000001, u"MSysObjects", 1, 0x80000000u, engine},
            {0, 0x0F000001, u"MSysACEs", 1, 0x80000000u, engine},
            {0, 0x0F000001, u"MSysQueries", 1, 0x80000000u, engine},
            {0, 0x0F000001, u"MSysRelationships", 1, 0x80000000u, engine},
        };
        // Permissions as the engine grants them on a new file; the ids of the system tables are 2 to 5. Access 97
        // gives the admins full inheritable rights on the Tables container where Jet 4 gives them read rights.
        const NewAce tablesAdmins = jet3 ? NewAce{0x0F000001, admins, 0x000FFEFF, true}
                                         : NewAce{0x0F000001, admins, 0x00060001, false};
        std::vector<NewAce> aces = {
            {2, admins, 0x00060000, false},      {3, admins, 0x00060000, false},
            {4, admins, 0x00060000, false},      {5, admins, 0x000E0000, false},
            {0x0F000001, creator, 0x000F00FE, true}, tablesAdmins,
            {0x0F000003, creator, 0x000F00FE, true}, {0x0F000003, admins, 0x00060001, false},
            {0x0F000002, admins, 0x00060000, false}, {0x10000000, admins, 0x0006000E, false},
            {0x10000000, users, 0x0000000E, false},  {4, users, 0x00000014, false},
            {5, users, 0x00000014, false},           {2, users, 0x00000014, false},
            {0x0F000001, users, 0x000FFEFF, true},   {0x0F000003, users, 0x000FFFFF, true},
        };
        buildSystemTables(cache, engineTables(jet3), sortBytes, catalog, aces, created);
        cache.commit();
        cache.sync();
        ok = true;
    } catch (...) {
        if (!ok)
            ::unlink(path.c_str());
        throw;
    }
}

}  // namespace jet
