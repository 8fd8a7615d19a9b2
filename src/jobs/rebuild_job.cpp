#include "jobs/rebuild_job.h"

#include "core/file_output.h"
#include "core/pack_engine.h"
#include "core/platform_error.h"
#include "core/progress.h"
#include "jobs/markup.h"

namespace tolvane {

void RebuildJob::rebuildSource(PackRebuilder& rebuilder, OutputSink& output,
                               const std::string& name, const RebuildInput& input) {
    context_.cancellable(true);
    JobState& job = context_.state.job;
    job.cancelled = false;
    InputSource& source = *job.source;
    const int64_t size = source.size();
    const double start = context_.os.now();
    bool stop = false;
    while (!stop && source.position() < size && !job.cancelled) {
        const int64_t blockStart = source.position();
        const size_t read = readBlock(source, job.buffer.data(), job.buffer.size());
        job.bufferLength = read;
        if (read == 0) {
            break;
        }
        // The block is taken pack by pack, as if each pack had been read on its own.
        for (size_t at = 0; at < read && !stop; at += PackRebuilder::kPackSize) {
            const size_t n = std::min(PackRebuilder::kPackSize, read - at);
            const int64_t position = blockStart + static_cast<int64_t>(at + n);
            if (position % kProgressStep == 0) {
                context_.log.slog("Rebuilding " + name + " " +
                                      progressText(position, size, context_.os.now() - start, job),
                                  StatusPanel::Progress);
                context_.os.processEvents();
            }
            uint8_t* pack = job.buffer.data() + at;
            if (rebuilder.process(pack, n, input.advancedPacks, input.times)) {
                output.append(pack, n);
            }
            stop = job.cancelled;
        }
    }
    context_.cancellable(false);
}

RebuildResult RebuildJob::run(const RebuildInput& input) {
    SharedState& state = context_.state;
    Reporter& log = context_.log;
    const PathStyle style = context_.style;
    const JobPassOptions options(input.settings, input.sourcePath, style, input.boxes);
    const bool continueOn = input.settings.continueOnSecondFile;
    const std::string sourceName = fileNamePart(input.sourcePath, style);
    std::unique_ptr<FileOutput> output;
    RebuildResult result;
    try {
        state.job.writing = true;
        storeBoxIds(state.streams, input.boxes);
        PackRebuilder rebuilder(state.streams, options, log);
        if (const std::optional<std::string> refused = rebuilder.start()) {
            throw JobError(*refused);
        }
        const JobNames names =
            formJobNames(sourceName, input.sourcePath, continueOn, style, context_.fileExists);
        result.baseName = names.baseName;
        const std::string prefix = outputPrefix(input.outputFolder, names.baseName, style);

        log.log("Opening file [b]" + escapeMarkup(sourceName) + "[/b]");
        log.slog("Opening", StatusPanel::Job);
        openSource(input.sourcePath);
        log.log(sizeReport(state.job.source->size()));
        const std::string outputName = prefix + ".rebuilt.EVO";
        output = std::make_unique<FileOutput>(outputName);
        log.log("Creating " + escapeMarkup(outputName));
        log.log("Rebuilding...");
        log.slog("Rebuilding " + sourceName, StatusPanel::Job);
        rebuildSource(rebuilder, *output, sourceName, input);

        if (continueOn && !state.job.cancelled && names.second) {
            openSource(names.secondPath);
            const std::string secondName = fileNamePart(names.secondPath, style);
            log.log("Continue on [b]" + escapeMarkup(secondName) + "[/b]");
            log.log("Rebuilding...");
            log.slog("Rebuilding " + secondName, StatusPanel::Job);
            rebuildSource(rebuilder, *output, secondName, input);
        }
        closeSource();
        output->close();
        result.output = OutputWritten{std::nullopt, 0, output->path(), output->bytesWritten()};
        finish(result, false, names.second);
    } catch (const JobError&) {
        if (output) {
            output->closeQuietly();
        }
        context_.cancellable(false);
        resetForWritingJobEnd(state);
        endAfterError();
        throw;
    }
    resetForWritingJobEnd(state);
    return result;
}

}  // namespace tolvane
