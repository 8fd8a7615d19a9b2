#include "analysers/ac3_analyser.h"

#include <array>
#include <string>

#include "core/number_format.h"

namespace tolvane {

namespace {

constexpr std::array<uint32_t, 4> kAc3Blocks = {1, 2, 3, 6};
// Dolby Digital Plus with fscod 3 codes a reduced rate in fscod2, always with six blocks.
constexpr std::array<uint32_t, 4> kReducedSampleRate = {24000, 22050, 16000, 0};
constexpr uint32_t kSamplesPerBlock = 256;

constexpr std::array<const char*, 8> kAcmodText = {
    "dual mono", "mono",          "L + R",           "L + R + C",
    "L + R + S", "L + R + C + S", "L + R + Ls + Rs", "L + R + C + Ls + Rs"};

struct Ac3Fields {
    uint32_t frmsiz = 0;
    uint32_t sampleRate = 0;
    uint32_t bitRate = 0;
    uint32_t blocks = 1;
    uint32_t acmod = 0;
    uint32_t lfeon = 0;
    uint32_t bsid = 0;
    uint32_t bsmod = 0;
    uint32_t fscodByte = 0;  // frame byte 4, read again once the coding is known
};

// Full-bandwidth channels of each acmod.
constexpr std::array<uint32_t, 8> kAcmodChannels = {2, 1, 2, 3, 3, 4, 4, 5};

// Dolby Digital's lfeon follows acmod and the mix-level fields that acmod calls for (A/52
// 5.4.2); with at most 7 bits before it, it always lies in the byte that starts with acmod.
uint32_t dolbyDigitalLfeOn(uint32_t byte6, uint32_t acmod) {
    uint32_t before = 3;
    if ((acmod & 1) != 0 && acmod != 1) {
        before += 2;  // cmixlev
    }
    if ((acmod & 4) != 0) {
        before += 2;  // surmixlev
    }
    if (acmod == 2) {
        before += 2;  // dsurmod
    }
    return (byte6 >> (7 - before)) & 1;
}

}  // namespace

std::vector<Ac3Frame> decodeAc3(const uint8_t* block, size_t offset, size_t length,
                                const LabelTables& labels) {
    std::vector<Ac3Frame> frames;
    uint32_t previous = 0;  // the byte before the payload counts as 0x00
    bool locked = false;
    int countdown = 0;
    Ac3Fields h;
    for (size_t p = offset; p < offset + length; ++p) {
        const uint32_t b = block[p];
        const uint32_t pair = previous << 8 | b;
        previous = b;
        if (pair == 0x0B77) {
            if (!locked) {
                locked = true;
                countdown = 5;
            }
            continue;
        }
        if (countdown == 0) {
            continue;
        }
        switch (--countdown) {
            case 4:
                h.frmsiz = (b & 7) << 8;
                break;
            case 3:
                h.frmsiz |= b;
                break;
            case 2: {
                h.fscodByte = b;
                h.sampleRate = static_cast<uint32_t>(labels.ac3SampleRate[b >> 6]);
                const uint32_t rateIndex = (b & 0x3F) >> 1;
                h.bitRate = rateIndex < labels.ac3BitRate.size()
                                ? static_cast<uint32_t>(labels.ac3BitRate[rateIndex])
                                : 0;
                h.blocks = kAc3Blocks[(b >> 4) & 3];
                h.acmod = (b >> 1) & 7;
                h.lfeon = b & 1;
                break;
            }
            case 1:
                h.bsid = b >> 3;
                h.bsmod = b & 7;
                break;
            default: {
                const bool plus = h.bsid >= 11 && h.bsid <= 16;
                if (plus) {
                    if (h.fscodByte >> 6 == 3) {
                        h.sampleRate = kReducedSampleRate[(h.fscodByte >> 4) & 3];
                        h.blocks = 6;
                    }
                    if (h.sampleRate == 0) {
                        locked = false;
                    } else {
                        // The frame's bits times frames per second at the real sampling rate.
                        const uint64_t frameBits = (h.frmsiz + 1) * 16ull;
                        h.bitRate = static_cast<uint32_t>(frameBits * h.sampleRate /
                                                          (kSamplesPerBlock * h.blocks));
                    }
                } else {
                    h.acmod = b >> 5;
                    h.lfeon = dolbyDigitalLfeOn(b, h.acmod);
                    if (h.sampleRate == 0 || h.bitRate == 0) {
                        locked = false;
                    }
                }
                frames.push_back(Ac3Frame{
                    .plus = plus,
                    .frameBytes = (h.frmsiz + 1) * 2,
                    .blocks = h.blocks,
                    .sampleRate = h.sampleRate,
                    .bitRate = h.bitRate,
                    .acmod = h.acmod,
                    .lfe = h.lfeon == 1,
                    .bsid = h.bsid,
                    .bsmod = h.bsmod,
                });
                break;
            }
        }
    }
    return frames;
}

void printAc3(const std::vector<Ac3Frame>& frames, int32_t streamNumber, Reporter& log,
              const LocaleSettings& locale) {
    const std::string stream = std::to_string(streamNumber);
    for (const Ac3Frame& h : frames) {
        const std::string rate = formatGeneral(h.sampleRate / 1000.0, locale);
        log.log({std::string("   Stream ") + stream + " is ",
                 asStrong(std::string("Dolby Digital") + (h.plus ? " Plus" : ""))});
        if (h.plus) {
            log.log("   frame size = " + std::to_string(h.frameBytes) +
                    " bytes, number of blocks per frame = " + std::to_string(h.blocks));
        }
        log.log({"   Sampling frequency = ", asValue(rate), " kHz"});
        log.log(
            {"   Transmission bitrate = ", asValue(std::to_string(h.bitRate / 1000)), " kbit/s"});
        // Dolby Digital names its LFE channel here; Plus has a line of its own.
        const char* lfe = !h.plus && h.lfe ? " + LFE" : "";
        LogEvent arrangement{
            "   Channel arrangement = ", asValue(std::string(kAcmodText[h.acmod]) + lfe),
            ", bsid = " + std::to_string(h.bsid)};
        if (h.plus) {
            log.log(arrangement);
            log.log({"   LFE channel = ", asValue(h.lfe ? "present" : "not present")});
        } else {
            log.log(arrangement << ", bsmod = " + std::to_string(h.bsmod));
        }
    }
}

StreamHeader ac3Values(const Ac3Frame& frame) {
    StreamHeader values;
    if (frame.sampleRate != 0) {
        values.sampleRate = frame.sampleRate;
    }
    if (frame.bitRate != 0) {
        values.bitRate = frame.bitRate;
    }
    values.channels = kAcmodChannels[frame.acmod] + (frame.lfe ? 1 : 0);
    values.lfe = frame.lfe;
    return values;
}

void analyseAc3(const AnalyserContext& context, const HeaderPayload& payload) {
    const std::vector<Ac3Frame> frames =
        decodeAc3(context.block, payload.offset, payload.length, context.labels);
    printAc3(frames, payload.streamNumber, context.log, context.locale);
    if (StreamHeader* header =
            headerEntry(context.streams, StreamKind::Audio, payload.streamNumber);
        header != nullptr && !frames.empty()) {
        *header = ac3Values(frames.front());
    }
}

}  // namespace tolvane
