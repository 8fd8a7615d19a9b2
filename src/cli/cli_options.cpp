#include "cli/cli_options.h"

#include <charconv>

namespace tolvane::cli {

const char* const kUsage = R"(Usage: tolvane-cli COMMAND SOURCE [options]
       tolvane-cli xpl PLAYLIST [--source SOURCE [--chapters FILE]]

Takes apart the MPEG-2 program streams of HD DVD (.EVO), DVD-Video (.VOB) and
DVD-Audio (.AOB) discs. Every command prints the message log, one line per line.

Commands:
  read SOURCE        report every stream of SOURCE (and of its second feature
                     file); nothing is written
  demux SOURCE       read, then write every selected stream to a file of its own
  rebuild SOURCE     read, then write SOURCE.rebuilt.EVO with only the selected
                     streams, renumbered without gaps (.EVO sources only)
  xpl PLAYLIST       read the disc's VPLST000.XPL and show the title that plays
                     SOURCE: its tracks, chapters and tags

Options:
  -o, --output DIR   output folder of demux and rebuild (default: the current
                     folder)
  --select LIST      comma-separated stream boxes to keep, by name (cbVideo0,
                     cbAudio03, cbSub12) or by caption (MPEG-2.stream.0,
                     DD.stream.03); default: every stream found
  --no-continue      do not go on with the second feature file (FEATURE_2.EVO)
  --adv-packs        rebuild: keep the advanced packs too
  --source SOURCE    xpl: the source file whose title is shown
  --chapters FILE    xpl: write the title's chapters to FILE, as Matroska XML
                     when FILE ends in .xml, as OGM text (CHAPTER01=...)
                     otherwise
  --delay-names      demux: append " DELAY <n>ms" (the delay to the video)
                     to each audio file's name, before the extension
  --ext-by-coding    demux: name each file with its coding's extension (.m2v,
                     .h264, .vc1, .ac3, .eac3, .dts, .thd, .mlp, .lpcm, .sup)
  --fast-check MB    read only the first MB mebibytes when reading (default 300)
  --full             read the whole file (no fast check)
  --no-count-frames  do not count video frames
  --no-details       do not print the details of each stream
  --video-ext EXT    extension of video outputs (default mpv)
  --audio-ext EXT    extension of audio outputs (default mpa)
  --sub-ext EXT      extension of subpicture outputs (default sup)
  --color WHEN       auto, always or never: markup as terminal colours
                     (default auto: only on a terminal)
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

}  // namespace

CliOptions parseArguments(const std::vector<std::string>& args) {
    CliOptions options;
    std::vector<std::string> positional;
    bool optionsEnded = false;
    for (size_t k = 0; k < args.size(); ++k) {
        const std::string& arg = args[k];
        // After "--" every argument is a file, whatever it starts with.
        if (optionsEnded || (arg != "--" && (arg.empty() || arg[0] != '-'))) {
            positional.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        std::string inlineValue;
        std::string name = arg;
        bool hasInline = false;
        if (arg.rfind("--", 0) == 0) {
            if (const size_t eq = arg.find('='); eq != std::string::npos) {
                name = arg.substr(0, eq);
                inlineValue = arg.substr(eq + 1);
                hasInline = true;
            }
        }
        const auto value = [&]() -> std::string {
            if (hasInline) {
                return inlineValue;
            }
            if (k + 1 >= args.size()) {
                throw UsageError{"option '" + name + "' needs a value"};
            }
            return args[++k];
        };
        if (name == "-h" || name == "--help") {
            options.command = Command::Help;
            return options;
        } else if (name == "--version") {
            options.command = Command::Version;
            return options;
        } else if (name == "-o" || name == "--output") {
            options.outputFolder = value();
        } else if (name == "--select") {
            options.select = splitList(value());
        } else if (name == "--source") {
            options.xplSource = value();
        } else if (name == "--adv-packs") {
            options.advancedPacks = true;
        } else if (name == "--delay-names") {
            options.delayNames = true;
        } else if (name == "--ext-by-coding") {
            options.extByCoding = true;
        } else if (name == "--chapters") {
            options.chapters = value();
        } else if (name == "--no-continue") {
            options.continueOn = false;
        } else if (name == "--fast-check") {
            options.fastCheckMb = value();
            options.fastCheck = true;
            if (!positiveSize(options.fastCheckMb)) {
                throw UsageError{
                    "--fast-check needs a whole number of mebibytes from 1 to "
                    "999999, not '" +
                    options.fastCheckMb + "'"};
            }
        } else if (name == "--full") {
            options.fastCheck = false;
        } else if (name == "--no-count-frames") {
            options.countFrames = false;
        } else if (name == "--no-details") {
            options.details = false;
        } else if (name == "--video-ext") {
            options.videoExt = value();
        } else if (name == "--audio-ext") {
            options.audioExt = value();
        } else if (name == "--sub-ext") {
            options.subExt = value();
        } else if (name == "--color" || name == "--colour") {
            const std::string when = value();
            if (when == "auto") {
                options.color = ColorMode::Auto;
            } else if (when == "always") {
                options.color = ColorMode::Always;
            } else if (when == "never") {
                options.color = ColorMode::Never;
            } else {
                throw UsageError{"--color takes auto, always or never, not '" + when + "'"};
            }
        } else if (arg.size() > 1 && arg[0] == '-') {
            throw UsageError{"unknown option '" + arg + "'"};
        } else {
            positional.push_back(arg);
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
    } else {
        throw UsageError{"unknown command '" + positional[0] + "'"};
    }
    if (positional.size() < 2) {
        throw UsageError{options.command == Command::Xpl ? "no playlist given"
                                                         : "no source file given"};
    }
    if (positional.size() > 2) {
        throw UsageError{"one source file only, not also '" + positional[2] + "'"};
    }
    options.source = positional[1];
    if (options.command == Command::Read && options.select) {
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
        (options.command != Command::Xpl || options.xplSource.empty())) {
        throw UsageError{"--chapters belongs to xpl with --source"};
    }
    if (options.command != Command::Rebuild && options.advancedPacks) {
        throw UsageError{"--adv-packs belongs to rebuild"};
    }
    return options;
}

}  // namespace tolvane::cli
