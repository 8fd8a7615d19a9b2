#include "analysers/mpeg_audio_analyser.h"

#include <algorithm>
#include <string>

#include "format/coding_sniff.h"

namespace tolvane {

namespace {

// kbit/s by bitrate_index 1 to 14: MPEG-1 layers I, II, III, then MPEG-2 (and 2.5) layer I,
// and layers II and III.
constexpr uint16_t kBitRates[5][14] = {
    {32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
    {32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
    {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
    {32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
    {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
};
constexpr uint32_t kMpeg1Rates[3] = {44100, 48000, 32000};
constexpr const char* kChannelModes[4] = {"stereo", "joint stereo", "dual channel",
                                          "single channel"};
constexpr const char* kLayerNames[4] = {"", "I", "II", "III"};

}  // namespace

std::optional<MpegAudioHeader> decodeMpegAudio(const uint8_t* data, size_t length) {
    const std::optional<size_t> at = mpegAudioHeaderAt(data, length);
    if (!at) {
        return std::nullopt;
    }
    const uint8_t* h = data + *at;
    const int versionBits = (h[1] >> 3) & 3;  // 0 MPEG-2.5, 2 MPEG-2, 3 MPEG-1
    const int bitRateIndex = h[2] >> 4;
    MpegAudioHeader header;
    header.version = versionBits == 3 ? 1 : versionBits == 2 ? 2 : 25;
    header.layer = 4 - ((h[1] >> 1) & 3);  // 3 layer I, 2 layer II, 1 layer III
    if (bitRateIndex != 0) {
        const int table = header.version == 1 ? header.layer - 1 : header.layer == 1 ? 3 : 4;
        header.bitRate = 1000u * kBitRates[table][bitRateIndex - 1];
    }
    const uint32_t divisor = header.version == 1 ? 1 : header.version == 2 ? 2 : 4;
    header.sampleRate = kMpeg1Rates[(h[2] >> 2) & 3] / divisor;
    header.channelMode = static_cast<uint8_t>(h[3] >> 6);
    return header;
}

void printMpegAudio(const MpegAudioHeader& h, Reporter& log) {
    const std::string version = h.version == 25 ? "2.5" : std::to_string(h.version);
    log.log({std::string("   MPEG-") + version + " audio, layer ", asValue(kLayerNames[h.layer])});
    log.log({"   Sampling frequency = ", asValue(std::to_string(h.sampleRate)), " Hz"});
    log.log(h.bitRate != 0
                ? LogEvent{"   Bitrate = ", asValue(std::to_string(h.bitRate / 1000)), " kbit/s"}
                : LogEvent{"   Bitrate = free format"});
    log.log({"   Channel mode = ", asValue(kChannelModes[h.channelMode])});
}

StreamHeader mpegAudioValues(const MpegAudioHeader& h) {
    StreamHeader values;
    values.sampleRate = h.sampleRate;
    values.channels = h.channelMode == 3 ? 1 : 2;
    values.lfe = false;
    if (h.bitRate != 0) {
        values.bitRate = h.bitRate;
    }
    return values;
}

void analyseMpegAudio(const AnalyserContext& context, const HeaderPayload& payload) {
    if (payload.offset >= context.blockLength) {
        return;
    }
    const size_t length = std::min(payload.length, context.blockLength - payload.offset);
    const std::optional<MpegAudioHeader> header =
        decodeMpegAudio(context.block + payload.offset, length);
    if (!header) {
        context.log.log("   No MPEG audio frame header found");
        return;
    }
    printMpegAudio(*header, context.log);
    if (StreamHeader* entry =
            headerEntry(context.streams, StreamKind::Audio, payload.streamNumber)) {
        *entry = mpegAudioValues(*header);
    }
}

}  // namespace tolvane
