#pragma once

#include <bitset>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/input_source.h"
#include "core/os_services.h"
#include "core/platform_error.h"
#include "core/reporter.h"
#include "demux/job_records.h"
#include "demux/pack_engine.h"
#include "demux/pass_hooks.h"
#include "demux/pass_options.h"
#include "discs/dvd_disc.h"
#include "format/header_analysers.h"
#include "jobs/stream_labels.h"
#include "sinks/job_naming.h"
#include "sinks/vobsub.h"

namespace tolvane {

using InputOpener = std::function<std::unique_ptr<InputSource>(const std::string&)>;

// What every job works with and reports to. Each job makes its own records; what the caller
// keeps from one job to the next is in the jobs' results.
struct JobContext {
    // Where the caller cancels the job and learns whether it writes.
    JobControl& control;
    Reporter& log;
    OsServices& os;
    PathStyle style = PathStyle::native();
    // Whether a second feature file exists; a regular file by default.
    FileExists fileExists;
    // Opens a source for reading; a FileSource by default.
    InputOpener openInput;
    // Told true when a pass starts and false when it ends, however it ends: a window enables
    // its Cancel button meanwhile.
    std::function<void(bool)> cancellable;
    // The user's separators in the times the reports give.
    LocaleSettings formatSettings;
};

// A context with the defaults filled in where the caller left them empty.
JobContext withDefaults(JobContext context);

// The settings the passes of every job read.
struct PassSettings {
    bool fastCheck = true;
    int64_t fastCheckMb = 300;
    bool countFrames = true;
    bool details = true;
    // Go on with the second feature file (FEATURE_2.EVO, VTS_01_2.VOB) when there is one.
    bool continueOnSecondFile = true;
    // The title of a disc to read, from 1, and its angle; 0: the source is a file.
    int title = 0;
    int angle = 1;
    // A sector that cannot be read ends the job, instead of being passed over.
    bool stopOnReadError = false;
};

// A labelled stream box: what a read found (or a playlist announced) under one number, and
// whether the user chose it for a demux or rebuild.
struct StreamBox {
    StreamKind kind = StreamKind::Video;
    int number = 0;
    // The stream's key: its identifying byte, kMpegAudioKey added for MPEG audio;
    // kStreamAnnounced for a box a playlist filled.
    int32_t id = 0;
    std::string label;
    // The first PTS the read met, 90 kHz ticks.
    std::optional<int64_t> firstPts;
    // First PTS minus the first video stream's, in milliseconds.
    std::optional<int32_t> delayMs;
    std::optional<StreamCoding> coding;
    // Two letters, as the source's disc names the stream's language; empty when it does not.
    std::string language;
    // A 16:9 DVD title's subpictures for the letterbox or pan-scan viewport; empty otherwise.
    std::string viewport;
    // What the header analyser decoded.
    StreamHeader header;
    // Video: the headers a decoder needs first, as the stream carries them.
    std::vector<uint8_t> codecPrivate;
    bool chosen = true;
    // Video and audio: the seconds it plays, from its time stamps, and its payload bytes.
    std::optional<double> duration;
    int64_t bytes = 0;
    // Subpictures (DVD and HD DVD): the units the read met, and how many are forced on screen.
    int64_t subpictures = 0;
    int64_t forcedSubpictures = 0;
    bool forcedOnly() const { return subpictures > 0 && forcedSubpictures == subpictures; }
    // MPEG video: the form of its closed captions, and the channels that show text.
    CaptionForm captionForm = CaptionForm::None;
    uint8_t captionChannels = 0;
};

// The boxes that `streams` holds ids for, in box order (video, audio, subpicture), with the
// captions the read gives them and their first times.
std::vector<StreamBox> labelledBoxes(const StreamRegistry& streams);

// Stores the boxes' ids in the stream table, every other box empty.
void storeBoxIds(StreamRegistry& streams, const std::vector<StreamBox>& boxes);

// An audio or subpicture stream's delay to the first video stream, in milliseconds; none
// without either first time.
std::optional<int32_t> streamDelayMs(const StreamRegistry& streams, StreamKind kind, int number);

// The pass options of one job: its settings, its source's kind and its chosen boxes.
class JobPassOptions : public PassOptions {
public:
    explicit JobPassOptions(const PassSettings& settings, const std::vector<StreamBox>& boxes = {});

    bool fastCheck() const override { return settings_.fastCheck; }
    int64_t fastSizeMb() const override { return settings_.fastCheckMb; }
    bool countFrames() const override { return settings_.countFrames; }
    bool details() const override { return settings_.details; }
    // Whether the stream numbered `number` of `kind` was chosen.
    bool chosen(StreamKind kind, int32_t number) const {
        return kind == StreamKind::Video   ? chosen(video_, number)
               : kind == StreamKind::Audio ? chosen(audio_, number)
                                           : chosen(sub_, number);
    }

private:
    template <size_t N>
    static bool chosen(const std::bitset<N>& boxes, int32_t number) {
        return number >= 0 && number < static_cast<int32_t>(N) &&
               boxes.test(static_cast<size_t>(number));
    }

