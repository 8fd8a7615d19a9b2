// DVD discs authored by dvdauthor and spumux from ffmpeg's streams, in a folder and in an image
// made by genisoimage: their titles as tolvane-cli lists them against lsdvd's.
#include <gtest/gtest.h>

#include <dvdread/nav_read.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

#include "child_process.h"
#include "form_fixture.h"
#include "format/navigation_packets.h"
#include "report_keys.h"
#include "temp_dir.h"

#ifdef TOLVANE_HAVE_LIBAV
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}
#endif

namespace tolvane {
namespace {

using Json = nlohmann::json;

using fixture::installed;

// Two title sets: title 1 of 9 s with chapters asked at 0, 2.8 and 6.16 s (dvdauthor moves them
// to the next GOP), AC-3 in English and German and subpictures in English (at 1 and 5 s) and
// French (at 2 s) with a palette of our own; title 2 of 4 s in 16:9, with one unnamed audio
// stream and subpictures in French and Italian. The folder DISC and its image dvd.iso; SHARED
// holds the same two titles, without subpictures, in one title set, one VOB file.
const char* const kAuthor = R"(set -e
export VIDEO_FORMAT=PAL
ffmpeg -v error -f lavfi -i testsrc2=size=720x576:rate=25:duration=9 \
  -f lavfi -i sine=frequency=440:sample_rate=48000:duration=9 \
  -f lavfi -i sine=frequency=660:sample_rate=48000:duration=9 \
  -map 0 -map 1 -map 2 -target pal-dvd -b:v 1M t1.mpg
ffmpeg -v error -f lavfi -i testsrc2=size=720x576:rate=25:duration=4 \
  -f lavfi -i sine=frequency=330:sample_rate=48000:duration=4 -target pal-dvd -b:v 1M \
  -aspect 16:9 t2.mpg
ffmpeg -v error -f lavfi -i \
  'color=c=black@0.0:s=720x576,format=rgba,drawbox=x=100:y=400:w=300:h=60:color=white@1:t=fill' \
  -frames:v 1 en.png
ffmpeg -v error -f lavfi -i \
  'color=c=black@0.0:s=720x576,format=rgba,drawbox=x=200:y=420:w=200:h=50:color=yellow@1:t=fill' \
  -frames:v 1 fr.png
cat > en.xml <<END
<subpictures><stream>
<spu start="00:00:01.00" end="00:00:02.50" image="en.png"/>
<spu start="00:00:05.00" end="00:00:07.00" image="en.png"/>
</stream></subpictures>
END
cat > fr.xml <<END
<subpictures><stream><spu start="00:00:02.00" end="00:00:04.00" image="fr.png"/></stream></subpictures>
END
printf '%s\n' 000000 ffffff ff0000 00ff00 0000ff ffff00 808080 102030 c08040 e0e0e0 \
  406080 200000 002000 000020 7f7f7f abcdef > palette.rgb
spumux -s 0 en.xml < t1.mpg > t1en.mpg 2> /dev/null
spumux -s 1 fr.xml < t1en.mpg > t1subs.mpg 2> /dev/null
dvdauthor -o DISC -t -p palette.rgb -a ac3+en,ac3+de -s en,fr -c 0,2.8,6.16 t1subs.mpg 2> /dev/null
spumux -s 0 fr.xml < t2.mpg > t2fr.mpg 2> /dev/null
spumux -s 1 fr.xml < t2fr.mpg > t2subs.mpg 2> /dev/null
dvdauthor -o DISC -t -s fr,it t2subs.mpg 2> /dev/null
dvdauthor -o DISC -T 2> /dev/null
genisoimage -quiet -dvd-video -V TOLVANE -o dvd.iso DISC
dvdauthor -o SHARED -t -c 0,2.8,6.16 t1.mpg -t t2.mpg 2> /dev/null
dvdauthor -o SHARED -T 2> /dev/null
)";

double clock(const std::string& text) {  // 00:00:03.000
    return std::stoi(text.substr(0, 2)) * 3600 + std::stoi(text.substr(3, 2)) * 60 +
           std::stod(text.substr(6));
}

// The value after `key` in an lsdvd line, up to the next comma or blank.
std::string after(const std::string& line, const std::string& key) {
    const size_t at = line.find(key);
    if (at == std::string::npos) {
        return {};
    }
    const size_t start = at + key.size();
    return line.substr(start, line.find_first_of(", ", start) - start);
}

bool starts(const std::string& line, const std::string& head) {
    return line.rfind(head, 0) == 0;
}

// lsdvd's view of every title, in the shape of tolvane-cli's report.
Json lsdvdTitles(const std::string& disc) {
    const fixture::ProcessResult result =
        fixture::runProcess("/bin/sh", {"-c", "lsdvd -x '" + disc + "' 2>/dev/null"}, "/");
    EXPECT_EQ(result.status, 0);
    Json titles = Json::array();
    double chapterStart = 0;
    std::istringstream lines(result.out);
    for (std::string line; std::getline(lines, line);) {
        if (starts(line, "Title: ")) {
            titles.push_back({{"number", std::stoi(after(line, "Title: "))},
                              {"duration", clock(after(line, "Length: "))},
                              {"chapters", Json::array()},
                              {"streams", Json::array()}});
            chapterStart = 0;
        } else if (titles.empty()) {
            continue;
        } else if (starts(line, "\tVTS: ")) {
            const std::string aspect = after(line, "Aspect ratio: ");
            titles.back()["title_set"] = std::stoi(after(line, "VTS: "));
            titles.back()["video"] = {{"width", std::stoi(after(line, "Width: "))},
                                      {"height", std::stoi(after(line, "Height: "))},
                                      {"frame_rate", std::stod(after(line, "FPS: "))},
                                      {"aspect_ratio", aspect.substr(0, aspect.find('/')) + ":" +
                                                           aspect.substr(aspect.find('/') + 1)}};
        } else if (starts(line, "\tNumber of Angles: ")) {
            titles.back()["angles"] = std::stoi(after(line, "Angles: "));
        } else if (starts(line, "\tAudio: ")) {
            const std::string format = after(line, "Format: ");
            Json stream{{"kind", "audio"},
                        {"id", std::stoi(after(line, "Stream id: "), nullptr, 16)},
                        {"coding", format == "lpcm" ? "pcm_dvd" : format},
                        {"channels", std::stoi(after(line, "Channels: "))},
                        {"sample_rate", std::stoi(after(line, "Frequency: "))}};
            if (const std::string language = after(line, "Language: "); language != "xx") {
                stream["language"] = language;
            }
            titles.back()["streams"].push_back(stream);
        } else if (starts(line, "\tSubtitle: ")) {
            Json stream{{"kind", "subpicture"},
                        {"id", std::stoi(after(line, "Stream id: "), nullptr, 16)},
                        {"coding", "dvd_subtitle"}};
            if (const std::string language = after(line, "Language: "); language != "xx") {
                stream["language"] = language;
            }
            titles.back()["streams"].push_back(stream);
        } else if (starts(line, "\tChapter: ")) {
            titles.back()["chapters"].push_back(
                {{"number", std::stoi(after(line, "Chapter: "))}, {"start", chapterStart}});
            chapterStart += clock(after(line, "Length: "));
        }
    }
    return titles;
}

// Our report without what lsdvd does not give, times in whole milliseconds as lsdvd prints them.
Json comparable(Json titles) {
    for (Json& title : titles) {
        title.erase("program_chain");
        title.erase("role");
        title.erase("reason");
        title.erase("first_play");
        title["duration"] = std::round(title["duration"].get<double>() * 1000) / 1000;
        title["video"]["frame_rate"] =
            std::round(title["video"]["frame_rate"].get<double>() * 100) / 100;
        for (Json& chapter : title["chapters"]) {
            chapter["start"] = std::round(chapter["start"].get<double>() * 1000) / 1000;
        }
    }
    return titles;
}

// A disc authored into a folder of its own, or the tool that is missing to author it.
struct AuthoredDisc {
    fixture::TempDir dir;
    std::string missing;

