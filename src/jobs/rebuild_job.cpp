#include "jobs/rebuild_job.h"

#include "core/block_loop.h"
#include "core/file_output.h"
#include "core/platform_error.h"
#include "jobs/demux_job.h"
#include "jobs/markup.h"

namespace tolvane {

namespace {

// Kept packs that stay as they are, one after another in a file: the system copies them from
// the source file to the output itself, as cp does, and from the block only what it cannot.
class UnchangedPacks {
public:
    explicit UnchangedPacks(OutputSink& output) : output_(output) {}

    void add(const uint8_t* pack, FileRange from, size_t length) {
        if (length_ == 0) {
            first_ = pack;
            from_ = from;
        }
        length_ += length;
    }

    // Appends the packs gathered so far; done before anything else is appended and before the
    // block they lie in is read over.
    void flush() {
        if (length_ == 0) {
            return;
        }
        const size_t copied = output_.appendFromFile(from_.descriptor, from_.offset, length_);
        if (copied < length_) {
            output_.append(first_ + copied, length_ - copied);
        }
        length_ = 0;
    }

private:
    OutputSink& output_;
    const uint8_t* first_ = nullptr;
    FileRange from_;
    size_t length_ = 0;
};

// The rebuild's pass: each block taken pack by pack, as if each pack had been read on its own.
class RebuildBlocks : public BlockConsumer {
public:
    RebuildBlocks(JobState& job, PackRebuilder& rebuilder, OutputSink& output,
                  const RebuildInput& input, PathStyle style, std::function<void(size_t)> announce)
        : job_(job),
          style_(style),
          rebuilder_(rebuilder),
          output_(output),
          input_(input),
          unchanged_(output),
          announce_(std::move(announce)) {}

    void spanStarted(size_t span) override {
        if (span > 0) {
            announce_(span);
        }
    }

    bool block(size_t span, int64_t offset, size_t length) override {
        for (size_t at = 0; at < length; at += PackRebuilder::kPackSize) {
            const size_t n = std::min(PackRebuilder::kPackSize, length - at);
            uint8_t* pack = job_.buffer.data() + at;
            const bool kept = rebuilder_.process(pack, n, input_.advancedPacks, input_.times);
            if (kept && !rebuilder_.lastPackChanged()) {
                const int64_t from = offset + static_cast<int64_t>(at);
                unchanged_.add(pack, job_.source->fileRange(span, from), n);
            } else {
                unchanged_.flush();
                if (kept) {
                    output_.append(pack, n);
                }
            }
        }
        unchanged_.flush();
        return true;
    }

    std::string progressPrefix(size_t span) const override {
        return "Rebuilding " + fileNamePart(job_.source->span(span).path, style_) + " ";
    }

private:
    JobState& job_;
    PathStyle style_;
    PackRebuilder& rebuilder_;
    OutputSink& output_;
    const RebuildInput& input_;
    UnchangedPacks unchanged_;
    std::function<void(size_t)> announce_;
};

}  // namespace

void RebuildJob::rebuildSource(PackRebuilder& rebuilder, OutputSink& output,
                               const RebuildInput& input) {
    context_.cancellable(true);
    JobState& job = records().job;
    job.control.cancelled = false;
    RebuildBlocks blocks(job, rebuilder, output, input, context_.style,
                         [this](size_t span) { announceSpan(span, "Rebuilding", false); });
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
    const JobPassOptions options(input.settings, input.sourcePath, style, input.boxes);
    const bool continueOn = input.settings.continueOnSecondFile;
    const std::string sourceName = fileNamePart(input.sourcePath, style);
    std::unique_ptr<FileOutput> output;
    RebuildResult result;
    try {
        state.job.control.writing = true;
        storeBoxIds(state.streams, input.boxes);
        PackRebuilder rebuilder(
            state.streams,
            [&options](StreamKind kind, int32_t number) { return options.chosen(kind, number); },
            log);
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
        log.log(sizeReport(openSource(input.sourcePath, names)));
        const std::string outputName = prefix + ".rebuilt.EVO";
        checkOutputFileName(outputName, style);
        checkOutputTarget(outputName, names.inputs(input.sourcePath));
        output = std::make_unique<FileOutput>(outputName);
        log.log("Creating " + escapeMarkup(outputName));
        log.log("Rebuilding...");
        log.slog("Rebuilding " + sourceName, StatusPanel::Job);
        rebuildSource(rebuilder, *output, input);
        closeSource();
        if (state.job.control.cancelled) {
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
        state.job.control.writing = false;
        endAfterError();
        throw;
    }
    state.job.control.writing = false;
    return result;
}

}  // namespace tolvane
