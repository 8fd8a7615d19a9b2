#pragma once

#include <optional>
#include <string>

#include "jobs/demux_job.h"
#include "jobs/read_job.h"

namespace tolvane {

struct ReadAndDemuxInput {
    std::string sourcePath;
    PassSettings settings;
    OutputNaming naming;
};

struct ReadAndDemuxResult {
    ReadResult read;
    // None when the read found no stream or was cancelled: then no file is written.
    std::optional<DemuxResult> demux;
};

// A read job followed by a demux job of every stream it finds, in one pass over the source:
// the log, the results and the files are those of the two jobs run one after the other, and
// the file is read once. The demux job's part of the log is held until the read's part ends;
// the outputs are created as their streams are met and take their final names at the end.
class ReadAndDemuxJob : SourceJob {
public:
    explicit ReadAndDemuxJob(const JobContext& context) : SourceJob(context) {}

    // Whether one pass gives what the two jobs give: a whole read (no fast check) of a source
    // that has no second feature file to go on to, and names that any stream's file fits in.
    bool fits(const ReadAndDemuxInput& input) const;
    // Throws JobError when a file cannot be opened, read, created or written; what was written
    // until then is kept.
    ReadAndDemuxResult run(const ReadAndDemuxInput& input);
};

}  // namespace tolvane