    AuthoredDisc() {
        for (const char* tool :
             {"ffmpeg", "ffprobe", "spumux", "dvdauthor", "genisoimage", "lsdvd"}) {
            if (!installed(tool)) {
                missing = tool;
                return;
            }
        }
        const fixture::ProcessResult made =
            fixture::runProcess("/bin/sh", {"-c", kAuthor}, dir.path().string());
        EXPECT_EQ(made.status, 0) << made.err;
    }
};

TEST(DvdDisc, TitlesOfAFolderAndOfItsImageAreWhatLsdvdReads) {
    AuthoredDisc authored;
    if (!authored.missing.empty()) {
        GTEST_SKIP() << authored.missing << " is not installed: no disc to author";
    }
    const fixture::TempDir& dir = authored.dir;
    const std::filesystem::path disc = dir.path() / "DISC";
    const std::filesystem::path image = dir.path() / "dvd.iso";
    const auto imageTime = std::filesystem::last_write_time(image);
    const auto imageSize = std::filesystem::file_size(image);

    const Json expected = lsdvdTitles(disc.string());
    ASSERT_EQ(expected.size(), 2u);
    EXPECT_EQ(expected[0]["chapters"].size(), 3u);
    for (const std::filesystem::path& path : {disc, disc / "VIDEO_TS", image}) {
        SCOPED_TRACE(path.string());
        const fixture::ProcessResult listed =
            fixture::runProcess(TOLVANE_CLI, {"titles", path.string(), "--json"}, "/");
        ASSERT_EQ(listed.status, 0) << listed.err;
        const Json report = Json::parse(listed.out);
        EXPECT_EQ(report["disc"]["path"], path.string());
        EXPECT_EQ(report["disc"]["kind"], "dvd");
        EXPECT_EQ(comparable(report["titles"]), expected);
        EXPECT_EQ(report["titles"][0]["program_chain"], 1);
    }
    EXPECT_EQ(lsdvdTitles(image.string()), expected) << "the image holds the folder's disc";
    std::set<std::string> paths;
    fixture::keyPaths(
        Json::parse(
            fixture::runProcess(TOLVANE_CLI, {"titles", image.string(), "--json"}, "/").out),
        "", paths);
    std::ifstream format(TOLVANE_REPORT_FORMAT);
    const std::string document((std::istreambuf_iterator<char>(format)), {});
    for (const std::string& path : paths) {
        EXPECT_NE(document.find("| `" + path + "` |"), std::string::npos)
            << path << " is not in docs/report-format.md";
    }
    EXPECT_EQ(std::filesystem::last_write_time(image), imageTime) << "reading never writes";
    EXPECT_EQ(std::filesystem::file_size(image), imageSize);

    const fixture::ProcessResult text =
        fixture::runProcess(TOLVANE_CLI, {"titles", image.string()}, "/");
    EXPECT_EQ(text.status, 0);
    EXPECT_NE(text.out.find("Title 1: main title, 0:00:09.000, 3 chapters, 1 angle (title set 1, "
                            "program chain 1)\n"
                            "  Video: 720x576, 25.000 fps, 4:3\n"
                            "  Audio 0x80: ac3, 1 channel, 48000 Hz, en\n"),
              std::string::npos)
        << text.out;
    EXPECT_NE(text.out.find("  Subpicture 0x21: dvd_subtitle, fr\n"), std::string::npos);

    // What is no disc, or one with no title left readable, gets a clear error and no listing.
    std::filesystem::copy(disc, dir.path() / "BROKEN", std::filesystem::copy_options::recursive);
    for (const char* name : {"VTS_01_0.IFO", "VTS_01_0.BUP", "VTS_02_0.IFO", "VTS_02_0.BUP"}) {
        std::filesystem::resize_file(dir.path() / "BROKEN" / "VIDEO_TS" / name, 100);
    }
    // A title table on which libdvdread would free a block twice, refused before it is read;
    // one whose lengths stop the reader, which runs apart.
    for (const auto& [name, ifo] : {std::pair{"TWICE", TOLVANE_DAMAGED_IFO},
                                    std::pair{"CRASH", TOLVANE_DAMAGED_LENGTHS_IFO}}) {
        std::filesystem::create_directories(dir.path() / name / "VIDEO_TS");
        std::filesystem::copy_file(ifo, dir.path() / name / "VIDEO_TS" / "VIDEO_TS.IFO");
    }
    std::filesystem::copy_file(image, dir.path() / "cut.iso");
    std::filesystem::resize_file(dir.path() / "cut.iso", 40000);
    for (const auto& [path, says] :
         {std::pair{dir.path() / "t1.mpg", "It is no DVD-Video disc"},
          std::pair{dir.path() / "missing", "No such file or directory"},
          std::pair{dir.path() / "BROKEN", "title set 1 is damaged"},
          std::pair{dir.path() / "cut.iso", "It is no DVD-Video disc"},
          std::pair{dir.path() / "TWICE", "its title table lies past its end"},
          std::pair{dir.path() / "CRASH", "the reader stopped on them"}}) {
        SCOPED_TRACE(path.string());
        const fixture::ProcessResult failed =
            fixture::runProcess(TOLVANE_CLI, {"titles", path.string()}, "/");
        EXPECT_EQ(failed.status, 1);
        EXPECT_NE(failed.err.find(says), std::string::npos) << failed.err;
        EXPECT_EQ(failed.out, "");
    }
}

std::string ffprobeFrames(const std::string& file) {
    return fixture::runProcess("/bin/sh",
                               {"-c",
                                "ffprobe -v error -count_frames -select_streams v:0 "
                                "-show_entries stream=nb_read_frames -of csv=p=0 '" +
                                    file + "'"},
                               "/")
        .out;
}

TEST(DvdDisc, ATitleIsReadAndDemuxedAsItsCellsFromTheFolderAndTheImageAlike) {
    AuthoredDisc authored;
    if (!authored.missing.empty()) {
        GTEST_SKIP() << authored.missing << " is not installed: no disc to author";
    }
    const std::filesystem::path root = authored.dir.path();
    const std::string disc = (root / "DISC").string();
    const std::string image = (root / "dvd.iso").string();
    const std::string vobs = (root / "DISC" / "VIDEO_TS").string();

    // Each title counts its own frames, as ffprobe decodes its title set's VOB.
    for (const auto& [title, vob] :
         {std::pair{"1", "VTS_01_1.VOB"}, std::pair{"2", "VTS_02_1.VOB"}}) {
        SCOPED_TRACE(title);
        const std::string frames = ffprobeFrames(vobs + "/" + vob);
        const Json read =
            Json::parse(fixture::runProcess(
                            TOLVANE_CLI, {"read", image, "--title", title, "--full", "--json"}, "/")
                            .out);
        EXPECT_EQ(read["frames"][0]["counted"].get<int>(), std::stoi(frames));
        EXPECT_EQ(read["files"][0]["path"], image);
        // Its navigation packs are a DVD's, as in its VOB file, whatever the image is named.
        const auto navigation = [](const std::vector<std::string>& args) {
            std::istringstream lines(fixture::runProcess(TOLVANE_CLI, args, "/").out);
            for (std::string line; std::getline(lines, line);) {
                if (line.find(" contains ") != std::string::npos) {
                    return line;
                }
            }
            return std::string();
        };
        EXPECT_EQ(navigation({"read", image, "--title", title}),
                  navigation({"read", vobs + "/" + vob, "--no-continue"}));
    }

    // Two titles in one VOB file: a read of the file counts both, a title only its own cells.
    const std::string shared = (root / "SHARED").string();
    const auto counted = [](const std::vector<std::string>& args) {
        const fixture::ProcessResult read = fixture::runProcess(TOLVANE_CLI, args, "/");
        EXPECT_EQ(read.status, 0) << read.err;
        return Json::parse(read.out)["frames"][0]["counted"].get<int>();
    };
    const int first = std::stoi(ffprobeFrames((root / "t1.mpg").string()));
    const int second = std::stoi(ffprobeFrames((root / "t2.mpg").string()));
    EXPECT_EQ(counted({"read", shared + "/VIDEO_TS/VTS_01_1.VOB", "--full", "--json"}),
              first + second);
    EXPECT_EQ(counted({"read", shared, "--title", "1", "--full", "--json"}), first);
    EXPECT_EQ(counted({"read", shared, "--title", "2", "--full", "--json"}), second);

    // A title whose last chapter lies in the next program chain plays that chain too (no tool
    // authors one: its chapter table is rewritten here, in the IFO and its backup).
    const std::filesystem::path chains = root / "CHAINS";
    std::filesystem::copy(shared, chains, std::filesystem::copy_options::recursive);
    for (const char* name : {"VTS_01_0.IFO", "VTS_01_0.BUP"}) {
        fixture::Bytes ifo = fixture::readFile(chains / "VIDEO_TS" / name);
        // The chapter table's sector; title 1's chapters from the offset its entry gives.
        const size_t table = 2048 * (size_t{ifo[0xCA]} << 8 | ifo[0xCB]);
        const size_t title = table + (size_t{ifo[table + 10]} << 8 | ifo[table + 11]);
        ASSERT_EQ(ifo[title + 9], 1) << "title 1's third chapter is in chain 1";
        ifo[title + 9] = 2;   // program chain 2,
        ifo[title + 11] = 1;  // its program 1
        fixture::writeFile(chains / "VIDEO_TS" / name, ifo);
    }
    EXPECT_EQ(counted({"read", chains.string(), "--title", "1", "--full", "--json"}),
              first + second);
    const Json listed = Json::parse(
        fixture::runProcess(TOLVANE_CLI, {"titles", chains.string(), "--json"}, "/").out);
    const Json& both = listed["titles"][0];
    EXPECT_NEAR(both["duration"].get<double>(), 13.0, 0.1);
    ASSERT_EQ(both["chapters"].size(), 3u);
    EXPECT_NEAR(both["chapters"][2]["start"].get<double>(), 9.0, 0.1);

    // The folder and the image give the same files, and the title's streams are those ffmpeg
    // copies out of its VOB.
    const std::string out = (root / "out").string();
    for (const std::string& source : {disc, image}) {
        const fixture::ProcessResult demuxed =
            fixture::runProcess(TOLVANE_CLI,
                                {"demux", source, "--title", "1", "-o",
                                 out + "/" + std::filesystem::path(source).stem().string()},
                                "/");
        ASSERT_EQ(demuxed.status, 0) << demuxed.err;
    }
    ASSERT_EQ(fixture::runProcess(
                  "/bin/sh",
                  {"-c",
                   "ffmpeg -v error -i VTS_01_1.VOB -map 0:v -c copy -f mpeg2video "
                   "'" +
                       out + "/video.m2v' -map 0:a:1 -c copy -f ac3 '" + out + "/de.ac3'"},
                  vobs)
                  .status,
              0);
    const auto bytes = [&](const std::string& name) {
        std::ifstream file(out + "/" + name, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(file)), {});
    };
    for (const char* stream :
         {"MPEG-2.stream.0.mpv", "DD.stream.00.en.mpa", "DD.stream.01.de.mpa",
          "Subpicture.00.en.sub", "Subpicture.00.en.idx", "Subpicture.01.fr.sub"}) {
        SCOPED_TRACE(stream);
        EXPECT_FALSE(bytes("DISC/DISC_title01." + std::string(stream)).empty());
        EXPECT_TRUE(bytes("DISC/DISC_title01." + std::string(stream)) ==
                    bytes("dvd/dvd_title01." + std::string(stream)));
    }
    EXPECT_TRUE(bytes("video.m2v") == bytes("DISC/DISC_title01.MPEG-2.stream.0.mpv"));
    EXPECT_TRUE(bytes("de.ac3") == bytes("DISC/DISC_title01.DD.stream.01.de.mpa"));

