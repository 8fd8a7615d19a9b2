#include <gtest/gtest.h>

#include <algorithm>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "core/platform_error.h"
#include "discs/xpl_chapters.h"
#include "discs/xpl_scanner.h"
#include "form_fixture.h"
#include "job_engine.h"
#include "playlist/xpl_job.h"
#include "program_stream_builder.h"

namespace tolvane {
namespace {

using fixture::Bytes;
using fixture::Engine;
using fixture::FormFixture;
using Lines = std::vector<std::string>;

Lines memoOf(const std::string& xml, XplValues* values = nullptr) {
    PlaylistMemo memo;
    XplAttributeTables tables;
    XplScanner scanner(memo, tables);
    // In two chunks, to show that a tag may straddle them.
    const size_t half = xml.size() / 2;
    scanner.scan(reinterpret_cast<const uint8_t*>(xml.data()), half);
    scanner.scan(reinterpret_cast<const uint8_t*>(xml.data()) + half, xml.size() - half);
    if (values != nullptr) {
        *values = scanner.values();
    }
    return memo.lines();
}

TEST(GetAttr, FindsValuesAsTheTagSpellsThem) {
    const std::string tag = R"(<Audio track="2" streamNumber="12" description="English"/>)";
    EXPECT_EQ(attributeValue(tag, "description"), "English");
    EXPECT_EQ(attributeValue(tag, "STREAMNUMBER"), "12");
    EXPECT_EQ(attributeInt(tag, "streamNumber"), 12);
    EXPECT_FALSE(attributeValue(tag, "mediaAttr"));
    EXPECT_EQ(attributeInt(tag, "mediaAttr"), 0);
    EXPECT_EQ(attributeInt(tag, "description"), 0);
    // The search may hit inside another name; a value without its closing quote is empty.
    EXPECT_EQ(attributeValue(tag, "track"), "2");
    EXPECT_EQ(attributeValue(R"(<A b="open)", "b"), "");
    EXPECT_EQ(attributeValue("<A b='x'>", "b"), "");
}

TEST(XplChapters, TurnsTitleTimesIntoExactTimesAtEveryTimeBase) {
    EXPECT_EQ(framesPerSecond("60fps"), 60);
    EXPECT_EQ(framesPerSecond("50fps"), 50);
    EXPECT_EQ(framesPerSecond("24"), 24);
    EXPECT_EQ(framesPerSecond("fps"), std::nullopt);
    EXPECT_EQ(framesPerSecond("0fps"), std::nullopt);
    // Frames count at the time base: 30 of 60 is half a second, 25 of 50 too, 1 of 24 is 41.667 ms.
    EXPECT_EQ(titleTimeNs("01:02:03:30", 60), ((62 * 60 + 3) * 1000 + 500) * 1000000ll);
    EXPECT_EQ(titleTimeNs("00:00:00:25", 50), 500000000);
    EXPECT_EQ(titleTimeNs("00:00:00:01", 24), 41666667);
    EXPECT_EQ(titleTimeNs("00:00:00:59", 60), 983333333);
    EXPECT_EQ(titleTimeNs("00:00:00:60", 60), std::nullopt) << "no 61st frame in a second";
    EXPECT_EQ(titleTimeNs("00:60:00:00", 60), std::nullopt);
    EXPECT_EQ(titleTimeNs("00:00:00", 60), std::nullopt);
    EXPECT_EQ(titleTimeNs("00:00:0x:00", 60), std::nullopt);
}

TEST(XplChapters, DecodesNamesAndWritesBothFormats) {
    EXPECT_EQ(decodeCharacterReferences("Caf&#233; &amp; Cr&#xE8;me &lt;1&gt; &quot;x&apos;"),
              "Caf\xC3\xA9 & Cr\xC3\xA8me <1> \"x'");
    EXPECT_EQ(decodeCharacterReferences("&#128512;"), "\xF0\x9F\x98\x80");
    EXPECT_EQ(decodeCharacterReferences("a & b &bogus; &#xD800; &#;"),
              "a & b &bogus; &#xD800; &#;");

    PlaylistMemo memo;
    for (const char* line :
         {"<Title displayName=\"Main\">", "  <!-- <Chapter titleTimeBegin=\"00:00:09:00\"/> -->",
          "  <ChapterList>",
          "    <Chapter titleTimeBegin=\"00:00:00:00\" displayName=\"R&amp;D\"/>",
          "    <Chapter titleTimeBegin=\"00:01:02:12\" displayName=\"\"/>",
          "    <Chapter titleTimeBegin=\"broken\" displayName=\"x\"/>", "  </ChapterList>"}) {
        memo.add(line, 0);
    }
    const std::vector<ChapterMark> chapters = titleChapters(memo, 24);
    ASSERT_EQ(chapters.size(), 2u);
    EXPECT_EQ(chapters[1].startNs, 62500000000);
    EXPECT_EQ(ogmChapters(chapters),
              "CHAPTER01=00:00:00.000\nCHAPTER01NAME=R&D\n"
              "CHAPTER02=00:01:02.500\nCHAPTER02NAME=Chapter 02\n");
    const std::string xml = matroskaChapterXml(chapters);
    EXPECT_NE(xml.find("<ChapterTimeStart>00:01:02.500000000</ChapterTimeStart>"),
              std::string::npos);
    EXPECT_NE(xml.find("<ChapterString>R&amp;D</ChapterString>"), std::string::npos);
    // Milliseconds round to the nearest: frame 1 of 60 is 16.667 ms.
    EXPECT_EQ(ogmChapters({{16666667, "a"}}).substr(0, 22), "CHAPTER01=00:00:00.017");
}

TEST(XplScanner, KeepsMemoryLinearInTheFileWhateverItsNesting) {
    // 2 MiB of "<": every line one level deeper, and every line shown with its indentation.
    const std::string deep(2 * 1024 * 1024, '<');
    std::string hostile;
    for (size_t k = 0; k < deep.size() / 2; ++k) {
        hostile += "<>";
    }
    for (const std::string& xml : {deep, hostile}) {
        // In a process of its own, whose peak memory is the scan's.
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            PlaylistMemo memo;
            XplAttributeTables tables;
            XplScanner scanner(memo, tables);
            scanner.scan(reinterpret_cast<const uint8_t*>(xml.data()), xml.size());
            if (!memo.empty() && memo.line(memo.size() - 1).size() > 130) {
                _exit(255);
            }
            rusage usage{};
            getrusage(RUSAGE_SELF, &usage);
            _exit(static_cast<int>(std::min<long>(usage.ru_maxrss / 1024, 254)));  // MiB
        }
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFEXITED(status));
#if !defined(__SANITIZE_ADDRESS__)
        // Was 355 MiB for the "<>" file; the process itself takes a few.
        EXPECT_LT(WEXITSTATUS(status), 64) << "MiB at the peak";
#endif
    }
    // Lines keep no indentation of their own: a deep line costs what its tag does.
    PlaylistMemo memo;
    memo.add("<a>", 64);
    EXPECT_EQ(memo.bare(0), "<a>");
    EXPECT_EQ(memo.line(0).size(), 131u);
}

TEST(XplScanner, ShowsOneTagALineIndentedByNesting) {
    EXPECT_EQ(memoOf("<a x=\"1\"><b/></a>"), (Lines{"<a x=\"1\">", "  <b/>", "</a>"}));
    EXPECT_EQ(memoOf("<?xml v=\"1\"?><!-- note --><a>text<b\n\tc=\"2\" \nd=\"3\"></b></a>"),
              (Lines{"<?xml v=\"1\"?>", "<!-- note -->", "<a>", "  <b c=\"2\" d=\"3\">", "  </b>",
                     "</a>"}));
    XplValues values;
    memoOf(
        R"(<Playlist displayName="Disc"><TitleSet timeBase="60fps" tickBase="24fps"></TitleSet></Playlist>)",
        &values);
    EXPECT_EQ(values.displayName, "Disc");
    EXPECT_EQ(values.timeBase, "60fps") << "the closing tag keeps the values";
    EXPECT_EQ(values.tickBase, "24fps");
    // Unmatched "<" give long lines, not an endless indent.
    const Lines deep = memoOf(std::string(100000, '<') + ">>");
    EXPECT_EQ(deep.size(), 2u);
    EXPECT_LE(deep[1].size(), 200u);
}

const char* const kPlaylist = R"(<?xml version="1.0"?>
<Playlist displayName="Sample Disc">
  <MediaAttributeList>
    <VideoAttributeItem index="1" codec="VC-1"/>
    <AudioAttributeItem index="1" codec="DD+" channels="6"/>
    <AudioAttributeItem index="2" codec="MLP"/>
    <AudioAttributeItem index="8" codec="DTS-HD" channels="8"/>
    <AudioAttributeItem index="9" codec="never"/>
    <SubpictureAttributeItem index="1" codec="2bitRLE"/>
  </MediaAttributeList>
  <TitleSet timeBase="60fps" tickBase="24fps">
    <Title id="Extra" displayName="Trailer" titleDuration="00:02:00:00">
      <PrimaryAudioVideoClip src="file:///dvddisc/HVDVD_TS/TRAILER.MAP"/>
    </Title>
    <Title id="Main" displayName="Main" titleDuration="01:02:03:04">
      <PrimaryAudioVideoClip src="file:///dvddisc/HVDVD_TS/FEATURE_1.MAP">
        <Video track="1" mediaAttr="1"/>
        <Audio track="1" streamNumber="2" mediaAttr="1" description="English"/>
        <Audio track="2" streamNumber="2" mediaAttr="1" description="English"/>
        <Audio track="3" streamNumber="12" mediaAttr="2" description="Commentary"/>
        <Audio track="4" streamNumber="40" mediaAttr="8" description="Out of range"/>
        <Subtitle track="1" streamNumber="1" mediaAttr="1" description="French"/>
      </PrimaryAudioVideoClip>
      <ChapterList>
        <Chapter titleTimeBegin="00:10:00:00" displayName="Intro"/>
      </ChapterList>
    </Title>
  </TitleSet>
</Playlist>
)";

