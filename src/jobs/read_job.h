#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "jobs/job_context.h"
#include "sinks/navigation.h"

namespace tolvane {

struct ReadInput {
    std::string sourcePath;
    PassSettings settings;
};

struct ReadResult : PassesResult {
    std::optional<NavigationSummary> navigation;
    // Every stream found, one box each, in box order.
    std::vector<StreamBox> streams;
    // The streams left out because every box of their kind was taken, as the log said them.
    std::vector<std::string> warnings;
    // The earliest first PTS of the streams read: what a demux's .sup times count from.
    std::optional<int64_t> earliestPts;
    // Where the source's time stamps jump, times on its timeline; more past the listed ones.
    std::vector<NamedSeam> seams;
    int64_t unlistedSeams = 0;
};

// What the read's passes found, taken into `result`: every stream with the box it was given.
void takeReadFindings(JobRecords& state, ReadResult& result);

// The log's lines on where the read's time stamps jump, at most 20 of them.
void reportSeams(const ReadResult& read, Reporter& log, const LocaleSettings& settings);

// The read job: a detection pass over the source (and the second feature file) that reports
// every stream and gives each a box.
class ReadJob : SourceJob {
public:
    explicit ReadJob(const JobContext& context) : SourceJob(context) {}
    // Throws JobError when a file cannot be opened or read.
    ReadResult run(const ReadInput& input);
};

}  // namespace tolvane
