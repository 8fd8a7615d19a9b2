#pragma once

#include "demux/job_state.h"
#include "demux/stream_registry.h"

namespace tolvane {

// What the passes of one job share: the stream table and the job's state. Each job makes its
// own; nothing of it outlives the job but what its result carries.
struct JobRecords {
    explicit JobRecords(JobControl& control) : job(control) {}

    StreamRegistry streams;
    JobState job;
};

}  // namespace tolvane
