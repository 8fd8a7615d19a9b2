#pragma once

#include <cstdint>

namespace tolvane {

// The options a pass asks for each time it needs them.
class PassOptions {
public:
    virtual ~PassOptions() = default;
    virtual bool fastCheck() const = 0;
    virtual int64_t fastSizeMb() const = 0;
    virtual bool countFrames() const = 0;
    virtual bool details() const = 0;
};

}  // namespace tolvane
