#include "demux_modes.h"

#include <filesystem>

#include "job_engine.h"
#include "temp_dir.h"

namespace tolvane::fixture {

namespace {

void leaveOut(std::string& text, const std::string& folder) {
    if (const size_t at = text.find(folder); at != std::string::npos) {
        text.replace(at, folder.size(), "OUT");
    }
}

void runJobs(Engine& engine, DemuxOutcome& outcome, const std::string& name, bool onePass,
             const PassSettings& settings, const OutputNaming& naming) {
    if (onePass) {
        ReadAndDemuxJob job(engine.context);
        const ReadAndDemuxInput input{name, settings, naming};
        outcome.fitted = job.fits(input);
        ReadAndDemuxResult result = job.run(input);
        outcome.read = std::move(result.read);
        outcome.demux = std::move(result.demux);
        return;
    }
    outcome.read = ReadJob(engine.context).run(ReadInput{name, settings});
    if (!outcome.read.streams.empty() && !outcome.read.cancelled) {
        outcome.demux =
            DemuxJob(engine.context).run(DemuxInput{name, settings, outcome.read.streams, naming});
    }
}

}  // namespace

DemuxOutcome demuxEveryStream(const Bytes& source, const std::string& name, bool onePass,
                              PassSettings settings, OutputNaming naming) {
    TempDir dir;
    Engine engine;
    engine.files[name] = source;
    naming.folder = dir.path().string();
    settings.fastCheck = false;
    DemuxOutcome outcome;
    try {
        runJobs(engine, outcome, name, onePass, settings, naming);
    } catch (const JobError& error) {
        outcome.error = error.what();
        leaveOut(*outcome.error, naming.folder);
    }
    for (const LogLine& line : engine.log.lines()) {
        outcome.log.push_back(line.text);
        leaveOut(outcome.log.back(), naming.folder);
    }
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        outcome.files[entry.path().filename().string()] = readFile(entry.path());
    }
    if (outcome.demux) {
        for (OutputWritten& output : outcome.demux->outputs) {
            output.path = std::filesystem::path(output.path).filename().string();
        }
    }
    return outcome;
}

}  // namespace tolvane::fixture
