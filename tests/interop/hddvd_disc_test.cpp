// HD DVD disc folders: the sample disc's playlist titles as tolvane-cli lists them, and each
// title read as its clips in playlist order, against the same files read by name.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

#include "child_process.h"
#include "form_fixture.h"
#include "report_keys.h"
#include "temp_dir.h"
#include "udf_image.h"

namespace tolvane {
namespace {

using Json = nlohmann::json;
namespace fs = std::filesystem;

std::string bytes(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(file)), {});
}

// Every file of `folder` by name, with its bytes.
std::map<std::string, std::string> filesIn(const fs::path& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::directory_iterator(folder)) {
        files[entry.path().filename().string()] = bytes(entry.path());
    }
    return files;
}

// One JSON document a line, as titles prints them.
std::vector<Json> jsonLines(const std::string& text) {
    std::istringstream lines(text);
    std::vector<Json> documents;
    for (std::string line; std::getline(lines, line);) {
        documents.push_back(Json::parse(line));
    }
    return documents;
}

fixture::ProcessResult cli(const std::vector<std::string>& args) {
    return fixture::runProcess(TOLVANE_CLI, args, "/");
}

// The sample disc, and beside it REORDERED: the same files with a playlist of its own whose
// title 5 plays the trailer before the feature's first file, its audio in French by langcode.
struct SampleDiscs {
    fixture::TempDir dir;
    fs::path disc;
    fs::path reordered;

    SampleDiscs() : disc(dir.path() / "DISC"), reordered(dir.path() / "REORDERED") {
        const fixture::ProcessResult made =
            fixture::runProcess(TOLVANE_SAMPLE_DISC, {dir.path().string()}, "/");
        EXPECT_EQ(made.status, 0) << made.err;
        fs::copy(disc, reordered, fs::copy_options::recursive);
        std::ofstream(reordered / "ADV_OBJ" / "VPLST000.XPL") << R"(<?xml version="1.0"?>
<Playlist><MediaAttributeList>
<VideoAttributeItem index="1" codec="MPEG-2"/><AudioAttributeItem index="1" codec="DD" channels="6"/>
</MediaAttributeList><TitleSet timeBase="60fps">
<Title titleNumber="5" displayName="Trailer &amp; feature" titleDuration="00:00:08:00">
<PrimaryAudioVideoClip src="file:///dvddisc/HVDVD_TS/TRAILER_1.MAP" titleTimeBegin="00:00:00:00" titleTimeEnd="00:00:02:00">
<Video track="1" mediaAttr="1"/><Audio track="1" streamNumber="1" mediaAttr="1" langcode="fr:00" description="Francais"/>
</PrimaryAudioVideoClip>
<PrimaryAudioVideoClip src="file:///dvddisc/hvdvd_ts/feature_1.map" titleTimeBegin="00:00:02:00" titleTimeEnd="00:00:08:00"/>
<ChapterList><Chapter titleTimeBegin="00:00:02:00" displayName="Feature"/></ChapterList>
</Title></TitleSet></Playlist>
)";
    }
};

