#pragma once
#include <memory>
#include <string>

class QSettings;

namespace app {

// The per-user store of the connection fields: application "Velmora",
// section "Quillmere". On Windows it is the registry key the earlier Windows
// program used; elsewhere the INI file Velmora.conf in the user's
// configuration folder, readable by the user alone.
class SettingsStore {
public:
    SettingsStore();                                  // the user's store
    explicit SettingsStore(const std::string& iniFile); // a given INI file (tests)
    ~SettingsStore();

    // The stored value, or `fallback` when the key is absent. A stored empty
    // value stays empty.
    std::string read(const std::string& key, const std::string& fallback = {}) const;
    void write(const std::string& key, const std::string& value);
    std::string fileName() const;

    static std::string defaultIniPath();

private:
    void restrictPermissions();
    std::unique_ptr<QSettings> settings_;
};

} // namespace app