    // A disc without a title, or with one it does not have, is refused with a clear message.
    fixture::ProcessResult refused = fixture::runProcess(TOLVANE_CLI, {"read", image}, "/");
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.err.find("is a disc: choose a title with --title N"), std::string::npos);
    refused = fixture::runProcess(TOLVANE_CLI, {"demux", disc, "--title", "3", "-o", out}, "/");
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("has no title 3: it has 2."), std::string::npos) << refused.err;
    refused = fixture::runProcess(TOLVANE_CLI, {"read", disc, "--title", "1", "--angle", "2"}, "/");
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("has no angle 2: it has 1."), std::string::npos) << refused.err;

    // A disc whose video packets say they are scrambled, as CSS leaves them, is refused.
    const std::filesystem::path locked = root / "LOCKED";
    std::filesystem::copy(disc, locked, std::filesystem::copy_options::recursive);
    std::fstream vob(locked / "VIDEO_TS" / "VTS_01_1.VOB",
                     std::ios::in | std::ios::out | std::ios::binary);
    std::string sector(2048, '\0');
    for (std::streamoff at = 0; vob.seekg(at).read(sector.data(), 2048); at += 2048) {
        const size_t packet = 14 + (static_cast<uint8_t>(sector[13]) & 7);
        if (sector.compare(packet, 4, std::string("\0\0\1\xE0", 4)) == 0) {
            vob.seekp(at + static_cast<std::streamoff>(packet) + 6).put(sector[packet + 6] | 0x10);
        }
    }
    vob.close();
    refused = fixture::runProcess(
        TOLVANE_CLI,
        {"demux", locked.string(), "--title", "1", "-o", (root / "locked-out").string()}, "/");
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("This disc is encrypted: decrypt it first"), std::string::npos)
        << refused.err;
    EXPECT_TRUE(!std::filesystem::exists(root / "locked-out") ||
                std::filesystem::is_empty(root / "locked-out"));
}

// A title's files as a muxer takes them: mkvmerge reads each .idx as a VobSub track in its
// language and joins them with the video and the chapters file; ffprobe finds each subtitle at
// the time spumux was given and each chapter where lsdvd starts it. The .idx holds the palette
// given to dvdauthor, and a VOB file read on its own takes the languages of its disc.
TEST(DvdDisc, ATitlesFilesMuxWithTheirLanguagesSubtitleTimesChaptersAndPalette) {
    AuthoredDisc authored;
    if (!authored.missing.empty() || !installed("mkvmerge")) {
        GTEST_SKIP() << "a tool is not installed: no disc to author or mux";
    }
    const std::filesystem::path root = authored.dir.path();
    const std::string disc = (root / "DISC").string();
    const std::string out = (root / "out").string();
    const fixture::ProcessResult demuxed = fixture::runProcess(
        TOLVANE_CLI, {"demux", disc, "--title", "1", "-o", out, "--chapters", out + "/ch.xml"},
        "/");
    ASSERT_EQ(demuxed.status, 0) << demuxed.err;
    const std::string base = out + "/DISC_title01.";

    for (const auto& [index, language] :
         {std::pair{"Subpicture.00.en.idx", "eng"}, std::pair{"Subpicture.01.fr.idx", "fre"}}) {
        const Json found =
            Json::parse(fixture::runProcess("mkvmerge", {"-J", base + index}, "/").out)["tracks"];
        ASSERT_EQ(found.size(), 1U) << index;
        EXPECT_EQ(found[0]["codec"], "VobSub");
        EXPECT_EQ(found[0]["properties"]["language"], language);
    }
    const fixture::ProcessResult muxed =
        fixture::runProcess("mkvmerge",
                            {"-q", "-o", out + "/title.mkv", "--chapters", out + "/ch.xml",
                             base + "MPEG-2.stream.0.mpv", base + "Subpicture.00.en.idx",
                             base + "Subpicture.01.fr.idx"},
                            "/");
    ASSERT_LE(muxed.status, 1) << muxed.out;  // 1: warnings only
    const auto probe = [&](const std::string& args) {
        return Json::parse(
            fixture::runProcess("/bin/sh",
                                {"-c", "ffprobe -v error -of json " + args + " title.mkv"}, out)
                .out);
    };
    const auto times = [&](const char* stream) {
        std::vector<double> found;
        const Json packets =
            probe(std::string("-select_streams ") + stream + " -show_entries packet=pts_time");
        for (const Json& packet : packets["packets"]) {
            found.push_back(std::stod(packet["pts_time"].get<std::string>()));
        }
        return found;
    };
    EXPECT_EQ(times("s:0"), (std::vector<double>{1.0, 5.0}));
    EXPECT_EQ(times("s:1"), (std::vector<double>{2.0}));
    std::vector<double> chapters;
    const Json probed = probe("-show_chapters");
    for (const Json& chapter : probed["chapters"]) {
        chapters.push_back(std::stod(chapter["start_time"].get<std::string>()));
    }
    std::vector<double> expected;
    const Json titles = lsdvdTitles(disc);
    for (const Json& chapter : titles[0]["chapters"]) {
        expected.push_back(chapter["start"].get<double>());
    }
    EXPECT_EQ(chapters, expected);

    std::ifstream index(base + "Subpicture.00.en.idx");
    std::ifstream given(root / "palette.rgb");
    std::string line;
    while (std::getline(index, line) && !starts(line, "palette: ")) {
    }
    std::istringstream entries(line.substr(9));
    for (std::string entry, rgb; std::getline(entries, entry, ',') && given >> rgb;) {
        for (int shift : {16, 8, 0}) {
            const auto channel = [&](const std::string& hex) {
                return static_cast<int>(std::stoul(hex, nullptr, 16) >> shift & 0xFF);
            };
            EXPECT_NEAR(channel(entry), channel(rgb), 2) << entry << " for " << rgb;
        }
    }
    EXPECT_TRUE(given.good()) << "the .idx has fewer than 16 colours";

    // The title set's VOB file holds that title alone: demuxed on its own as VobSub, it gives the
    // title's files, palette, times and languages included.
    const fixture::ProcessResult plain = fixture::runProcess(
        TOLVANE_CLI,
        {"demux", disc + "/VIDEO_TS/VTS_01_1.VOB", "--sub-format", "vobsub", "-o", out + "/plain"},
        "/");
    ASSERT_EQ(plain.status, 0) << plain.err;
    const auto bytes = [](const std::string& path) {
        std::ifstream file(path, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(file)), {});
    };
    for (const char* name : {"Subpicture.00.en.idx", "Subpicture.00.en.sub", "Subpicture.01.fr.idx",
                             "Subpicture.01.fr.sub"}) {
        EXPECT_EQ(bytes(out + "/plain/VTS_01_1." + name), bytes(base + name)) << name;
    }
    const Json read = Json::parse(
        fixture::runProcess(TOLVANE_CLI, {"read", disc + "/VIDEO_TS/VTS_01_1.VOB", "--json"}, "/")
            .out);
    std::vector<std::string> languages;
    for (const Json& stream : read["streams"]) {
        languages.push_back(stream.value("language", "none"));
    }
    EXPECT_EQ(languages, (std::vector<std::string>{"none", "en", "de", "en", "fr"}));

    // --select takes kinds and languages beside box names, each choosing every box it names;
    // a language by its name or either code.
    for (const auto& [select, expected] :
         {std::pair{"audio:de,sub:fr,video",
                    std::set<std::string>{"MPEG-2.stream.0.mpv", "DD.stream.01.de.mpa",
                                          "Subpicture.01.fr.idx", "Subpicture.01.fr.sub"}},
          std::pair{"English", std::set<std::string>{"DD.stream.00.en.mpa", "Subpicture.00.en.idx",
                                                     "Subpicture.00.en.sub"}},
          std::pair{"sub:fre,audio",
                    std::set<std::string>{"DD.stream.00.en.mpa", "DD.stream.01.de.mpa",
                                          "Subpicture.01.fr.idx", "Subpicture.01.fr.sub"}}}) {
        const std::string chosen = out + "/select-" + std::to_string(expected.size()) + select;
        ASSERT_EQ(
            fixture::runProcess(
                TOLVANE_CLI, {"demux", disc, "--title", "1", "--select", select, "-o", chosen}, "/")
                .status,
            0)
            << select;
        std::set<std::string> written;
        for (const auto& entry : std::filesystem::directory_iterator(chosen)) {
            written.insert(
                entry.path().filename().string().substr(std::string("DISC_title01.").size()));
        }
        EXPECT_EQ(written, expected) << select;
    }
}

