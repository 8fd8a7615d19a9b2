#pragma once

#include <optional>
#include <string>
#include <vector>

#include "jobs/demux_job.h"
#include "jobs/read_job.h"

namespace tolvane {

struct ReadAndDemuxInput {
    std::string sourcePath;
    PassSettings settings;
    OutputNaming naming;
    // The streams to write, by box name or caption in any case; none: every stream.
    std::optional<std::vector<std::string>> select;
};

struct ReadAndDemuxResult {
    ReadResult read;
    // The files written, in box order: none when no stream was found or chosen. A cancelled
    // job keeps what it wrote, as FileOutput::closeIncomplete() keeps it.
    std::vector<OutputWritten> outputs;
};

// A read that writes every chosen stream as it goes: one pass over the source, both files of a
// feature included. Each stream's output is made when the stream is met and takes its final
// name, with its delay, when the pass is done; its log is the read's, then the files made.
// The whole source is read, so frames are counted over all of it whatever the fast check says.
class ReadAndDemuxJob : SourceJob {
public:
    explicit ReadAndDemuxJob(const JobContext& context) : SourceJob(context) {}

    // Throws JobError when a file cannot be opened, read, created or written, at once and
    // keeping what was written; SelectionError, writing nothing, when `select` names a box the
    // read did not label.
    ReadAndDemuxResult run(const ReadAndDemuxInput& input);
};

}  // namespace tolvane
