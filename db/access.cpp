#include "db/access.h"

#include <algorithm>
#include <cctype>

#include "app/app_title.h"
#include "app/files.h"
#include "db/access_session.h"
#include "db/session.h"

namespace db {

namespace {

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return s;
}

} // namespace

std::string AccessConnectionString(const std::string& path, const std::string& password,
                                   const ParameterSource& fields) {
    std::string file = path, pass = password;
    if (path.empty()) {
        const ConnectionParameters current = fields ? fields() : ConnectionParameters{};
        file = current.accessFile;
        pass = current.accessPassword;
    }
    const std::string tail = lower(file.size() > 5 ? file.substr(file.size() - 5) : file);
    if (tail == "accdb")
        return "Provider=Microsoft.ACE.OLEDB.12.0;Data Source=" + file + ";JET OLEDB:Database Password=" + pass;
    return "PROVIDER=Microsoft.Jet.OLEDB.4.0;Data Source=" + file + ";JET OLEDB:Database Password=" + pass;
}

std::optional<std::vector<std::string>> ListAccessTables(const std::string& path, const ParameterSource& fields) {
    auto connection = createConnection();
    if (!app::fileExists(path)) return std::nullopt;
    connection->open(AccessConnectionString("", "", fields));
    auto rs = connection->openSchema(adSchemaTables);
    std::vector<std::string> names;
    while (!rs->eof()) {
        if (rs->value("TABLE_TYPE").toText() == "TABLE") names.push_back(rs->value("TABLE_NAME").toText());
        rs->moveNext();
    }
    rs->close();
    connection->close();
    return names;
}

void FillAccessTableList(ui::ListBox& list, const std::string& path, const ParameterSource& fields,
                         ui::Dialogs& dialogs) {
    list.clear();
    const auto names = ListAccessTables(path, fields);
    if (!names) {
        dialogs.message("Unable to access the database", app::applicationTitle());
        return;
    }
    for (const auto& name : *names) list.addItem(name);
    if (list.count() > 0) list.setCurrentIndex(0);
}

bool AccessTableExists(const std::string& path, const std::string& password, const std::string& name) {
    bool found = false;
    auto connection = createConnection();
    if (!app::fileExists(path)) return false;
    connection->open(AccessConnectionString(path, password, {}));
    auto rs = connection->openSchema(adSchemaTables);
    // Names compare as the file's catalogue compares them (case ignored in every script).
    const std::string wanted = accessNameIdentity(*connection, name);
    while (!rs->eof()) {
        if (rs->value("TABLE_TYPE").toText() == "TABLE" &&
            accessNameIdentity(*connection, rs->value("TABLE_NAME").toText()) == wanted)
            found = true;
        rs->moveNext();
    }
    rs->close();
    connection->close();
    return found;
}

bool RenameAccessTable(const std::string& oldName, const std::string& newName, const std::string& path,
                       const std::string& password, ui::Dialogs& dialogs) {
    // Renaming a table to its own name (as the file compares names) has nothing
    // to do; the overwrite question would otherwise offer to drop the table
    // before its copy exists.
    auto connection = createConnection();
    connection->open(AccessConnectionString(path, password, {}));
    if (accessNameIdentity(*connection, oldName) == accessNameIdentity(*connection, newName)) {
        connection->close();
        return false;
    }
    bool proceed = true;
    if (AccessTableExists(path, password, newName)) {
        if (dialogs.question("Would you like to overwrite " + newName + "?", "Overwrite?") == ui::AnswerYes)
            connection->execute("DROP TABLE `" + newName + "`");
        else
            proceed = false;
    }
    if (proceed) {
        // In place: the table keeps its keys, indexes, AutoNumber, properties and relationships.
        auto* access = dynamic_cast<AccessBackend*>(&connection->backend());
        if (!access) throw Error(3251, "Renaming a table needs an Access file.");
        access->renameTable(oldName, newName);
    }
    connection->close();
    return proceed;
}

} // namespace db
