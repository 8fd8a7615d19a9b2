#pragma once

#include <cstdint>
#include <string>

#include "analysers/analyser_context.h"

namespace tolvane {

// The channels a TrueHD presentation's channel assignment names: "L + R + C + LFE + Ls + Rs"
// for 5.1; empty for none.
std::string trueHdChannels(uint32_t assignment);

// Reports every major sync of a TrueHD or DVD-Audio MLP payload.
void AnalyseMLP(const AnalyserContext& context, size_t offset, size_t length);

}  // namespace tolvane
