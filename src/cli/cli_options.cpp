#include "cli/cli_options.h"

#include <algorithm>
#include <charconv>
#include <tuple>

#include <CLI/CLI.hpp>

#include "jobs/job_naming.h"

namespace tolvane::cli {

const char* const kUsage = R"(Usage: tolvane-cli COMMAND SOURCE [options]
       tolvane-cli read|demux|rebuild DISC --title N [--angle A] [options]
       tolvane-cli xpl PLAYLIST [--source SOURCE [--chapters FILE]]
       tolvane-cli titles DISC [--json]

Takes apart the MPEG-2 program streams of HD DVD (.EVO), DVD-Video (.VOB) and
DVD-Audio (.AOB) discs. Every command prints the message log, one line per line.

Commands:
  read SOURCE        report every stream of SOURCE (and of its second feature
                     file); nothing is written
  demux SOURCE       write every selected stream to a file of its own as SOURCE
                     (and its second feature file) is read, once
  rebuild SOURCE     write SOURCE.rebuilt.EVO with only the selected streams,
                     renumbered without gaps, as SOURCE is read, once (.EVO
                     sources only)
  xpl PLAYLIST       read the disc's VPLST000.XPL and show the title that plays
                     SOURCE: its tracks, chapters and tags
  titles DISC        list the titles of a DVD disc (a VIDEO_TS folder, the folder
                     above it or an image) or an HD DVD disc folder (with
                     HVDVD_TS and ADV_OBJ): duration, chapters, HD DVD clips,
                     and each stream with its language

Options:
  -o, --output DIR   output folder of demux and rebuild (default: the current
                     folder)
  --select LIST      comma-separated stream boxes to keep, by name (cbVideo0,
                     cbAudio03, cbSub12) or by caption (MPEG-2.stream.0,
                     DD.stream.03); default: every stream found
  --no-continue      do not go on with the second feature file (FEATURE_2.EVO)
  --title N          read, demux and rebuild: title N of the disc SOURCE, a DVD's
                     cells or an HD DVD playlist's clips in playing order
                     (rebuild: HD DVD only)
  --angle A          with --title: the cells of angle A (default 1)
  --adv-packs        rebuild: keep the advanced packs too
  --source SOURCE    xpl: the source file whose title is shown
  --chapters FILE    xpl, and read, demux and rebuild with --title: write the
                     title's chapters to FILE, as Matroska XML when FILE ends
                     in .xml, as OGM text (CHAPTER01=...) otherwise
  --delay-names      demux: append " DELAY <n>ms" (the delay to the video)
                     to each audio file's name, before the extension
  --ext-by-coding    demux: name each file with its coding's extension (.m2v,
                     .h264, .vc1, .ac3, .eac3, .dts, .thd, .mlp, .lpcm, .sup)
  --fast-check MB    read and rebuild: read only the first MB mebibytes when
                     labelling (default 300); demux reads the whole source
  --full             read the whole file (no fast check)
  --no-count-frames  do not count video frames
  --no-details       do not print the details of each stream
  --video-ext EXT    extension of video outputs (default mpv)
  --audio-ext EXT    extension of audio outputs (default mpa)
  --sub-ext EXT      extension of subpicture outputs (default sup)
  --sub-format FMT   demux: write subpictures as sup (records with times) or
                     vobsub (.sub with an .idx of times, palette and language,
                     as mkvmerge reads them; DVD sources only); default vobsub
                     for a disc's title, sup otherwise
  --color WHEN       auto, always or never: markup as terminal colours
                     (default auto: only on a terminal)
  --json             print one JSON document instead of the log: the files,
                     navigation data, streams with their header values, frame
                     counts and, for demux and rebuild, the files written
  -h, --help         show this help and exit
  --version          show the version and exit

Exit status: 0 done, 1 a file could not be opened, created or written,
2 a usage error, 130 interrupted (Ctrl-C stops after the current block and
keeps what was written).
)";

