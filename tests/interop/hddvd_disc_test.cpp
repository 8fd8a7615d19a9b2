// HD DVD disc folders: the sample disc's playlist titles as tolvane-cli lists them, and each
// title read as its clips in playlist order, against the same files read by name.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>

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
          std::pair{"LPCM.stream.04.Commentary.mpa", "LPCM.stream.04.mpa"},
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

}  // namespace
}  // namespace tolvane
