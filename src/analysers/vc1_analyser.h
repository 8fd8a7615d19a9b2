#pragma once

#include "analysers/analyser_context.h"

namespace tolvane {

// Reports the sequence header of a VC-1 (Advanced profile) payload and sets the stream's frame
// rate when the header carries one.
void AnalyseVC1(const AnalyserContext& context, size_t offset, size_t length, int32_t videoNo);

}  // namespace tolvane
