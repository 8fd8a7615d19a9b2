#pragma once

#include <cstdint>
#include <optional>
#include <string>

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
    std::optional<std::string> level;
    // Audio.
    std::optional<uint32_t> sampleRate;  // Hz
    std::optional<uint32_t> channels;    // LFE included
    std::optional<bool> lfe;
    std::optional<uint32_t> bitRate;  // bit/s
    std::optional<uint32_t> bitsPerSample;
};

}  // namespace tolvane
