#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <random>

#include "demux/pack_engine.h"
#include "demux_modes.h"
#include "form_fixture.h"
#include "job_engine.h"
#include "jobs/read_job.h"
#include "jobs/rebuild_job.h"
#include "report/message_log.h"
#include "sinks/pack_rebuilder.h"

namespace tolvane {
namespace {

using fixture::Bytes;
using fixture::Engine;
using fixture::FormFixture;
using fixture::PesHeader;
using fixture::ProgramStreamBuilder;
using fixture::readFile;

constexpr size_t kPack = fixture::kPackSize;

fixture::DsiFields dsiOf(uint32_t start, uint32_t end) {
    fixture::DsiFields dsi{.vobNumber = 1, .startPtm = start, .endPtm = end};
    dsi.audioSync = {1, 1, 1, 1, 1, 0, 0, 0};
    dsi.subSync[0] = dsi.subSync[1] = 7;
    return dsi;
}

// Navigation pack, MPEG-2 video, AC-3 on 0x80 to 0x82, subpictures 0x21 and 0x25, an advanced
// pack and DD+ on 0xC9.
Bytes feature(uint32_t start, uint32_t end) {
    ProgramStreamBuilder ps;
    ps.raw(fixture::evoNavigationPack(5, 1, dsiOf(start, end)));
    ps.pack({fixture::pesPacket(0xE0, PesHeader{.pts = 9000, .dts = 9000}, Bytes(1000, 0xE0))});
    for (uint8_t id : {0x80, 0x81, 0x82, 0x21, 0x25, 0xC9}) {
        ps.pack({fixture::privateStream1Packet(id, PesHeader{.pts = 9000}, Bytes(500, id))});
    }
    ps.pack({fixture::privateStream2Packet(0x80, Bytes(300, 0xAD))});
    return ps.bytes();
}

// The packs of a rebuilt file, by the sub-stream id (or stream id) of their first packet.
std::vector<int> ids(const Bytes& file) {
    std::vector<int> out;
    for (size_t at = 0; at + kPack <= file.size(); at += kPack) {
        const uint8_t* pack = file.data() + at;
        const uint8_t streamId = pack[17];
        out.push_back(streamId == 0xBD   ? pack[23 + pack[22]]
                      : streamId == 0xBF ? 0xBF00 | pack[20]
                                         : streamId);
    }
    return out;
}

uint32_t bigEndian(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
}

using Keep = std::function<bool(StreamKind, int)>;

bool everyStream(StreamKind, int) {
    return true;
}

// A read of a source held in memory, then rebuilds of the streams it labelled into a folder of
// their own, as a caller of the jobs runs them.
struct Rebuilt {
    Engine engine;
    fixture::TempDir dir;
    std::string source;
    PassSettings settings;
    ReadResult read;

    explicit Rebuilt(std::map<std::string, Bytes> files, std::string first = "MOVIE.EVO",
                     PassSettings readSettings = {})
        : source(std::move(first)), settings(readSettings) {
        engine.files = std::move(files);
        read = ReadJob(engine.context).run({source, settings});
    }
    explicit Rebuilt(const Bytes& stream) : Rebuilt({{"MOVIE.EVO", stream}}) {}

