// Makes a small HD DVD sample disc from streams that ffmpeg encodes when the disc is made:
// DISC/HVDVD_TS/FEATURE_1.EVO and FEATURE_2.EVO (MPEG-2 video, Dolby Digital, Dolby Digital Plus,
// DTS, TrueHD and LPCM audio, two subpicture streams), TRAILER_1.EVO, and the playlist
// DISC/ADV_OBJ/VPLST000.XPL with a title for each.
// Usage: make_sample_disc FOLDER
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "bit_writer.h"
#include "child_process.h"
#include "program_stream_builder.h"
#include "temp_dir.h"

namespace {

namespace fs = std::filesystem;
namespace fx = tolvane::fixture;
using fx::Bytes;

constexpr uint64_t kClock = 90000;
constexpr uint64_t kStartPts = kClock;  // the film starts one second into the clock
constexpr double kFrameRate = 24000.0 / 1001.0;
constexpr int kGop = 12;  // half a second: one navigation pack a GOP
constexpr size_t kMaxPesPacket = fx::kPackSize - fx::kPackHeaderSize;

uint64_t ticksOfFrames(uint64_t frames) {
    return static_cast<uint64_t>(std::llround(static_cast<double>(frames) * kClock / kFrameRate));
}

// One access unit of an elementary stream: where it starts and when it is presented.
struct Unit {
    size_t offset;
    uint64_t pts;
};

struct Stream {
    uint8_t streamId;              // 0xE0 for video, 0xBD for private stream 1
    std::optional<uint8_t> subId;  // the sub-stream id of private stream 1
    Bytes headerTail;              // sub-stream header bytes after the id
    Bytes data;
    std::vector<Unit> units;
    size_t written = 0;
    size_t nextUnit = 0;  // the first unit not yet wholly written
};

uint32_t bigEndian(const Bytes& data, size_t at, int bytes) {
    uint32_t value = 0;
    for (int k = 0; k < bytes; ++k) {
        value = value << 8 | data[at + static_cast<size_t>(k)];
    }
    return value;
}

// MPEG-2 without B-frames: one unit a picture, the sequence and GOP headers before it included.
std::vector<Unit> videoUnits(const Bytes& data) {
    std::vector<Unit> units;
    std::optional<size_t> headers;
    uint64_t frame = 0;
    for (size_t p = 0; p + 3 < data.size(); ++p) {
        if (data[p] != 0 || data[p + 1] != 0 || data[p + 2] != 1) {
            continue;
        }
        const uint8_t code = data[p + 3];
        if ((code == 0xB3 || code == 0xB8) && !headers) {
            headers = p;
        } else if (code == 0x00) {
            units.push_back({headers.value_or(p), kStartPts + ticksOfFrames(frame++)});
            headers.reset();
        }
    }
    return units;
}

// Units whose size each header gives, of `samples` samples at 48 kHz each.
template <typename UnitSize>
std::vector<Unit> audioUnits(const Bytes& data, UnitSize unitSize) {
    std::vector<Unit> units;
    uint64_t samples = 0;
    size_t at = 0;
    while (at + 16 <= data.size()) {
        const auto [size, unitSamples] = unitSize(data, at);
        if (size == 0) {
            throw std::runtime_error("an encoder wrote a unit this tool cannot size");
        }
        units.push_back({at, kStartPts + samples * kClock / 48000});
        samples += unitSamples;
        at += size;
    }
    return units;
}

std::pair<size_t, uint64_t> dolbyUnit(const Bytes& data, size_t at) {
    if (bigEndian(data, at, 2) != 0x0B77) {
        return {0, 0};
    }
    const uint32_t bsid = data[at + 5] >> 3;
    if (bsid > 10) {  // Dolby Digital Plus: frmsiz in 16-bit words, minus one
        return {(((data[at + 2] & 7u) << 8 | data[at + 3]) + 1) * 2, 1536};
    }
    // Dolby Digital at 48 kHz: two words per kbit/s of the frmsizecod's rate.
    static constexpr uint32_t kRates[] = {32,  40,  48,  56,  64,  80,  96,  112, 128, 160,
                                          192, 224, 256, 320, 384, 448, 512, 576, 640};
    const uint32_t code = (data[at + 4] & 0x3Fu) >> 1;
    return {code < 19 ? kRates[code] * 4 : 0, 1536};
}

std::pair<size_t, uint64_t> dtsUnit(const Bytes& data, size_t at) {
    if (bigEndian(data, at, 4) != 0x7FFE8001) {
        return {0, 0};
    }
    const uint32_t blocks = ((data[at + 4] & 1u) << 6 | data[at + 5] >> 2) + 1;
    const uint32_t size = ((data[at + 5] & 3u) << 12 | data[at + 6] << 4 | data[at + 7] >> 4) + 1;
    return {size, blocks * 32};
}

std::pair<size_t, uint64_t> trueHdUnit(const Bytes& data, size_t at) {
    // Access unit length in 16-bit words, after a 4-bit check nibble; 40 samples a unit.
    return {(((data[at] & 0x0Fu) << 8) | data[at + 1]) * 2, 40};
}

std::vector<Unit> lpcmUnits(const Bytes& data) {
    constexpr size_t kUnitBytes = 640;  // 160 stereo samples of 16 bits: 1/300 s
    std::vector<Unit> units;
    for (size_t at = 0; at < data.size(); at += kUnitBytes) {
        units.push_back({at, kStartPts + at / kUnitBytes * kClock / 300});
    }
    return units;
}

class Encoder {
public:
    explicit Encoder(const fs::path& folder) : folder_(folder) {}

