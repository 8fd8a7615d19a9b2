// Jobs over files laid out as real disc copies are: titles split over two files, subtitles that
// start with the film, streams past the fast check, names that are not the program's own.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "core/pack_engine.h"
#include "form_fixture.h"

namespace tolvane {
namespace {

using fixture::Bytes;
using fixture::FormFixture;
using fixture::PesHeader;
using fixture::ProgramStreamBuilder;
using fixture::readFile;

constexpr uint32_t kStart = 90000;  // one second, where many discs start their clock

// An MPEG-2 sequence header at 25 frames per second, then a picture.
// An MPEG-2 sequence header and its extension, then a picture.
Bytes sequenceStart() {
    return {0x00, 0x00, 0x01, 0xB3, 0x2D, 0x01, 0xE0, 0x33, 0xFF, 0xFF,
            0xE0, 0x00, 0x00, 0x00, 0x01, 0xB5, 0x14, 0x8A, 0x00, 0x01,
            0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x08, 0x00, 0x00};
}

Bytes joined(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

Bytes supHeader(uint32_t relativePts) {
    return {'S',
            'P',
            static_cast<uint8_t>(relativePts),
            static_cast<uint8_t>(relativePts >> 8),
            static_cast<uint8_t>(relativePts >> 16),
            static_cast<uint8_t>(relativePts >> 24),
            0,
            0,
            0,
            0};
}

std::vector<std::string> logText(const FormFixture& f) {
    std::vector<std::string> lines;
    for (const LogLine& line : f.form.messageLog().lines()) {
        lines.push_back(line.text);
    }
    return lines;
}

bool logged(const FormFixture& f, const std::string& text) {
    const std::vector<std::string> lines = logText(f);
    return std::count(lines.begin(), lines.end(), text) == 1;
}

void tickOnly(MainForm& form, std::initializer_list<Control> boxes) {
    for (size_t k = static_cast<size_t>(Control::cbVideo0); k < kControlCount; ++k) {
        form.setTicked(static_cast<Control>(k), false);
    }
    for (Control box : boxes) {
        form.setTicked(box, true);
    }
}

// One VOB of a title: MPEG-2 video with PTS-only headers, as most muxers write it, and a
// subtitle whose first unit starts with the film.
Bytes titleFile(const Bytes& unit, uint16_t vob, uint32_t vobStart, uint32_t vobEnd) {
    ProgramStreamBuilder ps;
    fixture::DsiFields dsi{.vobNumber = vob, .startPtm = vobStart, .endPtm = vobEnd};
    ps.pack({fixture::dsiPacket(dsi)});
    ps.pack({fixture::pesPacket(0xE0, PesHeader{.pts = kStart}, sequenceStart())});
    ps.pack({fixture::privateStream1Packet(0x20, PesHeader{.pts = kStart}, unit)});
    ps.pack({fixture::privateStream1Packet(0x80, PesHeader{.pts = kStart + 3600}, Bytes(64, 1))});
    ps.pack({fixture::privateStream1Packet(0x20, PesHeader{.pts = kStart + 45000}, unit)});
    return ps.bytes();
}

TEST(RealDisc, ASubtitleThatStartsWithTheFilmGetsItsRecordInEveryFile) {
    FormFixture f;
    const Bytes unit = {0x00, 0x10, 0x00, 0x08, 0xAA, 0xBB, 0xCC, 0xDD};
    const std::string first = f.dir.write("FEATURE_1.EVO", titleFile(unit, 1, kStart, 900000));
    f.dir.write("FEATURE_2.EVO", titleFile(unit, 2, kStart, 900000));
    f.chooseSource(first);
    f.form.setText(Control::eWorkdir, f.dir.path().string());
    f.form.bReadEVOClick();
    // The first PTS of PTS-only video is its own, so minPts is the start of the film.
    const std::vector<std::string> lines = logText(f);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "   First PTS = 00015F90"), 4);
    EXPECT_EQ(f.form.lastRead().earliestPts.value_or(0), kStart);

