// HD DVD subpictures made PGS: each one of the sample disc, as FFmpeg's DVD subtitle decoder
// draws it from the .EVO (it reads HD DVD's layout), against what FFmpeg's PGS decoder draws
// from the .sup and the Matroska file Tolvane writes; mkvmerge reads both.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "child_process.h"
#include "temp_dir.h"

#ifdef TOLVANE_HAVE_LIBAV
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/log.h>
}
#endif

namespace tolvane {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;

// A subtitle as a decoder shows it: when (ms on the file's clock), and every pixel that is not
// wholly transparent, as x, y and its RGBA colour.
struct Shown {
    int64_t start = 0;
    int64_t end = -1;  // -1: until the next
    std::vector<std::array<uint32_t, 3>> pixels;
};

// Every subtitle of subtitle stream `nth` of `file`, in order. A decoder that gives a subtitle
// without pixels (PGS clears the screen so) ends the one before. YCbCr is turned into RGB by
// the same (BT.601) matrix for every decoder, so the colours compare exactly.
std::vector<Shown> subtitlesOf(const std::string& file, int nth) {
    std::vector<Shown> shown;
#ifdef TOLVANE_HAVE_LIBAV
    av_log_set_level(AV_LOG_QUIET);  // the DVD decoder warns of every packet it gathers
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, file.c_str(), nullptr, nullptr) < 0) {
        ADD_FAILURE() << "FFmpeg cannot open " << file;
        return shown;
    }
    avformat_find_stream_info(format, nullptr);
    int index = -1;
    for (unsigned k = 0, seen = 0; k < format->nb_streams; ++k) {
        if (format->streams[k]->codecpar->codec_type == AVMEDIA_TYPE_SUBTITLE &&
            static_cast<int>(seen++) == nth) {
            index = static_cast<int>(k);
        }
    }
    AVCodecContext* decoder = nullptr;
    if (index >= 0) {
        const AVCodecParameters* parameters = format->streams[index]->codecpar;
        const AVCodec* codec = avcodec_find_decoder(parameters->codec_id);
        decoder = avcodec_alloc_context3(codec);
        avcodec_parameters_to_context(decoder, parameters);
        decoder->height = 576;  // the PGS decoder takes BT.601 below 577 lines
        if (avcodec_open2(decoder, codec, nullptr) < 0) {
            avcodec_free_context(&decoder);
        }
    }
    EXPECT_NE(decoder, nullptr) << file << " has no subtitle stream " << nth;
    AVPacket* packet = av_packet_alloc();
    const AVRational ms{1, 1000};
    while (decoder != nullptr && av_read_frame(format, packet) >= 0) {
        AVSubtitle subtitle{};
        int got = 0;
        const int64_t at = av_rescale_q(packet->pts, format->streams[index]->time_base, ms);
        if (packet->stream_index == index &&
            avcodec_decode_subtitle2(decoder, &subtitle, &got, packet) >= 0 && got != 0) {
            if (subtitle.num_rects == 0 && !shown.empty() && shown.back().end < 0) {
                shown.back().end = at;
            }
            if (subtitle.num_rects > 0) {
                Shown one{.start = at + subtitle.start_display_time};
                if (subtitle.end_display_time > subtitle.start_display_time &&
                    subtitle.end_display_time < 60000) {
                    one.end = at + subtitle.end_display_time;
                }
                for (unsigned r = 0; r < subtitle.num_rects; ++r) {
                    const AVSubtitleRect& rect = *subtitle.rects[r];
                    const auto* palette = reinterpret_cast<const uint32_t*>(rect.data[1]);
                    for (int y = 0; y < rect.h; ++y) {
                        for (int x = 0; x < rect.w; ++x) {
                            const uint32_t colour = palette[rect.data[0][y * rect.linesize[0] + x]];
                            if (colour >> 24 != 0) {
                                one.pixels.push_back({static_cast<uint32_t>(rect.x + x),
                                                      static_cast<uint32_t>(rect.y + y), colour});
                            }
                        }
                    }
                }
                std::sort(one.pixels.begin(), one.pixels.end());
                shown.push_back(std::move(one));
            }
            avsubtitle_free(&subtitle);
        }
        av_packet_unref(packet);
    }
    av_packet_free(&packet);
    avcodec_free_context(&decoder);
    avformat_close_input(&format);
