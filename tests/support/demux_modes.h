#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "jobs/read_and_demux_job.h"
#include "program_stream_builder.h"

namespace tolvane::fixture {

// What a read and a demux of every stream leave.
struct DemuxOutcome {
    std::vector<std::string> log;
    ReadResult read;
    std::optional<DemuxResult> demux;
    std::map<std::string, Bytes> files;  // by name
    std::optional<std::string> error;
    // One pass was asked for and the job said it fits.
    bool fitted = false;
};

// Runs the read job and then the demux job over `source` held in memory as `name`
// (`onePass` false), or both in one pass, with a whole read and every stream chosen, into a
// folder of their own. The folder is left out of the log, the error and the output paths.
DemuxOutcome demuxEveryStream(const Bytes& source, const std::string& name, bool onePass,
                              PassSettings settings, OutputNaming naming);

}  // namespace tolvane::fixture
