// A read that writes the chosen streams as it goes must leave the files and findings that the
// read job followed by the demux job leave, with the read's log and the files it made.
#include "jobs/read_and_demux_job.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <map>

#include "child_process.h"
#include "demux_modes.h"
#include "job_engine.h"
#include "program_stream_builder.h"
#include "temp_dir.h"
#include "test_doubles.h"

namespace tolvane {
namespace {

using fixture::Bytes;
using fixture::Engine;
using fixture::JobRun;
using fixture::Outcome;
using fixture::readFile;
using fixture::readLog;
using fixture::runJobs;

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
            // An HD DVD subpicture in two packets.
            const Bytes unit = fixture::hdSubpictureUnit(k, k == 2);
            const auto half = static_cast<std::ptrdiff_t>(unit.size() / 2);
            ps.pack(
                {fixture::privateStream1Packet(0x21, {.pts = pts},
                                               Bytes(unit.begin(), unit.begin() + half)),
                 fixture::privateStream1Packet(0x21, {}, Bytes(unit.begin() + half, unit.end()))});
        }
        if (shape.lateEarliestStream && k == 6) {
            ps.pack({fixture::privateStream1Packet(0x82, {.pts = 1000}, Bytes(64, 0xAA))});
        }
    }
    return ps.bytes();
}

// 3000 packs, each with a picture of 1800 bytes and 100 bytes of AC-3.
Bytes bigTitle() {
    Bytes picture(1800, 0x22);
    picture[12] = 1;  // a picture start code at 10
    picture[10] = picture[11] = picture[13] = 0;
    fixture::ProgramStreamBuilder big;
    for (int k = 0; k < 3000; ++k) {
        big.pack({fixture::pesPacket(0xE0, {.pts = 9000}, picture),
                  fixture::privateStream1Packet(0x80, {.pts = 9000}, Bytes(100, 0x33))});
    }
    return big.bytes();
}

TEST(ReadAndDemuxJob, WritesWhatTheReadAndDemuxJobsWriteWithTheReadsLogInOnePass) {
    struct Case {
        const char* name;
        JobRun run;
    };
    const Bytes plain = title({});
    const Bytes late = title({.lateEarliestStream = true});
    const Case cases[] = {
        {"usual settings", {.files = {{"TITLE.EVO", plain}}}},
        {"delays in names, extensions by coding, no frames, no details",
         {.files = {{"TITLE.EVO", plain}},
          .settings = {.fastCheck = false, .countFrames = false, .details = false},
          .naming = {.delayNames = true, .extensionByCoding = true}}},
        {".sup times from a start found late",
         {.files = {{"TITLE.EVO", late}}, .naming = {.subpictureFormat = SubpictureFormat::Sup}}},
        {"PGS times from a start found late, forced ones apart",
         {.files = {{"TITLE.EVO", late}}, .naming = {.forcedTracks = true}}},
        {"a feature in two files, its earliest start in the second",
         {.files = {{"FEATURE_1.EVO", plain}, {"FEATURE_2.EVO", late}}, .source = "FEATURE_1.EVO"}},
        {"chosen streams",
         {.files = {{"TITLE.EVO", late}}, .select = {{"cbvideo1", "DTSHD.STREAM.02", "cbSub01"}}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome two = runJobs(c.run, false);
        Outcome one = runJobs(c.run, true);
        ASSERT_FALSE(two.error.has_value()) << *two.error;
        ASSERT_FALSE(one.error.has_value()) << *one.error;
        // Only the one pass writes forced subpictures apart: as PGS, the first subpicture's
        // display set, its time corrected as the stream's own, then the one that clears it.
        if (auto forced = one.files.extract("TITLE.Subpicture.01.forced.sup"); !forced.empty()) {
            constexpr size_t kClearingSet = 24 + 23 + 13;
            const Bytes& shown = forced.mapped();
            const Bytes& all = one.files.at("TITLE.Subpicture.01.sup");
            ASSERT_GT(shown.size(), kClearingSet);
            EXPECT_TRUE(std::equal(shown.begin(), shown.end() - kClearingSet, all.begin()));
            std::erase_if(one.outputs, [](const OutputWritten& output) {
                return output.path.ends_with(".forced.sup");
            });
            std::erase(one.log, "Creating OUT/TITLE.Subpicture.01.forced.sup");
        } else {
            EXPECT_FALSE(c.run.naming.forcedTracks);
        }
        EXPECT_EQ(two.files, one.files);
        EXPECT_GE(one.files.size(), c.run.select ? 3u : 5u);
        // HD DVD subpictures become PGS display sets unless .sup records are asked for.
        const std::string record =
            c.run.naming.subpictureFormat == SubpictureFormat::Sup ? "SP" : "PG";
        for (const auto& [name, bytes] : one.files) {
            if (name.ends_with("Subpicture.01.sup")) {
                EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 2), record) << name;
            }
        }
        ASSERT_EQ(two.read.streams.size(), one.read.streams.size());
        for (size_t k = 0; k < two.read.streams.size(); ++k) {
            EXPECT_EQ(two.read.streams[k].label, one.read.streams[k].label);
            EXPECT_EQ(two.read.streams[k].delayMs, one.read.streams[k].delayMs);
        }
        EXPECT_EQ(two.read.warnings, one.read.warnings);
        // Without details too: delays and .sup times count from the earliest first PTS.
        EXPECT_EQ(one.read.earliestPts,
                  c.run.files.count("FEATURE_2.EVO") > 0 || c.run.files.begin()->second == late
                      ? 1000u
                      : 9000u);
        for (size_t n = 0; n < 2; ++n) {
            EXPECT_EQ(two.read.frames[n].counted, one.read.frames[n].counted);
        }
        ASSERT_EQ(two.outputs.size(), one.outputs.size());
        std::vector<std::string> log = readLog(c.run);
        auto done = std::find(log.begin(), log.end(), "Done.");
        for (size_t k = 0; k < two.outputs.size(); ++k) {
            EXPECT_EQ(two.outputs[k].path, one.outputs[k].path);
            EXPECT_EQ(two.outputs[k].bytes, one.outputs[k].bytes);
            done = log.insert(done, "Creating OUT/" + one.outputs[k].path) + 1;
        }
        EXPECT_EQ(one.log, log);
    }
}

