#include "app/services.h"

#include "app/files.h"
#include "db/access.h"
#include "db/postgresql.h"

namespace app {

Services defaultServices() {
    Services s;
    s.fileExists = [](const std::string& path) { return app::fileExists(path); };
    s.postgreSQLConnectionString = [](const db::ConnectionParameters& p) { return db::PostgreSQLConnectionString(p); };
    s.postgreSQLConnectionProblem = [](const db::ParameterSource& p) { return db::PostgreSQLConnectionProblem(p); };
    s.fillPostgreSQLTableList = [](ui::ListBox& list, const db::ParameterSource& p, ui::Dialogs& d) {
        db::FillPostgreSQLTableList(list, p, d);
    };
    s.fillAccessTableList = [](ui::ListBox& list, const std::string& path, const db::ParameterSource& p,
                               ui::Dialogs& d) { db::FillAccessTableList(list, path, p, d); };
    s.openWebPage = [](const std::string&) {};
    return s;
}

} // namespace app
