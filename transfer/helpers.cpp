#include "transfer/helpers.h"

#include "db/access_session.h"

#include <QString>

#include <array>
#include <utility>

namespace transfer {

namespace {

struct TypeNameRow {
    std::int16_t number;
    const char* name;
};

// ADO's data-type enumeration, without 137 and 8192.
constexpr std::array<TypeNameRow, 39> kTypeNames{{
    {0, "adEmpty"},         {2, "adSmallInt"},        {3, "adInteger"},          {4, "adSingle"},
    {5, "adDouble"},        {6, "adCurrency"},        {7, "adDate"},             {8, "adBSTR"},
    {9, "adIDispatch"},     {10, "adError"},          {11, "adBoolean"},         {12, "adVariant"},
    {13, "adIUnknown"},     {14, "adDecimal"},        {16, "adTinyInt"},         {17, "adUnsignedTinyInt"},
    {18, "adUnsignedSmallInt"}, {19, "adUnsignedInt"}, {20, "adBigInt"},         {21, "adUnsignedBigInt"},
    {64, "adFileTime"},     {72, "adGUID"},           {128, "adBinary"},         {129, "adChar"},
    {130, "adWChar"},       {131, "adNumeric"},       {132, "adUserDefined"},    {133, "adDBDate"},
    {134, "adDBTime"},      {135, "adDBTimeStamp"},   {136, "adChapter"},        {138, "adPropVariant"},
    {139, "adVarNumeric"},  {200, "adVarChar"},       {201, "adLongVarChar"},    {202, "adVarWChar"},
    {203, "adLongVarWChar"}, {204, "adVarBinary"},    {205, "adLongVarBinary"},
}};

} // namespace

std::string AdoTypeName(std::int16_t type) {
    std::string name;
    for (const auto& row : kTypeNames)
        if (row.number == type) name = row.name;
    return name;
}

std::string lowerCase(std::string text) {
    bool ascii = true;
    for (auto& c : text) {
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
        if (static_cast<unsigned char>(c) >= 0x80) ascii = false;
    }
    if (ascii) return text;
    return QString::fromStdString(text).toCaseFolded().toStdString();
}

bool ListContainsName(const ui::ListBox& list, const std::string& name) {
    const std::string wanted = lowerCase(name);
    bool found = false;
    for (int i = 0; i < list.count(); ++i)
        if (lowerCase(list.item(i)) == wanted) found = true;
    return found;
}

void RemoveListEntries(ui::ListBox& list, const std::string& name) {
    for (int i = 0; i < list.count();) {
        if (list.item(i) == name)
            list.removeItem(i); // the next entry moves into this place and is compared next
        else
            ++i;
    }
}

void RemoveListEntriesIgnoringCase(ui::ListBox& list, const std::string& name) {
    const std::string wanted = lowerCase(name);
    for (int i = 0; i < list.count();) {
        if (lowerCase(list.item(i)) == wanted)
            list.removeItem(i);
        else
            ++i;
    }
}

bool ListContainsAccessName(const ui::ListBox& list, const std::string& name, db::Connection& access) {
    const std::string wanted = db::accessNameIdentity(access, name);
    for (int i = 0; i < list.count(); ++i)
        if (db::accessNameIdentity(access, list.item(i)) == wanted) return true;
    return false;
}

void RemoveAccessListEntries(ui::ListBox& list, const std::string& name, db::Connection& access) {
    const std::string wanted = db::accessNameIdentity(access, name);
    for (int i = 0; i < list.count();) {
        if (db::accessNameIdentity(access, list.item(i)) == wanted)
            list.removeItem(i);
        else
            ++i;
    }
}

db::Variant NullToDefault(db::Variant value, db::Variant replacement) {
    return value.isNull() ? std::move(replacement) : std::move(value);
}

void ExecuteSql(db::Connection& connection, const std::string& sql) { connection.execute(sql); }

} // namespace transfer