// The window lists the titles of a dropped image and takes the longest; choosing another reads
// it, its boxes captioned with their languages, and Demux writes that title.
TEST(DvdDisc, TheWindowListsADiscsTitlesAndDemuxesTheChosenOne) {
    AuthoredDisc authored;
    if (!authored.missing.empty()) {
        GTEST_SKIP() << authored.missing << " is not installed: no disc to author";
    }
    fixture::FormFixture window;
    MainForm& form = window.form;
    const std::string out = (authored.dir.path() / "window").string();
    form.setText(Control::eWorkdir, out);
    form.setTicked(Control::rbAutoDemux, false);
    form.setTicked(Control::rbAutoRebuild, false);
    form.setTicked(Control::cbAutoRead, true);
    form.WMDropFiles({(authored.dir.path() / "dvd.iso").string()});
    ASSERT_EQ(form.discTitles().size(), 2U);
    EXPECT_EQ(form.discTitle(), 1);
    EXPECT_EQ(form.titleEntry(form.discTitles()[0]),
              "Title 1: 0:00:09.000, 3 chapters, audio en de, subtitles en fr, main title");
    EXPECT_EQ(form.control(audioBox(1)).caption, "DD.stream.01  ac3, mono, de, delay -5 ms");
    EXPECT_EQ(form.control(subBox(1)).caption, "Subpicture.01  fr");
    // A DVD has no HD DVD playlist, and the read reads a title.
    EXPECT_FALSE(form.playlistApplies());
    EXPECT_EQ(form.control(Control::bReadEVO).caption, "Read title");

    form.chooseTitle(2);
    EXPECT_EQ(form.control(audioBox(0)).caption, "DD.stream.00  ac3, mono, delay -5 ms");
    EXPECT_FALSE(form.enabled(audioBox(1)));
    form.bDemuxClick();
    std::set<std::string> written;
    for (const auto& entry : std::filesystem::directory_iterator(out)) {
        written.insert(entry.path().filename().string());
    }
    EXPECT_EQ(written, (std::set<std::string>{
                           "dvd_title02.MPEG-2.stream.0.mpv", "dvd_title02.DD.stream.00.mpa",
                           "dvd_title02.Subpicture.00.fr.sub", "dvd_title02.Subpicture.00.fr.idx",
                           "dvd_title02.Subpicture.01.it.sub", "dvd_title02.Subpicture.01.it.idx"}))
        << window.logMarkup().back();

    // Matroska takes the ticked streams only, with the disc's languages.
    if (!installed("mkvmerge")) {
        return;
    }
    form.setTicked(subBox(0), false);
    ASSERT_TRUE(form.enabled(Control::bMatroska));
    form.bMatroskaClick();
    const Json tracks = Json::parse(
        fixture::runProcess("mkvmerge", {"-J", out + "/dvd_title02.mkv"}, "/").out)["tracks"];
    std::vector<std::string> kinds;
    for (const Json& track : tracks) {
        kinds.push_back(track["type"].get<std::string>() + " " +
                        track["properties"].value("language", "und"));
    }
    EXPECT_EQ(kinds, (std::vector<std::string>{"video und", "audio und", "subtitles ita"}))
        << window.logMarkup().back();
    EXPECT_EQ(form.outputFolder(), out);
}

// A title of two separately encoded parts, as dvdauthor makes one from two files: each part's
// time stamps start anew. The title's time runs on across the seam, as lsdvd and players give
// it: subtitle times, frame counts and the running time count from the title's start.
const char* const kTwoParts = R"(set -e
export VIDEO_FORMAT=PAL
ffmpeg -v error -f lavfi -i testsrc2=size=720x576:rate=25:duration=6 \
  -f lavfi -i sine=frequency=440:sample_rate=48000:duration=6 -target pal-dvd -b:v 1M a.mpg
ffmpeg -v error -f lavfi -i testsrc2=size=720x576:rate=25:duration=5 \
  -f lavfi -i sine=frequency=660:sample_rate=48000:duration=5 -target pal-dvd -b:v 1M b.mpg
# Two subtitles drawn on black, which spumux makes transparent: visible, and told apart.
ffmpeg -v error -f lavfi -i \
  'color=c=black:s=720x576,format=rgb24,drawbox=x=100:y=400:w=300:h=60:color=white:t=fill' \
  -frames:v 1 en1.png
ffmpeg -v error -f lavfi -i \
  'color=c=black:s=720x576,format=rgb24,drawbox=x=200:y=420:w=120:h=40:color=white:t=fill' \
  -frames:v 1 en2.png
cat > en.xml <<END
<subpictures><stream>
<spu start="00:00:01.20" end="00:00:02.50" image="en1.png" transparent="000000"/>
<spu start="00:00:03.20" end="00:00:04.00" image="en2.png" transparent="000000"/>
</stream></subpictures>
END
spumux -s 0 en.xml < a.mpg > as.mpg 2> /dev/null
spumux -s 0 en.xml < b.mpg > bs.mpg 2> /dev/null
dvdauthor -o DISC -t -s en as.mpg bs.mpg 2> /dev/null
dvdauthor -o DISC -T 2> /dev/null
)";

// ffprobe's packets of the first subpicture stream of `file`: size and MD5 of each, in order.
std::vector<std::string> subpicturePackets(const std::string& file) {
    const fixture::ProcessResult probe = fixture::runProcess(
        "/bin/sh",
        {"-c",
         "ffprobe -v error -select_streams s:0 -show_packets -show_data_hash md5 "
         "-show_entries packet=size,data_hash -of csv=p=0 '" +
             file + "'"},
        "/");
    std::vector<std::string> packets;
    std::istringstream lines(probe.out);
    for (std::string line; std::getline(lines, line);) {
        packets.push_back(line);
    }
    return packets;
}