namespace {

// A whole number of at least 1 that the fast-check field can hold.
bool positiveSize(const std::string& text) {
    int value = 0;
    const char* begin = text.data();
    const char* end = begin + text.size();
    const auto result = std::from_chars(begin, end, value);
    return !text.empty() && result.ec == std::errc() && result.ptr == end && value >= 1 &&
           value <= 999999;
}

std::vector<std::string> splitList(const std::string& list) {
    std::vector<std::string> items;
    size_t start = 0;
    while (start <= list.size()) {
        const size_t comma = list.find(',', start);
        const std::string item =
            list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        if (!item.empty()) {
            items.push_back(item);
        }
        if (comma == std::string::npos) {
            break;
        }
        start = comma + 1;
    }
    return items;
}

// Whether `later` was given after `earlier` on the command line (the last of two wins).
bool givenAfter(const CLI::App& app, const CLI::Option* later, const CLI::Option* earlier) {
    const std::vector<CLI::Option*> order = app.parse_order();
    const auto last = [&](const CLI::Option* option) {
        const auto found = std::find(order.rbegin(), order.rend(), option);
        return found == order.rend() ? -1 : static_cast<long>(order.rend() - found);
    };
    return last(later) > last(earlier);
}

}  // namespace

CliOptions parseArguments(const std::vector<std::string>& args) {
    CliOptions options;
    CLI::App app("tolvane-cli");
    // The usage text is our own, and the last of a repeated option wins.
    app.set_help_flag();
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    app.allow_extras(false);

    bool help = false;
    bool version = false;
    bool full = false;
    std::string select;
    std::string color;
    std::vector<std::string> positional;
    app.add_flag("-h,--help", help);
    app.add_flag("--version", version);
    app.add_option("-o,--output", options.outputFolder);
    CLI::Option* selectOption = app.add_option("--select", select);
    app.add_option("--source", options.xplSource);
    app.add_flag("--adv-packs", options.advancedPacks);
    app.add_flag("--delay-names", options.delayNames);
    app.add_flag("--ext-by-coding", options.extByCoding);
    app.add_option("--chapters", options.chapters);
    CLI::Option* noContinue = app.add_flag("--no-continue");
    std::string title;
    std::string angle;
    CLI::Option* titleOption = app.add_option("--title", title);
    CLI::Option* angleOption = app.add_option("--angle", angle);
    CLI::Option* fastCheck = app.add_option("--fast-check", options.fastCheckMb);
    CLI::Option* fullOption = app.add_flag("--full", full);
    CLI::Option* noCount = app.add_flag("--no-count-frames");
    CLI::Option* noDetails = app.add_flag("--no-details");
    app.add_option("--video-ext", options.videoExt);
    app.add_option("--audio-ext", options.audioExt);
    app.add_option("--sub-ext", options.subExt);
    CLI::Option* subFormat = app.add_option("--sub-format", options.subFormat);
    CLI::Option* colorOption = app.add_option("--color,--colour", color);
    app.add_flag("--json", options.json);
    app.add_option("arguments", positional);

    // CLI11 takes the arguments last first.
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::ExtrasError&) {
        const std::vector<std::string> extras = app.remaining();
        throw UsageError{"unknown option '" + (extras.empty() ? std::string() : extras.front()) +
                         "'"};
    } catch (const CLI::ArgumentMismatch& error) {
        // "--output: 1 required TEXT missing": an option given without its value.
        const std::string text = error.what();
        throw UsageError{"option '" + text.substr(0, text.find(':')) + "' needs a value"};
    } catch (const CLI::ParseError& error) {
        throw UsageError{error.what()};
    }
    if (help) {
        options.command = Command::Help;
        return options;
    }
    if (version) {
        options.command = Command::Version;
        return options;
    }
    if (*selectOption) {
        options.select = splitList(select);
    }
    // An empty extension would give names that end in a dot.
    for (const auto& [name, extension] :
         {std::pair{"--video-ext", &options.videoExt}, std::pair{"--audio-ext", &options.audioExt},
          std::pair{"--sub-ext", &options.subExt}}) {
        if (*extension && extension->value().empty()) {
            throw UsageError{std::string(name) + " needs an extension, not an empty text"};
        }
    }
    options.continueOn = !*noContinue;
    for (const auto& [option, text, value, name] :
         {std::tuple{titleOption, &title, &options.title, "--title"},
          std::tuple{angleOption, &angle, &options.angle, "--angle"}}) {
        if (*option) {
            int number = 0;
            const auto [end, failed] =
                std::from_chars(text->data(), text->data() + text->size(), number);
            if (text->empty() || failed != std::errc() || end != text->data() + text->size() ||
                number < 1 || number > 99) {
                throw UsageError{std::string(name) + " needs a number from 1 to 99, not '" + *text +
                                 "'"};
            }
            *value = number;
        }
    }
    options.countFrames = !*noCount;
    options.details = !*noDetails;
    if (*fastCheck) {
        if (!positiveSize(options.fastCheckMb)) {
            throw UsageError{
                "--fast-check needs a whole number of mebibytes from 1 to "
                "999999, not '" +
                options.fastCheckMb + "'"};
        }
    }
    options.fastCheck = !full || (*fastCheck && givenAfter(app, fastCheck, fullOption));
    if (*colorOption) {
        if (color == "auto") {
            options.color = ColorMode::Auto;
        } else if (color == "always") {
            options.color = ColorMode::Always;
        } else if (color == "never") {
            options.color = ColorMode::Never;
        } else {
            throw UsageError{"--color takes auto, always or never, not '" + color + "'"};
        }
    }
    if (positional.empty()) {
        throw UsageError{"no command given"};
    }
    if (positional[0] == "read") {
        options.command = Command::Read;
    } else if (positional[0] == "demux") {
        options.command = Command::Demux;
    } else if (positional[0] == "rebuild") {
        options.command = Command::Rebuild;
    } else if (positional[0] == "xpl") {
        options.command = Command::Xpl;
    } else if (positional[0] == "titles") {
        options.command = Command::Titles;
    } else {
        throw UsageError{"unknown command '" + positional[0] + "'"};
    }
    if (positional.size() < 2) {
        throw UsageError{options.command == Command::Xpl      ? "no playlist given"
                         : options.command == Command::Titles ? "no disc given"
                                                              : "no source file given"};
    }
    if (positional.size() > 2) {
        throw UsageError{"one source file only, not also '" + positional[2] + "'"};
    }
    options.source = positional[1];
    if ((options.command == Command::Read || options.command == Command::Titles) &&
        options.select) {
        throw UsageError{"--select belongs to demux and rebuild"};
    }
    if (options.command != Command::Xpl && !options.xplSource.empty()) {
        throw UsageError{"--source belongs to xpl"};
    }
    if (options.command == Command::Xpl && options.select) {
        throw UsageError{"--select belongs to demux and rebuild"};
    }
    if (options.command != Command::Demux && (options.delayNames || options.extByCoding)) {
        throw UsageError{std::string(options.delayNames ? "--delay-names" : "--ext-by-coding") +
                         " belongs to demux"};
    }
    if (!options.chapters.empty() &&
        (options.command == Command::Xpl ? options.xplSource.empty() : options.title == 0)) {
        throw UsageError{
            "--chapters belongs to xpl with --source, and to read and demux with "
            "--title"};
    }
    if (*subFormat) {
        if (options.command != Command::Demux) {
            throw UsageError{"--sub-format belongs to demux"};
        }
        if (options.subFormat != "sup" && options.subFormat != "vobsub") {
            throw UsageError{"--sub-format takes sup or vobsub, not '" + options.subFormat + "'"};
        }
        // HD DVD subpictures are no DVD subpictures: a VobSub of them would hold garbage.
        if (options.subFormat == "vobsub" && options.title == 0 &&
            upperCase(extensionOf(options.source, PathStyle::native())) == ".EVO") {
            throw UsageError{"--sub-format vobsub takes the subpictures of a DVD: '" +
                             options.source + "' is an HD DVD file"};
        }
    }
    if (options.title > 0 && options.command != Command::Read &&
        options.command != Command::Rebuild && options.command != Command::Demux) {
        throw UsageError{"--title belongs to read, demux and rebuild"};
    }
    if (*angleOption && options.title == 0) {
        throw UsageError{"--angle needs --title"};
    }
    if (options.command != Command::Rebuild && options.advancedPacks) {
        throw UsageError{"--adv-packs belongs to rebuild"};
    }
    return options;
}

}  // namespace tolvane::cli