    tickOnly(f.form, {subBox(0)});
    f.form.bDemuxClick();
    const Bytes sup = readFile(f.dir.path() / "FEATURE_1_FEATURE_2.Subpicture.00.sup");
    const Bytes oneFile = joined({supHeader(0), unit, supHeader(45000), unit});
    EXPECT_EQ(sup, joined({oneFile, oneFile}));
}

TEST(RealDisc, EveryStreamIsReportedFromItsFirstPacketThatCarriesAPts) {
    FormFixture f;
    ProgramStreamBuilder ps;
    // A file cut in the middle of a stream: its first packets carry no PTS.
    ps.pack({fixture::pesPacket(0xE0, {}, Bytes(50, 0))});
    ps.pack({fixture::privateStream1Packet(0x80, {}, Bytes(50, 0))});
    ps.pack({fixture::privateStream1Packet(0x21, {}, Bytes(50, 0))});
    ps.pack({fixture::pesPacket(0xE0, PesHeader{.pts = kStart + 100}, sequenceStart())});
    ps.pack({fixture::privateStream1Packet(0x80, PesHeader{.pts = kStart}, Bytes(50, 0))});
    ps.pack({fixture::privateStream1Packet(0x21, PesHeader{.pts = kStart + 200}, Bytes(50, 0))});
    f.chooseSource(f.dir.write("CUT.EVO", ps.bytes()));
    f.form.bReadEVOClick();
    const std::vector<std::string> lines = logText(f);
    for (const char* line : {"   First PTS = 00015FF4", "   First PTS = 00015F90",
                             "   First PTS = 00016058", "   size = 720x480"}) {
        EXPECT_EQ(std::count(lines.begin(), lines.end(), line), 1) << line;
    }
    EXPECT_EQ(f.form.lastRead().earliestPts.value_or(0), kStart);
}

TEST(RealDisc, ATitleSplitInsideOneVobCountsItsRunningTimeOnce) {
    FormFixture f;
    const Bytes unit(8, 0x11);
    // A DVD title split at 1 GiB: both files' first navigation packs describe VOB 1.
    const std::string first =
        f.dir.write("VTS_10_1.VOB", titleFile(unit, 1, kStart, kStart + 90000 * 60));
    f.dir.write("VTS_10_2.VOB", titleFile(unit, 1, kStart, kStart + 90000 * 60));
    f.dir.write("VTS_20_1.VOB", titleFile(unit, 1, kStart, kStart + 90000 * 600));
    f.chooseSource(first);
    f.form.bReadEVOClick();
    EXPECT_TRUE(logged(f, "Continue on VTS_10_2.VOB"));
    EXPECT_DOUBLE_EQ(f.form.lastRead().navigation->durationSeconds, 60.0);
    const std::vector<std::string> lines = logText(f);
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& line) {
        return line.rfind("1500 calculated frames", 0) == 0;
    }));

    // The next VOB of the title adds its own span.
    f.dir.write("VTS_10_2.VOB", titleFile(unit, 2, kStart, kStart + 90000 * 30));
    f.form.setText(Control::eWorkdir, f.dir.path().string());
    f.form.messageLog().clear();
    f.form.bDemuxClick();
    const std::vector<std::string> demuxed = logText(f);
    EXPECT_TRUE(std::any_of(demuxed.begin(), demuxed.end(), [](const std::string& line) {
        return line.rfind("2250 calculated frames", 0) == 0;
    }));
}

