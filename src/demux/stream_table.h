#pragma once

#include <algorithm>
#include <array>
#include <bitset>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/output_sink.h"
#include "format/stream_header.h"
#include "format/stream_ids.h"

namespace tolvane {

// Identifying-byte values with a meaning of their own in the id tables.
inline constexpr int32_t kStreamAbsent = -1;
// Set by the playlist reader for a stream its title announces; counts as present.
inline constexpr int32_t kStreamAnnounced = 1;

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

// Everything a job knows of one stream, under the stream's number of its kind.
struct StreamContext {
    // The stream's identifying byte in the current span; kStreamAbsent until a pass meets it.
    int32_t id = kStreamAbsent;
    // The stream this number stands for across the files of a job: its key (its identifying
    // byte, kMpegAudioKey added for MPEG audio), kStreamAnnounced for a number a playlist
    // announced, kStreamAbsent for a free number. A read gives each new stream a number as it
    // meets it; a writing job takes the numbers it is handed and pins an announced one to the
    // first coding it meets under that number.
    int32_t key = kStreamAbsent;
    // Its "found" line was written in the current span.
    bool reported = false;
    // Its coding: its id's, until its first payload showed another (`codingSeen`, after which
    // it is not looked for again).
    StreamCoding coding = StreamCoding::Mpeg2;
    bool codingSeen = false;
    // Its first PTS in the current read job, the first file's before the second's: what its
    // delay against the video is measured from.
    std::optional<int64_t> firstPts;
    // How long it plays (video and audio).
    StreamTiming timing;
    // Its header values, the last file's (video and audio).
    StreamHeader header;
    // Video: the headers a decoder needs first, as the stream carries them (see
    // videoCodecPrivate); empty until a packet held them whole.
    std::vector<uint8_t> codecPrivate;
    // Video: the frame codes counted and the rate its header gave.
    int64_t frameCount = 0;  // 64 bits: no file can hold more codes
    double frameRate = 0;
    // Its output during a demux job; owned by that job, null otherwise.
    OutputSink* out = nullptr;
};

inline constexpr size_t kVideoNumbers = 2;
inline constexpr size_t kAudioNumbers = 16;
inline constexpr size_t kSubpictureNumbers = 32;

// Every stream of the job, one context per number of each kind.
struct StreamTable {
    std::array<StreamContext, kVideoNumbers> video{};
    std::array<StreamContext, kAudioNumbers> audio{};
    std::array<StreamContext, kSubpictureNumbers> sub{};
    // Streams a job met without a number and has said so, per kind (and MPEG audio last) and
    // identifying byte.
    std::array<std::bitset<256>, 4> withoutNumberReported;  // a MentionedStreams
    // What the read said of streams it had to leave out, for reports.
    std::vector<std::string> warnings;
};

// Calls `visit(kind, number, context)` for every context, video, audio then subpictures.
template <typename Table, typename Visit>
void forEachContext(Table& streams, Visit&& visit) {
    for (size_t n = 0; n < streams.video.size(); ++n) {
        visit(StreamKind::Video, static_cast<int32_t>(n), streams.video[n]);
    }
    for (size_t n = 0; n < streams.audio.size(); ++n) {
        visit(StreamKind::Audio, static_cast<int32_t>(n), streams.audio[n]);
    }
    for (size_t n = 0; n < streams.sub.size(); ++n) {
        visit(StreamKind::Subpicture, static_cast<int32_t>(n), streams.sub[n]);
    }
}

// The context of stream `number` of `kind`; null for a number outside its kind's range.
StreamContext* contextOf(StreamTable& streams, StreamKind kind, int32_t number);
const StreamContext* contextOf(const StreamTable& streams, StreamKind kind, int32_t number);

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
    const StreamContext* context =
        kind != StreamKind::Subpicture ? contextOf(streams, kind, number) : nullptr;
    return context != nullptr ? context->coding : StreamCoding::Subpicture;
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
