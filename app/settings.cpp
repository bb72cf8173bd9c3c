#include "app/settings.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QStandardPaths>
#include <cstdlib>

namespace app {

namespace {
const QString kSection = QStringLiteral("Quillmere");
}

std::string SettingsStore::defaultIniPath() {
    QString base;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg)
        base = QString::fromLocal8Bit(xdg);
    else
        base = QDir::homePath() + QStringLiteral("/.config");
    return (base + QStringLiteral("/Velmora.conf")).toStdString();
}

SettingsStore::SettingsStore() {
#ifdef Q_OS_WIN
    settings_ = std::make_unique<QSettings>(
        QStringLiteral("HKEY_CURRENT_USER\\Software\\VB and VBA Program Settings\\Velmora"), QSettings::NativeFormat);
#else
    settings_ = std::make_unique<QSettings>(QString::fromStdString(defaultIniPath()), QSettings::IniFormat);
#endif
}

SettingsStore::SettingsStore(const std::string& iniFile)
    : settings_(std::make_unique<QSettings>(QString::fromStdString(iniFile), QSettings::IniFormat)) {}

SettingsStore::~SettingsStore() = default;

std::string SettingsStore::read(const std::string& key, const std::string& fallback) const {
    const QString k = kSection + QLatin1Char('/') + QString::fromStdString(key);
    if (!settings_->contains(k)) return fallback;
    return settings_->value(k).toString().toStdString();
}

void SettingsStore::write(const std::string& key, const std::string& value) {
    settings_->setValue(kSection + QLatin1Char('/') + QString::fromStdString(key), QString::fromStdString(value));
    settings_->sync();
    restrictPermissions();
}

std::string SettingsStore::fileName() const { return settings_->fileName().toStdString(); }

void SettingsStore::restrictPermissions() {
    if (settings_->format() != QSettings::IniFormat) return;
    QFile file(settings_->fileName());
    if (file.exists()) file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

} // namespace app
