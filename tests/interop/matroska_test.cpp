#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>

#include <nlohmann/json.hpp>

extern "C" {
#include <libavformat/avformat.h>
}

#include "child_process.h"
#include "sinks/matroska_writer.h"
#include "temp_dir.h"

namespace tolvane {
namespace {

using Json = nlohmann::json;

using fixture::installed;

// Every packet time of `file`'s stream `index` as ffprobe gives it, in milliseconds.
std::vector<int64_t> packetTimes(const std::string& file, int index) {
    const fixture::ProcessResult probed =
        fixture::runProcess("/bin/sh",
                            {"-c", "ffprobe -v error -select_streams " + std::to_string(index) +
                                       " -show_entries packet=pts_time -of csv=p=0 '" + file + "'"},
                            "/");
    std::vector<int64_t> times;
    std::istringstream lines(probed.out);
    for (std::string line; std::getline(lines, line);) {
        times.push_back(std::llround(std::stod(line) * 1000));
    }
    std::sort(times.begin(), times.end());
    return times;
}

// Frames as ffmpeg's demuxer reads them from a file it wrote (MPEG-2 with B-frames, AC-3 and
// 16-bit PCM), written through our writer with tracks as a disc would name them: mkvmerge lists
// every track with its coding, language, name and flags and the chapters; ffmpeg decodes the
// file without an error; every block keeps its time.
TEST(MatroskaWriter, TracksBlocksAndChaptersAreWhatMkvmergeAndFfprobeRead) {
    for (const char* tool : {"ffmpeg", "ffprobe", "mkvmerge"}) {
        if (!installed(tool)) {
            GTEST_SKIP() << tool << " is not installed";
        }
    }
    fixture::TempDir dir;
    const std::string source = (dir.path() / "source.mkv").string();
    ASSERT_EQ(fixture::runProcess(
                  "/bin/sh",
                  {"-c",
                   "ffmpeg -v error -f lavfi -i testsrc2=size=720x576:rate=25:duration=2 -f lavfi "
                   "-i sine=frequency=440:sample_rate=48000:duration=2 -map 0 -map 1 -map 1 -c:v "
                   "mpeg2video -bf 2 -c:a:0 ac3 -c:a:1 pcm_s16le -ac:a:1 2 '" +
                       source + "'"},
                  "/")
                  .status,
              0);
    AVFormatContext* input = nullptr;
    ASSERT_GE(avformat_open_input(&input, source.c_str(), nullptr, nullptr), 0);
    ASSERT_GE(avformat_find_stream_info(input, nullptr), 0);
    ASSERT_EQ(input->nb_streams, 3u);
    std::vector<MatroskaTrack> tracks(3);
    tracks[0] = {.kind = StreamKind::Video,
                 .coding = StreamCoding::Mpeg2,
                 .width = 720,
                 .height = 576,
                 .isDefault = true};
    const AVCodecParameters* video = input->streams[0]->codecpar;
    tracks[0].codecPrivate.assign(video->extradata, video->extradata + video->extradata_size);
    tracks[1] = {.kind = StreamKind::Audio,
                 .coding = StreamCoding::Ac3,
                 .sampleRate = 48000,
                 .channels = 1,
                 .language = "ger",
                 .name = "Director's comments",
                 .isDefault = true};
    tracks[2] = {.kind = StreamKind::Audio,
                 .coding = StreamCoding::Lpcm,
                 .sampleRate = 48000,
                 .channels = 2,
                 .bits = 16,
                 .language = "fre"};
    const std::vector<MatroskaChapter> chapters = {{0, 90000, "Chapter 01"},
                                                   {90000, 180000, "Chapter 02"}};
    const std::string written = (dir.path() / "out.mkv").string();
    {
        FileOutput out(written);
        MatroskaWriter writer(out, tracks, chapters, "DISC");
        AVPacket* packet = av_packet_alloc();
        while (av_read_frame(input, packet) >= 0) {
            const AVRational base = input->streams[packet->stream_index]->time_base;
            const auto ticks = [&](int64_t t) { return av_rescale_q(t, base, {1, 90000}); };
            writer.write(
                static_cast<size_t>(packet->stream_index), packet->data,
                static_cast<size_t>(packet->size), ticks(packet->pts),
                packet->dts == AV_NOPTS_VALUE ? std::nullopt : std::optional(ticks(packet->dts)),
                (packet->flags & AV_PKT_FLAG_KEY) != 0, ticks(packet->duration));
            av_packet_unref(packet);
        }
        av_packet_free(&packet);
        writer.finish();
        out.close();
    }
    avformat_close_input(&input);

    const fixture::ProcessResult identified = fixture::runProcess("mkvmerge", {"-J", written}, "/");
    ASSERT_EQ(identified.status, 0) << identified.out;
    const Json info = Json::parse(identified.out);
    EXPECT_TRUE(info["warnings"].empty()) << info["warnings"];
    EXPECT_EQ(info["container"]["properties"]["title"], "DISC");
    ASSERT_EQ(info["tracks"].size(), 3u);
    const char* const codecs[] = {"V_MPEG2", "A_AC3", "A_PCM/INT/LIT"};
    const char* const languages[] = {"und", "ger", "fre"};
    for (size_t k = 0; k < 3; ++k) {
        const Json& properties = info["tracks"][k]["properties"];
        EXPECT_EQ(properties["codec_id"], codecs[k]);
        EXPECT_EQ(properties["language"], languages[k]);
        EXPECT_EQ(properties["default_track"], k < 2);
    }
    EXPECT_EQ(info["tracks"][1]["properties"]["track_name"], "Director's comments");
    EXPECT_EQ(info["tracks"][0]["properties"]["pixel_dimensions"], "720x576");
    EXPECT_EQ(info["tracks"][2]["properties"]["audio_channels"], 2);
    ASSERT_EQ(info["chapters"].size(), 1u);
    EXPECT_EQ(info["chapters"][0]["num_entries"], 2);

    const fixture::ProcessResult decoded = fixture::runProcess(
        "/bin/sh", {"-c", "ffmpeg -v error -i '" + written + "' -f null - 2>&1"}, "/");
    EXPECT_EQ(decoded.out, "");
    for (int index = 0; index < 3; ++index) {
        SCOPED_TRACE(index);
        EXPECT_EQ(packetTimes(written, index), packetTimes(source, index));
    }
}

}  // namespace
}  // namespace tolvane