    Bytes encode(const std::string& source, std::vector<std::string> codec,
                 const std::string& name) {
        std::vector<std::string> args = {"-v", "error", "-nostdin", "-f", "lavfi", "-i", source};
        args.insert(args.end(), codec.begin(), codec.end());
        const fs::path out = folder_ / name;
        args.insert(args.end(), {"-y", out.string()});
        const fx::ProcessResult result = fx::runProcess("ffmpeg", args, folder_.string());
        if (result.status != 0) {
            throw std::runtime_error("ffmpeg could not make " + name +
                                     " (is ffmpeg installed?): " + result.err.substr(0, 500));
        }
        return fx::readFile(out);
    }

private:
    fs::path folder_;
};

std::string seconds(double duration) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", duration);
    return text;
}

std::string sine(int frequency, double duration, const char* layout) {
    return "sine=frequency=" + std::to_string(frequency) +
           ":sample_rate=48000:duration=" + seconds(duration) +
           ",aformat=channel_layouts=" + layout;
}

struct Feature {
    uint16_t vob;
    int frames;
    bool allStreams;
};

// The streams of one feature file, encoded for it.
std::vector<Stream> encodeStreams(Encoder& encoder, const Feature& feature) {
    const double duration = feature.frames / kFrameRate;
    std::vector<Stream> streams;
    const Bytes video =
        encoder.encode("testsrc2=size=1920x1080:rate=24000/1001:duration=" + seconds(duration),
                       {"-c:v", "mpeg2video", "-b:v", "8M", "-maxrate", "15M", "-bufsize", "9000k",
                        "-g", std::to_string(kGop), "-bf", "0", "-flags", "+low_delay", "-aspect",
                        "16:9", "-f", "mpeg2video"},
                       "video.m2v");
    streams.push_back({0xE0, std::nullopt, {}, video, videoUnits(video)});
    const auto audio = [&](uint8_t subId, Bytes tail, const std::string& source,
                           std::vector<std::string> codec, const std::string& name, auto units) {
        const Bytes data = encoder.encode(source, std::move(codec), name);
        streams.push_back({0xBD, subId, std::move(tail), data, units(data)});
    };
    const auto sized = [](auto unitSize) {
        return [unitSize](const Bytes& data) { return audioUnits(data, unitSize); };
    };
    audio(0x80, {}, sine(440, duration, "5.1(side)"), {"-c:a", "ac3", "-b:a", "448k", "-f", "ac3"},
          "audio.ac3", sized(dolbyUnit));
    if (!feature.allStreams) {
        return streams;
    }
    audio(0xC1, {}, sine(550, duration, "5.1(side)"),
          {"-c:a", "eac3", "-b:a", "640k", "-f", "eac3"}, "audio.eac3", sized(dolbyUnit));
    audio(0x8A, {}, sine(660, duration, "5.1(side)"),
          {"-c:a", "dca", "-strict", "experimental", "-b:a", "1536k", "-f", "dts"}, "audio.dts",
          sized(dtsUnit));
    audio(0xB3, {}, sine(770, duration, "5.1(side)"),
          {"-c:a", "truehd", "-strict", "experimental", "-f", "truehd"}, "audio.thd",
          sized(trueHdUnit));
    // LPCM: 16 bits, 48 kHz, two channels, as its sub-stream header says.
    audio(0xA4, {0x01, 0x00, 0x04, 0x00, 0x01, 0x80}, sine(880, duration, "stereo"),
          {"-c:a", "pcm_s16be", "-f", "s16be"}, "audio.pcm", lpcmUnits);
    for (const auto& [subId, colour] : {std::pair{0x20, 2}, std::pair{0x21, 3}}) {
        Stream subtitles{0xBD, static_cast<uint8_t>(subId), {}, {}, {}};
        // One subtitle every two seconds, the first with the film.
        for (uint64_t at = 0; at < static_cast<uint64_t>(duration * kClock); at += 2 * kClock) {
            subtitles.units.push_back({subtitles.data.size(), kStartPts + at});
            // The French stream's first subtitle is forced on screen.
            const Bytes unit = fx::hdSubpictureUnit(colour, subId == 0x21 && at == 0);
            subtitles.data.insert(subtitles.data.end(), unit.begin(), unit.end());
        }
        streams.push_back(std::move(subtitles));
    }
    return streams;
}