#endif
    return shown;
}

// Whether two subtitles have the same pixels at the same places, each with the same opacity and
// the same colour up to the matrix that makes it RGB: the PGS decoder takes BT.709 for a
// 1920x1080 screen, the DVD one BT.601 always. One colour of one must always be one of the
// other, and near it.
bool sameDrawing(const std::vector<std::array<uint32_t, 3>>& a,
                 const std::vector<std::array<uint32_t, 3>>& b) {
    if (a.size() != b.size()) {
        ADD_FAILURE() << a.size() << " pixels for " << b.size();
        return false;
    }
    std::map<uint32_t, uint32_t> colours;
    for (size_t k = 0; k < a.size(); ++k) {
        const uint32_t x = a[k][2];
        const uint32_t y = b[k][2];
        bool near = x >> 24 == y >> 24;
        for (int shift = 0; shift < 24; shift += 8) {
            near = near && std::abs(static_cast<int>((x >> shift) & 0xFF) -
                                    static_cast<int>((y >> shift) & 0xFF)) <= 20;
        }
        const auto [known, added] = colours.emplace(x, y);
        if (a[k][0] != b[k][0] || a[k][1] != b[k][1] || !near || known->second != y) {
            ADD_FAILURE() << "pixel " << a[k][0] << "," << a[k][1] << " " << std::hex << x
                          << " for " << std::dec << b[k][0] << "," << b[k][1] << " " << std::hex
                          << y;
            return false;
        }
    }
    return true;
}

fixture::ProcessResult cli(const std::vector<std::string>& args) {
    return fixture::runProcess(TOLVANE_CLI, args, "/");
}

