#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tolvane {

// What a part of a log line is: how it looks is the front end's choice (the window shows what
// a line is about bold, values blue, times red and asides in italics).
enum class LogRole : uint8_t { Plain, Strong, Value, Time, Aside };

// A part of a log line: its text, shown as it is, and its role.
struct LogSpan {
    LogRole role = LogRole::Plain;
    std::string text;

    LogSpan(const char* plain) : text(plain) {}  // NOLINT: plain text reads as a span
    LogSpan(std::string plain) : text(std::move(plain)) {}  // NOLINT
    LogSpan(LogRole spanRole, std::string spanText)
        : role(spanRole), text(std::move(spanText)) {}
    bool operator==(const LogSpan&) const = default;
};

inline LogSpan asStrong(std::string text) {
    return {LogRole::Strong, std::move(text)};
}
inline LogSpan asValue(std::string text) {
    return {LogRole::Value, std::move(text)};
}
inline LogSpan asTime(std::string text) {
    return {LogRole::Time, std::move(text)};
}
inline LogSpan asAside(std::string text) {
    return {LogRole::Aside, std::move(text)};
}

// One line of a job's log, in parts.
struct LogEvent {
    std::vector<LogSpan> spans;

    LogEvent() = default;
    LogEvent(std::initializer_list<LogSpan> parts) : spans(parts) {}

    LogEvent& operator<<(LogSpan span) {
        spans.push_back(std::move(span));
        return *this;
    }
    LogEvent& operator<<(LogEvent more) {
        for (LogSpan& span : more.spans) {
            spans.push_back(std::move(span));
        }
        return *this;
    }
    // The line's text, without roles.
    std::string text() const {
        std::string joined;
        for (const LogSpan& span : spans) {
            joined += span.text;
        }
        return joined;
    }
    bool operator==(const LogEvent&) const = default;
};

// A table's words for a code: the value it names (none when empty) and the words after it.
struct ValueText {
    std::string_view value;
    std::string_view after;
};

// `before`, then the value and the words after it.
inline LogEvent valueLine(std::string before, ValueText text) {
    LogEvent line{LogSpan(std::move(before))};
    if (!text.value.empty()) {
        line << asValue(std::string(text.value));
    }
    if (!text.after.empty()) {
        line << std::string(text.after);
    }
    return line;
}

}  // namespace tolvane