    PassSettings settings_;
    std::bitset<8> video_;
    std::bitset<16> audio_;
    std::bitset<32> sub_;
};

// The frames of one video stream at the end of a read or demux.
struct FrameTally {
    int64_t counted = 0;
    // Running time times frame rate; none without a rate or a running time.
    std::optional<int64_t> calculated;
    double frameRate = 0;
    // The fast check stopped the read: `counted` covers the part read.
    bool partial = false;
};

// Stops the running job after its current block; its log ends with "Cancelled.".
void cancelJob(JobControl& control);

// The frames of both video streams, as the last read or demux left them.
std::array<FrameTally, 2> frameTally(const JobRecords& state);
// The frame-count report that ends the read and demux jobs.
void reportFrames(const JobRecords& state, Reporter& log, bool twoFiles);

// One file a job read.
struct FileRead {
    std::string path;
    int64_t size = 0;
};

// What every job over a source ends with.
struct PassesResult {
    std::vector<FileRead> files;
    std::array<FrameTally, 2> frames;
    // The source's base name, joined with the second file's when the job went on to it.
    std::string baseName;
    bool cancelled = false;
    // The disc title that was read, or the one a title set's VOB file belongs to.
    std::optional<DiscTitle> discTitle;
    // Every file the job read or could have read (a disc's members, the information files
    // beside a VOB file): what no output written after it may replace.
    std::vector<std::string> inputs;
    SourceKind sourceKind = SourceKind::ProgramStream;
    // The runs of sectors that could not be read and were passed over.
    std::vector<SkippedBlocks> skipped;
};

// Whose subpictures a source holds.
enum class SubpictureSource : uint8_t { DvdTitle, Dvd, HdDvd };
SubpictureSource subpictureSource(SourceKind kind);

// The steps every job over a source shares.
class SourceJob {
protected:
    // Each job runs once, over records of its own.
    explicit SourceJob(const JobContext& context);
    ~SourceJob();
    SourceJob(const SourceJob&) = delete;
    SourceJob& operator=(const SourceJob&) = delete;

    JobRecords& records() { return *records_; }

    // The names of a job over `path`: for a disc's title the disc's own name with the title's
    // number (dvd_title01), never a second file.
    JobNames namesFor(const std::string& path, const PassSettings& settings) const;
    // Opens the job's source: `path`, followed by the second feature file when `names` has one,
    // or the title of the disc `path` that `settings` choose, and remembers what it read among
    // the files read. Returns the size of the first file or of the title.
    int64_t openSource(const std::string& path, const JobNames& names,
                       const PassSettings& settings);
    void closeSource();
    // "Opening file NAME", or "Opening title N of NAME" for a disc's title.
    static LogEvent openingLine(const std::string& name, const PassSettings& settings, bool bold);
    // Opens the source as a read does, with its first lines: "Opening file", "Reading..." and
    // the first file's size.
    void openForReading(const std::string& path, const JobNames& names,
                        const PassSettings& settings);
    // One pass of the engine over the open source; a demux writes subpictures through `vobSub`
    // when it is given, or as PGS when `pgs` says so. Throws JobError (invalid data) when a span,
    // not cancelled, holds no pack header.
    void runPass(PassMode mode, const PassOptions& options,
                 std::array<VobSubWriter, 32>* vobSub = nullptr, bool pgs = false);
    // What the .idx of a VobSub stream of this source tells: the disc's palette and frame size
    // when it has a disc, times counted from the first video stream's first PTS among `boxes`,
    // else from `earliestPts`.
    VobSubIndexInfo vobSubInfo(const std::vector<StreamBox>& boxes, int64_t earliestPts) const;
    // One pass of the engine with hooks of the job's own, and a consumer of its own that takes
    // every block after the scanner.
    void runPass(PassMode mode, PassHooks& hooks, BlockConsumer* follower = nullptr);
    // What the log says where the source goes on into span `span`: an empty line (unless
    // `blankLine` is false), "Continue on" the file, and what the job does ("Reading...").
    void announceSpan(size_t span, JobActivity activity, bool blankLine = true);
    // "Done.", an empty line and the idle status panels that end every job.
    void logDone();
    // Fills in what every job ends with and logs "Done.", then, for the read and demux jobs,
    // the frame-count report.
    void finish(PassesResult& result, bool reportFrameCounts, bool twoFiles);
    // The status panels back to idle and the source closed, after a platform error.
    void endAfterError();
    // The one end of every job: `steps` make the job's result. A JobError they throw ends the
    // job after `undo(error)` has settled what it wrote, with the source closed, the writing
    // flag down and the status panels idle, and goes on to the caller.
    template <typename Steps, typename Undo>
    auto ended(Steps&& steps, Undo&& undo) {
        try {
            auto result = steps();
            context_.control.writing = false;
            return result;
        } catch (const JobError& error) {
            undo(error);
            context_.control.writing = false;
            endAfterError();
            throw;
        }
    }

    JobContext context_;
    std::unique_ptr<JobRecords> records_;
    std::unique_ptr<HeaderAnalysers> analysers_;
    std::vector<FileRead> files_;
    // What openSource() read or may read: the files no output may replace.
    std::vector<std::string> inputs_;
    // The disc title the source belongs to: its palette, chapters and languages.
    std::optional<DiscTitle> discTitle_;
    SourceKind sourceKind_ = SourceKind::ProgramStream;
};

}  // namespace tolvane
