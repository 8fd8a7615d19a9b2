// tolvane-cli: the read, demux, rebuild and playlist jobs, run from a shell.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <new>

#include "cli/cli_options.h"
#include "cli/console.h"
#include "cli/json_report.h"
#include "core/file_output.h"
#include "core/number_format.h"
#include "core/platform_error.h"
#include "core/text_escape.h"
#include "core/time_format.h"
#include "discs/dvd_disc.h"
#include "discs/title_choice.h"
#include "jobs/demux_job.h"
#include "jobs/mkv_job.h"
#include "jobs/read_and_demux_job.h"
#include "jobs/read_and_rebuild_job.h"
#include "jobs/read_job.h"
#include "jobs/rebuild_job.h"
#include "jobs/stream_selection.h"
#include "playlist/xpl_job.h"

namespace {

using namespace tolvane;
using namespace tolvane::cli;

constexpr int kDone = 0;
constexpr int kFailed = 1;
constexpr int kUsageError = 2;
// The job ran to its end but passed over sectors it could not read.
constexpr int kUnreadable = 3;

// 128 and the signal, as shells report a program that a signal stopped: 130 for Ctrl-C.
int interruptedStatus() {
    return 128 + static_cast<int>(stopSignal);
}

int usageError(const std::string& message) {
    std::cerr << "tolvane-cli: " << message << "\nTry 'tolvane-cli --help' for more information."
              << std::endl;
    return kUsageError;
}

void printTree(const std::vector<TreeNode>& nodes, int depth) {
    for (const TreeNode& node : nodes) {
        std::cout << std::string(static_cast<size_t>(2 * depth), ' ') << terminalSafe(node.text)
                  << '\n';
        printTree(node.children, depth + 1);
    }
}

// The titles of a disc as lines: each title's time, chapters and angles, then its video, its
// streams and its chapters' starts.
void printTitles(const Disc& disc, const LocaleSettings& locale, double minLength) {
    const auto time = [&](double seconds) { return formatDuration(seconds, locale); };
    const auto plural = [](size_t count, const char* word) {
        return std::to_string(count) + " " + word + (count == 1 ? "" : "s");
    };
    const bool dvd = std::string(disc.kind()) == "dvd";
    std::cout << "Disc " << terminalSafe(disc.path()) << ": "
              << plural(disc.titles().size(), "title") << '\n';
    const std::vector<TitleVerdict> verdicts = judgeTitles(disc.titles(), minLength);
    for (size_t k = 0; k < disc.titles().size(); ++k) {
        const DiscTitle& title = disc.titles()[k];
        std::cout << "Title " << title.number << ": ";
        if (!title.damage.empty()) {
            std::cout << "cannot be read: " << terminalSafe(title.damage) << '\n';
            continue;
        }
        if (verdicts[k].role == TitleRole::Main) {
            std::cout << "main title, ";
        } else if (verdicts[k].role != TitleRole::Plain) {
            std::cout << roleName(verdicts[k].role) << " (" << verdicts[k].reason << "), ";
        }
        if (!title.name.empty()) {
            std::cout << terminalSafe(title.name) << ", ";
        }
        std::cout << time(title.duration) << ", " << plural(title.chapters.size(), "chapter");
        if (dvd) {
            std::cout << ", " << plural(static_cast<size_t>(title.angles), "angle")
                      << " (title set " << title.titleSet << ", program chain "
                      << title.programChain << ")\n";
            char rate[16];
            std::snprintf(rate, sizeof rate, "%.3f", title.video.frameRate);
            std::cout << "  Video: " << title.video.width << "x" << title.video.height << ", "
                      << rate << " fps, " << title.video.aspect << '\n';
            for (const AngleBlock& block : title.angleBlocks) {
                std::cout << "  Angle block: " << time(block.start) << " to " << time(block.end);
                if (block.firstChapter > 0) {
                    std::cout << (block.firstChapter == block.lastChapter
                                      ? ", chapter " + std::to_string(block.firstChapter)
                                      : ", chapters " + std::to_string(block.firstChapter) +
                                            " to " + std::to_string(block.lastChapter));
                }
                std::cout << '\n';
            }
        } else {
            std::cout << ", " << plural(title.clips.size(), "clip");
            if (title.measuredDuration) {
                std::cout << ", measured " << time(*title.measuredDuration);
            }
            std::cout << '\n';
        }
        for (const DiscClip& clip : title.clips) {
            std::cout << "  Clip " << terminalSafe(clip.map) << ": " << terminalSafe(clip.evo)
                      << ", " << time(clip.begin) << " to " << time(clip.end);
            if (clip.fileBegin > 0) {
                std::cout << ", from " << time(clip.fileBegin) << " of its file";
            }
            std::cout << '\n';
        }
        for (const DiscStream& stream : title.streams) {
            std::cout << "  "
                      << (stream.kind == StreamKind::Video   ? "Video "
                          : stream.kind == StreamKind::Audio ? "Audio "
                                                             : "Subpicture ")
                      << "0x" << hexUpper(static_cast<uint64_t>(stream.id), 2) << ": "
                      << (stream.coding ? codingName(*stream.coding) : "unknown coding");
            if (stream.kind == StreamKind::Audio && stream.channels > 0) {
                std::cout << ", " << plural(static_cast<size_t>(stream.channels), "channel");
            }
            if (stream.kind == StreamKind::Audio && stream.sampleRate > 0) {
                std::cout << ", " << stream.sampleRate << " Hz";
            }
            if (stream.kind != StreamKind::Video) {
                std::cout << ", "
                          << (stream.language.empty() ? "no language"
                                                      : terminalSafe(stream.language));
            }
            if (!stream.viewport.empty()) {
                std::cout << ", " << stream.viewport;
            }
            if (!stream.content.empty()) {
                std::cout << ", " << stream.content;
            }
            std::cout << '\n';
        }
        for (const DiscChapter& chapter : title.chapters) {
            std::cout << "  Chapter " << chapter.number << ": " << time(chapter.start);
            if (!chapter.name.empty()) {
                std::cout << ", " << terminalSafe(chapter.name);
            }
            std::cout << '\n';
        }
    }
}

PassSettings passSettings(const CliOptions& options) {
    return PassSettings{
        .fastCheck = options.fastCheck,
        .fastCheckMb = std::stoll(options.fastCheckMb),
        .countFrames = options.countFrames,
        .details = options.details,
        .continueOnSecondFile = options.continueOn,
        .title = options.title,
        .angle = options.angle,
        .stopOnReadError = options.stopOnReadError,
    };
}

// Names need not be UTF-8, a JSON document must be: their other bytes are written as \xHH.
void printJson(Json report) {
    makeValidUtf8(report);
    std::cout << report.dump(2) << '\n';
}

// The program: its records, its log and the jobs it runs over them.
class Program {
public:
    explicit Program(const CliOptions& options)
        : options_(options), context_{.control = control_, .log = log_, .os = os_} {
        const bool color = options.color == ColorMode::Always ||
                           (options.color == ColorMode::Auto && isatty(STDOUT_FILENO) != 0);
        view_ =
            std::make_unique<ConsoleView>(log_, color, isatty(STDERR_FILENO) != 0, !options.json);
        log_.setView(view_.get());
        showLibraryMessages(options.verbose);
        os_.attach(&control_);
        context_.formatSettings = os_.locale();
        log_.setLocale(context_.formatSettings);
    }

