// Real bitstreams made by ffmpeg, wrapped into program-stream packs (or muxed by ffmpeg itself),
// read by the read job; the analysers' lines are checked against what ffprobe reports.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

#include "child_process.h"
#include "job_engine.h"
#include "jobs/demux_job.h"
#include "jobs/read_job.h"
#include "report_keys.h"
#include "sinks/wav_writer.h"
#include "temp_dir.h"

namespace tolvane {
namespace {

using fixture::Bytes;
using fixture::ProgramStreamBuilder;
using Lines = std::vector<std::string>;

std::string findProgram(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::stringstream folders(path != nullptr ? path : "/usr/bin");
    for (std::string folder; std::getline(folders, folder, ':');) {
        const std::filesystem::path candidate = std::filesystem::path(folder) / name;
        if (access(candidate.c_str(), X_OK) == 0) {
            return candidate.string();
        }
    }
    return {};
}

class Interop : public testing::Test {
protected:
    void SetUp() override {
        ffmpeg_ = findProgram("ffmpeg");
        ffprobe_ = findProgram("ffprobe");
        if (ffmpeg_.empty() || ffprobe_.empty()) {
            GTEST_SKIP() << "ffmpeg and ffprobe are not installed: no real bitstreams to test";
        }
    }

    // Runs ffmpeg with a generated source; returns the path of `output` in the test's folder.
    std::string make(const std::string& source, std::vector<std::string> encode,
                     const std::string& output) {
        std::vector<std::string> args = {"-v", "error", "-f", "lavfi", "-i", source};
        args.insert(args.end(), encode.begin(), encode.end());
        const std::string path = (f_.dir.path() / output).string();
        args.insert(args.end(), {"-y", path});
        const fixture::ProcessResult result = fixture::runProcess(ffmpeg_, args, "/");
        EXPECT_EQ(result.status, 0) << result.err.substr(0, 2000);
        return path;
    }

    // ffprobe's view of the first stream of `path` whose codec is `codec`.
    std::map<std::string, std::string> probe(const std::string& path, const std::string& codec) {
        const fixture::ProcessResult result = fixture::runProcess(
            ffprobe_, {"-v", "error", "-show_streams", "-of", "default=nw=1", path}, "/");
        std::map<std::string, std::string> fields;
        bool wanted = false;
        std::istringstream in(result.out);
        for (std::string line; std::getline(in, line);) {
            const size_t eq = line.find('=');
            if (eq == std::string::npos) {
                continue;
            }
            const std::string key = line.substr(0, eq);
            const std::string value = line.substr(eq + 1);
            if (key == "index") {
                if (wanted) {
                    break;
                }
                fields.clear();
            }
            fields[key] = value;
            wanted = wanted || (key == "codec_name" && value == codec);
        }
        EXPECT_TRUE(wanted) << "ffprobe found no " << codec << " stream in " << path;
        return fields;
    }

    // The read job's log for an elementary stream wrapped into packs of `subStreamId` (or of
    // `streamId` for video), written to `name`.
    Lines readWrapped(const std::string& elementary, uint8_t streamId,
                      std::optional<uint8_t> subStreamId, const std::string& name) {
        const Bytes data = fixture::readFile(elementary);
        ProgramStreamBuilder ps;
        ps.elementaryStream(streamId, subStreamId, data, 90000);
        return read(f_.dir.write(name, ps.bytes()));
    }

    // The read job's log for `path`, with the usual settings; its result is kept for a demux.
    Lines read(const std::string& path) {
        f_.engine.log.clear();
        f_.source = path;
        f_.lastRead = ReadJob(f_.engine.onDisk()).run({path, {}});
        return f_.engine.logMarkup();
    }

    // The demux job of every stream the last read found, into `folder`.
    void demux(const std::string& folder, OutputNaming naming = {}) {
        naming.folder = folder;
        const ReadResult& read = f_.lastRead;
        DemuxJob(f_.engine.onDisk())
            .run({f_.source,
                  {},
                  read.streams,
                  naming,
                  read.earliestPts,
                  {read.frames[0].frameRate, read.frames[1].frameRate}});
    }

    static bool has(const Lines& lines, const std::string& line) {
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }

    static std::string kHz(const std::string& sampleRate) {
        const int rate = std::stoi(sampleRate);
        return rate % 1000 == 0
                   ? std::to_string(rate / 1000)
                   : std::to_string(rate / 1000) + "." + std::to_string(rate % 1000 / 100);
    }

    // ffprobe's view of every stream of `path`, with `format` as its input options.
    std::vector<std::map<std::string, std::string>> probeAll(const std::string& path,
                                                             std::vector<std::string> format = {}) {
        std::vector<std::string> args = {"-v", "error", "-show_streams", "-of", "default=nw=1"};
        args.insert(args.end(), format.begin(), format.end());
        args.push_back(path);
        const fixture::ProcessResult result = fixture::runProcess(ffprobe_, args, "/");
        std::vector<std::map<std::string, std::string>> streams;
        std::istringstream in(result.out);
        for (std::string line; std::getline(in, line);) {
            const size_t eq = line.find('=');
            if (eq == std::string::npos) {
                continue;
            }
            if (line.substr(0, eq) == "index") {
                streams.emplace_back();
            }
            if (!streams.empty()) {
                streams.back()[line.substr(0, eq)] = line.substr(eq + 1);
            }
        }
        return streams;
    }

    // The --json report of tolvane-cli.
    static nlohmann::json report(std::vector<std::string> args) {
        args.push_back("--json");
        const fixture::ProcessResult result = fixture::runProcess(TOLVANE_CLI, args, "/");
        EXPECT_EQ(result.status, 0) << result.err;
        return nlohmann::json::parse(result.out);
    }

    // The values the report and ffprobe both give for a stream agree.
    // The values both give: sizes, aspects and field order, rates, channels and layouts, and
    // how long the stream plays (to 2 %; the last frame's length is each tool's guess).
    static void expectSameValues(const nlohmann::json& stream,
                                 std::map<std::string, std::string>& probed) {
        SCOPED_TRACE(stream.dump());
        const auto known = [&](const char* key) {
            const std::string& value = probed[key];
            return !value.empty() && value != "N/A" && value != "unknown" && value != "0:1";
        };
        if (probed["codec_type"] == "video") {
            EXPECT_EQ(stream.at("width"), std::stoi(probed["width"]));
            EXPECT_EQ(stream.at("height"), std::stoi(probed["height"]));
            for (const char* key : {"sample_aspect_ratio", "display_aspect_ratio", "field_order"}) {
                if (known(key)) {
                    EXPECT_EQ(stream.value(key, ""), probed[key]) << key;
                }
            }
            // ffprobe's -99 is no level (MPEG-1).
            if (known("level") && probed["level"] != "-99") {
                EXPECT_EQ(stream.value("level", -1), std::stoi(probed["level"])) << "level";
            }
        } else {
            EXPECT_EQ(stream.at("sample_rate"), std::stoi(probed["sample_rate"]));
            EXPECT_EQ(stream.at("channels"), std::stoi(probed["channels"]));
            if (known("channel_layout")) {
                EXPECT_EQ(stream.value("channel_layout", ""), probed["channel_layout"]);
            }
        }
        if (known("packet_span")) {
            const double expected = std::stod(probed["packet_span"]);
            EXPECT_NEAR(stream.value("duration", 0.0), expected, expected * 0.01);
        }
    }

    // How long each stream plays, by index: from its first packet's time to its last packet's
    // end, as ffprobe's parsers split the packets into frames. (ffprobe's own stream duration
    // leaves out the frames after the last time stamp.)
    std::map<std::string, double> packetSpans(const std::string& path) {
        std::istringstream in(fixture::runProcess(ffprobe_,
                                                  {"-v", "error", "-show_entries",
                                                   "packet=stream_index,pts_time,duration_time",
                                                   "-of", "csv=p=0", path},
                                                  "/")
                                  .out);
        std::map<std::string, std::pair<double, double>> spans;
        for (std::string line; std::getline(in, line);) {
            std::istringstream fields(line);
            std::string index, pts, duration;
            std::getline(fields, index, ',');
            std::getline(fields, pts, ',');
            std::getline(fields, duration, ',');
            if (pts.empty() || pts == "N/A") {
                continue;
            }
            const double start = std::stod(pts);
            const double end =
                start + (duration.empty() || duration == "N/A" ? 0 : std::stod(duration));
            auto [span, fresh] = spans.try_emplace(index, start, end);
            span->second = {std::min(span->second.first, start),
                            std::max(span->second.second, end)};
        }
        std::map<std::string, double> seconds;
        for (const auto& [index, span] : spans) {
            seconds[index] = span.second - span.first;
        }
        return seconds;
    }