    // Rebuilds the streams `keep` chooses; the bytes of `output`.
    Bytes run(const Keep& keep = everyStream, bool advancedPacks = false,
              const std::string& output = "MOVIE.rebuilt.EVO") {
        std::vector<StreamBox> boxes = read.streams;
        for (StreamBox& box : boxes) {
            box.chosen = keep(box.kind, box.number);
        }
        engine.log.clear();
        RebuildJob(engine.context)
            .run({.sourcePath = source,
                  .settings = settings,
                  .boxes = boxes,
                  .outputFolder = dir.path().string(),
                  .advancedPacks = advancedPacks,
                  .times = PackRebuilder::rebuiltTimes(read.navigation)});
        return readFile(dir.path() / output);
    }
};

// Keeps the streams listed.
Keep only(std::vector<std::pair<StreamKind, int>> streams) {
    return [streams](StreamKind kind, int number) {
        return std::find(streams.begin(), streams.end(), std::pair{kind, number}) != streams.end();
    };
}

TEST(RebuildJob, KeepsTheChosenStreamsRenumberedAndPatchesTheNavigationPack) {
    Bytes source = feature(0x1000, 0x9000);
    source[23] |= 0x03;  // the fixed and CSPS flags beside the audio bound
    Rebuilt r(source);
    const Bytes out =
        r.run(only({{StreamKind::Audio, 1}, {StreamKind::Subpicture, 5}, {StreamKind::Video, 0}}));
    // The system header keeps every bit but those of the audio bound.
    ASSERT_GE(out.size(), kPack);
    for (size_t at = 14; at < 14 + 6 + 6; ++at) {
        EXPECT_EQ(out[at], at == 23 ? (source[at] & 0x03) | (1 << 2) : source[at]) << at;
    }
    // Audio 0x81 becomes 0x80, subpicture 0x25 becomes 0x20; the unticked DD+ 0xC9 and the
    // advanced pack are left out.
    EXPECT_EQ(ids(out), (std::vector<int>{0xBB, 0xE0, 0x80, 0x20}));
    ASSERT_GE(out.size(), kPack);
    EXPECT_EQ(out[23] >> 2, 1) << "audio bound";
    EXPECT_EQ(out[24] & 0x1F, 1) << "video bound";
    EXPECT_EQ(bigEndian(out.data() + 1338), 0x1000u);
    EXPECT_EQ(bigEndian(out.data() + 1342), 0x9000u);
    EXPECT_EQ(out[1824], 0x00);
    EXPECT_EQ(out[1825], 0x01) << "entries below the count are left as they are";
    EXPECT_TRUE(
        std::all_of(out.begin() + 1826, out.begin() + 1840, [](uint8_t b) { return b == 0; }));
    EXPECT_TRUE(
        std::all_of(out.begin() + 1844, out.begin() + 1968, [](uint8_t b) { return b == 0; }));
    EXPECT_EQ(Bytes(out.begin() + 3 * kPack + 40, out.begin() + 3 * kPack + 60), Bytes(20, 0x25));
    EXPECT_EQ(
        r.engine.logMarkup(),
        (std::vector<std::string>{"Opening file [b]MOVIE.EVO[/b]", "File size: 18 KiB.",
                                  "Creating " + (r.dir.path() / "MOVIE").string() + ".rebuilt.EVO",
                                  "Rebuilding...", "Done.", ""}));
    EXPECT_FALSE(r.engine.control.writing);
}

TEST(RebuildJob, CopiesAdvancedPacksOnRequestAndDropsWhatIsNotAPack) {
    Bytes stream = feature(1, 2);
    stream.insert(stream.end(), 2048, 0x47);  // a block without a pack start code
    const Bytes tail = fixture::packHeader(0);
    stream.insert(stream.end(), tail.begin(), tail.end());  // a short last block
    Rebuilt r(stream);
    const Bytes out = r.run(everyStream, true);
    EXPECT_EQ(ids(out), (std::vector<int>{0xBB, 0xE0, 0x80, 0x81, 0x82, 0x20, 0x21, 0xC3, 0xBF80}));
    EXPECT_EQ(out.size(), 9 * kPack + tail.size());
}

TEST(RebuildJob, GivesBothFilesOfAFeatureTheSameNewIdsInOneOutput) {
    Rebuilt r({{"FEATURE_1.EVO", feature(0x10, 0x20)}, {"FEATURE_2.EVO", feature(0x30, 0x40)}},
              "FEATURE_1.EVO");
    const Bytes out =
        r.run([](StreamKind kind, int n) { return kind != StreamKind::Audio || n != 0; }, false,
              "FEATURE_1_FEATURE_2.rebuilt.EVO");
    const std::vector<int> once = {0xBB, 0xE0, 0x80, 0x81, 0x20, 0x21, 0xC2};
    std::vector<int> twice = once;
    twice.insert(twice.end(), once.begin(), once.end());
    EXPECT_EQ(ids(out), twice);
    const std::vector<std::string> log = r.engine.logMarkup();
    EXPECT_NE(std::find(log.begin(), log.end(), "Continue on [b]FEATURE_2.EVO[/b]"), log.end());
}

// One pack of each stream; the payload of each is its own id repeated.
Bytes everyCoding() {
    ProgramStreamBuilder ps;
    ps.raw(fixture::evoNavigationPack(8, 2, dsiOf(0x1000, 0x9000)));
    ps.pack({fixture::pesPacket(0xE2, PesHeader{.pts = 9000}, Bytes(900, 0xE2))});
    ps.pack({fixture::pesPacket(0xFD, PesHeader{.pts = 9000, .streamIdExtension = 0x56},
                                Bytes(900, 0x56))});
    for (uint8_t id : {0x89, 0xA2, 0xB3, 0xCB, 0x3A, 0x72}) {
        ps.pack({fixture::privateStream1Packet(id, PesHeader{.pts = 9000}, Bytes(500, id))});
    }
    return ps.bytes();
}

// Where each pack of everyCoding() keeps the byte that names its stream.
size_t idOffset(const uint8_t* pack) {
    if (pack[17] == 0xBD) {
        return 23 + pack[22];
    }
    return pack[17] == 0xFD ? 25u + 5u : 17u;
}

TEST(RebuildJob, NavigationPacksOfATwoPartFeatureSpanBothParts) {
    // Two VOBs of 60 s and 15 s from the same start: the rebuilt file is one of 75 s, as a
    // read of it says.
    std::map<std::string, Bytes> files;
    for (const auto& [name, seconds] : {std::pair{"FEATURE_1.EVO", 60u}, {"FEATURE_2.EVO", 15u}}) {
        ProgramStreamBuilder ps;
        ps.raw(fixture::evoNavigationPack(1, 1, dsiOf(0x1000, 0x1000 + 90000 * seconds)));
        ps.pack({fixture::pesPacket(0xE0, PesHeader{.pts = 9000}, Bytes(100, 0xE0))});
        ps.raw(fixture::evoNavigationPack(1, 1, dsiOf(0x1000, 0x1000 + 90000 * seconds)));
        files[name] = ps.bytes();
    }
    Rebuilt r(files, "FEATURE_1.EVO");
    const Bytes out = r.run(everyStream, false, "FEATURE_1_FEATURE_2.rebuilt.EVO");
    int navigationPacks = 0;
    for (size_t at = 0; at + kPack <= out.size(); at += kPack) {
        if (out[at + 17] == 0xBB) {
            EXPECT_EQ(bigEndian(out.data() + at + 1338), 0x1000u);
            EXPECT_EQ(bigEndian(out.data() + at + 1342), 0x1000u + 90000 * 75);
            ++navigationPacks;
        }
    }
    EXPECT_EQ(navigationPacks, 4);
    const std::string rebuilt = (r.dir.path() / "FEATURE_1_FEATURE_2.rebuilt.EVO").string();
    EXPECT_DOUBLE_EQ(ReadJob(r.engine.onDisk()).run({rebuilt, {}}).navigation->durationSeconds,
                     75.0);
}

TEST(RebuildJob, RenumbersEveryCodingByItsBoxAndChangesNoOtherByte) {
    constexpr StreamKind V = StreamKind::Video;
    constexpr StreamKind A = StreamKind::Audio;
    constexpr StreamKind S = StreamKind::Subpicture;
    struct Case {
        std::vector<std::pair<StreamKind, int>> streams;
        // New id per source pack (after the navigation pack); -1 for a pack left out.
        std::vector<int> newIds;
    };
    const Case cases[] = {
        {{{V, 1}, {A, 2}, {A, 11}, {S, 18}}, {-1, 0x55, -1, 0xA0, -1, 0xC1, -1, 0x60}},
        {{{V, 0}, {V, 1}, {A, 1}, {A, 2}, {A, 3}, {A, 11}, {S, 18}, {S, 26}},
         {0xE2, 0x56, 0x88, 0xA1, 0xB2, 0xC3, 0x21, 0x60}},
        {{{A, 3}, {S, 26}}, {-1, -1, -1, -1, 0xB0, -1, 0x20, -1}},
    };
    const Bytes source = everyCoding();
    for (const Case& c : cases) {
        Rebuilt r(source);
        const Bytes out = r.run(only(c.streams));
        size_t written = 1;
        for (size_t k = 0; k < c.newIds.size(); ++k) {
            if (c.newIds[k] < 0) {
                continue;
            }
            SCOPED_TRACE(testing::Message() << "source pack " << k + 1);
            ASSERT_GE(out.size(), (written + 1) * kPack);
            Bytes expected(source.begin() + static_cast<long>((k + 1) * kPack),
                           source.begin() + static_cast<long>((k + 2) * kPack));
            expected[idOffset(expected.data())] = static_cast<uint8_t>(c.newIds[k]);
            EXPECT_EQ(Bytes(out.begin() + static_cast<long>(written * kPack),
                            out.begin() + static_cast<long>((written + 1) * kPack)),
                      expected);
            ++written;
        }
        EXPECT_EQ(out.size(), written * kPack);
        EXPECT_EQ(out[23] >> 2,
                  std::count_if(c.streams.begin(), c.streams.end(),
                                [](const auto& stream) { return stream.first == A; }));
    }
}

TEST(RebuildJob, LeavesOutWhatNoBoxCouldChooseAndSaysSo) {
    ProgramStreamBuilder ps;
    ps.raw(fixture::evoNavigationPack(2, 1, dsiOf(0x1000, 0x9000)));
    ps.pack({fixture::privateStream1Packet(0x80, PesHeader{.pts = 9000}, Bytes(500, 0x80))});
    ps.pack({fixture::privateStream1Packet(0x88, PesHeader{.pts = 9000}, Bytes(500, 0x88))});
    ps.pack({fixture::pesPacket(0xC0, PesHeader{.pts = 9000}, Bytes(500, 0xC0))});
    ps.fillTo(3 * kMebibyte / 2);
    ps.pack({fixture::privateStream1Packet(0x8B, PesHeader{.pts = 9000}, Bytes(500, 0x8B))});
    ps.pack({fixture::privateStream1Packet(0x88, PesHeader{.pts = 9000}, Bytes(500, 0x88))});
    Rebuilt r({{"MOVIE.EVO", ps.bytes()}}, "MOVIE.EVO", {.fastCheckMb = 1});
    const Bytes out = r.run();
    // The DTS and the MPEG audio have boxes of their own, renumbered in box order.
    EXPECT_EQ(ids(out), (std::vector<int>{0xBB, 0x80, 0x89, 0xC2, 0x89}));
    const std::vector<std::string> log = r.engine.logMarkup();
    EXPECT_EQ(std::count(log.begin(), log.end(), "Audio stream 0x8B has no stream box: left out."),
              1);
}

// The boxes a playlist announced are what the window rebuilds.
TEST(RebuildWindow, AfterReadXplGivesValidIds) {
    FormFixture f;
    const std::string playlist = R"(<Playlist displayName="D"><TitleSet timeBase="60fps">
<Title displayName="Main"><PrimaryAudioVideoClip src="file:///dvddisc/HVDVD_TS/FEATURE_1.MAP">
<Video track="1" mediaAttr="1"/>
<Audio track="1" streamNumber="2" mediaAttr="1" description="English"/>
<Subtitle track="1" streamNumber="6" mediaAttr="1" description="French"/>
</PrimaryAudioVideoClip></Title></TitleSet></Playlist>)";
    f.dir.write("ADV_OBJ/VPLST000.XPL", Bytes(playlist.begin(), playlist.end()));
    const Bytes source = feature(0x1000, 0x9000);
    f.chooseSource(f.dir.write("HVDVD_TS/FEATURE_1.EVO", source));
    f.form.setText(Control::eWorkdir, f.dir.path().string());
    f.form.setTicked(Control::cbContinue, false);
    f.form.bReadXPLClick();
    f.form.bRebuildClick();
    const Bytes out = readFile(f.dir.path() / "FEATURE_1.rebuilt.EVO");
    // Video 0, audio 1 (0x81) and subpicture 5 (0x25) were announced; they come out as the
    // first of their kind, and no read has given times to write into the DSI.
    EXPECT_EQ(ids(out), (std::vector<int>{0xBB, 0xE0, 0x80, 0x20}));
    EXPECT_EQ(Bytes(out.begin() + 1338, out.begin() + 1346),
              Bytes(source.begin() + 1338, source.begin() + 1346));

