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
    // The extension of the source named in the window, compared in upper case.
    virtual bool sourceIsAob() const = 0;
    virtual bool sourceIsVob() const = 0;
};

}  // namespace tolvane
