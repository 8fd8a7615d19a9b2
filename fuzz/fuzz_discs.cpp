// The DVD disc reader over information files of arbitrary bytes: a disc is read or refused with
// a PlatformError, never a crash, a hang or a read out of bounds. libdvdread itself does not
// survive every damaged file (it frees a block twice on some): scripts/fuzz.sh runs this target
// in libFuzzer's fork mode and tries each input that stopped it again the way users open a
// disc, which must survive it. The input is a little-endian
// 16-bit length, VIDEO_TS.IFO of that length, then VTS_01_0.IFO.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "core/platform_error.h"
#include "discs/dvd_disc.h"
#include "read_titles.h"

namespace {

void write(const std::filesystem::path& path, const uint8_t* data, size_t size) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tolvane;
    if (size < 2) {
        return 0;
    }
    static const std::filesystem::path disc = [] {
        const std::filesystem::path folder =
            std::filesystem::temp_directory_path() / ("fuzz_discs." + std::to_string(getpid()));
        std::filesystem::create_directories(folder / "VIDEO_TS");
        // Title VOBs of a few sectors, for the cells the information files point into.
        const std::string vob(16 * 2048, '\0');
        std::ofstream(folder / "VIDEO_TS" / "VTS_01_1.VOB", std::ios::binary) << vob;
        return folder;
    }();
    const size_t first = std::min<size_t>(size - 2, static_cast<size_t>(data[0] | data[1] << 8));
    write(disc / "VIDEO_TS" / "VIDEO_TS.IFO", data + 2, first);
    write(disc / "VIDEO_TS" / "VTS_01_0.IFO", data + 2 + first, size - 2 - first);
    // The parsing in this process first, where the fuzzer's coverage sees it (left out when an
    // input that stopped it is tried again as users meet it); then the disc as users open it,
    // its information files read in a child, and every title read.
    static const bool userPathOnly = std::getenv("TOLVANE_FUZZ_USER_PATH") != nullptr;
    try {
        if (!userPathOnly) {
            readDvdTitlesInProcess(disc.string());
        }
    } catch (const PlatformError&) {
    }
    try {
        const std::unique_ptr<DvdDisc> opened = DvdDisc::open(disc.string());
        readEveryTitle(*opened);
    } catch (const PlatformError&) {
    }
    return 0;
}
