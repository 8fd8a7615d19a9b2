#pragma once

#include <optional>
#include <string>
#include <vector>

#include "jobs/demux_job.h"
#include "jobs/job_context.h"
#include "sinks/pack_rebuilder.h"

namespace tolvane {

struct RebuildInput {
    std::string sourcePath;
    PassSettings settings;
    // Every labelled box; the chosen ones are kept.
    std::vector<StreamBox> boxes;
    std::string outputFolder;
    // Keep the advanced packs too.
    bool advancedPacks = false;
    // The first and last PTM a read of this source met in its DSIs; without them the DSI time
    // fields stay as they are.
    std::optional<PackRebuilder::Times> times;
};

struct RebuildResult : PassesResult {
    OutputWritten output;
};

// The rebuild job: a new .EVO file that keeps only the chosen streams, renumbered, with its
// navigation packs patched to match.
class RebuildJob : SourceJob {
public:
    explicit RebuildJob(const JobContext& context) : SourceJob(context) {}
    // Throws JobError when the selection cannot be rebuilt (before anything is created) or a
    // file cannot be opened, created or written.
    RebuildResult run(const RebuildInput& input);

private:
    void rebuildSource(PackRebuilder& rebuilder, OutputSink& output, const RebuildInput& input);
};

}  // namespace tolvane
