#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace tolvane {

// The per-user settings store under one key: typed values that may be absent. Reading a value
// stored with another type throws PlatformError naming the value.
class SettingsStore {
public:
    virtual ~SettingsStore() = default;
    // False when the key does not exist (reading) or cannot be made (writing).
    virtual bool open(bool forWriting) = 0;
    virtual bool exists(const std::string& name) = 0;
    virtual std::optional<int32_t> readInt(const std::string& name) = 0;
    virtual std::optional<std::string> readString(const std::string& name) = 0;
    virtual void writeInt(const std::string& name, int32_t value) = 0;
    virtual void writeString(const std::string& name, const std::string& value) = 0;
    virtual void writeDouble(const std::string& name, double value) = 0;
};

// What the settings keep of the window itself; the toolkit fills and applies it.
struct WindowGeometry {
    int32_t state = 0;  // 0 normal, 1 minimised, 2 maximised
    int32_t top = 0;
    int32_t left = 0;
    int32_t width = 0;  // 0: the window's first size
    int32_t height = 0;
    int32_t treeWidth = 0;  // 0: as wide as the playlist's entries need
};

}  // namespace tolvane