// The playlist job over `playlist` held in memory, looking for the title of `source`.
XplResult readPlaylist(Engine& engine, const std::string& playlist, const std::string& source) {
    engine.files["ADV_OBJ/VPLST000.XPL"] = Bytes(playlist.begin(), playlist.end());
    XplAttributeTables tables;
    return XplJob(engine.context, tables).run({"ADV_OBJ/VPLST000.XPL", source});
}

TEST(ReadXpl, ShowsTheTitleOfTheSourceAndAnnouncesItsTracks) {
    Engine engine;
    const std::string playlist = kPlaylist;
    const XplResult result = readPlaylist(engine, playlist, "HVDVD_TS/FEATURE_1.EVO");

    const std::vector<TreeNode> expected = {
        {"Info",
         {{"Title: Sample Disc", {}},
          {"Name: Main", {}},
          {"Duration: 01:02:03:04", {}},
          {"TimeBase: 60fps", {}},
          {"TickBase: 24fps", {}}}},
        {"Video", {{"VC-1.s0", {}}}},
        {"Audio",
         {{"DD+.6ch.s01.English", {}},
          {"MLP.s11.Commentary", {}},
          {"DTS-HD.8ch.s39.Out of range", {}}}},
        {"Subtitle", {{"2bitRLE.s00.French", {}}}},
        {"Chapter", {{"00:10:00:00: Intro", {}}}},
    };
    EXPECT_EQ(result.tree, expected);
    const Lines memo = result.memo.lines();
    ASSERT_FALSE(memo.empty());
    EXPECT_EQ(memo.front(),
              "    <Title id=\"Main\" displayName=\"Main\" titleDuration=\"01:02:03:04\">");
    EXPECT_EQ(memo.back(), "    </Title>");
    EXPECT_EQ(
        engine.logMarkup(),
        (Lines{"Open VPLST000.XPL", "Filesize: " + std::to_string(playlist.size()) + " bytes",
               "VC-1.s0 found!", "DD+.6ch.s01.English found!", "MLP.s11.Commentary found!",
               "DTS-HD.8ch.s39.Out of range found!", "2bitRLE.s00.French found!", "Done.", ""}));
    std::vector<std::pair<std::optional<int>, std::string>> audio;
    for (const AnnouncedTrack& track : result.tracks) {
        if (track.kind == StreamKind::Audio) {
            audio.emplace_back(track.box, track.caption);
        }
    }
    // Track 40 has no box: it is shown, not announced to one.
    EXPECT_EQ(audio, (std::vector<std::pair<std::optional<int>, std::string>>{
                         {1, "DD+.6ch.s01.English"},
                         {11, "MLP.s11.Commentary"},
                         {std::nullopt, "DTS-HD.8ch.s39.Out of range"}}));
}

