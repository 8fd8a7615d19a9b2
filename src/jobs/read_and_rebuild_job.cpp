#include "jobs/read_and_rebuild_job.h"

#include <algorithm>
#include <array>
#include <bitset>
#include <memory>

#include "core/file_output.h"
#include "demux/pack_scanner.h"
#include "jobs/stream_selection.h"
#include "sinks/detection_pass.h"
#include "sinks/navigation.h"
#include "sinks/rebuild_blocks.h"

namespace tolvane {

namespace {

// The blocks at the start of each span in which its first navigation pack is looked for.
constexpr int kProbeBlocks = 4;

// The times a read gives the rebuilt navigation packs, guessed before the pass from the DSIs
// at the start of each span: a real file's VOBs begin there.
std::optional<PackRebuilder::Times> firstDsiTimes(SpanSource& source, JobControl& control,
                                                  Reporter& log) {
    const auto probe = std::make_unique<JobRecords>(control);
    struct FirstDsi : PassHooks {
        NavigationContext context;
        bool found = false;
        explicit FirstDsi(NavigationContext c) : context(c) {}
        void dsiPacket(size_t offset, ScanState& scan) override {
            analyseDsi(context, offset, scan);
            found = true;
        }
    };
    JobState& job = probe->job;
    // The VOBs of the DSIs met, as the read sums them.
    Timeline vobs;
    for (size_t span = 0; span < source.spanCount(); ++span) {
        // Blocks as the pass reads them, from the span's start: a DSI across two is passed over
        // by both alike.
        FirstDsi hooks({*probe, log, false, source.kind()});
        PackScanner scanner(probe->streams, hooks, false, &vobs);
        source.seek(source.spanStart(span));
        const int64_t end = source.spanStart(span) + source.spanLength(span);
        for (int k = 0; k < kProbeBlocks && !hooks.found && source.position() < end; ++k) {
            const auto wanted = static_cast<size_t>(std::min<int64_t>(
                static_cast<int64_t>(job.buffer.size()), end - source.position()));
            job.bufferLength = readBlock(source, job.buffer.data(), wanted);
            scanner.scanBlock(job.buffer.data(), job.bufferLength);
        }
    }
    source.seek(0);
    std::optional<NavigationSummary> navigation;
    if (job.ptmKnown) {
        navigation = NavigationSummary{
            .firstPtm = job.firstPtm,
            .durationSeconds = static_cast<double>(vobs.navigationTicks()) / kTicksPerSecond};
    }
    return PackRebuilder::rebuiltTimes(navigation);
}

// The read's pass, which tells the rebuild of every stream it labels.
class LabellingPass : public DetectionPass {
public:
    using StreamMet = std::function<void(StreamKind, int32_t number, int32_t key)>;

    LabellingPass(JobRecords& state, Reporter& log, const PassOptions& options,
                  HeaderAnalysers& analysers, StreamMet met)
        : DetectionPass(state, log, options, analysers), met_(std::move(met)) {}