TEST(HdDvdDisc, TitlesAreThePlaylistsAndReadAsTheirClipsInPlaylistOrder) {
    SampleDiscs discs;
    const fs::path out = discs.dir.path() / "out";

    // The playlist's titles, from the disc folder and from its HVDVD_TS folder alike; each
    // clip's length is its file's, as ffprobe measures it, to a frame.
    for (const fs::path& path : {discs.disc, discs.disc / "HVDVD_TS"}) {
        const fixture::ProcessResult listed = cli({"titles", path.string(), "--json"});
        ASSERT_EQ(listed.status, 0) << listed.err;
        const Json report = Json::parse(listed.out);
        EXPECT_EQ(report["disc"]["kind"], "hddvd");
        ASSERT_EQ(report["titles"].size(), 2U);
        const Json& feature = report["titles"][0];
        EXPECT_EQ(feature["name"], "Sample Feature");
        std::vector<std::string> clips;
        for (const Json& clip : feature["clips"]) {
            clips.push_back(clip["evo"]);
            const std::string probed =
                fixture::runProcess("/bin/sh",
                                    {"-c",
                                     "ffprobe -v error -show_entries format=duration -of "
                                     "csv=p=0 HVDVD_TS/" +
                                         clip["evo"].get<std::string>()},
                                    discs.disc.string())
                    .out;
            EXPECT_NEAR(clip["end"].get<double>() - clip["begin"].get<double>(), std::stod(probed),
                        0.05)
                << clip;
        }
        EXPECT_EQ(clips, (std::vector<std::string>{"FEATURE_1.EVO", "FEATURE_2.EVO"}));
        // The measured length is the frames' own: 216 at 24000/1001, as the read counts them.
        EXPECT_NEAR(feature["measured_duration"].get<double>(), 216 * 1001 / 24000.0, 0.001);
        EXPECT_EQ(feature["chapters"][2],
                  (Json{{"number", 3}, {"start", 6.0}, {"name", "Second file"}}));
        std::set<std::string> keys;
        fixture::keyPaths(report, "", keys);
        std::ifstream format(TOLVANE_REPORT_FORMAT);
        const std::string document((std::istreambuf_iterator<char>(format)), {});
        for (const std::string& key : keys) {
            EXPECT_NE(document.find("| `" + key + "` |"), std::string::npos)
                << key << " is not in docs/report-format.md";
        }
        EXPECT_EQ(feature["streams"][3], (Json{{"kind", "audio"},
                                               {"id", 0x8A},
                                               {"number", 2},
                                               {"coding", "dts"},
                                               {"channels", 6},
                                               {"language", "French"}}));
    }

    // What the disc or the outputs refuse is refused before a folder is made or a block read,
    // with the real reason: a title it does not have (1), a chapters file in a folder that takes
    // no new files (1), VobSub of HD DVD subpictures (a usage error, 2).
    for (const auto& [args, status, reason] :
         {std::tuple{std::vector<std::string>{"--title", "7"}, 1, "has no title 7: it has 2."},
          std::tuple{std::vector<std::string>{"--title", "1", "--chapters", "/proc/ch.xml"}, 1,
                     "Cannot write into folder \"/proc\". It takes no new files"},
          std::tuple{std::vector<std::string>{"--title", "1", "--sub-format", "vobsub"}, 2,
                     "--sub-format vobsub takes the subpictures of a DVD"}}) {
        std::vector<std::string> command = {"demux", discs.disc.string(), "-o",
                                            (out / "refused").string()};
        command.insert(command.end(), args.begin(), args.end());
        const fixture::ProcessResult refused = cli(command);
        EXPECT_EQ(refused.status, status) << refused.err;
        EXPECT_NE(refused.err.find(reason), std::string::npos) << refused.err;
        EXPECT_EQ(refused.out.find("Reading..."), std::string::npos) << refused.out;
        EXPECT_FALSE(fs::exists(out / "refused"));
    }

    // Title 1 gives what its first file gives by the name rule, byte for byte, with the
    // playlist's languages in the names; its rebuild is the same file too.
    ASSERT_EQ(
        cli({"demux", discs.disc.string(), "--title", "1", "-o", (out / "title").string()}).status,
        0);
    ASSERT_EQ(cli({"demux", (discs.disc / "HVDVD_TS" / "FEATURE_1.EVO").string(), "-o",
                   (out / "file").string()})
                  .status,
              0);
    std::map<std::string, std::string> byTitle = filesIn(out / "title");
    std::map<std::string, std::string> byFile = filesIn(out / "file");
    EXPECT_EQ(byTitle.size(), 8U);
    for (const auto& [title, file] :
         {std::pair{"MPEG-2.stream.0.mpv", "MPEG-2.stream.0.mpv"},
          std::pair{"DTSHD.stream.02.French.mpa", "DTSHD.stream.02.mpa"},
          std::pair{"LPCM.stream.04.Commentary.wav", "LPCM.stream.04.wav"},
          std::pair{"Subpicture.01.French.sup", "Subpicture.01.sup"}}) {
        EXPECT_FALSE(byFile["FEATURE_1_FEATURE_2." + std::string(file)].empty()) << file;
        EXPECT_TRUE(byTitle["DISC_title01." + std::string(title)] ==
                    byFile["FEATURE_1_FEATURE_2." + std::string(file)])
            << title;
    }
    ASSERT_EQ(cli({"rebuild", discs.disc.string(), "--title", "1", "-o", (out / "title").string()})
                  .status,
              0);
    ASSERT_EQ(cli({"rebuild", (discs.disc / "HVDVD_TS" / "FEATURE_1.EVO").string(), "-o",
                   (out / "file").string()})
                  .status,
              0);
    EXPECT_TRUE(bytes(out / "title" / "DISC_title01.rebuilt.EVO") ==
                bytes(out / "file" / "FEATURE_1_FEATURE_2.rebuilt.EVO"));

    // The disc in a UDF image made by genisoimage, and in a UDF 2.50 image with a metadata
    // partition as HD DVD images are, gives the same titles and files, read through
    // libudfread, and no image is ever written.
    const fs::path image = discs.dir.path() / "hddvd.iso";
    ASSERT_EQ(
        fixture::runProcess(
            "genisoimage",
            {"-quiet", "-udf", "-V", "SAMPLE", "-o", image.string(), discs.disc.string()}, "/")
            .status,
        0);
    const fs::path udf250 = discs.dir.path() / "udf250.iso";
    fixture::writeUdf250Image(discs.disc, udf250);
    Json fromFolder = Json::parse(cli({"titles", discs.disc.string(), "--json"}).out);
    fromFolder.erase("disc");
    for (const fs::path& path : {image, udf250}) {
        SCOPED_TRACE(path.string());
        const auto imageTime = fs::last_write_time(path);
        const fixture::ProcessResult listed = cli({"titles", path.string(), "--json"});
        ASSERT_EQ(listed.status, 0) << listed.err;
        Json fromImage = Json::parse(listed.out);
        EXPECT_EQ(fromImage["disc"]["kind"], "hddvd");
        fromImage.erase("disc");
        EXPECT_EQ(fromImage, fromFolder);
        const fs::path files = out / path.stem();
        ASSERT_EQ(cli({"demux", path.string(), "--title", "1", "-o", files.string()}).status, 0);
        std::map<std::string, std::string> byImage;
        for (auto& [name, content] : filesIn(files)) {
            byImage["DISC" + name.substr(path.stem().string().size())] = std::move(content);
        }
        EXPECT_TRUE(byImage == byTitle);
        EXPECT_EQ(fs::last_write_time(path), imageTime);
    }

    // A title whose clips are not in name order plays them in playlist order: its video is
    // the trailer's, then the feature's first file's, each as read alone.
    for (const auto& [source, folder] :
         {std::pair{discs.reordered.string() + "/HVDVD_TS/TRAILER_1.EVO", "trailer"},
          std::pair{discs.reordered.string() + "/HVDVD_TS/FEATURE_1.EVO", "first"}}) {
        ASSERT_EQ(cli({"demux", source, "--no-continue", "-o", (out / folder).string()}).status, 0);
    }
    const fixture::ProcessResult reordered = cli({"demux", discs.reordered.string(), "--title", "5",
                                                  "-o", (out / "reordered").string(), "--json"});
    ASSERT_EQ(reordered.status, 0) << reordered.err;
    EXPECT_TRUE(bytes(out / "reordered" / "REORDERED_title05.MPEG-2.stream.0.mpv") ==
                bytes(out / "trailer" / "TRAILER_1.MPEG-2.stream.0.mpv") +
                    bytes(out / "first" / "FEATURE_1.MPEG-2.stream.0.mpv"));
    EXPECT_EQ(Json::parse(reordered.out)["streams"][1]["language"], "fr");
    // Its playlist is small enough to be kept inside its file entry in a UDF 2.50 image.
    const fs::path small = discs.dir.path() / "reordered250.iso";
    fixture::writeUdf250Image(discs.reordered, small);
    const fixture::ProcessResult listed = cli({"titles", small.string(), "--json"});
    ASSERT_EQ(listed.status, 0) << listed.err;
    EXPECT_EQ(Json::parse(listed.out)["titles"][0]["name"], "Trailer & feature");

    // What the disc lacks is said, and nothing is written.
    fs::remove(discs.reordered / "HVDVD_TS" / "FEATURE_1.EVO");
    fixture::ProcessResult failed = cli({"read", discs.reordered.string(), "--title", "5"});
    EXPECT_EQ(failed.status, 1);
    EXPECT_NE(failed.err.find("which clip feature_1.map of title 5 plays"), std::string::npos)
        << failed.err;
    failed = cli({"read", discs.reordered.string(), "--title", "1"});
    EXPECT_NE(failed.err.find("has no title 1: it has 1."), std::string::npos) << failed.err;
    std::ofstream(discs.reordered / "ADV_OBJ" / "VPLST000.XPL") << "<Playlist><TitleSet>";
    failed = cli({"titles", discs.reordered.string()});
    EXPECT_EQ(failed.status, 1);
    EXPECT_NE(failed.err.find("VPLST000.XPL has no title"), std::string::npos) << failed.err;

    // The window lists the titles of the dropped folder and takes the longest.
    fixture::FormFixture window;
    window.form.setTicked(Control::cbAutoRead, false);
    window.form.WMDropFiles({discs.disc.string()});
    ASSERT_EQ(window.form.discTitles().size(), 2U);
    EXPECT_EQ(window.form.discTitle(), 1);
    EXPECT_EQ(window.form.titleEntry(window.form.discTitles()[1]),
              "Title 2: Trailer, 0:00:02.000, 1 chapter, audio English");
}

