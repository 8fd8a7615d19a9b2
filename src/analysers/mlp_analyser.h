#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "analysers/analyser_context.h"

namespace tolvane {

// The channels a TrueHD presentation's channel assignment names: "L + R + C + LFE + Ls + Rs"
// for 5.1; empty for none.
std::string trueHdChannels(uint32_t assignment);

// The fields of the format information after a major sync, as far as the payload holds them,
// in the order they come.
namespace mlp {
struct TrueHdSync {};
struct MlpSync {};
struct QuantizationCode {
    uint8_t code;  // index of the word length
};
struct RateCode {
    uint8_t code;  // index of the sampling frequency
};
struct MlpAssignment {
    uint8_t code;  // DVD-Audio channel assignment
};
// The 2- and 6-channel presentations of TrueHD.
struct TrueHdSixChannels {
    uint32_t modifier2;
    uint32_t modifier6;
    uint32_t assignment6;
};
struct TrueHdEightChannels {
    uint32_t modifier8;
    uint32_t assignment8;
};
using Field = std::variant<TrueHdSync, MlpSync, QuantizationCode, RateCode, MlpAssignment,
                           TrueHdSixChannels, TrueHdEightChannels>;
}  // namespace mlp

std::vector<mlp::Field> decodeMlp(const uint8_t* block, size_t offset, size_t length);
void printMlp(const std::vector<mlp::Field>& fields, const LabelTables& labels, Reporter& log);
// The values of the first major sync.
StreamHeader mlpValues(const std::vector<mlp::Field>& fields);

// Decodes, reports and records every major sync of a TrueHD or DVD-Audio MLP payload.
void analyseMlp(const AnalyserContext& context, const HeaderPayload& payload);

}  // namespace tolvane
