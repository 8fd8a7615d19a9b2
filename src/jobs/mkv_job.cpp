#include "jobs/mkv_job.h"

#include <cmath>

#include "core/file_output.h"
#include "jobs/languages.h"
#include "jobs/stream_labels.h"
#include "jobs/stream_selection.h"
#include "sinks/detection_pass.h"
#include "sinks/matroska_sink.h"
#include "sinks/vobsub.h"

namespace tolvane {

namespace {

constexpr double kTicksPerSecondValue = 90000.0;

// The read's detection pass, and each chosen stream's packets into the Matroska file.
class MkvPass : public DetectingPass {
public:
    using StreamMet = std::function<void(StreamContext&)>;

    MkvPass(JobRecords& state, Reporter& log, const PassOptions& options,
            HeaderAnalysers& analysers, MatroskaSink& sink, StreamMet streamMet,
            CaptionGatherer* captions)
        : DetectingPass(state, log, options, analysers),
          sink_(sink),
          streamMet_(std::move(streamMet)),
          state_(state),
          captions_(captions) {}

    void streamRegistered(const StreamContext& stream, ScanState& scan) override {
        DetectingPass::streamRegistered(stream, scan);
        if (StreamContext* context = state_.streams.find(stream.kind, stream.key)) {
            streamMet_(*context);
        }
    }
    void packet(const Packet& packet) override {
        DetectingPass::packet(packet);  // the stream's headers first: its track is made of them
        sink_.packet(packet);
        if (captions_ != nullptr) {
            captions_->packet(packet);
        }
    }

private:
    MatroskaSink& sink_;
    StreamMet streamMet_;
    JobRecords& state_;
    CaptionGatherer* captions_;
};

// What a disc calls a stream (an HD DVD track's description), or what it says the stream holds
// beyond its language (a DVD's "Commentary"), as a track name.
// The disc's word on a stream of the title, if it has one.
const DiscStream* discStream(const std::optional<DiscTitle>& title, StreamKind kind, int32_t key) {
    if (!title) {
        return nullptr;
    }
    for (const DiscStream& stream : title->streams) {
        if (stream.kind == kind && stream.id == (key & 0xFF)) {
            return &stream;
        }
    }
    return nullptr;
}

std::string trackName(const std::optional<DiscTitle>& title, StreamKind kind, int32_t key) {
    if (!title) {
        return {};
    }
    for (const DiscStream& stream : title->streams) {
        if (stream.kind != kind || stream.id != (key & 0xFF)) {
            continue;
        }
        if (!stream.description.empty()) {
            return stream.description;
        }
        if (!stream.viewport.empty()) {
            std::string name = stream.viewport;
            name[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(name[0])));
            return name;
        }
        if (!stream.content.empty()) {
            std::string name = stream.content;
            name[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(name[0])));
            return name;
        }
    }
    return {};
}

// The VobSub index header a subpicture track carries: its frame size and palette.
std::vector<uint8_t> subpictureHeader(const VobSubIndexInfo& info) {
    const std::string index = vobSubIndex(info, {});
    const size_t id = index.find("\nid:");
    const std::string header = id == std::string::npos ? index : index.substr(0, id + 1);
    return {header.begin(), header.end()};
}

std::vector<MatroskaChapter> titleChapters(const std::optional<DiscTitle>& title) {
    std::vector<MatroskaChapter> chapters;
    if (!title) {
        return chapters;
    }
    for (size_t k = 0; k < title->chapters.size(); ++k) {
        const DiscChapter& chapter = title->chapters[k];
        const double end = k + 1 < title->chapters.size()
                               ? title->chapters[k + 1].start
                               : std::max(title->duration, chapter.start);
        char number[16];
        std::snprintf(number, sizeof number, "Chapter %02d", chapter.number);
        chapters.push_back(MatroskaChapter{
            std::llround(chapter.start * kTicksPerSecondValue),
            std::llround(end * kTicksPerSecondValue),
            chapter.name.empty() ? std::string(number) : chapter.name,
        });
    }
    return chapters;
}

}  // namespace

