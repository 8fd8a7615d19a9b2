#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "format/stream_ids.h"

namespace tolvane {

// Program-stream clocks count 90 kHz ticks.
inline constexpr int64_t kTicksPerSecond = 90000;

// Where a source's time stamps jump and the timeline makes them follow on.
struct Seam {
    enum class Cause : uint8_t {
        Navigation,  // a navigation pack's VOB does not start where the last one ended
        TimeStamps,  // a stream's own time stamps jump back, or more than a second on
    };
    Cause cause = Cause::TimeStamps;
    size_t span = 0;              // the span of the source, and the byte in it, where it showed
    int64_t position = 0;         // (a navigation pack, or the packet whose time jumped)
    int64_t time = 0;             // ticks on the timeline at which the new part begins
    int64_t gap = 0;              // the new part's first time stamp minus where the last part ended
    std::optional<uint32_t> vob;  // the navigation pack's VOB number
};

// A seam with the name of the span it showed in, for reports.
struct NamedSeam {
    Seam seam;
    std::string span;
};

// A source's time stamps on one continuous timeline, as players run them: where they jump (a
// new VOB of a DVD title, an HD DVD clip, a second file, a jump back or of more than a second,
// the 33-bit wrap) the part that follows is moved to begin where the last one ended. Before
// the first jump a time is its own time stamp, so sources without one keep their values.
//
// Streams are told apart by a slot: video 0..15, audio 16..31, subpictures 32..63. Memory is
// constant: seams beyond kListedSeams are counted, not listed.
class Timeline {
public:
    static constexpr size_t kSlots = 64;
    static constexpr size_t kListedSeams = 1000;
    // A VOB number and its video's first and last times (32 bits of the clock), as a
    // navigation pack gives them.
    struct Vob {
        uint32_t number = 0;
        uint32_t start = 0;
        uint32_t end = 0;
    };

    // The bytes that follow lie in `span` from `offset` on.
    void setBlock(size_t span, int64_t offset) {
        span_ = span;
        blockOffset_ = offset;
    }

    // A navigation pack at byte `at` of the block names the VOB it belongs to. A VOB that
    // does not begin where the last one ended (its video's times) begins a new part, for
    // every stream at once. Zero-filled packs (some muxers write them) say nothing.
    void navigation(const Vob& vob, size_t at);

    // The time on the timeline of a packet's 33-bit time stamp, for the stream in `slot`.
    // `sparse` streams (subpictures) may pause for minutes: only a jump back is a jump. With
    // `newPart`, says whether the stream moved to a new part here (its times jump).
    int64_t place(size_t slot, uint64_t pts, bool sparse, size_t at, bool* newPart = nullptr);

    const std::vector<Seam>& seams() const { return seams_; }
    // Seams beyond the listed ones.
    int64_t unlistedSeams() const { return unlistedSeams_; }
    // How far the streams have got on the timeline; none before the first time.
    std::optional<int64_t> reached() const { return latest_ ? std::optional(end()) : std::nullopt; }
    // The ticks each VOB the navigation packs named plays, in the order met, a VOB that goes on
    // in the next cell or file once.
    const std::vector<int64_t>& vobTicks() const { return vobTicks_; }
    // Their sum: the running time the navigation packs give.
    int64_t navigationTicks() const {
        int64_t ticks = 0;
        for (const int64_t vob : vobTicks_) {
            ticks += vob;
        }
        return ticks;
    }

private:
    struct Part {
        uint64_t rawStart = 0;  // the time stamp that begins it
        int64_t timeStart = 0;  // its time on the timeline
        uint32_t sequence = 0;
        // Begun by a navigation pack, whose times have 32 bits: times in it wrap at 2^32.
        bool navigationClock = false;
    };
    struct StreamPlace {
        bool known = false;
        Part part;
        int64_t last = 0;     // the last time placed
        int64_t highest = 0;  // the latest time placed (video comes in decoding order)
        int64_t step = 0;     // the smallest step forward between its times, a frame for video
    };

    static int64_t timeIn(const Part& part, uint64_t pts);
    // Where the timeline's streams have got to: the latest end of a video or audio stream.
    int64_t end() const;
    void addSeam(Seam::Cause cause, int64_t time, int64_t gap, size_t at,
                 std::optional<uint32_t> vob);

    std::optional<Part> latest_;
    // Streams of parts before this one move to the latest at their next packet.
    uint32_t everyStreamFrom_ = 0;
    std::array<StreamPlace, kSlots> streams_{};
    std::optional<Vob> vob_;
    std::vector<Seam> seams_;
    int64_t unlistedSeams_ = 0;
    std::vector<int64_t> vobTicks_;
    size_t span_ = 0;
    int64_t blockOffset_ = 0;
};

// The slot of stream `number` of `kind`.
inline size_t timelineSlot(StreamKind kind, int32_t number) {
    const auto n = static_cast<size_t>(number);
    return kind == StreamKind::Video   ? n % 16
           : kind == StreamKind::Audio ? 16 + n % 16
                                       : 32 + n % 32;
}

}  // namespace tolvane
