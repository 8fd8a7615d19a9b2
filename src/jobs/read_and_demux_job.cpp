#include "jobs/read_and_demux_job.h"

#include <algorithm>
#include <limits>

#include "core/file_output.h"
#include "jobs/stream_labels.h"
#include "jobs/stream_selection.h"
#include "sinks/demux_pass.h"
#include "sinks/detection_pass.h"

namespace tolvane {

namespace {

// The read's detection pass and the demux pass over the same chunks. A chosen stream gets its
// output the moment it is registered.
class ReadAndDemuxPass : public DetectingPass {
public:
    using StreamMet = std::function<void(StreamKind, int32_t number, int32_t key)>;

    ReadAndDemuxPass(JobRecords& state, Reporter& log, const PassOptions& readOptions,
                     const PassOptions& demuxOptions, HeaderAnalysers& analysers,
                     std::vector<SupRecord>& records, std::array<VobSubWriter, 32>* vobSub,
                     bool pgs, StreamMet streamMet)
        : DetectingPass(state, log, readOptions, analysers),
          demux_(state, log, demuxOptions),
          streamMet_(std::move(streamMet)) {
        demux_.noteRecords(&records);
        demux_.writeVobSub(vobSub);
        if (pgs) {
            demux_.writePgs();
        }
    }

    void writeForced(ForcedSubpictures* forced) { demux_.writeForced(forced); }
    void gatherCaptions(CaptionGatherer* captions) { captions_ = captions; }
    void finish() { demux_.finish(); }

    void spanStarted(size_t span) override {
        DetectingPass::spanStarted(span);
        demux_.spanStarted(span);
    }

    void streamRegistered(const StreamContext& stream, ScanState& scan) override {
        DetectingPass::streamRegistered(stream, scan);
        if (stream.out == nullptr) {
            streamMet_(stream.kind, stream.number, stream.id);
        }
    }