    // The test's folder and the jobs over the files of the disk, with the last read's result.
    struct Files {
        fixture::TempDir dir;
        fixture::Engine engine;
        std::string source;
        ReadResult lastRead;
    } f_;
    std::string ffmpeg_;
    std::string ffprobe_;
};

std::string sine(int rate) {
    return "sine=frequency=440:sample_rate=" + std::to_string(rate) + ":duration=1";
}

struct LayoutTexts {
    const char* dolby;  // acmod text, LFE apart
    bool lfe;
    const char* channels;  // TrueHD and MLP: the channel groups in their order
};

// ffprobe's channel layout as the analysers name it.
const LayoutTexts& layoutTexts(const std::string& layout) {
    static const std::map<std::string, LayoutTexts> texts = {
        {"mono", {"mono", false, "mono"}},
        {"stereo", {"L + R", false, "L + R"}},
        {"2.1", {"L + R", true, "L + R + LFE"}},
        {"5.0", {"L + R + C + Ls + Rs", false, "L + R + C + Ls + Rs"}},
        {"5.0(side)", {"L + R + C + Ls + Rs", false, "L + R + C + Ls + Rs"}},
        {"5.1", {"L + R + C + Ls + Rs", true, "L + R + C + LFE + Ls + Rs"}},
        {"5.1(side)", {"L + R + C + Ls + Rs", true, "L + R + C + LFE + Ls + Rs"}},
        {"7.1", {"L + R + C + Ls + Rs", true, "L + R + C + LFE + Ls + Rs + Lrs + Rrs"}},
    };
    static const LayoutTexts unknown = {"?", false, "?"};
    const auto found = texts.find(layout);
    return found == texts.end() ? unknown : found->second;
}

// The Dolby Digital arrangement text of ffprobe's layout: the acmod text, LFE last.
std::string arrangement(const std::string& layout) {
    const LayoutTexts& texts = layoutTexts(layout);
    return std::string(texts.dolby) + (texts.lfe ? " + LFE" : "");
}

std::string withLayout(const std::string& layout) {
    return "aformat=channel_layouts=" + layout;
}

TEST_F(Interop, DolbyDigitalAsFfprobeSeesIt) {
    struct Case {
        int rate;
        const char* layout;
        const char* bitRate;
    };
    for (const Case c :
         {Case{48000, "5.1(side)", "448k"}, Case{48000, "5.0(side)", "384k"},
          Case{48000, "2.1", "256k"}, Case{44100, "stereo", "192k"}, Case{32000, "mono", "96k"}}) {
        const std::string file =
            make(sine(c.rate), {"-af", withLayout(c.layout), "-c:a", "ac3", "-b:a", c.bitRate},
                 "dd.ac3");
        auto p = probe(file, "ac3");
        const Lines lines = readWrapped(file, 0xBD, 0x80, "DD.EVO");
        SCOPED_TRACE(testing::PrintToString(lines));
        EXPECT_EQ(p["channel_layout"], c.layout);
        EXPECT_TRUE(has(lines, "   Stream 0 is [b]Dolby Digital[/b]"));
        EXPECT_TRUE(
            has(lines, "   Sampling frequency = [bl]" + kHz(p["sample_rate"]) + "[/bl] kHz"));
        EXPECT_TRUE(has(lines, "   Transmission bitrate = [bl]" +
                                   std::to_string(std::stoi(p["bit_rate"]) / 1000) +
                                   "[/bl] kbit/s"));
        const std::string prefix = "   Channel arrangement = [bl]" +
                                   arrangement(p["channel_layout"]) + "[/bl], bsid = 8, bsmod =";
        EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [&](const std::string& line) {
            return line.rfind(prefix, 0) == 0;
        }));
    }
}

TEST_F(Interop, DolbyDigitalPlusAsFfprobeSeesIt) {
    for (const int rate : {48000, 44100, 32000}) {
        const std::string file =
            make(sine(rate), {"-ac", "6", "-c:a", "eac3", "-b:a", "448k"}, "a.eac3");
        auto p = probe(file, "eac3");
        const Lines lines = readWrapped(file, 0xBD, 0xC2, "DDP.EVO");
        SCOPED_TRACE(testing::PrintToString(lines));
        EXPECT_TRUE(has(lines, "   Stream 2 is [b]Dolby Digital Plus[/b]"));
        EXPECT_TRUE(
            has(lines, "   Sampling frequency = [bl]" + kHz(p["sample_rate"]) + "[/bl] kHz"));
        EXPECT_TRUE(has(lines, "   Transmission bitrate = [bl]" +
                                   std::to_string(std::stoi(p["bit_rate"]) / 1000) +
                                   "[/bl] kbit/s"));
        EXPECT_TRUE(has(lines, "   Channel arrangement = [bl]" +
                                   std::string(layoutTexts(p["channel_layout"]).dolby) +
                                   "[/bl], bsid = 16"));
        EXPECT_TRUE(has(lines, "   LFE channel = [bl]present[/bl]"));
    }
}

TEST_F(Interop, Mpeg2VideoAsFfprobeSeesIt) {
    struct Case {
        const char* size;
        const char* rate;
        const char* aspect;
        const char* probedRate;
        const char* rateText;
        double frameRate;
    };
    for (const Case c :
         {Case{"1280x720", "24000/1001", "16:9", "24000/1001", "23.976", 24000.0 / 1001.0},
          Case{"720x576", "25", "4:3", "25/1", "25", 25.0}}) {
        const std::string file =
            make(std::string("testsrc2=size=") + c.size + ":rate=" + c.rate + ":duration=1",
                 {"-c:v", "mpeg2video", "-aspect", c.aspect, "-b:v", "6M", "-maxrate", "8M",
                  "-bufsize", "1835k"},
                 "v.m2v");
        auto p = probe(file, "mpeg2video");
        const Lines lines = readWrapped(file, 0xE0, std::nullopt, "VIDEO.EVO");
        SCOPED_TRACE(testing::PrintToString(lines));
        EXPECT_TRUE(has(lines, "   Sequence Header found"));
        EXPECT_TRUE(
            has(lines, "   size = [bl]" + p["width"] + "[/bl]x[bl]" + p["height"] + "[/bl]"));
        EXPECT_TRUE(has(lines, "   Aspect ratio = [bl]" + p["display_aspect_ratio"] + "[/bl]"));
        EXPECT_TRUE(has(lines, std::string("   Frame rate = [bl]") + c.rateText + "[/bl] fps"));
        EXPECT_EQ(p["r_frame_rate"], c.probedRate);
        EXPECT_EQ(f_.lastRead.frames[0].frameRate, c.frameRate);
        EXPECT_TRUE(has(lines, "   Sequence header bitrate = [bl]8000[/bl] kbps"));
    }
}

TEST_F(Interop, MpegVideoBitRatesAndMpeg1AspectsAsFfprobeSeesThem) {
    // The maximum rate is the sequence header's rate, with its upper bits in the extension.
    for (const char* maxRate : {"120M", "8M", ""}) {
        std::vector<std::string> encode = {"-c:v", "mpeg2video", "-b:v", "6M"};
        if (*maxRate != 0) {
            encode.insert(encode.end(), {"-maxrate", maxRate, "-bufsize", "9000k"});
        }
        const std::string file =
            make("testsrc2=size=1920x1080:rate=25:duration=0.2", encode, "v.m2v");
        auto p = probe(file, "mpeg2video");
        const Lines lines = readWrapped(file, 0xE0, std::nullopt, "VIDEO.EVO");
        SCOPED_TRACE(testing::PrintToString(lines));
        const long long max = std::stoll(p["max_bitrate"]);
        EXPECT_TRUE(has(lines, max == 0 ? "   Sequence header bitrate = [bl]variable[/bl]"
                                        : "   Sequence header bitrate = [bl]" +
                                              std::to_string(max / 1000) + "[/bl] kbps"));
    }
    // MPEG-1 gives the pixel's height over its width; ffprobe its width over its height.
    for (const char* aspect : {"4:3", "16:9"}) {
        const std::string file =
            make("testsrc2=size=352x288:rate=25:duration=0.2",
                 {"-c:v", "mpeg1video", "-aspect", aspect, "-f", "mpeg1video"}, "v.m1v");
        auto p = probe(file, "mpeg1video");
        const Lines lines = readWrapped(file, 0xE0, std::nullopt, "VIDEO.VOB");
        SCOPED_TRACE(testing::PrintToString(lines));
        const std::string sar = p["sample_aspect_ratio"];
        const double heightOverWidth =
            std::stod(sar.substr(sar.find(':') + 1)) / std::stod(sar.substr(0, sar.find(':')));
        const auto line = std::find_if(lines.begin(), lines.end(), [](const std::string& l) {
            return l.rfind("   Aspect ratio = [bl]", 0) == 0;
        });
        ASSERT_NE(line, lines.end());
        EXPECT_NEAR(std::stod(line->substr(22)), heightOverWidth, 0.0005) << *line;
        EXPECT_NE(line->find("(pixel height/width"), std::string::npos);
    }
}

TEST_F(Interop, FirstPtsOfVideoMuxedByFfmpegIsTheOneFfprobeStartsAt) {
    // Low delay (no B-frames, DTS equal to PTS): ffmpeg's DVD muxer writes PTS-only headers,
    // as many muxers do.
    const std::string file = make(
        "testsrc2=size=720x576:rate=25:duration=1[out0];"
        "sine=frequency=440:sample_rate=48000:duration=1[out1]",
        {"-c:v", "mpeg2video", "-bf", "0", "-flags", "+low_delay", "-c:a", "ac3", "-f", "dvd"},
        "VTS_01_1.VOB");
    const auto hex8 = [](const std::string& ticks) {
        char text[9];
        std::snprintf(text, sizeof text, "%08lX", std::stoul(ticks) & 0xFFFFFFFFul);
        return std::string(text);
    };
    const std::string video = probe(file, "mpeg2video")["start_pts"];
    const std::string audio = probe(file, "ac3")["start_pts"];
    const Lines lines = read(file);
    SCOPED_TRACE(testing::PrintToString(lines));
    ASSERT_NE(video, "0");
    EXPECT_TRUE(has(lines, "   First PTS = [re]" + hex8(video) + "[/re]"));
    EXPECT_TRUE(has(lines, "   First PTS = [re]" + hex8(audio) + "[/re]"));
    EXPECT_EQ(f_.lastRead.earliestPts.value_or(0), std::min(std::stoul(video), std::stoul(audio)));
}

