#include "analysers/mpeg2_analyser.h"

#include <array>
#include <optional>
#include <string>

#include "core/number_format.h"

namespace tolvane {

namespace {

struct FrameRate {
    ValueText line;
    double rate;
};

constexpr std::array<FrameRate, 16> kFrameRates = {{
    {{"", "forbidden"}, 1.0},
    {{"23.976", " fps"}, 24000.0 / 1001.0},
    {{"24", " fps"}, 24.0},
    {{"25", " fps"}, 25.0},
    {{"29.97", " fps"}, 30000.0 / 1001.0},
    {{"30", " fps"}, 30.0},
    {{"50", " fps"}, 50.0},
    {{"59.94", " fps"}, 60000.0 / 1001.0},
    {{"60", " fps"}, 60.0},
    {{"", "reserved"}, 1.0},
    {{"", "reserved"}, 1.0},
    {{"", "reserved"}, 1.0},
    {{"", "reserved"}, 1.0},
    {{"", "reserved"}, 1.0},
    {{"", "reserved"}, 1.0},
    {{"", "reserved"}, 1.0},
}};

constexpr std::array<ValueText, 16> kAspectRatios = {{
    {"", "forbidden"},
    {"1:1", " (square samples)"},
    {"4:3", ""},
    {"16:9", ""},
    {"2.21:1", ""},
    {"", "reserved"},
    {"", "reserved"},
    {"", "reserved"},
    {"", "reserved"},
    {"", "reserved"},
    {"", "reserved"},
    {"", "reserved"},
    {"", "reserved"},
    {"", "reserved"},
    {"", "reserved"},
    {"", "reserved"},
}};

// MPEG-1 has no sequence extension; its aspect code is the pixel aspect ratio, height over
// width (ISO/IEC 11172-2, 2.4.3.2).
constexpr std::array<ValueText, 16> kMpeg1PixelAspects = {{
    {"", "forbidden"},
    {"1:1", " (square samples)"},
    {"0.6735", " (pixel height/width)"},
    {"0.7031", " (pixel height/width, 16:9 625 lines)"},
    {"0.7615", " (pixel height/width)"},
    {"0.8055", " (pixel height/width)"},
    {"0.8437", " (pixel height/width, 16:9 525 lines)"},
    {"0.8935", " (pixel height/width)"},
    {"0.9157", " (pixel height/width, 4:3 625 lines)"},
    {"0.9815", " (pixel height/width)"},
    {"1.0255", " (pixel height/width)"},
    {"1.0695", " (pixel height/width)"},
    {"1.095", " (pixel height/width, 4:3 525 lines)"},
    {"1.1575", " (pixel height/width)"},
    {"1.2015", " (pixel height/width)"},
    {"", "reserved"},
}};

// bit_rate_value of all ones: the rate is not given (variable).
constexpr uint32_t kVariableBitRate = 0x3FFFF;

// The display aspect ratio of an MPEG-2 aspect_ratio_information, or the sample aspect of
// MPEG-1's square-sample code; none for the other codes.
const char* displayAspect(const mpeg2::AspectAndRate& aspect) {
    static constexpr std::array<const char*, 5> kMpeg2 = {nullptr, "1:1", "4:3", "16:9", "2.21:1"};
    const uint8_t code = aspect.aspectCode & 15;
    if (aspect.mpeg1) {
        return code == 1 ? "1:1" : nullptr;
    }
    return code < kMpeg2.size() ? kMpeg2[code] : nullptr;
}

// profile_and_level_indication (6.3.5, table 8-1): an escape bit, the profile and the level.
std::optional<std::string> profileName(uint8_t indication) {
    if ((indication & 0x80) != 0) {
        return std::nullopt;  // the escaped (4:2:2 and multi-view) ones
    }
    switch ((indication >> 4) & 7) {
        case 1:
            return "High";
        case 2:
            return "Spatially Scalable";
        case 3:
            return "SNR Scalable";
        case 4:
            return "Main";
        case 5:
            return "Simple";
        default:
            return std::nullopt;
    }
}

std::optional<std::string> levelName(uint8_t indication) {
    if ((indication & 0x80) != 0) {
        return std::nullopt;
    }
    switch (indication & 15) {
        case 4:
            return "High";
        case 6:
            return "High 1440";
        case 8:
            return "Main";
        case 10:
            return "Low";
        default:
            return std::nullopt;
    }
}

constexpr uint32_t kPictureStart = 0x00000100;
constexpr uint32_t kSequenceHeader = 0x000001B3;
constexpr uint32_t kExtensionStart = 0x000001B5;

// What follows a sequence header in the payload: its sequence extension (MPEG-2), another start
// code first (MPEG-1), or the payload's end before either.
struct Continuation {
    enum class Kind { Extension, Mpeg1, Unknown } kind = Kind::Unknown;
    uint32_t bitRateExtension = 0;
    uint8_t profileAndLevel = 0;
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
        return {Continuation::Kind::Extension, (fields >> 1) & 0xFFF,
                static_cast<uint8_t>(fields >> 20)};
    }
    return {};
}

}  // namespace

