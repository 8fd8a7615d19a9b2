#pragma once

#include <cstdint>
#include <string>

#include "core/pass_hooks.h"

namespace tolvane {

// The caption of a stream box for the identifying value in the stream table:
// "MPEG-2.stream.0", "DD+.stream.03", "Ext.Subpicture.12", "No audio stream.07".
std::string streamLabel(StreamKind kind, int32_t idValue);
std::string streamBoxSuffix(StreamKind kind, int number);

}  // namespace tolvane
