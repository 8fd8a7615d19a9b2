#include "demux/pack_engine.h"

#include "format/program_stream_layout.h"

namespace tolvane {

void PackEngine::demux(PassMode mode, PassHooks& hooks, const SpanEvents& events,
                       BlockConsumer* follower) {
    detection_ = mode == PassMode::Detection;
    hooks_ = &hooks;
    events_ = &events;
    follower_ = follower;
    JobControl& control = state_.job.control;
    control.writing = !detection_ || follower != nullptr || hooks.writes();
    // Each pass places its packets afresh: a demux pass gives them the times the read did.
    state_.job.timeline = Timeline{};
    state_.job.skipped.clear();
    readSpans(state_.job, os_, reporter_, *this);
    JobState& job = state_.job;
    job.seams.clear();
    for (const Seam& seam : job.timeline.seams()) {
        job.seams.push_back(NamedSeam{seam, job.source->span(seam.span).path});
    }
    job.unlistedSeams = job.timeline.unlistedSeams();
    // The navigation packs' running time: each VOB the pass met, once.
    if (const std::vector<int64_t>& vobs = state_.job.timeline.vobTicks(); !vobs.empty()) {
        state_.job.vobTicks = vobs;
        state_.job.totalSeconds =
            static_cast<double>(state_.job.timeline.navigationTicks()) / kTicksPerSecond;
    }
    if (control.cancelled) {
        state_.streams.forEach([](StreamContext& context) { context.frameCount = 0; });
    }
}

void PackEngine::spanStarted(size_t span) {
    if (span > 0 && events_->starting) {
        events_->starting(span);
    }
    // Ids and "found" lines are per file: each span names its streams anew.
    StreamRegistry& streams = state_.streams;
    streams.forEach([](StreamContext& context) {
        context.id = kStreamAbsent;
        context.reported = false;
    });
    scanner_.emplace(state_.streams, *hooks_, detection_, &state_.job.timeline);
    scanning_ = true;
    hooks_->spanStarted(span);
    if (follower_ != nullptr) {
        follower_->spanStarted(span);
    }
}

bool PackEngine::block(size_t span, int64_t offset, size_t length) {
    const bool more = scanning_ && scan(span, offset, length);
    if (follower_ != nullptr) {
        return follower_->block(span, offset, length);
    }
    return more;
}

bool PackEngine::scan(size_t span, int64_t offset, size_t length) {
    JobState& job = state_.job;
    const int64_t end = offset + static_cast<int64_t>(length);
    bool more = true;
    if (detection_) {
        if (const std::optional<int64_t> limit = hooks_->fastCheckLimit(); limit && end > *limit) {
            more = false;
            job.countStoppedAt = *limit;
        }
        if (end == static_cast<int64_t>(kBlockSize) &&
            job.buffer[layout::kFirstPacketStreamId - 1] == 0x01 &&
            job.buffer[layout::kFirstPacketStreamId] == layout::kSystemHeaderId) {
            ScanState& s = scanner_->state();
            s.videoBound = job.buffer[layout::kSystemHeaderVideoBound] & 0x1F;
            s.audioBound = static_cast<uint8_t>(job.buffer[layout::kSystemHeaderAudioBound] >> 2);
            hooks_->systemHeaderRead(s);
        }
    }
    job.timeline.setBlock(span, offset);
    scanner_->scanBlock(job.buffer.data(), length);
    scanning_ = more;
    return more;
}

void PackEngine::spanEnded(size_t span) {
    if (events_->ended) {
        events_->ended(span, scanner_->state().packFound);
    }
    if (follower_ != nullptr) {
        follower_->spanEnded(span);
    }
}

}  // namespace tolvane
