// The jobs as an engine without a window: a caller gives each job its input and takes its result.
#include <gtest/gtest.h>

#include <filesystem>

#include "core/platform_error.h"
#include "job_engine.h"
#include "jobs/read_job.h"
#include "jobs/rebuild_job.h"
#include "program_stream_builder.h"
#include "temp_dir.h"
#include "test_doubles.h"

namespace tolvane {
namespace {

using fixture::Bytes;
using fixture::Engine;
using fixture::ProgramStreamBuilder;

// An EVO feature: MPEG-2 video, AC-3 under 0x80, DTS under 0x89 (number 1, 30 ms late) and a
// subpicture, behind a navigation pack.
Bytes feature(uint8_t seed) {
    ProgramStreamBuilder ps;
    ps.pack({fixture::dsiPacket({.vobNumber = 3, .startPtm = 9000, .endPtm = 99000})});
    for (int k = 0; k < 10; ++k) {
        const uint64_t pts = 9000 + 3003u * static_cast<uint64_t>(k);
        ps.pack({fixture::pesPacket(0xE0, {.pts = pts}, Bytes(400, seed))});
        ps.pack({fixture::privateStream1Packet(0x80, {.pts = pts}, Bytes(200, seed)),
                 fixture::privateStream1Packet(0x89, {.pts = pts + 2700}, Bytes(100, seed))});
        ps.pack({fixture::privateStream1Packet(0x21, {.pts = pts}, Bytes(50, seed))});
    }
    return ps.bytes();
}

TEST(JobClasses, RebuildFromAFileWritesWhatItWritesFromMemory) {
    // From a file the system copies the unchanged packs itself; from memory every pack comes
    // through the program. The files written must not differ by a byte.
    fixture::TempDir dir;
    const std::string first = dir.write("in/FEATURE_1.EVO", feature(1));
    const std::string second = dir.write("in/FEATURE_2.EVO", feature(2));
    for (const bool renumber : {false, true}) {
        SCOPED_TRACE(renumber ? "DTS renumbered, AC-3 left out" : "every stream kept");
        std::vector<Bytes> written;
        for (const bool fromFile : {true, false}) {
            Engine engine;
            engine.files[first] = fixture::readFile(first);
            engine.files[second] = fixture::readFile(second);
            if (fromFile) {
                engine.context.openInput = nullptr;  // the default: the file itself
            }
            std::vector<StreamBox> boxes =
                ReadJob(engine.context).run(ReadInput{first, PassSettings{}}).streams;
            for (StreamBox& box : boxes) {
                box.chosen = !renumber || box.kind == StreamKind::Video ||
                             (box.kind == StreamKind::Audio && box.number == 1);
            }
            const std::string out = (dir.path() / (fromFile ? "file" : "memory")).string();
            std::filesystem::create_directories(out);
            const RebuildResult result =
                RebuildJob(engine.context)
                    .run(RebuildInput{.sourcePath = first,
                                      .boxes = boxes,
                                      .outputFolder = out,
                                      .times = PackRebuilder::Times{1, 2}});
            written.push_back(fixture::readFile(result.output.path));
            EXPECT_EQ(result.output.bytes, written.back().size());
        }
        EXPECT_EQ(written[0], written[1]);
        EXPECT_EQ(written[0].size() % fixture::kPackSize, 0u);
        EXPECT_GT(written[0].size(), 20 * fixture::kPackSize);
    }
}

}  // namespace
}  // namespace tolvane