// The pack at or after the middle of `evo` whose video packet carries no time stamp: a cut
// there falls inside an access unit.
size_t packInsideVideoUnit(const fixture::Bytes& evo) {
    for (size_t at = evo.size() / 2 / 2048 * 2048; at + 2048 <= evo.size(); at += 2048) {
        const size_t pes = at + 14 + (evo[at + 13] & 7u);
        if (evo[pes] == 0 && evo[pes + 1] == 0 && evo[pes + 2] == 1 &&
            (evo[pes + 3] & 0xF0) == 0xE0 && (evo[pes + 7] & 0x80) == 0) {
            return at;
        }
    }
    ADD_FAILURE() << "no video packet without a time stamp after the middle";
    return evo.size();
}

TEST(HdDvdDisc, FfmpegsEvosCutInsideAccessUnitsAreTheirTitlesStreamsByteForByte) {
    // Two EVOs that ffmpeg muxes, each cut into two clips inside a video access unit, named so
    // that name order is not playlist order: H.264 and MPEG-2 video, each with AC-3 in two
    // languages, given by langcode or else by the description.
    struct Feature {
        const char* first;
        const char* second;
        std::vector<std::string> codecs;
    };
    const std::string film = "testsrc2=size=1280x720:rate=24000/1001:duration=3";
    const auto tone = [](int hz) {
        return "sine=frequency=" + std::to_string(hz) + ":sample_rate=48000:duration=3";
    };
    const std::vector<Feature> features = {
        {"FEATURE_B.EVO",
         "FEATURE_A.EVO",
         {"-c:v", "libx264", "-preset", "veryfast", "-pix_fmt", "yuv420p", "-c:a", "ac3", "-f",
          "vob"}},
        {"TRAILER_2.EVO",
         "TRAILER_1.EVO",
         {"-c:v", "mpeg2video", "-b:v", "6M", "-c:a", "ac3", "-f", "dvd"}},
    };
    fixture::TempDir dir;
    const fs::path disc = dir.path() / "FFDISC";
    fs::create_directories(disc / "HVDVD_TS");
    fs::create_directories(disc / "ADV_OBJ");
    std::vector<fs::path> uncut;
    for (const Feature& feature : features) {
        uncut.push_back(dir.path() / (std::string(feature.first) + ".whole"));
        std::vector<std::string> args = {
            "-v", "error", "-f", "lavfi",   "-i",   film, "-f",   "lavfi", "-i",   tone(440),
            "-f", "lavfi", "-i", tone(550), "-map", "0",  "-map", "1",     "-map", "2"};
        args.insert(args.end(), feature.codecs.begin(), feature.codecs.end());
        args.insert(args.end(), {"-y", uncut.back().string()});
        const fixture::ProcessResult made = fixture::runProcess("ffmpeg", args, "/");
        ASSERT_EQ(made.status, 0) << made.err;
        const fixture::Bytes evo = fixture::readFile(uncut.back());
        const auto cut = static_cast<std::ptrdiff_t>(packInsideVideoUnit(evo));
        fixture::writeFile(disc / "HVDVD_TS" / feature.first,
                           fixture::Bytes(evo.begin(), evo.begin() + cut));
        fixture::writeFile(disc / "HVDVD_TS" / feature.second,
                           fixture::Bytes(evo.begin() + cut, evo.end()));
    }
    std::ofstream(disc / "ADV_OBJ" / "VPLST000.XPL") << R"(<?xml version="1.0"?>
<Playlist><MediaAttributeList>
<VideoAttributeItem index="1" codec="AVC"/><VideoAttributeItem index="2" codec="MPEG-2"/>
<AudioAttributeItem index="1" codec="DD" channels="1"/><AudioAttributeItem index="2" codec="AC-3" channels="1"/>
</MediaAttributeList><TitleSet timeBase="60fps">
<Title titleNumber="1" displayName="Feature" titleDuration="00:00:03:00">
<PrimaryAudioVideoClip src="file:///dvddisc/HVDVD_TS/FEATURE_B.MAP" titleTimeBegin="00:00:00:00" titleTimeEnd="00:00:01:30">
<Video track="1" mediaAttr="1"/>
<Audio track="1" streamNumber="1" mediaAttr="1" langcode="en:00"/>
<Audio track="2" streamNumber="2" mediaAttr="1" langcode="de:00"/>
</PrimaryAudioVideoClip>
<PrimaryAudioVideoClip src="file:///dvddisc/HVDVD_TS/FEATURE_A.MAP" titleTimeBegin="00:00:01:30" titleTimeEnd="00:00:03:00"/>
</Title>
<Title titleNumber="2" displayName="Trailer" titleDuration="00:00:03:00">
<PrimaryAudioVideoClip src="file:///dvddisc/HVDVD_TS/TRAILER_2.MAP" titleTimeBegin="00:00:00:00" titleTimeEnd="00:00:01:30">
<Video track="1" mediaAttr="2"/><Audio track="1" streamNumber="1" mediaAttr="2" langcode="fr:00"/>
<Audio track="2" streamNumber="2" mediaAttr="2" langcode="" description="Japanese"/>
</PrimaryAudioVideoClip>
<PrimaryAudioVideoClip src="file:///dvddisc/HVDVD_TS/TRAILER_1.MAP" titleTimeBegin="00:00:01:30" titleTimeEnd="00:00:03:00"/>
</Title>
<Title titleNumber="3" displayName="Excerpt" titleDuration="00:00:02:00">
<PrimaryAudioVideoClip src="file:///dvddisc/HVDVD_TS/WHOLE_1.MAP" titleTimeBegin="00:00:00:00" titleTimeEnd="00:00:02:00" clipTimeBegin="00:00:01:00">
<Video track="1" mediaAttr="2"/><Audio track="1" streamNumber="1" mediaAttr="1" langcode="en:00"/>
</PrimaryAudioVideoClip>
</Title>
<Title titleNumber="4" displayName="Middle" titleDuration="00:00:01:00">
<PrimaryAudioVideoClip src="file:///dvddisc/HVDVD_TS/WHOLE_1.MAP" titleTimeBegin="00:00:00:00" titleTimeEnd="00:00:01:00" clipTimeBegin="00:00:01:00">
<Video track="1" mediaAttr="2"/><Audio track="1" streamNumber="1" mediaAttr="1" langcode="en:00"/>
</PrimaryAudioVideoClip>
</Title></TitleSet></Playlist>
)";
    // Title 3 plays the uncut MPEG-2 stream from its second second on.
    fs::copy_file(uncut[1], disc / "HVDVD_TS" / "WHOLE_1.EVO");
    const fs::path genisoimage = dir.path() / "genisoimage.iso";
    ASSERT_EQ(fixture::runProcess(
                  "genisoimage", {"-quiet", "-udf", "-o", genisoimage.string(), disc.string()}, "/")
                  .status,
              0);
    const fs::path udf250 = dir.path() / "udf250.iso";
    fixture::writeUdf250Image(disc, udf250);

    // A shelf of discs in one call: a line of JSON each, one that cannot be read among them.
    const fixture::ProcessResult shelf =
        cli({"titles", disc.string(), (dir.path() / "missing.iso").string(), udf250.string(),
             "--json"});
    EXPECT_EQ(shelf.status, 1);
    const std::vector<Json> documents = jsonLines(shelf.out);
    ASSERT_EQ(documents.size(), 3U);
    EXPECT_EQ(documents[0]["titles"], documents[2]["titles"]);
    // Each title's two clips were cut from one stream: measured, they play as long as the
    // stream's 72 frames, the frames about the cut counted once.
    for (const Json& title : documents[0]["titles"]) {
        EXPECT_NEAR(title["measured_duration"].get<double>(), 72 * 1001 / 24000.0, 0.001)
            << title["number"];
    }
    // The playlist names the trailer's audio coding "AC-3", the feature's "DD": both are AC-3.
    for (const Json& title : documents[0]["titles"]) {
        for (const Json& stream : title["streams"]) {
            if (stream["kind"] == "audio") {
                EXPECT_EQ(stream.value("coding", "none"), "ac3") << title["number"] << stream;
            }
        }
    }
    EXPECT_NE(documents[1]["error"].get<std::string>().find("No such file"), std::string::npos);
    EXPECT_NE(shelf.err.find("Disc 2 of 3: " + (dir.path() / "missing.iso").string() +
                             "\ntolvane-cli: Cannot open disc"),
              std::string::npos)
        << shelf.err;
    // The folder that holds them is a shelf: its disc folder and images, in name order, and
    // nothing else of it.
    const fixture::ProcessResult folder = cli({"titles", dir.path().string(), "--json"});
    EXPECT_EQ(folder.status, 0) << folder.err;
    std::vector<std::string> paths;
    for (const Json& document : jsonLines(folder.out)) {
        paths.push_back(document["disc"]["path"]);
    }
    EXPECT_EQ(paths,
              (std::vector<std::string>{disc.string(), genisoimage.string(), udf250.string()}));

    // A clip that starts inside its file is read from the picture its time shows first, one
    // that ends inside it up to the picture its end shows: the title lasts as the playlist
    // says, to a frame (48 and 24 of the stream's 72, a group of 12 at a time).
    for (const auto& [title, seconds] : {std::pair{"3", 2.0}, std::pair{"4", 1.0}}) {
        const fixture::ProcessResult excerpt =
            cli({"demux", disc.string(), "--title", title, "--json", "-o",
                 (dir.path() / "excerpt").string()});
        ASSERT_EQ(excerpt.status, 0) << excerpt.err;
        EXPECT_NEAR(Json::parse(excerpt.out)["frames"][0]["counted"].get<double>() * 1001 / 24000,
                    seconds, 1001.0 / 24000)
            << "title " << title;
    }
    const std::string log = cli({"read", disc.string(), "--title", "3"}).out;
    EXPECT_NE(log.find("Clip WHOLE_1.MAP starts 0:00:01.000 into WHOLE_1.EVO: read from there"),
              std::string::npos)
        << log;

    const std::map<int, std::vector<std::string>> languages = {{1, {"en", "de"}},
                                                               {2, {"fr", "Japanese"}}};
    for (int title = 1; title <= 2; ++title) {
        SCOPED_TRACE(title);
        // What ffmpeg copies out of the uncut EVO, stream by stream.
        std::vector<std::string> expected;
        for (int k = 0;; ++k) {
            const fs::path copy = dir.path() / ("copy." + std::to_string(k));
            std::string codec =
                fixture::runProcess("ffprobe",
                                    {"-v", "error", "-select_streams", std::to_string(k),
                                     "-show_entries", "stream=codec_name", "-of", "csv=p=0",
                                     uncut[static_cast<size_t>(title - 1)].string()},
                                    "/")
                    .out;
            codec = codec.substr(0, codec.find_first_of(",\n"));
            if (codec.empty()) {
                break;
            }
            if (codec.starts_with("dvd_nav")) {
                continue;
            }
            ASSERT_EQ(
                fixture::runProcess(
                    "ffmpeg",
                    {"-v", "error", "-i", uncut[static_cast<size_t>(title - 1)].string(), "-map",
                     "0:" + std::to_string(k), "-c", "copy", "-f", codec, "-y", copy.string()},
                    "/")
                    .status,
                0);
            expected.push_back(bytes(copy));
        }
        ASSERT_EQ(expected.size(), 3U);
        std::sort(expected.begin(), expected.end());
        for (const fs::path& source : {disc, genisoimage, udf250}) {
            SCOPED_TRACE(source.string());
            const fs::path out =
                dir.path() / "out" / (source.stem().string() + std::to_string(title));
            const fixture::ProcessResult demuxed =
                cli({"demux", source.string(), "--title", std::to_string(title), "--json", "-o",
                     out.string()});
            ASSERT_EQ(demuxed.status, 0) << demuxed.err;
            const Json report = Json::parse(demuxed.out);
            std::vector<std::string> written;
            for (const Json& output : report["outputs"]) {
                written.push_back(bytes(output["path"].get<std::string>()));
            }
            std::sort(written.begin(), written.end());
            EXPECT_TRUE(written == expected) << "every stream as ffmpeg copies it, and no other";
            std::vector<std::string> audio;
            for (const Json& stream : report["streams"]) {
                if (stream["kind"] == "audio") {
                    audio.push_back(stream.value("language", ""));
                }
            }
            EXPECT_EQ(audio, languages.at(title));
        }
        // One Matroska file of the title: ffmpeg decodes it without a word, and copies out of
        // it every stream it copies out of the uncut EVO, byte for byte.
        const fs::path mkv = dir.path() / ("title" + std::to_string(title) + ".mkv");
        const fixture::ProcessResult made =
            cli({"mkv", disc.string(), "--title", std::to_string(title), "-o", mkv.string()});
        ASSERT_EQ(made.status, 0) << made.err;
        const fixture::ProcessResult decoded = fixture::runProcess(
            "ffmpeg", {"-v", "error", "-i", mkv.string(), "-f", "null", "-"}, "/");
        EXPECT_EQ(decoded.err, "");
        std::vector<std::string> tracks;
        for (int k = 0; k < 3; ++k) {
            const fs::path copy = dir.path() / ("track." + std::to_string(k));
            std::string codec =
                fixture::runProcess(
                    "ffprobe",
                    {"-v", "error", "-select_streams", std::to_string(k), "-show_entries",
                     "stream=codec_name", "-of", "csv=p=0", mkv.string()},
                    "/")
                    .out;
            codec = codec.substr(0, codec.find_first_of(",\n"));
            ASSERT_EQ(fixture::runProcess(
                          "ffmpeg",
                          {"-v", "error", "-i", mkv.string(), "-map", "0:" + std::to_string(k),
                           "-c", "copy", "-f", codec, "-y", copy.string()},
                          "/")
                          .status,
                      0)
                << codec;
            tracks.push_back(bytes(copy));
        }
        std::sort(tracks.begin(), tracks.end());
        EXPECT_TRUE(tracks == expected) << "the title's streams, whole across the cut";
    }
}

}  // namespace
}  // namespace tolvane