    EXPECT_TRUE(f.form.enabled(Control::bRebuild));
}

TEST(RebuildJob, RefusesWhatItCannotWriteBeforeItWritesAnything) {
    ProgramStreamBuilder nine;
    for (uint8_t id = 0xC0; id <= 0xC8; ++id) {
        nine.pack({fixture::privateStream1Packet(id, PesHeader{.pts = 9000}, Bytes(100, id))});
    }
    Rebuilt r({{"NINE.EVO", nine.bytes()}}, "NINE.EVO");
    const std::filesystem::path earlier = r.dir.path() / "NINE.rebuilt.EVO";
    fixture::writeFile(earlier, Bytes(5, 5));
    const std::string error = fixture::jobError([&] { r.run(); });
    EXPECT_NE(error.find("at most 8 audio streams; 9 are chosen"), std::string::npos);
    EXPECT_EQ(readFile(earlier), Bytes(5, 5));
    EXPECT_FALSE(r.engine.control.writing);

    // A source that cannot be opened ends the job before its output is created.
    Rebuilt missing({{"MOVIE.EVO", feature(1, 2)}});
    missing.engine.files.clear();
    EXPECT_NE(fixture::jobError([&] { missing.run(); }).find("No such file"), std::string::npos);
    EXPECT_TRUE(std::filesystem::is_empty(missing.dir.path()));
    EXPECT_FALSE(missing.engine.control.writing);
}

struct RebuildCase {
    const char* name;
    std::map<std::string, Bytes> files;
    PassSettings settings;
    std::optional<std::vector<std::string>> select;
    bool advancedPacks = false;
    // Every stream is labelled in the first block of the first file and its times are those of
    // its first navigation pack: the one-pass job reads the source once.
    bool readOnce = true;
};

TEST(ReadAndRebuildJob, WritesWhatAReadThenARebuildWritesAndReadsTheSourceOnce) {
    // Audio 0x82 from the start, then past the first block a stream of a lower number: what
    // was written before it is renumbered.
    ProgramStreamBuilder late;
    late.raw(fixture::evoNavigationPack(2, 1, dsiOf(0x1000, 0x9000)));
    late.pack({fixture::pesPacket(0xE0, PesHeader{.pts = 9000}, Bytes(1000, 0xE0))});
    late.pack({fixture::privateStream1Packet(0x82, PesHeader{.pts = 9000}, Bytes(500, 0x82))});
    late.fillTo(600000);
    late.raw(fixture::evoNavigationPack(2, 1, dsiOf(0x1000, 0x9000)));
    late.pack({fixture::privateStream1Packet(0x80, PesHeader{.pts = 9000}, Bytes(500, 0x80))});
    late.pack({fixture::privateStream1Packet(0x82, PesHeader{.pts = 9100}, Bytes(500, 0x82))});
    // The first navigation pack past where it is looked for before the pass.
    ProgramStreamBuilder farDsi;
    farDsi.pack({fixture::pesPacket(0xE0, PesHeader{.pts = 9000}, Bytes(1000, 0xE0))});
    farDsi.fillTo(5 * kBlockSize);
    farDsi.raw(feature(0x2000, 0x8000));
    // A second file with a stream of its own and a VOB of its own.
    ProgramStreamBuilder second;
    second.raw(fixture::evoNavigationPack(5, 1, dsiOf(0x9000, 0x19000)));
    second.pack({fixture::privateStream1Packet(0x83, PesHeader{.pts = 9000}, Bytes(500, 0x83))});
    second.raw(feature(0x9000, 0x19000));
    // A stream past the fast check's first mebibyte is left out.
    ProgramStreamBuilder pastCheck;
    pastCheck.raw(feature(0x1000, 0x9000)).fillTo(3 * kMebibyte / 2);
    pastCheck.pack({fixture::privateStream1Packet(0x8B, PesHeader{.pts = 9000}, Bytes(50, 0x8B))});
    ProgramStreamBuilder nine;
    for (uint8_t id = 0xC0; id <= 0xC8; ++id) {
        nine.pack({fixture::privateStream1Packet(id, PesHeader{.pts = 9000}, Bytes(100, id))});
    }
    const Bytes plain = feature(0x1000, 0x9000);
    const std::vector<RebuildCase> cases = {
        {"every stream", {{"MOVIE.EVO", plain}}},
        {"every coding", {{"MOVIE.EVO", everyCoding()}}, {.fastCheck = false}},
        {"a selection", {{"MOVIE.EVO", plain}}, {}, {{"cbVideo0", "dd.stream.01", "cbSub05"}}},
        {"advanced packs", {{"MOVIE.EVO", plain}}, {}, std::nullopt, true},
        {"two files", {{"FEATURE_1.EVO", plain}, {"FEATURE_2.EVO", feature(0x9000, 0x19000)}}},
        {"no second file",
         {{"FEATURE_1.EVO", plain}, {"FEATURE_2.EVO", plain}},
         {.continueOnSecondFile = false}},
        {"a lower number later", {{"MOVIE.EVO", late.bytes()}}, {}, std::nullopt, false, false},
        {"a stream of the second file",
         {{"FEATURE_1.EVO", plain}, {"FEATURE_2.EVO", second.bytes()}},
         {},
         std::nullopt,
         false,
         false},
        {"a late navigation pack", {{"MOVIE.EVO", farDsi.bytes()}}, {}, std::nullopt, false, false},
        {"past the fast check", {{"MOVIE.EVO", pastCheck.bytes()}}, {.fastCheckMb = 1}},
        {"a name no box has", {{"MOVIE.EVO", plain}}, {}, {{"cbAudio00", "DTSHD.stream.05"}}},
        {"nine audio streams", {{"NINE.EVO", nine.bytes()}}},
        {"no stream", {{"EMPTY.EVO", fixture::packHeader(0)}}},
    };
    for (const RebuildCase& c : cases) {
        SCOPED_TRACE(c.name);
        const fixture::JobRun run{.files = c.files,
                                  .source = c.files.begin()->first,
                                  .settings = c.settings,
                                  .select = c.select,
                                  .advancedPacks = c.advancedPacks};
        const fixture::RebuildOutcome twice = fixture::runRebuild(run, false);
        const fixture::RebuildOutcome once = fixture::runRebuild(run, true);
        EXPECT_EQ(once.error, twice.error);
        ASSERT_EQ(once.file.has_value(), twice.file.has_value());
        if (once.file) {
            EXPECT_TRUE(*once.file == *twice.file) << "the rebuilt files differ";
        }
        int64_t size = 0;
        for (const auto& [name, bytes] : c.files) {
            size += c.settings.continueOnSecondFile || name == c.files.begin()->first
                        ? static_cast<int64_t>(bytes.size())
                        : 0;
        }
        if (c.readOnce) {
            // Each file's first block is looked at once more for its navigation pack.
            EXPECT_LE(once.bytesRead, size + static_cast<int64_t>(c.files.size() * kBlockSize));
        }
        // At worst the whole source is read again, as when its first navigation pack lies past
        // where it is looked for.
        EXPECT_LE(once.bytesRead, 2 * size + static_cast<int64_t>(c.files.size() * 4 * kBlockSize));
    }
}

TEST(RebuildWindow, AsksBeforeItCancelsAndSkipsTheSecondFile) {
    FormFixture f;
    ProgramStreamBuilder big;
    big.raw(feature(1, 2)).fillTo(6 * kMebibyte);
    const std::string first = f.dir.write("FEATURE_1.EVO", big.bytes());
    f.dir.write("FEATURE_2.EVO", feature(3, 4));
    f.chooseSource(first);
    f.form.bReadEVOClick();
    f.form.setText(Control::eWorkdir, f.dir.path().string());
    f.form.messageLog().clear();
    f.os.answer = true;
    f.os.onEvents = [&] { f.form.bCancelClick(); };
    f.form.bRebuildClick();
    const std::vector<std::string> log = f.logMarkup();
    EXPECT_EQ(std::count(log.begin(), log.end(), "Continue on [b]FEATURE_2.EVO[/b]"), 0);
    EXPECT_EQ(log[log.size() - 4], "Cancelled.");  // where "Done." would stand
    EXPECT_EQ(f.os.questions, std::vector<std::string>{"Are you sure to stop demuxing?"});
    EXPECT_EQ(f.form.messageLog().panel(StatusPanel::Job).text, " Ready");
}

}  // namespace
}  // namespace tolvane

