// The demux that writes every stream as it reads against the read job and then the demux job,
// over a file of arbitrary bytes: both ways must leave the same error, files and frame counts,
// and the one pass the read's log with the files it made (a VOB's subpictures also as VobSub).
// An .EVO source is also rebuilt both ways, which must write the same file or fail alike, and
// every source is written to Matroska, which must read it as the one pass does.
#include <algorithm>
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
    fixture::JobRun run;
    run.source = (flags & 3) == 1   ? "ATS_01_1.AOB"
                 : (flags & 3) == 2 ? "VTS_01_1.VOB"
                                    : "TITLE.EVO";
    run.files[run.source] = fixture::Bytes(data + 1, data + size);
    run.settings.countFrames = (flags & 4) == 0;
    run.settings.details = (flags & 8) == 0;
    run.naming.delayNames = (flags & 16) != 0;
    run.naming.extensionByCoding = (flags & 32) != 0;
    if (run.source == "VTS_01_1.VOB" && (flags & 64) != 0) {
        run.naming.subpictureFormat = SubpictureFormat::VobSub;
    }
    const fixture::Outcome two = fixture::runJobs(run, false);
    const fixture::Outcome one = fixture::runJobs(run, true);
    if (one.error != two.error || one.files != two.files ||
        one.read.frames[0].counted != two.read.frames[0].counted ||
        one.outputs.size() != two.outputs.size()) {
        std::abort();
    }
    if (!one.error) {
        std::vector<std::string> log = fixture::readLog(run);
        auto done = std::find(log.begin(), log.end(), "Done.");
        for (const OutputWritten& output : one.outputs) {
            done = log.insert(done, "Creating OUT/" + output.path) + 1;
        }
        if (one.log != log) {
            std::abort();
        }
    }
    const fixture::MatroskaOutcome mkv = fixture::runMatroska(run);
    if (mkv.error.has_value() != one.error.has_value() ||
        (!one.error && mkv.read.frames[0].counted != one.read.frames[0].counted)) {
        std::abort();
    }
    if (run.source == "TITLE.EVO") {
        run.advancedPacks = (flags & 64) != 0;
        const fixture::RebuildOutcome twice = fixture::runRebuild(run, false);
        const fixture::RebuildOutcome once = fixture::runRebuild(run, true);
        if (once.error != twice.error || once.file != twice.file) {
            std::abort();
        }
    }
    return 0;
}