    int run() {
        try {
            if (options_.command == Command::Titles) {
                return listTitles();
            }
            if (options_.allTitles) {
                return takeApartEveryTitle();
            }
            if (options_.mainTitle) {
                // The disc names its main title once it is open.
                const std::unique_ptr<Disc> disc = openDisc(options_.source);
                options_.title = mainTitleNumber(disc->titles());
                if (options_.title == 0) {
                    throw JobError(ErrorCode::NotFound,
                                   "'" + options_.source + "' has no title that can be read");
                }
                log_.log({"Main title: ", asValue(std::to_string(options_.title))});
            }
            return options_.command == Command::Xpl ? readPlaylist() : takeApartTitle();
        } catch (const JobError& error) {
            os_.showError(error.what());
            return stopRequested() ? interruptedStatus() : kFailed;
        } catch (const std::bad_alloc&) {
            // A memory limit reached is an error of the run, never an abort that skips the
            // outputs' ends.
            os_.showError("Out of memory: the input needs more than the system gives");
            return kFailed;
        }
    }

private:
    // Each disc in turn; one that cannot be read is said and the others are still listed.
    // JSON is one document a disc, a line each, so that a shelf of discs can be piped.
    int listTitles() {
        std::vector<std::string> discs;
        for (const std::string& given : options_.discs) {
            const std::vector<std::string> found = discsOnShelf(given);
            discs.insert(discs.end(), found.begin(), found.end());
        }
        const size_t count = discs.size();
        int status = kDone;
        for (size_t k = 0; k < count && !stopRequested(); ++k) {
            const std::string& path = discs[k];
            if (count > 1) {
                std::cerr << "Disc " << k + 1 << " of " << count << ": " << terminalSafe(path)
                          << std::endl;
            }
            try {
                const std::unique_ptr<Disc> disc = openDisc(path);
                disc->measure();
                if (options_.json) {
                    Json report = titlesReport(*disc, options_.minLength);
                    makeValidUtf8(report);
                    std::cout << report.dump() << '\n';
                } else {
                    if (k > 0) {
                        std::cout << '\n';
                    }
                    printTitles(*disc, context_.formatSettings, options_.minLength);
                }
            } catch (const JobError& error) {
                os_.showError(error.what());
                status = kFailed;
                if (options_.json) {
                    Json report = {{"version", kReportVersion},
                                   {"disc", {{"path", path}}},
                                   {"error", error.what()}};
                    makeValidUtf8(report);
                    std::cout << report.dump() << '\n';
                }
            }
            std::cout.flush();
        }
        return stopRequested() ? interruptedStatus() : status;
    }

