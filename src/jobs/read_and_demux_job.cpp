#include "jobs/read_and_demux_job.h"

#include <algorithm>
#include <functional>
#include <limits>
#include <tuple>

#include "core/demux_pass.h"
#include "core/detection_pass.h"
#include "core/file_output.h"
#include "core/platform_error.h"
#include "jobs/markup.h"
#include "jobs/stream_labels.h"

namespace tolvane {

namespace {

// The demux job's log lines, held while the read's are still being written.
class HeldLines : public Reporter {
public:
    void log(std::string text) override { lines.push_back(std::move(text)); }
    void slog(std::string, StatusPanel) override {}

    std::vector<std::string> lines;
};

// The read's detection pass and the demux pass over the same chunks. Each stream gets its box
// and its output the moment it is registered, as the read would have given them.
class ReadAndDemuxPass : public PassHooks {
public:
    using CreateOutput = std::function<void(StreamKind, int32_t number, int32_t key)>;

    // `options` leave frame counting out: this pass counts once for both.
    ReadAndDemuxPass(SharedState& state, Reporter& log, Reporter& demuxLog,
                     const PassOptions& options, bool countFrames, HeaderAnalysers& analysers,
                     CreateOutput createOutput)
        : state_(state),
          countFrames_(countFrames),
          detection_(state, log, options, analysers),
          demux_(state, demuxLog, options),
          demuxLog_(demuxLog),
          createOutput_(std::move(createOutput)) {}

    std::optional<int64_t> fastCheckLimit() override { return detection_.fastCheckLimit(); }

    void streamRegistered(StreamKind kind, int32_t number, int32_t key, ScanState& scan) override {
        detection_.streamRegistered(kind, number, key, scan);
        if (!demuxFailed_ && *outputSlot(state_.streams, kind, number) == nullptr) {
            try {
                createOutput_(kind, number, key);
            } catch (const JobError&) {
                demuxFailed();
            }
        }
    }

    void withoutBox(StreamKind kind, int32_t key) override {
        detection_.withoutBox(kind, key);
        // The demux job, handed the read's boxes, would say so in its own part of the log.
        if (firstMention(demuxWithoutBox_, kind, key)) {
            demuxLog_.log(notWrittenLine(kind, key));
        }
    }

    bool aobSource() const override { return detection_.aobSource(); }

    void payloadChunk(const PayloadChunk& chunk, ScanState& scan) override {
        if (countFrames_ && chunk.kind == PacketKind::Video && chunk.number >= 0) {
            countFrames(chunk, scan);
        }
        detection_.payloadChunk(chunk, scan);
        if (chunk.kind == PacketKind::Subpicture && !minPtsOfFirstRecord_) {
            minPtsOfFirstRecord_ = state_.job.minPts;
        }
        if (!demuxFailed_) {
            try {
                demux_.payloadChunk(chunk, scan);
            } catch (const JobError&) {
                demuxFailed();
            }
        }
    }

    void copyControlPacket(size_t offset, ScanState& scan) override {
        detection_.copyControlPacket(offset, scan);
        demux_.copyControlPacket(offset, scan);
    }

    void dsiPacket(size_t offset, ScanState& scan) override {
        detection_.dsiPacket(offset, scan);
        demux_.dsiPacket(offset, scan);
    }

    void systemHeaderRead(ScanState& scan) override { detection_.systemHeaderRead(scan); }

    // The frames the demux would have counted: those of the video chunks it wrote.
    const std::array<int64_t, 2>& demuxFrames() const { return demuxFrames_; }

    // An output could not be created or written. The read goes on, and the demux is left to
    // the demux job, which fails (or not) as it would have after the read.
    bool demuxFailedDuringPass() const { return demuxFailed_; }

    // A .sup record's time counts from the earliest first PTS of the whole read. When that
    // came down after the first record was written, the records written so far are wrong.
    bool subpictureTimesStale() const {
        return minPtsOfFirstRecord_ && *minPtsOfFirstRecord_ != state_.job.minPts;
    }

private:
    void demuxFailed() {
        demuxFailed_ = true;
        dropOutputs(state_.streams);
    }

