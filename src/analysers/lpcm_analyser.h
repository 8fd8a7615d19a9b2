#pragma once

#include "analysers/analyser_context.h"

namespace tolvane {

// Reports the LPCM sub-stream header that lies in the seven bytes before the payload.
void AnalyseLPCM(const AnalyserContext& context, size_t offset, size_t length);

}  // namespace tolvane
