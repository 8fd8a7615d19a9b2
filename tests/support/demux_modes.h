#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "jobs/read_and_demux_job.h"
#include "program_stream_builder.h"

namespace tolvane::fixture {

// What a run of the jobs leaves, the output folder left out of its texts.
struct Outcome {
    std::vector<std::string> log;
    ReadResult read;
    std::vector<OutputWritten> outputs;
    std::map<std::string, Bytes> files;  // by name
    std::optional<std::string> error;
};

struct JobRun {
    std::map<std::string, Bytes> files;  // the source files, by name
    std::string source = "TITLE.EVO";
    PassSettings settings{.fastCheck = false};
    OutputNaming naming;
    std::optional<std::vector<std::string>> select;
    // For a rebuild: keep the advanced packs too.
    bool advancedPacks = false;
};

// The read job, then the demux job of the chosen streams (`onePass` false), or the one job
// that does both, into a folder of their own.
Outcome runJobs(JobRun run, bool onePass);

// What a rebuild left: the file (none when nothing was chosen) or its error, and the bytes it
// read of the source.
struct RebuildOutcome {
    std::optional<Bytes> file;
    std::string error;
    int64_t bytesRead = 0;
};

// The read job, then the rebuild job of what the selection names (`onePass` false), or the one
// job that does both, into a folder of their own.
RebuildOutcome runRebuild(const JobRun& run, bool onePass);

// What the Matroska job left: the read, the file (none when it wrote none) or its error.
struct MatroskaOutcome {
    ReadResult read;
    std::optional<Bytes> file;
    std::optional<std::string> error;
};

// The one job that writes the chosen streams into one Matroska file, in a folder of its own.
MatroskaOutcome runMatroska(const JobRun& run);

// The read job's log alone.
std::vector<std::string> readLog(const JobRun& run);

}  // namespace tolvane::fixture
