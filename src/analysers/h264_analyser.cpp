#include "analysers/h264_analyser.h"

#include <array>
#include <cmath>
#include <string>
#include <string_view>

#include "analysers/bit_reader.h"
#include "core/number_format.h"

namespace tolvane {

namespace {

constexpr std::array<const char*, 4> kChromaText = {"monochrome", "4:2:0", "4:2:2", "4:4:4"};
constexpr std::array<const char*, 8> kVideoFormatText = {
    "Component", "PAL", "NTSC", "SECAM", "MAC", "Unspecified", "", ""};

struct Profile {
    uint32_t idc;
    const char* line;
};
constexpr Profile kProfiles[] = {
    {66, "   Profile = Baseline"},
    {77, "   Profile = Main"},
    {88, "   Profile = Extended"},
    {100, "   Profile = High"},
    {110, "   Profile = High 10"},
    {122, "   Profile = High 4:2:2"},
    {144, "   Profile = High 4:4:4"},
    {244, "   Profile = High 4:4:4 Predictive"},
    {44, "   Profile = CAVLC 4:4:4 Intra"},
    {83, "   Profile = Scalable Baseline"},
    {86, "   Profile = Scalable High"},
    {118, "   Profile = Multiview High"},
    {128, "   Profile = Stereo High"},
    {134, "   Profile = MFC High"},
    {135, "   Profile = MFC Depth High"},
    {138, "   Profile = Multiview Depth High"},
    {139, "   Profile = Enhanced Multiview Depth High"},
};

// The profiles whose SPS carries chroma_format_idc, the bit depths and the scaling lists
// (H.264 7.3.2.1.1), with the High 4:4:4 of the 2005 edition.
constexpr uint32_t kHighProfiles[] = {100, 110, 122, 244, 44,  83,  86,
                                      118, 128, 138, 139, 134, 135, 144};

bool hasHighProfileFields(uint32_t idc) {
    for (uint32_t high : kHighProfiles) {
        if (high == idc) {
            return true;
        }
    }
    return false;
}

constexpr uint32_t kSpsRefIdc1 = 0x00000127;
constexpr uint32_t kSpsRefIdc3 = 0x00000167;

const char* profileLine(uint32_t idc) {
    for (const Profile& p : kProfiles) {
        if (p.idc == idc) {
            return p.line;
        }
    }
    return "   Profile = Unknown";
}

// Reads one scaling list only to step over it (7.3.2.1.1.1).
void skipScalingList(BitReader& reader, int size) {
    int32_t last = 8;
    int32_t next = 8;
    for (int j = 0; j < size; ++j) {
        if (next != 0) {
            const int32_t delta = reader.readSe();
            next = static_cast<int32_t>((last + static_cast<int64_t>(delta) + 256) % 256);
        }
        last = next == 0 ? last : next;
    }
}

}  // namespace

std::optional<H264Sps> decodeH264(const uint8_t* block, size_t blockLength, size_t offset,
                                  size_t length) {
    BitReader reader(block, blockLength);
    const auto start = static_cast<int32_t>(offset);
    const auto end = static_cast<int64_t>(offset) + static_cast<int64_t>(length) - 1;
    reader.start(start);
    bool found = false;
    while (!found && reader.pos() < end) {
        found = reader.peek() == kSpsRefIdc1 || reader.peek() == kSpsRefIdc3;
        if (!found) {
            reader.skip(8);
        }
    }
    if (!found) {
        return std::nullopt;  // no SPS in the searched range
    }
    reader.skip(32);
    reader.dropEmulationPrevention();

    H264Sps sps;
    sps.profileIdc = reader.read(8);
    reader.skip(3);
    sps.constraintSet3 = reader.read(1) == 1;
    reader.skip(4);
    sps.levelIdc = reader.read(8);
    reader.readUe();  // seq_parameter_set_id

    uint32_t chroma = 1;
    uint32_t separateColourPlanes = 0;
    if (hasHighProfileFields(sps.profileIdc)) {
        chroma = reader.readUe();
        if (chroma == 3) {
            separateColourPlanes = reader.read(1);
        }
        const uint32_t lumaDepth = reader.readUe();
        const uint32_t chromaDepth = reader.readUe();
        sps.chroma = H264ChromaFormat{chroma, lumaDepth + 8, chromaDepth + 8};
        reader.read(1);  // qpprime_y_zero_transform_bypass_flag
        if (reader.read(1) == 1) {
            const int lists = chroma != 3 ? 8 : 12;
            for (int k = 0; k < lists; ++k) {
                if (reader.read(1) == 1) {
                    skipScalingList(reader, k < 6 ? 16 : 64);
                }
            }
        }
    }
    reader.readUe();  // log2_max_frame_num_minus4
    const uint32_t pocType = reader.readUe();
    if (pocType == 0) {
        reader.readUe();
    } else if (pocType == 1) {
        reader.read(1);
        reader.readSe();
        reader.readSe();
        const uint32_t cycle = reader.readUe();
        for (uint32_t k = 0; k < cycle && k < 256; ++k) {
            reader.readSe();
        }
    }
    reader.readUe();  // num_ref_frames
    reader.read(1);   // gaps_in_frame_num_value_allowed_flag
    int64_t width = (static_cast<int64_t>(reader.readUe()) + 1) * 16;
    const int64_t heightInMapUnits = static_cast<int64_t>(reader.readUe()) + 1;
    const uint32_t frameMbsOnly = reader.read(1);
    if (frameMbsOnly == 0) {
        reader.read(1);
    }
    reader.read(1);  // direct_8x8_inference_flag
    int64_t height = (2 - frameMbsOnly) * heightInMapUnits * 16;
    if (reader.read(1) == 1) {
        const int64_t left = reader.readUe();
        const int64_t right = reader.readUe();
        const int64_t top = reader.readUe();
        const int64_t bottom = reader.readUe();
        // Crop units (7.4.2.1.1): none for monochrome or separate colour planes, else the
        // chroma subsampling; an invalid chroma_format_idc crops as 4:2:0 does.
        const bool chromaArray = chroma != 0 && separateColourPlanes == 0;
        const int64_t subWidth = chroma == 3 ? 1 : 2;
        const int64_t subHeight = chroma == 2 || chroma == 3 ? 1 : 2;
        const int64_t unitX = chromaArray ? subWidth : 1;
        const int64_t unitY = (chromaArray ? subHeight : 1) * (2 - frameMbsOnly);
        width -= unitX * (left + right);
        height -= unitY * (top + bottom);
    }
    sps.width = width;
    sps.height = height;
    sps.frameMbsOnly = frameMbsOnly == 1;
    if (reader.read(1) == 0) {
        return sps;  // no VUI
    }
    H264Vui& vui = sps.vui.emplace();
    if (reader.read(1) == 1) {
        vui.aspectIdc = reader.read(8);
        if (vui.aspectIdc == 255u) {
            vui.sarWidth = reader.read(16);
            vui.sarHeight = reader.read(16);
        }
    }
    if (reader.read(1) == 1) {
        reader.read(1);
    }
    if (reader.read(1) == 1) {
        vui.videoFormat = reader.read(3);
        reader.read(1);
        if (reader.read(1) == 1) {
            reader.read(8);
            reader.read(8);
            reader.read(8);
        }
    }
    if (reader.read(1) == 1) {
        reader.readUe();
        reader.readUe();
    }
    if (reader.read(1) == 1) {
        H264Timing& timing = vui.timing.emplace();
        timing.unitsInTick = static_cast<int32_t>(reader.read(32));
        timing.timeScale = static_cast<int32_t>(reader.read(32));
    }
    return sps;
}

std::optional<double> h264FrameRate(const H264Sps& sps) {
    if (!sps.vui || !sps.vui->timing || sps.vui->timing->unitsInTick == 0) {
        return std::nullopt;
    }
    const H264Timing& timing = *sps.vui->timing;
    return timing.timeScale / (2.0 * timing.unitsInTick);
}

namespace {

std::string levelText(const H264Sps& sps) {
    if (sps.levelIdc == 11 && sps.constraintSet3) {
        return "1b";
    }
    return std::to_string(sps.levelIdc / 10) + "." + std::to_string(sps.levelIdc % 10);
}

}  // namespace

void printH264(const H264Sps& sps, const LabelTables& labels, const LocaleSettings& locale,
               Reporter& log) {
    log.log(profileLine(sps.profileIdc));
    log.log("   Level = " + levelText(sps));
    if (sps.chroma) {
        const uint32_t chroma = sps.chroma->idc;
        log.log({"   Chroma format = ", asValue(std::string(chroma < 4 ? kChromaText[chroma] : "")),
                 "  (l, c) = " + std::to_string(sps.chroma->lumaBits) + ", " +
                     std::to_string(sps.chroma->chromaBits) + " bit"});
    }
    log.log({"   Size = ", asValue(std::to_string(sps.width)), "x",
             asValue(std::to_string(sps.height))});
    if (!sps.vui) {
        return;
    }
    const H264Vui& vui = *sps.vui;
    if (vui.aspectIdc) {
        if (*vui.aspectIdc < 16) {
            log.log(valueLine("   Aspect ratio = ", labels.sarText[*vui.aspectIdc]));
        } else if (*vui.aspectIdc == 255) {
            log.log("   Aspect ratio = " + std::to_string(vui.sarWidth) + ":" +
                    std::to_string(vui.sarHeight));
        }
    }
    if (vui.videoFormat) {
        log.log("   Video format = " + std::string(kVideoFormatText[*vui.videoFormat]));
    }
    if (vui.timing) {
        // Real streams count in tens of kilohertz: whole megahertz would always say 0.
        log.log("   Time scale = " + std::to_string(vui.timing->timeScale) + " Hz");
        const double rate = h264FrameRate(sps).value_or(0);
        log.log("   Frame rate = " + formatGeneral(std::nearbyint(rate * 1000) / 1000, locale) +
                " fps");
    }
}

StreamHeader h264Values(const H264Sps& sps) {
    StreamHeader values;
    if (sps.width > 0 && sps.height > 0) {
        values.width = static_cast<uint32_t>(sps.width);
        values.height = static_cast<uint32_t>(sps.height);
    }
    const std::string_view profile = std::string_view(profileLine(sps.profileIdc)).substr(13);
    if (profile != "Unknown") {
        // The texts carry the log's blanks; the value has none at its end.
        values.profile = std::string(profile.substr(0, profile.find_last_not_of(' ') + 1));
    }
    values.level = static_cast<int>(sps.levelIdc);
    if (sps.vui && sps.vui->aspectIdc) {
        static constexpr std::array<const char*, 17> kSampleAspect = {
            nullptr, "1:1",   "12:11", "10:11", "16:11",  "40:33", "24:11", "20:11", "32:11",
            "80:33", "18:11", "15:11", "64:33", "160:99", "4:3",   "3:2",   "2:1"};
        const uint32_t idc = *sps.vui->aspectIdc;
        if (idc < kSampleAspect.size() && kSampleAspect[idc] != nullptr) {
            values.aspectRatio = kSampleAspect[idc];
        } else if (idc == 255 && sps.vui->sarWidth != 0 && sps.vui->sarHeight != 0) {
            values.aspectRatio =
                std::to_string(sps.vui->sarWidth) + ":" + std::to_string(sps.vui->sarHeight);
        }
        if (idc == 255) {
            values.sampleAspect = reducedRatio(sps.vui->sarWidth, sps.vui->sarHeight);
        } else if (idc < kSampleAspect.size() && kSampleAspect[idc] != nullptr) {
            values.sampleAspect = kSampleAspect[idc];
        }
    }
    // Which field of an interlaced stream comes first is in its slices, not here.
    if (sps.frameMbsOnly) {
        values.fieldOrder = "progressive";
    }
    completeAspects(values);
    if (const std::optional<double> rate = h264FrameRate(sps); rate && *rate > 0) {
        values.frameRate = rate;
    }
    return values;
}

void analyseH264(const AnalyserContext& context, const HeaderPayload& payload) {
    double* frameRate = frameRateEntry(context.streams, payload.streamNumber);
    if (frameRate != nullptr) {
        *frameRate = 24000.0 / 1001.0;
    }
    const std::optional<H264Sps> sps =
        decodeH264(context.block, context.blockLength, payload.offset, payload.length);
    if (!sps) {
        return;
    }
    printH264(*sps, context.labels, context.locale, context.log);
    if (const std::optional<double> rate = h264FrameRate(*sps); rate && frameRate != nullptr) {
        *frameRate = *rate;
    }
    if (StreamHeader* entry =
            headerEntry(context.streams, StreamKind::Video, payload.streamNumber)) {
        *entry = h264Values(*sps);
    }
}

}  // namespace tolvane
