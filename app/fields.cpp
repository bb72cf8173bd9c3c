#include "app/fields.h"

#include "app/settings.h"

namespace app {

const char* settingsKey(Field field) {
    switch (field) {
    case Field::Server: return "Server";
    case Field::Port: return "Port";
    case Field::User: return "User";
    case Field::Password: return "Password";
    case Field::Database: return "Database";
    case Field::AccessFile: return "AccessFile";
    case Field::AccessPassword: return "AccessPassword";
    }
    return "";
}

std::string settingsDefault(Field field) {
    switch (field) {
    case Field::Server: return "localhost";
    case Field::Port: return "5432";
    default: return {};
    }
}

const char* fieldControlName(Field field) {
    static constexpr const char* names[] = {"Text1", "Text2", "Text3", "Text4", "Text5", "Text6", "Text7"};
    return names[static_cast<int>(field)];
}

void onFieldChanged(SettingsStore& store, Field field, const std::string& text) { store.write(settingsKey(field), text); }

bool readFullSchema(const SettingsStore& store) { return store.read("FullSchema", "0") == "1"; }
void writeFullSchema(SettingsStore& store, bool on) { store.write("FullSchema", on ? "1" : "0"); }

db::ConnectionParameters currentParameters(const ConnectionPage& page) {
    return {page.text(Field::Server),   page.text(Field::Port),       page.text(Field::User),
            page.text(Field::Password), page.text(Field::Database),   page.text(Field::AccessFile),
            page.text(Field::AccessPassword)};
}

db::ParameterSource parameterSource(const ConnectionPage& page) {
    return [&page] { return currentParameters(page); };
}

} // namespace app
