#include "jobs/rebuild_job.h"

#include "core/file_output.h"
#include "core/platform_error.h"
#include "demux/block_loop.h"
#include "jobs/demux_job.h"
#include "sinks/rebuild_blocks.h"

namespace tolvane {

void RebuildJob::rebuildSource(PackRebuilder& rebuilder, OutputSink& output,
                               const RebuildInput& input) {
    context_.cancellable(true);
    JobState& job = records().job;
    const RebuildOptions options{input.advancedPacks, input.times};
    RebuildBlocks blocks(job, rebuilder, output, options, context_.style, [this](size_t span) {
        announceSpan(span, JobActivity::Rebuilding, false);
    });
    try {
        readSpans(job, context_.os, context_.log, blocks);
    } catch (...) {
        context_.cancellable(false);
        throw;
    }
    context_.cancellable(false);
}

RebuildResult RebuildJob::run(const RebuildInput& input) {
    JobRecords& state = records();
    Reporter& log = context_.log;
    const PathStyle style = context_.style;
    const JobPassOptions options(input.settings, input.boxes);
    const std::string sourceName = fileNamePart(input.sourcePath, style);
    std::unique_ptr<FileOutput> output;
    RebuildResult result;
    return ended(
        [&] {
            state.job.control.writing = true;
            storeBoxIds(state.streams, input.boxes);
            PackRebuilder rebuilder(
                state.streams,
                [&options](StreamKind kind, int32_t number) {
                    return options.chosen(kind, number);
                },
                log);
            if (const std::optional<std::string> refused = rebuilder.start()) {
                throw JobError(ErrorCode::Usage, *refused);
            }
            const JobNames names = namesFor(input.sourcePath, input.settings);
            result.baseName = names.baseName;
            const std::string prefix = outputPrefix(input.outputFolder, names.baseName, style);

            prepareOutputFolder(input.outputFolder);
            log.log({"Opening file ", asStrong(sourceName)});
            log.activity(JobActivity::Opening);
            log.log(sizeReport(openSource(input.sourcePath, names, input.settings)));
            // The rebuild copies the source's runs as they are: a sector it cannot read ends it.
            state.job.skipUnreadable = false;
            const std::string outputName = prefix + ".rebuilt.EVO";
            checkOutputFileName(outputName, style);
            checkOutputTarget(outputName, inputs_);
            output = std::make_unique<FileOutput>(outputName);
            log.log("Creating " + outputName);
            log.log("Rebuilding...");
            log.activity(JobActivity::Rebuilding, sourceName);
            rebuildSource(rebuilder, *output, input);
            closeSource();
            if (state.job.control.cancelled) {
                output->closeIncomplete();  // never in place of a whole file of its name
            } else {
                output->close();
            }
            result.output = OutputWritten{std::nullopt, 0, output->path(), output->bytesWritten()};
            finish(result, false, names.second);
            return result;
        },
        [&](const JobError&) {
            if (output) {
                output->closeIncomplete();
            }
        });
}

}  // namespace tolvane
