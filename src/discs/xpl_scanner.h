#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tolvane {

// A playlist is a few hundred kilobytes at most: anything much larger is no playlist, and
// reading it would take memory a real one never needs.
inline constexpr int64_t kMaxPlaylistBytes = 64 * 1024 * 1024;

// The value of attribute `name` in the text of a tag: found case-insensitively anywhere in the
// tag, then the text between the double quotes after the next "=". None when `name` does not
// occur; empty when no closing quote follows.
std::optional<std::string> attributeValue(std::string_view tag, std::string_view name);
// attributeValue read as a signed 32-bit integer; 0 when missing or not a number.
int32_t attributeInt(std::string_view tag, std::string_view name);

// Codec texts of the playlist's attribute items, by their index 1 to 8 (entry 0 unused).
struct XplAttributeTables {
    std::array<std::string, 9> video;
    std::array<std::string, 9> audio;
    std::array<std::string, 9> subpicture;
};

struct XplValues {
    std::string displayName;
    std::string timeBase;
    std::string tickBase;
};

// The playlist's tags, one a line, each with its nesting depth. Lines are kept without their
// indentation, in one text, so that memory grows with the file and not with its nesting.
class PlaylistMemo {
public:
    void add(std::string_view bareLine, int64_t depth);
    void clear();
    size_t size() const { return depths_.size(); }
    bool empty() const { return depths_.empty(); }
    // A line as it is shown: two blanks a level (64 at the most), then the tag.
    std::string line(size_t k) const;
    std::string_view bare(size_t k) const;
    // Keeps the lines from `first` to `last`, both included.
    void keep(size_t first, size_t last);
    std::vector<std::string> lines() const;

private:
    std::string text_;
    std::vector<size_t> ends_;
    std::vector<uint8_t> depths_;
};

// Turns the bytes of a playlist into memo lines, one per tag, indented two blanks a level, and
// picks up the playlist's values and attribute tables on the way. Bytes may come in chunks.
class XplScanner {
public:
    XplScanner(PlaylistMemo& memo, XplAttributeTables& tables) : memo_(memo), tables_(tables) {}

    void scan(const uint8_t* data, size_t length);
    const XplValues& values() const { return values_; }

private:
    void finishLine();
    void lookForValues(const std::string& line);

    PlaylistMemo& memo_;
    XplAttributeTables& tables_;
    XplValues values_;
    std::string line_;        // the current tag, without its indentation
    int64_t lineIndent_ = 0;  // indentation units in front of it
    bool inTag_ = false;
    int64_t depth_ = 0;
    uint32_t last_ = 0;
};

}  // namespace tolvane