TEST_F(Interop, LpcmMuxedByFfmpegAsFfprobeSeesIt) {
    for (const auto& [rate, channels] : {std::pair{48000, 2}, std::pair{96000, 6}}) {
        const std::string file =
            make(sine(rate), {"-ac", std::to_string(channels), "-c:a", "pcm_s16be", "-f", "dvd"},
                 "VTS_01_1.VOB");
        auto p = probe(file, "pcm_dvd");
        const Lines lines = read(file);
        SCOPED_TRACE(testing::PrintToString(lines));
        EXPECT_TRUE(has(lines, "[b]LPCM[/b] audio stream 0 found!"));
        EXPECT_TRUE(
            has(lines, "   Sampling frequency = [bl]" + kHz(p["sample_rate"]) + "[/bl] kHz"));
        EXPECT_TRUE(
            has(lines, "   Quantization length = [bl]" + p["bits_per_raw_sample"] + "[/bl] bits"));
        EXPECT_TRUE(has(lines, "   Number of audio channels = [bl]" + p["channels"] + "[/bl]"));
    }
}

TEST_F(Interop, TrueHdAsFfprobeSeesIt) {
    for (const char* layout : {"stereo", "5.0(side)", "5.1(side)"}) {
        const std::string file =
            make(sine(48000),
                 {"-af", withLayout(layout), "-c:a", "truehd", "-strict", "experimental"}, "a.thd");
        auto p = probe(file, "truehd");
        const Lines lines = readWrapped(file, 0xBD, 0xB1, "THD.EVO");
        SCOPED_TRACE(testing::PrintToString(lines));
        EXPECT_EQ(p["channel_layout"], layout);
        EXPECT_TRUE(has(lines, "   [b]TrueHD[/b] stream (up to 8 channels)"));
        EXPECT_TRUE(
            has(lines, "   Sampling frequency = [bl]" + kHz(p["sample_rate"]) + "[/bl] kHz"));
        // Both presentations of every major sync in the packet name the same channels.
        const std::string expected = "      channel arrangement = [bl]" +
                                     std::string(layoutTexts(p["channel_layout"]).channels) +
                                     "[/bl]";
        EXPECT_TRUE(has(lines, expected));
        EXPECT_TRUE(std::all_of(lines.begin(), lines.end(), [&](const std::string& line) {
            return line.find("channel arrangement") == std::string::npos || line == expected;
        }));
        EXPECT_TRUE(std::none_of(lines.begin(), lines.end(), [](const std::string& line) {
            return line.find("Dynamic range") != std::string::npos;
        }));
    }

    // ffmpeg encodes at most six channels: an eight-channel presentation is the 5.1 header with
    // its 13-bit assignment given the rear surrounds, as a 7.1 stream carries it.
    const std::string file = make(
        sine(48000), {"-af", withLayout("5.1(side)"), "-c:a", "truehd", "-strict", "experimental"},
        "a.thd");
    Bytes data = fixture::readFile(file);
    const Bytes sync = {0xF8, 0x72, 0x6F, 0xBA};
    const auto at = std::search(data.begin(), data.end(), sync.begin(), sync.end());
    ASSERT_NE(at, data.end());
    const auto assignment = static_cast<size_t>(at - data.begin()) + 6;
    data[assignment + 1] |= 0x40;  // bit 6 of the 8-channel assignment: Lrs + Rrs
    ProgramStreamBuilder ps;
    ps.elementaryStream(0xBD, 0xB1, data, 90000);
    const Lines lines = read(f_.dir.write("THD8.EVO", ps.bytes()));
    EXPECT_TRUE(has(lines, "      channel arrangement = [bl]" +
                               std::string(layoutTexts("7.1").channels) + "[/bl]"));
    EXPECT_TRUE(has(lines, "      channel arrangement = [bl]" +
                               std::string(layoutTexts("5.1").channels) + "[/bl]"));
}

TEST_F(Interop, DvdAudioMlpAsFfprobeSeesIt) {
    for (const char* layout : {"stereo", "5.1"}) {
        const std::string file =
            make(sine(48000), {"-af", withLayout(layout), "-c:a", "mlp", "-strict", "experimental"},
                 "a.mlp");
        auto p = probe(file, "mlp");
        const Lines lines = readWrapped(file, 0xBD, 0xA1, "ATS_01_1.AOB");
        SCOPED_TRACE(testing::PrintToString(lines));
        EXPECT_EQ(p["channel_layout"], layout);
        EXPECT_TRUE(has(lines, "[b]MLP[/b] audio stream 1 found!"));
        EXPECT_TRUE(has(lines, "   [b]Standard MLP[/b] stream (up to 6 channels)"));
        EXPECT_TRUE(
            has(lines, "   Quantization length = [bl]" + p["bits_per_raw_sample"] + "[/bl] bits"));
        EXPECT_TRUE(
            has(lines, "   Sampling frequency = [bl]" + kHz(p["sample_rate"]) + "[/bl] kHz"));
        EXPECT_TRUE(has(lines, "   Channel arrangement = [bl]" +
                                   std::string(layoutTexts(p["channel_layout"]).channels) +
                                   "[/bl]"));
    }
}

TEST_F(Interop, H264FromX264AsFfprobeSeesIt) {
    struct Case {
        const char* source;
        std::vector<std::string> encode;
        const char* aspectLine;
        const char* rateLine;
        double frameRate;
    };
    const Case cases[] = {
        {"testsrc2=size=1920x1080:rate=24000/1001:duration=1",
         {"-c:v", "libx264", "-profile:v", "high", "-preset", "veryfast"},
         "   Aspect ratio = [bl]1:1[/bl] (square samples)",
         "   Frame rate = 23.976 fps",
         24000.0 / 1001.0},
        {"testsrc2=size=720x576:rate=25:duration=1",
         {"-vf", "setsar=16/15", "-c:v", "libx264", "-profile:v", "main", "-preset", "veryfast"},
         "   Aspect ratio = 16:15",
         "   Frame rate = 25 fps",
         25.0},
        {"testsrc2=size=1280x720:rate=30000/1001:duration=1",
         {"-vf", "setsar=4/3", "-c:v", "libx264", "-profile:v", "high", "-preset", "veryfast"},
         "   Aspect ratio = [bl]4:3[/bl]",
         "   Frame rate = 29.97 fps",
         30000.0 / 1001.0},
    };
    for (const Case& c : cases) {
        const std::string file = make(c.source, c.encode, "v.264");
        auto p = probe(file, "h264");
        const Lines lines = readWrapped(file, 0xE2, std::nullopt, "AVC.EVO");
        SCOPED_TRACE(testing::PrintToString(lines));
        const int level = std::stoi(p["level"]);
        EXPECT_TRUE(has(lines, "   Profile = " + p["profile"]));
        EXPECT_TRUE(has(
            lines, "   Level = " + std::to_string(level / 10) + "." + std::to_string(level % 10)));
        EXPECT_TRUE(
            has(lines, "   Size = [bl]" + p["width"] + "[/bl]x[bl]" + p["height"] + "[/bl]"));
        EXPECT_TRUE(has(lines, c.aspectLine)) << p["sample_aspect_ratio"];
        EXPECT_TRUE(has(lines, c.rateLine)) << p["r_frame_rate"];
        EXPECT_EQ(f_.lastRead.frames[0].frameRate, c.frameRate);
        if (p["profile"] == "High") {
            EXPECT_TRUE(has(lines, "   Chroma format = [bl]4:2:0[/bl]  (l, c) = 8, 8 bit"));
        }
    }
}

// The units of a stream's headers, each without its start code and the zero bytes before the
// next: how ffprobe's extradata and ours are compared, whatever start codes each writes.
std::vector<Bytes> startCodeUnits(const Bytes& data) {
    std::vector<Bytes> units;
    for (size_t k = 0; k + 2 < data.size(); ++k) {
        if (data[k] == 0 && data[k + 1] == 0 && data[k + 2] == 1) {
            units.emplace_back();
            k += 2;
        } else if (!units.empty()) {
            units.back().push_back(data[k]);
        }
    }
    if (!units.empty()) {
        units.back().insert(units.back().end(), data.end() - std::min<size_t>(2, data.size()),
                            data.end());
    }
    for (Bytes& unit : units) {
        while (!unit.empty() && unit.back() == 0) {
            unit.pop_back();
        }
    }
    return units;
}

