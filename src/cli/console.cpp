#include "cli/console.h"

#include <csignal>

#include <atomic>
#include <chrono>
#include <clocale>
#include <iostream>

#include "core/text_escape.h"
#include "jobs/job_context.h"

namespace tolvane::cli {

namespace {

// The job a signal cancels: set once, read by the handler, which only stores lock-free atomics.
std::atomic<JobControl*> interruptible{nullptr};
static_assert(std::atomic<JobControl*>::is_always_lock_free);

void onInterrupt(int signal) {
    stopSignal = signal;
    if (JobControl* control = interruptible.load()) {
        control->cancelled.store(true);
    }
}

}  // namespace

void installInterruptHandler() {
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    // A terminal closed or a system shutting down stops the job as Ctrl-C does: every output
    // is flushed and closed with what was written.
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        sigaction(signal, &action, nullptr);
    }
    // A file-size limit makes the write fail with EFBIG, an error like a full disk, instead of
    // killing the program with its outputs still hidden part files.
    std::signal(SIGXFSZ, SIG_IGN);
}

void ConsoleOs::attach(JobControl* control) {
    interruptible.store(control);
    if (stopRequested()) {
        control->cancelled.store(true);  // a signal that came before the job
    }
}

void ConsoleOs::showError(const std::string& message) {
    failed_ = true;
    std::cout.flush();
    std::cerr << "tolvane-cli: " << terminalSafe(message) << std::endl;
}

double ConsoleOs::now() {
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count() / 86400.0;
}

LocaleSettings ConsoleOs::locale() {
    LocaleSettings settings;
    // Take the user's decimal separator, then go back to the C locale for our own formatting.
    if (std::setlocale(LC_NUMERIC, "") != nullptr) {
        const std::lconv* conventions = std::localeconv();
        if (conventions != nullptr && conventions->decimal_point != nullptr &&
            conventions->decimal_point[0] != '\0') {
            settings.decimalSeparator = conventions->decimal_point[0];
        }
        std::setlocale(LC_NUMERIC, "C");
    }
    return settings;
}

std::string ansiLine(const LogLine& line) {
    std::string out;
    for (const FormatRun& run : line.runs) {
        const CharFormat& f = run.format;
        std::string codes;
        const auto add = [&](const std::string& code) {
            codes += codes.empty() ? code : ";" + code;
        };
        if (f.bold) {
            add("1");
        }
        if (f.italic) {
            add("3");
        }
        if (f.underline) {
            add("4");
        }
        // The terminal's own bright colours, which its theme keeps readable on its background;
        // black and white are left to the default foreground, which always is.
        if (f.hasColour) {
            const int hue = (f.colour.red >= 128 ? 1 : 0) | (f.colour.green >= 128 ? 2 : 0) |
                            (f.colour.blue >= 128 ? 4 : 0);
            if (hue != 0 && hue != 7) {
                add(std::to_string(90 + hue));
            }
        }
        const std::string text = terminalSafe(line.text.substr(run.start, run.length));
        if (codes.empty()) {
            out += text;
        } else {
            out += "\x1b[" + codes + "m" + text + "\x1b[0m";
        }
    }
    return out;
}

ConsoleView::~ConsoleView() {
    eraseProgress();
}

void ConsoleView::eraseProgress() {
    if (progressShown_) {
        std::cerr << "\r\x1b[K" << std::flush;
        progressShown_ = false;
    }
}

void ConsoleView::lineAppended(const LogLine& line) {
    if (!lines_) {
        return;
    }
    eraseProgress();
    // Names and playlist texts reach the terminal: none of their bytes may act on it.
    std::cout << (color_ ? ansiLine(line) : terminalSafe(line.text)) << '\n';
}

void ConsoleView::statusChanged(StatusPanel panel) {
    if (!progress_ || panel != StatusPanel::Progress) {
        return;
    }
    std::cout.flush();
    const std::string& text = log_.panel(StatusPanel::Progress).text;
    std::cerr << "\r\x1b[K" << terminalSafe(text) << std::flush;
    progressShown_ = text.size() > 1;
}

}  // namespace tolvane::cli
