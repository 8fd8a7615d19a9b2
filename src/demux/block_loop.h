#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/os_services.h"
#include "core/reporter.h"
#include "demux/job_state.h"

namespace tolvane {

inline constexpr int64_t kProgressStep = 4194304;  // 4 MiB

// What a job does with the blocks of its source, span by span.
class BlockConsumer {
public:
    virtual ~BlockConsumer() = default;
    virtual void spanStarted(size_t /*span*/) {}
    // The job's buffer holds `length` bytes read from `offset` of span `span`. False ends the
    // span after this block.
    virtual bool block(size_t span, int64_t offset, size_t length) = 0;
    // The span was read to its end, ended by block(), or the job was cancelled.
    virtual void spanEnded(size_t /*span*/) {}
    // What the job does to span `span`, for its progress (a rebuild names it).
    virtual void describeProgress(size_t /*span*/, JobProgress& /*progress*/) const {}
};

// The one loop that reads a job's source: block by block into the job's buffer from the
// source's position, span after span, never a block across two spans. It reports each span's
// progress every 4 MiB (where a window handles its input), stops when the job is cancelled,
// and checks that every span it read is still what was opened. Platform errors and those of
// the consumer propagate. With `end`, the loop stops at that position of the source, a block
// boundary.
void readSpans(JobState& job, OsServices& os, Reporter& reporter, BlockConsumer& consumer,
               int64_t end = INT64_MAX);

}  // namespace tolvane
