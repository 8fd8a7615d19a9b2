#include "demux_modes.h"

#include <algorithm>
#include <filesystem>

#include "job_engine.h"
#include "jobs/mkv_job.h"
#include "jobs/read_and_rebuild_job.h"
#include "jobs/rebuild_job.h"
#include "jobs/stream_selection.h"
#include "temp_dir.h"

namespace tolvane::fixture {

namespace {

void leaveOut(std::string& text, const std::string& folder) {
    if (const size_t at = text.find(folder); at != std::string::npos) {
        text.replace(at, folder.size(), "OUT");
    }
}

}  // namespace

// The read job, then the demux job of the chosen streams (`onePass` false), or the one job.
Outcome runJobs(JobRun run, bool onePass) {
    fixture::TempDir dir;
    Engine engine;
    engine.files = run.files;
    run.naming.folder = dir.path().string();
    Outcome outcome;
    try {
        if (onePass) {
            ReadAndDemuxResult result =
                ReadAndDemuxJob(engine.context)
                    .run({run.source, run.settings, run.naming, run.select});
            outcome.read = std::move(result.read);
            outcome.outputs = std::move(result.outputs);
        } else {
            outcome.read = ReadJob(engine.context).run(ReadInput{run.source, run.settings});
            std::vector<StreamBox> boxes = outcome.read.streams;
            if (run.select) {
                applySelection(boxes, *run.select);
            }
            outcome.outputs =
                DemuxJob(engine.context)
                    .run({run.source,
                          run.settings,
                          boxes,
                          run.naming,
                          outcome.read.earliestPts,
                          {outcome.read.frames[0].frameRate, outcome.read.frames[1].frameRate}})
                    .outputs;
        }
    } catch (const JobError& error) {
        outcome.error = error.what();
        leaveOut(*outcome.error, run.naming.folder);
    }
    for (const LogLine& line : engine.log.lines()) {
        outcome.log.push_back(line.text);
        leaveOut(outcome.log.back(), run.naming.folder);
    }
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        outcome.files[entry.path().filename().string()] = readFile(entry.path());
    }
    for (OutputWritten& output : outcome.outputs) {
        output.path = std::filesystem::path(output.path).filename().string();
    }
    return outcome;
}

MatroskaOutcome runMatroska(const JobRun& run) {
    fixture::TempDir dir;
    Engine engine;
    engine.files = run.files;
    MatroskaOutcome outcome;
    try {
        MkvResult result =
            MkvJob(engine.context).run({run.source, run.settings, dir.path().string(), run.select});
        outcome.read = std::move(result.read);
        if (result.output) {
            outcome.file = readFile(result.output->path);
        }
    } catch (const JobError& error) {
        outcome.error = error.what();
        leaveOut(*outcome.error, dir.path().string());
    }
    return outcome;
}

namespace {

// A source held in memory that counts the bytes read from it.
class CountingSource : public MemorySource {
public:
    CountingSource(Bytes data, int64_t& count) : MemorySource(std::move(data)), count_(count) {}
    size_t read(uint8_t* out, size_t length) override {
        const size_t n = MemorySource::read(out, length);
        count_ += static_cast<int64_t>(n);
        return n;
    }

private:
    int64_t& count_;
};

}  // namespace

RebuildOutcome runRebuild(const JobRun& run, bool onePass) {
    fixture::TempDir dir;
    Engine engine;
    engine.files = run.files;
    RebuildOutcome outcome;
    engine.context.openInput = [&](const std::string& path) -> std::unique_ptr<InputSource> {
        const auto found = engine.files.find(path);
        if (found == engine.files.end()) {
            throw PlatformError("Cannot open file \"" + path + "\". No such file or directory");
        }
        return std::make_unique<CountingSource>(found->second, outcome.bytesRead);
    };
    const std::string folder = dir.path().string();
    try {
        std::optional<OutputWritten> output;
        if (onePass) {
            output = ReadAndRebuildJob(engine.context)
                         .run({run.source, run.settings, folder, run.advancedPacks, run.select})
                         .output;
        } else {
            const ReadResult read = ReadJob(engine.context).run({run.source, run.settings});
            std::vector<StreamBox> boxes = read.streams;
            if (run.select) {
                if (const std::optional<std::string> unknown = applySelection(boxes, *run.select)) {
                    throw SelectionError(*unknown, boxes);
                }
            }
            if (std::any_of(boxes.begin(), boxes.end(),
                            [](const StreamBox& b) { return b.chosen; })) {
                output = RebuildJob(engine.context)
                             .run({.sourcePath = run.source,
                                   .settings = run.settings,
                                   .boxes = boxes,
                                   .outputFolder = folder,
                                   .advancedPacks = run.advancedPacks,
                                   .times = PackRebuilder::rebuiltTimes(read.navigation)})
                             .output;
            }
        }
        if (output) {
            outcome.file = readFile(output->path);
        }
    } catch (const JobError& error) {
        outcome.error = error.what();
        leaveOut(outcome.error, folder);
    }
    // No file but the rebuilt one is left.
    if (std::distance(std::filesystem::directory_iterator(dir.path()), {}) !=
        (outcome.file ? 1 : 0)) {
        outcome.error += " (and files left behind)";
    }
    return outcome;
}

// The read job's log alone.
std::vector<std::string> readLog(const JobRun& run) {
    Engine engine;
    engine.files = run.files;
    ReadJob(engine.context).run(ReadInput{run.source, run.settings});
    std::vector<std::string> log;
    for (const LogLine& line : engine.log.lines()) {
        log.push_back(line.text);
    }
    return log;
}

}  // namespace tolvane::fixture