std::vector<mpeg2::Event> decodeMpeg2(const uint8_t* block, size_t offset, size_t length,
                                      uint64_t pts) {
    using namespace mpeg2;
    std::vector<Event> events;
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
    bool topFieldFirst = false;
    bool pictureFieldsDone = false;
    Continuation next;
    for (size_t p = offset; p < offset + length; ++p) {
        const uint32_t b = block[p];
        code = code << 8 | b;
        if (code == kPictureStart) {
            pictureCountdown = 2;
        } else if (code == kSequenceHeader) {
            sequenceCountdown = 7;
            next = afterSequenceHeader(block, p + 1, offset + length);
            if (!sequenceFound) {
                events.emplace_back(SequenceFound{picturesBefore});
                sequenceFound = true;
                ptsCountdown = 2;
                if (next.kind == Continuation::Kind::Extension) {
                    events.emplace_back(SequenceExtension{next.profileAndLevel});
                }
            }
            picturesBefore = 0;
        } else if (sequenceCountdown > 0) {
            --sequenceCountdown;
            if (extensionDone) {
                continue;
            }
            if (sequenceCountdown == 4) {
                events.emplace_back(Size{(code >> 12) & 0xFFF, code & 0xFFF});
            } else if (sequenceCountdown == 3) {
                events.emplace_back(AspectAndRate{next.kind == Continuation::Kind::Mpeg1,
                                                  static_cast<uint8_t>(b >> 4),
                                                  static_cast<uint8_t>(b & 15)});
            } else if (sequenceCountdown == 0) {
                const uint32_t bitRateValue = (code >> 6) & 0x3FFFF;
                // In 400 bit/s units; the sequence extension holds the upper 12 bits.
                events.emplace_back(
                    BitRate{bitRateValue == kVariableBitRate && next.bitRateExtension == 0,
                            static_cast<uint64_t>(next.bitRateExtension) << 18 | bitRateValue});
            }
        } else if (pictureCountdown > 0) {
            if (--pictureCountdown == 0) {
                const uint32_t type = (b >> 3) & 7;
                if (type == 0 || type > 3) {
                    events.emplace_back(IllegalPictureType{type});
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
            --pictureExtensionCountdown;
            if (pictureExtensionCountdown == 2) {
                topFieldFirst = (b & 0x80) != 0;
            } else if (pictureExtensionCountdown == 1 && !pictureFieldsDone) {
                pictureFieldsDone = true;
                events.emplace_back(PictureFields{topFieldFirst, (b & 0x80) != 0});
            }
            if (pictureExtensionCountdown == 1 && ptsCountdown > 0) {
                if (--ptsCountdown == 0) {
                    events.emplace_back(FirstPts{pts});
                }
            }
        } else if (sequenceExtensionCountdown > 0) {
            sequenceExtensionCountdown = 0;
            if (!extensionDone) {
                events.emplace_back(Progressive{((b >> 3) & 1) != 0});
                extensionDone = true;
            }
        }
    }
    return events;
}

double mpeg2FrameRate(uint8_t rateCode) {
    return kFrameRates[rateCode & 15].rate;
}

void printMpeg2(const std::vector<mpeg2::Event>& events, Reporter& log) {
    using namespace mpeg2;
    for (const Event& event : events) {
        if (const auto* found = std::get_if<SequenceFound>(&event)) {
            log.log("   Sequence Header found");
            if (found->picturesBefore > 0) {
                log.log("   " + std::to_string(found->picturesBefore) +
                        " frames before first Sequence Header");
            }
        } else if (const auto* size = std::get_if<Size>(&event)) {
            log.log({"   size = ", asValue(std::to_string(size->width)), "x",
                     asValue(std::to_string(size->height))});
        } else if (const auto* aspect = std::get_if<AspectAndRate>(&event)) {
            log.log(valueLine(
                "   Aspect ratio = ",
                (aspect->mpeg1 ? kMpeg1PixelAspects : kAspectRatios)[aspect->aspectCode & 15]));
            log.log(valueLine("   Frame rate = ", kFrameRates[aspect->rateCode & 15].line));
        } else if (const auto* rate = std::get_if<BitRate>(&event)) {
            if (rate->variable) {
                log.log({"   Sequence header bitrate = ", asValue("variable")});
            } else {
                log.log({"   Sequence header bitrate = ",
                         asValue(std::to_string(rate->units * 400 / 1000)), " kbps"});
            }
        } else if (const auto* picture = std::get_if<IllegalPictureType>(&event)) {
            log.log("   illegal picture_coding_type = " + std::to_string(picture->type));
        } else if (const auto* first = std::get_if<FirstPts>(&event)) {
            log.log("   First Video PTS = " + hexUpper(first->pts, 8));
        } else if (const auto* progressive = std::get_if<Progressive>(&event)) {
            log.log("   Progressive Sequence = " +
                    std::to_string(progressive->progressive ? 1 : 0));
        }
    }
}

StreamHeader mpeg2Values(const std::vector<mpeg2::Event>& events) {
    using namespace mpeg2;
    StreamHeader values;
    bool aspectSeen = false;
    for (const Event& event : events) {
        if (const auto* size = std::get_if<Size>(&event); size != nullptr && !values.width) {
            values.width = size->width;
            values.height = size->height;
        } else if (const auto* aspect = std::get_if<AspectAndRate>(&event);
                   aspect != nullptr && !aspectSeen) {
            aspectSeen = true;
            if (const char* ratio = displayAspect(*aspect)) {
                values.aspectRatio = ratio;
            }
            // Code 1 is square samples; MPEG-2's others are display aspects.
            static constexpr std::array<const char*, 5> kDisplay = {nullptr, nullptr, "4:3", "16:9",
                                                                    "221:100"};
            const uint8_t code = aspect->aspectCode & 15;
            if (code == 1) {
                values.sampleAspect = "1:1";
            } else if (!aspect->mpeg1 && code < kDisplay.size() && kDisplay[code] != nullptr) {
                values.displayAspect = kDisplay[code];
            }
            if (aspect->mpeg1) {
                values.fieldOrder = "progressive";  // MPEG-1 has no fields
            }
            const uint8_t rateCode = aspect->rateCode & 15;
            if (rateCode >= 1 && rateCode <= 8) {
                values.frameRate = kFrameRates[rateCode].rate;
            }
        } else if (const auto* rate = std::get_if<BitRate>(&event);
                   rate != nullptr && !values.bitRate && !rate->variable) {
            values.bitRate = static_cast<uint32_t>(rate->units * 400);
        } else if (const auto* extension = std::get_if<SequenceExtension>(&event);
                   extension != nullptr && !values.profile) {
            values.profile = profileName(extension->profileAndLevel);
            if (levelName(extension->profileAndLevel)) {
                values.level = extension->profileAndLevel & 15;
            }
        } else if (const auto* progressive = std::get_if<Progressive>(&event);
                   progressive != nullptr && progressive->progressive) {
            values.fieldOrder = "progressive";
        } else if (const auto* fields = std::get_if<PictureFields>(&event);
                   fields != nullptr && !values.fieldOrder) {
            values.fieldOrder = fields->progressiveFrame ? "progressive"
                                : fields->topFieldFirst  ? "tt"
                                                         : "bb";
        }
    }
    completeAspects(values);
    return values;
}

void analyseMpeg2(const AnalyserContext& context, const HeaderPayload& payload) {
    const std::vector<mpeg2::Event> events =
        decodeMpeg2(context.block, payload.offset, payload.length, payload.pts);
    printMpeg2(events, context.log);
    // Each sequence header up to the first sequence extension sets the rate.
    double* frameRate = frameRateEntry(context.streams, payload.streamNumber);
    for (const mpeg2::Event& event : events) {
        if (const auto* aspect = std::get_if<mpeg2::AspectAndRate>(&event);
            aspect != nullptr && frameRate != nullptr) {
            *frameRate = mpeg2FrameRate(aspect->rateCode);
        }
    }
    StreamHeader* header = headerEntry(context.streams, StreamKind::Video, payload.streamNumber);
    if (header != nullptr && !events.empty()) {
        *header = mpeg2Values(events);
    }
}

}  // namespace tolvane
