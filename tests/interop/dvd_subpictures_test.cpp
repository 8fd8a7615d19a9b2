// Subpictures of a 16:9 DVD title as spumux and dvdauthor author them: some forced on screen
// (spumux's force="yes"), and a stream whose wide and letterbox pictures are apart.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "child_process.h"
#include "temp_dir.h"

namespace tolvane {
namespace {

using Json = nlohmann::json;

// One title of 8 s in 16:9. spumux stream 0 (German) has three subpictures, the second
// forced; streams 1 and 2 have two, both forced. dvdauthor makes stream 1 the English wide
// one and stream 2 its letterbox one, which the disc calls forced, and stream 0 the German.
const char* const kAuthor = R"(set -e
export VIDEO_FORMAT=PAL
ffmpeg -v error -f lavfi -i testsrc2=size=720x576:rate=25:duration=8 \
  -f lavfi -i sine=frequency=440:sample_rate=48000:duration=8 -target pal-dvd -b:v 800k \
  -aspect 16:9 t.mpg
ffmpeg -v error -f lavfi -i \
  'color=c=black@0.0:s=720x576,format=rgba,drawbox=x=100:y=400:w=300:h=60:color=white@1:t=fill' \
  -frames:v 1 a.png
cat > some.xml <<END
<subpictures><stream>
<spu start="00:00:01.00" end="00:00:02.00" image="a.png"/>
<spu start="00:00:03.00" end="00:00:04.00" image="a.png" force="yes"/>
<spu start="00:00:05.00" end="00:00:06.00" image="a.png"/>
</stream></subpictures>
END
cat > all.xml <<END
<subpictures><stream>
<spu start="00:00:02.00" end="00:00:03.00" image="a.png" force="yes"/>
<spu start="00:00:06.00" end="00:00:07.00" image="a.png" force="yes"/>
</stream></subpictures>
END
spumux -s 0 some.xml < t.mpg > t0.mpg 2>/dev/null
spumux -s 1 all.xml < t0.mpg > t1.mpg 2>/dev/null
spumux -s 2 all.xml < t1.mpg > t2.mpg 2>/dev/null
cat > disc.xml <<END
<dvdauthor dest="DISC"><vmgm/><titleset><titles>
<video aspect="16:9" widescreen="nopanscan"/>
<subpicture lang="en" content="forced"><stream mode="widescreen" id="1"/><stream mode="letterbox" id="2"/></subpicture>
<subpicture lang="de"><stream mode="widescreen" id="0"/></subpicture>
<pgc><vob file="t2.mpg"/></pgc>
</titles></titleset></dvdauthor>
END
dvdauthor -x disc.xml 2>/dev/null
)";

TEST(DvdDisc, ForcedSubpicturesAreCountedAndEveryViewportIsAStreamOfItsLanguage) {
    for (const char* tool : {"ffmpeg", "ffprobe", "spumux", "dvdauthor"}) {
        if (!fixture::installed(tool)) {
            GTEST_SKIP() << tool << " is not installed: no disc to author";
        }
    }
    fixture::TempDir dir;
    const fixture::ProcessResult made =
        fixture::runProcess("/bin/sh", {"-c", kAuthor}, dir.path().string());
    ASSERT_EQ(made.status, 0) << made.err;
    const std::string disc = (dir.path() / "DISC").string();

    // ffprobe finds the three streams spumux wrote, at the ids it was given.
    const std::string probed =
        fixture::runProcess("ffprobe",
                            {"-v", "error", "-select_streams", "s", "-show_entries", "stream=id",
                             "-of", "csv=p=0", disc + "/VIDEO_TS/VTS_01_1.VOB"},
                            "/")
            .out;
    for (const char* id : {"0x20", "0x21", "0x22"}) {
        EXPECT_NE(probed.find(id), std::string::npos) << probed;
    }
    // The title lists the wide ids as the streams and the letterbox one as a stream of its
    // own, in its stream's language.
    const Json titles =
        Json::parse(fixture::runProcess(TOLVANE_CLI, {"titles", disc, "--json"}, "/").out);
    Json listed;
    for (const Json& stream : titles["titles"][0]["streams"]) {
        if (stream["kind"] == "subpicture") {
            listed.push_back(stream);
        }
    }
    EXPECT_EQ(listed, Json::parse(R"([
        {"kind": "subpicture", "id": 33, "coding": "dvd_subtitle", "language": "en",
         "content": "forced"},
        {"kind": "subpicture", "id": 32, "coding": "dvd_subtitle", "language": "de"},
        {"kind": "subpicture", "id": 34, "coding": "dvd_subtitle", "language": "en",
         "viewport": "letterbox", "content": "forced"}])"));

    const fixture::ProcessResult demuxed = fixture::runProcess(
        TOLVANE_CLI, {"demux", disc, "--title", "1", "--json", "-o", (dir.path() / "out").string()},
        "/");
    ASSERT_EQ(demuxed.status, 0) << demuxed.err;
    const Json report = Json::parse(demuxed.out);
    Json counted;
    for (const Json& stream : report["streams"]) {
        if (stream["kind"] == "subpicture") {
            counted.push_back({stream["id"], stream.value("language", ""),
                               stream.value("viewport", ""), stream["subpictures"],
                               stream["forced_subpictures"], stream.value("forced_only", false)});
        }
    }
    EXPECT_EQ(counted, Json::parse(R"([[32, "de", "", 3, 1, false], [33, "en", "", 2, 2, true],
                                       [34, "en", "letterbox", 2, 2, true]])"));
    EXPECT_TRUE(std::filesystem::exists(dir.path() / "out" /
                                        "DISC_title01.Subpicture.02.en.letterbox.idx"));

    // The forced subpictures apart: VobSub files that ffprobe reads with exactly the forced
    // times, and Matroska tracks that mkvmerge sees marked forced.
    const std::filesystem::path apart = dir.path() / "apart";
    ASSERT_EQ(fixture::runProcess(
                  TOLVANE_CLI,
                  {"demux", disc, "--title", "1", "--forced-tracks", "-o", apart.string()}, "/")
                  .status,
              0);
    const auto times = [](const std::string& file, const std::string& select) {
        return fixture::runProcess("ffprobe",
                                   {"-v", "error", "-select_streams", select, "-show_entries",
                                    "packet=pts_time", "-of", "csv=p=0", file},
                                   "/")
            .out;
    };
    EXPECT_EQ(times((apart / "DISC_title01.Subpicture.00.de.forced.idx").string(), "s"),
              "3.000000\n");
    EXPECT_EQ(times((apart / "DISC_title01.Subpicture.01.en.forced.idx").string(), "s"),
              "2.000000\n6.000000\n");
    if (!fixture::installed("mkvmerge")) {
        return;
    }
    const std::string mkv = (dir.path() / "forced.mkv").string();
    ASSERT_EQ(fixture::runProcess(TOLVANE_CLI,
                                  {"mkv", disc, "--title", "1", "--forced-tracks", "-o", mkv}, "/")
                  .status,
              0);
    const Json tracks =
        Json::parse(fixture::runProcess("mkvmerge", {"-J", mkv}, "/").out)["tracks"];
    std::vector<std::string> subtitles;
    for (const Json& track : tracks) {
        if (track["type"] == "subtitles") {
            subtitles.push_back(
                track["properties"]["language"].get<std::string>() +
                (track["properties"].value("forced_track", false) ? " forced" : ""));
        }
    }
    // The streams the disc calls forced are marked so without asking.
    EXPECT_EQ(subtitles, (std::vector<std::string>{"ger", "ger forced", "eng forced", "eng forced",
                                                   "eng forced", "eng forced"}));
    // The German forced track (the file's fourth) holds the one forced subpicture, at its time
    // from the title's first picture.
    const std::string forcedTimes = times(mkv, "3");
    EXPECT_EQ(forcedTimes.substr(0, 4), "3.00") << forcedTimes;
    EXPECT_EQ(std::count(forcedTimes.begin(), forcedTimes.end(), '\n'), 1) << forcedTimes;
}

}  // namespace
}  // namespace tolvane
