#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "core/scan_state.h"

namespace tolvane {

// The codes 00 00 01 `codeByte` that lie wholly inside `chunk`, found with the widest vectors
// the processor has; `portable` asks for the search every processor runs.
int64_t frameCodesWithin(const uint8_t* chunk, size_t length, uint8_t codeByte,
                         bool portable = false);

// Counts the frame start codes of video streams 0 and 1 over the payload chunks of one pass.
// Each stream keeps its own window of the last four bytes from chunk to chunk, so a code split
// between two packets is counted once and a chunk that merely begins with its last bytes is not.
class FrameCounter {
public:
    // Adds the codes of `videoType` that complete inside the chunk to `count`.
    void count(const uint8_t* chunk, size_t length, VideoType videoType, int32_t videoNo,
               int64_t& count);

private:
    // No bytes seen yet: nothing may pass for the zeros in front of a code.
    std::array<uint32_t, 2> windows_{0xFFFFFFFFu, 0xFFFFFFFFu};
};

}  // namespace tolvane
