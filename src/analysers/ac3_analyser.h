#pragma once

#include "analysers/analyser_context.h"

namespace tolvane {

// Reports the first syncframe header of a Dolby Digital or Dolby Digital Plus payload.
void AnalyseAC3(const AnalyserContext& context, size_t offset, size_t length, int32_t streamNo);

}  // namespace tolvane
