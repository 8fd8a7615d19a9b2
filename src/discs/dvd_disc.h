#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/job_state.h"
#include "core/span_source.h"
#include "core/stream_ids.h"

namespace tolvane {

// A stream that a DVD title set declares, as its title's program chain makes it available.
struct DiscStream {
    StreamKind kind = StreamKind::Audio;
    // The identifying byte its packets carry: 0x80 AC-3, 0x88 DTS, 0xA0 LPCM, 0xC0 MPEG audio
    // (the stream id), 0x20 a subpicture, each plus the stream's number in its coding.
    int id = 0;
    // The codec's name as ffprobe gives it: "ac3", "dts", "pcm_dvd", "mp2", "sdds" or
    // "dvd_subtitle".
    std::string coding;
    int channels = 0;      // audio only
    int sampleRate = 0;    // audio only
    std::string language;  // two letters as the disc gives them; empty when it gives none
    // What the disc says the stream holds beyond its language ("commentary", "forced"); empty
    // for a plain one.
    std::string content;
};

struct DiscChapter {
    int number = 0;
    double start = 0;  // seconds from the title's start
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
    bool operator==(const SectorRun&) const = default;
};

// A title of the disc: its program chain's cells, chapters, streams and palette.
struct DiscTitle {
    int number = 0;
    int titleSet = 0;
    int programChain = 0;
    double duration = 0;  // seconds, as the program chain gives it
    std::vector<DiscChapter> chapters;
    int angles = 1;
    DiscVideo video;
    // Audio, then subpictures, each in the order of the title set's attributes.
    std::vector<DiscStream> streams;
    // The subpicture palette as the program chain holds it: 0x00YYCrCb per entry.
    std::array<uint32_t, 16> palette{};
    // The cells each angle plays, in playing order, runs that follow one another on the disc
    // joined; one list per angle.
    std::vector<std::vector<SectorRun>> angleCells;
};

// A DVD-Video disc read through libdvdread: a VIDEO_TS folder, the folder above it, an image
// or a device. Reading it never writes to it. Its information files are read in a child
// process: libdvdread can fail on a damaged one in ways that would take the program with it.
class DvdDisc {
public:
    // Throws PlatformError naming the path when it is no DVD or its information files cannot be
    // read.
    static std::unique_ptr<DvdDisc> open(const std::string& path);
    ~DvdDisc();
    DvdDisc(const DvdDisc&) = delete;
    DvdDisc& operator=(const DvdDisc&) = delete;

    const std::string& path() const { return path_; }
    const std::vector<DiscTitle>& titles() const { return titles_; }
    // The title numbered `title`, or null.
    const DiscTitle* title(int title) const;
    // The title's cells in program-chain order, the chosen angle's cells only (from 1), read
    // from its title set's VOB files as one source. Cells that follow one another on the disc
    // make one span. Throws PlatformError when the title or angle does not exist or the title
    // set's VOB files cannot be opened.
    std::unique_ptr<SpanSource> titleSource(int title, int angle = 1) const;

    // libdvdread's reader of the disc.
    struct Reader;

private:
    DvdDisc(std::string path, std::shared_ptr<Reader> reader, std::vector<DiscTitle> titles);

    std::string path_;
    std::shared_ptr<Reader> reader_;
    std::vector<DiscTitle> titles_;
};

// The languages the title gives its streams, by the kind and key its packets are met under.
StreamLanguages streamLanguages(const DiscTitle& title);

// The first title of the title set whose VOB file `vobPath` is (VTS_01_1.VOB), read from the
// information files beside it; none for another name, or when they are missing or damaged.
std::optional<DiscTitle> titleOfVobFile(const std::string& vobPath);

// Whether `path` looks like a disc rather than a program-stream file: a folder, a block device
// (a drive), or an image whose name ends in .iso or .img.
bool looksLikeDisc(const std::string& path);

}  // namespace tolvane
