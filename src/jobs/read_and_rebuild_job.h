#pragma once

#include <optional>
#include <string>
#include <vector>

#include "jobs/demux_job.h"
#include "jobs/read_job.h"

namespace tolvane {

struct ReadAndRebuildInput {
    std::string sourcePath;
    PassSettings settings;
    std::string outputFolder;
    // Keep the advanced packs too.
    bool advancedPacks = false;
    // The streams to keep, by box name or caption in any case; none: every stream.
    std::optional<std::vector<std::string>> select;
};

struct ReadAndRebuildResult {
    ReadResult read;
    // The rebuilt file; none when no stream was chosen. A cancelled job keeps what it wrote, as
    // FileOutput::closeIncomplete() keeps it.
    std::optional<OutputWritten> output;
};

// A read that rebuilds the source as it goes: one pass, both files of a feature included. The
// read labels the streams of each file's first part (the fast check) as ever, and the rebuild
// keeps each chosen stream from the moment it is labelled. The rebuild is what a read, then a
// rebuild, writes: the times of the navigation packs are taken from each file's first one
// before the pass, and the rare packs written before the last stream was labelled are written
// again at the end, read anew from the source. The log is the read's, then the file made.
class ReadAndRebuildJob : SourceJob {
public:
    explicit ReadAndRebuildJob(const JobContext& context) : SourceJob(context) {}

    // Throws JobError when a file cannot be opened, read, created or written, or the chosen
    // streams cannot be rebuilt, leaving no output; SelectionError, leaving no output, when
    // `select` names a box the read did not label.
    ReadAndRebuildResult run(const ReadAndRebuildInput& input);
};

}  // namespace tolvane
