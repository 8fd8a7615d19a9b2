#include "discs/xpl_scanner.h"

#include <algorithm>
#include <charconv>

#include "core/text_escape.h"

namespace tolvane {

namespace {

constexpr size_t kAttributeWindow = 255;
// Deeper nesting than this is indented no further: a file of unmatched "<" must not make
// every memo line grow without limit.
constexpr int64_t kMaxIndentLevels = 64;

}  // namespace

std::optional<std::string> attributeValue(std::string_view tag, std::string_view name) {
    const size_t at = upperCase(tag).find(upperCase(name));
    if (at == std::string::npos) {
        return std::nullopt;
    }
    std::string_view rest = tag.substr(at + name.size(), kAttributeWindow);
    if (const size_t eq = rest.find('='); eq != std::string_view::npos) {
        rest.remove_prefix(eq + 1);
    }
    if (const size_t quote = rest.find('"'); quote != std::string_view::npos) {
        rest.remove_prefix(quote + 1);
    }
    const size_t close = rest.find('"');
    return close == std::string_view::npos ? std::string() : std::string(rest.substr(0, close));
}

int32_t attributeInt(std::string_view tag, std::string_view name) {
    const std::optional<std::string> text = attributeValue(tag, name);
    if (!text || text->empty()) {
        return 0;
    }
    std::string_view digits = *text;
    if (digits.front() == '+') {
        digits.remove_prefix(1);
    }
    int32_t value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    return error == std::errc() && end == digits.data() + digits.size() ? value : 0;
}

namespace {

// The element name of a tag line: "Playlist" for "  <Playlist xmlns=...>".
std::string_view elementName(std::string_view line) {
    const size_t open = line.find('<');
    if (open == std::string_view::npos) {
        return {};
    }
    const size_t start = open + 1;
    const size_t end = line.find_first_of(" />", start);
    return line.substr(start, end == std::string_view::npos ? end : end - start);
}

}  // namespace

void XplScanner::lookForValues(const std::string& line) {
    // Only the playlist element names the playlist: an application element or any other
    // element whose name holds "Playlist" does not.
    if (elementName(line) == "Playlist") {
        if (auto name = attributeValue(line, "displayName")) {
            values_.displayName = *name;
        }
    }
    if (line.find("TitleSet") != std::string::npos) {
        if (auto base = attributeValue(line, "timeBase")) {
            values_.timeBase = *base;
        }
        if (auto tick = attributeValue(line, "tickBase")) {
            values_.tickBase = *tick;
        }
    }
    const auto item = [&](const char* element, std::array<std::string, 9>& table, bool audio) {
        if (line.find(element) == std::string::npos) {
            return;
        }
        const int32_t index = attributeInt(line, "index");
        if (index < 1 || index > 8) {
            return;  // the tables have eight entries
        }
        std::string codec = attributeValue(line, "codec").value_or("");
        if (audio) {
            const std::string channels = attributeValue(line, "channels").value_or("");
            if (!channels.empty()) {
                codec += "." + channels + "ch";
            }
        }
        table[static_cast<size_t>(index)] = codec;
    };
    item("VideoAttributeItem", tables_.video, false);
    item("AudioAttributeItem", tables_.audio, true);
    item("SubpictureAttributeItem", tables_.subpicture, false);
}

void PlaylistMemo::add(std::string_view bareLine, int64_t depth) {
    text_ += bareLine;
    ends_.push_back(text_.size());
    depths_.push_back(static_cast<uint8_t>(std::clamp<int64_t>(depth, 0, kMaxIndentLevels)));
}

void PlaylistMemo::clear() {
    text_.clear();
    ends_.clear();
    depths_.clear();
}

std::string_view PlaylistMemo::bare(size_t k) const {
    const size_t start = k == 0 ? 0 : ends_[k - 1];
    return std::string_view(text_).substr(start, ends_[k] - start);
}

std::string PlaylistMemo::line(size_t k) const {
    std::string shown(2 * static_cast<size_t>(depths_[k]), ' ');
    shown += bare(k);
    return shown;
}

void PlaylistMemo::keep(size_t first, size_t last) {
    if (first > last || last >= size()) {
        return;
    }
    const size_t start = first == 0 ? 0 : ends_[first - 1];
    text_ = text_.substr(start, ends_[last] - start);
    std::vector<size_t> ends;
    for (size_t k = first; k <= last; ++k) {
        ends.push_back(ends_[k] - start);
    }
    ends_ = std::move(ends);
    depths_ = std::vector<uint8_t>(depths_.begin() + static_cast<long>(first),
                                   depths_.begin() + static_cast<long>(last) + 1);
}

std::vector<std::string> PlaylistMemo::lines() const {
    std::vector<std::string> shown;
    shown.reserve(size());
    for (size_t k = 0; k < size(); ++k) {
        shown.push_back(line(k));
    }
    return shown;
}

void XplScanner::finishLine() {
    memo_.add(line_, lineIndent_);
    lookForValues(line_);
    line_.clear();
    lineIndent_ = 0;
}

void XplScanner::scan(const uint8_t* data, size_t length) {
    for (size_t k = 0; k < length; ++k) {
        const auto x = static_cast<char>(data[k]);
        const auto previous = static_cast<char>(last_ & 0xFF);
        if (x == '<') {
            inTag_ = true;
            ++depth_;
        }
        if (inTag_) {
            if (data[k] > 31) {
                line_ += x;
            } else if (line_.empty() ? lineIndent_ == 0 : line_.back() != ' ') {
                line_ += ' ';
            }
        }
        if (x == '/' && previous == '<') {
            depth_ -= 2;
            // A closing tag stands one level out: one unit of indentation goes, or, without
            // any, the line's first two characters.
            if (lineIndent_ > 0) {
                --lineIndent_;
            } else {
                line_.erase(0, std::min<size_t>(2, line_.size()));
            }
        }
        if (x == '>') {
            inTag_ = false;
            finishLine();
            if (previous == '/') {
                --depth_;
            }
            if (previous == '?') {
                --depth_;
            }
            if ((last_ & 0xFFFF) == 0x2D2D) {
                --depth_;
            }
            lineIndent_ = std::clamp<int64_t>(depth_, 0, kMaxIndentLevels);
        }
        last_ = last_ << 8 | data[k];
    }
}

}  // namespace tolvane
