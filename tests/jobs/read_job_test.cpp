#include <gtest/gtest.h>

#include <functional>

#include "core/pack_engine.h"
#include "form_fixture.h"

namespace tolvane {
namespace {

using fixture::Bytes;
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

TEST(ReadJob, ReportsBothFeatureFilesAndLabelsTheStreamsOfBoth) {
    FormFixture f;
    const std::string first = f.dir.write("HVDVD_TS/FEATURE_1.EVO", featureOne());
    f.dir.write("HVDVD_TS/FEATURE_2.EVO", featureTwo());
    f.chooseSource(first);
    f.form.bReadEVOClick();

    const std::vector<std::string> expected = {
        "Opening file [b]FEATURE_1.EVO[/b]",
        "Reading...",
        "File size: 0 Mbytes.",
        "[b]Copy One Generation[/b]",
        "VOB number 1 contains [b]1[/b] video , [b]3[/b] audio and [b]2[/b] subpicture streams.",
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
        "Done.",
        "",
        "8 frames count in video stream 0.",
        "",
    };
    EXPECT_EQ(f.logMarkup(), expected);

    const MainForm& form = f.form;
    EXPECT_EQ(form.control(Control::cbVideo0).caption, "MPEG-2.stream.0");
    EXPECT_TRUE(form.ticked(Control::cbVideo0));
    EXPECT_TRUE(form.enabled(Control::cbVideo0));
    // A stream of the first file only keeps its box: it is written from the first file.
    EXPECT_EQ(form.control(Control::cbAudio00).caption, "DD.stream.00");
    EXPECT_EQ(form.control(audioBox(2)).caption, "DTSHD.stream.02");
    EXPECT_TRUE(form.ticked(audioBox(2)));
    for (int n = 3; n < kAudioBoxes; ++n) {
        EXPECT_FALSE(form.enabled(audioBox(n))) << n;
        EXPECT_FALSE(form.ticked(audioBox(n))) << n;
        EXPECT_EQ(form.control(audioBox(n)).caption, "No audio stream");
    }
    EXPECT_EQ(form.control(subBox(1)).caption, "Subpicture.01");
    for (int n = 2; n < kSubBoxes; ++n) {
        EXPECT_FALSE(form.ticked(subBox(n))) << n;
        EXPECT_EQ(form.control(subBox(n)).caption, "No subpicture");
    }
    EXPECT_EQ(form.paths().baseName, "FEATURE_1_FEATURE_2");
    EXPECT_EQ(form.lastRead().navigation->durationSeconds, 75.0);
    EXPECT_EQ(form.lastRead().navigation->firstPtm.value_or(0), 0x1000u);
    EXPECT_EQ(form.lastRead().earliestPts.value_or(0), 0x2000u);
    EXPECT_TRUE(form.enabled(Control::bReadEVO));
    EXPECT_TRUE(form.enabled(Control::bDemux));
    EXPECT_TRUE(form.enabled(Control::bRebuild));
    EXPECT_FALSE(form.enabled(Control::bCancel));
    EXPECT_EQ(form.messageLog().panel(StatusPanel::Job).text, " Ready");
    EXPECT_EQ(form.messageLog().panel(StatusPanel::Progress).text, " ");
}

TEST(ReadJob, LabelsEveryStreamOfASingleFile) {
    FormFixture f;
    f.form.setTicked(Control::cbContinue, false);
    f.chooseSource(f.dir.write("FEATURE_1.EVO", featureOne()));
    f.form.bReadEVOClick();
    const MainForm& form = f.form;
    const std::pair<Control, const char*> labelled[] = {
        {Control::cbVideo0, "MPEG-2.stream.0"}, {audioBox(0), "DD.stream.00"},
        {audioBox(1), "DD.stream.01"},          {audioBox(2), "DTSHD.stream.02"},
        {subBox(0), "Subpicture.00"},           {subBox(1), "Subpicture.01"},
    };
    int tickedBoxes = 0;
    for (size_t k = static_cast<size_t>(Control::cbVideo0); k < kControlCount; ++k) {
        tickedBoxes += form.ticked(static_cast<Control>(k)) ? 1 : 0;
    }
    EXPECT_EQ(tickedBoxes, 6);
    for (const auto& [box, caption] : labelled) {
        EXPECT_EQ(form.control(box).caption, caption);
        EXPECT_TRUE(form.ticked(box) && form.enabled(box)) << caption;
    }
    EXPECT_EQ(form.control(videoBox(1)).caption, "No video stream");
    EXPECT_EQ(form.paths().baseName, "FEATURE_1");
    EXPECT_EQ(form.lastRead().frames[0].counted, 4);
}

TEST(ReadJob, CancelInTheFirstFileSkipsTheSecondAndDropsTheCounts) {
    FormFixture f;
    ProgramStreamBuilder ps;
    ps.pack({fixture::pesPacket(0xE0, {}, pictures(10))}).fillTo(6 * kMebibyte);
    f.chooseSource(f.dir.write("FEATURE_1.EVO", ps.bytes()));
    f.dir.write("FEATURE_2.EVO", featureTwo());
    f.os.onEvents = [&] { f.form.bCancelClick(); };
    f.form.bReadEVOClick();

    const std::vector<std::string> log = f.logMarkup();
    EXPECT_EQ(std::count(log.begin(), log.end(), "Continue on [b]FEATURE_2.EVO[/b]"), 0);
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[log.size() - 2], "Cancelled.");  // where "Done." would stand
    EXPECT_EQ(f.form.lastRead().frames[0].counted, 0);
    EXPECT_TRUE(f.os.questions.empty()) << "a read job cancels without a question";
    EXPECT_EQ(f.os.eventRounds, 1);
}

TEST(ReadJob, FastCheckStopsAfterTheBlockPastTheLimit) {
    FormFixture f;
    ProgramStreamBuilder ps;
    ps.pack({fixture::pesPacket(0xE0, {}, pictures(1))});
    ps.fillTo(2 * kMebibyte + kBlockSize + 1000)
        .pack({fixture::privateStream1Packet(0x80, {}, Bytes(9, 0))});
    ps.fillTo(3 * kMebibyte);
    f.chooseSource(f.dir.write("A.EVO", ps.bytes()));
    f.form.setText(Control::ieFastSize, "2");
    f.form.bReadEVOClick();
    EXPECT_EQ(f.form.control(audioBox(0)).caption, "No audio stream");
    EXPECT_TRUE(f.form.ticked(Control::cbVideo0));

    f.form.setTicked(Control::cbFastCheck, false);
    f.form.bReadEVOClick();
    EXPECT_EQ(f.form.control(audioBox(0)).caption, "DD.stream.00");
}

TEST(ReadJob, ReportsDvdAudioAndDvdVideoSourcesInTheirOwnWays) {
    FormFixture f;
    ProgramStreamBuilder ps;
    fixture::DsiFields dsi{.vobNumber = 4, .dvdVideoLayout = true};
    dsi.audioSync[0] = dsi.audioSync[3] = 1;
    ps.systemPack(2, 1, {fixture::dsiPacket(dsi)});
    ps.pack({fixture::privateStream1Packet(0xA1, {.pts = 1}, Bytes(20, 0))});
    ps.fillTo(kBlockSize);
    const Bytes stream = ps.bytes();

    f.chooseSource(f.dir.write("ATS_01_1.AOB", stream));
    f.form.bReadEVOClick();
    std::vector<std::string> log = f.logMarkup();
    EXPECT_NE(std::find(log.begin(), log.end(),
                        "It contains [b]1[/b] video stream and [b]2[/b] audio streams."),
              log.end());
    EXPECT_NE(std::find(log.begin(), log.end(), "[b]MLP[/b] audio stream 1 found!"), log.end());
    EXPECT_EQ(f.form.control(audioBox(1)).caption, "MLP.stream.01");  // named for what it is

    // A DVD-Video source has no such line and takes its audio count from the DSI at 402.
    FormFixture g;
    ProgramStreamBuilder vob;
    vob.systemPack(0, 1, {fixture::dsiPacket(dsi)}).fillTo(kBlockSize);
    g.chooseSource(g.dir.write("VTS_01_1.VOB", vob.bytes()));
    g.form.bReadEVOClick();
    log = g.logMarkup();
    EXPECT_EQ(log[3], "VOB number 4 contains [b]1[/b] video and [b]2[/b] audio streams.");
    EXPECT_FALSE(g.form.enabled(Control::bRebuild));
}

TEST(ReadJob, AFileThatCannotBeOpenedEndsTheJobAndGivesTheButtonsBack) {
    FormFixture f;
    f.chooseSource((f.dir.path() / "HVDVD_TS" / "MISSING.EVO").string());
    f.form.bReadEVOClick();

    ASSERT_EQ(f.os.errors.size(), 1u);
    EXPECT_NE(f.os.errors[0].find("MISSING.EVO"), std::string::npos);
    EXPECT_NE(f.os.errors[0].find("No such file or directory"), std::string::npos);
    EXPECT_EQ(f.logMarkup(), std::vector<std::string>{"Opening file [b]MISSING.EVO[/b]"});
    EXPECT_TRUE(f.form.enabled(Control::bReadEVO));
    EXPECT_TRUE(f.form.enabled(Control::bReadXPL));
    EXPECT_TRUE(f.form.enabled(Control::bbEVO));
    EXPECT_TRUE(f.form.enabled(Control::bbXPL));
    EXPECT_FALSE(f.form.enabled(Control::bCancel));
    EXPECT_FALSE(f.form.jobRunning());

    // Corrected, the same window reads the file.
    f.chooseSource(f.dir.write("HVDVD_TS/FEATURE_1.EVO", featureTwo()));
    f.form.bReadEVOClick();
    EXPECT_EQ(f.logMarkup().back(), "");
    EXPECT_TRUE(f.form.ticked(Control::cbVideo0));
}

TEST(ReadJob, KeepsOrClearsEarlierLinesAsAutoClearSays) {
    FormFixture f;
    f.chooseSource(f.dir.write("B.EVO", featureTwo()));
    f.form.bReadEVOClick();
    const size_t once = f.logMarkup().size();
    f.form.bReadEVOClick();
    EXPECT_EQ(f.logMarkup().size(), 2 * once);
    f.form.setTicked(Control::cbAutoClear, true);
    f.form.bReadEVOClick();
    EXPECT_EQ(f.logMarkup().size(), once);
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
        FormFixture f;
        ProgramStreamBuilder ps;
        ps.pack({fixture::pesPacket(0xE0, {}, pictures(10))}).fillTo(12 * kMebibyte);
        const std::string source = f.dir.write("MOVIE.EVO", ps.bytes());
        f.form.setTicked(Control::cbFastCheck, false);
        f.chooseSource(source);
        bool changed = false;
        f.os.onEvents = [&] {
            if (!changed) {
                changed = true;
                c.change(source);
            }
        };
        f.form.bReadEVOClick();
        ASSERT_EQ(f.os.errors.size(), 1u);
        EXPECT_EQ(f.os.errors[0],
                  "File \"" + source + "\" changed while it was read: " + std::string(c.says));
        const std::vector<std::string> log = f.logMarkup();
        EXPECT_EQ(std::count(log.begin(), log.end(), "Done."), 0);
    }
}

}  // namespace
}  // namespace tolvane