    void packet(const Packet& packet) override {
        // The read first: the time base a .sup record is written against comes from it.
        DetectingPass::packet(packet);
        demux_.packet(packet);
        if (captions_ != nullptr) {
            captions_->packet(packet);
        }
    }

private:
    CaptionGatherer* captions_ = nullptr;
    DemuxPass demux_;
    StreamMet streamMet_;
};

// The .sup records written against a time base that came down later, rewritten against the
// job's: the times count from the earliest first PTS of the whole source.
void rebaseRecords(const std::vector<SupRecord>& records, int64_t minPts,
                   const std::vector<OpenOutput>& outputs) {
    for (const SupRecord& record : records) {
        if (record.minPts == minPts) {
            continue;
        }
        for (const OpenOutput& output : outputs) {
            if (output.kind == StreamKind::Subpicture && output.number == record.number &&
                output.forced == record.forced) {
                const auto pts = static_cast<uint32_t>(static_cast<uint64_t>(record.pts) -
                                                       static_cast<uint64_t>(minPts));
                uint8_t bytes[4] = {
                    static_cast<uint8_t>(pts),
                    static_cast<uint8_t>(pts >> 8),
                    static_cast<uint8_t>(pts >> 16),
                    static_cast<uint8_t>(pts >> 24),
                };
                if (record.bigEndian) {
                    std::reverse(std::begin(bytes), std::end(bytes));
                }
                output.file->overwrite(record.offset, bytes, sizeof bytes);
            }
        }
    }
}

}  // namespace

ReadAndDemuxResult ReadAndDemuxJob::run(const ReadAndDemuxInput& input) {
    JobRecords& state = records();
    StreamRegistry& streams = state.streams;
    Reporter& log = context_.log;
    const PathStyle style = context_.style;
    // The demux reads the whole source: so does the read, which counts every frame.
    PassSettings readSettings = input.settings;
    readSettings.fastCheck = false;
    const JobPassOptions readOptions(readSettings);
    PassSettings demuxSettings = readSettings;
    demuxSettings.countFrames = false;  // the read counts them
    const JobPassOptions demuxOptions(demuxSettings);
    const std::string sourceName = fileNamePart(input.sourcePath, style);
    OutputNaming naming;
    bool vobSub = false;
    const auto writers = std::make_unique<std::array<VobSubWriter, 32>>();
    std::vector<OpenOutput> outputs;
    std::vector<SupRecord> records;
    std::unique_ptr<ForcedSubpictures> forced;
    ReadAndDemuxResult result;
    ReadResult& read = result.read;
    return ended(
        [&] {
            const JobNames names = namesFor(input.sourcePath, input.settings);
            read.baseName = names.baseName;
            const std::string prefix = outputPrefix(input.naming.folder, names.baseName, style);

            prepareOutputFolder(input.naming.folder);
            openForReading(input.sourcePath, names, input.settings);
            naming = settledNaming(input.naming, sourceKind_);
            vobSub = naming.subpictureFormat == SubpictureFormat::VobSub;
            if ((vobSub || naming.subpictureFormat == SubpictureFormat::Pgs) &&
                naming.forcedTracks) {
                forced = std::make_unique<ForcedSubpictures>();
            }
            checkOutputFolder(prefix, naming, inputs_, style);

            ReadAndDemuxPass pass(
                state, log, readOptions, demuxOptions, *analysers_, records,
                vobSub ? writers.get() : nullptr, naming.subpictureFormat == SubpictureFormat::Pgs,
                [&](StreamKind kind, int32_t number, int32_t key) {
                    StreamBox box = boxMet(streams, kind, number, key);
                    box.language = languageOf(state.job.languages, kind, key);
                    box.viewport = viewportOf(state.job.languages, kind, key);
                    if (!chosenBy(input.select, box)) {
                        return;
                    }
                    // Its delay is known only at the end: the name is checked at
                    // its longest.
                    box.delayMs = std::numeric_limits<int32_t>::min();
                    const std::string longest = outputFileName(box, prefix, naming);
                    box.delayMs.reset();
                    const std::string name = outputFileName(box, prefix, naming);
                    try {
                        checkOutputFileName(longest, style);
                        checkOutputTarget(name, inputs_);
                    } catch (const JobError& refused) {
                        // Nothing the job wrote is kept, as nothing would have
                        // been had the name been refused first.
                        throw JobError(ErrorCode::Usage, refused.what());
                    }
                    outputs.push_back(openOutput(streams, box, name, naming));
                    if (kind == StreamKind::Subpicture && forced &&
                        number < static_cast<int32_t>(forced->out.size())) {
                        OpenOutput apart{kind, number,
                                         std::make_unique<FileOutput>(forcedFileName(name)),
                                         nullptr, true};
                        forced->out[static_cast<size_t>(number)] = apart.file.get();
                        outputs.push_back(std::move(apart));
                    }
                });
            pass.writeForced(forced.get());
            CaptionGatherer captions;
            if (naming.captions) {
                pass.gatherCaptions(&captions);
            }
            runPass(PassMode::Detection, pass);
            pass.finish();
            closeSource();
            dropOutputs(streams);
            takeReadFindings(state, read);
            reportSeams(read, log, state.job.formatSettings);

            if (const std::optional<std::string> unknown = unknownName(input.select, read.streams);
                unknown && !read.cancelled) {
                discardOutputs(streams, outputs);
                finish(read, true, names.second);
                throw SelectionError(*unknown, read.streams);
            }
            // In box order, each with its final name.
            std::vector<OpenOutput> inBoxOrder;
            for (const StreamBox& box : read.streams) {
                for (OpenOutput& output : outputs) {
                    if (output.file && output.kind == box.kind && output.number == box.number) {
                        const std::string name = outputFileName(
                            box, prefix, naming, output.wave && output.wave->passedThrough());
                        output.file->setPath(output.forced ? forcedFileName(name) : name);
                        inBoxOrder.push_back(std::move(output));
                    }
                }
            }
            outputs = std::move(inBoxOrder);
            // A stream with no forced subpicture has no file of them.
            std::erase_if(outputs, [](OpenOutput& output) {
                if (!output.forced || output.file->bytesWritten() > 0) {
                    return false;
                }
                output.file->discard();
                return true;
            });
            for (const OpenOutput& output : outputs) {
                checkOutputTarget(output.file->path(), inputs_);  // its delay may name it anew
            }
            rebaseRecords(records, state.job.minPts, outputs);
            if (!state.job.control.cancelled) {
                for (const OpenOutput& output : outputs) {
                    log.log("Creating " + output.file->path());
                }
            }
            if (naming.captions && !state.job.control.cancelled) {
                captions.finish();
                addCaptionOutputs(
                    outputs, captions,
                    [&](int number) {
                        for (const StreamBox& box : read.streams) {
                            if (box.kind == StreamKind::Video && box.number == number) {
                                return prefix + "." + safeFileNamePart(box.label);
                            }
                        }
                        return prefix + ".video" + std::to_string(number);
                    },
                    read.earliestPts.value_or(0), inputs_, log);
            }
            if (vobSub && !state.job.control.cancelled) {
                addVobSubIndexes(outputs, *writers, read.streams,
                                 vobSubInfo(read.streams, state.job.minPts), inputs_, log,
                                 forced ? &forced->writers : nullptr);
            }
            result.outputs = closeOutputs(outputs, !state.job.control.cancelled);
            finish(read, true, names.second);
            return result;
        },
        [&](const JobError& error) {
            // Nothing was a stream, or a name was refused: no file is left.
            if (error.code() == ErrorCode::InvalidData || error.code() == ErrorCode::Usage) {
                discardOutputs(streams, outputs);
            }
            closeOutputsAfterError(streams, outputs);
        });
}

}  // namespace tolvane