size_t headerBytes(const Stream& stream) {
    // Start code and length, the fixed header bytes, a PTS, and the sub-stream header.
    return 6 + 3 + 5 + (stream.subId ? fx::subStreamHeaderSize(*stream.subId) : 0);
}

// Interleaves the streams by time, one PES packet a pack, with a navigation pack (and its
// copy-control packet) before every GOP.
Bytes multiplex(std::vector<Stream>& streams, const Feature& feature) {
    const auto endPtm =
        static_cast<uint32_t>(kStartPts + ticksOfFrames(static_cast<uint64_t>(feature.frames)));
    fx::DsiFields dsi{
        .vobNumber = feature.vob, .startPtm = static_cast<uint32_t>(kStartPts), .endPtm = endPtm};
    int audioCount = 0;
    int subCount = 0;
    for (const Stream& s : streams) {
        if (s.subId && fx::subStreamHeaderSize(*s.subId) == 1) {
            dsi.subSync[static_cast<size_t>(subCount++)] = 0x80000000u;
        } else if (s.subId) {
            dsi.audioSync[static_cast<size_t>(audioCount++)] = 0x8000;
        }
    }
    fx::ProgramStreamBuilder ps;
    size_t gopsStarted = 0;
    while (true) {
        Stream* next = nullptr;
        for (Stream& s : streams) {
            if (s.written < s.data.size() &&
                (next == nullptr || s.units[s.nextUnit].pts < next->units[next->nextUnit].pts)) {
                next = &s;
            }
        }
        if (next == nullptr) {
            break;
        }
        Stream& s = *next;
        const bool video = s.streamId == 0xE0;
        if (video && s.written == s.units[s.nextUnit].offset && s.nextUnit / kGop == gopsStarted &&
            s.nextUnit % kGop == 0) {
            ps.raw(fx::evoNavigationPack(audioCount, 1, dsi,
                                         fx::CopyControlFields{.applies = 0xC0, .codes = 0x44},
                                         ps.size() / fx::kPackSize * 300));
            ++gopsStarted;
        }
        // Subpicture units go one to a packet; everything else fills its packet.
        const bool subpicture = s.subId && fx::subStreamHeaderSize(*s.subId) == 1;
        size_t take = std::min(kMaxPesPacket - headerBytes(s), s.data.size() - s.written);
        if (subpicture && s.nextUnit + 1 < s.units.size()) {
            take = std::min(take, s.units[s.nextUnit + 1].offset - s.written);
        }
        // The PTS is that of the first unit that starts in the packet.
        std::optional<uint64_t> pts;
        size_t unit = s.nextUnit;
        while (unit < s.units.size() && s.units[unit].offset < s.written + take) {
            if (!pts && s.units[unit].offset >= s.written) {
                pts = s.units[unit].pts;
            }
            ++unit;
        }
        const std::span<const uint8_t> part(s.data.data() + s.written, take);
        const fx::PesHeader header{.pts = pts};
        ps.pack({s.subId ? fx::privateStream1Packet(*s.subId, header, part, s.headerTail)
                         : fx::pesPacket(s.streamId, header, part)});
        s.written += take;
        while (s.nextUnit + 1 < s.units.size() && s.units[s.nextUnit + 1].offset <= s.written) {
            ++s.nextUnit;
        }
    }
    return ps.bytes();
}

// "HH:MM:SS:FF" at the title set's 60 fps time base.
std::string titleTime(int filmFrames) {
    const auto ticks = static_cast<long long>(std::llround(filmFrames / kFrameRate * 60.0));
    char text[32];
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld:%02lld", ticks / 216000,
                  ticks / 3600 % 60, ticks / 60 % 60, ticks % 60);
    return text;
}

