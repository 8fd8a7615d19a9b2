#include "analysers/vc1_analyser.h"

#include <array>
#include <cmath>
#include <string>

#include "analysers/bit_reader.h"
#include "core/number_format.h"

namespace tolvane {

namespace {

constexpr uint32_t kSequenceHeader = 0x0000010F;
constexpr std::array<uint32_t, 8> kFrameRateNumerator = {0,     24000, 25000, 30000,
                                                         50000, 60000, 48000, 72000};
constexpr std::array<uint32_t, 3> kFrameRateDenominator = {0, 1000, 1001};

void frameRate(const AnalyserContext& context, BitReader& reader, bool pulldown, double* stored) {
    Reporter& log = context.log;
    if (reader.Read(1) == 1) {
        const double rate = (reader.Read(16) + 1) / 32.0;
        log.log("   Frame Rate = [bl]" + formatGeneral(rate, context.locale) + "[/bl]");
        if (stored != nullptr) {
            *stored = rate;
        }
        return;
    }
    uint32_t numerator = reader.Read(8);
    uint32_t denominator = reader.Read(4);
    if (numerator == 0) {
        log.log("   Forbidden Frame Rate!");
    } else if (numerator < kFrameRateNumerator.size()) {
        numerator = kFrameRateNumerator[numerator];
    } else {
        log.log("   Reserved Frame Rate!");
    }
    if (denominator == 0) {
        log.log("   Forbidden Frame Rate!");
    } else if (denominator < kFrameRateDenominator.size()) {
        denominator = kFrameRateDenominator[denominator];
    } else {
        log.log("   Reserved Frame Rate!");
    }
    if (pulldown && numerator == 30000) {
        numerator = 24000;
    }
    // A forbidden denominator of 0 shows a rate of 0 and stores nothing.
    const double rate = denominator == 0 ? 0.0 : static_cast<double>(numerator) / denominator;
    log.log("   Frame Rate = [bl]" +
            formatGeneral(std::nearbyint(rate * 1000) / 1000, context.locale) + "[/bl] (" +
            std::to_string(numerator) + "/" + std::to_string(denominator) + ")");
    if (stored != nullptr && denominator != 0) {
        *stored = rate;
    }
}

}  // namespace

void AnalyseVC1(const AnalyserContext& context, size_t offset, size_t length, int32_t videoNo) {
    BitReader reader(context.block, context.blockLength);
    const auto end = static_cast<int64_t>(offset) + static_cast<int64_t>(length) - 1;
    reader.Start(static_cast<int32_t>(offset));
    bool found = false;
    while (!found && reader.pos() < end) {
        found = reader.Peek() == kSequenceHeader;
        if (!found) {
            reader.Skip(8);
        }
    }
    if (!found) {
        return;  // no sequence header in the searched range
    }
    reader.Skip(32);
    Reporter& log = context.log;
    double* stored =
        videoNo >= 0 && videoNo < static_cast<int32_t>(context.streams.frameRate.size())
            ? &context.streams.frameRate[static_cast<size_t>(videoNo)]
            : nullptr;

    log.log(reader.Read(2) == 3 ? "   Profile = Advanced" : "   Profile = Reserved");
    const uint32_t level = reader.Read(3);
    log.log(level <= 4 ? "   Level = " + std::to_string(level) : "   Level = Reserved");
    log.log(reader.Read(2) == 1 ? "   Chroma Format = [bl]4:2:0[/bl]"
                                : "   Chroma Format = Reserved");
    reader.Read(3);  // FRMRTQ_POSTPROC
    reader.Read(5);  // BITRTQ_POSTPROC
    reader.Read(1);  // POSTPROCFLAG
    const uint32_t width = reader.Read(12);
    const uint32_t height = reader.Read(12);
    log.log("   Size = [bl]" + std::to_string(2 * width + 2) + "[/bl]x[bl]" +
            std::to_string(2 * height + 2) + "[/bl]");
    const bool pulldown = reader.Read(1) == 1;
    reader.Read(1);  // INTERLACE
    reader.Read(1);  // TFCNTRFLAG
    reader.Read(1);  // FINTERPFLAG
    reader.Read(1);  // reserved
    if (reader.Read(1) == 1) {
        log.log("  Progressive segmented frames.");
    }
    if (reader.Read(1) == 0) {
        return;
    }
    const uint32_t displayWidth = reader.Read(14);
    const uint32_t displayHeight = reader.Read(14);
    log.log("   Display size = [bl]" + std::to_string(displayWidth + 1) + "[/bl]x[bl]" +
            std::to_string(displayHeight + 1) + "[/bl]");
    if (reader.Read(1) == 1) {
        const uint32_t aspect = reader.Read(4);
        if (aspect == 15) {
            const uint32_t horizontal = reader.Read(8);
            const uint32_t vertical = reader.Read(8);
            log.log("   Aspect ratio = " + std::to_string(horizontal) + ":" +
                    std::to_string(vertical));
        } else {
            log.log("   Aspect ratio = " + std::string(context.labels.sarText[aspect]));
        }
    }
    if (reader.Read(1) == 1) {
        frameRate(context, reader, pulldown, stored);
    }
    if (reader.Read(1) == 1) {
        reader.Read(8);
        reader.Read(8);
        reader.Read(8);
    }
}

}  // namespace tolvane