    int readPlaylist() {
        XplAttributeTables tables;
        XplJob job(context_, tables);
        const XplResult playlist = job.run(XplInput{options_.source, options_.xplSource});
        if (!options_.json && playlist.titleFound) {
            printTree(playlist.tree, 0);
        } else if (!options_.json && options_.xplSource.empty()) {
            // A title is shown for the source it plays: without one there is none to show.
            std::cout << "No title shown: --source names the file whose title to show; "
                         "tolvane-cli titles lists the disc's titles.\n";
        }
        if (!options_.chapters.empty()) {
            saveChapters(playlist, options_.chapters, PathStyle::native(), log_);
        }
        if (options_.json) {
            writePlaylistReport(playlist, options_.source, std::cout);
        }
        return kDone;
    }

    OutputNaming outputNaming() const {
        OutputNaming naming{.folder = options_.outputFolder,
                            .delayNames = options_.delayNames,
                            .extensionByCoding = options_.extByCoding};
        naming.videoExtension = options_.videoExt.value_or(naming.videoExtension);
        naming.audioExtension = options_.audioExt.value_or(naming.audioExtension);
        naming.subpictureExtension = options_.subExt.value_or(naming.subpictureExtension);
        if (!options_.subFormat.empty()) {
            naming.subpictureFormat = options_.subFormat == "vobsub" ? SubpictureFormat::VobSub
                                      : options_.subFormat == "pgs"  ? SubpictureFormat::Pgs
                                                                     : SubpictureFormat::Sup;
        }
        if (options_.lpcm == "raw") {
            naming.lpcm = LpcmOutput::Raw;
        }
        naming.forcedTracks = options_.forcedTracks;
        naming.captions = options_.captions;
        return naming;
    }

    // The end of a job: its report, when asked for, and its exit status.
    int done(const Json& report) {
        if (options_.json) {
            printJson(report);
        }
        std::cout.flush();
        if (stopRequested()) {
            return interruptedStatus();
        }
        return report.contains("unreadable") ? kUnreadable : kDone;
    }

