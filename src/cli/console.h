#pragma once

#include <csignal>
#include <cstdio>
#include <string>

#include "core/os_services.h"
#include "core/stop_signal.h"
#include "demux/job_state.h"
#include "report/message_log.h"

namespace tolvane::cli {

// Ctrl-C, SIGTERM and SIGHUP set stopSignal and cancel the attached job at once, as the
// window's Cancel button does, answered Yes.
void installInterruptHandler();

// OS services of the command line; errors go to standard error.
class ConsoleOs : public OsServices {
public:
    // Where Ctrl-C cancels the running job; the control must outlive the program's jobs.
    void attach(JobControl* control);
    // Prints the message of the error that ended a job.
    void showError(const std::string& message);
    double now() override;
    LocaleSettings locale() override;

    bool failed() const { return failed_; }

private:
    bool failed_ = false;
};

// Prints every log line to standard output as it is written, with ANSI markup when asked, and
// the progress panel on standard error when that is a terminal.
class ConsoleView : public MessageLogView {
public:
    // Without `lines` only the progress panel is shown.
    ConsoleView(const MessageLog& log, bool color, bool progress, bool lines = true)
        : log_(log), color_(color), progress_(progress), lines_(lines) {}
    ~ConsoleView() override;
    void lineAppended(const LogLine& line) override;
    void cleared() override {}
    void statusChanged(StatusPanel panel) override;

private:
    void eraseProgress();

    const MessageLog& log_;
    bool color_;
    bool progress_;
    bool lines_;
    bool progressShown_ = false;
};

// A log line with its runs rendered as ANSI escapes.
std::string ansiLine(const LogLine& line);

}  // namespace tolvane::cli
