#pragma once

#include <cstddef>
#include <cstdint>

#include "format/stream_coding.h"

namespace tolvane {

// The first payload chunk of a stream, where its header is looked for.
struct HeaderPayload {
    size_t offset = 0;  // in the read block
    size_t length = 0;
    int32_t streamNumber = 0;
    uint64_t pts = 0;  // of the packet, 33 bits; 0 when it carries none
    uint64_t dts = 0;
    // LPCM: the packet header's bytes before the payload that hold the format (3, or a
    // DVD-Audio header of 11 or more).
    uint16_t lpcmHeaderBytes = 3;
};

// The header analysers that the detection pass calls on the first payload chunk of a stream.
// Each decodes the header from the read block into values, adds its log lines from them,
// records them for the stream and, for video, sets the stream's frame rate.
class HeaderAnalysers {
public:
    virtual ~HeaderAnalysers() = default;
    virtual void analyse(StreamCoding /*coding*/, const HeaderPayload& /*payload*/) {}
};

}  // namespace tolvane