TEST(ReadAndDemuxJob, ReadsTheWholeSourceWhateverTheFastCheckAndKeepsWhatItWroteWhenCancelled) {
    // Nothing to demux: the read's log alone, and no file.
    fixture::ProgramStreamBuilder empty;
    empty.pack({fixture::paddingPacket(100)});
    const Outcome none = runJobs({.files = {{"TITLE.EVO", empty.bytes()}}}, true);
    EXPECT_TRUE(none.outputs.empty());
    EXPECT_TRUE(none.files.empty());
    EXPECT_EQ(none.log, readLog({.files = {{"TITLE.EVO", empty.bytes()}}}));

    // The fast check would stop a read after 1 MiB: every frame is still written and counted.
    const Bytes big = bigTitle();
    const Outcome whole = runJobs({.files = {{"BIG.EVO", big}},
                                   .source = "BIG.EVO",
                                   .settings = {.fastCheck = true, .fastCheckMb = 1}},
                                  true);
    EXPECT_EQ(whole.read.frames[0].counted, 3000);
    EXPECT_FALSE(whole.read.frames[0].partial);
    EXPECT_EQ(whole.files.at("BIG.DD.stream.00.mpa").size(), 300000u);

    // Cancelled at the first 4 MiB: what was written is kept, and a whole file of an output's
    // name stays as it was.
    fixture::TempDir dir;
    const std::filesystem::path audio = dir.path() / "BIG.DD.stream.00.mpa";
    fixture::writeFile(audio, Bytes(7, 1));
    Engine engine;
    engine.files["BIG.EVO"] = big;
    engine.os.onEvents = [&] { cancelJob(engine.control); };
    const ReadAndDemuxResult result =
        ReadAndDemuxJob(engine.context).run({"BIG.EVO", {}, {.folder = dir.path().string()}});
    EXPECT_TRUE(result.read.cancelled);
    ASSERT_EQ(result.outputs.size(), 2u);
    EXPECT_EQ(engine.log.lines()[engine.log.lines().size() - 2].text, "Cancelled.");
    EXPECT_EQ(readFile(audio), Bytes(7, 1));
    const Bytes video = readFile(dir.path() / "BIG.MPEG-2.stream.0.mpv.incomplete");
    EXPECT_GT(video.size(), 0u);
    EXPECT_LT(video.size(), 3000u * 1800u);
    EXPECT_EQ(readFile(audio.string() + ".incomplete").size(), result.outputs[1].bytes);
    EXPECT_FALSE(engine.control.writing);
}