    // The chapters of the disc title a job read, when --chapters asks for them.
    void saveTitleChapters(const ReadResult& read) {
        if (!options_.chapters.empty() && read.discTitle && !read.cancelled) {
            saveChapterMarks(discChapterMarks(*read.discTitle), options_.chapters,
                             PathStyle::native(), read.inputs, log_);
        }
    }

    int nothingChosen(bool rebuild) {
        std::cerr << (rebuild ? "tolvane-cli: rebuild needs an .EVO source with a stream selected"
                              : "tolvane-cli: no stream is selected: nothing to demux")
                  << std::endl;
        return kFailed;
    }

    // The source into one Matroska file, read once.
    int writeMatroska(const PassSettings& settings) {
        MkvJob job(context_);
        MkvResult made;
        try {
            made = job.run(MkvInput{options_.source, settings, options_.outputFolder,
                                    options_.select, options_.forcedTracks, options_.captions});
        } catch (const SelectionError& error) {
            return usageError(error.what());
        }
        Json report = readReport(made.read);
        if (!stopRequested() && !made.output) {
            std::cerr << "tolvane-cli: no stream is selected: nothing to write" << std::endl;
            return kFailed;
        }
        if (made.output) {
            std::vector<OutputWritten> written = {*made.output};
            written.insert(written.end(), made.captions.begin(), made.captions.end());
            report["outputs"] = outputsReport(written);
        }
        Json tracks = Json::array();
        for (const MatroskaTrack& track : made.tracks) {
            tracks.push_back({{"kind", track.kind == StreamKind::Video   ? "video"
                                       : track.kind == StreamKind::Audio ? "audio"
                                                                         : "subpicture"},
                              {"language", track.language},
                              {"name", track.name},
                              {"default", track.isDefault}});
        }
        report["tracks"] = tracks;
        saveTitleChapters(made.read);
        return done(report);
    }

    // Each title that is no decoy, duplicate or short title, in turn: the worst status of them.
    int takeApartEveryTitle() {
        std::vector<int> chosen;
        {
            const std::unique_ptr<Disc> disc = openDisc(options_.source);
            const std::vector<TitleVerdict> verdicts =
                judgeTitles(disc->titles(), options_.minLength);
            for (size_t k = 0; k < verdicts.size(); ++k) {
                const TitleRole role = verdicts[k].role;
                if (disc->titles()[k].damage.empty() &&
                    (role == TitleRole::Main || role == TitleRole::Plain)) {
                    chosen.push_back(disc->titles()[k].number);
                }
            }
        }
        int status = kDone;
        for (const int title : chosen) {
            if (stopRequested()) {
                break;
            }
            options_.title = title;
            try {
                status = std::max(status, takeApartTitle());
            } catch (const JobError& error) {
                // A title that fails leaves the others to be written.
                os_.showError(error.what());
                status = std::max(status, static_cast<int>(kFailed));
            }
        }
        return stopRequested() ? interruptedStatus() : status;
    }

    // The title, or with --all-angles each of its angles in turn: the worst status of them.
    int takeApartTitle() {
        if (!options_.allAngles) {
            return takeApart();
        }
        int angles = 1;
        {
            const std::unique_ptr<Disc> disc = openDisc(options_.source);
            if (const DiscTitle* title = disc->title(options_.title); title != nullptr) {
                angles = title->angles;
            }
        }
        int status = kDone;
        for (int angle = 1; angle <= angles && !stopRequested(); ++angle) {
            options_.angle = angle;
            status = std::max(status, takeApart());
        }
        return stopRequested() ? interruptedStatus() : status;
    }

