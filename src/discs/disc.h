#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/span_source.h"
#include "demux/job_state.h"
#include "format/stream_ids.h"

namespace tolvane {

// A stream a disc's title plays: for a DVD as its title set declares it and its program chain
// makes it available, for an HD DVD as its playlist's track.
struct DiscStream {
    StreamKind kind = StreamKind::Audio;
    // The identifying byte its packets carry: 0x80 AC-3, 0x88 DTS, 0xA0 LPCM, 0xC0 MPEG audio
    // (the stream id), 0x20 a subpicture, each plus the stream's number in its coding; 0 when
    // the disc does not tell.
    int id = 0;
    // The stream's number in its coding, from 0: the low bits of its id. -1 when unknown.
    int number = -1;
    // None when the disc does not tell.
    std::optional<StreamCoding> coding;
    int channels = 0;    // audio only
    int sampleRate = 0;  // audio only
    // Two letters as a DVD or an HD DVD track's langcode gives them, else an HD DVD track's
    // description ("English"); empty when the disc gives none.
    std::string language;
    // What the disc says the stream holds beyond its language ("commentary", "forced"); empty
    // for a plain one.
    std::string content;
    // What the disc calls the stream: an HD DVD track's description ("Director's comments").
    std::string description;
    // DVD subpictures of a 16:9 title: "letterbox" or "pan-scan" for the ids a stream gives
    // those viewports apart from its wide one; empty for the wide (or only) one.
    std::string viewport;
};

struct DiscChapter {
    int number = 0;
    double start = 0;  // seconds from the title's start
    std::string name;  // an HD DVD playlist's displayName; empty on a DVD
};

// A clip of an HD DVD title: the .MAP file its playlist names and the .EVO it plays, in the
// disc's HVDVD_TS folder, with its times in the title.
struct DiscClip {
    std::string map;
    std::string evo;
    double begin = 0;  // seconds
    double end = 0;
    // Where in its .EVO the clip starts playing (clipTimeBegin): the title's source starts the
    // file at the first picture a decoder can begin with at or after that time.
    double fileBegin = 0;
};

struct DiscVideo {
    int width = 0;
    int height = 0;
    double frameRate = 0;
    std::string aspect;  // "4:3" or "16:9"
};

// Sectors `first` to `last` of a title set's VOB files.
struct SectorRun {
    int64_t first = 0;
    int64_t last = 0;
    // An angle's cell whose units lie between the other angles' units: read by following the
    // links of its navigation packs, never whole.
    bool interleaved = false;
    bool operator==(const SectorRun&) const = default;
};

// A stretch of a title that each angle plays its own way.
struct AngleBlock {
    double start = 0;  // seconds from the title's start
    double end = 0;
    int firstChapter = 0;  // the chapters it covers, from 1; 0 when the title has none
    int lastChapter = 0;
};

// A title of the disc: a DVD's program chain's cells, chapters, streams and palette, or an HD
// DVD playlist's title with its clips.
struct DiscTitle {
    int number = 0;
    int titleSet = 0;      // DVD
    int programChain = 0;  // DVD
    std::string name;      // HD DVD: the title's displayName
    double duration = 0;   // seconds, as the program chain or the playlist gives it
    // HD DVD: the seconds its clips' video plays, from the first and last time stamps of each
    // clip's .EVO; none when a clip could not be measured.
    std::optional<double> measuredDuration;
    std::vector<DiscChapter> chapters;
    int angles = 1;
    // DVD: the disc's first-play commands start this title, as "play" on a player does.
    bool firstPlay = false;
    DiscVideo video;
    // Audio, then subpictures, each in the order of the title set's attributes.
    std::vector<DiscStream> streams;
    // The subpicture palette as the program chain holds it: 0x00YYCrCb per entry.
    std::array<uint32_t, 16> palette{};
    // The cells each angle plays, in playing order, runs that follow one another on the disc
    // joined; one list per angle.
    std::vector<std::vector<SectorRun>> angleCells;
    // DVD: where the title's angles differ, in playing order.
    std::vector<AngleBlock> angleBlocks;
    // DVD: the cells of its first angle as its program chains list them, repeats and all:
    // what tells a decoy from a title.
    std::vector<SectorRun> playOrder;
    // HD DVD: the clips the title plays, in playing order.
    std::vector<DiscClip> clips;
    // What the disc's structure says of the title that a reader should know: cells or clips
    // that repeat what the title already read, which are read once.
    std::vector<std::string> notes;
    // Why the title cannot be read (its title set's information file is damaged); empty for a
    // title that can. A damaged title leaves the disc's others readable.
    std::string damage;
};

// A disc in a folder, an image or a drive: its titles, each of which can be read as one source.
// Reading a disc never writes to it.
class Disc {
public:
    virtual ~Disc() = default;
    Disc(const Disc&) = delete;
    Disc& operator=(const Disc&) = delete;

