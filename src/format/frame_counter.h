#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "format/scan_state.h"

namespace tolvane {

// The codes 00 00 01 `codeByte` that lie wholly inside `chunk`, found with the widest vectors
// the processor has; `portable` asks for the search every processor runs.
int64_t frameCodesWithin(const uint8_t* chunk, size_t length, uint8_t codeByte,
                         bool portable = false);

// Counts the frames of video streams 0 and 1 over the payload chunks of one pass: MPEG and VC-1
// picture start codes, H.264 access units (a delimiter, or else the first slice of a picture,
// as decoders count them). Each stream keeps its own state from chunk to chunk, so a code split
// between two packets is counted once and a chunk that merely begins with its last bytes is not.
class FrameCounter {
public:
    // Adds the frame codes of `coding` that complete inside the chunk to `count`.
    void count(const uint8_t* chunk, size_t length, StreamCoding coding, int32_t videoNo,
               int64_t& count);

private:
    // Where an H.264 stream's search stands between chunks.
    struct NalSearch {
        uint8_t zeros = 0;  // zero bytes just before the next byte, at most two
        enum : uint8_t { Scan, NalHeader, SliceStart } next = Scan;
        bool delimited = false;  // the current access unit began with a delimiter
    };
    static void countAccessUnits(const uint8_t* chunk, size_t length, NalSearch& search,
                                 int64_t& count);

    // No bytes seen yet: nothing may pass for the zeros in front of a code.
    std::array<uint32_t, 2> windows_{0xFFFFFFFFu, 0xFFFFFFFFu};
    std::array<NalSearch, 2> nalSearches_{};
};

}  // namespace tolvane