// Each subtitle of the first subpicture stream of `file` as FFmpeg's decoder draws it: its area
// and its pixels' colour indices, one entry per subtitle, in order. None without FFmpeg's
// libraries.
std::vector<std::string> subtitleBitmaps(const std::string& file) {
    std::vector<std::string> bitmaps;
#ifdef TOLVANE_HAVE_LIBAV
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, file.c_str(), nullptr, nullptr) < 0) {
        ADD_FAILURE() << "FFmpeg cannot open " << file;
        return bitmaps;
    }
    avformat_find_stream_info(format, nullptr);
    const int index = av_find_best_stream(format, AVMEDIA_TYPE_SUBTITLE, -1, -1, nullptr, 0);
    AVCodecContext* decoder = nullptr;
    if (index >= 0) {
        const AVCodecParameters* parameters = format->streams[index]->codecpar;
        const AVCodec* codec = avcodec_find_decoder(parameters->codec_id);
        decoder = avcodec_alloc_context3(codec);
        avcodec_parameters_to_context(decoder, parameters);
        if (avcodec_open2(decoder, codec, nullptr) < 0) {
            avcodec_free_context(&decoder);
        }
    }
    AVPacket* packet = av_packet_alloc();
    while (decoder != nullptr && av_read_frame(format, packet) >= 0) {
        AVSubtitle subtitle{};
        int got = 0;
        if (packet->stream_index == index &&
            avcodec_decode_subtitle2(decoder, &subtitle, &got, packet) >= 0 && got != 0) {
            for (unsigned r = 0; r < subtitle.num_rects; ++r) {
                const AVSubtitleRect& rect = *subtitle.rects[r];
                std::ostringstream area;
                area << rect.w << "x" << rect.h << "+" << rect.x << "+" << rect.y << ":";
                std::string bitmap = area.str();
                for (int y = 0; y < rect.h; ++y) {
                    bitmap.append(reinterpret_cast<const char*>(rect.data[0]) +
                                      static_cast<ptrdiff_t>(y) * rect.linesize[0],
                                  static_cast<size_t>(rect.w));
                }
                bitmaps.push_back(std::move(bitmap));
            }
            avsubtitle_free(&subtitle);
        }
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    avcodec_free_context(&decoder);
    avformat_close_input(&format);
#endif
    return bitmaps;
}

TEST(DvdDisc, ATitleOfTwoSeparatelyEncodedPartsRunsOnOneTimeline) {
    for (const char* tool : {"ffmpeg", "ffprobe", "spumux", "dvdauthor", "lsdvd", "mkvmerge"}) {
        if (!installed(tool)) {
            GTEST_SKIP() << tool << " is not installed: no disc to author";
        }
    }
    fixture::TempDir dir;
    const fixture::ProcessResult made =
        fixture::runProcess("/bin/sh", {"-c", kTwoParts}, dir.path().string());
    ASSERT_EQ(made.status, 0) << made.err;
    const std::string disc = (dir.path() / "DISC").string();
    const double length = lsdvdTitles(disc)[0]["duration"].get<double>();

    const Json read = Json::parse(
        fixture::runProcess(TOLVANE_CLI, {"read", disc, "--title", "1", "--json"}, "/").out);
    EXPECT_NEAR(read["navigation"]["duration"].get<double>(), length, 0.04);
    EXPECT_EQ(read["frames"][0]["counted"].get<int>(), 275);
    EXPECT_EQ(read["frames"][0]["calculated"], read["frames"][0]["counted"]);
    // One frame per 40 ms, the last one's included.
    EXPECT_NEAR(read["streams"][0]["duration"].get<double>(), 11.0, 0.04);
    ASSERT_EQ(read["seams"].size(), 1u);
    EXPECT_EQ(read["seams"][0]["cause"], "navigation");
    EXPECT_EQ(read["seams"][0]["vob_number"], 2);
    EXPECT_NEAR(read["seams"][0]["time"].get<double>(), 6.0, 0.04);

    const std::filesystem::path out = dir.path() / "out";
    std::filesystem::create_directory(out);
    ASSERT_EQ(
        fixture::runProcess(TOLVANE_CLI, {"demux", disc, "--title", "1", "-o", out.string()}, "/")
            .status,
        0);
    const std::string idx = (out / "DISC_title01.Subpicture.00.en.idx").string();
    std::ifstream index(idx);
    std::vector<double> times;
    for (std::string line; std::getline(index, line);) {
        if (starts(line, "timestamp: ")) {  // timestamp: 00:00:07:210, filepos: ...
            times.push_back(clock(line.substr(11, 8) + "." + line.substr(20, 3)));
        }
    }
    ASSERT_EQ(times.size(), 4u);
    const double expected[] = {1.2, 3.2, 7.2, 9.2};
    for (size_t k = 0; k < times.size(); ++k) {
        EXPECT_NEAR(times[k], expected[k], 0.04) << "subtitle " << k;
    }
    // mkvmerge takes the index without a warning (its exit status 1) about times out of order.
    const fixture::ProcessResult muxed = fixture::runProcess(
        "/bin/sh", {"-c", "mkvmerge -q -o '" + (out / "subs.mkv").string() + "' '" + idx + "'"},
        "/");
    EXPECT_EQ(muxed.status, 0) << muxed.out;
    // Each .sub packet is the disc's own, byte for byte, as ffprobe reads both.
    const std::vector<std::string> ours = subpicturePackets(idx);
    EXPECT_EQ(ours.size(), 4u);
    EXPECT_EQ(ours, subpicturePackets(disc + "/VIDEO_TS/VTS_01_1.VOB"));
#ifdef TOLVANE_HAVE_LIBAV
    // And each draws the disc's picture: two boxes, twice, none of them empty.
    const std::vector<std::string> drawn = subtitleBitmaps(idx);
    ASSERT_EQ(drawn.size(), 4u);
    EXPECT_EQ(drawn, subtitleBitmaps(disc + "/VIDEO_TS/VTS_01_1.VOB"));
    EXPECT_EQ(drawn[0].substr(0, drawn[0].find(':')), "300x60+100+400");
    EXPECT_EQ(drawn[1].substr(0, drawn[1].find(':')), "120x40+200+420");
    EXPECT_EQ(drawn[2], drawn[0]);
    EXPECT_EQ(drawn[3], drawn[1]);
#endif

    // Every navigation pack of both parts decodes to what libdvdread's reader gives.
    std::ifstream vobFile(disc + "/VIDEO_TS/VTS_01_1.VOB", std::ios::binary);
    std::vector<uint8_t> pack(2048);
    std::set<uint32_t> vobNumbers;
    int compared = 0;
    constexpr size_t kDsiData = 1031;  // pack and system headers, PCI, DSI header and id
    while (vobFile.read(reinterpret_cast<char*>(pack.data()), 2048)) {
        if (pack[1027] != 0xBF || pack[1030] != 0x01) {
            continue;  // no navigation pack
        }
        dsi_t dsi;
        navRead_DSI(&dsi, pack.data() + kDsiData);
        const std::optional<DsiRecord> ours =
            decodeDsi(pack.data() + kDsiData, 2048 - kDsiData, SourceKind::DvdFile);
        ASSERT_TRUE(ours.has_value());
        const uint32_t vob = dsi.dsi_gi.vobu_vob_idn;
        const uint32_t first = dsi.sml_pbi.vob_v_s_s_ptm;
        const uint32_t last = dsi.sml_pbi.vob_v_e_e_ptm;
        EXPECT_EQ(ours->vobNumber, vob);
        EXPECT_EQ(ours->firstPtm, first);
        EXPECT_EQ(ours->lastPtm, last);
        int audio = 0;
        int subpictures = 0;
        for (size_t k = 0; k < 8; ++k) {
            audio += dsi.synci.a_synca[k] != 0 ? 1 : 0;
        }
        for (size_t k = 0; k < 32; ++k) {
            subpictures += dsi.synci.sp_synca[k] != 0 ? 1 : 0;
        }
        EXPECT_EQ(ours->audioStreams, audio);
        EXPECT_EQ(ours->subpictureStreams, subpictures);
        vobNumbers.insert(vob);
        ++compared;
    }
    EXPECT_GT(compared, 10);
    EXPECT_EQ(vobNumbers, (std::set<uint32_t>{1, 2}));
}

// Every packet time of stream `index` of `file`, in seconds, in file order.
std::vector<double> packetTimes(const std::string& file, const std::string& stream) {
    const fixture::ProcessResult probed =
        fixture::runProcess("/bin/sh",
                            {"-c", "ffprobe -v error -select_streams " + stream +
                                       " -show_entries packet=pts_time -of csv=p=0 '" + file + "'"},
                            "/");
    std::vector<double> times;
    std::istringstream lines(probed.out);
    for (std::string line; std::getline(lines, line);) {
        times.push_back(std::stod(line));
    }
    return times;
}

// The lines of a shell command's standard output, as numbers.
std::vector<double> numbers(const std::string& command) {
    const fixture::ProcessResult result = fixture::runProcess("/bin/sh", {"-c", command}, "/");
    std::vector<double> found;
    std::istringstream lines(result.out);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line != "N/A") {
            found.push_back(std::stod(line));
        }
    }
    return found;
}

// The chapters of the first title of an HD DVD playlist: start in whole seconds and name.
std::vector<std::pair<double, std::string>> playlistChapters(const std::string& playlist) {
    const fixture::Bytes bytes = fixture::readFile(playlist);
    const std::string text(bytes.begin(), bytes.end());
    const size_t opened = text.find("<ChapterList>");
    const std::string list = text.substr(opened, text.find("</ChapterList>") - opened);
    std::vector<std::pair<double, std::string>> found;
    const std::string begin = "titleTimeBegin=\"";
    const std::string name = "displayName=\"";
    for (size_t at = list.find(begin); at != std::string::npos; at = list.find(begin, at + 1)) {
        // HH:MM:SS:FF
        const std::string clock = list.substr(at + begin.size(), 8);
        const size_t named = list.find(name, at) + name.size();
        found.emplace_back(std::stoi(clock.substr(0, 2)) * 3600 +
                               std::stoi(clock.substr(3, 2)) * 60 + std::stoi(clock.substr(6, 2)),
                           list.substr(named, list.find('"', named) - named));
    }
    return found;
}