    void streamRegistered(const StreamContext& stream, ScanState& scan) override {
        DetectionPass::streamRegistered(stream, scan);
        met_(stream.kind, stream.number, stream.id);
    }

private:
    StreamMet met_;
};

}  // namespace

ReadAndRebuildResult ReadAndRebuildJob::run(const ReadAndRebuildInput& input) {
    JobRecords& state = records();
    StreamRegistry& streams = state.streams;
    JobControl& control = state.job.control;
    Reporter& log = context_.log;
    const PathStyle style = context_.style;
    const JobPassOptions readOptions(input.settings);
    const std::string sourceName = fileNamePart(input.sourcePath, style);
    ReadAndRebuildResult result;
    ReadResult& read = result.read;
    std::unique_ptr<FileOutput> output;
    // The streams chosen so far, per kind and number: each is chosen when it is labelled.
    std::array<std::bitset<32>, 3> chosen;
    PackRebuilder rebuilder(
        streams,
        [&chosen](StreamKind kind, int32_t number) {
            return number >= 0 && number < 32 &&
                   chosen[static_cast<size_t>(kind)].test(static_cast<size_t>(number));
        },
        log);
    rebuilder.start();
    // The block in which the rebuild's choice last changed, and the bytes written before it:
    // what was written before is written again once the choice is final.
    int64_t changedAt = 0;
    uint64_t writtenBefore = 0;
    // An output that did not end normally: kept as FileOutput::closeIncomplete() keeps it, unless
    // its first part follows a choice that changed since (nothing of it is left then).
    const auto endOutput = [&](bool keep) {
        if (output && keep && changedAt == 0) {
            output->closeIncomplete();
        } else if (output) {
            output->discard();
        }
        output.reset();
    };
    return ended(
        [&] {
            const JobNames names = namesFor(input.sourcePath, input.settings);
            read.baseName = names.baseName;
            const std::string outputName =
                outputPrefix(input.outputFolder, names.baseName, style) + ".rebuilt.EVO";
            prepareOutputFolder(input.outputFolder);
            checkOutputFileName(outputName, style);

            openForReading(input.sourcePath, names, input.settings);
            // The rebuild copies the source's runs as they are: a sector it cannot read ends it.
            state.job.skipUnreadable = false;
            checkOutputTarget(outputName, inputs_);
            output = std::make_unique<FileOutput>(outputName);

            SpanSource& source = *state.job.source;
            RebuildOptions options{input.advancedPacks, firstDsiTimes(source, control, log)};
            const std::optional<PackRebuilder::Times> guessedTimes = options.times;
            LabellingPass pass(
                state, log, readOptions, *analysers_,
                [&](StreamKind kind, int32_t number, int32_t key) {
                    StreamBox box = boxMet(streams, kind, number, key);
                    box.language = languageOf(state.job.languages, kind, key);
                    box.viewport = viewportOf(state.job.languages, kind, key);
                    if (chosenBy(input.select, box)) {
                        chosen[static_cast<size_t>(kind)].set(static_cast<size_t>(number));
                    }
                    if (rebuilder.reselect()) {
                        changedAt =
                            source.position() - static_cast<int64_t>(state.job.bufferLength);
                        writtenBefore = output->bytesWritten();
                    }
                });
            RebuildBlocks blocks(state.job, rebuilder, *output, options, style, {});
            runPass(PassMode::Detection, pass, &blocks);
            takeReadFindings(state, read);
            reportSeams(read, log, state.job.formatSettings);
            for (StreamBox& box : read.streams) {
                box.chosen =
                    chosen[static_cast<size_t>(box.kind)].test(static_cast<size_t>(box.number));
            }

            if (!control.cancelled) {
                const std::optional<std::string> unknown = unknownName(input.select, read.streams);
                const std::optional<std::string> refused = rebuilder.refusal();
                const bool none = std::none_of(read.streams.begin(), read.streams.end(),
                                               [](const StreamBox& box) { return box.chosen; });
                if (unknown || refused || none) {
                    endOutput(false);
                    closeSource();
                    finish(read, true, names.second);
                    if (unknown) {
                        throw SelectionError(*unknown, read.streams);
                    }
                    if (refused) {
                        throw JobError(ErrorCode::Usage, *refused);
                    }
                    return result;  // no stream to rebuild
                }
                // Times that differ from the first DSIs' outdate every navigation pack written.
                options.times = PackRebuilder::rebuiltTimes(read.navigation);
                if (options.times != guessedTimes) {
                    changedAt = source.position();
                    writtenBefore = output->bytesWritten();
                }
                if (changedAt > 0) {
                    source.seek(0);
                    OverwritingSink again(*output);
                    RebuildBlocks first(state.job, rebuilder, again, options, style, {});
                    readSpans(state.job, context_.os, log, first, changedAt);
                    if (!control.cancelled && again.finish() != writtenBefore) {
                        throw JobError(
                            ErrorCode::InputOutput,
                            "The rebuild of " + sourceName +
                                " kept other packs the second time: nothing was written.");
                    }
                    if (!control.cancelled) {
                        changedAt = 0;  // the whole output follows the final choice
                    }
                }
            }
            closeSource();
            if (control.cancelled && changedAt > 0) {
                endOutput(false);
            } else if (control.cancelled) {
                output->closeIncomplete();
                if (output->bytesWritten() > 0) {
                    result.output =
                        OutputWritten{std::nullopt, 0, output->path(), output->bytesWritten()};
                }
                endOutput(false);
            } else {
                log.log("Creating " + output->path());
                output->close();
                result.output =
                    OutputWritten{std::nullopt, 0, output->path(), output->bytesWritten()};
            }
            finish(read, true, names.second);
            return result;
        },
        [&](const JobError&) { endOutput(true); });
}

}  // namespace tolvane
