// The HD DVD disc reader over an image of arbitrary bytes: libudfread's file system, our names
// matched in any case, the playlist and each title's clips are read or refused with a
// PlatformError, never a crash, a hang or a read out of bounds.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "core/platform_error.h"
#include "discs/hddvd_disc.h"
#include "read_titles.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tolvane;
    static const std::string image =
        (std::filesystem::temp_directory_path() / ("fuzz_udf." + std::to_string(getpid()) + ".iso"))
            .string();
    std::ofstream(image, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    try {
        const std::unique_ptr<HdDvdDisc> disc = HdDvdDisc::openIfOne(image);
        if (!disc) {
            return 0;
        }
        disc->measure();
        readEveryTitle(*disc);
    } catch (const PlatformError&) {
    }
    return 0;
}