TEST(HdDvdSubpictures, EachIsThePgsSubtitleFfmpegDrawsAndMkvmergeMuxes) {
#ifndef TOLVANE_HAVE_LIBAV
    GTEST_SKIP() << "built without FFmpeg's libraries: nothing decodes the subtitles";
#endif
    if (!fixture::installed("mkvmerge")) {
        GTEST_SKIP() << "mkvmerge is not installed";
    }
    fixture::TempDir dir;
    ASSERT_EQ(fixture::runProcess(TOLVANE_SAMPLE_DISC, {dir.path().string()}, "/").status, 0);
    const fs::path disc = dir.path() / "DISC";
    const fs::path out = dir.path() / "out";

    int compared = 0;
    for (const char* name : {"FEATURE_1", "FEATURE_2"}) {
        SCOPED_TRACE(name);
        const std::string evo = (disc / "HVDVD_TS" / (std::string(name) + ".EVO")).string();
        const fixture::ProcessResult demuxed =
            cli({"demux", evo, "--no-continue", "--forced-tracks", "--json", "-o", out.string()});
        ASSERT_EQ(demuxed.status, 0) << demuxed.err;
        const Json report = Json::parse(demuxed.out);
        // The .sup times count from the file's earliest first PTS. The read counts each
        // stream's subpictures and the forced ones, as for a DVD.
        int64_t earliest = INT64_MAX;
        std::vector<std::pair<int, int>> counts;
        for (const Json& stream : report["streams"]) {
            earliest = std::min(earliest, stream["first_pts"].get<int64_t>());
            if (stream["kind"] == "subpicture") {
                counts.emplace_back(stream["subpictures"], stream["forced_subpictures"]);
            }
        }
        const int units = std::string(name) == "FEATURE_1" ? 4 : 2;
        EXPECT_EQ(counts, (std::vector<std::pair<int, int>>{{units, 0}, {units, 1}}));
        for (int nth = 0; nth < 2; ++nth) {
            const std::string sup =
                (out / (std::string(name) + ".Subpicture.0" + std::to_string(nth) + ".sup"))
                    .string();
            const std::vector<Shown> original = subtitlesOf(evo, nth);
            const std::vector<Shown> pgs = subtitlesOf(sup, nth * 0);
            ASSERT_FALSE(original.empty());
            ASSERT_EQ(pgs.size(), original.size());
            for (size_t k = 0; k < pgs.size(); ++k) {
                SCOPED_TRACE(k);
                EXPECT_NEAR(pgs[k].start + earliest / 90, original[k].start, 1);
                EXPECT_NEAR(pgs[k].end + earliest / 90, original[k].end, 1);
                EXPECT_EQ(pgs[k].pixels.size(), 200U * 40U - 16U * 40U);
                EXPECT_TRUE(sameDrawing(pgs[k].pixels, original[k].pixels));
                ++compared;
            }
            const Json probed = Json::parse(fixture::runProcess("mkvmerge", {"-J", sup}, "/").out);
            EXPECT_EQ(probed["tracks"][0]["codec"], "HDMV PGS") << probed.dump();
            // Each file's first French subtitle is forced: a file of its own holds it alone.
            const fs::path forced =
                out / (std::string(name) + ".Subpicture.0" + std::to_string(nth) + ".forced.sup");
            ASSERT_EQ(fs::exists(forced), nth == 1) << forced;
            if (nth == 1) {
                const std::vector<Shown> alone = subtitlesOf(forced.string(), 0);
                ASSERT_EQ(alone.size(), 1U);
                EXPECT_EQ(alone[0].start, pgs[0].start);
                EXPECT_EQ(alone[0].end, pgs[0].end);
                EXPECT_TRUE(sameDrawing(alone[0].pixels, original[0].pixels));
            }
        }
    }
    EXPECT_EQ(compared, 2 * (4 + 2)) << "the subpictures of the two files' two streams";

    // The feature's Matroska file holds both streams as PGS tracks in their languages, each
    // subtitle as its .sup (of the title) gives it.
    const fs::path mkv = out / "feature.mkv";
    const fixture::ProcessResult made =
        cli({"mkv", disc.string(), "--title", "1", "--forced-tracks", "-o", mkv.string()});
    ASSERT_EQ(made.status, 0) << made.err;
    ASSERT_EQ(cli({"demux", disc.string(), "--title", "1", "-o", (out / "title").string()}).status,
              0);
    const Json probed = Json::parse(fixture::runProcess("mkvmerge", {"-J", mkv.string()}, "/").out);
    std::vector<std::string> languages;
    std::vector<bool> forcedFlags;
    for (const Json& track : probed["tracks"]) {
        if (track["type"] == "subtitles") {
            EXPECT_EQ(track["properties"]["codec_id"], "S_HDMV/PGS");
            languages.push_back(track["properties"]["language"]);
            forcedFlags.push_back(track["properties"].value("forced_track", false));
        }
    }
    // Each stream, and each stream's forced subpictures as a track marked forced.
    EXPECT_EQ(languages, (std::vector<std::string>{"eng", "eng", "fre", "fre"}));
    EXPECT_EQ(forcedFlags, (std::vector<bool>{false, true, false, true}));
    for (int nth = 0; nth < 2; ++nth) {
        const std::vector<Shown> inFile = subtitlesOf(mkv.string(), nth * 2);
        const std::vector<Shown> fromSup =
            subtitlesOf((out / "title" /
                         (nth == 0 ? "DISC_title01.Subpicture.00.English.sup"
                                   : "DISC_title01.Subpicture.01.French.sup"))
                            .string(),
                        0);
        ASSERT_EQ(inFile.size(), fromSup.size());
        ASSERT_EQ(inFile.size(), 6U);
        for (size_t k = 0; k < inFile.size(); ++k) {
            EXPECT_TRUE(sameDrawing(inFile[k].pixels, fromSup[k].pixels));
            // The file's zero is the title's first video frame.
            EXPECT_NEAR(inFile[k].start - inFile[0].start, fromSup[k].start - fromSup[0].start, 1);
        }
    }
}

}  // namespace
}  // namespace tolvane
