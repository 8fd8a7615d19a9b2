#include "jobs/job_context.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "analysers/stream_analysers.h"
#include "core/file_source.h"
#include "core/time_format.h"
#include "demux/pack_engine.h"
#include "discs/dvd_disc.h"
#include "discs/hddvd_disc.h"
#include "jobs/stream_labels.h"
#include "sinks/demux_pass.h"
#include "sinks/detection_pass.h"

namespace tolvane {

JobContext withDefaults(JobContext context) {
    if (!context.fileExists) {
        context.fileExists = [](const std::string& path) {
            std::error_code error;
            return std::filesystem::is_regular_file(path, error);
        };
    }
    if (!context.openInput) {
        context.openInput = [](const std::string& path) {
            return std::make_unique<FileSource>(path);
        };
    }
    if (!context.cancellable) {
        context.cancellable = [](bool) {};
    }
    return context;
}

std::vector<StreamBox> labelledBoxes(const StreamRegistry& streams) {
    std::vector<StreamBox> boxes;
    // In box order: video, audio, subpictures, each by number.
    streams.forEach([&](const StreamContext& context) {
        const StreamKind kind = context.kind;
        const int32_t number = context.number;
        // A box the playlist announced and no stream took has no coding yet.
        std::optional<StreamCoding> coding;
        if (context.key != kStreamAnnounced) {
            coding = numberCoding(streams, kind, number);
        }
        const bool sub = kind == StreamKind::Subpicture;
        boxes.push_back(StreamBox{
            .kind = kind,
            .number = number,
            .id = context.key,
            .label = (coding ? streamLabel(*coding, context.key) : streamLabel(kind, context.key)) +
                     streamBoxSuffix(kind, number),
            .firstPts = context.firstPts,
            .delayMs =
                kind == StreamKind::Video ? std::nullopt : streamDelayMs(streams, kind, number),
            .coding = coding,
            .header = sub ? StreamHeader{} : context.header,
        });
        if (sub) {
            boxes.back().subpictures = context.subpictures;
            boxes.back().forcedSubpictures = context.forcedSubpictures;
            return;
        }
        const bool video = kind == StreamKind::Video;
        StreamBox& box = boxes.back();
        box.codecPrivate = context.codecPrivate;
        box.captionForm = context.captionForm;
        box.captionChannels = context.captionChannels;
        box.duration = context.timing.seconds(
            tailSeconds(context.timing, video, box.header, video ? context.frameRate : 0));
        box.bytes = context.timing.bytes;
    });
    return boxes;
}

void storeBoxIds(StreamRegistry& streams, const std::vector<StreamBox>& boxes) {
    streams.clear();
    for (const StreamBox& box : boxes) {
        if (StreamContext* context = streams.pin(box.kind, box.number, box.id)) {
            // The read's coding stands: a writing job does not look for it again.
            if (box.coding && box.kind != StreamKind::Subpicture) {
                context->coding = *box.coding;
                context->codingSeen = true;
                context->codecPrivate = box.codecPrivate;
            }
        }
    }
}

std::optional<int32_t> streamDelayMs(const StreamRegistry& streams, StreamKind kind, int number) {
    // Measured from the first video stream the read reported.
    std::optional<int64_t> video;
    streams.forEach([&](const StreamContext& context) {
        if (context.kind == StreamKind::Video && !video) {
            video = context.firstPts;
        }
    });
    if (!video || number < 0) {
        return std::nullopt;
    }
    const StreamContext* context =
        kind != StreamKind::Video ? contextOf(streams, kind, number) : nullptr;
    const std::optional<int64_t> first = context != nullptr ? context->firstPts : std::nullopt;
    if (!first) {
        return std::nullopt;
    }
    const int64_t ticks =
        std::clamp<int64_t>(*first - *video, INT32_MIN * int64_t{90}, INT32_MAX * int64_t{90});
    return static_cast<int32_t>(std::llround(static_cast<double>(ticks) / 90.0));
}

JobPassOptions::JobPassOptions(const PassSettings& settings, const std::vector<StreamBox>& boxes)
    : settings_(settings) {
    for (const StreamBox& box : boxes) {
        if (!box.chosen || box.number < 0) {
            continue;
        }
        const auto n = static_cast<size_t>(box.number);
        switch (box.kind) {
            case StreamKind::Video:
                if (n < video_.size()) {
                    video_.set(n);
                }
                break;
            case StreamKind::Audio:
                if (n < audio_.size()) {
                    audio_.set(n);
                }
                break;
            case StreamKind::Subpicture:
                if (n < sub_.size()) {
                    sub_.set(n);
                }
                break;
        }
    }
}

void cancelJob(JobControl& control) {
    // The job says so where it ends, instead of "Done.".
    control.cancelled = true;
}

SourceJob::SourceJob(const JobContext& context)
    : context_(withDefaults(context)),
      records_(std::make_unique<JobRecords>(context_.control)),
      analysers_(std::make_unique<StreamAnalysers>(*records_, context_.log)) {
    // A cancel is the running job's: one that came before it started, of an earlier job or of a
    // signal, does not stop it; a signal stops the passes all the same (readSpans asks).
    context_.control.cancelled = false;
    records_->job.formatSettings = context_.formatSettings;
}

SourceJob::~SourceJob() = default;

JobNames SourceJob::namesFor(const std::string& path, const PassSettings& settings) const {
    std::string name = fileNamePart(path, context_.style);
    if (settings.title > 0) {
        // A disc's own folder names it, not the folder of its files it was given by.
        std::string disc = path;
        while (disc.size() > 1 && disc.back() == context_.style.delimiter) {
            disc.pop_back();
        }
        name = fileNamePart(disc, context_.style);
        for (const char* inner : {"VIDEO_TS", "HVDVD_TS", "ADV_OBJ"}) {
            const std::string above = folderPart(disc, context_.style);
            if (upperCase(name) == inner && !above.empty()) {
                name = fileNamePart(above.substr(0, above.size() - 1), context_.style);
            }
        }
        JobNames names = formJobNames(name, path, false, context_.style, context_.fileExists);
        char number[16];
        std::snprintf(number, sizeof number, "_title%02d", settings.title);
        names.baseName += number;
        if (settings.angle > 1) {
            // Angle 1 is the title as every reader plays it; the others say which they are.
            names.baseName += "_angle" + std::to_string(settings.angle);
        }
        return names;
    }
    return formJobNames(name, path, settings.continueOnSecondFile, context_.style,
                        context_.fileExists);
}

int64_t SourceJob::openSource(const std::string& path, const JobNames& names,
                              const PassSettings& settings) {
    JobState& job = records().job;
    job.source.reset();
    job.skipUnreadable = !settings.stopOnReadError;
    discTitle_.reset();
    if (settings.title > 0) {
        const std::unique_ptr<Disc> disc = openDisc(path);
        inputs_ = disc->memberFiles();
        job.source = disc->titleSource(settings.title, settings.angle);
        discTitle_ = *disc->title(settings.title);
        job.languages = streamLanguages(*discTitle_);
        std::vector<std::string> notes = discTitle_->notes;
        notes.insert(notes.end(), job.source->notes().begin(), job.source->notes().end());
        for (const std::string& note : notes) {
            context_.log.log(note + ".");
            records().streams.warnings.push_back(note + ".");
        }
        // A clip that starts inside its file is read from the picture its time shows first;
        // one whose video times do not lead there is read whole, and the user should know
        // the output is longer than the title.
        for (const DiscClip& clip : discTitle_->clips) {
            if (clip.fileBegin <= 0) {
                continue;
            }
            // The span of the clip's file: each file is one span, read once.
            bool moved = false;
            for (size_t k = 0; k < job.source->spanCount(); ++k) {
                const std::string& read = job.source->span(k).path;
                moved = moved || (read.size() >= clip.evo.size() &&
                                  upperCase(read.substr(read.size() - clip.evo.size())) ==
                                      upperCase(clip.evo) &&
                                  job.source->span(k).offset > 0);
            }
            const std::string into =
                " " + formatDuration(clip.fileBegin, job.formatSettings) + " into " + clip.evo;
            context_.log.log(moved ? "Clip " + clip.map + " starts" + into + ": read from there"
                                   : "Clip " + clip.map + " starts" + into +
                                         ": its video times do not lead there, the whole file "
                                         "is read");
        }
        files_.push_back(FileRead{path, job.source->size()});
        sourceKind_ = job.source->kind();
        return job.source->size();
    }
    // A title set's VOB file read on its own still has its disc's information files beside it.
    discTitle_ = titleOfVobFile(path);
    job.languages = discTitle_ ? streamLanguages(*discTitle_) : StreamLanguages{};
    inputs_ = discFilesAround(path);
    if (names.second) {
        inputs_.push_back(names.secondPath);
    }
    std::vector<SourceSpan> spans;
    spans.push_back(SourceSpan{path, context_.openInput(path)});
    if (names.second) {
        spans.push_back(SourceSpan{names.secondPath, context_.openInput(names.secondPath)});
    }
    for (const SourceSpan& span : spans) {
        files_.push_back(FileRead{span.path, span.input->size()});
    }
    job.source = std::make_unique<SpanSource>(std::move(spans));
    job.source->setKind(fileSourceKind(path));
    sourceKind_ = job.source->kind();
    return job.source->spanLength(0);
}

void SourceJob::openForReading(const std::string& path, const JobNames& names,
                               const PassSettings& settings) {
    Reporter& log = context_.log;
    const std::string name = fileNamePart(path, context_.style);
    log.log(openingLine(name, settings, true));
    const int64_t size = openSource(path, names, settings);
    log.log("Reading...");
    log.activity(JobActivity::Reading, name);
    log.log(sizeReport(size));
}

LogEvent SourceJob::openingLine(const std::string& name, const PassSettings& settings, bool bold) {
    return {settings.title > 0 ? "Opening title " + std::to_string(settings.title) + " of "
                               : std::string("Opening file "),
            bold ? asStrong(name) : LogSpan(name)};
}

SubpictureSource subpictureSource(SourceKind kind) {
    return isHdDvd(kind)                  ? SubpictureSource::HdDvd
           : kind == SourceKind::DvdTitle ? SubpictureSource::DvdTitle
                                          : SubpictureSource::Dvd;
}

void SourceJob::closeSource() {
    records().job.source.reset();
}

void SourceJob::runPass(PassMode mode, PassHooks& hooks, BlockConsumer* follower) {
    // The Cancel button is offered while the pass runs, also when it ends by an error.
    struct Cancellable {
        const std::function<void(bool)>& tell;
        explicit Cancellable(const std::function<void(bool)>& t) : tell(t) { tell(true); }
        ~Cancellable() { tell(false); }
    } cancellable(context_.cancellable);
    const bool reading = mode == PassMode::Detection;
    PackEngine engine(records(), context_.os, context_.log);
    PackEngine::SpanEvents events;
    events.starting = [&](size_t span) {
        announceSpan(span, reading ? JobActivity::Reading : JobActivity::Demuxing);
    };
    events.ended = [this](size_t span, bool packFound) {
        if (!packFound && !context_.control.cancelled) {
            throw JobError(ErrorCode::InvalidData, "No program stream found in " +
                                                       records().job.source->span(span).path +
                                                       ": it holds no MPEG pack header.");
        }
    };
    engine.demux(mode, hooks, events, follower);
}

void SourceJob::runPass(PassMode mode, const PassOptions& options,
                        std::array<VobSubWriter, 32>* vobSub, bool pgs) {
    JobRecords& state = records();
    if (mode == PassMode::Detection) {
        DetectionPass pass(state, context_.log, options, *analysers_);
        runPass(mode, pass);
    } else {
        DemuxPass pass(state, context_.log, options);
        pass.writeVobSub(vobSub);
        if (pgs) {
            pass.writePgs();
        }
        runPass(mode, pass);
        pass.finish();
    }
}

VobSubIndexInfo SourceJob::vobSubInfo(const std::vector<StreamBox>& boxes,
                                      int64_t earliestPts) const {
    VobSubIndexInfo info;
    info.palette = defaultVobSubPalette();
    info.startPts = earliestPts;
    for (const StreamBox& box : boxes) {
        if (box.kind != StreamKind::Video) {
            continue;
        }
        if (box.header.width && box.header.height) {
            info.width = static_cast<int>(*box.header.width);
            info.height = static_cast<int>(*box.header.height);
        }
        if (box.firstPts) {
            info.startPts = *box.firstPts;
        }
        break;
    }
    if (discTitle_) {
        if (discTitle_->video.width > 0 && discTitle_->video.height > 0) {
            info.width = discTitle_->video.width;
            info.height = discTitle_->video.height;
        }
        std::transform(discTitle_->palette.begin(), discTitle_->palette.end(), info.palette.begin(),
                       paletteRgb);
    }
    return info;
}

void SourceJob::announceSpan(size_t span, JobActivity activity, bool blankLine) {
    const std::string name = fileNamePart(records().job.source->span(span).path, context_.style);
    Reporter& log = context_.log;
    if (blankLine) {
        log.log("");
    }
    log.log({"Continue on ", asStrong(name)});
    log.log(activity == JobActivity::Reading    ? "Reading..."
            : activity == JobActivity::Demuxing ? "Demuxing..."
                                                : "Rebuilding...");
    log.activity(activity, name);
}

void SourceJob::logDone() {
    Reporter& log = context_.log;
    log.log(context_.control.cancelled ? "Cancelled." : "Done.");
    log.log("");
    log.activity(JobActivity::Ready);
}

std::array<FrameTally, 2> frameTally(const JobRecords& state) {
    const StreamRegistry& streams = state.streams;
    std::array<FrameTally, 2> tally;
    for (size_t n = 0; n < tally.size(); ++n) {
        if (const StreamContext* video =
                streams.numbered(StreamKind::Video, static_cast<int32_t>(n))) {
            tally[n].counted = video->frameCount;
            tally[n].frameRate = video->frameRate;
        }
        tally[n].partial = state.job.countStoppedAt.has_value();
        // Without navigation packs there is no running time to calculate from.
        if (tally[n].frameRate > 0 && state.job.totalSeconds > 0) {
            // Each VOB holds whole frames: its frames are counted apart. nearbyint rounds a
            // half to the even neighbour.
            const auto frames = [&](double seconds) {
                return static_cast<int64_t>(std::nearbyint(seconds * tally[n].frameRate));
            };
            if (state.job.vobTicks.empty()) {
                tally[n].calculated = frames(state.job.totalSeconds);
            } else {
                int64_t sum = 0;
                for (const int64_t vob : state.job.vobTicks) {
                    sum += frames(static_cast<double>(vob) / kTicksPerSecond);
                }
                tally[n].calculated = sum;
            }
        }
    }
    return tally;
}

void reportFrames(const JobRecords& state, Reporter& log, bool twoFiles) {
    const JobState& job = state.job;
    const std::array<FrameTally, 2> tally = frameTally(state);
    for (size_t n = 0; n < tally.size(); ++n) {
        const FrameTally& video = tally[n];
        const std::string stream = " in video stream " + std::to_string(n) + ".";
        std::string countedIn = stream;
        if (video.partial) {
            countedIn = " in video stream " + std::to_string(n) + " (fast check: first " +
                        std::to_string(*job.countStoppedAt / kMebibyte) + " Mbytes only).";
        }
        if (video.counted > 0) {
            if (video.frameRate > 0) {
                const double seconds = static_cast<double>(video.counted) / video.frameRate;
                log.log({std::to_string(video.counted) + " counted frames (",
                         asStrong(formatDuration(seconds, job.formatSettings)),
                         std::string(")") + countedIn});
            } else {
                log.log(std::to_string(video.counted) + " frames count" + countedIn);
            }
        }
        if (video.calculated) {
            LogEvent line{std::to_string(*video.calculated) + " calculated frames"};
            if (twoFiles || job.vobTicks.size() > 1) {
                line << " (" << asStrong(formatDuration(job.totalSeconds, job.formatSettings))
                     << ")";
            }
            log.log(line << stream);
        }
    }
    if (tally[0].counted + tally[1].counted > 0) {
        log.log("");
    }
}

// How many subpictures each subpicture stream holds and how many the disc forces on screen
// (the foreign-language lines of a film): what a user keeps apart.
void reportSubpictures(const StreamRegistry& streams, Reporter& log) {
    bool any = false;
    streams.forEach([&](const StreamContext& stream) {
        if (stream.kind != StreamKind::Subpicture || stream.subpictures == 0) {
            return;
        }
        any = true;
        LogEvent line{"Subpicture stream " + std::to_string(stream.number) + ": "};
        line << asValue(std::to_string(stream.subpictures))
             << (stream.subpictures == 1 ? " subpicture, " : " subpictures, ");
        if (stream.forcedSubpictures == stream.subpictures) {
            line << asStrong("all forced") << " (forced only).";
        } else {
            line << asValue(std::to_string(stream.forcedSubpictures)) << " forced.";
        }
        log.log(line);
    });
    if (any) {
        log.log("");
    }
}

// Which video streams carry closed captions, in which form, and which channels show text: what
// a user keeps as text, as no remux keeps them.
void reportCaptions(const StreamRegistry& streams, Reporter& log) {
    bool any = false;
    streams.forEach([&](const StreamContext& stream) {
        if (stream.kind != StreamKind::Video || stream.captionForm == CaptionForm::None) {
            return;
        }
        any = true;
        LogEvent line{"Video stream " + std::to_string(stream.number) + ": closed captions (" +
                      (stream.captionForm == CaptionForm::Dvd ? "DVD" : "ATSC A/53") + " form)"};
        const std::vector<std::string> channels = captionChannelNames(stream.captionChannels);
        if (channels.empty()) {
            line << ", no channel shows text.";
        } else {
            line << " in ";
            for (size_t k = 0; k < channels.size(); ++k) {
                line << (k == 0 ? "" : ", ") << asStrong(channels[k]);
            }
            line << ".";
        }
        log.log(line);
    });
    if (any) {
        log.log("");
    }
}

void SourceJob::finish(PassesResult& result, bool reportFrameCounts, bool twoFiles) {
    const JobState& job = records().job;
    result.skipped = job.skipped;
    for (const SkippedBlocks& run : job.skipped) {
        // Where in the title, by bytes and by time, so that a user finds the damage.
        std::string when;
        if (run.time) {
            const int64_t from = job.minPts != kNoPts ? job.minPts : 0;
            when = " (" +
                   formatDuration(static_cast<double>(*run.time - from) / 90000.0,
                                  job.formatSettings) +
                   ")";
        }
        context_.log.log(
            {asValue(std::to_string(run.count)), run.count == 1 ? " sector" : " sectors",
             " at byte " + std::to_string(run.position) + when + " of " +
                 fileNamePart(run.path, context_.style) + " cannot be read: passed over."});
    }
    result.frames = frameTally(records());
    result.files = files_;
    result.cancelled = context_.control.cancelled;
    result.discTitle = discTitle_;
    result.inputs = inputs_;
    result.sourceKind = sourceKind_;
    logDone();
    if (reportFrameCounts && !result.cancelled) {
        reportFrames(records(), context_.log, twoFiles);
    }
    if (!result.cancelled) {
        reportSubpictures(records().streams, context_.log);
        reportCaptions(records().streams, context_.log);
    }
}

void SourceJob::endAfterError() {
    closeSource();
    context_.log.activity(JobActivity::Ready);
}

}  // namespace tolvane