    int takeApart() {
        const bool rebuild = options_.command == Command::Rebuild;
        if (options_.title > 0) {
            // What the disc can refuse is refused before a folder is made or a block read: a
            // title or angle it does not have, a choice its kind does not take.
            const std::unique_ptr<Disc> disc = openDisc(options_.source);
            const bool hdDvd = std::string(disc->kind()) == "hddvd";
            if (rebuild && !hdDvd) {
                return usageError(
                    "rebuild writes .EVO files and takes the titles of HD DVD "
                    "discs: '" +
                    options_.source + "' is a DVD");
            }
            if (hdDvd && options_.subFormat == "vobsub") {
                return usageError("--sub-format vobsub takes the subpictures of a DVD: '" +
                                  options_.source + "' is an HD DVD");
            }
            if (!hdDvd && options_.subFormat == "pgs") {
                return usageError("--sub-format pgs takes the subpictures of an HD DVD: '" +
                                  options_.source + "' is a DVD");
            }
            disc->titleSource(options_.title, options_.angle);
        } else if (rebuild && fileSourceKind(options_.source) != SourceKind::HdDvdFile) {
            return usageError("rebuild writes .EVO files and takes an .EVO source: '" +
                              options_.source + "' is not one");
        }
        if (options_.title == 0 && looksLikeDisc(options_.source)) {
            return usageError("'" + options_.source +
                              "' is a disc: choose a title with --title N (tolvane-cli titles '" +
                              options_.source + "' lists them)");
        }
        const PassSettings settings = passSettings(options_);
        if (!options_.chapters.empty()) {
            // Refused before anything is read or written, as every output of the job is.
            checkOutputTarget(options_.chapters, options_.title > 0
                                                     ? discMemberFiles(options_.source)
                                                     : discFilesAround(options_.source));
            // The chapters' folder must take the file before the title is read for it.
            prepareOutputFolder(std::filesystem::path(options_.chapters).parent_path().string());
        }
        if (options_.command == Command::Mkv) {
            return writeMatroska(settings);
        }
        if (options_.command != Command::Read) {
            // A folder that cannot take the outputs is refused before the source is read.
            prepareOutputFolder(options_.outputFolder);
        }
        if (options_.command == Command::Demux) {
            // The streams are written as the source is read: it is read once.
            ReadAndDemuxJob job(context_);
            ReadAndDemuxResult found;
            try {
                found = job.run(
                    ReadAndDemuxInput{options_.source, settings, outputNaming(), options_.select});
            } catch (const SelectionError& error) {
                return usageError(error.what());
            }
            Json report = readReport(found.read);
            if (!stopRequested() && found.outputs.empty()) {
                return nothingChosen(false);
            }
            report["outputs"] = outputsReport(found.outputs);
            saveTitleChapters(found.read);
            return done(report);
        }
        if (options_.command == Command::Read) {
            const ReadResult read = ReadJob(context_).run(ReadInput{options_.source, settings});
            saveTitleChapters(read);
            return done(readReport(read));
        }
        // The rebuild writes the chosen streams as the source is read: it is read once.
        ReadAndRebuildJob job(context_);
        ReadAndRebuildResult found;
        try {
            found = job.run(ReadAndRebuildInput{options_.source, settings, options_.outputFolder,
                                                options_.advancedPacks, options_.select});
        } catch (const SelectionError& error) {
            return usageError(error.what());
        }
        Json report = readReport(found.read);
        if (!stopRequested() && !found.output) {
            return nothingChosen(true);
        }
        saveTitleChapters(found.read);
        if (found.output) {
            report["outputs"] = outputsReport({*found.output});
        }
        return done(report);
    }

    CliOptions options_;
    JobControl control_;
    MessageLog log_;
    ConsoleOs os_;
    JobContext context_;
    std::unique_ptr<ConsoleView> view_;
};

}  // namespace

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(true);
    CliOptions options;
    try {
        options = parseArguments(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const UsageError& error) {
        return usageError(error.message);
    }
    if (options.command == Command::Help) {
        std::cout << usageText(options.helpFor);
        return kDone;
    }
    if (options.command == Command::Version) {
        std::cout << "tolvane-cli " << TOLVANE_VERSION << '\n';
        return kDone;
    }
    installInterruptHandler();
    // The records hold a read block: they live on the heap, not on the stack.
    auto program = std::make_unique<Program>(options);
    return program->run();
}