TEST(RealDisc, ASecondCodingOnATakenNumberIsWrittenAndALateStreamNamedInTheLog) {
    FormFixture f;
    ProgramStreamBuilder ps;
    ps.pack({fixture::privateStream1Packet(0x80, PesHeader{.pts = kStart}, Bytes(100, 0x80))});
    // A second coding on a taken number: the next free box.
    ps.pack({fixture::privateStream1Packet(0x88, PesHeader{.pts = kStart}, Bytes(100, 0x88))});
    ps.pack({fixture::privateStream1Packet(0x88, PesHeader{.pts = kStart}, Bytes(100, 0x88))});
    // A stream that begins past the fast check.
    ps.fillTo(3 * kMebibyte / 2);
    ps.pack({fixture::privateStream1Packet(0x8A, PesHeader{.pts = kStart}, Bytes(100, 0x8A))});
    ps.pack({fixture::privateStream1Packet(0x80, {}, Bytes(100, 0x80))});
    f.chooseSource(f.dir.write("MOVIE.EVO", ps.bytes()));
    f.form.setText(Control::ieFastSize, "1");
    f.form.setText(Control::eWorkdir, f.dir.path().string());
    f.form.bReadEVOClick();
    EXPECT_EQ(f.form.control(audioBox(1)).caption, "DTSHD.stream.01");
    EXPECT_FALSE(f.form.enabled(audioBox(2)));

    f.form.messageLog().clear();
    f.form.bDemuxClick();
    EXPECT_TRUE(logged(f, "Audio stream 0x8A has no stream box: not written."));
    EXPECT_EQ(readFile(f.dir.path() / "MOVIE.DD.stream.00.mpa"), Bytes(200, 0x80));
    EXPECT_EQ(readFile(f.dir.path() / "MOVIE.DTSHD.stream.01.mpa"), Bytes(200, 0x88));
    size_t files = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(f.dir.path())) {
        ++files;
    }
    EXPECT_EQ(files, 3u) << "the source and the two outputs";
}

TEST(RealDisc, AStreamOfEitherFileAloneKeepsItsBoxAndOutput) {
    FormFixture f;
    ProgramStreamBuilder one;
    one.pack({fixture::privateStream1Packet(0x80, PesHeader{.pts = kStart}, Bytes(300, 0x80))});
    one.pack({fixture::privateStream1Packet(0x81, PesHeader{.pts = kStart}, Bytes(300, 0x81))});
    ProgramStreamBuilder two;
    two.pack({fixture::privateStream1Packet(0x88, PesHeader{.pts = kStart}, Bytes(300, 0x88))});
    two.pack({fixture::privateStream1Packet(0x81, PesHeader{.pts = kStart}, Bytes(300, 0x82))});
    const std::string first = f.dir.write("FEATURE_1.EVO", one.bytes());
    f.dir.write("FEATURE_2.EVO", two.bytes());
    f.chooseSource(first);
    f.form.setText(Control::eWorkdir, f.dir.path().string());
    f.form.bReadEVOClick();
    ASSERT_EQ(f.form.control(audioBox(0)).caption, "DD.stream.00");
    ASSERT_EQ(f.form.control(audioBox(2)).caption, "DTSHD.stream.02");
    f.form.bDemuxClick();
    EXPECT_EQ(readFile(f.dir.path() / "FEATURE_1_FEATURE_2.DD.stream.00.mpa"), Bytes(300, 0x80));
    EXPECT_EQ(readFile(f.dir.path() / "FEATURE_1_FEATURE_2.DTSHD.stream.02.mpa"), Bytes(300, 0x88));
    Bytes both(300, 0x81);
    both.insert(both.end(), 300, 0x82);
    EXPECT_EQ(readFile(f.dir.path() / "FEATURE_1_FEATURE_2.DD.stream.01.mpa"), both);
    EXPECT_FALSE(logged(f, "Audio stream 0x80 has no stream box: not written."));
}

