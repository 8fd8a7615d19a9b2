#pragma once

#include <array>
#include <cstdint>

#include "core/output_sink.h"

namespace tolvane {

// Identifying-byte values with a meaning of their own in the id tables.
inline constexpr int32_t kStreamAbsent = -1;
// Set by the playlist reader for a stream its title announces; counts as present.
inline constexpr int32_t kStreamAnnounced = 1;

// What was found for every stream of the file that a pass reads, per stream number.
struct StreamTable {
    std::array<int32_t, 16> videoId{};
    std::array<int32_t, 16> audioId{};
    std::array<int32_t, 32> subId{};
    std::array<bool, 8> videoReported{};
    std::array<bool, 16> audioReported{};
    std::array<bool, 32> subReported{};
    std::array<int32_t, 16> frameCount{};
    std::array<double, 16> frameRate{};
    // Outputs of the ticked streams during a demux job; owned by that job, null otherwise.
    std::array<OutputSink*, 2> videoOut{};
    std::array<OutputSink*, 16> audioOut{};
    std::array<OutputSink*, 32> subOut{};
};

inline bool isPresent(int32_t idEntry) {
    return idEntry != kStreamAbsent;
}

}  // namespace tolvane
