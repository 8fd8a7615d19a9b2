#pragma once

#include <array>
#include <bitset>
#include <cstdint>
#include <optional>

#include "core/output_sink.h"
#include "core/stream_header.h"
#include "core/stream_ids.h"

namespace tolvane {

// Identifying-byte values with a meaning of their own in the id tables.
inline constexpr int32_t kStreamAbsent = -1;
// Set by the playlist reader for a stream its title announces; counts as present.
inline constexpr int32_t kStreamAnnounced = 1;

template <size_t N>
constexpr std::array<int32_t, N> absentIds() {
    std::array<int32_t, N> ids{};
    ids.fill(kStreamAbsent);
    return ids;
}

// What was found for every stream of the file that a pass reads, per stream number.
struct StreamTable {
    std::array<int32_t, 16> videoId{};
    std::array<int32_t, 16> audioId{};
    std::array<int32_t, 32> subId{};
    std::array<bool, 8> videoReported{};
    std::array<bool, 16> audioReported{};
    std::array<bool, 32> subReported{};
    std::array<int64_t, 16> frameCount{};  // 64 bits: no file can hold more codes
    std::array<double, 16> frameRate{};
    // The stream each box stands for: the identifying byte the read job labelled it with,
    // kStreamAnnounced for a box the playlist reader filled, kStreamAbsent for an empty box.
    // Set when the boxes are labelled; the passes leave it alone. A writing job pins an
    // announced box to the first coding it meets under that number.
    std::array<int32_t, 2> videoBoxId = absentIds<2>();
    std::array<int32_t, 16> audioBoxId = absentIds<16>();
    std::array<int32_t, 32> subBoxId = absentIds<32>();
    // The first PTS of each stream in the current read job, the first file's before the
    // second's: what its delay against the video is measured from.
    std::array<std::optional<uint32_t>, 2> videoFirstPts{};
    std::array<std::optional<uint32_t>, 16> audioFirstPts{};
    std::array<std::optional<uint32_t>, 32> subFirstPts{};
    // The header values of each stream the read job analysed, the last file's.
    std::array<StreamHeader, 2> videoHeader{};
    std::array<StreamHeader, 16> audioHeader{};
    // Streams a writing job met without a box and has said so, per kind (and MPEG audio last)
    // and identifying byte.
    std::array<std::bitset<256>, 4> withoutBoxReported;
    // Outputs of the ticked streams during a demux job; owned by that job, null otherwise.
    std::array<OutputSink*, 2> videoOut{};
    std::array<OutputSink*, 16> audioOut{};
    std::array<OutputSink*, 32> subOut{};
};

// The entry of stream `number` in a per-number table; null for a number outside it.
template <typename Table>
auto* entryAt(Table& table, int32_t number) {
    return number >= 0 && number < static_cast<int32_t>(table.size())
               ? &table[static_cast<size_t>(number)]
               : nullptr;
}

// The slot of withoutBoxReported that MPEG audio uses, after the three stream kinds.
inline constexpr size_t kMpegAudioSlot = 3;

// True the first time `idByte` is marked in `said`: a stream without a box is named once.
inline bool firstMention(std::bitset<256>& said, int32_t idByte) {
    const auto bit = static_cast<size_t>(idByte & 0xFF);
    if (said.test(bit)) {
        return false;
    }
    said.set(bit);
    return true;
}

// The entry of `number` in the box-id table of `kind`; null for a number without a box.
int32_t* boxIdEntry(StreamTable& streams, StreamKind kind, int32_t number);
const int32_t* boxIdEntry(const StreamTable& streams, StreamKind kind, int32_t number);

// Whether a packet of `idByte` under `number` belongs to that number's box. An announced box
// takes the first coding it is asked about and keeps it.
bool belongsToBox(StreamTable& streams, StreamKind kind, int32_t number, int32_t idByte);

inline bool isPresent(int32_t idEntry) {
    return idEntry != kStreamAbsent;
}

}  // namespace tolvane