// Soft telecine as an NTSC film DVD carries it, which no encoder at hand writes: `m2v`, coded
// at 23.976 frames a second, marked as 29.97 interlaced with each progressive picture showing
// for three fields or two in turn (repeat_first_field and top_field_first by display order).
fixture::Bytes softTelecine(fixture::Bytes m2v) {
    int groupStart = 0;
    int pictures = 0;
    int temporalReference = 0;
    for (size_t k = 0; k + 9 <= m2v.size(); ++k) {
        if (m2v[k] != 0 || m2v[k + 1] != 0 || m2v[k + 2] != 1) {
            continue;
        }
        const uint8_t code = m2v[k + 3];
        if (code == 0xB3) {
            m2v[k + 7] = static_cast<uint8_t>((m2v[k + 7] & 0xF0) | 4);  // 30000/1001
        } else if (code == 0xB8) {
            groupStart += pictures;
            pictures = 0;
        } else if (code == 0x00) {
            temporalReference = m2v[k + 4] << 2 | m2v[k + 5] >> 6;
            ++pictures;
        } else if (code == 0xB5 && m2v[k + 4] >> 4 == 1) {
            m2v[k + 5] &= 0xF7;  // progressive_sequence off
        } else if (code == 0xB5 && m2v[k + 4] >> 4 == 8) {
            // Top field first and repeated first field by display place: 11 00 01 10.
            const int place = (groupStart + temporalReference) % 4;
            const uint8_t top = place == 0 || place == 3 ? 0x80 : 0;
            const uint8_t repeat = place == 0 || place == 2 ? 0x02 : 0;
            m2v[k + 7] = static_cast<uint8_t>((m2v[k + 7] & 0x7D) | top | repeat | 0x01);
            m2v[k + 8] |= 0x80;  // progressive_frame
        }
    }
    return m2v;
}

// A program stream whose video packets keep their time stamps only where an I-picture starts,
// as many DVD muxers write them, up to its last I-picture: the pictures after it keep theirs,
// which ffmpeg itself guessed at the stream's end. The bytes given up become stuffing.
fixture::Bytes iPictureTimesOnly(fixture::Bytes ps) {
    struct Stamp {
        size_t at;     // the PES header's flags byte
        bool picture;  // an I-picture starts in it
    };
    std::vector<Stamp> stamps;
    for (size_t pack = 0; pack + 2048 <= ps.size(); pack += 2048) {
        size_t k = pack + 14 + (ps[pack + 13] & 7);
        while (k + 9 <= pack + 2048 && ps[k] == 0 && ps[k + 1] == 0 && ps[k + 2] == 1) {
            const size_t length = static_cast<size_t>(ps[k + 4] << 8 | ps[k + 5]);
            if (ps[k + 3] == 0xE0 && (ps[k + 7] & 0xC0) != 0) {
                const size_t payload = k + 9 + ps[k + 8];
                const size_t end = std::min(k + 6 + length, ps.size());
                bool intra = false;
                for (size_t j = payload; j + 5 < end; ++j) {
                    if (ps[j] == 0 && ps[j + 1] == 0 && ps[j + 2] == 1 && ps[j + 3] == 0) {
                        intra = (ps[j + 5] >> 3 & 7) == 1;
                        break;
                    }
                }
                stamps.push_back({k + 7, intra});
            }
            k += 6 + length;
        }
    }
    size_t last = stamps.size();
    while (last > 0 && !stamps[last - 1].picture) {
        --last;
    }
    for (size_t k = 0; k + 1 < last; ++k) {
        if (stamps[k].picture) {
            continue;
        }
        const size_t flags = stamps[k].at;
        const size_t bytes = (ps[flags] & 0xC0) == 0xC0 ? 10 : 5;
        ps[flags] &= 0x3F;
        std::fill_n(ps.begin() + static_cast<long>(flags) + 2, bytes, 0xFF);
    }
    return ps;
}