constexpr const char* kTwoTitles = R"(<?xml version="1.0"?>
<Playlist displayName="Disc">
  <PlaylistApplication displayName="Menu" src="file:///dvddisc/ADV_OBJ/MENU.XMF"/>
  <TitleSet timeBase="50fps" tickBase="24fps">
    <Title id="T10" displayName="Bonus" titleDuration="00:01:00:00">
      <PrimaryAudioVideoClip src="file:///dvddisc/HVDVD_TS/FEATURE_10.MAP"/>
    </Title>
    <Title id="T1" displayName="Film" titleDuration="02:00:00:00">
      <PrimaryAudioVideoClip src="file:///dvddisc/HVDVD_TS/FEATURE_1.MAP"/>
    </Title>
  </TitleSet>
</Playlist>
)";

TEST(ReadXpl, FindsTheTitleWhoseClipNamesTheSourceWhateverItsCase) {
    Engine engine;
    // A name that another clip's name begins with, in lower case.
    const XplResult found = readPlaylist(engine, kTwoTitles, "HVDVD_TS/feature_1.evo");
    ASSERT_FALSE(found.tree.empty());
    const std::vector<TreeNode>& info = found.tree[0].children;
    ASSERT_GE(info.size(), 2u);
    EXPECT_EQ(info[0].text, "Title: Disc") << "the application's name is not the playlist's";
    EXPECT_EQ(info[1].text, "Name: Film");

    engine.log.clear();
    EXPECT_FALSE(readPlaylist(engine, kTwoTitles, "HVDVD_TS/FEATURE_3.EVO").titleFound);
    EXPECT_EQ(engine.logMarkup()[2], "No title of the playlist plays FEATURE_3.");
}