TEST(RealDisc, CommandsFollowTheRuleAfterEveryJobAndEveryNewSource) {
    FormFixture f;
    ProgramStreamBuilder ps;
    ps.pack({fixture::pesPacket(0xE0, PesHeader{.pts = kStart}, sequenceStart())});
    ps.pack({fixture::privateStream1Packet(0x80, PesHeader{.pts = kStart}, Bytes(100, 1))});
    const std::string vob = f.dir.write("VTS_01_1.VOB", ps.bytes());
    f.chooseSource(vob);
    f.form.setText(Control::eWorkdir, f.dir.path().string());
    f.form.bReadEVOClick();
    EXPECT_DOUBLE_EQ(f.form.lastRead().frames[0].frameRate, 25.0);
    f.form.bDemuxClick();
    // The demux counts with the frame rate the read found.
    const std::vector<LogLine>& lines = f.form.messageLog().lines();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const LogLine& line) {
                                return line.text ==
                                       "1 counted frames (0:00:00.040) in video stream 0.";
                            }),
              2);
    EXPECT_TRUE(f.form.enabled(Control::bDemux));
    EXPECT_FALSE(f.form.enabled(Control::bRebuild)) << "Rebuild writes .EVO files only";

    // Another source dropped: nothing of the previous file is left to demux.
    ProgramStreamBuilder audioOnly;
    audioOnly.pack({fixture::privateStream1Packet(0x81, PesHeader{.pts = 5}, Bytes(100, 1))});
    const std::string evo = f.dir.write("AUDIO.EVO", audioOnly.bytes());
    f.form.setTicked(Control::cbAutoRead, false);
    f.form.WMDropFiles({evo});
    EXPECT_FALSE(f.form.ticked(Control::cbVideo0));
    EXPECT_FALSE(f.form.enabled(Control::bDemux));
    EXPECT_FALSE(f.form.enabled(Control::bRebuild));
    EXPECT_TRUE(f.form.streamBoxes().empty());

    // A read starts without the previous file's frame rates.
    f.form.bReadEVOClick();
    EXPECT_EQ(f.form.lastRead().frames[0].frameRate, 0.0);
    EXPECT_TRUE(f.form.enabled(Control::bRebuild));

    // A drop while a job runs changes nothing.
    ProgramStreamBuilder big;
    big.raw(audioOnly.bytes()).fillTo(5 * kMebibyte);
    f.chooseSource(f.dir.write("BIG.EVO", big.bytes()));
    f.os.onEvents = [&] { f.form.WMDropFiles({vob}); };
    f.form.bReadEVOClick();
    EXPECT_EQ(f.form.text(Control::eEVOfile), (f.dir.path() / "BIG.EVO").string());
    EXPECT_TRUE(f.form.ticked(audioBox(1)));
}

TEST(RealDisc, AutomaticJobsStartOnlyWhereTheirButtonWouldAndNeverAfterCancel) {
    FormFixture f;
    f.form.setText(Control::eWorkdir, f.dir.path().string());
    ProgramStreamBuilder ps;
    ps.pack({fixture::privateStream1Packet(0x80, PesHeader{.pts = 5}, Bytes(100, 1))});

    f.form.setTicked(Control::rbAutoRebuild, true);
    f.chooseSource(f.dir.write("x.VOB", ps.bytes()));
    f.form.bReadEVOClick();
    EXPECT_FALSE(std::filesystem::exists(f.dir.path() / "x.rebuilt.EVO"));
    f.chooseSource(f.dir.write("empty.EVO", Bytes(4096, 0)));
    f.form.bReadEVOClick();
    EXPECT_FALSE(std::filesystem::exists(f.dir.path() / "empty.rebuilt.EVO"));

    f.form.setTicked(Control::rbAutoDemux, true);
    ProgramStreamBuilder big;
    big.raw(ps.bytes()).fillTo(5 * kMebibyte);
    f.chooseSource(f.dir.write("big.EVO", big.bytes()));
    f.os.onEvents = [&] { f.form.bCancelClick(); };
    f.form.bReadEVOClick();
    EXPECT_FALSE(std::filesystem::exists(f.dir.path() / "big.DD.stream.00.mpa"));

    // Closing the window during the read: the same.
    f.os.onEvents = [&] { f.form.FormCloseQuery(); };
    f.form.bReadEVOClick();
    EXPECT_FALSE(std::filesystem::exists(f.dir.path() / "big.DD.stream.00.mpa"));
}

