#include "demux/block_loop.h"

#include <algorithm>

#include "core/span_source.h"
#include "core/stop_signal.h"

namespace tolvane {

namespace {

// A signal that asks the program to stop cancels the job too, whenever it came.
bool cancelled(JobState& job) {
    if (stopRequested()) {
        job.control.cancelled = true;
    }
    return job.control.cancelled;
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
            const size_t n = readBlock(source, job.buffer.data(), wanted);
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
