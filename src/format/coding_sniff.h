#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "format/stream_ids.h"

namespace tolvane {

// What a video stream under a 00 00 01 Ex id holds, from the start codes of its first payload:
// MPEG-2 when the first sequence or picture header is followed by an extension, MPEG-1 when it
// is not, H.264 when an access-unit delimiter or a sequence parameter set comes first. None
// when the bytes settle nothing (a payload that starts inside a picture).
std::optional<StreamCoding> sniffVideoCoding(const uint8_t* data, size_t length);

// Where the first valid MPEG audio frame header (all four bytes of it) lies in `data`: sync,
// no reserved version, layer, bit rate or sampling frequency.
std::optional<size_t> mpegAudioHeaderAt(const uint8_t* data, size_t length);

// The layer of the first MPEG audio frame header in `data`: Mp1, Mp2 or Mp3; none when no
// valid header is there.
std::optional<StreamCoding> sniffMpegAudioLayer(const uint8_t* data, size_t length);

}  // namespace tolvane
