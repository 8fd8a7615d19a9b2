#include "report/markup.h"

#include <algorithm>
#include <unordered_map>

namespace tolvane {

namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// The digits are written blue, green, red: the value's lowest byte is red.
Rgb colourFromDigits(std::string_view digits) {
    uint32_t value = 0;
    for (char c : digits) {
        const int digit = hexDigit(c);
        if (digit >= 0) {
            value = value * 16 + static_cast<uint32_t>(digit);
        }
    }
    return Rgb{static_cast<uint8_t>(value & 0xFF), static_cast<uint8_t>((value >> 8) & 0xFF),
               static_cast<uint8_t>((value >> 16) & 0xFF)};
}

// The next "[" that opens a tag; "[[" is an escaped "[" and opens none.
size_t nextTagOpen(std::string_view text, size_t from) {
    size_t at = text.find('[', from);
    while (at != std::string_view::npos && at + 1 < text.size() && text[at + 1] == '[') {
        at = text.find('[', at + 2);
    }
    return at;
}

// Plain text as it is shown: every "[[" stands for one "[".
std::string unescape(std::string_view plain) {
    std::string shown;
    shown.reserve(plain.size());
    for (size_t k = 0; k < plain.size(); ++k) {
        shown += plain[k];
        if (plain[k] == '[' && k + 1 < plain.size() && plain[k + 1] == '[') {
            ++k;
        }
    }
    return shown;
}

void addRun(LogLine& line, std::string_view shown, const CharFormat& format) {
    if (shown.empty()) {
        return;
    }
    line.runs.push_back(FormatRun{line.text.size(), shown.size(), format});
    line.text += shown;
}

// Where each closing tag "[/name]" occurs, by name, so that finding the closing tag of every
// opening tag costs a lookup rather than a search of the rest of the line.
class ClosingTags {
public:
    explicit ClosingTags(std::string_view text) {
        size_t pos = nextTagOpen(text, 0);
        while (pos != std::string_view::npos) {
            if (pos + 1 < text.size() && text[pos + 1] == '/') {
                const size_t close = text.find(']', pos + 2);
                if (close == std::string_view::npos) {
                    break;
                }
                positions_[text.substr(pos + 2, close - pos - 2)].push_back(pos);
            }
            pos = nextTagOpen(text, pos + 1);
        }
    }

    // The first "[/name]" that starts at or after `from`.
    size_t find(std::string_view name, size_t from) const {
        const auto found = positions_.find(name);
        if (found == positions_.end()) {
            return std::string_view::npos;
        }
        const std::vector<size_t>& list = found->second;
        const auto it = std::lower_bound(list.begin(), list.end(), from);
        return it == list.end() ? std::string_view::npos : *it;
    }

private:
    std::unordered_map<std::string_view, std::vector<size_t>> positions_;
};

}  // namespace

CharFormat formatForTag(std::string_view name) {
    CharFormat format;
    if (name == "b") {
        format.bold = true;
    } else if (name == "i") {
        format.italic = true;
    } else if (name == "u") {
        format.underline = true;
    } else if (name == "s1") {
        format.pointSize = 10;
    } else if (name == "s2") {
        format.pointSize = 12;
    } else if (name.substr(0, 2) == "c:") {
        format.hasColour = true;
        format.colour = colourFromDigits(name.substr(2));
    } else if (name == "bl") {
        format.hasColour = true;
        format.colour = Rgb{0, 0, 255};
    } else if (name == "re") {
        format.hasColour = true;
        format.colour = Rgb{255, 0, 0};
    }
    return format;
}

std::string escapeMarkup(std::string_view text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (char c : text) {
        escaped += c;
        if (c == '[') {
            escaped += '[';
        }
    }
    return escaped;
}

std::string stripTags(std::string_view text) {
    std::string shown;
    shown.reserve(text.size());
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t open = nextTagOpen(text, pos);
        const size_t close = open == std::string_view::npos ? open : text.find(']', open + 1);
        if (close == std::string_view::npos) {
            shown += unescape(text.substr(pos));
            break;
        }
        shown += unescape(text.substr(pos, open - pos));
        pos = close + 1;
    }
    return shown;
}

LogLine parseMarkup(std::string_view text) {
    LogLine line;
    line.markup = text;
    line.text.reserve(text.size());
    const CharFormat plain;
    const ClosingTags closingTags(text);
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t open = nextTagOpen(text, pos);
        const size_t close = open == std::string_view::npos ? open : text.find(']', open + 1);
        if (close == std::string_view::npos) {
            // No further complete tag: the rest, stray "[" included, is plain text.
            addRun(line, unescape(text.substr(pos)), plain);
            break;
        }
        addRun(line, unescape(text.substr(pos, open - pos)), plain);
        const std::string_view name = text.substr(open + 1, close - open - 1);
        const size_t end = closingTags.find(name, close + 1);
        if (end == std::string_view::npos) {
            // An opening tag without its closing tag: drop the tag, the text goes on plain.
            pos = close + 1;
            continue;
        }
        addRun(line, stripTags(text.substr(close + 1, end - close - 1)), formatForTag(name));
        pos = end + name.size() + 3;
    }
    return line;
}

std::string markupOf(const LogEvent& line) {
    std::string markup;
    for (const LogSpan& span : line.spans) {
        const char* tag = nullptr;
        switch (span.role) {
            case LogRole::Plain:
                break;
            case LogRole::Strong:
                tag = "b";
                break;
            case LogRole::Value:
                tag = "bl";
                break;
            case LogRole::Time:
                tag = "re";
                break;
            case LogRole::Aside:
                tag = "i";
                break;
        }
        if (tag == nullptr) {
            markup += escapeMarkup(span.text);
            continue;
        }
        markup += std::string("[") + tag + "]" + escapeMarkup(span.text) + "[/" + tag + "]";
    }
    return markup;
}

}  // namespace tolvane
