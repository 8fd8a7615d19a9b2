// Jobs over files laid out as real disc copies are: titles split over two files, subtitles that
// start with the film, streams past the fast check, names that are not the program's own.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "demux/pack_engine.h"
#include "demux_modes.h"
#include "form_fixture.h"

namespace tolvane {
namespace {

using fixture::Bytes;
using fixture::FormFixture;
using fixture::JobRun;
using fixture::Outcome;
using fixture::PesHeader;
using fixture::ProgramStreamBuilder;
using fixture::readFile;

constexpr uint32_t kStart = 90000;  // one second, where many discs start their clock

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

bool startsALine(const std::vector<std::string>& lines, const std::string& start) {
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::string& line) { return line.rfind(start, 0) == 0; });
}

// The label of every stream a read found, in box order.
std::vector<std::string> labels(const ReadResult& read) {
    std::vector<std::string> out;
    for (const StreamBox& box : read.streams) {
        out.push_back(box.label);
    }
    return out;
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
    const Bytes unit = {0x00, 0x10, 0x00, 0x08, 0xAA, 0xBB, 0xCC, 0xDD};
    const JobRun run{.files = {{"FEATURE_1.EVO", titleFile(unit, 1, kStart, 900000)},
                               {"FEATURE_2.EVO", titleFile(unit, 2, kStart, 900000)}},
                     .source = "FEATURE_1.EVO",
                     .naming = {.subpictureFormat = SubpictureFormat::Sup},
                     .select = std::vector<std::string>{"cbSub00"}};
    // The first PTS of PTS-only video is its own, so the earliest is the start of the film.
    const std::vector<std::string> lines = fixture::readLog(run);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "   First PTS = 00015F90"), 4);
    const Outcome outcome = fixture::runJobs(run, false);
    EXPECT_EQ(outcome.read.earliestPts, kStart);
    // The second file's VOB starts its times anew where the first's ended: its subtitles
    // follow on at 9 s (900000 - kStart ticks), not again at the start.
    EXPECT_EQ(outcome.files.at("FEATURE_1_FEATURE_2.Subpicture.00.sup"),
              joined({supHeader(0), unit, supHeader(45000), unit, supHeader(810000), unit,
                      supHeader(855000), unit}));
}

// A sequence header of a picture 0 lines high gives no size a Matroska track can have: the
// stream is left out as one without a header, and the file holds the others (it failed to
// begin, where the demux wrote every stream).
TEST(RealDisc, VideoOfNoPictureSizeIsLeftOutOfTheMatroskaFile) {
    Bytes flat = sequenceStart();
    flat[5] = 0x00;  // 720 wide, 0 high
    flat[6] = 0x00;
    ProgramStreamBuilder ps;
    ps.pack({fixture::pesPacket(0xE0, PesHeader{.pts = kStart}, flat)});
    ps.pack({fixture::pesPacket(0xE1, PesHeader{.pts = kStart}, sequenceStart())});
    const fixture::JobRun run{.files = {{"TITLE.EVO", ps.bytes()}}};
    const fixture::MatroskaOutcome mkv = fixture::runMatroska(run);
    EXPECT_FALSE(mkv.error.has_value()) << mkv.error.value_or("");
    EXPECT_TRUE(mkv.file.has_value());
    EXPECT_FALSE(fixture::runJobs(run, true).error.has_value());
}

TEST(RealDisc, EveryStreamIsReportedFromItsFirstPacketThatCarriesAPts) {
    ProgramStreamBuilder ps;
    // A file cut in the middle of a stream: its first packets carry no PTS.
    ps.pack({fixture::pesPacket(0xE0, {}, Bytes(50, 0))});
    ps.pack({fixture::privateStream1Packet(0x80, {}, Bytes(50, 0))});
    ps.pack({fixture::privateStream1Packet(0x21, {}, Bytes(50, 0))});
    ps.pack({fixture::pesPacket(0xE0, PesHeader{.pts = kStart + 100}, sequenceStart())});
    ps.pack({fixture::privateStream1Packet(0x80, PesHeader{.pts = kStart}, Bytes(50, 0))});
    ps.pack({fixture::privateStream1Packet(0x21, PesHeader{.pts = kStart + 200}, Bytes(50, 0))});
    const JobRun run{.files = {{"CUT.EVO", ps.bytes()}}, .source = "CUT.EVO"};
    const std::vector<std::string> lines = fixture::readLog(run);
    for (const char* line : {"   First PTS = 00015FF4", "   First PTS = 00015F90",
                             "   First PTS = 00016058", "   size = 720x480"}) {
        EXPECT_EQ(std::count(lines.begin(), lines.end(), line), 1) << line;
    }
    EXPECT_EQ(fixture::runJobs(run, false).read.earliestPts, kStart);
}