// Every video coding ffmpeg encodes, in the containers it writes: the headers the read keeps
// for a writer are those ffprobe extracts as the track's extradata.
TEST_F(Interop, VideoCodecPrivateDataIsTheExtradataFfprobeExtracts) {
    struct Case {
        std::vector<std::string> encode;
        const char* name;
    };
    const Case cases[] = {
        {{"-c:v", "mpeg2video", "-f", "dvd"}, "M2V.VOB"},
        {{"-c:v", "mpeg1video", "-f", "mpeg"}, "M1V.MPG"},
        {{"-c:v", "libx264", "-preset", "veryfast", "-pix_fmt", "yuv420p", "-f", "vob"}, "AVC.VOB"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string file = make("testsrc2=size=352x288:rate=25:duration=1", c.encode, c.name);
        const fixture::ProcessResult probed = fixture::runProcess(
            ffprobe_,
            {"-v", "error", "-show_streams", "-show_data", "-select_streams", "v:0", file}, "/");
        // "extradata=", then lines of "00000000: 0000 01b3 ...  text", then an empty line.
        Bytes extradata;
        std::istringstream in(probed.out);
        bool inside = false;
        for (std::string line; std::getline(in, line);) {
            if (line == "extradata=") {
                inside = true;
            } else if (inside && line.size() > 10 && line[8] == ':') {
                std::istringstream hex(line.substr(10, 40));
                for (std::string group; hex >> group;) {
                    for (size_t k = 0; k + 1 < group.size(); k += 2) {
                        extradata.push_back(
                            static_cast<uint8_t>(std::stoi(group.substr(k, 2), nullptr, 16)));
                    }
                }
            } else {
                inside = false;
            }
        }
        ASSERT_FALSE(extradata.empty()) << probed.out.substr(0, 2000);
        read(file);
        ASSERT_FALSE(f_.lastRead.streams.empty());
        const Bytes& ours = f_.lastRead.streams[0].codecPrivate;
        EXPECT_EQ(startCodeUnits(ours), startCodeUnits(extradata));
        // The units are whole: each begins with its start code.
        ASSERT_GE(ours.size(), 4u);
        EXPECT_EQ(Bytes(ours.begin(), ours.begin() + 3), (Bytes{0, 0, 1}));
    }
}

// Every audio coding ffmpeg writes into a DVD program stream: the frame header the read keeps
// for a writer is the first frame's as ffmpeg's stream copy gives it; LPCM's format bytes say
// what ffprobe says of its samples.
TEST_F(Interop, AudioHeaderBytesAreTheFirstFrameFfmpegCopies) {
    const std::string file =
        make("testsrc2=size=352x288:rate=25:duration=1",
             {"-f",     "lavfi",     "-i",        "sine=frequency=440:sample_rate=48000:duration=1",
              "-map",   "0",         "-map",      "1",
              "-map",   "1",         "-map",      "1",
              "-map",   "1",         "-c:v",      "mpeg2video",
              "-c:a:0", "ac3",       "-c:a:1",    "mp2",
              "-c:a:2", "dca",       "-strict",   "-2",
              "-c:a:3", "pcm_s16be", "-ac:a:3",   "2",
              "-f",     "dvd",       "-loglevel", "fatal"},
             "AUDIO.VOB");
    read(file);
    const auto kept = [&](StreamCoding coding) {
        for (const StreamBox& box : f_.lastRead.streams) {
            if (box.coding == coding) {
                return box.codecPrivate;
            }
        }
        return Bytes{};
    };
    const std::pair<StreamCoding, const char*> framed[] = {
        {StreamCoding::Ac3, "ac3"}, {StreamCoding::Mp2, "mp2"}, {StreamCoding::Dts, "dts"}};
    for (size_t k = 0; k < std::size(framed); ++k) {
        SCOPED_TRACE(framed[k].second);
        const fixture::ProcessResult copied =
            fixture::runProcess(ffmpeg_,
                                {"-v", "error", "-i", file, "-map", "0:a:" + std::to_string(k),
                                 "-c", "copy", "-f", framed[k].second, "-"},
                                "/");
        const Bytes ours = kept(framed[k].first);
        ASSERT_FALSE(ours.empty());
        ASSERT_GE(copied.out.size(), ours.size());
        EXPECT_EQ(ours, Bytes(copied.out.begin(), copied.out.begin() + ours.size()));
    }
    // 16 bits (code 0), 48 kHz (code 0), two channels (one more than 1), no dynamic range.
    auto pcm = probe(file, "pcm_dvd");
    ASSERT_EQ(pcm["channels"], "2");
    ASSERT_EQ(pcm["sample_rate"], "48000");
    const Bytes lpcm = kept(StreamCoding::Lpcm);
    ASSERT_EQ(lpcm.size(), 3u);
    EXPECT_EQ(lpcm[1], 0x01);
    EXPECT_EQ(lpcm[2], 0x80);
}

// The data chunk of a WAVE file: the bytes after the "data" chunk's header.
std::string waveData(const std::string& wave) {
    const size_t at = wave.find("data");
    return at == std::string::npos ? std::string() : wave.substr(at + 8);
}

// Whether the sizes a RIFF WAVE file gives (the whole file's and the data's) are its own.
bool waveSizesHold(const std::string& wave) {
    const auto le32 = [&](size_t at) {
        uint32_t value = 0;
        for (size_t k = 0; k < 4; ++k) {
            value |= static_cast<uint32_t>(static_cast<uint8_t>(wave[at + k])) << (8 * k);
        }
        return value;
    };
    const size_t data = wave.find("data");
    return wave.size() >= 12 && data != std::string::npos && le32(4) == wave.size() - 8 &&
           le32(data + 4) == wave.size() - data - 8;
}

// DVD LPCM as ffmpeg's encoder writes it, in every sample size, channel count and rate it can:
// the demuxed WAVE file holds exactly the samples of ffmpeg's own decode, and ffprobe reads its
// header as it reads ffmpeg's WAVE of the same stream.
TEST_F(Interop, LpcmIsDemuxedAsTheWaveFfmpegDecodes) {
    struct Case {
        const char* sampleFormat;
        int channels;
        int rate;
    };
    const Case cases[] = {{"s16", 1, 48000}, {"s16", 2, 48000}, {"s32", 1, 48000},
                          {"s32", 2, 96000}, {"s32", 6, 48000}, {"s16", 8, 48000},
                          {"s32", 8, 48000}};
    for (const Case& c : cases) {
        const std::string name = std::string(c.sampleFormat) + "_" + std::to_string(c.channels) +
                                 "_" + std::to_string(c.rate);
        SCOPED_TRACE(name);
        const std::string file =
            make("testsrc2=size=352x288:rate=25:duration=0.6",
                 {"-f",          "lavfi",
                  "-i",          "sine=frequency=440:sample_rate=48000:duration=0.6",
                  "-map",        "0",
                  "-map",        "1",
                  "-c:v",        "mpeg2video",
                  "-c:a",        "pcm_dvd",
                  "-sample_fmt", c.sampleFormat,
                  "-ac",         std::to_string(c.channels),
                  "-ar",         std::to_string(c.rate),
                  "-f",          "dvd",
                  "-loglevel",   "fatal"},
                 name + ".VOB");
        const std::filesystem::path out = f_.dir.path() / name;
        std::filesystem::create_directory(out);
        const fixture::ProcessResult demuxed =
            fixture::runProcess(TOLVANE_CLI, {"demux", file, "--full", "-o", out.string()}, "/");
        ASSERT_EQ(demuxed.status, 0) << demuxed.err;
        const std::string ours = (out / (name + ".LPCM.stream.00.wav")).string();
        const std::string codec = c.sampleFormat == std::string("s16") ? "s16le" : "s24le";
        const fixture::ProcessResult decoded = fixture::runProcess(
            ffmpeg_,
            {"-v", "error", "-i", file, "-map", "0:a:0", "-c:a", "pcm_" + codec, "-f", codec, "-"},
            "/");
        ASSERT_FALSE(decoded.out.empty());
        std::ifstream in(ours, std::ios::binary);
        const std::string wave{std::istreambuf_iterator<char>(in), {}};
        EXPECT_TRUE(waveData(wave) == decoded.out)
            << waveData(wave).size() << " bytes against ffmpeg's " << decoded.out.size();
        EXPECT_TRUE(waveSizesHold(wave));

        const std::string theirs = (out / "ffmpeg.wav").string();
        ASSERT_EQ(fixture::runProcess(ffmpeg_,
                                      {"-v", "error", "-i", file, "-map", "0:a:0", "-c:a",
                                       "pcm_" + codec, "-y", theirs},
                                      "/")
                      .status,
                  0);
        auto ourHeader = probe(ours, "pcm_" + codec);
        auto theirHeader = probe(theirs, "pcm_" + codec);
        ASSERT_FALSE(ourHeader["duration_ts"].empty());
        for (const char* key :
             {"channels", "sample_rate", "channel_layout", "bits_per_sample", "duration_ts"}) {
            EXPECT_EQ(ourHeader[key], theirHeader[key]) << key;
        }
    }
    // No encoder writes 20-bit LPCM: the 24-bit streams' packets, told to hold 20-bit samples,
    // are read as 20-bit by ffmpeg's decoder and by the demux alike.
    for (const char* name : {"s32_2_96000", "s32_6_48000", "s32_1_48000"}) {
        SCOPED_TRACE(std::string(name) + " as 20 bits");
        Bytes vob = fixture::readFile(f_.dir.path() / (std::string(name) + ".VOB"));
        int patched = 0;
        for (size_t at = 0; at + 16 < vob.size(); ++at) {
            if (vob[at] != 0 || vob[at + 1] != 0 || vob[at + 2] != 1 || vob[at + 3] != 0xBD) {
                continue;
            }
            const size_t id = at + 9 + vob[at + 8];
            if (id + 6 < vob.size() && (vob[id] & 0xF8) == 0xA0) {
                vob[id + 5] = static_cast<uint8_t>((vob[id + 5] & 0x3F) | 0x40);
                ++patched;
            }
        }
        ASSERT_GT(patched, 10);
        const std::string twenty = (f_.dir.path() / (std::string(name) + "_20.VOB")).string();
        {
            std::ofstream file(twenty, std::ios::binary);
            file.write(reinterpret_cast<const char*>(vob.data()),
                       static_cast<std::streamsize>(vob.size()));
        }
        const std::filesystem::path out = f_.dir.path() / (std::string(name) + "_20");
        std::filesystem::create_directory(out);
        ASSERT_EQ(
            fixture::runProcess(TOLVANE_CLI, {"demux", twenty, "--full", "-o", out.string()}, "/")
                .status,
            0);
        std::ifstream in(out / (std::string(name) + "_20.LPCM.stream.00.wav"), std::ios::binary);
        const std::string wave{std::istreambuf_iterator<char>(in), {}};
        const fixture::ProcessResult decoded = fixture::runProcess(
            ffmpeg_,
            {"-v", "error", "-i", twenty, "-map", "0:a:0", "-c:a", "pcm_s24le", "-f", "s24le", "-"},
            "/");
        ASSERT_FALSE(decoded.out.empty());
        EXPECT_TRUE(waveData(wave) == decoded.out)
            << waveData(wave).size() << " bytes against ffmpeg's " << decoded.out.size();
    }

    // A stream's bytes as the disc has them, where they are asked for.
    const std::filesystem::path raw = f_.dir.path() / "raw";
    std::filesystem::create_directory(raw);
    ASSERT_EQ(fixture::runProcess(TOLVANE_CLI,
                                  {"demux", (f_.dir.path() / "s16_2_48000.VOB").string(), "--full",
                                   "--lpcm", "raw", "-o", raw.string()},
                                  "/")
                  .status,
              0);
    EXPECT_TRUE(std::filesystem::exists(raw / "s16_2_48000.LPCM.stream.00.mpa"));

    // Past 4 GiB of samples the header is RF64's, whose sizes ffprobe takes: a sparse file of
    // six hours of 24-bit 5.1 at 48 kHz.
    const LpcmFormat format{24, 48000, 6};
    const uint64_t samples = 6ull * 3600 * 48000;
    const std::vector<uint8_t> header = wavHeader(format, samples * 18);
    const std::string big = (f_.dir.path() / "big.wav").string();
    {
        std::ofstream bigFile(big, std::ios::binary);
        bigFile.write(reinterpret_cast<const char*>(header.data()),
                      static_cast<std::streamsize>(header.size()));
    }
    std::filesystem::resize_file(big, header.size() + samples * 18);
    auto bigHeader = probe(big, "pcm_s24le");
    EXPECT_EQ(bigHeader["duration_ts"], std::to_string(samples));
    EXPECT_EQ(bigHeader["channel_layout"], "5.1");
}

TEST_F(Interop, H264HighProfilesAndCroppedSizesAsFfprobeSeesThem) {
    struct Case {
        const char* source;
        const char* pixelFormat;
        const char* chromaLine;
    };
    const Case cases[] = {
        // ffmpeg's default for RGB input: High 4:4:4 Predictive.
        {"testsrc2=size=1920x1080:rate=25:duration=0.2", "yuv444p",
         "   Chroma format = [bl]4:4:4[/bl]  (l, c) = 8, 8 bit"},
        // 854 is not a whole number of macroblocks: the SPS crops 864 to it.
        {"testsrc2=size=854x480:rate=25:duration=0.2", "yuv420p",
         "   Chroma format = [bl]4:2:0[/bl]  (l, c) = 8, 8 bit"},
        {"testsrc2=size=718x574:rate=25:duration=0.2", "yuv422p",
         "   Chroma format = [bl]4:2:2[/bl]  (l, c) = 8, 8 bit"},
    };
    for (const Case& c : cases) {
        const std::string file =
            make(c.source, {"-pix_fmt", c.pixelFormat, "-c:v", "libx264", "-preset", "veryfast"},
                 "v.264");
        auto p = probe(file, "h264");
        const Lines lines = readWrapped(file, 0xE2, std::nullopt, "AVC.EVO");
        SCOPED_TRACE(testing::PrintToString(lines));
        EXPECT_TRUE(has(lines, "   Profile = " + p["profile"]));
        EXPECT_TRUE(
            has(lines, "   Size = [bl]" + p["width"] + "[/bl]x[bl]" + p["height"] + "[/bl]"));
        EXPECT_TRUE(has(lines, c.chromaLine));
    }
}

TEST_F(Interop, DtsFromItsEncoderAsFfprobeSeesIt) {
    const std::string file =
        make(sine(48000), {"-ac", "6", "-c:a", "dca", "-strict", "experimental", "-b:a", "768k"},
             "a.dts");
    auto p = probe(file, "dts");
    const Lines lines = readWrapped(file, 0xBD, 0x89, "DTS.EVO");
    SCOPED_TRACE(testing::PrintToString(lines));
    EXPECT_EQ(p["channel_layout"], "5.1(side)");
    EXPECT_TRUE(has(lines, "   Channel arrangement = [bl]C + L + R + Ls + Rs[/bl]"));
    EXPECT_TRUE(has(lines, "   LFE channel = [bl]present[/bl] (IF:128)") ||
                has(lines, "   LFE channel = [bl]present[/bl] (IF:64)"));
    EXPECT_TRUE(has(lines, "   Sampling frequency = [bl]" + kHz(p["sample_rate"]) + "[/bl] kHz"));
    EXPECT_TRUE(has(lines, "   Transmission bitrate = [bl]" +
                               std::to_string(std::stoi(p["bit_rate"]) / 1000) + "[/bl] kbit/s"));
}

TEST_F(Interop, DelayNamesAreTheFirstPtsDifferencesFfprobeReports) {
    const std::string file = (f_.dir.path() / "VTS_01_1.VOB").string();
    for (const char* offset : {"0.24", "-0.1"}) {
        const fixture::ProcessResult made = fixture::runProcess(
            ffmpeg_, {"-v",         "error",      "-f",
                      "lavfi",      "-i",         "testsrc2=size=720x576:rate=25:duration=2",
                      "-itsoffset", offset,       "-f",
                      "lavfi",      "-i",         sine(48000),
                      "-c:v",       "mpeg2video", "-c:a",
                      "ac3",        "-f",         "dvd",
                      "-y",         file},
            "/");
        ASSERT_EQ(made.status, 0) << made.err;
        const double video = std::stod(probe(file, "mpeg2video")["start_time"]);
        const double audio = std::stod(probe(file, "ac3")["start_time"]);
        const long expected = std::lround((audio - video) * 1000);
        read(file);
        const std::filesystem::path out = f_.dir.path() / ("out" + std::string(offset));
        std::filesystem::create_directory(out);
        demux(out.string(), {.delayNames = true});
        const std::string name =
            "VTS_01_1.DD.stream.00 DELAY " + std::to_string(expected) + "ms.mpa";
        EXPECT_TRUE(std::filesystem::exists(out / name)) << name;
    }
}

TEST_F(Interop, ADemuxReadsATitleCutInTwoFilesAsOneAndCountsTheFramesFfprobeDecodes) {
    // The same title whole, and cut at a pack in its middle into VTS_01_1.VOB and VTS_01_2.VOB:
    // each demux reads its source once and writes the same streams.
    const std::filesystem::path whole = f_.dir.path() / "whole";
    const std::filesystem::path cut = f_.dir.path() / "cut";
    std::filesystem::create_directories(whole);
    std::filesystem::create_directories(cut);
    const std::string file = (whole / "VTS_01_1.VOB").string();
    const fixture::ProcessResult made = fixture::runProcess(
        ffmpeg_, {"-v",         "error",      "-f",
                  "lavfi",      "-i",         "testsrc2=size=720x576:rate=25:duration=4",
                  "-itsoffset", "0.24",       "-f",
                  "lavfi",      "-i",         sine(48000),
                  "-itsoffset", "-0.1",       "-f",
                  "lavfi",      "-i",         sine(48000),
                  "-map",       "0",          "-map",
                  "1",          "-map",       "2",
                  "-c:v",       "mpeg2video", "-c:a",
                  "ac3",        "-ac:a:0",    "6",
                  "-f",         "dvd",        "-y",
                  file},
        "/");
    ASSERT_EQ(made.status, 0) << made.err;
    const Bytes title = fixture::readFile(file);
    const size_t middle = title.size() / 2 / 2048 * 2048;
    fixture::writeFile(cut / "VTS_01_1.VOB", Bytes(title.begin(), title.begin() + middle));
    fixture::writeFile(cut / "VTS_01_2.VOB", Bytes(title.begin() + middle, title.end()));

    std::map<std::string, std::string> logs;
    std::map<std::string, std::map<std::string, Bytes>> written;
    for (const std::filesystem::path& folder : {whole, cut}) {
        const std::filesystem::path out = folder / "out";
        const fixture::ProcessResult result =
            fixture::runProcess(TOLVANE_CLI,
                                {"demux", (folder / "VTS_01_1.VOB").string(), "--delay-names", "-o",
                                 out.string(), "--color", "never"},
                                "/");
        ASSERT_EQ(result.status, 0) << result.err;
        logs[folder.filename()] = result.out;
        for (const auto& entry : std::filesystem::directory_iterator(out)) {
            // The two-file title's names begin with both files' names: from the caption on.
            const std::string name = entry.path().filename().string();
            written[folder.filename()]
                   [name.substr(std::min(name.find(".DD."), name.find(".MPEG")))] =
                       fixture::readFile(entry.path());
        }
    }
    EXPECT_NE(logs["cut"].find("Continue on VTS_01_2.VOB"), std::string::npos) << logs["cut"];
    EXPECT_EQ(written["whole"], written["cut"]);
    ASSERT_EQ(written["whole"].size(), 3u);
    // The early stream's name takes its delay, known only once the file was read.
    EXPECT_NE(written["whole"].lower_bound(".DD.stream.01 DELAY -"),
              written["whole"].lower_bound(".DD.stream.01 DELAY 0"));

    // The frame count is that of the pictures ffprobe decodes from the written stream.
    const fixture::ProcessResult counted = fixture::runProcess(
        ffprobe_,
        {"-v", "error", "-count_frames", "-select_streams", "v:0", "-show_entries",
         "stream=nb_read_frames", "-of", "default=nw=1:nk=1", "-f", "mpegvideo",
         (whole / "out" / "VTS_01_1.MPEG-2.stream.0.mpv").string()},
        "/");
    for (const auto& [name, log] : logs) {
        SCOPED_TRACE(name);
        const size_t line = log.find(" counted frames");
        ASSERT_NE(line, std::string::npos);
        const size_t start = log.rfind('\n', line) + 1;
        EXPECT_EQ(log.substr(start, line - start) + "\n", counted.out);
    }
}

// How ffmpeg copies one stream out of a program stream into its elementary-stream file: the
// stream as the demux must write it. DVD LPCM is big-endian samples behind its header.
std::vector<std::string> copyOut(const std::string& codec) {
    if (codec == "pcm_dvd") {
        return {"-c:a", "pcm_s16le", "-f", "s16le"};
    }
    if (codec == "mp3") {
        return {"-c", "copy", "-id3v2_version", "0", "-write_xing", "0", "-f", "mp3"};
    }
    return {"-c", "copy", "-f", codec};  // mpeg2video, mpeg1video, h264, ac3, dts, mp2
}

TEST_F(Interop, EveryStreamOfRealMuxersIsWrittenOnceByteForByteAndNamedAsFfprobeNamesIt) {
    struct Title {
        const char* name;
        // ffmpeg's inputs, encoders and muxer; empty for the GStreamer title.
        std::vector<std::string> ffmpeg;
        const char* file;
        // Cut into FILE_1 and FILE_2 at a pack inside an access unit, read as one title.
        bool cut = false;
    };
    const std::string video = "testsrc2=size=720x480:rate=30000/1001:duration=3";
    const auto tone = [](int hz) {
        return "sine=frequency=" + std::to_string(hz) + ":sample_rate=48000:duration=3";
    };
    const std::vector<Title> titles = {
        {"AC-3 beside DTS, LPCM and MPEG audio, numbered by ffmpeg from each coding's base",
         {"-f",     "lavfi", "-i",     video,     "-f",      "lavfi", "-i",     tone(440),
          "-f",     "lavfi", "-i",     tone(550), "-f",      "lavfi", "-i",     tone(660),
          "-f",     "lavfi", "-i",     tone(770), "-map",    "0",     "-map",   "1",
          "-map",   "2",     "-map",   "3",       "-map",    "4",     "-c:v",   "mpeg2video",
          "-c:a:0", "ac3",   "-c:a:1", "dts",     "-strict", "-2",    "-c:a:2", "pcm_s16be",
          "-c:a:3", "mp2",   "-f",     "dvd"},
         "MIX.VOB"},
        {"H.264 from x264 (no access unit delimiters) beside AC-3, in ffmpeg's vob muxer",
         {"-f", "lavfi", "-i", video, "-f", "lavfi", "-i", tone(440), "-c:v", "libx264", "-preset",
          "veryfast", "-pix_fmt", "yuv420p", "-c:a", "ac3", "-f", "vob"},
         "AVC.VOB"},
        {"an MPEG-1 system stream: MPEG-1 video, Layer II, Layer III and AC-3",
         {"-f",     "lavfi",      "-i",     "testsrc2=size=352x240:rate=30000/1001:duration=3",
          "-f",     "lavfi",      "-i",     tone(440),
          "-f",     "lavfi",      "-i",     tone(550),
          "-f",     "lavfi",      "-i",     tone(660),
          "-map",   "0",          "-map",   "1",
          "-map",   "2",          "-map",   "3",
          "-c:v",   "mpeg1video", "-c:a:0", "mp2",
          "-c:a:1", "libmp3lame", "-c:a:2", "ac3",
          "-f",     "mpeg"},
         "SYSTEM.MPG"},
        {"an interlaced 16:9 DVD title of AC-3 and DTS cut into two files inside an access unit",
         {"-f",      "lavfi", "-i",      video,        "-f",     "lavfi",       "-i",     tone(440),
          "-f",      "lavfi", "-i",      tone(550),    "-map",   "0",           "-map",   "1",
          "-map",    "2",     "-c:v",    "mpeg2video", "-b:v",   "6M",          "-c:a:0", "ac3",
          "-c:a:1",  "dts",   "-strict", "-2",         "-flags", "+ilme+ildct", "-top",   "1",
          "-aspect", "16:9",  "-f",      "dvd"},
         "CUT.VOB",
         true},
        {"H.264 at 0xE0 with MPEG audio, muxed by GStreamer", {}, "GST.MPG"},
    };
    for (const Title& title : titles) {
        SCOPED_TRACE(title.name);
        const std::filesystem::path folder = f_.dir.path() / title.file;
        std::filesystem::create_directories(folder / "out");
        const std::string whole = (folder / title.file).string();
        if (!title.ffmpeg.empty()) {
            std::vector<std::string> args = {"-v", "error"};
            args.insert(args.end(), title.ffmpeg.begin(), title.ffmpeg.end());
            args.insert(args.end(), {"-y", whole});
            const fixture::ProcessResult made = fixture::runProcess(ffmpeg_, args, "/");
            ASSERT_EQ(made.status, 0) << made.err.substr(0, 2000);
        } else {
            const std::string gst = findProgram("gst-launch-1.0");
            if (gst.empty()) {
                ADD_FAILURE() << "gst-launch-1.0 is not installed";
                continue;
            }
            const std::string h264 =
                make(video, {"-c:v", "libx264", "-pix_fmt", "yuv420p"}, "gst.h264");
            const std::string mp2 = make(tone(440), {"-c:a", "mp2"}, "gst.mp2");
            const fixture::ProcessResult muxed = fixture::runProcess(
                gst,
                {"-q", "mpegpsmux", "name=mux", "!", "filesink", "location=" + whole, "filesrc",
                 "location=" + h264, "!", "h264parse", "!", "mux.", "filesrc", "location=" + mp2,
                 "!", "mpegaudioparse", "!", "mux."},
                "/");
            ASSERT_EQ(muxed.status, 0) << muxed.err;
        }
        std::string source = whole;
        if (title.cut) {
            const Bytes bytes = fixture::readFile(whole);
            const auto half = static_cast<long>(bytes.size() / 2 / 2048 * 2048);
            source = f_.dir.write(std::string(title.file) + "/PART_1.VOB",
                                  Bytes(bytes.begin(), bytes.begin() + half));
            f_.dir.write(std::string(title.file) + "/PART_2.VOB",
                         Bytes(bytes.begin() + half, bytes.end()));
        }
        const nlohmann::json demux =
            report({"demux", source, "--full", "--ext-by-coding", "-o", (folder / "out").string()});
        if (std::find(title.ffmpeg.begin(), title.ffmpeg.end(), "dvd") != title.ffmpeg.end()) {
            // ffmpeg only reserves the navigation packs (zero-filled): no number, no times.
            EXPECT_FALSE(demux.contains("navigation")) << demux["navigation"];
        }
        std::vector<Bytes> outputs;
        for (const auto& output : demux["outputs"]) {
            const std::string path = output["path"].get<std::string>();
            Bytes bytes = fixture::readFile(path);
            if (path.ends_with(".wav")) {
                // LPCM: its samples are what ffmpeg decodes.
                const std::string data = waveData(std::string(bytes.begin(), bytes.end()));
                bytes.assign(data.begin(), data.end());
            }
            outputs.push_back(std::move(bytes));
        }

        // The whole source: from its first stream's start to its last stream's end, and its
        // bytes over that time.
        std::istringstream format(
            fixture::runProcess(ffprobe_,
                                {"-v", "error", "-show_entries", "format=duration,bit_rate", "-of",
                                 "default=nw=1:nk=1", whole},
                                "/")
                .out);
        double duration = 0;
        double bitRate = 0;
        format >> duration >> bitRate;
        EXPECT_NEAR(demux.value("duration", 0.0), duration, duration * 0.02);
        EXPECT_NEAR(demux.value("bit_rate", 0.0), bitRate, bitRate * 0.02);

        int compared = 0;
        const auto probed = probeAll(whole, {"-count_frames"});
        const std::map<std::string, double> spans = packetSpans(whole);
        for (size_t k = 0; k < probed.size(); ++k) {
            std::map<std::string, std::string> stream = probed[k];
            if (const auto span = spans.find(stream["index"]); span != spans.end()) {
                stream["packet_span"] = std::to_string(span->second);
            }
            const std::string codec = stream["codec_name"];
            if (stream["codec_type"] != "video" && stream["codec_type"] != "audio") {
                continue;  // DVD navigation packets
            }
            SCOPED_TRACE(codec + " " + stream["id"]);
            // ffprobe names a private-stream-1 stream by its sub-stream id, others by 0x1xx.
            const int id = std::stoi(stream["id"], nullptr, 16) & 0xFF;
            const auto found = std::find_if(
                demux["streams"].begin(), demux["streams"].end(),
                [&](const auto& s) { return s["id"] == id && s["kind"] == stream["codec_type"]; });
            ASSERT_NE(found, demux["streams"].end()) << "the report lists every stream";
            EXPECT_EQ(found->at("coding"), codec);
            expectSameValues(*found, stream);  // analysed, also without any PTS

            const std::string reference = (folder / ("ffmpeg." + std::to_string(k))).string();
            std::vector<std::string> args = {"-v",  "error", "-i",
                                             whole, "-map",  "0:" + std::to_string(k)};
            const std::vector<std::string> out = copyOut(codec);
            args.insert(args.end(), out.begin(), out.end());
            args.insert(args.end(), {"-y", reference});
            ASSERT_EQ(fixture::runProcess(ffmpeg_, args, "/").status, 0);
            const Bytes expected = fixture::readFile(reference);
            ASSERT_FALSE(expected.empty());
            EXPECT_EQ(std::count(outputs.begin(), outputs.end(), expected), 1)
                << "exactly one output holds the stream, byte for byte";

            if (codec != "mpeg1video" && codec != "mpeg2video" && codec != "h264") {
                ++compared;
                continue;
            }
            const auto frames = std::find_if(
                demux["frames"].begin(), demux["frames"].end(),
                [&](const auto& entry) { return entry["number"] == found->at("number"); });
            ASSERT_NE(frames, demux["frames"].end());
            EXPECT_EQ(frames->at("counted"), std::stoll(stream["nb_read_frames"]));
            ++compared;
        }
        EXPECT_EQ(static_cast<size_t>(compared), outputs.size()) << "and no output besides";

        // The same source as one Matroska file: every stream a track, each decoded without an
        // error (an access unit cut between the files is whole again), as many video frames
        // as ffprobe decodes from the source.
        const std::string mkv = (folder / "out.mkv").string();
        const nlohmann::json muxed = report({"mkv", source, "-o", mkv});
        ASSERT_EQ(muxed["tracks"].size(), static_cast<size_t>(compared));
        const fixture::ProcessResult decoded =
            fixture::runProcess(ffmpeg_, {"-v", "error", "-i", mkv, "-f", "null", "-"}, "/");
        EXPECT_EQ(decoded.status, 0);
        EXPECT_EQ(decoded.err, "");
        const auto video = probeAll(mkv, {"-count_frames", "-select_streams", "v:0"});
        const auto sourceVideo = probeAll(whole, {"-count_frames", "-select_streams", "v:0"});
        ASSERT_EQ(video.size(), 1U);
        ASSERT_EQ(sourceVideo.size(), 1U);
        EXPECT_EQ(video[0].at("nb_read_frames"), sourceVideo[0].at("nb_read_frames"));
    }
}

TEST_F(Interop, ChaptersReadBackThroughMkvmergeAtEveryTimeBase) {
    const std::string mkvmerge = findProgram("mkvmerge");
    const std::string mkvextract = findProgram("mkvextract");
    if (mkvmerge.empty() || mkvextract.empty()) {
        GTEST_SKIP() << "mkvtoolnix is not installed";
    }
    const std::string media =
        make(sine(48000).replace(sine(48000).find("duration=1"), 10, "duration=3"), {"-c:a", "ac3"},
             "a.ac3");
    for (const int fps : {60, 50, 24}) {
        SCOPED_TRACE(fps);
        const std::string last = std::to_string(fps - 1);
        const std::string third = std::to_string(fps / 3);
        // A byte-order mark, CRLF line ends, a comment, a tag split over lines, character
        // references and UTF-8 in names, and a title whose clip's name starts like the source's.
        const std::string playlist =
            "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
            "<Playlist displayName=\"Disc\">\r\n<!-- FEATURE_1 is the film -->\r\n"
            "<TitleSet timeBase=\"" +
            std::to_string(fps) +
            "fps\"\r\n  tickBase=\"24fps\">\r\n"
            "<Title displayName=\"Bonus\"><PrimaryAudioVideoClip "
            "src=\"file:///dvddisc/HVDVD_TS/FEATURE_10.MAP\"/>\r\n<ChapterList><Chapter "
            "titleTimeBegin=\"00:00:02:00\" displayName=\"Wrong\"/></ChapterList></Title>\r\n"
            "<Title displayName=\"Film\"><PrimaryAudioVideoClip "
            "src=\"file:///dvddisc/HVDVD_TS/FEATURE_1.MAP\"/>\r\n<ChapterList>\r\n"
            "<Chapter titleTimeBegin=\"00:00:00:00\" displayName=\"Caf&#233; &amp; "
            "Cr\xC3\xA8me\"/>\r\n"
            "<Chapter\r\n   titleTimeBegin=\"00:00:00:" +
            last +
            "\"\r\n   displayName=\"&#x4E2D;&#x6587;\"/>\r\n"
            "<!-- <Chapter titleTimeBegin=\"00:00:02:00\" displayName=\"Commented\"/> -->\r\n"
            "<Chapter titleTimeBegin=\"00:00:01:" +
            third +
            "\" displayName=\"Third\"/>\r\n"
            "</ChapterList></Title></TitleSet></Playlist>\r\n";
        const std::string xpl =
            f_.dir.write("ADV_OBJ/VPLST000.XPL", Bytes(playlist.begin(), playlist.end()));
        const std::string source = (f_.dir.path() / "HVDVD_TS" / "FEATURE_1.EVO").string();
        const auto ms = [fps](int frames) {
            return std::to_string(std::lround(frames * 1000.0 / fps));
        };
        const std::string expected =
            "CHAPTER01=00:00:00.000\nCHAPTER01NAME=Caf\xC3\xA9 & Cr\xC3\xA8me\n"
            "CHAPTER02=00:00:00." +
            ms(fps - 1) +
            "\nCHAPTER02NAME=\xE4\xB8\xAD\xE6\x96\x87\n"
            "CHAPTER03=00:00:01." +
            ms(fps / 3) + "\nCHAPTER03NAME=Third\n";
        for (const char* format : {"chapters.xml", "chapters.txt"}) {
            SCOPED_TRACE(format);
            const std::string chapters = (f_.dir.path() / format).string();
            const fixture::ProcessResult exported = fixture::runProcess(
                TOLVANE_CLI, {"xpl", xpl, "--source", source, "--chapters", chapters}, "/");
            ASSERT_EQ(exported.status, 0) << exported.err;
            const std::string mkv = (f_.dir.path() / "film.mkv").string();
            const fixture::ProcessResult muxed = fixture::runProcess(
                mkvmerge,
                {"-q", "-o", mkv, "--chapter-charset", "UTF-8", "--chapters", chapters, media},
                "/");
            ASSERT_EQ(muxed.status, 0) << muxed.out << muxed.err;
            const std::string back = (f_.dir.path() / "back.txt").string();
            const fixture::ProcessResult extracted =
                fixture::runProcess(mkvextract, {mkv, "chapters", "--simple", back}, "/");
            ASSERT_EQ(extracted.status, 0) << extracted.out << extracted.err;
            const Bytes read = fixture::readFile(back);
            EXPECT_EQ(std::string(read.begin(), read.end()), expected);
        }
    }
    // No title plays the source: nothing is written and the status is 1.
    const fixture::ProcessResult missing = fixture::runProcess(
        TOLVANE_CLI,
        {"xpl", (f_.dir.path() / "ADV_OBJ" / "VPLST000.XPL").string(), "--source", "FEATURE_3.EVO",
         "--chapters", (f_.dir.path() / "none.xml").string()},
        "/");
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("no title of the playlist plays the source"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(f_.dir.path() / "none.xml"));
}

TEST_F(Interop, SampleDiscDemuxesToStreamsThatDecodeAsItsReadSaid) {
    const fixture::ProcessResult made =
        fixture::runProcess(TOLVANE_SAMPLE_DISC, {f_.dir.path().string()}, "/");
    ASSERT_EQ(made.status, 0) << made.err;
    const std::filesystem::path disc = f_.dir.path() / "DISC";
    const Lines lines = read((disc / "HVDVD_TS" / "FEATURE_1.EVO").string());
    SCOPED_TRACE(testing::PrintToString(lines));
    const std::filesystem::path out = f_.dir.path() / "out";
    std::filesystem::create_directory(out);
    demux(out.string());

    struct Output {
        const char* name;
        std::vector<std::string> format;  // ffmpeg's input options for the raw stream
        const char* codec;
    };
    const Output outputs[] = {
        {"MPEG-2.stream.0.mpv", {"-f", "mpegvideo"}, "mpeg2video"},
        {"DD.stream.00.mpa", {"-f", "ac3"}, "ac3"},
        {"DD+.stream.01.mpa", {"-f", "eac3"}, "eac3"},
        {"DTSHD.stream.02.mpa", {"-f", "dts"}, "dts"},
        {"MLP.stream.03.mpa", {"-f", "truehd"}, "truehd"},
        {"LPCM.stream.04.wav", {}, "pcm_s16le"},
    };
    for (const Output& o : outputs) {
        SCOPED_TRACE(o.name);
        const std::string path = (out / (std::string("FEATURE_1_FEATURE_2.") + o.name)).string();
        std::vector<std::string> args = {"-v", "error"};
        args.insert(args.end(), o.format.begin(), o.format.end());
        args.insert(args.end(), {"-i", path, "-f", "null", "-"});
        const fixture::ProcessResult decoded = fixture::runProcess(ffmpeg_, args, "/");
        EXPECT_EQ(decoded.status, 0);
        EXPECT_EQ(decoded.err, "") << "ffmpeg found errors in the demuxed stream";

        args = {"-v", "error", "-count_frames", "-show_streams", "-of", "default=nw=1"};
        args.insert(args.end(), o.format.begin(), o.format.end());
        args.push_back(path);
        const fixture::ProcessResult probed = fixture::runProcess(ffprobe_, args, "/");
        std::map<std::string, std::string> p;
        std::istringstream in(probed.out);
        for (std::string line; std::getline(in, line);) {
            if (const size_t eq = line.find('='); eq != std::string::npos) {
                p.emplace(line.substr(0, eq), line.substr(eq + 1));
            }
        }
        EXPECT_EQ(p["codec_name"], o.codec);
        EXPECT_GE(std::stoi(p["nb_read_frames"]), 1);
        if (p["codec_type"] == "video") {
            EXPECT_TRUE(
                has(lines, "   size = [bl]" + p["width"] + "[/bl]x[bl]" + p["height"] + "[/bl]"));
            EXPECT_EQ(p["r_frame_rate"], "24000/1001");
            EXPECT_TRUE(has(lines, "   Frame rate = [bl]23.976[/bl] fps"));
        } else {
            EXPECT_TRUE(
                has(lines, "   Sampling frequency = [bl]" + kHz(p["sample_rate"]) + "[/bl] kHz"));
        }
    }
    // The channels each analyser names are ffprobe's.
    EXPECT_TRUE(has(lines, "   Channel arrangement = [bl]" + arrangement("5.1(side)") +
                               "[/bl], bsid = 8, bsmod = 0"));
    EXPECT_TRUE(has(lines, "      channel arrangement = [bl]" +
                               std::string(layoutTexts("5.1(side)").channels) + "[/bl]"));
    EXPECT_TRUE(has(lines, "   Number of audio channels = [bl]2[/bl]"));
}

TEST_F(Interop, JsonReportOfAVobMuxedByFfmpegHasFfprobesValuesAndStartTimes) {
    const std::string file = make(
        "testsrc2=size=720x576:rate=25:duration=2[out0];"
        "sine=frequency=440:sample_rate=48000:duration=2[out1];"
        "sine=frequency=660:sample_rate=44100:duration=2[out2]",
        {"-map",    "0:0",        "-map",    "0:1", "-map",    "0:2",         // all three
         "-c:v",    "mpeg2video", "-bf",     "0",   "-flags",  "+low_delay",  // PTS-only headers
         "-c:a",    "ac3",        "-ac:a:0", "6",   "-ac:a:1", "2",
         "-ar:a:1", "48000",  // 5.1 and stereo
         "-f",      "dvd"},
        "VTS_01_1.VOB");
    const nlohmann::json read = report({"read", file, "--full"});
    int compared = 0;
    for (auto& probed : probeAll(file)) {
        if (probed["codec_type"] != "video" && probed["codec_type"] != "audio") {
            continue;  // the navigation packets
        }
        // ffprobe names a private-stream-1 stream by its sub-stream id, others by 0x1xx.
        const int id = std::stoi(probed["id"], nullptr, 16) & 0xFF;
        const auto found = std::find_if(read["streams"].begin(), read["streams"].end(),
                                        [&](const nlohmann::json& s) { return s["id"] == id; });
        ASSERT_NE(found, read["streams"].end()) << "no stream " << probed["id"];
        expectSameValues(*found, probed);
        EXPECT_EQ(found->at("first_pts"), std::stoll(probed["start_pts"]));
        ++compared;
    }
    EXPECT_EQ(compared, 3);
}

TEST_F(Interop, JsonReportOfH264HasFfprobesSizeProfileAndRate) {
    const std::string file =
        make("testsrc2=size=854x480:rate=30000/1001:duration=1",
             {"-c:v", "libx264", "-profile:v", "high", "-preset", "veryfast"}, "v.264");
    auto p = probe(file, "h264");
    ProgramStreamBuilder ps;
    ps.elementaryStream(0xE2, std::nullopt, fixture::readFile(file), 90000);
    const nlohmann::json read = report({"read", f_.dir.write("AVC.EVO", ps.bytes())});
    ASSERT_EQ(read["streams"].size(), 1u);
    const nlohmann::json& video = read["streams"][0];
    expectSameValues(video, p);
    EXPECT_EQ(video.at("coding"), "h264");
    EXPECT_EQ(video.at("profile"), p["profile"]);
    EXPECT_EQ(video.at("first_pts"), 90000);
    EXPECT_NEAR(video.at("frame_rate").get<double>(), 30000.0 / 1001.0, 1e-9);
}

TEST_F(Interop, JsonReportOfTheSampleDiscHasWhatFfprobeFindsInEachDemuxedFile) {
    const fixture::ProcessResult made =
        fixture::runProcess(TOLVANE_SAMPLE_DISC, {f_.dir.path().string()}, "/");
    ASSERT_EQ(made.status, 0) << made.err;
    const std::string source = (f_.dir.path() / "DISC" / "HVDVD_TS" / "FEATURE_1.EVO").string();
    const std::filesystem::path out = f_.dir.path() / "out";
    std::filesystem::create_directory(out);
    const nlohmann::json demux =
        report({"demux", source, "--no-continue", "--ext-by-coding", "-o", out.string()});
    // ffmpeg's raw demuxers for the files, by their extension.
    const std::map<std::string, std::vector<std::string>> formats = {
        {".m2v", {"-f", "mpegvideo"}}, {".ac3", {"-f", "ac3"}},    {".eac3", {"-f", "eac3"}},
        {".dts", {"-f", "dts"}},       {".thd", {"-f", "truehd"}}, {".wav", {}}};
    int compared = 0;
    for (const nlohmann::json& output : demux.at("outputs")) {
        const std::string path = output.at("path");
        const auto format = formats.find(std::filesystem::path(path).extension().string());
        if (format == formats.end()) {
            continue;  // subpictures: no ffprobe demuxer reads them
        }
        SCOPED_TRACE(path);
        auto probed = probeAll(path, format->second);
        ASSERT_EQ(probed.size(), 1u);
        for (const nlohmann::json& stream : demux.at("streams")) {
            if (stream["kind"] == output["kind"] && stream["number"] == output["number"]) {
                if (format->first == ".wav") {
                    EXPECT_EQ(stream.at("bits_per_sample"), 16);  // and the WAVE header says so
                }
                expectSameValues(stream, probed[0]);
                ++compared;
            }
        }
    }
    EXPECT_EQ(compared, 6);
    // Every subpicture of the disc starts with the film.
    for (const nlohmann::json& stream : demux.at("streams")) {
        if (stream["kind"] == "subpicture") {
            EXPECT_EQ(stream.at("delay_ms"), 0);
        }
    }
}

TEST_F(Interop, EveryKeyOfTheReportsIsDocumentedAndTheDocumentsExamplesParse) {
    const fixture::ProcessResult made =
        fixture::runProcess(TOLVANE_SAMPLE_DISC, {f_.dir.path().string()}, "/");
    ASSERT_EQ(made.status, 0) << made.err;
    const std::filesystem::path disc = f_.dir.path() / "DISC";
    const std::string source = (disc / "HVDVD_TS" / "FEATURE_1.EVO").string();
    const std::string out = f_.dir.path().string();
    std::set<std::string> paths;
    fixture::keyPaths(report({"demux", source, "-o", out}), "", paths);
    fixture::keyPaths(report({"rebuild", source, "-o", out}), "", paths);
    fixture::keyPaths(
        report({"xpl", (disc / "ADV_OBJ" / "VPLST000.XPL").string(), "--source", source}), "",
        paths);
    EXPECT_GT(paths.size(), 50u);

    const Bytes bytes = fixture::readFile(TOLVANE_REPORT_FORMAT);
    const std::string document(bytes.begin(), bytes.end());
    for (const std::string& path : paths) {
        EXPECT_NE(document.find("| `" + path + "` |"), std::string::npos)
            << path << " is not in docs/report-format.md";
    }
    int examples = 0;
    for (size_t at = document.find("```json\n"); at != std::string::npos;
         at = document.find("```json\n", at + 1)) {
        const size_t start = at + 8;
        const std::string example = document.substr(start, document.find("```", start) - start);
        EXPECT_TRUE(nlohmann::json::accept(example)) << example;
        ++examples;
    }
    EXPECT_EQ(examples, 2);
}

}  // namespace
}  // namespace tolvane