TEST(ReadAndDemuxJob, EndsAtOnceOnAFailureAndWritesNothingForAMistakenChoice) {
    // Files may grow to 1 MiB only: the video output's write fails inside the pass, which ends
    // there with what was written kept.
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
    std::optional<Outcome> failed;
    {
        const FileSizeLimit limit;
        failed = runJobs({.files = {{"BIG.EVO", bigTitle()}}, .source = "BIG.EVO"}, true);
    }
    ASSERT_TRUE(failed->error) << "a failed write went unreported";
    EXPECT_NE(failed->error->find("Stream write error"), std::string::npos);
    EXPECT_EQ(std::count(failed->log.begin(), failed->log.end(), "Done."), 0);
    EXPECT_EQ(failed->files.size(), 2u) << "what was written is kept";
    EXPECT_EQ(failed->files.at("BIG.MPEG-2.stream.0.mpv.incomplete").size(), 1u << 20);

    // A name the read did not label: the caller's mistake, and nothing written.
    const Outcome mistaken =
        runJobs({.files = {{"TITLE.EVO", title({})}}, .select = {{"cbVideo0", "cbSub07"}}}, true);
    EXPECT_EQ(mistaken.error.value_or("").rfind("--select: no stream box 'cbSub07' was labelled; "
                                                "the read labelled MPEG-2.stream.0 (cbVideo0)",
                                                0),
              0u);
    EXPECT_TRUE(mistaken.files.empty());

    // A folder that cannot be made is refused before the source is opened.
    fixture::TempDir dir;
    fixture::writeFile(dir.path() / "file", Bytes(3, 0));
    const std::string folder = (dir.path() / "file" / "out").string();
    Engine engine;
    engine.files["TITLE.EVO"] = title({});
    try {
        ReadAndDemuxJob(engine.context).run({"TITLE.EVO", {}, {.folder = folder}});
        ADD_FAILURE() << "the job went on without its outputs";
    } catch (const JobError& error) {
        EXPECT_NE(std::string(error.what()).find("Not a directory"), std::string::npos);
    }
    EXPECT_TRUE(engine.log.lines().empty()) << "nothing was read";
}

// A source with sectors that cannot be read: each is tried again, then passed over whole, and
// the job goes on. What it writes is what the same source without those sectors gives, byte
// for byte, and it says where each run of them lies; asked to, it stops at the first instead.
TEST(ReadAndDemuxJob, SectorsThatCannotBeReadArePassedOverAndSaid) {
    fixture::TempDir dir;
    ASSERT_EQ(fixture::runProcess(TOLVANE_SAMPLE_DISC, {dir.path().string()}, "/").status, 0);
    const Bytes clean = readFile(dir.path() / "DISC" / "HVDVD_TS" / "FEATURE_1.EVO");
    const std::vector<int64_t> bad = {100, 101, 102, 300};
    Bytes without;
    for (int64_t sector = 0; sector * 2048 < static_cast<int64_t>(clean.size()); ++sector) {
        if (std::find(bad.begin(), bad.end(), sector) == bad.end()) {
            const auto at = clean.begin() + sector * 2048;
            without.insert(without.end(), at, at + 2048);
        }
    }
    const auto demux = [&](const Bytes& bytes, const std::vector<int64_t>& damaged,
                           bool stopOnReadError) {
        const fixture::TempDir out;
        Engine engine;
        engine.context.openInput = [&](const std::string&) -> std::unique_ptr<InputSource> {
            return std::make_unique<fixture::BadSectorSource>(bytes, damaged);
        };
        engine.context.fileExists = [](const std::string&) { return true; };
        std::map<std::string, Bytes> files;
        std::vector<SkippedBlocks> skipped;
        std::string error;
        try {
            PassSettings settings{.fastCheck = false, .continueOnSecondFile = false};
            settings.stopOnReadError = stopOnReadError;
            const ReadAndDemuxResult result =
                ReadAndDemuxJob(engine.context)
                    .run({"FEATURE_1.EVO", settings, OutputNaming{.folder = out.path().string()}});
            skipped = result.read.skipped;
        } catch (const JobError& caught) {
            error = caught.what();
        }
        for (const auto& entry : std::filesystem::directory_iterator(out.path())) {
            files[entry.path().filename().string()] = readFile(entry.path());
        }
        return std::tuple(files, skipped, error, engine.log.lines());
    };
    const auto [expected, none, cleanError, cleanLog] = demux(without, {}, false);
    ASSERT_EQ(cleanError, "");
    ASSERT_GE(expected.size(), 6U);
    EXPECT_TRUE(none.empty());

    const auto [written, skipped, error, log] = demux(clean, bad, false);
    EXPECT_EQ(error, "");
    EXPECT_TRUE(written == expected) << "the streams around the damage, byte for byte";
    ASSERT_EQ(skipped.size(), 2U);
    EXPECT_EQ(std::pair(skipped[0].position, skipped[0].count),
              std::pair(int64_t{100 * 2048}, int64_t{3}));
    EXPECT_EQ(std::pair(skipped[1].position, skipped[1].count),
              std::pair(int64_t{300 * 2048}, int64_t{1}));
    EXPECT_TRUE(skipped[0].time.has_value());
    std::vector<std::string> said;
    for (const LogLine& line : log) {
        if (line.text.find("cannot be read: passed over") != std::string::npos) {
            said.push_back(line.text.substr(0, line.text.find(" (")));
        }
    }
    EXPECT_EQ(said,
              (std::vector<std::string>{"3 sectors at byte 204800", "1 sector at byte 614400"}));

    const auto [stopped, noneSkipped, stopError, stopLog] = demux(clean, bad, true);
    EXPECT_NE(stopError.find("Input/output error"), std::string::npos) << stopError;
}

}  // namespace
}  // namespace tolvane
