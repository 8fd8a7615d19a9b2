#include "demux/block_loop.h"

#include <algorithm>

#include "core/platform_error.h"
#include "core/span_source.h"
#include "core/stop_signal.h"

namespace tolvane {

namespace {

constexpr int64_t kSector = 2048;
// A sector that fails is tried this many times more before it is passed over.
constexpr int kRetries = 2;

// A signal that asks the program to stop cancels the job too, whenever it came.
bool cancelled(JobState& job) {
    if (stopRequested()) {
        job.control.cancelled = true;
    }
    return job.control.cancelled;
}

// Reads `length` bytes from `from` (in span `span`, which starts at `start`) a sector at a time
// into the consumer, passing over each sector that cannot be read and noting it in the job.
bool readSectorBySector(JobState& job, SpanSource& source, BlockConsumer& consumer, size_t span,
                        int64_t start, int64_t from, size_t length) {
    bool more = true;
    const int64_t end = from + static_cast<int64_t>(length);
    for (int64_t at = from; at < end && more && !job.control.cancelled; at += kSector) {
        const auto wanted = static_cast<size_t>(std::min(kSector, end - at));
        std::optional<size_t> got;
        for (int attempt = 0; attempt <= kRetries && !got; ++attempt) {
            try {
                source.seek(at);
                got = readBlock(source, job.buffer.data(), wanted);
            } catch (const PlatformError&) {
            }
        }
        if (!got) {
            SkippedBlocks* last = job.skipped.empty() ? nullptr : &job.skipped.back();
            if (last != nullptr && last->position + last->count * kSector == at) {
                ++last->count;
            } else {
                job.skipped.push_back(
                    SkippedBlocks{source.span(span).path, at, 1, job.timeline.reached()});
            }
            source.seek(at + kSector);
            continue;
        }
        job.bufferLength = *got;
        if (*got == 0) {
            return false;
        }
        more = consumer.block(span, at - start, *got);
    }
    source.seek(std::min(end, source.size()));
    return more;
}

}  // namespace

void readSpans(JobState& job, OsServices& os, Reporter& reporter, BlockConsumer& consumer,
               int64_t end) {
    SpanSource& source = *job.source;
    // From the start, every span is read, an empty one too: a job is told of each.
    for (size_t span = source.position() == 0 ? 0 : source.spanAt(source.position());
         span < source.spanCount() && source.spanStart(span) < end && !cancelled(job); ++span) {
        const int64_t start = source.spanStart(span);
        const int64_t length = std::min(source.spanLength(span), end - start);
        if (source.position() < start) {
            source.seek(start);
        }
        const double startTime = os.now();
        consumer.spanStarted(span);
        bool more = true;
        while (more && !cancelled(job) && source.position() < start + length) {
            const int64_t offset = source.position() - start;
            const auto wanted = static_cast<size_t>(
                std::min<int64_t>(static_cast<int64_t>(job.buffer.size()), length - offset));
            size_t n = 0;
            try {
                n = readBlock(source, job.buffer.data(), wanted);
            } catch (const PlatformError&) {
                if (!job.skipUnreadable || job.control.cancelled) {
                    throw;
                }
                // Somewhere in the block is a sector that cannot be read: the block again, a
                // sector at a time, each sector that still fails passed over whole. Packs never
                // cross a sector, so the scanner meets whole packets on either side.
                more =
                    readSectorBySector(job, source, consumer, span, start, start + offset, wanted);
                continue;
            }
            job.bufferLength = n;
            if (n == 0) {
                break;
            }
            const int64_t done = offset + static_cast<int64_t>(n);
            if (done % kProgressStep == 0) {
                JobProgress progress{done, length, os.now() - startTime};
                consumer.describeProgress(span, progress);
                reporter.progress(progress);
            }
            more = consumer.block(span, offset, n);
        }
        if (!job.control.cancelled) {
            source.span(span).input->checkUnchanged();  // what was read is the file as it is
        }
        consumer.spanEnded(span);
    }
}

}  // namespace tolvane
