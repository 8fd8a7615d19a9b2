#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/log_event.h"

namespace tolvane {

inline constexpr int kDefaultLogPointSize = 8;

struct Rgb {
    uint8_t red = 0;
    uint8_t green = 0;
    uint8_t blue = 0;
    bool operator==(const Rgb&) const = default;
};

// The character format of one run of a log line. Without `hasColour` the run takes the
// platform's default window-text colour.
struct CharFormat {
    bool bold = false;
    bool italic = false;
    bool underline = false;
    int pointSize = kDefaultLogPointSize;
    bool hasColour = false;
    Rgb colour;
    bool operator==(const CharFormat&) const = default;
};

struct FormatRun {
    size_t start = 0;
    size_t length = 0;
    CharFormat format;
    bool operator==(const FormatRun&) const = default;
};

// One line of the message log: the text shown and runs that cover it in order.
struct LogLine {
    std::string markup;  // the text as it was logged
    std::string text;
    std::vector<FormatRun> runs;
};

// The format a tagged run gets from its tag name ("b", "c:0000FF", ...).
CharFormat formatForTag(std::string_view name);

// Parses one marked-up text into a log line. Well-formed markup ("[b]x[/b]") gives the runs
// its tags name; "[[" is a plain "["; stray brackets, unclosed and nested tags always give a
// finished line.
LogLine parseMarkup(std::string_view text);

// `text` shown as it is: every "[" doubled, so that no part of it is taken as a tag. Names of
// files and texts from the playlist go through this; only the program's own markup does not.
std::string escapeMarkup(std::string_view text);

// A log line as marked-up text: strong parts bold ("[b]"), values blue ("[bl]"), times red
// ("[re]"), asides in italics ("[i]"); every text escaped.
std::string markupOf(const LogEvent& line);

// The text with every complete tag ("[" ... "]") removed; a "[" without a "]" after it stays.
std::string stripTags(std::string_view text);

}  // namespace tolvane
