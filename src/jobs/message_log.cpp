#include "jobs/message_log.h"

#include <algorithm>

namespace tolvane {

namespace {

constexpr const char* kIdleHint = " Select or drop an EVO file to demux";

// Without a toolkit there is no font to measure: an average glyph width stands in.
int approximateWidth(const std::string& text) {
    return static_cast<int>(text.size()) * 6;
}

}  // namespace

MessageLog::MessageLog()
    : panels_{StatusPanelState{" Ready", 40}, StatusPanelState{kIdleHint, 50}},
      hint_(kIdleHint),
      measure_(approximateWidth) {}

void MessageLog::log(std::string text) {
    lines_.push_back(parseMarkup(text));
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

void MessageLog::progress(int64_t position, int64_t size) {
    // Thousandths, so that sizes past an int's range still fit a progress bar.
    permille_ =
        size > 0 ? static_cast<int>(std::clamp<int64_t>(position * 1000 / size, 0, 1000)) : 0;
    if (view_ != nullptr) {
        view_->statusChanged(StatusPanel::Progress);
    }
}

void MessageLog::clear() {
    lines_.clear();
    if (view_ != nullptr) {
        view_->cleared();
    }
}

}  // namespace tolvane
