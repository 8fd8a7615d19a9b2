#include "demux/timeline.h"

#include <algorithm>
#include <climits>

namespace tolvane {

namespace {

constexpr uint64_t kClockWrap = uint64_t{1} << 33;
// A stream's time going back more than this, or on by more than kJumpOn, is a jump: B-frames
// step back a few frames, audio packets on by a fraction of a second.
constexpr int64_t kJumpBack = kTicksPerSecond / 2;
constexpr int64_t kJumpOn = kTicksPerSecond;
// A stream whose part is behind the latest joins it when its time there lies this close to the
// latest part's start: the first packets of a new part come within a second of each other.
constexpr int64_t kJoinWindow = kTicksPerSecond;
// A VOB that starts this close to where the last one ended follows on.
constexpr int64_t kSeamless = 90;
// A title has at most 65535 VOBs; more are summed into the last.
constexpr size_t kListedVobs = 65536;

// The difference of two 33-bit clock values, across the wrap: within 2^32 either way.
int64_t clockDifference(uint64_t difference) {
    const uint64_t d = difference & (kClockWrap - 1);
    return d >= kClockWrap / 2 ? static_cast<int64_t>(d) - static_cast<int64_t>(kClockWrap)
                               : static_cast<int64_t>(d);
}

// The same for the 32 bits of a navigation pack's times, which leave out the clock's top bit.
int64_t navigationDifference(uint64_t difference) {
    return static_cast<int32_t>(static_cast<uint32_t>(difference));
}

}  // namespace

int64_t Timeline::timeIn(const Part& part, uint64_t pts) {
    return part.timeStart + (part.navigationClock ? navigationDifference(pts - part.rawStart)
                                                  : clockDifference(pts - part.rawStart));
}

int64_t Timeline::end() const {
    // Video gives the end where there is any: audio packets reach a fraction of a second on.
    for (const auto& [from, to] : {std::pair<size_t, size_t>{0, 16}, {16, 32}, {32, kSlots}}) {
        int64_t latest = INT64_MIN;
        for (size_t slot = from; slot < to; ++slot) {
            if (streams_[slot].known) {
                latest = std::max(latest, streams_[slot].highest + streams_[slot].step);
            }
        }
        if (latest != INT64_MIN) {
            return latest;
        }
    }
    return latest_ ? latest_->timeStart : 0;
}

void Timeline::addSeam(Seam::Cause cause, int64_t time, int64_t gap, size_t at,
                       std::optional<uint32_t> vob) {
    if (seams_.size() >= kListedSeams) {
        ++unlistedSeams_;
        return;
    }
    seams_.push_back(Seam{.cause = cause,
                          .span = span_,
                          .position = blockOffset_ + static_cast<int64_t>(at),
                          .time = time,
                          .gap = gap,
                          .vob = vob});
}

void Timeline::navigation(const Vob& given, size_t at) {
    if (given.start == 0 && given.end == 0) {
        return;
    }
    const Vob vob = given;
    const int64_t plays = std::max<int64_t>(0, navigationDifference(vob.end - vob.start));
    if (vob_ && vob_->number == vob.number && vob_->start == vob.start && vob_->end == vob.end) {
        return;  // the same VOB goes on, in the next pack, cell or file
    }
    if (!latest_) {
        latest_ = Part{vob.start, static_cast<int64_t>(vob.start), 0, true};
    } else if (vob_) {
        const int64_t gap = navigationDifference(vob.start - vob_->end);
        if (gap < -kSeamless || gap > kSeamless) {
            const int64_t ended = timeIn(*latest_, vob_->end);
            latest_ = Part{vob.start, ended, latest_->sequence + 1, true};
            everyStreamFrom_ = latest_->sequence;
            addSeam(Seam::Cause::Navigation, ended, gap, at, vob.number);
        }
    }
    vob_ = vob;
    if (vobTicks_.size() < kListedVobs) {
        vobTicks_.push_back(plays);
    } else {
        vobTicks_.back() += plays;
    }
}

int64_t Timeline::place(size_t slot, uint64_t pts, bool sparse, size_t at, bool* newPart) {
    pts &= kClockWrap - 1;
    if (!latest_) {
        latest_ = Part{pts, static_cast<int64_t>(pts), 0, false};
    }
    StreamPlace& stream = streams_[slot % kSlots];
    // A navigation pack began a part for every stream: the stream's time runs on there, even
    // where its own packets stopped short of where the last part ended.
    bool moved = stream.known && stream.part.sequence < everyStreamFrom_;
    if (!stream.known || moved) {
        stream.part = *latest_;
    }
    int64_t time = timeIn(stream.part, pts);
    if (!stream.known) {
        stream.known = true;
        stream.last = time;
        stream.highest = time;
        return time;
    }
    const auto jumps = [&](int64_t step) {
        return step < -kJumpBack || (!sparse && step > kJumpOn);
    };
    // A sparse stream follows the others' parts; it begins none: its own time stamps go back
    // only on a disc made wrong.
    if (!moved && stream.part.sequence != latest_->sequence) {
        // A part began after this stream's: it joins it when its packet lies at its start (a
        // sparse stream anywhere after), or stays with its own while it follows on there.
        const int64_t there = timeIn(*latest_, pts);
        const bool atStart = there >= latest_->timeStart - kJoinWindow &&
                             (sparse || there <= latest_->timeStart + kJoinWindow);
        if (atStart && (sparse || jumps(time - stream.last))) {
            stream.part = *latest_;
            time = there;
            moved = true;
        }
    }
    const int64_t step = time - stream.last;
    if (newPart != nullptr) {
        *newPart = moved;
    }
    if (!moved && !sparse && jumps(step)) {
        const int64_t expected = end();
        addSeam(Seam::Cause::TimeStamps, expected, time - expected, at, std::nullopt);
        latest_ = Part{pts, expected, latest_->sequence + 1, false};
        stream.part = *latest_;
        time = expected;
        if (newPart != nullptr) {
            *newPart = true;
        }
    } else if (!moved && step > 0 && (stream.step == 0 || step < stream.step)) {
        stream.step = step;
    }
    stream.last = time;
    stream.highest = std::max(stream.highest, time);
    return time;
}

}  // namespace tolvane
