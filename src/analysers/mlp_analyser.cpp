#include "analysers/mlp_analyser.h"

#include <array>
#include <string>
#include <string_view>

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

// The channels of a channel text such as "L + R + C + LFE": its names, each group of two
// counted twice.
uint32_t channelCount(std::string_view channels) {
    uint32_t count = channels.empty() ? 0 : 1;
    for (size_t at = channels.find(" + "); at != std::string_view::npos;
         at = channels.find(" + ", at + 3)) {
        ++count;
    }
    return count;
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

std::vector<mlp::Field> decodeMlp(const uint8_t* block, size_t offset, size_t length) {
    using namespace mlp;
    std::vector<Field> fields;
    uint32_t reg = 0;
    int mlpCountdown = 0;
    int truehdCountdown = 0;
    uint32_t modifier2 = 0;
    uint32_t modifier6 = 0;
    uint32_t modifier8 = 0;
    uint32_t assignment6 = 0;
    // Only the format information after each major sync is read: the two bytes after it are
    // the fixed signature 0xB752, not a value of the stream.
    for (size_t p = offset; length > 0 && p < offset + length - 1; ++p) {
        const uint32_t b = block[p];
        reg = reg << 8 | b;
        if (reg == kTrueHdSync) {
            truehdCountdown = 4;
            fields.emplace_back(TrueHdSync{});
        } else if (reg == kMlpSync) {
            mlpCountdown = 4;
            fields.emplace_back(MlpSync{});
        } else if (mlpCountdown > 0) {
            switch (--mlpCountdown) {
                case 3:
                    fields.emplace_back(QuantizationCode{static_cast<uint8_t>(b >> 4)});
                    break;
                case 2:
                    fields.emplace_back(RateCode{static_cast<uint8_t>(b >> 4)});
                    break;
                case 0:
                    fields.emplace_back(MlpAssignment{static_cast<uint8_t>(b & 31)});
                    break;
                default:
                    break;
            }
        } else if (truehdCountdown > 0) {
            switch (--truehdCountdown) {
                case 3:
                    fields.emplace_back(RateCode{static_cast<uint8_t>(b >> 4)});
                    break;
                case 2:
                    modifier2 = b >> 6;
                    modifier6 = (b >> 4) & 3;
                    assignment6 = (b & 15) * 2;
                    break;
                case 1:
                    assignment6 += b >> 7;
                    modifier8 = (b >> 5) & 3;
                    fields.emplace_back(TrueHdSixChannels{modifier2, modifier6, assignment6});
                    break;
                case 0:
                    fields.emplace_back(TrueHdEightChannels{modifier8, reg & 0x1FFF});
                    break;
                default:
                    break;
            }
        }
    }
    return fields;
}

void printMlp(const std::vector<mlp::Field>& fields, const LabelTables& labels, Reporter& log) {
    using namespace mlp;
    size_t syncs = 0;
    for (const Field& field : fields) {
        // A packet may hold several major syncs that repeat the same format: the first says it.
        if ((std::holds_alternative<TrueHdSync>(field) || std::holds_alternative<MlpSync>(field)) &&
            ++syncs > 1) {
            break;
        }
        if (std::holds_alternative<TrueHdSync>(field)) {
            log.log({"   ", asStrong("TrueHD"), " stream (up to 8 channels)"});
        } else if (std::holds_alternative<MlpSync>(field)) {
            log.log({"   ", asStrong("Standard MLP"), " stream (up to 6 channels)"});
        } else if (const auto* quantization = std::get_if<QuantizationCode>(&field)) {
            log.log({"   Quantization length = ",
                     asValue(text(labels.wordLengthText[quantization->code])), " bits"});
        } else if (const auto* rate = std::get_if<RateCode>(&field)) {
            log.log(
                {"   Sampling frequency = ", asValue(text(labels.rateText[rate->code])), " kHz"});
        } else if (const auto* assignment = std::get_if<MlpAssignment>(&field)) {
            log.log({"   Channel arrangement = ",
                     asValue(text(labels.chAssignText[assignment->code]))});
        } else if (const auto* six = std::get_if<TrueHdSixChannels>(&field)) {
            log.log("   2 ch. decoder");
            log.log("      channel modifier = " + std::to_string(six->modifier2));
            log.log("   6 ch. decoder");
            log.log("      channel modifier = " + std::to_string(six->modifier6));
            log.log({"      channel arrangement = ", asValue(trueHdChannels(six->assignment6))});
        } else if (const auto* eight = std::get_if<TrueHdEightChannels>(&field)) {
            log.log("   8 ch. decoder");
            log.log("      channel modifier = " + std::to_string(eight->modifier8));
            log.log({"      channel arrangement = ", asValue(trueHdChannels(eight->assignment8))});
        }
    }
}

StreamHeader mlpValues(const std::vector<mlp::Field>& fields) {
    using namespace mlp;
    StreamHeader values;
    bool trueHd = false;
    size_t syncs = 0;
    for (const Field& field : fields) {
        if (std::holds_alternative<TrueHdSync>(field) || std::holds_alternative<MlpSync>(field)) {
            if (++syncs > 1) {
                break;  // the first major sync's values only
            }
            trueHd = std::holds_alternative<TrueHdSync>(field);
        } else if (const auto* quantization = std::get_if<QuantizationCode>(&field)) {
            if (quantization->code <= 2) {
                values.bitsPerSample = 16 + 4 * quantization->code;
            }
        } else if (const auto* rate = std::get_if<RateCode>(&field)) {
            // 48 kHz or 44.1 kHz times a power of two.
            const uint32_t base = (rate->code & 8) != 0 ? 44100 : 48000;
            if ((rate->code & 7) <= 2) {
                values.sampleRate = base << (rate->code & 7);
            }
        } else if (const auto* assignment = std::get_if<MlpAssignment>(&field)) {
            // DVD-Audio assignments 0 to 20 name their channels; count them by the " + ".
            const std::string_view channels = labels::kChAssignText[assignment->code];
            if (!channels.empty()) {
                values.channels = channelCount(channels);
                values.lfe = channels.find("LFE") != std::string_view::npos;
            }
        } else if (const auto* eight = std::get_if<TrueHdEightChannels>(&field)) {
            if (trueHd && eight->assignment8 != 0) {
                const std::string channels = trueHdChannels(eight->assignment8);
                values.channels = channelCount(channels);
                values.lfe = (eight->assignment8 & 4) != 0;
            }
        } else if (const auto* six = std::get_if<TrueHdSixChannels>(&field)) {
            if (trueHd && six->assignment6 != 0) {
                const std::string channels = trueHdChannels(six->assignment6);
                values.channels = channelCount(channels);
                values.lfe = (six->assignment6 & 4) != 0;
            }
        }
    }
    return values;
}

void analyseMlp(const AnalyserContext& context, const HeaderPayload& payload) {
    const std::vector<mlp::Field> fields = decodeMlp(context.block, payload.offset, payload.length);
    printMlp(fields, context.labels, context.log);
    StreamHeader* header = headerEntry(context.streams, StreamKind::Audio, payload.streamNumber);
    if (header != nullptr && !fields.empty()) {
        *header = mlpValues(fields);
    }
}

}  // namespace tolvane