TEST(RealDisc, ATitleSplitInsideOneVobCountsItsRunningTimeOnce) {
    const Bytes unit(8, 0x11);
    // A DVD title split at 1 GiB: both files' first navigation packs describe VOB 1.
    JobRun run{.files = {{"VTS_10_1.VOB", titleFile(unit, 1, kStart, kStart + 90000 * 60)},
                         {"VTS_10_2.VOB", titleFile(unit, 1, kStart, kStart + 90000 * 60)},
                         {"VTS_20_1.VOB", titleFile(unit, 1, kStart, kStart + 90000 * 600)}},
               .source = "VTS_10_1.VOB"};
    Outcome outcome = fixture::runJobs(run, false);
    EXPECT_EQ(std::count(outcome.log.begin(), outcome.log.end(), "Continue on VTS_10_2.VOB"), 2);
    EXPECT_DOUBLE_EQ(outcome.read.navigation->durationSeconds, 60.0);
    EXPECT_TRUE(startsALine(outcome.log, "1500 calculated frames"));

    // The next VOB of the title adds its own span, in the read and in the demux.
    run.files["VTS_10_2.VOB"] = titleFile(unit, 2, kStart, kStart + 90000 * 30);
    outcome = fixture::runJobs(run, false);
    EXPECT_DOUBLE_EQ(outcome.read.navigation->durationSeconds, 90.0);
    EXPECT_EQ(std::count_if(outcome.log.begin(), outcome.log.end(),
                            [](const std::string& line) {
                                return line.rfind("2250 calculated frames", 0) == 0;
                            }),
              2);
}

TEST(RealDisc, ASecondCodingOnATakenNumberIsWrittenAndALateStreamNamedInTheLog) {
    ProgramStreamBuilder ps;
    ps.pack({fixture::privateStream1Packet(0x80, PesHeader{.pts = kStart}, Bytes(100, 0x80))});
    // A second coding on a taken number: the next free box.
    ps.pack({fixture::privateStream1Packet(0x88, PesHeader{.pts = kStart}, Bytes(100, 0x88))});
    ps.pack({fixture::privateStream1Packet(0x88, PesHeader{.pts = kStart}, Bytes(100, 0x88))});
    // A stream that begins past the fast check.
    ps.fillTo(3 * kMebibyte / 2);
    ps.pack({fixture::privateStream1Packet(0x8A, PesHeader{.pts = kStart}, Bytes(100, 0x8A))});
    ps.pack({fixture::privateStream1Packet(0x80, {}, Bytes(100, 0x80))});
    const Outcome outcome = fixture::runJobs({.files = {{"MOVIE.EVO", ps.bytes()}},
                                              .source = "MOVIE.EVO",
                                              .settings = {.fastCheckMb = 1}},
                                             false);
    EXPECT_EQ(labels(outcome.read), (std::vector<std::string>{"DD.stream.00", "DTSHD.stream.01"}));
    EXPECT_EQ(std::count(outcome.log.begin(), outcome.log.end(),
                         "Audio stream 0x8A has no stream box: not written."),
              1);
    EXPECT_EQ(outcome.files,
              (std::map<std::string, Bytes>{{"MOVIE.DD.stream.00.mpa", Bytes(200, 0x80)},
                                            {"MOVIE.DTSHD.stream.01.mpa", Bytes(200, 0x88)}}));
}

