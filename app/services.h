#pragma once
#include <functional>
#include <string>

#include "app/ui.h"
#include "db/parameters.h"

namespace app {

// The operations of other subsystems that the page handlers call. The program
// uses defaultServices(); tests replace single entries to make a step fail.
struct Services {
    std::function<bool(const std::string& path)> fileExists;
    std::function<std::string(const db::ConnectionParameters&)> postgreSQLConnectionString;
    // TestPostgreSQLConnection saying why: empty when the connection opens,
    // otherwise the reason in plain words.
    std::function<std::string(const db::ParameterSource&)> postgreSQLConnectionProblem;
    std::function<void(ui::ListBox&, const db::ParameterSource&, ui::Dialogs&)> fillPostgreSQLTableList;
    std::function<void(ui::ListBox&, const std::string& path, const db::ParameterSource&, ui::Dialogs&)>
        fillAccessTableList;
    // Opens a web address with the desktop's default browser; the pages put
    // theirs in, the default does nothing.
    std::function<void(const std::string& url)> openWebPage;
};

Services defaultServices();

} // namespace app