    void countFrames(const PayloadChunk& chunk, const ScanState& scan) {
        const auto n = static_cast<size_t>(chunk.number);
        const uint8_t* data = state_.job.buffer.data() + chunk.offset;
        int64_t& readCount = state_.streams.frameCount[n];
        const bool written = state_.streams.videoOut[n] != nullptr;
        // While the demux has written every video chunk the read counted, one count serves
        // both. From the first chunk it passes over on, each keeps a counter of its own.
        if (written && !apart_) {
            const int64_t before = readCount;
            readFrames_.count(data, chunk.length, scan.videoType, chunk.number, readCount);
            demuxFrames_[n] += readCount - before;
            return;
        }
        if (!apart_) {
            demuxCounter_ = readFrames_;
            apart_ = true;
        }
        readFrames_.count(data, chunk.length, scan.videoType, chunk.number, readCount);
        if (written) {
            demuxCounter_.count(data, chunk.length, scan.videoType, chunk.number, demuxFrames_[n]);
        }
    }

    SharedState& state_;
    const bool countFrames_;
    DetectionPass detection_;
    DemuxPass demux_;
    Reporter& demuxLog_;
    MentionedStreams demuxWithoutBox_;
    CreateOutput createOutput_;
    FrameCounter readFrames_;
    FrameCounter demuxCounter_;
    bool apart_ = false;
    bool demuxFailed_ = false;
    std::array<int64_t, 2> demuxFrames_{};
    std::optional<uint32_t> minPtsOfFirstRecord_;
};

// The boxes of each kind, in StreamKind order: video, audio, subpicture.
constexpr size_t kBoxesPerKind[] = {
    std::tuple_size_v<decltype(StreamTable::videoBoxId)>,
    std::tuple_size_v<decltype(StreamTable::audioBoxId)>,
    std::tuple_size_v<decltype(StreamTable::subBoxId)>,
};

}  // namespace

bool ReadAndDemuxJob::fits(const ReadAndDemuxInput& input) const {
    const PassSettings& settings = input.settings;
    if (settings.fastCheck) {
        return false;  // the demux reads the whole file, the read only its start
    }
    const PathStyle style = context_.style;
    const JobNames names = formJobNames(fileNamePart(input.sourcePath, style), input.sourcePath,
                                        settings.continueOnSecondFile, style, context_.fileExists);
    if (names.second) {
        return false;  // the demux of each file takes the boxes of the last one read
    }
    // The names are checked before any file is created: here, the longest name any stream
    // that could turn up would take, its caption's number suffix counted at its longest.
    const std::string prefix = outputPrefix(input.naming.folder, names.baseName, style);
    constexpr StreamCoding kCodings[] = {
        StreamCoding::Mpeg2, StreamCoding::H264,       StreamCoding::Vc1,    StreamCoding::Ac3,
        StreamCoding::Eac3,  StreamCoding::Dts,        StreamCoding::TrueHd, StreamCoding::Mlp,
        StreamCoding::Lpcm,  StreamCoding::Subpicture, StreamCoding::Mpeg1,  StreamCoding::Mp1,
        StreamCoding::Mp2,   StreamCoding::Mp3,
    };
    for (const StreamKind kind : {StreamKind::Video, StreamKind::Audio, StreamKind::Subpicture}) {
        size_t suffix = 0;
        for (size_t number = 0; number < kBoxesPerKind[static_cast<size_t>(kind)]; ++number) {
            suffix = std::max(suffix, streamBoxSuffix(kind, static_cast<int>(number)).size());
        }
        for (const StreamCoding coding : kCodings) {
            // Both subpicture captions: the plain and the extended one.
            for (const int32_t id : {0x20, 0x60}) {
                const StreamBox box{.kind = kind,
                                    .id = id,
                                    .label = streamLabel(coding, id),
                                    .delayMs = std::numeric_limits<int32_t>::min(),
                                    .coding = coding};
                const std::string name = outputFileName(box, prefix, input.naming);
                if (fileNamePart(name, style).size() + suffix > kMaxFileNameBytes) {
                    return false;
                }
            }
        }
    }
    return true;
}

ReadAndDemuxResult ReadAndDemuxJob::run(const ReadAndDemuxInput& input) {
    SharedState& state = context_.state;
    StreamTable& streams = state.streams;
    Reporter& log = context_.log;
    const PathStyle style = context_.style;
    const JobPassOptions options(input.settings, input.sourcePath, style);
    PassSettings framesCountedOnce = input.settings;
    framesCountedOnce.countFrames = false;
    const JobPassOptions passOptions(framesCountedOnce, input.sourcePath, style);
    const std::string sourceName = fileNamePart(input.sourcePath, style);
    std::vector<OpenOutput> outputs;
    // Until the demux's part of the log begins, a failure is the read job's: it ends with no
    // output, as the read would have.
    bool demuxReported = false;
    ReadAndDemuxResult result;
    ReadResult& read = result.read;
    try {
        resetForReadJob(state);
        const JobNames names = formJobNames(sourceName, input.sourcePath, false, style, {});
        read.baseName = names.baseName;
        const std::string prefix = outputPrefix(input.naming.folder, names.baseName, style);

        prepareOutputFolder(input.naming.folder);
        log.log("Opening file [b]" + escapeMarkup(sourceName) + "[/b]");
        const int64_t size = openSource(input.sourcePath, names);
        log.log("Reading...");
        log.slog("Reading " + sourceName + " ", StatusPanel::Job);
        log.log(sizeReport(size));

        HeldLines demuxLog;
        ReadAndDemuxPass pass(
            state, log, demuxLog, passOptions, input.settings.countFrames, context_.analysers,
            [&](StreamKind kind, int32_t number, int32_t key) {
                // Named without a delay for now: the delay is known only at the end.
                const StreamCoding coding = boxCoding(streams, kind, number);
                const StreamBox box{
                    .kind = kind,
                    .number = number,
                    .id = key,
                    .label = streamLabel(coding, key) + streamBoxSuffix(kind, number),
                    .coding = coding};
                const std::string name = outputFileName(box, prefix, input.naming);
                checkOutputTarget(name, {input.sourcePath});
                outputs.push_back(OpenOutput{kind, number, std::make_unique<FileOutput>(name)});
                *outputSlot(streams, kind, number) = outputs.back().file.get();
            });
        runPass(PassMode::Detection, pass);
        closeSource();
        dropOutputs(streams);

        takeReadFindings(state, read);
        finish(read, true, false);
        // In box order, as the demux job creates them; each takes its name with its delay.
        const auto namedInBoxOrder = [&](bool logged) {
            std::vector<OpenOutput> inBoxOrder;
            for (const StreamBox& box : read.streams) {
                for (OpenOutput& output : outputs) {
                    if (output.file && output.kind == box.kind && output.number == box.number) {
                        output.file->setPath(outputFileName(box, prefix, input.naming));
                        if (logged) {
                            log.log("Creating " + escapeMarkup(output.file->path()));
                        }
                        inBoxOrder.push_back(std::move(output));
                    }
                }
            }
            outputs = std::move(inBoxOrder);
        };
        if (read.cancelled && !outputs.empty()) {
            // What was written is kept, as after a cancelled demux job, never over a whole file.
            namedInBoxOrder(false);
            DemuxResult& kept = result.demux.emplace();
            kept.baseName = read.baseName;
            kept.cancelled = true;
            kept.outputs = closeOutputs(outputs, false);
            return result;
        }
        if (read.cancelled || read.streams.empty()) {
            discardOutputs(streams, outputs);
            return result;
        }
        if (pass.subpictureTimesStale() || pass.demuxFailedDuringPass()) {
            // Rare enough to pay a second pass for: the demux job writes every file again.
            discardOutputs(streams, outputs);
            DemuxJob demux(context_);
            result.demux = demux.run(DemuxInput{
                .sourcePath = input.sourcePath,
                .settings = input.settings,
                .boxes = read.streams,
                .naming = input.naming,
            });
            return result;
        }

        // The demux job's part of the log, as it would have written it.
        demuxReported = true;
        state.job.writing = true;
        streams.frameCount[0] = pass.demuxFrames()[0];
        streams.frameCount[1] = pass.demuxFrames()[1];
        log.log("Opening file " + escapeMarkup(sourceName));
        log.slog("Opening", StatusPanel::Job);
        log.log(sizeReport(size));
        DemuxResult& demux = result.demux.emplace();
        demux.baseName = read.baseName;
        namedInBoxOrder(true);
        log.log("Demuxing...");
        log.slog("Demuxing " + sourceName, StatusPanel::Job);
        for (std::string& line : demuxLog.lines) {
            log.log(std::move(line));
        }
        demux.outputs = closeOutputs(outputs, true);
        finish(demux, true, false);
    } catch (const JobError&) {
        if (!demuxReported) {
            discardOutputs(streams, outputs);
        }
        closeOutputsAfterError(state, outputs);
        endAfterError();
        throw;
    }
    resetForWritingJobEnd(state);
    return result;
}

}  // namespace tolvane