std::string playlist(const Feature& one, const Feature& two, const Feature& trailer) {
    const int both = one.frames + two.frames;
    return R"(<?xml version="1.0" encoding="UTF-8"?>
<Playlist xmlns="http://www.dvdforum.org/2005/HDDVDVideo/Playlist" majorVersion="1" minorVersion="0" displayName="Tolvane Sample">
  <!-- made by make_sample_disc -->
  <Configuration>
    <StreamingBuffer size="0"/>
  </Configuration>
  <MediaAttributeList>
    <VideoAttributeItem index="1" codec="MPEG-2" sampleAspectRatio="16:9" frameRate="24000/1001"/>
    <AudioAttributeItem index="1" codec="DD" channels="6"/>
    <AudioAttributeItem index="2" codec="DD+" channels="6"/>
    <AudioAttributeItem index="3" codec="DTS" channels="6"/>
    <AudioAttributeItem index="4" codec="MLP" channels="6"/>
    <AudioAttributeItem index="5" codec="LPCM" channels="2"/>
    <SubpictureAttributeItem index="1" codec="2bitRLE"/>
  </MediaAttributeList>
  <TitleSet timeBase="60fps" tickBase="24fps" defaultLanguage="en">
    <FirstPlayTitle titleDuration="00:00:00:00"/>
    <Title id="Title1" titleNumber="1" displayName="Sample Feature" titleDuration=")" +
           titleTime(both) + R"(">
      <PrimaryAudioVideoClip src="file:///dvddisc/HVDVD_TS/FEATURE_1.MAP" titleTimeBegin="00:00:00:00" titleTimeEnd=")" +
           titleTime(one.frames) + R"(">
        <Video track="1" mediaAttr="1"/>
        <Audio track="1" streamNumber="1" mediaAttr="1" description="English"/>
        <Audio track="2" streamNumber="2" mediaAttr="2" description="English"/>
        <Audio track="3" streamNumber="3" mediaAttr="3" description="French"/>
        <Audio track="4" streamNumber="4" mediaAttr="4" description="German"/>
        <Audio track="5" streamNumber="5" mediaAttr="5" description="Commentary"/>
        <Subtitle track="1" streamNumber="1" mediaAttr="1" description="English"/>
        <Subtitle track="2" streamNumber="2" mediaAttr="1" description="French"/>
      </PrimaryAudioVideoClip>
      <PrimaryAudioVideoClip src="file:///dvddisc/HVDVD_TS/FEATURE_2.MAP" titleTimeBegin=")" +
           titleTime(one.frames) + R"(" titleTimeEnd=")" + titleTime(both) + R"("/>
      <ChapterList>
        <Chapter titleTimeBegin="00:00:00:00" displayName="Opening"/>
        <Chapter titleTimeBegin="00:00:02:00" displayName="The Middle"/>
        <Chapter titleTimeBegin=")" +
           titleTime(one.frames) + R"(" displayName="Second file"/>
      </ChapterList>
    </Title>
    <Title id="Title2" titleNumber="2" displayName="Trailer" titleDuration=")" +
           titleTime(trailer.frames) + R"(">
      <PrimaryAudioVideoClip src="file:///dvddisc/HVDVD_TS/TRAILER_1.MAP" titleTimeBegin="00:00:00:00" titleTimeEnd=")" +
           titleTime(trailer.frames) + R"(">
        <Video track="1" mediaAttr="1"/>
        <Audio track="1" streamNumber="1" mediaAttr="1" description="English"/>
      </PrimaryAudioVideoClip>
      <ChapterList>
        <Chapter titleTimeBegin="00:00:00:00" displayName="Trailer"/>
      </ChapterList>
    </Title>
  </TitleSet>
</Playlist>
)";
}

}  // namespace

int main(int argc, char** argv) {
    constexpr const char* kUsage =
        "Usage: make_sample_disc FOLDER\n"
        "Writes a sample disc to FOLDER/DISC: HVDVD_TS/FEATURE_1.EVO, HVDVD_TS/FEATURE_2.EVO,\n"
        "HVDVD_TS/TRAILER_1.EVO and ADV_OBJ/VPLST000.XPL, from streams that ffmpeg encodes.\n";
    const std::string argument = argc == 2 ? argv[1] : "";
    if (argument == "-h" || argument == "--help") {
        std::cout << kUsage;
        return 0;
    }
    // A folder name that starts with "-" is taken for a mistyped option, not created.
    if (argc != 2 || argument.empty() || argument.front() == '-') {
        std::cerr << kUsage;
        return 2;
    }
    const fs::path disc = fs::path(argument) / "DISC";
    const Feature one{1, 144, true};
    const Feature two{2, 72, true};
    const Feature trailer{1, 48, false};
    try {
        const fx::TempDir work;
        Encoder encoder(work.path());
        for (const auto& [feature, name] :
             {std::pair{one, "FEATURE_1.EVO"}, std::pair{two, "FEATURE_2.EVO"},
              std::pair{trailer, "TRAILER_1.EVO"}}) {
            std::vector<Stream> streams = encodeStreams(encoder, feature);
            fx::writeFile(disc / "HVDVD_TS" / name, multiplex(streams, feature));
        }
        const std::string xpl = playlist(one, two, trailer);
        fx::writeFile(disc / "ADV_OBJ" / "VPLST000.XPL", Bytes(xpl.begin(), xpl.end()));
    } catch (const std::exception& error) {
        std::cerr << "make_sample_disc: " << error.what() << '\n';
        return 1;
    }
    std::cout << "Sample disc written to " << disc.string() << '\n';
    return 0;
}
