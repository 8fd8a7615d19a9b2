#pragma once

#include <cstdint>
#include <optional>

#include "analysers/analyser_context.h"

namespace tolvane {

// The header of an MPEG audio frame (ISO/IEC 11172-3 2.4.2.3, 13818-3 for the half rates).
struct MpegAudioHeader {
    int version = 1;          // 1, 2, or 25 for MPEG-2.5
    int layer = 2;            // 1 to 3
    uint32_t bitRate = 0;     // bit/s; 0 for a free format
    uint32_t sampleRate = 0;  // Hz
    uint8_t channelMode = 0;  // 0 stereo, 1 joint stereo, 2 dual channel, 3 single channel
};

// The first valid frame header in the payload; none when it holds none.
std::optional<MpegAudioHeader> decodeMpegAudio(const uint8_t* data, size_t length);
void printMpegAudio(const MpegAudioHeader& header, Reporter& log);
StreamHeader mpegAudioValues(const MpegAudioHeader& header);

// Decodes, reports and records the first frame header of an MPEG audio payload.
void analyseMpegAudio(const AnalyserContext& context, const HeaderPayload& payload);

}  // namespace tolvane
