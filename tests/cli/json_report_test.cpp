// The --json reports of tolvane-cli: one document on standard output, in the documented shape,
// with the values of the files read and written.
#include <gtest/gtest.h>

#include <filesystem>

#include <nlohmann/json.hpp>

#include "child_process.h"
#include "program_stream_builder.h"
#include "temp_dir.h"

namespace tolvane {
namespace {

using fixture::Bytes;
using fixture::ProcessResult;
using fixture::ProgramStreamBuilder;
using nlohmann::json;

const std::string kCli = TOLVANE_CLI;

// A feature with a copy-control packet (CGMS "No More Copies"), a DSI, MPEG-2 video, two AC-3
// streams (the second 40 ms late) and a subpicture.
Bytes feature() {
    ProgramStreamBuilder ps;
    ps.pack({fixture::copyControlPacket({.applies = 0x80, .codes = 0x40}),
             fixture::dsiPacket({.vobNumber = 7, .startPtm = 1000, .endPtm = 901000})});
    for (int k = 0; k < 20; ++k) {
        const uint64_t pts = 3003u * static_cast<uint64_t>(k) + 1000;
        ps.pack({fixture::pesPacket(0xE0, {.pts = pts, .dts = pts},
                                    Bytes{0x00, 0x00, 0x01, 0x00, 0x00, 0x11})});
        ps.pack({fixture::privateStream1Packet(0x80, {.pts = pts}, Bytes(500, 1)),
                 fixture::privateStream1Packet(0x83, {.pts = pts + 3600}, Bytes(300, 2)),
                 fixture::privateStream1Packet(0x22, {.pts = pts}, Bytes(100, 3))});
    }
    return ps.bytes();
}

json parsed(const ProcessResult& result) {
    EXPECT_EQ(result.status, 0) << result.err;
    // The whole of standard output is the one document: no log line around it.
    return json::parse(result.out);
}

const json& stream(const json& report, const std::string& kind, int number) {
    for (const json& entry : report.at("streams")) {
        if (entry.at("kind") == kind && entry.at("number") == number) {
            return entry;
        }
    }
    static const json none;
    ADD_FAILURE() << "no " << kind << " stream " << number;
    return none;
}

TEST(JsonReport, ReadGivesFilesNavigationStreamsAndFramesInsteadOfTheLog) {
    fixture::TempDir dir;
    const std::string source = dir.write("MOVIE.EVO", feature());
    const json report =
        parsed(fixture::runProcess(kCli, {"read", source, "--json"}, dir.path().string()));

    ASSERT_EQ(report.at("files").size(), 1u);
    EXPECT_EQ(report["files"][0]["path"], source);
    EXPECT_EQ(report["files"][0]["size"], std::filesystem::file_size(source));

    const json& navigation = report.at("navigation");
    EXPECT_EQ(navigation.at("vob_number"), 7);
    EXPECT_EQ(navigation.at("first_ptm"), 1000);
    EXPECT_EQ(navigation.at("last_ptm"), 901000);
    EXPECT_DOUBLE_EQ(navigation.at("duration").get<double>(), 10.0);
    EXPECT_EQ(navigation.at("copy_control"),
              json::parse(R"({"scrambled": false, "cgms": 2, "ict": false, "dot": false})"));

    ASSERT_EQ(report.at("streams").size(), 4u);
    const json& video = stream(report, "video", 0);
    EXPECT_EQ(video.at("id"), 0xE0);
    EXPECT_EQ(video.at("coding"), "mpeg2video");
    EXPECT_EQ(video.at("label"), "MPEG-2.stream.0");
    EXPECT_EQ(video.at("first_pts"), 1000);
    EXPECT_FALSE(video.contains("delay_ms")) << "video has no delay to itself";
    const json& late = stream(report, "audio", 3);
    EXPECT_EQ(late.at("id"), 0x83);
    EXPECT_EQ(late.at("coding"), "ac3");
    EXPECT_EQ(late.at("first_pts"), 4600);
    EXPECT_EQ(late.at("delay_ms"), 40);
    EXPECT_EQ(stream(report, "audio", 0).at("delay_ms"), 0);
    EXPECT_EQ(stream(report, "subpicture", 2).at("coding"), "dvd_subtitle");

    ASSERT_EQ(report.at("frames").size(), 1u);
    EXPECT_EQ(report["frames"][0]["number"], 0);
    EXPECT_TRUE(report["frames"][0].contains("counted"));
}

TEST(JsonReport, ATwoPartFeatureReportsItsFirstFileLeftOutStreamsAndCountsCutByTheFastCheck) {
    fixture::TempDir dir;
    ProgramStreamBuilder one;
    // APS type 2 (codes bits 4..2 = 2) besides CGMS "Copy Never".
    one.pack({fixture::copyControlPacket({.applies = 0xC0, .codes = 0xA8}),
              fixture::dsiPacket({.vobNumber = 3, .startPtm = 1000, .endPtm = 91000})});
    // Three video streams for two video boxes: the third is left out, and says so.
    for (const uint8_t id : {0xE0, 0xE2, 0xE1}) {
        one.pack({fixture::pesPacket(id, {.pts = 1000}, Bytes{0x00, 0x00, 0x01, 0x00, 0x11})});
    }
    one.fillTo(1536 * 1024);
    one.pack({fixture::pesPacket(0xE0, {.pts = 4000}, Bytes{0x00, 0x00, 0x01, 0x00, 0x22})});
    ProgramStreamBuilder two;
    two.pack({fixture::dsiPacket({.vobNumber = 4, .startPtm = 1000, .endPtm = 46000})});
    const std::string source = dir.write("MOVIE_1.EVO", one.bytes());
    dir.write("MOVIE_2.EVO", two.bytes());

    const ProcessResult logged =
        fixture::runProcess(kCli, {"read", source, "--fast-check", "1"}, dir.path().string());
    const json report =
        parsed(fixture::runProcess(kCli, {"read", source, "--fast-check", "1", "--json"}, "/"));
    EXPECT_EQ(report.at("navigation").at("vob_number"), 3) << "the first file's VOB";
    EXPECT_DOUBLE_EQ(report["navigation"]["duration"].get<double>(), 1.5);
    // The report's APS is the code whose text the log shows.
    EXPECT_EQ(report["navigation"]["copy_control"]["aps"], 2);
    EXPECT_NE(logged.out.find("Type 2 of APS1 is ON"), std::string::npos);

    const std::string leftOut = "Video stream 0xE1 has no stream box: every video box is taken.";
    EXPECT_EQ(
        report.at("warnings"),
        json::array({leftOut,
                     "Only the first 1 MiB were read: the frame counts are partial, and the "
                     "durations and bit rates are left out (--full reads the whole source)."}));
    EXPECT_FALSE(report["streams"][0].contains("duration"));
    EXPECT_NE(logged.out.find(leftOut), std::string::npos);
    EXPECT_EQ(report.at("streams").size(), 2u);

    // The counted frames stop at the fast check, and both the log and the report say so.
    ASSERT_EQ(report.at("frames").size(), 2u);
    EXPECT_EQ(report["frames"][0]["counted"], 1);
    EXPECT_EQ(report["frames"][0]["partial"], true);
    EXPECT_NE(logged.out.find("in video stream 0 (fast check: first 1 Mbytes only)."),
              std::string::npos);
    const json whole = parsed(fixture::runProcess(kCli, {"read", source, "--full", "--json"}, "/"));
    EXPECT_EQ(whole["frames"][0]["counted"], 2);
    EXPECT_FALSE(whole["frames"][0].contains("partial"));
    EXPECT_EQ(whole["warnings"].size(), 1U);
    EXPECT_TRUE(whole["streams"][0].contains("duration"));
}

TEST(JsonReport, DemuxAndRebuildListEveryFileWrittenWithItsBytes) {
    fixture::TempDir dir;
    const std::string source = dir.write("MOVIE.EVO", feature());
    const std::string out = (dir.path() / "out").string();
    std::filesystem::create_directory(out);

    json report = parsed(fixture::runProcess(
        kCli, {"demux", source, "-o", out, "--select", "cbVideo0,cbAudio03", "--json"},
        dir.path().string()));
    ASSERT_EQ(report.at("outputs").size(), 2u);
    EXPECT_EQ(report["outputs"][1]["kind"], "audio");
    EXPECT_EQ(report["outputs"][1]["number"], 3);
    EXPECT_EQ(report["outputs"][1]["bytes"], 20 * 300);
    for (const json& output : report["outputs"]) {
        EXPECT_EQ(output.at("bytes"),
                  std::filesystem::file_size(output.at("path").get<std::string>()));
    }
    EXPECT_EQ(report.at("streams").size(), 4u) << "the read's report comes first";

    report = parsed(
        fixture::runProcess(kCli, {"rebuild", source, "-o", out, "--json"}, dir.path().string()));
    ASSERT_EQ(report.at("outputs").size(), 1u);
    const json& rebuilt = report["outputs"][0];
    EXPECT_EQ(rebuilt.at("kind"), "program");
    EXPECT_EQ(rebuilt.at("bytes"),
              std::filesystem::file_size(rebuilt.at("path").get<std::string>()));
}

TEST(JsonReport, AFailurePrintsNoDocumentAndKeepsItsStatus) {
    fixture::TempDir dir;
    ProcessResult result =
        fixture::runProcess(kCli, {"read", "missing.EVO", "--json"}, dir.path().string());
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_NE(result.err.find("missing.EVO"), std::string::npos);

    result = fixture::runProcess(kCli, {"read", "--json"}, dir.path().string());
    EXPECT_EQ(result.status, 2);
    EXPECT_EQ(result.out, "");
}

TEST(JsonReport, PlaylistGivesTheTitleItsTracksAndChapters) {
    fixture::TempDir dir;
    const std::string text =
        R"(<Playlist><TitleSet timeBase="50fps" tickBase="24fps">)"
        R"(<Title displayName="Main" titleDuration="00:01:00:00"><Clip src="HVDVD_TS/MOVIE.MAP">)"
        R"(<Video track="1" mediaAttr="1"/>)"
        R"(<Audio track="1" streamNumber="2" mediaAttr="1" description="English"/></Clip>)"
        R"(<ChapterList><Chapter titleTimeBegin="00:00:00:00" displayName="One"/>)"
        R"(<Chapter titleTimeBegin="00:00:01:25" displayName="Two"/></ChapterList>)"
        R"(</Title></TitleSet></Playlist>)";
    const std::string playlist = dir.write("VPLST000.XPL", Bytes(text.begin(), text.end()));

    json report = parsed(fixture::runProcess(
        kCli, {"xpl", playlist, "--source", "MOVIE.EVO", "--json"}, dir.path().string()));
    EXPECT_EQ(report.at("title_found"), true);
    EXPECT_EQ(report.at("title").at("name"), "Main");
    EXPECT_EQ(report.at("title").at("time_base"), "50fps");
    ASSERT_EQ(report.at("tracks").size(), 2u);
    EXPECT_EQ(report["tracks"][1]["kind"], "audio");
    EXPECT_EQ(report["tracks"][1]["number"], 1);
    EXPECT_EQ(report.at("chapters"), json::parse(R"([{"start_ns": 0, "name": "One"},
                                                     {"start_ns": 1500000000, "name": "Two"}])"));

    report = parsed(fixture::runProcess(kCli, {"xpl", playlist, "--source", "OTHER.EVO", "--json"},
                                        dir.path().string()));
    EXPECT_EQ(report.at("title_found"), false);
    EXPECT_FALSE(report.contains("chapters"));
}

}  // namespace
}  // namespace tolvane
