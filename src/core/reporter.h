#pragma once

#include <cstdint>
#include <string>

#include "core/log_event.h"

namespace tolvane {

// What a job is busy with. Ready ends every job, however it ends.
enum class JobActivity : uint8_t { Ready, Opening, Reading, Demuxing, Rebuilding };

// How far a job has read the span it works on, as numbers; the front end words them.
struct JobProgress {
    int64_t position = 0;
    int64_t size = 0;
    // Days since the span's reading began, for an estimate of the time left.
    double elapsedDays = 0;
    // What the job does to the span and the span's file name, where the job names them
    // (a rebuild); Ready and empty otherwise.
    JobActivity activity = JobActivity::Ready;
    std::string subject;
    // Counted in bytes, not Mbytes, with no estimate: small files (a playlist).
    bool inBytes = false;
};

// Where a job reports to: the log (one line per call), what it is busy with, and how
// far it has read. The front end that shows the progress lets its window handle input there:
// that is where a Cancel button gets to run.
class Reporter {
public:
    virtual ~Reporter() = default;
    // One line of the log, in parts with their roles.
    virtual void log(const LogEvent& line) = 0;
    // A line of plain text.
    void log(std::string text) { log(LogEvent{LogSpan(std::move(text))}); }
    void log(std::initializer_list<LogSpan> parts) { log(LogEvent(parts)); }
    // The job turned to `activity` on `subject` (a file's name; empty when none).
    virtual void activity(JobActivity activity, const std::string& subject = {}) = 0;
    virtual void progress(const JobProgress& progress) = 0;
};

}  // namespace tolvane
