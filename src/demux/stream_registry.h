#pragma once

#include <algorithm>
#include <array>
#include <bitset>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "core/output_sink.h"
#include "format/closed_captions.h"
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

// Everything a job knows of one stream.
struct StreamContext {
    StreamKind kind = StreamKind::Video;
    // The number the job's numbering gave it among the streams of its kind: the name it goes by
    // in boxes, file names and --select.
    int32_t number = 0;
    // Its place in the registry, fixed for the job: an index for what passes keep per stream.
    size_t slot = 0;
    // The stream's identifying byte in the current span; kStreamAbsent until a pass meets it.
    int32_t id = kStreamAbsent;
    // The stream it stands for across the files of a job: its key (its identifying byte,
    // kMpegAudioKey added for MPEG audio), or kStreamAnnounced for a number a playlist announced
    // before any stream took it.
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
    // The header bytes a decoder or a muxer needs first, as the stream carries them: video's
    // sequence header, parameter sets or entry point (see videoCodecPrivate), audio's first
    // frame header (see audioHeaderBytes). Empty until a packet held them whole.
    std::vector<uint8_t> codecPrivate;
    uint8_t codecPrivateTries = 0;
    // Video: the frame codes counted and the rate its header gave.
    int64_t frameCount = 0;  // 64 bits: no file can hold more codes
    double frameRate = 0;
    // Subpictures (DVD and HD DVD): the units the read met, and those the disc forces on screen.
    int64_t subpictures = 0;
    int64_t forcedSubpictures = 0;
    // MPEG video: the form of EIA-608 captions its user data carries, and the channels that
    // show text (bit 0 for CC1 to bit 3 for CC4).
    CaptionForm captionForm = CaptionForm::None;
    uint8_t captionChannels = 0;
    // Its output during a demux job; owned by that job, null otherwise.
    OutputSink* out = nullptr;
};

// How a job numbers its streams for the user: how many numbers each kind has (the window's
// boxes, output names, --select). A stream takes its natural number (from its id) when that is
// free, else the next free one. The counts are the disc formats' own: two video streams (HD
// DVD's main and secondary), sixteen audio (eight main, eight secondary), 32 subpictures.
struct StreamNumbering {
    std::array<int32_t, 3> numbers{2, 16, 32};

    int32_t count(StreamKind kind) const { return numbers[static_cast<size_t>(kind)]; }
    bool holds(StreamKind kind, int32_t number) const {
        return number >= 0 && number < count(kind);
    }
};

// The most streams a job can hold under any numbering: what passes size their per-stream
// records by.
inline constexpr size_t kMaxStreams = 64;

// The slot of withoutNumberReported that MPEG audio uses, after the three stream kinds.
inline constexpr size_t kMpegAudioSlot = 3;
using MentionedStreams = std::array<std::bitset<256>, 4>;

// Every stream of a job, one context per stream, found by its key or by the number the
// numbering gave it. Contexts keep their address until clear(): passes hold them.
class StreamRegistry {
public:
    explicit StreamRegistry(StreamNumbering numbering = {});
    StreamRegistry(const StreamRegistry&) = delete;
    StreamRegistry& operator=(const StreamRegistry&) = delete;

    const StreamNumbering& numbering() const { return numbering_; }

    // The stream `key` of `kind`; null when it has no number.
    StreamContext* find(StreamKind kind, int32_t key);
    // The stream numbered `number` of `kind`; null when none has it.
    StreamContext* numbered(StreamKind kind, int32_t number);
    const StreamContext* numbered(StreamKind kind, int32_t number) const;

    // The stream `key` of `kind`, null when it has no number. A number announced under the
    // stream's natural number takes it. With `assign`, a stream without a number takes its
    // natural number when that is free, otherwise the next free number of its kind (its coding
    // set from its id); null only when every number of the kind is taken.
    StreamContext* take(StreamKind kind, int32_t key, bool assign, bool aobSource);

    // Puts `key` under `number` (a number a read gave, or kStreamAnnounced); null for a number
    // outside the numbering.
    StreamContext* pin(StreamKind kind, int32_t number, int32_t key);

    // Forgets every stream.
    void clear();

    // Calls `visit(context)` for every stream: video, audio then subpictures, each by number.
    template <typename Visit>
    void forEach(Visit&& visit) {
        for (StreamContext* context : order_) {
            visit(*context);
        }
    }
    template <typename Visit>
    void forEach(Visit&& visit) const {
        for (const StreamContext* context : order_) {
            visit(*context);
        }
    }

    // Streams a job met without a number and has said so, per kind (and MPEG audio last) and
    // identifying byte.
    MentionedStreams withoutNumberReported;
    // What the read said of streams it had to leave out, for reports.
    std::vector<std::string> warnings;

private:
    StreamContext& add(StreamKind kind, int32_t number, int32_t key);

    StreamNumbering numbering_;
    std::deque<StreamContext> contexts_;  // a deque: contexts never move
    std::vector<StreamContext*> order_;
};

// The context of stream `number` of `kind`; null when none has it.
inline StreamContext* contextOf(StreamRegistry& streams, StreamKind kind, int32_t number) {
    return streams.numbered(kind, number);
}
inline const StreamContext* contextOf(const StreamRegistry& streams, StreamKind kind,
                                      int32_t number) {
    return streams.numbered(kind, number);
}

// The entry of stream `number` in a per-number table; null for a number outside it.
template <typename Table>
auto* entryAt(Table& table, int32_t number) {
    return number >= 0 && number < static_cast<int32_t>(table.size())
               ? &table[static_cast<size_t>(number)]
               : nullptr;
}

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
inline bool firstMention(MentionedStreams& said, StreamKind kind, int32_t key) {
    const size_t slot = isMpegAudioKey(key) ? kMpegAudioSlot : static_cast<size_t>(kind);
    return firstMention(said[slot], key);
}

// The coding of the stream numbered `number` of `kind`.
inline StreamCoding numberCoding(const StreamRegistry& streams, StreamKind kind, int32_t number) {
    const StreamContext* context =
        kind != StreamKind::Subpicture ? streams.numbered(kind, number) : nullptr;
    return context != nullptr ? context->coding : StreamCoding::Subpicture;
}

inline bool isPresent(int32_t idEntry) {
    return idEntry != kStreamAbsent;
}

}  // namespace tolvane
