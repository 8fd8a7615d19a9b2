#pragma once

#include <cstdint>
#include <string>

#include "core/job_state.h"

namespace tolvane {

// "P/S Mbytes, Remaining time: h:mm:ss" for a pass at `position` of `size` bytes that has run
// for `elapsedDays`. The estimate never shows less than one second.
std::string progressText(int64_t position, int64_t size, double elapsedDays, const JobState& job);

}  // namespace tolvane