TEST(RealDisc, AStreamOfEitherFileAloneKeepsItsBoxAndOutput) {
    ProgramStreamBuilder one;
    one.pack({fixture::privateStream1Packet(0x80, PesHeader{.pts = kStart}, Bytes(300, 0x80))});
    one.pack({fixture::privateStream1Packet(0x81, PesHeader{.pts = kStart}, Bytes(300, 0x81))});
    ProgramStreamBuilder two;
    two.pack({fixture::privateStream1Packet(0x88, PesHeader{.pts = kStart}, Bytes(300, 0x88))});
    two.pack({fixture::privateStream1Packet(0x81, PesHeader{.pts = kStart}, Bytes(300, 0x82))});
    const Outcome outcome =
        fixture::runJobs({.files = {{"FEATURE_1.EVO", one.bytes()}, {"FEATURE_2.EVO", two.bytes()}},
                          .source = "FEATURE_1.EVO"},
                         false);
    EXPECT_EQ(labels(outcome.read),
              (std::vector<std::string>{"DD.stream.00", "DD.stream.01", "DTSHD.stream.02"}));
    Bytes both(300, 0x81);
    both.insert(both.end(), 300, 0x82);
    EXPECT_EQ(outcome.files, (std::map<std::string, Bytes>{
                                 {"FEATURE_1_FEATURE_2.DD.stream.00.mpa", Bytes(300, 0x80)},
                                 {"FEATURE_1_FEATURE_2.DD.stream.01.mpa", both},
                                 {"FEATURE_1_FEATURE_2.DTSHD.stream.02.mpa", Bytes(300, 0x88)}}));
    EXPECT_EQ(std::count(outcome.log.begin(), outcome.log.end(),
                         "Audio stream 0x80 has no stream box: not written."),
              0);
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
    EXPECT_EQ(f.form.streamDelayMs(StreamKind::Audio, 0), 0);
    f.form.setTicked(Control::cbDelayNames, true);
    f.form.setTicked(Control::cbExtByCoding, true);
    f.form.bDemuxClick();
    EXPECT_TRUE(std::filesystem::exists(f.dir.path() / "VTS_01_1.DD.stream.00 DELAY 0ms.ac3"));

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
    ProgramStreamBuilder ps;
    ps.pack({fixture::pesPacket(0xE0, PesHeader{.pts = kStart}, sequenceStart())});
    ps.pack({fixture::privateStream1Packet(0x80, PesHeader{.pts = kStart + 3600}, Bytes(10, 1))});
    ps.pack({fixture::privateStream1Packet(0x89, PesHeader{.pts = kStart - 2250}, Bytes(10, 1))});
    ps.pack({fixture::privateStream1Packet(0xC2, PesHeader{.pts = kStart + 44}, Bytes(10, 1))});
    ps.pack({fixture::privateStream1Packet(0xB3, PesHeader{.pts = kStart + 46}, Bytes(10, 1))});
    ps.pack({fixture::privateStream1Packet(0xA4, PesHeader{.pts = kStart}, Bytes(10, 1))});
    ps.pack({fixture::privateStream1Packet(0x65, PesHeader{.pts = kStart + 900}, Bytes(10, 1))});
    JobRun run{.files = {{"MOVIE.EVO", ps.bytes()}},
               .source = "MOVIE.EVO",
               .naming = {.delayNames = true, .extensionByCoding = true}};
    Outcome outcome = fixture::runJobs(run, false);
    std::map<std::pair<StreamKind, int>, std::optional<int32_t>> delays;
    for (const StreamBox& box : outcome.read.streams) {
        delays[{box.kind, box.number}] = box.delayMs;
    }
    EXPECT_EQ(delays[std::pair(StreamKind::Audio, 0)], 40);
    EXPECT_EQ(delays[std::pair(StreamKind::Audio, 1)], -25);
    EXPECT_EQ(delays[std::pair(StreamKind::Subpicture, 5)], 10);
    EXPECT_EQ(delays[std::pair(StreamKind::Video, 0)], std::nullopt);
    std::vector<std::string> names;
    for (const auto& [name, bytes] : outcome.files) {
        names.push_back(name);
    }
    // 44 and 46 ticks are 0.49 and 0.51 ms: each rounds to its nearest millisecond.
    EXPECT_EQ(names, (std::vector<std::string>{
                         "MOVIE.DD+.stream.02 DELAY 0ms.eac3", "MOVIE.DD.stream.00 DELAY 40ms.ac3",
                         "MOVIE.DTSHD.stream.01 DELAY -25ms.dts", "MOVIE.Ext.Subpicture.05.sup",
                         "MOVIE.LPCM.stream.04 DELAY 0ms.wav", "MOVIE.MLP.stream.03 DELAY 1ms.thd",
                         "MOVIE.MPEG-2.stream.0.m2v"}));

    // Without the options the names are as ever.
    run.naming = {};
    outcome = fixture::runJobs(run, false);
    EXPECT_EQ(outcome.files.count("MOVIE.DD.stream.00.mpa"), 1u);
    EXPECT_EQ(outcome.files.count("MOVIE.MPEG-2.stream.0.mpv"), 1u);
}

}  // namespace
}  // namespace tolvane
