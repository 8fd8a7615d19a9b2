#include "core/pack_engine.h"

#include "core/pack_scanner.h"
#include "core/program_stream_layout.h"
#include "core/progress.h"

namespace tolvane {

namespace {

constexpr int64_t kSystemHeaderBlockEnd = static_cast<int64_t>(kBlockSize);

}  // namespace

void PackEngine::showProgress(int64_t position, int64_t size, double startTime) {
    reporter_.slog(progressText(position, size, os_.now() - startTime, state_.job),
                   StatusPanel::Progress);
}

PassOutcome PackEngine::demux(PassMode mode, PassHooks& hooks) {
    const bool detection = mode == PassMode::Detection;
    resetForPassStart(state_, !detection);
    PackScanner scanner(state_.streams, hooks, detection);
    JobState& job = state_.job;
    InputSource& source = *job.source;
    const double startTime = os_.now();
    hooks.passStarted();

    const int64_t size = source.size();
    while (source.position() < size && !job.cancelled && !job.fastStop) {
        const size_t n = readBlock(source, job.buffer.data(), job.buffer.size());
        job.bufferLength = n;
        if (n == 0) {
            break;  // a source whose end comes early says so itself
        }
        const int64_t position = source.position();
        if (position % kProgressStep == 0) {
            showProgress(position, size, startTime);
            os_.processEvents();
        }
        if (detection) {
            if (const std::optional<int64_t> limit = hooks.fastCheckLimit();
                limit && position > *limit) {
                job.fastStop = true;
                job.countStoppedAt = *limit;
            }
        }
        if (position % kRepaintStep == 0) {
            os_.repaint();
        }
        if (detection && position == kSystemHeaderBlockEnd &&
            job.buffer[layout::kFirstPacketStreamId - 1] == 0x01 &&
            job.buffer[layout::kFirstPacketStreamId] == layout::kSystemHeaderId) {
            ScanState& s = scanner.state();
            s.videoBound = job.buffer[layout::kSystemHeaderVideoBound] & 0x1F;
            s.audioBound = static_cast<uint8_t>(job.buffer[layout::kSystemHeaderAudioBound] >> 2);
            hooks.systemHeaderRead(s);
        }
        scanner.scanBlock(job.buffer.data(), n);
    }

    if (!job.cancelled) {
        source.checkUnchanged();  // what was read is the file as it is
    }
    resetForPassEnd(state_);
    hooks.passEnded();
    return PassOutcome{scanner.state().packFound};
}

}  // namespace tolvane
