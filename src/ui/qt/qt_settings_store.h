#pragma once

#include <QSettings>

#include "ui/model/settings_store.h"

namespace tolvane {

// The settings in the user's configuration folder, under the organisation and program name
// (a file of the same key path, value names and types as the registry key of old).
class QtSettingsStore : public SettingsStore {
public:
    QtSettingsStore();
    explicit QtSettingsStore(const QString& fileName);

    bool open(bool forWriting) override;
    bool exists(const std::string& name) override;
    std::optional<int32_t> readInt(const std::string& name) override;
    std::optional<std::string> readString(const std::string& name) override;
    void writeInt(const std::string& name, int32_t value) override;
    void writeString(const std::string& name, const std::string& value) override;
    void writeDouble(const std::string& name, double value) override;

private:
    QSettings settings_;
};

}  // namespace tolvane