    // "dvd" or "hddvd".
    virtual const char* kind() const = 0;
    const std::string& path() const { return path_; }
    const std::vector<DiscTitle>& titles() const { return titles_; }
    // The title numbered `title`, or null.
    const DiscTitle* title(int title) const;
    // What the title plays, as one source of spans. Throws PlatformError when the title or the
    // angle (from 1) does not exist or its files cannot be opened.
    virtual std::unique_ptr<SpanSource> titleSource(int title, int angle = 1) const = 0;
    // Measures what the disc's structure does not say (an HD DVD title's measured duration),
    // reading a little of each title's files. Only listings need it: a job reads the title.
    virtual void measure() {}
    // Every file of the disc a job may read, for outputs to keep clear of: an image itself, or
    // each file in a disc folder's own folders (VIDEO_TS, HVDVD_TS, ADV_OBJ).
    std::vector<std::string> memberFiles() const;

protected:
    Disc(std::string path, std::vector<DiscTitle> titles)
        : path_(std::move(path)), titles_(std::move(titles)) {}
    // "has no title 3: it has 2."
    [[noreturn]] void noSuchTitle(int title) const;
    // The titles, for what a disc learns of them after reading its structure.
    std::vector<DiscTitle>& titlesToMeasure() { return titles_; }

private:
    std::string path_;
    std::vector<DiscTitle> titles_;
};

// The disc at `path`: an HD DVD when it holds an HVDVD_TS or ADV_OBJ folder or is one, a DVD
// otherwise. Throws PlatformError naming the path when it is neither.
std::unique_ptr<Disc> openDisc(const std::string& path);

// The languages the title gives its streams, by the kind and key its packets are met under.
StreamLanguages streamLanguages(const DiscTitle& title);

// Whether what libdvdread and libudfread say of a damaged disc reaches standard error (off by
// default: the errors a reader throws are the program's own).
void showLibraryMessages(bool show);
bool libraryMessagesShown();

// While it lives, standard error goes nowhere unless library messages are shown: libudfread
// prints its complaints there itself.
class QuietLibrary {
public:
    QuietLibrary();
    ~QuietLibrary();
    QuietLibrary(const QuietLibrary&) = delete;
    QuietLibrary& operator=(const QuietLibrary&) = delete;

private:
    int saved_ = -1;
};

// Refuses (PlatformError) a disc at `path` that is no folder, regular file or block device, or a
// disc folder whose own folders hold a member that is none of those (a pipe, a socket): opening
// one would wait for a writer that never comes.
void checkDiscMembers(const std::string& path);

// The files of the disc folder or image at `path`, as Disc::memberFiles() gives them.
std::vector<std::string> discMemberFiles(const std::string& path);

// The files of the disc that `file` belongs to, when it lies in a disc's own folder
// (VIDEO_TS/VTS_01_1.VOB, ADV_OBJ/VPLST000.XPL), itself or the file a symbolic link names: a
// job that reads one of them may read or consult the others. Otherwise `file` alone.
std::vector<std::string> discFilesAround(const std::string& file);

// What a file is, by its name's extension (.EVO, .VOB, .AOB, in any case): nothing else tells
// an HD DVD's navigation packs from a DVD's.
SourceKind fileSourceKind(const std::string& path);

// Whether `path` looks like a disc rather than a program-stream file: a folder, a block device
// (a drive), or an image whose name ends in .iso or .img.
bool looksLikeDisc(const std::string& path);

// The discs a path stands for: a shelf (a folder that is no disc itself) stands for the images
// (.iso, .img) and disc folders in it, in name order; anything else for itself.
std::vector<std::string> discsOnShelf(const std::string& path);

}  // namespace tolvane
