#include "cli/cli_options.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdlib>
#include <tuple>

#include <CLI/CLI.hpp>

#include "discs/disc.h"
#include "sinks/job_naming.h"

namespace tolvane::cli {

namespace {

// The commands an option belongs to, as bits.
constexpr unsigned bit(Command command) {
    return 1u << static_cast<unsigned>(command);
}
constexpr unsigned kRead = bit(Command::Read);
constexpr unsigned kDemux = bit(Command::Demux);
constexpr unsigned kRebuild = bit(Command::Rebuild);
constexpr unsigned kXpl = bit(Command::Xpl);
constexpr unsigned kTitles = bit(Command::Titles);
constexpr unsigned kMkv = bit(Command::Mkv);
constexpr unsigned kJobs = kRead | kDemux | kRebuild | kMkv;
constexpr unsigned kEvery = kJobs | kXpl | kTitles;

struct CommandHelp {
    Command command;
    const char* name;
    const char* usage;  // after "tolvane-cli NAME ", a line a form
    const char* text;   // what it does, in lines of at most 58 characters
};

constexpr CommandHelp kCommands[] = {
    {Command::Read, "read", "SOURCE [options]\nDISC --title N [options]",
     "report every stream of SOURCE (and of its second feature\n"
     "file), or of a disc's title; nothing is written"},
    {Command::Demux, "demux", "SOURCE [options]\nDISC --title N [options]",
     "write every selected stream to a file of its own, named\n"
     "after the source, as the source is read once"},
    {Command::Mkv, "mkv", "SOURCE [options]\nDISC --title N [options]",
     "write every selected stream into one Matroska file, with\n"
     "the disc's languages, track names and chapters, as the\n"
     "source is read once"},
    {Command::Rebuild, "rebuild", "SOURCE.EVO [options]\nDISC --title N [options]",
     "write one new .EVO, named after the source and ending in\n"
     ".rebuilt.EVO, with only the selected streams, renumbered\n"
     "without gaps, as the source is read once (HD DVD only)"},
    {Command::Xpl, "xpl", "PLAYLIST [--source SOURCE [--chapters FILE]]",
     "read an HD DVD disc's VPLST000.XPL and show the title\n"
     "that plays SOURCE: its name, duration, tracks and chapters"},
    {Command::Titles, "titles", "DISC... [--json]",
     "list the titles of DVD and HD DVD discs (folders or\n"
     "images; a folder of them stands for each): duration,\n"
     "chapters, clips, and each stream with its coding and\n"
     "language"},
};

struct OptionHelp {
    const char* name;
    const char* text;
    unsigned commands;
};

constexpr OptionHelp kOptions[] = {
    {"-o, --output DIR", "output folder (default: the current folder)", kDemux | kRebuild},
    {"-o, --output DIR",
     "the Matroska file (ending in .mkv), or the folder it is\n"
     "written to (default: the current folder)",
     kMkv},
    {"--select LIST",
     "comma-separated streams to keep: by box name (cbVideo0,\n"
     "cbAudio03, cbSub12) or caption (MPEG-2.stream.0), by kind\n"
     "(video, audio, sub), by language (de, ger, German) or both\n"
     "(audio:de, sub:en); default: every stream found",
     kDemux | kRebuild | kMkv},
    {"--no-continue", "do not go on with the second feature file (FEATURE_2.EVO)", kJobs},
    {"--title N",
     "title N of the disc: a DVD's cells or an HD DVD playlist's\n"
     "clips in playing order; --title main: the disc's main title\n"
     "(the longest that is no decoy or duplicate)",
     kRead | kDemux | kMkv},
    {"--title N",
     "title N of an HD DVD disc: its playlist's clips in playing\n"
     "order; --title main: the disc's main title",
     kRebuild},
    {"--stop-on-read-error",
     "end the job at a sector that cannot be read; without it the\n"
     "sector is tried again, then passed over, the log and the JSON\n"
     "say where, and the exit status is 3",
     kRead | kDemux | kMkv},
    {"--all-titles",
     "every title of the disc that is no decoy, duplicate or short\n"
     "title, one after another (with --json, one document each)",
     kDemux | kMkv},
    {"--min-length S", "mark titles shorter than S seconds as short (default 10)", kTitles},
    {"--min-length S",
     "with --all-titles: leave out titles shorter than S seconds\n"
     "(default 10)",
     kDemux | kMkv},
    {"--angle A", "with --title: the cells of angle A (default 1)", kJobs},
    {"--all-angles",
     "with --title or --all-titles: every angle of the title, one\n"
     "output set each (angle 2 on is named _angle2 and so on)",
     kDemux | kMkv},
    {"--forced-tracks",
     "also write each subpicture stream's forced subpictures\n"
     "(shown whatever the player's subtitle setting) apart: mkv as a\n"
     "track marked forced, demux as .forced.sub and .idx (PGS:\n"
     ".forced.sup)",
     kDemux | kMkv},
    {"--captions",
     "also write each MPEG video stream's closed captions: a\n"
     "SubRip file (.CC1.srt) for each channel that shows text and\n"
     "the raw caption words as Scenarist (.scc); mkv writes them\n"
     "beside the .mkv",
     kDemux | kMkv},
    {"--adv-packs", "keep the advanced packs too", kRebuild},
    {"--source SOURCE", "the source file whose title is shown", kXpl},
    {"--chapters FILE",
     "with --title: write the title's chapters to FILE, as\n"
     "Matroska XML when FILE ends in .xml, as OGM text\n"
     "(CHAPTER01=...) otherwise",
     kJobs},
    {"--chapters FILE",
     "with --source: write the title's chapters to FILE, as\n"
     "Matroska XML when FILE ends in .xml, as OGM text\n"
     "(CHAPTER01=...) otherwise",
     kXpl},
    {"--delay-names",
     "append \" DELAY <n>ms\" (the delay to the video) to each\n"
     "audio file's name, before the extension",
     kDemux},
    {"--ext-by-coding",
     "name each file with its coding's extension (.m2v, .h264,\n"
     ".vc1, .ac3, .eac3, .dts, .thd, .mlp, .lpcm, .sup)",
     kDemux},
    {"--fast-check MB",
     "label the streams from the first MB mebibytes only\n"
     "(default 300)",
     kRead | kRebuild},
    {"--full", "read the whole file (no fast check)", kRead | kRebuild},
    {"--no-count-frames", "do not count video frames", kJobs},
    {"--no-details", "do not print the details of each stream", kJobs},
    {"--video-ext EXT", "extension of video outputs (default mpv)", kDemux},
    {"--audio-ext EXT", "extension of audio outputs (default mpa)", kDemux},
    {"--sub-ext EXT", "extension of subpicture outputs (default sup)", kDemux},
    {"--sub-format FMT",
     "write subpictures as sup (records with times), vobsub\n"
     "(.sub with an .idx of times, palette and language, as\n"
     "mkvmerge reads them; DVD sources only) or pgs (PGS\n"
     "display sets in a .sup, as mkvmerge reads them; HD DVD\n"
     "sources only); default vobsub for a DVD's title, pgs for\n"
     "HD DVD, sup otherwise",
     kDemux},
    {"--lpcm FMT",
     "write LPCM audio as wav (little-endian samples in a WAVE\n"
     "file, as players read them; the default) or raw (the\n"
     "disc's bytes); DVD-Audio LPCM is always raw",
     kDemux},
    {"--color WHEN",
     "auto, always or never: the log's bold and colours as\n"
     "terminal escapes (default auto: only on a terminal)",
     kJobs | kXpl},
    {"--json",
     "print JSON instead of the log: the files, navigation data,\n"
     "streams with their header values and frame counts",
     kRead},
    {"--json",
     "print JSON instead of the log: the files, navigation data,\n"
     "streams with their header values, frame counts and the\n"
     "files written",
     kDemux | kMkv | kRebuild},
    {"--json", "print JSON instead of the listing: one document per disc,\na line each", kTitles},
    {"--json", "print JSON instead of the log: the title, its tracks and\nchapters", kXpl},
    {"--verbose",
     "also show what the disc libraries (libdvdread, libudfread)\n"
     "say of a damaged disc, on standard error",
     kJobs | kTitles},
    {"-h, --help", "show this help and exit", kEvery},
};

// Two columns: the name, then the text, each of its lines indented alike.
void addEntry(std::string& out, const std::string& name, const char* text) {
    constexpr size_t kColumn = 21;
    out += "  " + name;
    out += name.size() + 2 < kColumn ? std::string(kColumn - 2 - name.size(), ' ')
                                     : "\n" + std::string(kColumn, ' ');
    for (const char* c = text; *c != '\0'; ++c) {
        out += *c;
        if (*c == '\n') {
            out += std::string(kColumn, ' ');
        }
    }
    out += '\n';
}

const CommandHelp* commandNamed(const std::string& name) {
    for (const CommandHelp& help : kCommands) {
        if (name == help.name) {
            return &help;
        }
    }
    return nullptr;
}

}  // namespace

std::string usageText(std::optional<Command> command) {
    std::string out;
    const CommandHelp* only = nullptr;
    for (const CommandHelp& help : kCommands) {
        if (command == help.command) {
            only = &help;
        }
    }
    if (only != nullptr) {
        const std::string prefix = "tolvane-cli " + std::string(only->name) + " ";
        out = "Usage: " + prefix;
        for (const char* c = only->usage; *c != '\0'; ++c) {
            out += *c == '\n' ? "\n       " + prefix : std::string(1, *c);
        }
        out += "\n\n" + std::string(1, static_cast<char>(std::toupper(only->text[0]))) +
               (only->text + 1) + ".\n\nOptions:\n";
    } else {
        out =
            "Usage: tolvane-cli COMMAND SOURCE [options]\n"
            "       tolvane-cli COMMAND --help\n\n"
            "Takes apart the MPEG-2 program streams of HD DVD (.EVO), DVD-Video (.VOB) and\n"
            "DVD-Audio (.AOB) files and whole discs: reports every stream, writes the chosen\n"
            "ones to files of their own, rebuilds an .EVO with only the chosen ones, and lists\n"
            "a disc's titles. Every command prints the message log, one line per line.\n\n"
            "Commands:\n";
        for (const CommandHelp& help : kCommands) {
            addEntry(out, help.name, help.text);
        }
        out += "\nOptions (each command's --help says which are its own):\n";
    }
    const unsigned wanted = only != nullptr ? bit(only->command) : kEvery;
    // Some options say different things to different commands: the list of them all has each
    // once, with its first text.
    std::vector<std::string> listed;
    for (const OptionHelp& option : kOptions) {
        if ((option.commands & wanted) != 0 &&
            std::find(listed.begin(), listed.end(), option.name) == listed.end()) {
            addEntry(out, option.name, option.text);
            listed.emplace_back(option.name);
        }
    }
    if (only == nullptr) {
        addEntry(out, "--version", "show the version and exit");
    }
    out +=
        "\nExit status: 0 done, 1 a file could not be opened, created or written,\n"
        "2 a usage error, 3 done but sectors that could not be read were passed over,\n"
        "130 interrupted (Ctrl-C stops after the current block and keeps what was\n"
        "written).\n";
    return out;
}

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
    CLI::Option* allTitlesOption = app.add_flag("--all-titles", options.allTitles);
    CLI::Option* allAnglesOption = app.add_flag("--all-angles", options.allAngles);
    CLI::Option* forcedOption = app.add_flag("--forced-tracks", options.forcedTracks);
    CLI::Option* captionsOption = app.add_flag("--captions", options.captions);
    CLI::Option* stopOnReadError = app.add_flag("--stop-on-read-error", options.stopOnReadError);
    std::string minLength;
    CLI::Option* minLengthOption = app.add_option("--min-length", minLength);
    CLI::Option* fastCheck = app.add_option("--fast-check", options.fastCheckMb);
    CLI::Option* fullOption = app.add_flag("--full", full);
    CLI::Option* noCount = app.add_flag("--no-count-frames");
    CLI::Option* noDetails = app.add_flag("--no-details");
    app.add_option("--video-ext", options.videoExt);
    app.add_option("--audio-ext", options.audioExt);
    app.add_option("--sub-ext", options.subExt);
    CLI::Option* subFormat = app.add_option("--sub-format", options.subFormat);
    CLI::Option* lpcmOption = app.add_option("--lpcm", options.lpcm);
    CLI::Option* colorOption = app.add_option("--color,--colour", color);
    app.add_flag("--json", options.json);
    app.add_flag("--verbose", options.verbose);
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
        if (!positional.empty()) {
            if (const CommandHelp* named = commandNamed(positional[0])) {
                options.helpFor = named->command;
            }
        }
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
    if (*titleOption && title == "main") {
        options.mainTitle = true;
        options.title = 1;  // a title: the disc says which once it is open
        titleOption = nullptr;
    }
    if (*minLengthOption) {
        char* end = nullptr;
        options.minLength = std::strtod(minLength.c_str(), &end);
        if (minLength.empty() || end != minLength.c_str() + minLength.size() ||
            !(options.minLength >= 0 && options.minLength < 360000)) {
            throw UsageError{"--min-length needs seconds from 0, not '" + minLength + "'"};
        }
    }
    for (const auto& [option, text, value, name] :
         {std::tuple{titleOption, &title, &options.title, "--title"},
          std::tuple{angleOption, &angle, &options.angle, "--angle"}}) {
        if (option != nullptr && *option) {
            int number = 0;
            const auto [end, failed] =
                std::from_chars(text->data(), text->data() + text->size(), number);
            if (text->empty() || failed != std::errc() || end != text->data() + text->size() ||
                number < 1 || number > 99) {
                throw UsageError{std::string(name) + " needs a number from 1 to 99" +
                                 (value == &options.title ? " or main" : "") + ", not '" + *text +
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
    } else if (positional[0] == "mkv") {
        options.command = Command::Mkv;
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
    if (positional.size() > 2 && options.command != Command::Titles) {
        throw UsageError{"one source file only, not also '" + positional[2] + "'"};
    }
    options.source = positional[1];
    options.discs.assign(positional.begin() + 1, positional.end());
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
        if (options.subFormat != "sup" && options.subFormat != "vobsub" &&
            options.subFormat != "pgs") {
            throw UsageError{"--sub-format takes sup, vobsub or pgs, not '" + options.subFormat +
                             "'"};
        }
        if (options.subFormat == "pgs" && options.title == 0 &&
            fileSourceKind(options.source) != SourceKind::HdDvdFile) {
            throw UsageError{"--sub-format pgs takes the subpictures of an HD DVD: '" +
                             options.source + "' is no .EVO file"};
        }
        // HD DVD subpictures are no DVD subpictures: a VobSub of them would hold garbage.
        if (options.subFormat == "vobsub" && options.title == 0 &&
            fileSourceKind(options.source) == SourceKind::HdDvdFile) {
            throw UsageError{"--sub-format vobsub takes the subpictures of a DVD: '" +
                             options.source + "' is an HD DVD file"};
        }
    }
    if (*lpcmOption) {
        if (options.command != Command::Demux) {
            throw UsageError{"--lpcm belongs to demux"};
        }
        if (options.lpcm != "wav" && options.lpcm != "raw") {
            throw UsageError{"--lpcm takes wav or raw, not '" + options.lpcm + "'"};
        }
    }
    if (options.title > 0 &&
        (options.command == Command::Xpl || options.command == Command::Titles)) {
        throw UsageError{"--title belongs to read, demux, mkv and rebuild"};
    }
    if (*allTitlesOption) {
        if (options.command != Command::Demux && options.command != Command::Mkv) {
            throw UsageError{"--all-titles belongs to demux and mkv"};
        }
        if (options.title > 0) {
            throw UsageError{"--all-titles takes every title: leave out --title"};
        }
        if (!options.chapters.empty()) {
            throw UsageError{"--all-titles writes many titles: --chapters names one file"};
        }
        if (options.outputFolder.size() > 4 &&
            options.outputFolder.compare(options.outputFolder.size() - 4, 4, ".mkv") == 0) {
            throw UsageError{"--all-titles writes a file per title: -o names a folder"};
        }
        options.title = 1;  // a title: which ones, the disc says once it is open
    }
    if (*stopOnReadError && options.command != Command::Read && options.command != Command::Demux &&
        options.command != Command::Mkv) {
        throw UsageError{"--stop-on-read-error belongs to read, demux and mkv"};
    }
    if (*minLengthOption && options.command != Command::Titles && !options.allTitles) {
        throw UsageError{"--min-length belongs to titles and --all-titles"};
    }
    if (*angleOption && options.title == 0) {
        throw UsageError{"--angle needs --title"};
    }
    if (*captionsOption && options.command != Command::Demux && options.command != Command::Mkv) {
        throw UsageError{"--captions belongs to demux and mkv"};
    }
    if (*forcedOption && options.command != Command::Demux && options.command != Command::Mkv) {
        throw UsageError{"--forced-tracks belongs to demux and mkv"};
    }
    if (*forcedOption && options.subFormat == "sup") {
        throw UsageError{"--forced-tracks writes VobSub or PGS tracks: leave out --sub-format sup"};
    }
    if (*allAnglesOption) {
        if (options.command != Command::Demux && options.command != Command::Mkv) {
            throw UsageError{"--all-angles belongs to demux and mkv"};
        }
        if (options.title == 0) {
            throw UsageError{"--all-angles needs --title or --all-titles"};
        }
        if (*angleOption) {
            throw UsageError{"--all-angles takes every angle: leave out --angle"};
        }
        if (options.outputFolder.size() > 4 &&
            options.outputFolder.compare(options.outputFolder.size() - 4, 4, ".mkv") == 0) {
            throw UsageError{"--all-angles writes a file per angle: -o names a folder"};
        }
    }
    if (options.command != Command::Rebuild && options.advancedPacks) {
        throw UsageError{"--adv-packs belongs to rebuild"};
    }
    return options;
}

}  // namespace tolvane::cli
