#pragma once

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/locale_settings.h"
#include "core/reporter.h"
#include "report/markup.h"

namespace tolvane {

// The status bar's two panels: what the job does, and its file or progress.
enum class StatusPanel : uint8_t { Job = 0, Progress = 1 };

struct StatusPanelState {
    std::string text;
    int width = 0;
};

// Whatever shows the log and the status bar; the Qt window and the command-line front end
// each have one. Calls come right after the change they report.
class MessageLogView {
public:
    virtual ~MessageLogView() = default;
    virtual void lineAppended(const LogLine& line) = 0;
    virtual void cleared() = 0;
    // Must repaint the status bar at once: long loops keep the window from idle painting.
    virtual void statusChanged(StatusPanel panel) = 0;
};

// The message log (the lines written so far) and the two-panel status bar with its hint: the
// words a job's activity and progress are shown in.
class MessageLog : public Reporter {
public:
    // Pixel width of a text in the status bar's font; the toolkit provides the real one.
    using TextMeasure = std::function<int(const std::string&)>;

    MessageLog();

    using Reporter::log;
    void log(const LogEvent& line) override;
    void activity(JobActivity activity, const std::string& subject = {}) override;
    // "P/S Mbytes, Remaining time: h:mm:ss" (a rebuild's activity and file before it), then
    // the event pump.
    void progress(const JobProgress& progress) override;
    // Sets one panel's text (shown after a blank); the progress panel's is the hint too.
    void slog(std::string text, StatusPanel panel);
    void clear();

    const std::vector<LogLine>& lines() const { return lines_; }
    const StatusPanelState& panel(StatusPanel panel) const {
        return panels_[static_cast<size_t>(panel)];
    }
    const std::string& hint() const { return hint_; }
    // How far the running job has read, in thousandths; none when the progress text says nothing
    // of it.
    std::optional<int> progressPermille() const { return permille_; }

    void setView(MessageLogView* view) { view_ = view; }
    void setTextMeasure(TextMeasure measure) { measure_ = std::move(measure); }
    // The separators the remaining time is written with.
    void setLocale(const LocaleSettings& locale) { locale_ = locale; }
    // Run after every progress report: a window handles its pending input there.
    void setEventPump(std::function<void()> pump) { pump_ = std::move(pump); }

private:
    std::vector<LogLine> lines_;
    std::array<StatusPanelState, 2> panels_;
    std::string hint_;
    std::optional<int> permille_;
    MessageLogView* view_ = nullptr;
    TextMeasure measure_;
    LocaleSettings locale_;
    std::function<void()> pump_;
};

}  // namespace tolvane
