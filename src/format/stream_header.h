#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "format/stream_ids.h"

namespace tolvane {

// What a header analyser decoded of one stream, under the names reports give the values. A
// value that the coding does not carry, or that the header analysed did not show, is absent.
struct StreamHeader {
    // Video.
    std::optional<uint32_t> width;
    std::optional<uint32_t> height;
    std::optional<double> frameRate;
    std::optional<std::string> aspectRatio;  // "16:9" for a display aspect, "1:1" for a sample
    std::optional<std::string> profile;
    // The level as the stream codes it, as ffprobe gives it: MPEG-2's level code (4 High,
    // 6 High 1440, 8 Main, 10 Low), H.264's level_idc (41 for 4.1), VC-1's level.
    std::optional<int> level;
    // Both aspects as ffprobe writes them ("32:27", "16:9"), whichever the coding gives.
    std::optional<std::string> sampleAspect;
    std::optional<std::string> displayAspect;
    // "progressive", or "tt" and "bb" for interlaced video whose top or bottom field comes
    // first; absent where the header does not say.
    std::optional<std::string> fieldOrder;
    // Audio.
    std::optional<uint32_t> sampleRate;  // Hz
    std::optional<uint32_t> channels;    // LFE included
    std::optional<bool> lfe;
    std::optional<uint32_t> bitRate;  // bit/s
    std::optional<uint32_t> bitsPerSample;
};

// "a:b" reduced to its lowest terms; none when either is 0.
std::optional<std::string> reducedRatio(uint64_t a, uint64_t b);

// The channel layout as ffprobe names it ("5.1(side)", "stereo") for the layouts that the
// coding and the channel count settle; none for the others.
std::optional<std::string> channelLayout(StreamCoding coding, const StreamHeader& header);

// Fills in the display aspect from the sample aspect and the frame size, or the other way
// round, whichever `header` lacks.
void completeAspects(StreamHeader& header);

}  // namespace tolvane
