#include "jobs/read_job.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "core/platform_error.h"
#include "core/time_format.h"

namespace tolvane {

void takeReadFindings(JobRecords& state, ReadResult& result) {
    // The passes gave every stream of both files its box as they met it.
    StreamRegistry& streams = state.streams;
    result.streams = labelledBoxes(streams);
    for (StreamBox& box : result.streams) {
        box.language = languageOf(state.job.languages, box.kind, box.id);
        box.viewport = viewportOf(state.job.languages, box.kind, box.id);
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
    result.seams = job.seams;
    result.unlistedSeams = job.unlistedSeams;
}

void reportSeams(const ReadResult& read, Reporter& log, const LocaleSettings& settings) {
    constexpr size_t kLogged = 20;
    const int64_t start = read.earliestPts.value_or(0);
    for (size_t k = 0; k < read.seams.size() && k < kLogged; ++k) {
        const Seam& seam = read.seams[k].seam;
        const double gap = static_cast<double>(seam.gap) / kTicksPerSecond;
        char amount[32];
        std::snprintf(amount, sizeof amount, "%.3f s", std::abs(gap));
        std::string where = "byte " + std::to_string(seam.position) + " of " + read.seams[k].span;
        if (seam.vob) {
            where = "VOB number " + std::to_string(*seam.vob) + ", " + where;
        }
        log.log({gap < 0 ? "Time stamps go back " : "Time stamps jump on ", asStrong(amount),
                 " at " +
                     formatDuration(static_cast<double>(seam.time - start) / kTicksPerSecond,
                                    settings) +
                     " (" + where + "): the time runs on across them."});
    }
    const int64_t more =
        static_cast<int64_t>(read.seams.size() - std::min(read.seams.size(), kLogged)) +
        read.unlistedSeams;
    if (more > 0) {
        log.log("Time stamps jump at " + std::to_string(more) +
                " more places (the JSON report lists the first 1000).");
    }
}

ReadResult ReadJob::run(const ReadInput& input) {
    JobRecords& state = records();
    const PathStyle style = context_.style;
    const JobPassOptions options(input.settings);
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
            reportSeams(result, context_.log, state.job.formatSettings);
            finish(result, true, names.second);
            return result;
        },
        [](const JobError&) {});
}

}  // namespace tolvane
