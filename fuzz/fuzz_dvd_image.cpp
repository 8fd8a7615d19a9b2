// The DVD disc reader over an image of arbitrary bytes: libdvdread's UDF, the information files
// parsed in this process (where coverage sees them) and as users open a disc, and every title
// read; a disc is read or refused with a PlatformError, never a crash, a hang or a read out of
// bounds.
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

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tolvane;
    static const std::string image = (std::filesystem::temp_directory_path() /
                                      ("fuzz_dvd_image." + std::to_string(getpid()) + ".iso"))
                                         .string();
    std::ofstream(image, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    // As in fuzz_discs: the parsing here first, unless an input that stopped it is tried again.
    static const bool userPathOnly = std::getenv("TOLVANE_FUZZ_USER_PATH") != nullptr;
    try {
        if (!userPathOnly) {
            readDvdTitlesInProcess(image);
        }
    } catch (const PlatformError&) {
    }
    try {
        const std::unique_ptr<DvdDisc> disc = DvdDisc::open(image);
        readEveryTitle(*disc);
    } catch (const PlatformError&) {
    }
    return 0;
}
