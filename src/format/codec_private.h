#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "format/stream_coding.h"

namespace tolvane {

// The headers a decoder must have before a video stream's first picture, as the stream
// carries them (start codes kept): MPEG-1 and MPEG-2's sequence header and its extensions,
// H.264's sequence and picture parameter sets, VC-1's sequence header and entry point. What a
// container keeps as the track's codec private data. Empty when `data` holds no whole set.
std::vector<uint8_t> videoCodecPrivate(StreamCoding coding, const uint8_t* data, size_t length);

// An audio stream's first frame header, as the stream carries it: AC-3 and E-AC-3's sync
// information and the start of the bit stream information (8 bytes from the sync word), DTS's
// core frame header (15 bytes), MPEG audio's frame header (4 bytes); for LPCM, which has no
// frame header, the last `lpcmHeaderBytes` of its packet header: on DVD-Video and HD DVD the
// three format bytes (flags, sample format, dynamic range), on DVD-Audio the whole header after
// the sub-stream id. `unitAt` is where the first frame begins in `data`; `before` holds the
// bytes before `data` in its packet. Empty when the bytes do not hold it.
std::vector<uint8_t> audioHeaderBytes(StreamCoding coding, const uint8_t* data, size_t length,
                                      size_t unitAt, const uint8_t* before, size_t beforeLength,
                                      size_t lpcmHeaderBytes = 3);

}  // namespace tolvane
