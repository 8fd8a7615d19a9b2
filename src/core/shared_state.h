#pragma once

#include "core/job_state.h"
#include "core/stream_table.h"

namespace tolvane {

// The process-wide records that every job, pass and analyser shares. One instance lives in the
// window model; tests make their own.
struct SharedState {
    StreamTable streams;
    JobState job;
};

// The reset rules, in the order in which a job applies them.
void resetForReadJob(SharedState& state);
void resetForDemuxJob(SharedState& state);
void resetForPassStart(SharedState& state, bool demuxPass);
void resetForSpanStart(SharedState& state);
void resetForPassEnd(SharedState& state);
void resetForWritingJobEnd(SharedState& state);

}  // namespace tolvane
