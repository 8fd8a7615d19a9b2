#pragma once

#include <cstddef>
#include <cstdint>

namespace tolvane {

// Where the demux pass appends the payload of one stream. An append either takes every byte
// or throws PlatformError; it never reports a short write as success.
class OutputSink {
public:
    virtual ~OutputSink() = default;
    virtual void append(const uint8_t* data, size_t length) = 0;
    // Appends `length` bytes of the open file `descriptor` from `offset` without bringing them
    // through the program, as far as the system can; returns how many it appended. The caller
    // appends the rest itself.
    virtual size_t appendFromFile(int /*descriptor*/, int64_t /*offset*/, size_t /*length*/) {
        return 0;
    }
};

}  // namespace tolvane
