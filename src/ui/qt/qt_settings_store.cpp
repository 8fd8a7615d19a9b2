#include "ui/qt/qt_settings_store.h"

#include "core/platform_error.h"

namespace tolvane {

namespace {

const QString kGroup = QStringLiteral("Software/Quendle Software/Tolvane");

QString key(const std::string& name) {
    return kGroup + "/" + QString::fromStdString(name);
}

}  // namespace

QtSettingsStore::QtSettingsStore()
    : settings_(QSettings::IniFormat, QSettings::UserScope, "Quendle Software", "Tolvane") {}

QtSettingsStore::QtSettingsStore(const QString& fileName)
    : settings_(fileName, QSettings::IniFormat) {}

bool QtSettingsStore::open(bool forWriting) {
    if (forWriting) {
        return settings_.isWritable();
    }
    settings_.sync();
    return settings_.childGroups().contains("Software");
}

bool QtSettingsStore::exists(const std::string& name) {
    return settings_.contains(key(name));
}

std::optional<int32_t> QtSettingsStore::readInt(const std::string& name) {
    if (!settings_.contains(key(name))) {
        return std::nullopt;
    }
    bool ok = false;
    const int value = settings_.value(key(name)).toString().toInt(&ok);
    if (!ok) {
        throw PlatformError("Invalid data type for '" + name + "'");
    }
    return value;
}

std::optional<std::string> QtSettingsStore::readString(const std::string& name) {
    if (!settings_.contains(key(name))) {
        return std::nullopt;
    }
    return settings_.value(key(name)).toString().toStdString();
}

void QtSettingsStore::writeInt(const std::string& name, int32_t value) {
    settings_.setValue(key(name), value);
}

void QtSettingsStore::writeString(const std::string& name, const std::string& value) {
    settings_.setValue(key(name), QString::fromStdString(value));
}

void QtSettingsStore::writeDouble(const std::string& name, double value) {
    settings_.setValue(key(name), value);
    settings_.sync();
}

}  // namespace tolvane
