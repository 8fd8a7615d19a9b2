#pragma once

#include "analysers/analyser_context.h"

namespace tolvane {

// Reports every major sync of a TrueHD or DVD-Audio MLP payload.
void AnalyseMLP(const AnalyserContext& context, size_t offset, size_t length);

}  // namespace tolvane
