#include "analysers/mlp_analyser.h"

#include <array>
#include <string>

namespace tolvane {

namespace {

constexpr uint32_t kTrueHdSync = 0xF8726FBA;
constexpr uint32_t kMlpSync = 0xF8726FBB;

// A TrueHD presentation's channel assignment has one bit per channel group, lowest first.
constexpr std::array<const char*, 13> kTrueHdChannelGroups = {
    "L + R", "C",  "LFE",       "Ls + Rs", "Lvh + Rvh", "Lc + Rc", "Lrs + Rrs",
    "Cs",    "Ts", "Lsd + Rsd", "Lw + Rw", "Cvh",       "LFE2",
};

std::string text(std::string_view value) {
    return std::string(value);
}

}  // namespace

std::string trueHdChannels(uint32_t assignment) {
    std::string channels;
    for (size_t group = 0; group < kTrueHdChannelGroups.size(); ++group) {
        if (((assignment >> group) & 1) != 0) {
            channels += (channels.empty() ? "" : " + ") + std::string(kTrueHdChannelGroups[group]);
        }
    }
    return channels;
}

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
    // Only the format information after each major sync is read: the two bytes after it are
    // the fixed signature 0xB752, not a value of the stream.
    for (size_t p = offset; length > 0 && p < offset + length - 1; ++p) {
        const uint32_t b = context.block[p];
        reg = reg << 8 | b;
        if (reg == kTrueHdSync) {
            truehdCountdown = 4;
            log.log("   [b]TrueHD[/b] stream (up to 8 channels)");
        } else if (reg == kMlpSync) {
            mlpCountdown = 4;
            log.log("   [b]Standard MLP[/b] stream (up to 6 channels) ");
        } else if (mlpCountdown > 0) {
            switch (--mlpCountdown) {
                case 3:
                    log.log("   Quantization length = [bl]" + text(labels.wordLengthText[b >> 4]) +
                            "[/bl] bits");
                    break;
                case 2:
                    samplingFrequency(b);
                    break;
                case 0:
                    log.log("   Channel arrangement = [bl]" + text(labels.chAssignText[b & 31]) +
                            "[/bl]");
                    break;
                default:
                    break;
            }
        } else if (truehdCountdown > 0) {
            switch (--truehdCountdown) {
                case 3:
                    samplingFrequency(b);
                    break;
                case 2:
                    modifier2 = b >> 6;
                    modifier6 = (b >> 4) & 3;
                    assignment6 = (b & 15) * 2;
                    break;
                case 1:
                    assignment6 += b >> 7;
                    modifier8 = (b >> 5) & 3;
                    log.log("   2 ch. decoder");
                    log.log("      channel modifier = " + std::to_string(modifier2));
                    log.log("   6 ch. decoder");
                    log.log("      channel modifier = " + std::to_string(modifier6));
                    log.log("      channel arrangement = [bl]" + trueHdChannels(assignment6) +
                            "[/bl]");
                    break;
                case 0:
                    log.log("   8 ch. decoder");
                    log.log("      channel modifier = " + std::to_string(modifier8));
                    log.log("      channel arrangement = [bl]" + trueHdChannels(reg & 0x1FFF) +
                            "[/bl]");
                    break;
                default:
                    break;
            }
        }
    }
}

}  // namespace tolvane
