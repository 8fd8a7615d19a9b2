#include "core/progress.h"

#include "core/time_format.h"

namespace tolvane {

std::string progressText(int64_t position, int64_t size, double elapsedDays, const JobState& job) {
    const double remaining =
        elapsedDays * static_cast<double>(size) / static_cast<double>(position) - elapsedDays +
        1.0 / 86400.0;
    return std::to_string(position / kMebibyte) + "/" + std::to_string(size / kMebibyte) +
           " Mbytes, Remaining time: " +
           formatDayTime(remaining, job.timeFormat, job.formatSettings);
}

}  // namespace tolvane