TEST(ReadXpl, TakesTrackNumbersAtTheEndsOfTheirRange) {
    Engine engine;
    const XplResult result = readPlaylist(engine, R"(<Playlist><TitleSet><Title displayName="T">
<PrimaryAudioVideoClip src="file:///dvddisc/HVDVD_TS/A.MAP">
<Video track="-2147483648" mediaAttr="1"/>
<Audio track="1" streamNumber="-2147483648" mediaAttr="1" description="x"/>
<Subtitle track="1" streamNumber="2147483647" mediaAttr="1" description="y"/>
</PrimaryAudioVideoClip></Title></TitleSet></Playlist>)",
                                          "HVDVD_TS/A.EVO");
    const std::vector<TreeNode>& tree = result.tree;
    ASSERT_EQ(tree.size(), 5u);
    EXPECT_EQ(tree[1].children.at(0).text, ".s-2147483649");
    EXPECT_EQ(tree[2].children.at(0).text, ".s0-2147483649.x");
    EXPECT_EQ(tree[3].children.at(0).text, ".s2147483646.y");
    for (const AnnouncedTrack& track : result.tracks) {
        EXPECT_FALSE(track.box) << track.caption;
    }
}

TEST(ReadXpl, SavesTheChaptersOfTheFoundTitleOnly) {
    Engine engine;
    fixture::TempDir dir;
    const XplResult found = readPlaylist(engine, kPlaylist, "HVDVD_TS/FEATURE_1.EVO");
    const auto saved = [&](const std::string& name) {
        saveChapters(found, (dir.path() / name).string(), PathStyle::native(), engine.log);
        const Bytes bytes = fixture::readFile(dir.path() / name);
        return std::string(bytes.begin(), bytes.end());
    };
    // 00:10:00:00 at 60fps.
    EXPECT_EQ(saved("c.txt"), "CHAPTER01=00:10:00.000\nCHAPTER01NAME=Intro\n");
    EXPECT_NE(saved("c.XML").find("<ChapterTimeStart>00:10:00.000000000</ChapterTimeStart>"),
              std::string::npos);
    EXPECT_EQ(engine.logMarkup().back(), "Chapters saved to " + (dir.path() / "c.XML").string());

    const XplResult none = readPlaylist(engine, kPlaylist, "HVDVD_TS/OTHER.EVO");
    EXPECT_THROW(
        saveChapters(none, (dir.path() / "none.txt").string(), PathStyle::native(), engine.log),
        JobError);
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "none.txt"));
}

