#include "analysers/mlp_analyser.h"

#include <string>

namespace tolvane {

namespace {

constexpr uint32_t kTrueHdSync = 0xF8726FBA;
constexpr uint32_t kMlpSync = 0xF8726FBB;

std::string text(std::string_view value) {
    return std::string(value);
}

}  // namespace

void AnalyseMLP(const AnalyserContext& context, size_t offset, size_t length) {
    Reporter& log = context.log;
    const LabelTables& labels = context.labels;
    uint32_t reg = 0;
    int mlpCountdown = 0;
    int truehdCountdown = 0;
    uint32_t modifier2 = 0;
    uint32_t modifier6 = 0;
    uint32_t modifier8 = 0;
    uint32_t assignment6 = 0;
    const auto samplingFrequency = [&](uint32_t b) {
        log.log("   Sampling frequency = [bl]" + text(labels.rateText[b >> 4]) + "[/bl] kHz");
    };
    const auto dynamicRange = [&] {
        const auto d1 = static_cast<uint8_t>(reg >> 8);
        const auto d2 = static_cast<uint8_t>(reg);
        if (d1 != 0x80) {
            log.log("   Dynamic range control = " + dynamicRangeGain(d1, context.locale) +
                    " dB .. " + dynamicRangeGain(d2, context.locale) + " dB");
        }
    };
    // The payload's last byte is never taken in.
    for (size_t p = offset; length > 0 && p < offset + length - 1; ++p) {
        const uint32_t b = context.block[p];
        reg = reg << 8 | b;
        if (reg == kTrueHdSync) {
            truehdCountdown = 6;
            log.log("   [b]TrueHD[/b] stream (up to 8 channels)");
        } else if (reg == kMlpSync) {
            mlpCountdown = 6;
            log.log("   [b]Standard MLP[/b] stream (up to 6 channels) ");
        } else if (mlpCountdown > 0) {
            switch (--mlpCountdown) {
                case 5:
                    log.log("   Quantization length = [bl]" + text(labels.wordLengthText[b >> 4]) +
                            "[/bl] bits");
                    break;
                case 4:
                    samplingFrequency(b);
                    break;
                case 2:
                    log.log("   Channel arrangement = [bl]" + text(labels.chAssignText[b & 31]) +
                            "[/bl]");
                    break;
                case 0:
                    dynamicRange();
                    break;
                default:
                    break;
            }
        } else if (truehdCountdown > 0) {
            switch (--truehdCountdown) {
                case 5:
                    samplingFrequency(b);
                    break;
                case 4:
                    modifier2 = b >> 6;
                    modifier6 = (b >> 4) & 3;
                    assignment6 = (b & 15) * 2;
                    break;
                case 3:
                    assignment6 += b >> 7;
                    modifier8 = (b >> 5) & 3;
                    log.log("   2 ch. decoder");
                    log.log("      channel modifier = " + std::to_string(modifier2));
                    log.log("   6 ch. decoder");
                    log.log("      channel modifier = " + std::to_string(modifier6));
                    log.log("      channel arrangement = [bl]" +
                            text(labels.mlpChText[assignment6]) + "[/bl]");
                    break;
                case 2:
                    log.log("   8 ch. decoder");
                    log.log("      channel modifier = " + std::to_string(modifier8));
                    log.log("      channel arrangement = [bl]" +
                            text(labels.mlpChText[(reg & 0x1FFF) & 31]) + "[/bl]");
                    break;
                case 0:
                    dynamicRange();
                    break;
                default:
                    break;
            }
        }
    }
}

}  // namespace tolvane
