#pragma once

#include <algorithm>
#include <array>
#include <bitset>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

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

// How long a stream plays and how many payload bytes it has, as far as the read went: its
// earliest and latest times on the source's timeline, and the bytes from the latest one on.
struct StreamTiming {
    std::optional<int64_t> first;
    int64_t latest = 0;
    // Payload from the first unit (audio frame, picture) that the latest time stamps.
    int64_t bytesFromLatest = 0;
    int64_t bytes = 0;

    // Takes a chunk of `length` payload bytes; the first chunk of a packet that carries a time
    // gives it, and where in the chunk the unit it stamps begins.
    void take(int64_t length, std::optional<int64_t> time, int64_t unitAt) {
        bytes += length;
        if (time && (!first || *time > latest)) {
            latest = *time;
            bytesFromLatest = -std::min(unitAt, length);
        }
        if (time && (!first || *time < *first)) {
            first = *time;
        }
        bytesFromLatest += length;
    }

    // The seconds played, the last unit's `tailSeconds` included; none without a time.
    std::optional<double> seconds(double tailSeconds) const {
        if (!first) {
            return std::nullopt;
        }
        return static_cast<double>(latest - *first) / 90000.0 + tailSeconds;
    }
};

// What the last unit adds to a stream's time: a video frame, or the audio from the latest time
// on at the stream's rate (its header's, else its own so far).
double tailSeconds(const StreamTiming& timing, bool video, const StreamHeader& header,
                   double frameRate);

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
    // The stream each number stands for across the files of a job: the stream's key (its
    // identifying byte, kMpegAudioKey added for MPEG audio), kStreamAnnounced for a number a
    // playlist announced, kStreamAbsent for a free number. A read gives each new stream a
    // number as it meets it; a writing job takes the numbers it is handed and pins an announced one
    // to the first coding it meets under that number.
    std::array<int32_t, 2> videoKeys = absentIds<2>();
    std::array<int32_t, 16> audioKeys = absentIds<16>();
    std::array<int32_t, 32> subKeys = absentIds<32>();
    // The coding each number's stream holds: its id's, until its first payload showed another.
    std::array<StreamCoding, 2> videoCoding{};
    std::array<StreamCoding, 16> audioCoding{};
    // Whether that coding came from the stream's payload, and so is not looked for again.
    std::array<bool, 2> videoCodingSeen{};
    std::array<bool, 16> audioCodingSeen{};
    // The first PTS of each stream in the current read job, the first file's before the
    // second's: what its delay against the video is measured from.
    std::array<std::optional<int64_t>, 2> videoFirstPts{};
    std::array<std::optional<int64_t>, 16> audioFirstPts{};
    std::array<std::optional<int64_t>, 32> subFirstPts{};
    // How long each video and audio stream of the read job plays.
    std::array<StreamTiming, 2> videoTiming{};
    std::array<StreamTiming, 16> audioTiming{};
    // The header values of each stream the read job analysed, the last file's.
    std::array<StreamHeader, 2> videoHeader{};
    std::array<StreamHeader, 16> audioHeader{};
    // Streams a job met without a number and has said so, per kind (and MPEG audio last) and
    // identifying byte.
    std::array<std::bitset<256>, 4> withoutNumberReported;  // a MentionedStreams
    // What the read said of streams it had to leave out, for reports.
    std::vector<std::string> warnings;
    // Outputs of the chosen streams during a demux job; owned by that job, null otherwise.
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

// The slot of withoutNumberReported that MPEG audio uses, after the three stream kinds.
inline constexpr size_t kMpegAudioSlot = 3;

// True the first time `idByte` is marked in `said`: a stream without a number is named once.
inline bool firstMention(std::bitset<256>& said, int32_t idByte) {
    const auto bit = static_cast<size_t>(idByte & 0xFF);
    if (said.test(bit)) {
        return false;
    }
    said.set(bit);
    return true;
}

// The same for the stream `key` of `kind`, per kind, MPEG audio in a slot of its own.
using MentionedStreams = std::array<std::bitset<256>, 4>;
inline bool firstMention(MentionedStreams& said, StreamKind kind, int32_t key) {
    const size_t slot = isMpegAudioKey(key) ? kMpegAudioSlot : static_cast<size_t>(kind);
    return firstMention(said[slot], key);
}

// The coding of the stream numbered `number` of `kind`.
inline StreamCoding numberCoding(const StreamTable& streams, StreamKind kind, int32_t number) {
    if (kind == StreamKind::Video && number >= 0 && number < 2) {
        return streams.videoCoding[static_cast<size_t>(number)];
    }
    if (kind == StreamKind::Audio && number >= 0 && number < 16) {
        return streams.audioCoding[static_cast<size_t>(number)];
    }
    return StreamCoding::Subpicture;
}

// The entry of `number` in the key table of `kind`; null for a number outside it.
int32_t* keyEntry(StreamTable& streams, StreamKind kind, int32_t number);
const int32_t* keyEntry(const StreamTable& streams, StreamKind kind, int32_t number);

// The number of the stream `key` of `kind`, or -1 when it has none. A number announced under
// the stream's natural number takes it. With `assign`, a stream without a number takes its
// natural number when that is free, otherwise the next free number of its kind (its coding set
// from its id); -1 only when every number of the kind is taken.
int32_t numberFor(StreamTable& streams, StreamKind kind, int32_t key, bool assign, bool aobSource);

// Every number of every kind free.
void clearNumbers(StreamTable& streams);

inline bool isPresent(int32_t idEntry) {
    return idEntry != kStreamAbsent;
}

}  // namespace tolvane
