// The frame-count report that ends the read and demux jobs.
#include <cmath>

#include "core/time_format.h"
#include "ui/model/main_form.h"

namespace tolvane {

void MainForm::logframes(bool two) {
    const StreamTable& streams = state_->streams;
    const JobState& job = state_->job;
    for (size_t n = 0; n < 2; ++n) {
        const std::string stream = " in video stream " + std::to_string(n) + ".";
        const int64_t counted = streams.frameCount[n];
        const double rate = streams.frameRate[n];
        if (counted > 0) {
            if (rate > 0) {
                const double days = counted / 86400.0 / rate;
                log_.log(std::to_string(counted) + " counted frames ([b]" +
                         formatDayTime(days, "h:mm:ss.zzz", job.formatSettings) + "[/b])" + stream);
            } else {
                log_.log(std::to_string(counted) + " frames count" + stream);
            }
        }
        if (rate > 0) {
            // nearbyint rounds a half to the even neighbour.
            const auto calculated = static_cast<long long>(std::nearbyint(job.totalSeconds * rate));
            std::string line = std::to_string(calculated) + " calculated frames";
            if (two) {
                line +=
                    " ([b]" +
                    formatDayTime(job.totalSeconds / 86400.0, "h:mm:ss:zzzz", job.formatSettings) +
                    "[/b])";
            }
            log_.log(line + stream);
        }
    }
    if (streams.frameCount[0] + streams.frameCount[1] > 0) {
        log_.log("");
    }
}

}  // namespace tolvane
