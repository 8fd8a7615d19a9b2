#pragma once

#include <cstdint>
#include <string>

namespace tolvane {

enum class StatusPanel : uint8_t { Job = 0, Progress = 1 };

// The two report sinks: the message log (one marked-up line per call) and the status bar.
class Reporter {
public:
    virtual ~Reporter() = default;
    virtual void log(std::string text) = 0;
    virtual void slog(std::string text, StatusPanel panel) = 0;
    // How far the running job has read, as numbers: told right after the progress text it goes
    // with. A new progress text without numbers leaves none.
    virtual void progress(int64_t /*position*/, int64_t /*size*/) {}
};

}  // namespace tolvane
