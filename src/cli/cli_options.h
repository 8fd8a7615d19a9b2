#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tolvane::cli {

enum class Command { Read, Demux, Rebuild, Xpl, Titles, Mkv, Help, Version };
enum class ColorMode { Auto, Always, Never };

struct CliOptions {
    Command command = Command::Help;
    std::string source;              // the playlist for xpl, the first disc for titles
    std::vector<std::string> discs;  // titles: every disc given
    std::string xplSource;           // xpl: the source whose title is shown
    std::string outputFolder;
    std::optional<std::vector<std::string>> select;
    bool continueOn = true;
    int title = 0;  // read and demux: the title of a disc; 0 for a file
    // --title main: the disc's main title, found when the disc is opened (title is then 1).
    bool mainTitle = false;
    // titles: titles shorter than this many seconds are marked short; --all-titles leaves
    // them out.
    double minLength = 10;
    // demux and mkv: every title that is no decoy, duplicate or short title, one after another.
    bool allTitles = false;
    // demux, mkv: every angle of the title, one output set each.
    bool allAngles = false;
    // demux, mkv: each DVD subpicture stream's forced subpictures also apart.
    bool forcedTracks = false;
    bool captions = false;
    // A sector that cannot be read ends the job instead of being passed over.
    bool stopOnReadError = false;
    int angle = 1;
    bool advancedPacks = false;
    bool delayNames = false;
    bool extByCoding = false;
    std::string chapters;  // xpl and disc titles: where the title's chapters are written
    bool fastCheck = true;
    std::string fastCheckMb = "300";
    bool countFrames = true;
    bool details = true;
    bool verbose = false;
    std::optional<std::string> videoExt;
    std::optional<std::string> audioExt;
    std::optional<std::string> subExt;
    // demux: "sup", "vobsub", or empty for the source's own (VobSub for a disc's title).
    std::string subFormat;
    std::string lpcm;  // wav or raw; empty: wav
    ColorMode color = ColorMode::Auto;
    // One JSON document on standard output instead of the log.
    bool json = false;
    std::optional<Command> helpFor;  // --help after a command: that command's help
};

// Thrown for a command line that cannot be used; its text says what is wrong.
struct UsageError {
    std::string message;
};

CliOptions parseArguments(const std::vector<std::string>& args);

// The help of one command, or of them all.
std::string usageText(std::optional<Command> command);

}  // namespace tolvane::cli
