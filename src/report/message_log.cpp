#include "report/message_log.h"

#include <algorithm>

#include "core/time_format.h"

namespace tolvane {

namespace {

constexpr const char* kIdleHint = " Select or drop an EVO file to demux";

constexpr int64_t kMebibyte = 1048576;

// The verb a status line starts with.
const char* activityWord(JobActivity activity) {
    switch (activity) {
        case JobActivity::Ready:
            return "Ready";
        case JobActivity::Opening:
            return "Opening";
        case JobActivity::Reading:
            return "Reading";
        case JobActivity::Demuxing:
            return "Demuxing";
        case JobActivity::Rebuilding:
            return "Rebuilding";
    }
    return "";
}

// Without a toolkit there is no font to measure: an average glyph width stands in.
int approximateWidth(const std::string& text) {
    return static_cast<int>(text.size()) * 6;
}

}  // namespace

MessageLog::MessageLog()
    : panels_{StatusPanelState{" Ready", 40}, StatusPanelState{kIdleHint, 50}},
      hint_(kIdleHint),
      measure_(approximateWidth) {}

void MessageLog::log(const LogEvent& line) {
    lines_.push_back(parseMarkup(markupOf(line)));
    if (view_ != nullptr) {
        view_->lineAppended(lines_.back());
    }
}

void MessageLog::slog(std::string text, StatusPanel panel) {
    StatusPanelState& state = panels_[static_cast<size_t>(panel)];
    state.text = " " + text;
    state.width = measure_(state.text + "a");
    if (panel == StatusPanel::Progress) {
        hint_ = std::move(text);
        permille_.reset();
    }
    if (view_ != nullptr) {
        view_->statusChanged(panel);
    }
}

void MessageLog::activity(JobActivity activity, const std::string& subject) {
    if (activity == JobActivity::Ready) {
        slog("Ready", StatusPanel::Job);
        slog("", StatusPanel::Progress);
        return;
    }
    std::string text = activityWord(activity);
    if (!subject.empty()) {
        text += " " + subject;
    }
    // The first file's reading keeps a blank after its name, as it always showed.
    if (activity == JobActivity::Reading && !subject.empty()) {
        text += " ";
    }
    slog(std::move(text), StatusPanel::Job);
}

void MessageLog::progress(const JobProgress& progress) {
    std::string text;
    if (progress.inBytes) {
        text = std::to_string(progress.position) + "/" + std::to_string(progress.size) + " bytes";
    } else {
        // The estimate adds a second, so that it never shows less than one.
        const double elapsed = progress.elapsedDays;
        const double remaining =
            elapsed * static_cast<double>(progress.size) / static_cast<double>(progress.position) -
            elapsed + 1.0 / 86400.0;
        if (progress.activity != JobActivity::Ready) {
            text = std::string(activityWord(progress.activity)) + " " + progress.subject + " ";
        }
        text += std::to_string(progress.position / kMebibyte) + "/" +
                std::to_string(progress.size / kMebibyte) +
                " Mbytes, Remaining time: " + formatDayTime(remaining, "h:mm:ss", locale_);
    }
    slog(std::move(text), StatusPanel::Progress);
    // Thousandths, so that sizes past an int's range still fit a progress bar.
    permille_ = progress.size > 0 ? static_cast<int>(std::clamp<int64_t>(
                                        progress.position * 1000 / progress.size, 0, 1000))
                                  : 0;
    if (view_ != nullptr) {
        view_->statusChanged(StatusPanel::Progress);
    }
    if (pump_) {
        pump_();
    }
}

void MessageLog::clear() {
    lines_.clear();
    if (view_ != nullptr) {
        view_->cleared();
    }
}

}  // namespace tolvane
