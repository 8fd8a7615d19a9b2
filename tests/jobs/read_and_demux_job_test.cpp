// The read and the demux of every stream in one pass must leave what the read job followed by
// the demux job leaves: the same log, results and files.
#include "jobs/read_and_demux_job.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>
#include <filesystem>
#include <map>

#include "demux_modes.h"
#include "job_engine.h"
#include "program_stream_builder.h"
#include "temp_dir.h"

namespace tolvane {
namespace {

using fixture::Bytes;
using fixture::Engine;
using fixture::readFile;

// Video payload with `codes` frame start codes (MPEG-2 pictures, or H.264 access unit
// delimiters for `code` 9), and a code split over its end: its last byte starts the next packet.
Bytes videoPayload(int codes, uint8_t fill, uint8_t code = 0) {
    Bytes payload(300, fill);
    for (int k = 0; k < codes; ++k) {
        const size_t at = 10 + 40 * static_cast<size_t>(k);
        payload[at] = 0;
        payload[at + 1] = 0;
        payload[at + 2] = 1;
        payload[at + 3] = code;
    }
    payload[297] = 0;
    payload[298] = 0;
    payload[299] = 1;
    return payload;
}

struct TitleShape {
    // A subpicture before every other stream, then an audio stream whose first time is the
    // earliest: the .sup times count from a start known only later.
    bool lateEarliestStream = false;
};

// What makes a demux differ from a read: a navigation pack with copy control, a DTS stream
// under the number AC-3 holds, H.264 under the number MPEG-2 holds, a third video stream that
// finds no box left, MPEG audio, a late audio stream and subpictures.
Bytes title(const TitleShape& shape) {
    fixture::ProgramStreamBuilder ps;
    ps.raw(fixture::evoNavigationPack(2, 1, {.vobNumber = 4, .startPtm = 9000, .endPtm = 189000},
                                      fixture::CopyControlFields{.applies = 0xC0, .codes = 0x64}));
    if (shape.lateEarliestStream) {
        ps.pack({fixture::privateStream1Packet(0x20, {.pts = 90000}, Bytes(60, 0x11))});
    }
    for (int k = 0; k < 12; ++k) {
        const uint64_t pts = 9000 + 3600u * static_cast<uint64_t>(k);
        Bytes first = videoPayload(k % 3, 0x22);
        first[0] = static_cast<uint8_t>(k == 0 ? 0x5A : 0x00);  // the split code's last byte
        ps.pack({fixture::pesPacket(0xE0, {.pts = pts, .dts = pts - 3000}, first)});
        ps.pack({fixture::privateStream1Packet(0x80, {.pts = pts + 2700}, Bytes(200, 0x33)),
                 fixture::privateStream1Packet(0x89, {.pts = pts + 900}, Bytes(100, 0x44))});
        if (k % 4 == 1) {
            ps.pack({fixture::privateStream1Packet(0x88, {.pts = pts}, Bytes(90, 0x55)),
                     fixture::pesPacket(0xC0, {.pts = pts}, Bytes(80, 0x66)),
                     fixture::pesPacket(0xE2, {.pts = pts}, videoPayload(2, 0x77, 9))});
        }
        if (k % 4 == 3) {
            ps.pack({fixture::pesPacket(0xE1, {.pts = pts}, videoPayload(1, 0x78))});
        }
        if (k % 3 == 2) {
            ps.pack({fixture::privateStream1Packet(0x21, {.pts = pts}, Bytes(70, 0x88)),
                     fixture::privateStream1Packet(0x21, {}, Bytes(30, 0x99))});
        }
        if (shape.lateEarliestStream && k == 6) {
            ps.pack({fixture::privateStream1Packet(0x82, {.pts = 1000}, Bytes(64, 0xAA))});
        }
    }
    return ps.bytes();
}

using Outcome = fixture::DemuxOutcome;

// The read and demux jobs over a title held as TITLE.EVO, one after the other or in one pass.
Outcome demuxEverything(const Bytes& source, bool onePass, PassSettings settings,
                        OutputNaming naming) {
    Outcome outcome = fixture::demuxEveryStream(source, "TITLE.EVO", onePass, settings, naming);
    EXPECT_EQ(outcome.fitted, onePass);
    return outcome;
}

void expectSameOutcome(const Outcome& two, const Outcome& one) {
    EXPECT_EQ(two.log, one.log);
    EXPECT_EQ(two.files, one.files);
    ASSERT_EQ(two.read.streams.size(), one.read.streams.size());
    for (size_t k = 0; k < two.read.streams.size(); ++k) {
        EXPECT_EQ(two.read.streams[k].label, one.read.streams[k].label);
        EXPECT_EQ(two.read.streams[k].delayMs, one.read.streams[k].delayMs);
        EXPECT_EQ(two.read.streams[k].header.width, one.read.streams[k].header.width);
    }
    EXPECT_EQ(two.read.navigation.has_value(), one.read.navigation.has_value());
    ASSERT_EQ(two.demux.has_value(), one.demux.has_value());
    for (size_t n = 0; n < 2; ++n) {
        EXPECT_EQ(two.read.frames[n].counted, one.read.frames[n].counted);
        if (two.demux) {
            EXPECT_EQ(two.demux->frames[n].counted, one.demux->frames[n].counted);
            EXPECT_EQ(two.demux->frames[n].calculated, one.demux->frames[n].calculated);
        }
    }
    if (two.demux) {
        ASSERT_EQ(two.demux->outputs.size(), one.demux->outputs.size());
        for (size_t k = 0; k < two.demux->outputs.size(); ++k) {
            EXPECT_EQ(two.demux->outputs[k].path, one.demux->outputs[k].path);
            EXPECT_EQ(two.demux->outputs[k].bytes, one.demux->outputs[k].bytes);
            EXPECT_EQ(two.demux->outputs[k].kind, one.demux->outputs[k].kind);
        }
        EXPECT_EQ(two.demux->files.size(), one.demux->files.size());
    }
}

TEST(ReadAndDemuxJob, LeavesWhatTheReadAndDemuxJobsLeaveWithEverySetting) {
    struct Case {
        const char* name;
        TitleShape shape;
        PassSettings settings;
        OutputNaming naming;
    };
    const Case cases[] = {
        {"usual settings", {}, {}, {}},
        {"delays in names, extensions by coding, no frames, no details",
         {},
         {.countFrames = false, .details = false},
         {.delayNames = true, .extensionByCoding = true}},
        {".sup times from a start found late", {.lateEarliestStream = true}, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes source = title(c.shape);
        const Outcome two = demuxEverything(source, false, c.settings, c.naming);
        const Outcome one = demuxEverything(source, true, c.settings, c.naming);
        expectSameOutcome(two, one);

        // The title has what the comparison is meant to catch.
        ASSERT_TRUE(two.demux);
        EXPECT_GE(two.files.size(), 4u);
        const auto logged = [&](const std::string& text) {
            return std::count(two.log.begin(), two.log.end(), text);
        };
        EXPECT_EQ(logged("Video stream 0xE1 has no stream box: every video box is taken."), 1);
        EXPECT_EQ(logged("Video stream 0xE1 has no stream box: not written."), 1);
        EXPECT_EQ(logged("Encryption Plus Non-Assertion"), 2) << "by the read and by the demux";
        EXPECT_EQ(std::count_if(two.read.streams.begin(), two.read.streams.end(),
                                [](const StreamBox& box) { return box.kind == StreamKind::Audio; }),
                  c.shape.lateEarliestStream ? 5 : 4)
            << "AC-3, both DTS streams, MPEG audio and the late AC-3 each in a box";
        if (c.settings.countFrames) {
            EXPECT_GT(two.demux->frames[0].counted, 0);
            EXPECT_GT(two.demux->frames[1].counted, 0) << "the H.264 stream in the second box";
        }
    }
}

TEST(ReadAndDemuxJob, WritesNothingWhenTheReadFindsNothingAndKeepsWhatItWroteWhenCancelled) {
    // Nothing to demux: the read's log alone, and no file.
    fixture::ProgramStreamBuilder empty;
    empty.pack({fixture::paddingPacket(100)});
    const Outcome none = demuxEverything(empty.bytes(), true, {}, {});
    EXPECT_FALSE(none.demux);
    EXPECT_TRUE(none.files.empty());
    EXPECT_EQ(none.log, demuxEverything(empty.bytes(), false, {}, {}).log);

    // Cancelled at the first 4 MiB: what was written is kept, as after a cancelled demux, and a
    // whole file of an output's name stays as it was.
    fixture::ProgramStreamBuilder big;
    for (int k = 0; k < 3000; ++k) {
        big.pack({fixture::pesPacket(0xE0, {}, Bytes(1800, 0x22)),
                  fixture::privateStream1Packet(0x80, {}, Bytes(100, 0x33))});
    }
    fixture::TempDir dir;
    const std::filesystem::path audio = dir.path() / "BIG.DD.stream.00.mpa";
    fixture::writeFile(audio, Bytes(7, 1));
    Engine engine;
    engine.files["BIG.EVO"] = big.bytes();
    engine.os.onEvents = [&] { cancelJob(*engine.state); };
    ReadAndDemuxJob job(engine.context);
    const ReadAndDemuxResult result = job.run(
        ReadAndDemuxInput{"BIG.EVO", {.fastCheck = false}, {.folder = dir.path().string()}});
    EXPECT_TRUE(result.read.cancelled);
    ASSERT_TRUE(result.demux);
    ASSERT_EQ(result.demux->outputs.size(), 2u);
    EXPECT_EQ(engine.log.lines().back().text, "");
    EXPECT_EQ(engine.log.lines()[engine.log.lines().size() - 2].text, "Cancelled.");
    EXPECT_EQ(readFile(audio), Bytes(7, 1));
    const Bytes video = readFile(dir.path() / "BIG.MPEG-2.stream.0.mpv");
    EXPECT_GT(video.size(), 0u);
    EXPECT_LT(video.size(), 3000u * 1800u);
    EXPECT_EQ(readFile(audio.string() + ".incomplete").size(), result.demux->outputs[1].bytes);
    EXPECT_FALSE(engine.state->job.writing);
}

TEST(ReadAndDemuxJob, AFolderThatCannotBeMadeIsRefusedBeforeTheSourceIsOpened) {
    fixture::TempDir dir;
    fixture::writeFile(dir.path() / "file", Bytes(3, 0));
    const std::string folder = (dir.path() / "file" / "out").string();
    std::vector<std::string> errors;
    for (const bool onePass : {false, true}) {
        Engine engine;
        engine.files["TITLE.EVO"] = title({});
        const PassSettings settings{.fastCheck = false};
        try {
            if (onePass) {
                ReadAndDemuxJob(engine.context)
                    .run(ReadAndDemuxInput{"TITLE.EVO", settings, {.folder = folder}});
                EXPECT_TRUE(engine.log.lines().empty()) << "nothing was read";
            } else {
                const ReadResult read =
                    ReadJob(engine.context).run(ReadInput{"TITLE.EVO", settings});
                engine.log.clear();
                DemuxJob(engine.context)
                    .run(DemuxInput{"TITLE.EVO", settings, read.streams, {.folder = folder}});
            }
            ADD_FAILURE() << "the job went on without its outputs";
        } catch (const JobError& error) {
            errors.emplace_back(error.what());
            EXPECT_TRUE(engine.log.lines().empty()) << "refused before the source is opened";
        }
        EXPECT_FALSE(engine.state->job.source);
        EXPECT_FALSE(engine.state->job.writing);
    }
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[0], errors[1]);
    EXPECT_NE(errors[1].find("Cannot create folder \"" + folder + "\""), std::string::npos);
    EXPECT_NE(errors[1].find("Not a directory"), std::string::npos);
}

TEST(ReadAndDemuxJob, AWriteThatFailsMidwayFailsAfterTheWholeReadAsTheDemuxJobWould) {
    // Files may grow to 1 MiB only: the video output's fifth write fails, well inside the pass.
    fixture::ProgramStreamBuilder big;
    for (int k = 0; k < 1500; ++k) {
        big.pack({fixture::pesPacket(0xE0, {.pts = 9000}, Bytes(1800, 0x22)),
                  fixture::privateStream1Packet(0x80, {.pts = 9000}, Bytes(100, 0x33))});
    }
    struct FileSizeLimit {
        rlimit before{};
        FileSizeLimit() {
            std::signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails instead
            getrlimit(RLIMIT_FSIZE, &before);
            rlimit limit = before;
            limit.rlim_cur = 1 << 20;
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        ~FileSizeLimit() {
            setrlimit(RLIMIT_FSIZE, &before);
            std::signal(SIGXFSZ, SIG_DFL);
        }
    };
    std::vector<Outcome> outcomes;
    for (const bool onePass : {false, true}) {
        const FileSizeLimit limit;
        outcomes.push_back(demuxEverything(big.bytes(), onePass, {}, {}));
    }
    ASSERT_TRUE(outcomes[1].error) << "a failed write went unreported";
    EXPECT_EQ(outcomes[0].error, outcomes[1].error);
    EXPECT_NE(outcomes[1].error->find("Stream write error"), std::string::npos);
    EXPECT_EQ(outcomes[0].log, outcomes[1].log);
    EXPECT_EQ(outcomes[0].files, outcomes[1].files) << "what was written is kept, as before";
    EXPECT_EQ(outcomes[1].files.size(), 2u);
}

TEST(ReadAndDemuxJob, ASourceThatFailsMidwayEndsAsTheReadWouldWithNoFileLeft) {
    fixture::ProgramStreamBuilder big;
    for (int k = 0; k < 1500; ++k) {
        big.pack({fixture::pesPacket(0xE0, {.pts = 9000}, Bytes(1800, 0x22)),
                  fixture::privateStream1Packet(0x80, {.pts = 9000}, Bytes(100, 0x33))});
    }
    fixture::TempDir dir;
    std::vector<std::vector<std::string>> logs;
    std::vector<std::string> errors;
    for (const bool onePass : {false, true}) {
        Engine engine;
        engine.context.openInput = [&](const std::string&) -> std::unique_ptr<InputSource> {
            return std::make_unique<fixture::FailingSource>(big.bytes(), 2 << 20);
        };
        const PassSettings settings{.fastCheck = false};
        const OutputNaming naming{.folder = dir.path().string()};
        try {
            if (onePass) {
                ReadAndDemuxJob(engine.context).run({"TITLE.EVO", settings, naming});
            } else {
                const ReadResult read = ReadJob(engine.context).run({"TITLE.EVO", settings});
                DemuxJob(engine.context).run({"TITLE.EVO", settings, read.streams, naming});
            }
            ADD_FAILURE() << "a failed read went unreported";
        } catch (const JobError& error) {
            errors.emplace_back(error.what());
        }
        EXPECT_FALSE(engine.state->job.source);
        logs.emplace_back();
        for (const LogLine& line : engine.log.lines()) {
            logs.back().push_back(line.text);
        }
    }
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[0], errors[1]);
    EXPECT_EQ(logs[0], logs[1]);
    EXPECT_TRUE(std::filesystem::is_empty(dir.path())) << "no file the read never announced";
}

TEST(ReadAndDemuxJob, FitsOnlyWhereOnePassGivesWhatTwoJobsGive) {
    Engine engine;
    engine.files["d/FEATURE_1.EVO"] = title({});
    engine.files["d/FEATURE_2.EVO"] = title({});
    engine.files["d/TRAILER.EVO"] = title({});
    const ReadAndDemuxJob job(engine.context);
    const PassSettings whole{.fastCheck = false};
    EXPECT_TRUE(job.fits({"d/TRAILER.EVO", whole, {}}));
    EXPECT_FALSE(job.fits({"d/TRAILER.EVO", PassSettings{}, {}})) << "the read stops early";
    EXPECT_FALSE(job.fits({"d/FEATURE_1.EVO", whole, {}})) << "a second file follows";
    PassSettings alone = whole;
    alone.continueOnSecondFile = false;
    EXPECT_TRUE(job.fits({"d/FEATURE_1.EVO", alone, {}}));
    // A name the longest caption would take past 255 bytes: the demux job says which.
    EXPECT_TRUE(job.fits({"d/TRAILER.EVO", whole, {.audioExtension = std::string(180, 'x')}}));
    EXPECT_FALSE(job.fits({"d/TRAILER.EVO", whole, {.audioExtension = std::string(240, 'x')}}));
}

}  // namespace
}  // namespace tolvane