// Titles, a two-part feature and files to one Matroska file each, judged by mkvmerge, ffmpeg
// and ffprobe: every stream the read found is a track (HD DVD subpictures as PGS), with the
// disc's language and the default flags on the first video and audio track; mkvmerge has no
// warning and ffmpeg decodes every track without an error; the video's blocks are the read's
// counted frames and ffprobe's decoded ones, one frame apart on one timeline across VOB files
// and feature files, at the source's own times where ffprobe reads the source as one file, and
// each audio track keeps its distance to the video; the subtitles show at the times spumux was
// given and the chapters where lsdvd or the playlist starts them; coded tracks are the demux's
// streams byte for byte (H.264 as ffmpeg copies it out), LPCM tracks are ffmpeg's decode.
TEST(DvdDisc, TitlesAndFilesBecomeOneMatroskaFileThatPeersRead) {
    for (const char* tool :
         {"ffmpeg", "ffprobe", "spumux", "dvdauthor", "mkvmerge", "mkvextract"}) {
        if (!installed(tool)) {
            GTEST_SKIP() << tool << " is not installed";
        }
    }
    fixture::TempDir dir;
    ASSERT_EQ(fixture::runProcess("/bin/sh", {"-c", kTwoParts}, dir.path().string()).status, 0);
    ASSERT_EQ(fixture::runProcess(TOLVANE_SAMPLE_DISC, {(dir.path() / "hd").string()}, "/").status,
              0);
    ASSERT_EQ(fixture::runProcess(
                  "/bin/sh",
                  {"-c",
                   "ffmpeg -v error -f lavfi -i testsrc2=size=720x576:rate=25:duration=2 -f lavfi "
                   "-i sine=frequency=440:sample_rate=48000:duration=2 -map 0 -map 1 -map 1 "
                   "-c:v mpeg2video -c:a:0 ac3 -c:a:1 pcm_dvd -sample_fmt:a:1 s32 -ac:a:1 2 "
                   "-f dvd -loglevel fatal LPCM.VOB && ffmpeg -v error -f lavfi -i "
                   "testsrc2=size=720x576:rate=25:duration=2 -f lavfi -i "
                   "sine=frequency=440:sample_rate=48000:duration=2 -c:v libx264 -preset "
                   "veryfast -pix_fmt yuv420p -c:a ac3 -f vob AVC.VOB && export "
                   "VIDEO_FORMAT=PAL && ffmpeg -v error -f lavfi -i "
                   "testsrc2=size=720x576:rate=25:duration=3 -f lavfi -i "
                   "sine=frequency=440:sample_rate=48000:duration=3 -f lavfi -i "
                   "sine=frequency=660:sample_rate=48000:duration=3 -map 0 -map 1 -map 2 "
                   "-target pal-dvd -c:a:0 pcm_dvd -sample_fmt:a:0 s16 -ac:a:0 2 -c:a:1 pcm_dvd "
                   "-sample_fmt:a:1 s32 -ac:a:1 2 lp.mpg && dvdauthor -o LDISC -t lp.mpg "
                   "2>/dev/null && dvdauthor -o LDISC -T 2>/dev/null"},
                  dir.path().string())
                  .status,
              0);
    // A soft-telecined film, timed on every picture by ffmpeg and on its I-pictures only.
    ASSERT_EQ(fixture::runProcess(
                  "/bin/sh",
                  {"-c",
                   "ffmpeg -v error -f lavfi -i testsrc2=size=720x480:rate=24000/1001:duration=3 "
                   "-c:v mpeg2video -g 12 -bf 2 -flags +cgop -sc_threshold 1000000000 -b:v 400k "
                   "-f mpeg2video film.m2v"},
                  dir.path().string())
                  .status,
              0);
    fixture::writeFile(dir.path() / "telecine.m2v",
                       softTelecine(fixture::readFile(dir.path() / "film.m2v")));
    ASSERT_EQ(fixture::runProcess("/bin/sh",
                                  {"-c",
                                   "ffmpeg -v quiet -fflags +genpts -f mpegvideo -i telecine.m2v "
                                   "-c copy -f dvd TIMED.VOB"},
                                  dir.path().string())
                  .status,
              0);
    fixture::writeFile(dir.path() / "TELECINE.VOB",
                       iPictureTimesOnly(fixture::readFile(dir.path() / "TIMED.VOB")));
    struct Case {
        std::vector<std::string> source;  // the mkv command's source and title
        double frameSeconds;
        std::vector<std::string> codecs;     // mkvmerge's, in track order
        std::vector<std::string> languages;  // mkvmerge's
        std::vector<double> subtitles;       // seconds from the first video frame
        // The source as one file ffprobe reads the title's times from; empty: none.
        std::string probed;
        std::vector<std::pair<double, std::string>> chapters;  // from the first video frame
        std::vector<std::string> names;  // mkvmerge's track names; none: no names checked
    };
    const std::string root = dir.path().string();
    std::vector<std::pair<double, std::string>> dvdChapters;
    const Json lsdvd = lsdvdTitles(root + "/DISC");
    for (const Json& chapter : lsdvd[0]["chapters"]) {
        char name[16];
        std::snprintf(name, sizeof name, "Chapter %02d", chapter["number"].get<int>());
        dvdChapters.emplace_back(chapter["start"].get<double>(), name);
    }
    ASSERT_GE(dvdChapters.size(), 2U);
    const std::vector<Case> cases = {
        {{root + "/DISC", "--title", "1"},
         0.04,
         {"MPEG-1/2", "AC-3", "VobSub"},
         {"und", "und", "eng"},
         {1.2, 3.2, 7.2, 9.2},
         "",
         dvdChapters},
        {{root + "/hd/DISC", "--title", "1"},
         1001.0 / 24000,
         {"MPEG-1/2", "AC-3", "E-AC-3", "DTS", "TrueHD", "PCM", "HDMV PGS", "HDMV PGS"},
         {"und", "eng", "eng", "fre", "ger", "und", "eng", "fre"},
         {},
         "",
         playlistChapters(root + "/hd/DISC/ADV_OBJ/VPLST000.XPL"),
         {"", "English", "English", "French", "German", "Commentary", "English", "French"}},
        {{root + "/LDISC", "--title", "1"},
         0.04,
         {"MPEG-1/2", "PCM", "PCM"},
         {"und", "und", "und"},
         {},
         root + "/LDISC/VIDEO_TS/VTS_01_1.VOB",
         {{0, "Chapter 01"}}},
        {{root + "/LPCM.VOB"},
         0.04,
         {"MPEG-1/2", "AC-3", "PCM"},
         {"und", "und", "und"},
         {},
         root + "/LPCM.VOB"},
        {{root + "/AVC.VOB"},
         0.04,
         {"AVC/H.264/MPEG-4p10", "AC-3"},
         {"und", "und"},
         {},
         root + "/AVC.VOB"},
        // Pictures of three fields and of two: no one frame step.
        {{root + "/TELECINE.VOB"}, 0, {"MPEG-1/2"}, {"und"}, {}, root + "/TIMED.VOB"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.source[0]);
        const std::string out = (dir.path() / "out.mkv").string();
        std::vector<std::string> args = {"mkv"};
        args.insert(args.end(), c.source.begin(), c.source.end());
        args.insert(args.end(), {"-o", out, "--json"});
        const fixture::ProcessResult made = fixture::runProcess(TOLVANE_CLI, args, "/");
        ASSERT_EQ(made.status, 0) << made.err;
        const Json report = Json::parse(made.out);

        const Json info = Json::parse(fixture::runProcess("mkvmerge", {"-J", out}, "/").out);
        EXPECT_TRUE(info["warnings"].empty()) << info["warnings"];
        ASSERT_EQ(info["tracks"].size(), c.codecs.size());
        for (size_t k = 0; k < c.codecs.size(); ++k) {
            const Json& track = info["tracks"][k];
            EXPECT_EQ(track["codec"], c.codecs[k]) << k;
            EXPECT_EQ(track["properties"]["language"], c.languages[k]) << k;
            EXPECT_EQ(track["properties"]["default_track"], k < 2) << k;
            if (!c.names.empty()) {
                EXPECT_EQ(track["properties"].value("track_name", ""), c.names[k]) << k;
            }
        }
        // ffmpeg decodes every track without a word, or with the words it has for mkvmerge's
        // file of the same source (it remarks on soft telecine in Matroska whoever wrote it).
        const auto decodeRemarks = [](const std::string& file) {
            const std::string said =
                fixture::runProcess("/bin/sh",
                                    {"-c", "ffmpeg -v error -i '" + file +
                                               "' -f null - 2>&1 | sed 's/ @ 0x[0-9a-f]*//'"},
                                    "/")
                    .out;
            return said;
        };
        std::string remarks;
        if (!c.probed.empty()) {
            const std::string theirs = (dir.path() / "mkvmerge.mkv").string();
            ASSERT_LE(fixture::runProcess("mkvmerge", {"-q", "-o", theirs, c.probed}, "/").status,
                      1);
            remarks = decodeRemarks(theirs);
        }
        EXPECT_EQ(decodeRemarks(out), remarks);

        const std::vector<double> video = packetTimes(out, "v:0");
        ASSERT_EQ(static_cast<int>(video.size()), report["frames"][0]["counted"].get<int>());
        std::vector<double> sorted = video;
        std::sort(sorted.begin(), sorted.end());
        // One frame apart, but where the read found a seam: the next part begins where the
        // navigation packs say the last one ended, a little after its last frame.
        size_t longer = 0;
        for (size_t k = 1; k < sorted.size() && c.frameSeconds > 0; ++k) {
            const double step = sorted[k] - sorted[k - 1];
            if (std::abs(step - c.frameSeconds) > 0.001) {
                ++longer;
                EXPECT_GT(step, c.frameSeconds) << "frame " << k;
                EXPECT_LT(step, c.frameSeconds + 0.05) << "frame " << k;
            }
        }
        EXPECT_LE(longer, report.value("seams", Json::array()).size());
        // Each coded track is what the demux writes of its stream, byte for byte.
        const std::filesystem::path demuxed = dir.path() / "demuxed";
        std::filesystem::remove_all(demuxed);
        std::filesystem::create_directory(demuxed);
        std::vector<std::string> demux = {"demux"};
        demux.insert(demux.end(), c.source.begin(), c.source.end());
        demux.insert(demux.end(), {"-o", demuxed.string()});
        ASSERT_EQ(fixture::runProcess(TOLVANE_CLI, demux, "/").status, 0);
        std::set<fixture::Bytes> streams;
        for (const auto& entry : std::filesystem::directory_iterator(demuxed)) {
            streams.insert(fixture::readFile(entry.path()));
        }
        for (size_t k = 0; k < c.codecs.size(); ++k) {
            // PCM is converted, VobSub packed anew, H.264 stored with lengths, not start codes,
            // PGS timed from the file's start (its drawing is checked with HD DVD's subpictures).
            if (c.codecs[k] == "PCM" || c.codecs[k] == "VobSub" || c.codecs[k] == "HDMV PGS" ||
                c.codecs[k] == "AVC/H.264/MPEG-4p10") {
                continue;
            }
            const std::string track = (dir.path() / ("track" + std::to_string(k))).string();
            ASSERT_EQ(fixture::runProcess("mkvextract",
                                          {out, "tracks", std::to_string(k) + ":" + track}, "/")
                          .status,
                      0);
            EXPECT_TRUE(streams.contains(fixture::readFile(track))) << c.codecs[k];
        }

        const std::vector<double> subtitles =
            c.subtitles.empty() ? std::vector<double>{} : packetTimes(out, "s:0");
        ASSERT_EQ(subtitles.size(), c.subtitles.size());
        for (size_t k = 0; k < subtitles.size(); ++k) {
            EXPECT_NEAR(subtitles[k] - sorted[0], c.subtitles[k], 0.04) << "subtitle " << k;
        }
        EXPECT_EQ(numbers("ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                          "stream=nb_read_frames -of csv=p=0 '" +
                          out + "'"),
                  std::vector<double>{static_cast<double>(video.size())});
        const Json chapters = Json::parse(
            fixture::runProcess(
                "/bin/sh", {"-c", "ffprobe -v error -show_chapters -of json '" + out + "'"}, "/")
                .out)["chapters"];
        ASSERT_EQ(chapters.size(), c.chapters.size());
        for (size_t k = 0; k < chapters.size(); ++k) {
            EXPECT_NEAR(std::stod(chapters[k]["start_time"].get<std::string>()) - sorted[0],
                        c.chapters[k].first, 0.001)
                << "chapter " << k;
            EXPECT_EQ(chapters[k]["tags"]["title"], c.chapters[k].second) << "chapter " << k;
        }
        if (c.probed.empty()) {
            continue;
        }
        // The source's own times, counted from its first video frame, within a millisecond.
        std::vector<double> theirs = numbers(
            "ffprobe -v error -select_streams v:0 -show_entries "
            "frame=best_effort_timestamp_time -of csv=p=0 '" +
            c.probed + "'");
        std::sort(theirs.begin(), theirs.end());
        ASSERT_EQ(theirs.size(), sorted.size());
        for (size_t k = 0; k < sorted.size(); ++k) {
            ASSERT_NEAR(sorted[k] - sorted[0], theirs[k] - theirs[0], 0.001) << "frame " << k;
        }
        for (size_t k = 1; k < c.codecs.size(); ++k) {
            const std::string audio = "a:" + std::to_string(k - 1);
            const std::vector<double> ours = packetTimes(out, audio);
            const std::vector<double> source = packetTimes(c.probed, audio);
            ASSERT_FALSE(ours.empty() || source.empty()) << audio;
            EXPECT_NEAR(ours[0] - sorted[0], source[0] - theirs[0], 0.001) << audio;
            if (c.codecs[k] != "PCM") {
                continue;
            }
            // LPCM holds the samples of ffmpeg's own decode of the source.
            const auto decode = [&](const std::string& file) {
                return fixture::runProcess("/bin/sh",
                                           {"-c", "ffmpeg -v error -i '" + file + "' -map 0:" +
                                                      audio + " -c:a pcm_s24le -f s24le -"},
                                           "/")
                    .out;
            };
            const std::string decodedOurs = decode(out);
            const std::string decodedTheirs = decode(c.probed);
            ASSERT_FALSE(decodedTheirs.empty()) << audio;
            EXPECT_TRUE(decodedOurs == decodedTheirs)
                << audio << ": " << decodedOurs.size() << " bytes against " << decodedTheirs.size();
        }
        if (c.codecs[0] == "AVC/H.264/MPEG-4p10") {
            // H.264 is stored with lengths: both give the same stream as ffmpeg copies it out.
            const auto copied = [&](const std::string& file) {
                return fixture::runProcess(
                           "/bin/sh",
                           {"-c", "ffmpeg -v error -i '" + file + "' -map 0:v:0 -c copy -f h264 -"},
                           "/")
                    .out;
            };
            const std::string source = copied(c.probed);
            ASSERT_FALSE(source.empty());
            EXPECT_TRUE(copied(out) == source);
        }
    }
}

