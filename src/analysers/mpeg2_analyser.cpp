#include "analysers/mpeg2_analyser.h"

#include <array>
#include <string>

#include "core/number_format.h"

namespace tolvane {

namespace {

struct FrameRate {
    const char* line;
    double rate;
};

constexpr std::array<FrameRate, 16> kFrameRates = {{
    {"   Frame rate = forbidden", 1.0},
    {"   Frame rate = [bl]23.976[/bl] fps", 24000.0 / 1001.0},
    {"   Frame rate = [bl]24[/bl] fps", 24.0},
    {"   Frame rate = [bl]25[/bl] fps", 25.0},
    {"   Frame rate = [bl]29.97[/bl] fps", 30000.0 / 1001.0},
    {"   Frame rate = [bl]30[/bl] fps", 30.0},
    {"   Frame rate = [bl]50[/bl] fps", 50.0},
    {"   Frame rate = [bl]59.94[/bl] fps", 60000.0 / 1001.0},
    {"   Frame rate = [bl]60[/bl] fps", 60.0},
    {"   Frame rate = reserved", 1.0},
    {"   Frame rate = reserved", 1.0},
    {"   Frame rate = reserved", 1.0},
    {"   Frame rate = reserved", 1.0},
    {"   Frame rate = reserved", 1.0},
    {"   Frame rate = reserved", 1.0},
    {"   Frame rate = reserved", 1.0},
}};

constexpr std::array<const char*, 16> kAspectRatios = {
    "   Aspect ratio = forbidden",       "   Aspect ratio = [bl]1:1[/bl] (square samples)",
    "   Aspect ratio = [bl]4:3[/bl]",    "   Aspect ratio = [bl]16:9[/bl]",
    "   Aspect ratio = [bl]2.21:1[/bl]", "   Aspect ratio = reserved",
    "   Aspect ratio = reserved",        "   Aspect ratio = reserved",
    "   Aspect ratio = reserved",        "   Aspect ratio = reserved",
    "   Aspect ratio = reserved",        "   Aspect ratio = reserved",
    "   Aspect ratio = reserved",        "   Aspect ratio = reserved",
    "   Aspect ratio = reserved",        "   Aspect ratio = reserved",
};

// MPEG-1 has no sequence extension; its aspect code is the pixel aspect ratio, height over
// width (ISO/IEC 11172-2, 2.4.3.2).
constexpr std::array<const char*, 16> kMpeg1PixelAspects = {
    "   Aspect ratio = forbidden",
    "   Aspect ratio = [bl]1:1[/bl] (square samples)",
    "   Aspect ratio = [bl]0.6735[/bl] (pixel height/width)",
    "   Aspect ratio = [bl]0.7031[/bl] (pixel height/width, 16:9 625 lines)",
    "   Aspect ratio = [bl]0.7615[/bl] (pixel height/width)",
    "   Aspect ratio = [bl]0.8055[/bl] (pixel height/width)",
    "   Aspect ratio = [bl]0.8437[/bl] (pixel height/width, 16:9 525 lines)",
    "   Aspect ratio = [bl]0.8935[/bl] (pixel height/width)",
    "   Aspect ratio = [bl]0.9157[/bl] (pixel height/width, 4:3 625 lines)",
    "   Aspect ratio = [bl]0.9815[/bl] (pixel height/width)",
    "   Aspect ratio = [bl]1.0255[/bl] (pixel height/width)",
    "   Aspect ratio = [bl]1.0695[/bl] (pixel height/width)",
    "   Aspect ratio = [bl]1.095[/bl] (pixel height/width, 4:3 525 lines)",
    "   Aspect ratio = [bl]1.1575[/bl] (pixel height/width)",
    "   Aspect ratio = [bl]1.2015[/bl] (pixel height/width)",
    "   Aspect ratio = reserved",
};

// bit_rate_value of all ones: the rate is not given (variable).
constexpr uint32_t kVariableBitRate = 0x3FFFF;

constexpr uint32_t kPictureStart = 0x00000100;
constexpr uint32_t kSequenceHeader = 0x000001B3;
constexpr uint32_t kExtensionStart = 0x000001B5;

// What follows a sequence header in the payload: its sequence extension (MPEG-2), another start
// code first (MPEG-1), or the payload's end before either.
struct Continuation {
    enum class Kind { Extension, Mpeg1, Unknown } kind = Kind::Unknown;
    uint32_t bitRateExtension = 0;
};

Continuation afterSequenceHeader(const uint8_t* block, size_t from, size_t end) {
    uint32_t code = 0xFFFFFFFF;
    for (size_t p = from; p < end; ++p) {
        code = code << 8 | block[p];
        if ((code & 0xFFFFFF00) != 0x00000100) {
            continue;
        }
        // A start code: the sequence extension, or MPEG-1 going on with its stream.
        if (code != kExtensionStart) {
            return {Continuation::Kind::Mpeg1, 0};
        }
        if (p + 4 >= end) {
            return {};
        }
        if (block[p + 1] >> 4 != 1) {
            return {Continuation::Kind::Mpeg1, 0};
        }
        const uint32_t fields = static_cast<uint32_t>(block[p + 1]) << 24 |
                                static_cast<uint32_t>(block[p + 2]) << 16 |
                                static_cast<uint32_t>(block[p + 3]) << 8 | block[p + 4];
        return {Continuation::Kind::Extension, (fields >> 1) & 0xFFF};
    }
    return {};
}

}  // namespace

void AnalyseMPEG2(const AnalyserContext& context, size_t offset, size_t length, uint32_t pts,
                  int32_t videoNo) {
    Reporter& log = context.log;
    uint32_t code = 0;
    bool sequenceFound = false;
    bool extensionDone = false;
    uint32_t picturesBefore = 0;
    int sequenceCountdown = 0;
    int pictureCountdown = 0;
    int extensionCountdown = 0;
    int pictureExtensionCountdown = 0;
    int sequenceExtensionCountdown = 0;
    int ptsCountdown = 0;
    Continuation next;
    for (size_t p = offset; p < offset + length; ++p) {
        const uint32_t b = context.block[p];
        code = code << 8 | b;
        if (code == kPictureStart) {
            pictureCountdown = 2;
        } else if (code == kSequenceHeader) {
            sequenceCountdown = 7;
            next = afterSequenceHeader(context.block, p + 1, offset + length);
            if (!sequenceFound) {
                log.log("   Sequence Header found");
                if (picturesBefore > 0) {
                    log.log("   " + std::to_string(picturesBefore) +
                            " frames before first Sequence Header");
                }
                sequenceFound = true;
                ptsCountdown = 2;
            }
            picturesBefore = 0;
        } else if (sequenceCountdown > 0) {
            --sequenceCountdown;
            if (extensionDone) {
                continue;
            }
            if (sequenceCountdown == 4) {
                log.log("   size = [bl]" + std::to_string((code >> 12) & 0xFFF) + "[/bl]x[bl]" +
                        std::to_string(code & 0xFFF) + "[/bl]");
            } else if (sequenceCountdown == 3) {
                const bool mpeg1 = next.kind == Continuation::Kind::Mpeg1;
                log.log((mpeg1 ? kMpeg1PixelAspects : kAspectRatios)[b >> 4]);
                const FrameRate& rate = kFrameRates[b & 15];
                log.log(rate.line);
                if (videoNo >= 0 &&
                    videoNo < static_cast<int32_t>(context.streams.frameRate.size())) {
                    context.streams.frameRate[static_cast<size_t>(videoNo)] = rate.rate;
                }
            } else if (sequenceCountdown == 0) {
                const uint32_t bitRateValue = (code >> 6) & 0x3FFFF;
                if (bitRateValue == kVariableBitRate && next.bitRateExtension == 0) {
                    log.log("  Sequence header bitrate = [bl]variable[/bl]");
                } else {
                    // In 400 bit/s units; the sequence extension holds the upper 12 bits.
                    const uint64_t units =
                        static_cast<uint64_t>(next.bitRateExtension) << 18 | bitRateValue;
                    log.log("  Sequence header bitrate = [bl]" +
                            std::to_string(units * 400 / 1000) + "[/bl] kbps");
                }
            }
        } else if (pictureCountdown > 0) {
            if (--pictureCountdown == 0) {
                const uint32_t type = (b >> 3) & 7;
                if (type == 0 || type > 3) {
                    log.log("   illegal picture_coding_type = " + std::to_string(type));
                }
            }
        } else if (code == kExtensionStart) {
            extensionCountdown = 1;
        } else if (extensionCountdown > 0) {
            extensionCountdown = 0;
            if (b >> 4 == 8) {
                if (sequenceFound) {
                    pictureExtensionCountdown = 5;
                }
                ++picturesBefore;
            } else if (b >> 4 == 1) {
                sequenceExtensionCountdown = 1;
            }
        } else if (pictureExtensionCountdown > 0) {
            if (--pictureExtensionCountdown == 1 && ptsCountdown > 0) {
                if (--ptsCountdown == 0) {
                    log.log("   First Video PTS = " + hexUpper(pts, 8));
                }
            }
        } else if (sequenceExtensionCountdown > 0) {
            sequenceExtensionCountdown = 0;
            if (!extensionDone) {
                log.log("   Progressive Sequence = " + std::to_string((b >> 3) & 1));
                extensionDone = true;
            }
        }
    }
}

}  // namespace tolvane
