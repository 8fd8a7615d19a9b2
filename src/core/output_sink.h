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
};

}  // namespace tolvane
