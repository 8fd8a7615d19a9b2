#include "jobs/rebuild_job.h"

#include "core/file_output.h"
#include "core/pack_engine.h"
#include "core/platform_error.h"
#include "core/progress.h"
#include "jobs/demux_job.h"
#include "jobs/markup.h"

namespace tolvane {

namespace {

// Kept packs that stay as they are, one after another in the source: the system copies them
// from the source file to the output itself, as cp does, and from the block only what it cannot.
class UnchangedPacks {
public:
    UnchangedPacks(OutputSink& output, const InputSource& source)
        : output_(output), descriptor_(source.descriptor()) {}

    void add(const uint8_t* pack, int64_t offset, size_t length) {
        if (length_ == 0) {
            first_ = pack;
            offset_ = offset;
        }
        length_ += length;
    }

    // Appends the packs gathered so far; done before anything else is appended and before the
    // block they lie in is read over.
    void flush() {
        if (length_ == 0) {
            return;
        }
        const size_t copied = output_.appendFromFile(descriptor_, offset_, length_);
        if (copied < length_) {
            output_.append(first_ + copied, length_ - copied);
        }
        length_ = 0;
    }

private:
    OutputSink& output_;
    int descriptor_;
    const uint8_t* first_ = nullptr;
    int64_t offset_ = 0;
    size_t length_ = 0;
};

}  // namespace

void RebuildJob::rebuildSource(PackRebuilder& rebuilder, OutputSink& output,
                               const std::string& name, const RebuildInput& input) {
    context_.cancellable(true);
    JobState& job = context_.state.job;
    job.cancelled = false;
    InputSource& source = *job.source;
    const int64_t size = source.size();
    const double start = context_.os.now();
    bool stop = false;
    UnchangedPacks unchanged(output, source);
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
            const bool kept = rebuilder.process(pack, n, input.advancedPacks, input.times);
            if (kept && !rebuilder.lastPackChanged()) {
                unchanged.add(pack, blockStart + static_cast<int64_t>(at), n);
            } else {
                unchanged.flush();
                if (kept) {
                    output.append(pack, n);
                }
            }
            stop = job.cancelled;
        }
        unchanged.flush();
    }
    if (!job.cancelled) {
        source.checkUnchanged();
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

        prepareOutputFolder(input.outputFolder);
        log.log("Opening file [b]" + escapeMarkup(sourceName) + "[/b]");
        log.slog("Opening", StatusPanel::Job);
        openSource(input.sourcePath);
        log.log(sizeReport(state.job.source->size()));
        const std::string outputName = prefix + ".rebuilt.EVO";
        checkOutputFileName(outputName, style);
        checkOutputTarget(outputName, names.inputs(input.sourcePath));
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
        if (state.job.cancelled) {
            output->closeIncomplete();  // never in place of a whole file of its name
        } else {
            output->close();
        }
        result.output = OutputWritten{std::nullopt, 0, output->path(), output->bytesWritten()};
        finish(result, false, names.second);
    } catch (const JobError&) {
        if (output) {
            output->closeIncomplete();
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
