#include "playlist/xpl_title.h"

#include "sinks/job_naming.h"

namespace tolvane {

namespace {

bool containsUpper(std::string_view line, const char* text) {
    return upperCase(line).find(text) != std::string::npos;
}

// Whether a quoted value of the tag names the file `upperKey` (its name without extension,
// upper case): a clip refers to its file by a path or URI in one of its attributes.
bool refersTo(std::string_view line, const std::string& upperKey) {
    size_t open = line.find('"');
    while (open != std::string_view::npos) {
        const size_t close = line.find('"', open + 1);
        if (close == std::string_view::npos) {
            break;
        }
        const std::string_view value = line.substr(open + 1, close - open - 1);
        const size_t slash = value.find_last_of("/\\");
        std::string_view name = slash == std::string_view::npos ? value : value.substr(slash + 1);
        if (const size_t dot = name.rfind('.'); dot != std::string_view::npos) {
            name = name.substr(0, dot);
        }
        if (!name.empty() && upperCase(name) == upperKey) {
            return true;
        }
        open = line.find('"', close + 1);
    }
    return false;
}

}  // namespace

int findTitleLine(const PlaylistMemo& memo, const std::string& key) {
    if (key.empty()) {
        return -1;
    }
    const std::string upperKey = upperCase(key);
    for (size_t k = 1; k < memo.size(); ++k) {
        if (refersTo(memo.bare(k), upperKey)) {
            return static_cast<int>(k);
        }
    }
    return -1;
}

void cutToTitle(PlaylistMemo& memo, int found) {
    size_t first = 0;
    for (int k = found - 1; k >= 0; --k) {
        if (containsUpper(memo.bare(static_cast<size_t>(k)), "<TITLE ")) {
            first = static_cast<size_t>(k);
            break;
        }
    }
    memo.keep(first, memo.size() - 1);
    for (size_t k = 1; k < memo.size(); ++k) {
        if (containsUpper(memo.bare(k), "</TITLE")) {
            memo.keep(0, k);
            break;
        }
    }
}

}  // namespace tolvane
