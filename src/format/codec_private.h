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

}  // namespace tolvane
