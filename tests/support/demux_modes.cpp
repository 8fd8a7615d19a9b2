#include "demux_modes.h"

#include <filesystem>

#include "job_engine.h"
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
