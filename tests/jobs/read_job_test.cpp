#include <gtest/gtest.h>

#include <functional>

#include "demux/pack_engine.h"
#include "form_fixture.h"
#include "job_engine.h"
#include "jobs/read_job.h"

namespace tolvane {
namespace {

using fixture::Bytes;
using fixture::Engine;
using fixture::FormFixture;
using fixture::PesHeader;
using fixture::ProgramStreamBuilder;

// Video payload with `frames` picture start codes.
Bytes pictures(int frames) {
    Bytes data;
    for (int k = 0; k < frames; ++k) {
        const Bytes picture = {0x00, 0x00, 0x01, 0x00, 0x00, 0x08, 0x56, 0x78};
        data.insert(data.end(), picture.begin(), picture.end());
    }
    return data;
}

Bytes featureOne() {
    ProgramStreamBuilder ps;
    ps.systemPack(3, 1, {fixture::copyControlPacket({.applies = 0x80, .codes = 0x80})});
    fixture::DsiFields dsi{.vobNumber = 1, .startPtm = 0x1000, .endPtm = 0x1000 + 90000 * 60};
    dsi.audioSync[0] = dsi.audioSync[1] = dsi.audioSync[2] = 1;
    dsi.subSync[0] = dsi.subSync[1] = 1;
    ps.pack({fixture::dsiPacket(dsi)});
    Bytes first = pictures(2);
    first.insert(first.end(), {0x00, 0x00});  // a start code split between two packets
    ps.pack({fixture::pesPacket(0xE0, PesHeader{.pts = 0x2000, .dts = 0x1000}, first)});
    ps.pack({fixture::privateStream1Packet(0x80, {.pts = 0x2100}, Bytes(100, 0x0B)),
             fixture::privateStream1Packet(0x81, {.pts = 0x2200}, Bytes(100, 0x0B))});
    Bytes second = {0x01, 0x00, 0x55};
    const Bytes more = pictures(1);
    second.insert(second.end(), more.begin(), more.end());
    ps.pack({fixture::pesPacket(0xE0, PesHeader{.pts = 0x3000}, second)});
    ps.pack({fixture::privateStream1Packet(0x8A, {.pts = 0x2300}, Bytes(100, 0x7F)),
             fixture::privateStream1Packet(0x20, {.pts = 0x2400}, Bytes{0x00, 0x00, 0x05}),
             fixture::privateStream1Packet(0x21, {.pts = 0x2500}, Bytes{0x12, 0x34})});
    // Chunks that merely begin like the end of a start code count nothing.
    ps.pack({fixture::pesPacket(0xE0, {}, Bytes{0x01, 0x00, 0x01, 0x00})});
    ps.fillTo(300000);
    return ps.bytes();
}

Bytes featureTwo() {
    ProgramStreamBuilder ps;
    fixture::DsiFields dsi{.vobNumber = 2, .startPtm = 0x1000, .endPtm = 0x1000 + 90000 * 15};
    dsi.audioSync[0] = 1;
    ps.pack({fixture::dsiPacket(dsi)});
    ps.pack({fixture::pesPacket(0xE0, PesHeader{.pts = 0x5000, .dts = 0x4000}, pictures(4))});
    ps.pack({fixture::privateStream1Packet(0x80, {.pts = 0x5100}, Bytes(100, 0x0B))});
    return ps.bytes();
}

// The label of every stream the read found, in box order.
std::vector<std::string> labels(const ReadResult& read) {
    std::vector<std::string> out;
    for (const StreamBox& box : read.streams) {
        out.push_back(box.label);
    }
    return out;
}

TEST(ReadJob, ReportsBothFeatureFilesAndLabelsTheStreamsOfBoth) {
    Engine engine;
    engine.files["HVDVD_TS/FEATURE_1.EVO"] = featureOne();
    engine.files["HVDVD_TS/FEATURE_2.EVO"] = featureTwo();
    const ReadResult read = ReadJob(engine.context).run({"HVDVD_TS/FEATURE_1.EVO", {}});

    const std::vector<std::string> expected = {
        "Opening file [b]FEATURE_1.EVO[/b]",
        "Reading...",
        "File size: 292 KiB.",
        "[b]Copy One Generation[/b]",
        "VOB number 1 contains [b]1[/b] video, [b]3[/b] audio and [b]2[/b] subpicture streams.",
        "PTM of first video frame = [re]00001000[/re]",
        "PTM of last video frame = 005275C0",
        "Duration = [b]0:01:00.000[/b]",
        "[b]MPEG-2[/b] video stream 0 found!",
        "   First PTS = [re]00002000[/re]",
        "   Substream id = E0",
        "[b]Dolby Digital[/b] audio stream 0 found!",
        "   First PTS = [re]00002100[/re]",
        "   Substream id = 80",
        "[b]Dolby Digital[/b] audio stream 1 found!",
        "   First PTS = [re]00002200[/re]",
        "   Substream id = 81",
        "[b]DTS HD (DTS)[/b] audio stream 2 found!",
        "   First PTS = [re]00002300[/re]",
        "   Substream id = 8A",
        "[b]Subpicture[/b] stream 0 found!",
        "   First PTS = [re]00002400[/re]",
        "   Substream id = 20",
        "   Format = [bl]8bitRLE[/bl]",
        "[b]Subpicture[/b] stream 1 found!",
        "   First PTS = [re]00002500[/re]",
        "   Substream id = 21",
        "   Format = [bl]2bitRLE[/bl]",
        "",
        "Continue on [b]FEATURE_2.EVO[/b]",
        "Reading...",
        "VOB number 2 contains [b]0[/b] video and [b]1[/b] audio stream.",
        "PTM of first video frame = [re]00001000[/re]",
        "PTM of last video frame = 0014A970",
        "Duration = [b]0:00:15.000[/b]",
        "[b]MPEG-2[/b] video stream 0 found!",
        "   First PTS = [re]00005000[/re]",
        "   Substream id = E0",
        "[b]Dolby Digital[/b] audio stream 0 found!",
        "   First PTS = [re]00005100[/re]",
        "   Substream id = 80",
        // The second file's VOB starts its times anew: its streams follow on the first's.
        "Time stamps go back [b]60.000 s[/b] at 0:00:59.954 (VOB number 2, byte 20 of "
        "HVDVD_TS/FEATURE_2.EVO): the time runs on across them.",
        "Done.",
        "",
        "8 frames count in video stream 0.",
        "",
    };
    EXPECT_EQ(engine.logMarkup(), expected);

    // A stream of the first file only keeps its box: it is written from the first file.
    EXPECT_EQ(labels(read),
              (std::vector<std::string>{"MPEG-2.stream.0", "DD.stream.00", "DD.stream.01",
                                        "DTSHD.stream.02", "Subpicture.00", "Subpicture.01"}));
    const StreamBox& dts = read.streams[3];
    EXPECT_EQ(dts.id, 0x8A);
    EXPECT_EQ(dts.coding, StreamCoding::Dts);
    EXPECT_EQ(dts.firstPts, 0x2300u);
    EXPECT_EQ(dts.delayMs, 9) << "768 ticks after the video";
    EXPECT_TRUE(dts.chosen);
    EXPECT_EQ(read.baseName, "FEATURE_1_FEATURE_2");
    ASSERT_EQ(read.files.size(), 2u);
    EXPECT_EQ(read.files[1].path, "HVDVD_TS/FEATURE_2.EVO");
    EXPECT_EQ(read.files[1].size, static_cast<int64_t>(featureTwo().size()));
    ASSERT_TRUE(read.navigation);
    EXPECT_EQ(read.navigation->vobNumber, 1u);
    EXPECT_EQ(read.navigation->durationSeconds, 75.0);
    EXPECT_EQ(read.navigation->firstPtm, 0x1000u);
    EXPECT_EQ(read.navigation->lastPtm, 0x1000u + 90000 * 15) << "the last DSI's";
    EXPECT_EQ(read.earliestPts, 0x2000u);
    EXPECT_EQ(read.frames[0].counted, 8);
    EXPECT_EQ(engine.log.panel(StatusPanel::Job).text, " Ready");
    EXPECT_EQ(engine.log.panel(StatusPanel::Progress).text, " ");

    // Without the second file, the first one's six streams and frames.
    Engine single;
    single.files = engine.files;
    const ReadResult one =
        ReadJob(single.context).run({"HVDVD_TS/FEATURE_1.EVO", {.continueOnSecondFile = false}});
    EXPECT_EQ(labels(one), labels(read));
    EXPECT_EQ(one.baseName, "FEATURE_1");
    EXPECT_EQ(one.frames[0].counted, 4);

    single.files.erase("HVDVD_TS/FEATURE_1.EVO");
    EXPECT_THROW(ReadJob(single.context).run({"HVDVD_TS/FEATURE_1.EVO", {}}), JobError);
}

TEST(ReadJob, CancelInTheFirstFileSkipsTheSecondAndDropsTheCounts) {
    Engine engine;
    ProgramStreamBuilder ps;
    ps.pack({fixture::pesPacket(0xE0, {}, pictures(10))}).fillTo(6 * kMebibyte);
    engine.files["FEATURE_1.EVO"] = ps.bytes();
    engine.files["FEATURE_2.EVO"] = featureTwo();
    engine.os.onEvents = [&] { cancelJob(engine.control); };
    const ReadResult read = ReadJob(engine.context).run({"FEATURE_1.EVO", {}});

    const std::vector<std::string> log = engine.logMarkup();
    EXPECT_EQ(std::count(log.begin(), log.end(), "Continue on [b]FEATURE_2.EVO[/b]"), 0);
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[log.size() - 2], "Cancelled.");  // where "Done." would stand
    EXPECT_TRUE(read.cancelled);
    EXPECT_EQ(read.frames[0].counted, 0);
    EXPECT_EQ(engine.os.eventRounds, 1);
}

TEST(ReadJob, FastCheckStopsAfterTheBlockPastTheLimit) {
    Engine engine;
    ProgramStreamBuilder ps;
    ps.pack({fixture::pesPacket(0xE0, {}, pictures(1))});
    ps.fillTo(2 * kMebibyte + kBlockSize + 1000)
        .pack({fixture::privateStream1Packet(0x80, {}, Bytes(9, 0))});
    ps.fillTo(3 * kMebibyte);
    engine.files["A.EVO"] = ps.bytes();
    const ReadResult fast = ReadJob(engine.context).run({"A.EVO", {.fastCheckMb = 2}});
    EXPECT_EQ(labels(fast), std::vector<std::string>{"MPEG-2.stream.0"});
    EXPECT_TRUE(fast.frames[0].partial);
    const ReadResult full = ReadJob(engine.context).run({"A.EVO", {.fastCheck = false}});
    EXPECT_EQ(labels(full), (std::vector<std::string>{"MPEG-2.stream.0", "DD.stream.00"}));
}

TEST(ReadJob, ReportsDvdAudioAndDvdVideoSourcesInTheirOwnWays) {
    Engine engine;
    ProgramStreamBuilder ps;
    fixture::DsiFields dsi{.vobNumber = 4, .dvdVideoLayout = true};
    dsi.audioSync[0] = dsi.audioSync[3] = 1;
    ps.systemPack(2, 1, {fixture::dsiPacket(dsi)});
    ps.pack({fixture::privateStream1Packet(0xA1, {.pts = 1}, Bytes(20, 0))});
    ps.fillTo(kBlockSize);
    engine.files["ATS_01_1.AOB"] = ps.bytes();
    const ReadResult aob = ReadJob(engine.context).run({"ATS_01_1.AOB", {}});
    std::vector<std::string> log = engine.logMarkup();
    EXPECT_NE(std::find(log.begin(), log.end(),
                        "It contains [b]1[/b] video stream and [b]2[/b] audio streams."),
              log.end());
    EXPECT_NE(std::find(log.begin(), log.end(), "[b]MLP[/b] audio stream 1 found!"), log.end());
    EXPECT_EQ(labels(aob), std::vector<std::string>{"MLP.stream.01"});  // named for what it is

    // A DVD-Video source has no such line and takes its audio count from the DSI at 402.
    Engine dvd;
    ProgramStreamBuilder vob;
    vob.systemPack(0, 1, {fixture::dsiPacket(dsi)}).fillTo(kBlockSize);
    dvd.files["VTS_01_1.VOB"] = vob.bytes();
    ReadJob(dvd.context).run({"VTS_01_1.VOB", {}});
    log = dvd.logMarkup();
    EXPECT_EQ(log[3], "VOB number 4 contains [b]1[/b] video and [b]2[/b] audio streams.");
}

// A stream whose details wait for a later packet (a file cut inside its picture) has them
// under its own heading, not under the stream found in between.
TEST(ReadJob, DetailsThatWaitStayUnderTheirOwnStreamsHeading) {
    Engine engine;
    ProgramStreamBuilder ps;
    ps.pack({fixture::pesPacket(0xE0, {}, Bytes(40, 0x11))});
    ps.pack({fixture::privateStream1Packet(0x80, {.pts = 0x2100}, Bytes(100, 0x0B))});
    ps.pack({fixture::pesPacket(0xE0, PesHeader{.pts = 0x3000}, pictures(2))});
    ps.fillTo(kBlockSize);
    engine.files["A.EVO"] = ps.bytes();
    ReadJob(engine.context).run({"A.EVO", {}});
    std::string heading;
    std::vector<std::string> under;
    for (const std::string& line : engine.logMarkup()) {
        if (line.find(" found!") != std::string::npos) {
            heading = line;
        } else if (line.rfind("   Substream id = ", 0) == 0) {
            under.push_back(line.substr(18) + " under " + heading);
        }
    }
    EXPECT_EQ(under,
              (std::vector<std::string>{"80 under [b]Dolby Digital[/b] audio stream 0 found!",
                                        "E0 under [b]MPEG-2[/b] video stream 0 found!"}));
}

TEST(ReadJob, ASourceThatChangesWhileItIsReadEndsTheJobWithAnError) {
    struct Case {
        const char* name;
        std::function<void(const std::filesystem::path&)> change;
        const char* says;
    };
    const Case cases[] = {
        {"shrinks", [](const auto& path) { std::filesystem::resize_file(path, 5 * kMebibyte); },
         "it had 12582912 bytes, now 5242880."},
        {"grows", [](const auto& path) { std::filesystem::resize_file(path, 13 * kMebibyte); },
         "it had 12582912 bytes, now 13631488."},
        {"is replaced",
         [](const auto& path) {
             const auto other = path.string() + ".new";
             fixture::writeFile(other, Bytes(12 * kMebibyte, 0xFF));
             std::filesystem::rename(other, path);
         },
         "another file took its name."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Engine engine;
        fixture::TempDir dir;
        ProgramStreamBuilder ps;
        ps.pack({fixture::pesPacket(0xE0, {}, pictures(10))}).fillTo(12 * kMebibyte);
        const std::string source = dir.write("MOVIE.EVO", ps.bytes());
        bool changed = false;
        engine.os.onEvents = [&] {
            if (!changed) {
                changed = true;
                c.change(source);
            }
        };
        EXPECT_EQ(fixture::jobError([&] {
                      ReadJob(engine.onDisk()).run({source, {.fastCheck = false}});
                  }),
                  "File \"" + source + "\" changed while it was read: " + std::string(c.says));
        const std::vector<std::string> log = engine.logMarkup();
        EXPECT_EQ(std::count(log.begin(), log.end(), "Done."), 0);
    }
}

// The window's side of a read: the boxes it labels and ticks, the buttons it gives back after
// a file that cannot be opened, and the earlier lines it keeps or clears.
TEST(ReadWindow, LabelsItsBoxesAndGivesTheButtonsBackAfterAnError) {
    FormFixture f;
    MainForm& form = f.form;
    f.chooseSource((f.dir.path() / "HVDVD_TS" / "FEATURE_1.EVO").string());
    form.bReadEVOClick();
    ASSERT_EQ(f.os.errors.size(), 1u);
    EXPECT_NE(f.os.errors[0].find("FEATURE_1.EVO"), std::string::npos);
    EXPECT_NE(f.os.errors[0].find("No such file or directory"), std::string::npos);
    EXPECT_EQ(f.logMarkup(), std::vector<std::string>{"Opening file [b]FEATURE_1.EVO[/b]"});
    for (const Control button :
         {Control::bReadEVO, Control::bReadXPL, Control::bbEVO, Control::bbXPL}) {
        EXPECT_TRUE(form.enabled(button)) << controlName(button);
    }
    EXPECT_FALSE(form.enabled(Control::bCancel));
    EXPECT_FALSE(form.jobRunning());

    // Corrected, the same window reads the file and labels a box for each stream.
    f.dir.write("HVDVD_TS/FEATURE_1.EVO", featureOne());
    f.dir.write("HVDVD_TS/FEATURE_2.EVO", featureTwo());
    form.bReadEVOClick();
    // Each caption shows what the stream is beside the label that names its file.
    EXPECT_EQ(form.control(Control::cbVideo0).caption, "MPEG-2.stream.0  mpeg2video");
    EXPECT_TRUE(form.ticked(Control::cbVideo0) && form.enabled(Control::cbVideo0));
    EXPECT_EQ(form.control(audioBox(2)).caption, "DTSHD.stream.02  dts, delay 9 ms");
    EXPECT_TRUE(form.ticked(audioBox(2)));
    for (int n = 3; n < kAudioBoxes; ++n) {
        EXPECT_FALSE(form.enabled(audioBox(n)) || form.ticked(audioBox(n))) << n;
        EXPECT_EQ(form.control(audioBox(n)).caption, "No audio stream");
    }
    EXPECT_EQ(form.control(subBox(1)).caption, "Subpicture.01");
    EXPECT_EQ(form.control(subBox(2)).caption, "No subpicture");
    EXPECT_EQ(form.paths().baseName, "FEATURE_1_FEATURE_2");
    EXPECT_EQ(form.lastRead().earliestPts, 0x2000u);
    EXPECT_TRUE(form.enabled(Control::bDemux) && form.enabled(Control::bRebuild));
    EXPECT_FALSE(form.enabled(Control::bCancel));

    // The second file's tick reaches the job.
    form.setTicked(Control::cbContinue, false);
    form.messageLog().clear();
    form.bReadEVOClick();
    EXPECT_EQ(form.paths().baseName, "FEATURE_1");
    const size_t once = f.logMarkup().size();
    form.bReadEVOClick();
    EXPECT_EQ(f.logMarkup().size(), 2 * once);
    form.setTicked(Control::cbAutoClear, true);
    form.bReadEVOClick();
    EXPECT_EQ(f.logMarkup().size(), once);
}

}  // namespace
}  // namespace tolvane