TEST(ReadXpl, WithoutATitleKeepsTheWholeFileAndTheTree) {
    Engine engine;
    const std::string playlist = kPlaylist;
    const XplResult result = readPlaylist(engine, playlist, "");
    EXPECT_EQ(result.tree.size(), 4u) << "the title's groups stay, empty";
    EXPECT_EQ(result.memo.size(),
              static_cast<size_t>(std::count(playlist.begin(), playlist.end(), '>')));
    EXPECT_EQ(result.memo.line(0), "<?xml version=\"1.0\"?>");
    const Lines log = engine.logMarkup();
    EXPECT_EQ(log.back(), "");
    EXPECT_EQ(log[log.size() - 2], "Done.");
}

// The window's side of Read XPL: the announced tracks tick and caption their boxes, a demux is
// handed them, the playlist page shows, and a playlist that cannot be opened gives the buttons
// back.
TEST(ReadXplWindow, TicksTheBoxesOfTheTitlesTracks) {
    FormFixture f;
    f.chooseSource((f.dir.path() / "HVDVD_TS" / "FEATURE_1.EVO").string());
    const std::string playlist = kPlaylist;
    f.dir.write("ADV_OBJ/VPLST000.XPL", Bytes(playlist.begin(), playlist.end()));
    f.form.bReadXPLClick();
    EXPECT_EQ(f.form.xplTree().size(), 5u);
    EXPECT_TRUE(f.form.ticked(Control::cbVideo0));
    EXPECT_EQ(f.form.control(audioBox(1)).caption, "DD+.6ch.s01.English");
    EXPECT_EQ(f.form.control(audioBox(1)).hint, "DD+.6ch.s01.English");
    EXPECT_TRUE(f.form.ticked(audioBox(11)));
    EXPECT_TRUE(f.form.ticked(subBox(0)));
    const std::vector<StreamBox> boxes = f.form.streamBoxes();
    EXPECT_TRUE(std::any_of(boxes.begin(), boxes.end(), [](const StreamBox& box) {
        return box.kind == StreamKind::Audio && box.number == 1 && box.id == kStreamAnnounced;
    })) << "a demux is handed the announced track";
    EXPECT_TRUE(f.form.enabled(Control::bDemux));
    EXPECT_TRUE(f.form.enabled(Control::bReadXPL));
    EXPECT_TRUE(f.form.enabled(Control::bReadEVO));
    EXPECT_EQ(f.form.pageIndex(), 4);
    f.form.saveChapters((f.dir.path() / "c.txt").string());
    EXPECT_TRUE(std::filesystem::exists(f.dir.path() / "c.txt"));

    // After a read of the source, a box the read labelled keeps its coding and delay.
    fixture::ProgramStreamBuilder feature;
    feature.pack({fixture::pesPacket(0xE0, {.pts = 90000}, Bytes{0, 0, 1, 0xB3, 0, 0, 0, 0})});
    feature.pack({fixture::privateStream1Packet(0xC1, {.pts = 90450}, Bytes(64, 0))});
    f.dir.write("HVDVD_TS/FEATURE_1.EVO", feature.bytes());
    f.form.bReadEVOClick();
    const std::string read = f.form.control(audioBox(1)).caption;
    f.form.bReadXPLClick();
    const std::string both = f.form.control(audioBox(1)).caption;
    EXPECT_EQ(both.rfind("DD+.6ch.s01.English  ", 0), 0u) << both;
    EXPECT_EQ(both.substr(both.find("  ")), read.substr(read.find("  "))) << read;
    EXPECT_NE(both.find("delay 5 ms"), std::string::npos) << both;

    f.form.setText(Control::eXPLfile, (f.dir.path() / "none.XPL").string());
    f.form.XPLadj();
    f.form.bReadXPLClick();
    ASSERT_EQ(f.os.errors.size(), 1u);
    EXPECT_NE(f.os.errors[0].find("none.XPL"), std::string::npos);
    EXPECT_TRUE(f.form.enabled(Control::bReadXPL));
    EXPECT_TRUE(f.form.enabled(Control::bbXPL));
}

}  // namespace
}  // namespace tolvane
