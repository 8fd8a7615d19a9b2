#include "jobs/read_job.h"

#include "core/platform_error.h"
#include "jobs/markup.h"

namespace tolvane {

void takeReadFindings(JobRecords& state, ReadResult& result) {
    // The passes gave every stream of both files its box as they met it.
    StreamTable& streams = state.streams;
    result.streams = labelledBoxes(streams);
    for (StreamBox& box : result.streams) {
        box.language = languageOf(state.job.languages, box.kind, box.id);
    }
    result.warnings = streams.warnings;
    const JobState& job = state.job;
    // A read that stopped early knows how long the streams play no better than their counts.
    if (job.countStoppedAt) {
        for (StreamBox& box : result.streams) {
            box.duration.reset();
        }
        result.warnings.push_back("Only the first " +
                                  std::to_string(*job.countStoppedAt / kMebibyte) +
                                  " MiB were read: the frame counts are partial, and the durations "
                                  "and bit rates are left out (--full reads the whole source).");
    }
    if (job.minPts != kNoPts) {
        result.earliestPts = job.minPts;
    }
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
    JobRecords& state = records();
    const PathStyle style = context_.style;
    const JobPassOptions options(input.settings, input.sourcePath, style);
    const std::string sourceName = fileNamePart(input.sourcePath, style);
    ReadResult result;
    return ended(
        [&] {
            const JobNames names = namesFor(input.sourcePath, input.settings);
            result.baseName = names.baseName;

            openForReading(input.sourcePath, names, input.settings);
            runPass(PassMode::Detection, options);
            closeSource();

            takeReadFindings(state, result);
            finish(result, true, names.second);
            return result;
        },
        [](const JobError&) {});
}

}  // namespace tolvane
