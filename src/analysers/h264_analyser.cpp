#include "analysers/h264_analyser.h"

#include <array>
#include <cmath>
#include <string>

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
    {66, "   Profile = Baseline "},
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
            const int32_t delta = reader.ReadSE();
            next = static_cast<int32_t>((last + static_cast<int64_t>(delta) + 256) % 256);
        }
        last = next == 0 ? last : next;
    }
}

}  // namespace

void AnalyseH264(const AnalyserContext& context, size_t offset, size_t length, int32_t videoNo) {
    const bool validVideo =
        videoNo >= 0 && videoNo < static_cast<int32_t>(context.streams.frameRate.size());
    double* frameRate =
        validVideo ? &context.streams.frameRate[static_cast<size_t>(videoNo)] : nullptr;
    if (frameRate != nullptr) {
        *frameRate = 24000.0 / 1001.0;
    }
    BitReader reader(context.block, context.blockLength);
    const auto start = static_cast<int32_t>(offset);
    const auto end = static_cast<int64_t>(offset) + static_cast<int64_t>(length) - 1;
    reader.Start(start);
    bool found = false;
    while (!found && reader.pos() < end) {
        found = reader.Peek() == kSpsRefIdc1 || reader.Peek() == kSpsRefIdc3;
        if (!found) {
            reader.Skip(8);
        }
    }
    if (!found) {
        return;  // no SPS in the searched range
    }
    reader.Skip(32);
    reader.dropEmulationPrevention();
    Reporter& log = context.log;

    const uint32_t profile = reader.Read(8);
    log.log(profileLine(profile));
    reader.Skip(3);
    const uint32_t constraint3 = reader.Read(1);
    reader.Skip(4);
    const uint32_t level = reader.Read(8);
    if (level == 11 && constraint3 == 1) {
        log.log("   Level = 1b");
    } else {
        log.log("   Level = " + std::to_string(level / 10) + "." + std::to_string(level % 10));
    }
    reader.ReadUE();  // seq_parameter_set_id

    uint32_t chroma = 1;
    uint32_t separateColourPlanes = 0;
    if (hasHighProfileFields(profile)) {
        chroma = reader.ReadUE();
        if (chroma == 3) {
            separateColourPlanes = reader.Read(1);
        }
        const uint32_t lumaDepth = reader.ReadUE();
        const uint32_t chromaDepth = reader.ReadUE();
        log.log("   Chroma format = [bl]" + std::string(chroma < 4 ? kChromaText[chroma] : "") +
                "[/bl]  (l, c) = " + std::to_string(lumaDepth + 8) + ", " +
                std::to_string(chromaDepth + 8) + " bit");
        reader.Read(1);  // qpprime_y_zero_transform_bypass_flag
        if (reader.Read(1) == 1) {
            const int lists = chroma != 3 ? 8 : 12;
            for (int k = 0; k < lists; ++k) {
                if (reader.Read(1) == 1) {
                    skipScalingList(reader, k < 6 ? 16 : 64);
                }
            }
        }
    }
    reader.ReadUE();  // log2_max_frame_num_minus4
    const uint32_t pocType = reader.ReadUE();
    if (pocType == 0) {
        reader.ReadUE();
    } else if (pocType == 1) {
        reader.Read(1);
        reader.ReadSE();
        reader.ReadSE();
        const uint32_t cycle = reader.ReadUE();
        for (uint32_t k = 0; k < cycle && k < 256; ++k) {
            reader.ReadSE();
        }
    }
    reader.ReadUE();  // num_ref_frames
    reader.Read(1);   // gaps_in_frame_num_value_allowed_flag
    int64_t width = (static_cast<int64_t>(reader.ReadUE()) + 1) * 16;
    const int64_t heightInMapUnits = static_cast<int64_t>(reader.ReadUE()) + 1;
    const uint32_t frameMbsOnly = reader.Read(1);
    if (frameMbsOnly == 0) {
        reader.Read(1);
    }
    reader.Read(1);  // direct_8x8_inference_flag
    int64_t height = (2 - frameMbsOnly) * heightInMapUnits * 16;
    if (reader.Read(1) == 1) {
        const int64_t left = reader.ReadUE();
        const int64_t right = reader.ReadUE();
        const int64_t top = reader.ReadUE();
        const int64_t bottom = reader.ReadUE();
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
    log.log("   Size = [bl]" + std::to_string(width) + "[/bl]x[bl]" + std::to_string(height) +
            "[/bl]");
    if (reader.Read(1) == 0) {
        return;
    }
    if (reader.Read(1) == 1) {
        const uint32_t aspect = reader.Read(8);
        if (aspect < 16) {
            log.log("   Aspect ratio = " + std::string(context.labels.sarText[aspect]));
        } else if (aspect == 255) {
            const uint32_t sarWidth = reader.Read(16);
            const uint32_t sarHeight = reader.Read(16);
            log.log("   Aspect ratio = " + std::to_string(sarWidth) + ":" +
                    std::to_string(sarHeight));
        }
    }
    if (reader.Read(1) == 1) {
        reader.Read(1);
    }
    if (reader.Read(1) == 1) {
        log.log("   Video format = " + std::string(kVideoFormatText[reader.Read(3)]));
        reader.Read(1);
        if (reader.Read(1) == 1) {
            reader.Read(8);
            reader.Read(8);
            reader.Read(8);
        }
    }
    if (reader.Read(1) == 1) {
        reader.ReadUE();
        reader.ReadUE();
    }
    if (reader.Read(1) == 1) {
        const auto unitsInTick = static_cast<int32_t>(reader.Read(32));
        const auto timeScale = static_cast<int32_t>(reader.Read(32));
        log.log("   Time scale = " + std::to_string(timeScale / 1000000) + " MHz");
        // A frame lasts two ticks: the field rate is time_scale / num_units_in_tick.
        double rate = 0;
        if (unitsInTick != 0) {
            rate = timeScale / (2.0 * unitsInTick);
            if (frameRate != nullptr) {
                *frameRate = rate;
            }
        }
        log.log("   Frame rate = " +
                formatGeneral(std::nearbyint(rate * 1000) / 1000, context.locale) + " fps");
        reader.Read(1);
    }
    reader.Read(1);
}

}  // namespace tolvane
