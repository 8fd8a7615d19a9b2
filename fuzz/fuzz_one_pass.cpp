// The read and demux of every stream in one pass against the read job and then the demux job,
// over a file of arbitrary bytes: both ways must leave the same log, error and files.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "demux_modes.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tolvane;
    if (size < 1) {
        return 0;
    }
    const uint8_t flags = data[0];
    const char* name = (flags & 3) == 1   ? "ATS_01_1.AOB"
                       : (flags & 3) == 2 ? "VTS_01_1.VOB"
                                          : "TITLE.EVO";
    const fixture::Bytes source(data + 1, data + size);
    const PassSettings settings{.countFrames = (flags & 4) == 0, .details = (flags & 8) == 0};
    const OutputNaming naming{.delayNames = (flags & 16) != 0,
                              .extensionByCoding = (flags & 32) != 0};
    const fixture::DemuxOutcome two =
        fixture::demuxEveryStream(source, name, false, settings, naming);
    const fixture::DemuxOutcome one =
        fixture::demuxEveryStream(source, name, true, settings, naming);
    if (!one.fitted || one.log != two.log || one.error != two.error || one.files != two.files ||
        one.read.frames[0].counted != two.read.frames[0].counted ||
        one.demux.has_value() != two.demux.has_value() ||
        (one.demux && one.demux->frames[0].counted != two.demux->frames[0].counted)) {
        std::abort();
    }
    return 0;
}
