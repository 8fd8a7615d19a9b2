#pragma once

#include "analysers/analyser_context.h"

namespace tolvane {

// Reports the first sequence parameter set of an H.264 payload and sets the stream's frame
// rate (24000/1001 unless the SPS gives its timing).
void AnalyseH264(const AnalyserContext& context, size_t offset, size_t length, int32_t videoNo);

}  // namespace tolvane
