#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "discs/disc.h"

namespace tolvane {

// A DVD-Video disc read through libdvdread: a VIDEO_TS folder, the folder above it, an image
// or a device. Reading it never writes to it. Its information files are read in a child
// process: libdvdread can fail on a damaged one in ways that would take the program with it.
class DvdDisc : public Disc {
public:
    // Throws PlatformError naming the path when it is no DVD or its information files cannot be
    // read.
    static std::unique_ptr<DvdDisc> open(const std::string& path);
    ~DvdDisc() override;

    const char* kind() const override { return "dvd"; }
    // The title's cells in program-chain order, the chosen angle's cells only (from 1), read
    // from its title set's VOB files as one source. Cells that follow one another on the disc
    // make one span. Throws PlatformError when the title or angle does not exist or the title
    // set's VOB files cannot be opened.
    std::unique_ptr<SpanSource> titleSource(int title, int angle = 1) const override;

    // libdvdread's reader of the disc.
    struct Reader;

private:
    DvdDisc(std::string path, std::shared_ptr<Reader> reader, std::vector<DiscTitle> titles);

    std::shared_ptr<Reader> reader_;
};

// The titles the information files of the disc at `path` give, read in this process. Users go
// through DvdDisc::open, which reads them in a child, since libdvdread does not survive every
// damaged file; the fuzzer reads them here, where its coverage sees the parsing.
std::vector<DiscTitle> readDvdTitlesInProcess(const std::string& path);

// The first title of the title set whose VOB file `vobPath` is (VTS_01_1.VOB), read from the
// information files beside it; none for another name, or when they are missing or damaged.
std::optional<DiscTitle> titleOfVobFile(const std::string& vobPath);

}  // namespace tolvane
