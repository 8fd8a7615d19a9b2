#pragma once

#include "analysers/analyser_context.h"

namespace tolvane {

// Reports every DTS core frame header and extension sync word of a payload.
void AnalyseDTS(const AnalyserContext& context, size_t offset, size_t length);

}  // namespace tolvane
