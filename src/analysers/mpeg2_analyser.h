#pragma once

#include "analysers/analyser_context.h"

namespace tolvane {

// Reports the sequence header of an MPEG-2 video payload and sets the stream's frame rate.
void AnalyseMPEG2(const AnalyserContext& context, size_t offset, size_t length, uint32_t pts,
                  int32_t videoNo);

}  // namespace tolvane