MkvResult MkvJob::run(const MkvInput& input) {
    JobRecords& state = records();
    Reporter& log = context_.log;
    const PathStyle style = context_.style;
    PassSettings settings = input.settings;
    settings.fastCheck = false;  // the whole source is written
    const JobPassOptions options(settings);
    std::unique_ptr<FileOutput> output;
    std::unique_ptr<MatroskaSink> sink;
    MkvResult result;
    ReadResult& read = result.read;
    return ended(
        [&] {
            const JobNames names = namesFor(input.sourcePath, input.settings);
            read.baseName = names.baseName;
            const bool toFile = input.output.size() > 4 &&
                                input.output.compare(input.output.size() - 4, 4, ".mkv") == 0;
            const std::string folder = toFile ? folderPart(input.output, style) : input.output;
            const std::string path =
                toFile ? input.output : outputPrefix(folder, names.baseName, style) + ".mkv";
            prepareOutputFolder(folder);
            openForReading(input.sourcePath, names, input.settings);
            checkOutputFileName(path, style);
            checkOutputTarget(path, inputs_);
            output = std::make_unique<FileOutput>(path);
            const std::string title =
                discTitle_ && !discTitle_->name.empty() ? discTitle_->name : names.baseName;
            sink = std::make_unique<MatroskaSink>(*output, title, titleChapters(discTitle_));
            bool videoDefault = false;
            bool audioDefault = false;
            const auto meet = [&](StreamContext& stream) {
                if (stream.out != nullptr) {
                    return;  // met again in a later file or cell
                }
                StreamBox box = boxMet(state.streams, stream.kind, stream.number, stream.key);
                box.language = languageOf(state.job.languages, stream.kind, stream.key);
                box.viewport = viewportOf(state.job.languages, stream.kind, stream.key);
                if (!chosenBy(input.select, box)) {
                    return;
                }
                TrackNaming naming;
                naming.language = matroskaLanguage(box.language);
                naming.name = trackName(discTitle_, stream.kind, stream.key);
                bool& firstOfKind = stream.kind == StreamKind::Video ? videoDefault : audioDefault;
                if (stream.kind != StreamKind::Subpicture && !firstOfKind) {
                    naming.isDefault = true;
                    firstOfKind = true;
                }
                if (stream.kind == StreamKind::Subpicture && isHdDvd(sourceKind_)) {
                    naming.presentationGraphics = true;  // Matroska has no HD DVD coding
                } else if (stream.kind == StreamKind::Subpicture) {
                    naming.subpictureHeader = subpictureHeader(vobSubInfo({}, 0));
                }
                if (stream.kind == StreamKind::Subpicture) {
                    // A stream the disc calls forced holds forced subpictures only.
                    const DiscStream* said = discStream(discTitle_, stream.kind, stream.key);
                    naming.isForced = said != nullptr && said->content == "forced";
                }
                // The stream is marked as written: a later file's packets reach its track.
                stream.out = output.get();
                TrackNaming forced = naming;
                if (!sink->addStream(stream, std::move(naming))) {
                    log.log(box.label + " first appears after the file began: left out.");
                } else if (stream.kind == StreamKind::Subpicture && input.forcedTracks) {
                    // Its forced subpictures again, as a track of their own.
                    forced.forcedOnly = true;
                    forced.name = forced.name.empty() ? "Forced" : forced.name + ", forced";
                    sink->addStream(stream, std::move(forced));
                }
            };
            // A disc's title announces its streams: each has its track before it is met, as
            // a subpicture stream may first show long after the file begins.
            if (discTitle_) {
                for (const DiscStream& announced : discTitle_->streams) {
                    if (announced.id == 0) {
                        continue;  // the disc does not tell which packets are its
                    }
                    // MPEG audio is a stream of its own id; the others are sub-streams.
                    const bool mpegAudio = announced.coding == StreamCoding::Mp1 ||
                                           announced.coding == StreamCoding::Mp2 ||
                                           announced.coding == StreamCoding::Mp3;
                    const int32_t key = mpegAudio ? kMpegAudioKey | announced.id : announced.id;
                    if (StreamContext* stream = state.streams.take(
                            announced.kind, key, true, sourceKind_ == SourceKind::DvdAudioFile)) {
                        meet(*stream);
                    }
                }
            }
            CaptionGatherer captions;
            MkvPass pass(state, log, options, *analysers_, *sink, meet,
                         input.captions ? &captions : nullptr);
            runPass(PassMode::Detection, pass);
            closeSource();
            dropOutputs(state.streams);
            takeReadFindings(state, read);
            reportSeams(read, log, state.job.formatSettings);
            if (const std::optional<std::string> unknown = unknownName(input.select, read.streams);
                unknown && !read.cancelled) {
                output->discard();
                finish(read, true, names.second);
                throw SelectionError(*unknown, read.streams);
            }
            if (state.job.control.cancelled) {
                output->closeIncomplete();
            } else {
                sink->finish();
                result.tracks = sink->tracks();
                for (const StreamContext* stream : sink->leftOut()) {
                    log.log(boxMet(state.streams, stream->kind, stream->number, stream->key).label +
                            (stream->kind == StreamKind::Video
                                 ? " is left out: no sequence header gives its picture size."
                                 : " is left out: Matroska takes no DVD-Audio LPCM of 20 bits "
                                   "or of groups at two rates."));
                }
                if (result.tracks.empty()) {
                    output->discard();  // no stream has a track: no file
                } else {
                    log.log("Creating " + output->path());
                    output->finishWriting();
                    output->close();
                }
                if (input.captions) {
                    // Beside the file, on its timeline.
                    captions.finish();
                    std::vector<OpenOutput> sideFiles;
                    const std::string base = withoutExtension(output->path(), style);
                    addCaptionOutputs(
                        sideFiles, captions,
                        [&](int number) {
                            return number == 0 ? base : base + ".video" + std::to_string(number);
                        },
                        sink->zero().value_or(read.earliestPts.value_or(0)), inputs_, log);
                    for (const OutputWritten& written : closeOutputs(sideFiles, true)) {
                        result.captions.push_back(written);
                    }
                }
            }
            if (output->bytesWritten() > 0) {
                result.output =
                    OutputWritten{std::nullopt, 0, output->path(), output->bytesWritten()};
            }
            finish(read, true, names.second);
            return result;
        },
        [&](const JobError& error) {
            if (!output) {
                return;
            }
            if (error.code() == ErrorCode::InvalidData || error.code() == ErrorCode::Usage) {
                output->discard();
            } else {
                output->closeIncomplete();
            }
        });
}

}  // namespace tolvane