namespace tolvane {
namespace {

TEST(PackRebuilder, LooksOnlyAtTheBytesOfEachPack) {
    StreamRegistry streams;
    for (int32_t n = 0; n < streams.numbering().count(StreamKind::Audio); ++n) {
        streams.pin(StreamKind::Audio, n, kStreamAnnounced)->id = 0x80;
    }
    for (int32_t n = 0; n < streams.numbering().count(StreamKind::Subpicture); ++n) {
        streams.pin(StreamKind::Subpicture, n, 0x20)->id = 0x20;
    }
    fixture::FixedOptions boxes;
    boxes.ticked = [](int32_t n) { return n % 2 == 0; };
    MessageLog log;
    PackRebuilder rebuilder(streams, boxes.chosen(), log);
    ASSERT_EQ(rebuilder.start(), std::nullopt);
    std::mt19937 random(7);
    std::uniform_int_distribution<int> byte(0, 255);
    const uint8_t ids[] = {0xBB, 0xBD, 0xBF, 0xFD, 0xE0, 0xC0};
    for (int round = 0; round < 20000; ++round) {
        // A heap block of exactly the pack's length, so that the sanitizers see any overread.
        const size_t length = static_cast<size_t>(byte(random)) * 8 % 2049;
        auto pack = std::make_unique<uint8_t[]>(std::max<size_t>(length, 1));
        for (size_t k = 0; k < length; ++k) {
            pack[k] = static_cast<uint8_t>(byte(random));
        }
        const Bytes start = {0x00, 0x00, 0x01, 0xBA};
        std::copy_n(start.begin(), std::min<size_t>(4, length), pack.get());
        if (length > 17) {
            pack[17] = ids[round % 6];
        }
        rebuilder.process(pack.get(), length, round % 2 == 0, PackRebuilder::Times{1, 2});
    }
}

}  // namespace
}  // namespace tolvane