// Five titles of one title set, as dvdauthor authors them, then made into what discs sold with
// decoys carry by pointing their program chains' cells elsewhere (what no authoring tool does):
// title 2 plays title 1's cells, title 3 the same cells out of order, title 5 title 1's first
// cell over and over; title 4 lasts a second.
const char* const kDecoys = R"(set -e
export VIDEO_FORMAT=PAL
for clip in main:12:440 twin:12:550 mixed:12:660 logo:1:770 loop:12:880; do
  name=${clip%%:*}; rest=${clip#*:}; seconds=${rest%%:*}; tone=${rest#*:}
  ffmpeg -v error -f lavfi -i testsrc2=size=720x576:rate=25:duration=$seconds \
    -f lavfi -i sine=frequency=$tone:sample_rate=48000:duration=$seconds \
    -target pal-dvd -b:v 500k $name.mpg
done
cat > disc.xml <<END
<dvdauthor dest="DISC"><vmgm><fpc>jump title 1;</fpc></vmgm><titleset><titles>
<pgc><vob file="main.mpg" chapters="0,2,4,6,8,10"/></pgc>
<pgc><vob file="twin.mpg" chapters="0,2,4,6,8,10"/></pgc>
<pgc><vob file="mixed.mpg" chapters="0,2,4,6,8,10"/></pgc>
<pgc><vob file="logo.mpg"/></pgc>
<pgc><vob file="loop.mpg" chapters="0,2,4,6,8,10"/></pgc>
</titles></titleset></dvdauthor>
END
dvdauthor -x disc.xml 2> /dev/null
)";

// Points the cells of program chain `chain` (from 1) of a title set's information file at the
// cells `cells` (from 0) of its program chain 1, entry for entry: playback and position.
void pointCellsAtFirstChain(fixture::Bytes& ifo, int chain, const std::vector<int>& cells) {
    const auto u16 = [&](size_t at) { return static_cast<size_t>(ifo[at] << 8 | ifo[at + 1]); };
    const auto u32 = [&](size_t at) { return u16(at) << 16 | u16(at + 2); };
    const size_t table = u32(0xCC) * 2048;  // the program chain table
    const auto chainAt = [&](int number) {
        return table + u32(table + 8 + static_cast<size_t>(number - 1) * 8 + 4);
    };
    const size_t from = chainAt(1);
    const size_t to = chainAt(chain);
    ASSERT_EQ(ifo[to + 3], cells.size()) << "program chain " << chain << "'s cells";
    for (size_t k = 0; k < cells.size(); ++k) {
        const auto cell = static_cast<size_t>(cells[k]);
        ASSERT_LT(cell, ifo[from + 3]);
        std::copy_n(ifo.begin() + static_cast<long>(from + u16(from + 0xE8) + cell * 24), 24,
                    ifo.begin() + static_cast<long>(to + u16(to + 0xE8) + k * 24));
        std::copy_n(ifo.begin() + static_cast<long>(from + u16(from + 0xEA) + cell * 4), 4,
                    ifo.begin() + static_cast<long>(to + u16(to + 0xEA) + k * 4));
    }
}

// The listing marks the main title, each decoy and duplicate and the short title with its
// reason, on a disc lsdvd still reads whole; `--title main` takes the main title.
TEST(DvdDisc, TitlesMarkTheMainTitleAmongDecoysAndTitleMainTakesIt) {
    for (const char* tool : {"ffmpeg", "dvdauthor", "lsdvd"}) {
        if (!installed(tool)) {
            GTEST_SKIP() << tool << " is not installed";
        }
    }
    fixture::TempDir dir;
    ASSERT_EQ(fixture::runProcess("/bin/sh", {"-c", kDecoys}, dir.path().string()).status, 0);
    const std::filesystem::path folder = dir.path() / "DISC" / "VIDEO_TS";
    fixture::Bytes ifo = fixture::readFile(folder / "VTS_01_0.IFO");
    pointCellsAtFirstChain(ifo, 2, {0, 1, 2, 3, 4, 5});
    pointCellsAtFirstChain(ifo, 3, {3, 0, 4, 1, 5, 2});
    pointCellsAtFirstChain(ifo, 5, {0, 0, 0, 0, 0, 0});
    fixture::writeFile(folder / "VTS_01_0.IFO", ifo);
    fixture::writeFile(folder / "VTS_01_0.BUP", ifo);
    const std::string disc = (dir.path() / "DISC").string();
    ASSERT_EQ(lsdvdTitles(disc).size(), 5U);

    const Json listed = Json::parse(
        fixture::runProcess(TOLVANE_CLI, {"titles", disc, "--json"}, "/").out)["titles"];
    std::vector<std::string> roles;
    for (const Json& title : listed) {
        roles.push_back(title.value("role", "plain") + ": " + title.value("reason", ""));
    }
    EXPECT_EQ(listed[0].value("first_play", false), true);
    EXPECT_EQ(roles, (std::vector<std::string>{"main: ", "duplicate: the same cells as title 1",
                                               "decoy: its cells jump back 3 times",
                                               "short: shorter than 10 s",
                                               "decoy: it plays its cells again (5 cells)"}));
    const std::string text =
        fixture::runProcess(TOLVANE_CLI, {"titles", disc, "--min-length", "0"}, "/").out;
    EXPECT_NE(text.find("Title 1: main title, 0:00:12.000"), std::string::npos) << text;
    EXPECT_NE(text.find("Title 4: 0:00:01.000"), std::string::npos) << text;

    const fixture::ProcessResult made = fixture::runProcess(
        TOLVANE_CLI, {"mkv", disc, "--title", "main", "-o", dir.path().string(), "--json"}, "/");
    ASSERT_EQ(made.status, 0) << made.err;
    const Json report = Json::parse(made.out);
    EXPECT_EQ(report["outputs"][0]["path"], (dir.path() / "DISC_title01.mkv").string());
    EXPECT_EQ(report["frames"][0]["counted"], 300);

    // Every real title: the main one here, and the short one when nothing is too short.
    for (const auto& [command, minimum, expected] :
         {std::tuple{"mkv", "10", std::set<std::string>{"DISC_title01.mkv"}},
          std::tuple{"mkv", "0", std::set<std::string>{"DISC_title01.mkv", "DISC_title04.mkv"}},
          std::tuple{"demux", "10",
                     std::set<std::string>{"DISC_title01.MPEG-2.stream.0.mpv",
                                           "DISC_title01.DD.stream.00.mpa"}}}) {
        const std::filesystem::path out = dir.path() / (std::string(command) + minimum);
        const fixture::ProcessResult all = fixture::runProcess(
            TOLVANE_CLI,
            {command, disc, "--all-titles", "--min-length", minimum, "-o", out.string()}, "/");
        ASSERT_EQ(all.status, 0) << all.err;
        std::set<std::string> written;
        for (const auto& entry : std::filesystem::directory_iterator(out)) {
            written.insert(entry.path().filename().string());
        }
        EXPECT_EQ(written, expected) << command << " --min-length " << minimum;
    }
}

}  // namespace
}  // namespace tolvane
