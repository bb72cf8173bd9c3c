#include "app/services.h"

#include "app/files.h"

#if __has_include("db/postgresql.h")
#include "db/postgresql.h"
#define QUILLMERE_HAVE_POSTGRESQL 1
#endif
#if __has_include("db/access.h")
#include "db/access.h"
#define QUILLMERE_HAVE_ACCESS 1
#endif

namespace app {

#ifdef QUILLMERE_HAVE_ACCESS
using db::FillAccessTableList;
#else
// Until the Access engine lists catalogues, "Next >" leaves the Access list
// empty and says nothing.
void FillAccessTableList(ui::ListBox& list, const std::string&, const db::ParameterSource&, ui::Dialogs&) {
    list.clear();
}
#endif

Services defaultServices() {
    Services s;
    s.fileExists = [](const std::string& path) { return app::fileExists(path); };
#ifdef QUILLMERE_HAVE_POSTGRESQL
    s.postgreSQLConnectionString = [](const db::ConnectionParameters& p) { return PostgreSQLConnectionString(p); };
    s.testPostgreSQLConnection = [](const db::ParameterSource& p) { return TestPostgreSQLConnection(p); };
    s.fillPostgreSQLTableList = [](ui::ListBox& list, const db::ParameterSource& p, ui::Dialogs& d) {
        FillPostgreSQLTableList(list, p, d);
    };
#else
    s.postgreSQLConnectionString = [](const db::ConnectionParameters& p) {
        return "Driver={PostgreSQL Unicode};Server=" + p.server + ";Port=" + p.port + ";Uid=" + p.user +
               ";Pwd=" + p.password + ";Database=" + p.database + ";";
    };
    s.testPostgreSQLConnection = [](const db::ParameterSource&) { return false; };
    s.fillPostgreSQLTableList = [](ui::ListBox& list, const db::ParameterSource&, ui::Dialogs&) { list.clear(); };
#endif
    s.fillAccessTableList = [](ui::ListBox& list, const std::string& path, const db::ParameterSource& p,
                               ui::Dialogs& d) { FillAccessTableList(list, path, p, d); };
    s.openWebPage = [](const std::string&) {};
    return s;
}

} // namespace app
