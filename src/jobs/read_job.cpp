#include "jobs/read_job.h"

#include "core/platform_error.h"
#include "jobs/markup.h"

namespace tolvane {

void takeReadFindings(SharedState& state, bool aobSource, ReadResult& result) {
    // Every stream of the last file read gets the box of its number.
    StreamTable& streams = state.streams;
    for (size_t n = 0; n < streams.videoBoxId.size(); ++n) {
        streams.videoBoxId[n] = streams.videoId[n];
    }
    for (size_t n = 0; n < streams.audioBoxId.size(); ++n) {
        streams.audioBoxId[n] = streams.audioId[n];
    }
    for (size_t n = 0; n < streams.subBoxId.size(); ++n) {
        streams.subBoxId[n] = streams.subId[n];
    }
    result.streams = labelledBoxes(streams, aobSource);
    const JobState& job = state.job;
    if (job.ptmKnown || job.copyControl || job.firstVobNumber) {
        NavigationSummary& navigation = result.navigation.emplace();
        navigation.vobNumber = job.firstVobNumber;
        if (job.ptmKnown) {
            navigation.firstPtm = job.firstPtm;
            navigation.lastPtm = job.lastPtm;
        }
        navigation.durationSeconds = job.totalSeconds;
        navigation.copyControl = job.copyControl;
    }
}

ReadResult ReadJob::run(const ReadInput& input) {
    SharedState& state = context_.state;
    Reporter& log = context_.log;
    const PathStyle style = context_.style;
    const JobPassOptions options(input.settings, input.sourcePath, style);
    const bool continueOn = input.settings.continueOnSecondFile;
    const std::string sourceName = fileNamePart(input.sourcePath, style);
    ReadResult result;
    try {
        resetForReadJob(state);
        state.streams.videoBoxId.fill(kStreamAbsent);
        state.streams.audioBoxId.fill(kStreamAbsent);
        state.streams.subBoxId.fill(kStreamAbsent);
        const JobNames names =
            formJobNames(sourceName, input.sourcePath, continueOn, style, context_.fileExists);
        result.baseName = names.baseName;

        log.log("Opening file [b]" + escapeMarkup(sourceName) + "[/b]");
        openSource(input.sourcePath);
        log.log("Reading...");
        log.slog("Reading " + sourceName + " ", StatusPanel::Job);
        log.log(sizeReport(state.job.source->size()));
        runPass(PassMode::Detection, options);

        continueOnSecondFile(names, continueOn, PassMode::Detection, options);
        closeSource();

        takeReadFindings(state, options.sourceIsAob(), result);
        finish(result, true, names.second);
    } catch (const JobError&) {
        endAfterError();
        throw;
    }
    return result;
}

}  // namespace tolvane