TEST(RealDisc, NamesAreLoggedAsTheyAreAndPlaylistCaptionsMakeSafeFileNames) {
    FormFixture f;
    ProgramStreamBuilder ps;
    ps.pack({fixture::privateStream1Packet(0x80, PesHeader{.pts = 5}, Bytes(100, 1)),
             fixture::privateStream1Packet(0x81, PesHeader{.pts = 5}, Bytes(100, 2))});
    const std::string name = "Movie [1080p] [b]x.EVO";
    f.chooseSource(f.dir.write(name, ps.bytes()));
    f.form.setText(Control::eWorkdir, f.dir.path().string());
    f.form.bReadEVOClick();
    EXPECT_TRUE(logged(f, "Opening file " + name));

    // Captions as the playlist reader makes them, from the playlist's text.
    f.form.setCaption(audioBox(0), "DD.s00.French/Commentary");
    f.form.setCaption(audioBox(1), "DD.s01." + std::string(300, 'x'));
    const std::filesystem::path first =
        f.dir.path() / "Movie [1080p] [b]x.DD.s00.French_Commentary.mpa";
    fixture::writeFile(first, Bytes(10, 7));
    f.form.messageLog().clear();
    f.form.bDemuxClick();
    // One name too long: the job ends before it creates or empties any file.
    ASSERT_EQ(f.os.errors.size(), 1u);
    EXPECT_NE(f.os.errors[0].find("longer than 255 bytes"), std::string::npos);
    EXPECT_EQ(readFile(first), Bytes(10, 7));
    EXPECT_TRUE(f.form.enabled(Control::bDemux));

    f.form.setTicked(audioBox(1), false);
    f.form.bDemuxClick();
    EXPECT_EQ(readFile(first), Bytes(100, 1));
    EXPECT_TRUE(logged(f, "Creating " + first.string()));
}

TEST(RealDisc, NamesOutputsByCodingAndAudioByItsDelayWhenAsked) {
    FormFixture f;
    ProgramStreamBuilder ps;
    ps.pack({fixture::pesPacket(0xE0, PesHeader{.pts = kStart}, sequenceStart())});
    ps.pack({fixture::privateStream1Packet(0x80, PesHeader{.pts = kStart + 3600}, Bytes(10, 1))});
    ps.pack({fixture::privateStream1Packet(0x89, PesHeader{.pts = kStart - 2250}, Bytes(10, 1))});
    ps.pack({fixture::privateStream1Packet(0xC2, PesHeader{.pts = kStart + 44}, Bytes(10, 1))});
    ps.pack({fixture::privateStream1Packet(0xB3, PesHeader{.pts = kStart + 46}, Bytes(10, 1))});
    ps.pack({fixture::privateStream1Packet(0xA4, PesHeader{.pts = kStart}, Bytes(10, 1))});
    ps.pack({fixture::privateStream1Packet(0x65, PesHeader{.pts = kStart + 900}, Bytes(10, 1))});
    f.chooseSource(f.dir.write("MOVIE.EVO", ps.bytes()));
    f.form.setText(Control::eWorkdir, f.dir.path().string());
    f.form.bReadEVOClick();
    EXPECT_EQ(f.form.streamDelayMs(StreamKind::Audio, 0), 40);
    EXPECT_EQ(f.form.streamDelayMs(StreamKind::Audio, 1), -25);
    EXPECT_EQ(f.form.streamDelayMs(StreamKind::Subpicture, 5), 10);
    EXPECT_EQ(f.form.streamDelayMs(StreamKind::Audio, 7), std::nullopt);

    f.form.setTicked(Control::cbDelayNames, true);
    f.form.setTicked(Control::cbExtByCoding, true);
    f.form.bDemuxClick();
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(f.dir.path())) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    // 44 and 46 ticks are 0.49 and 0.51 ms: each rounds to its nearest millisecond.
    EXPECT_EQ(names, (std::vector<std::string>{
                         "MOVIE.DD+.stream.02 DELAY 0ms.eac3", "MOVIE.DD.stream.00 DELAY 40ms.ac3",
                         "MOVIE.DTSHD.stream.01 DELAY -25ms.dts", "MOVIE.EVO",
                         "MOVIE.Ext.Subpicture.05.sup", "MOVIE.LPCM.stream.04 DELAY 0ms.lpcm",
                         "MOVIE.MLP.stream.03 DELAY 1ms.thd", "MOVIE.MPEG-2.stream.0.m2v"}));

    // Without the options the names are as ever.
    f.form.setTicked(Control::cbDelayNames, false);
    f.form.setTicked(Control::cbExtByCoding, false);
    f.form.bDemuxClick();
    EXPECT_TRUE(std::filesystem::exists(f.dir.path() / "MOVIE.DD.stream.00.mpa"));
    EXPECT_TRUE(std::filesystem::exists(f.dir.path() / "MOVIE.MPEG-2.stream.0.mpv"));
}

}  // namespace
}  // namespace tolvane
