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
};

// The read job, then the demux job of the chosen streams (`onePass` false), or the one job
// that does both, into a folder of their own.
Outcome runJobs(JobRun run, bool onePass);

// The read job's log alone.
std::vector<std::string> readLog(const JobRun& run);

}  // namespace tolvane::fixture
