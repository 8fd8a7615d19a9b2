// The jobs as an engine without a window: a caller gives each job its input and takes its result.
#include <gtest/gtest.h>

#include <filesystem>

#include "core/platform_error.h"
#include "job_engine.h"
#include "jobs/read_and_demux_job.h"
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

// What a caller acts on (an exit status, a retry, a message) is the error's code: each way a
// job can fail gives its own, and a failure that wrote nothing of use leaves no file.
TEST(JobClasses, EveryFailureCarriesTheCodeACallerActsOn) {
    fixture::TempDir dir;
    const std::string feature1 = dir.write("in/FEATURE_1.EVO", feature(1));
    const std::string noise = dir.write("in/NOISE.VOB", Bytes(3 * fixture::kPackSize, 0x5A));
    dir.write("in/a file", Bytes(1, 0));
    struct Case {
        const char* name;
        std::string source;
        std::string folder;
        OutputNaming naming;
        std::optional<std::vector<std::string>> select;
        ErrorCode code;
    };
    OutputNaming vobSub;
    vobSub.subpictureFormat = SubpictureFormat::VobSub;
    const std::string in = (dir.path() / "in").string();
    const Case cases[] = {
        {"a source that is not there", in + "/FEATURE_9.EVO", "out1", {}, {}, ErrorCode::NotFound},
        {"a folder given as the source", in, "out2", {}, {}, ErrorCode::Usage},
        {"bytes that hold no program stream", noise, "out3", {}, {}, ErrorCode::InvalidData},
        {"a stream the read does not label",
         feature1,
         "out4",
         {},
         {{"cbAudio09"}},
         ErrorCode::Usage},
        {"VobSub of HD DVD subpictures", feature1, "out5", vobSub, {}, ErrorCode::Usage},
        {"an output folder under a file", feature1, "in/a file/out", {}, {}, ErrorCode::NotFound},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Engine engine;
        OutputNaming naming = c.naming;
        naming.folder = (dir.path() / c.folder).string();
        try {
            ReadAndDemuxJob(engine.onDisk())
                .run(ReadAndDemuxInput{c.source, PassSettings{}, naming, c.select});
            ADD_FAILURE() << "no error";
        } catch (const JobError& error) {
            EXPECT_EQ(static_cast<int>(error.code()), static_cast<int>(c.code)) << error.what();
        }
        std::error_code missing;
        EXPECT_TRUE(std::filesystem::is_empty(naming.folder, missing) || missing)
            << "a failed job left files in " << naming.folder;
    }
}

}  // namespace
}  // namespace tolvane
