#include "playlist/xpl_title.h"

#include "jobs/job_naming.h"

namespace tolvane {

namespace {

bool containsUpper(const std::string& line, const char* text) {
    return upperCase(line).find(text) != std::string::npos;
}

}  // namespace

int findTitleLine(const std::vector<std::string>& memo, const std::string& key) {
    if (key.empty()) {
        return -1;
    }
    for (size_t k = 0; k < memo.size(); ++k) {
        if (memo[k].find(key) != std::string::npos) {
            return k == 0 ? -1 : static_cast<int>(k);
        }
    }
    return -1;
}

void cutToTitle(std::vector<std::string>& memo, int found) {
    for (int k = found - 1; k >= 0; --k) {
        if (containsUpper(memo[static_cast<size_t>(k)], "<TITLE ")) {
            memo.erase(memo.begin(), memo.begin() + k);
            break;
        }
    }
    for (size_t k = 1; k < memo.size(); ++k) {
        if (containsUpper(memo[k], "</TITLE")) {
            memo.erase(memo.begin() + static_cast<long>(k) + 1, memo.end());
            break;
        }
    }
}

}  // namespace tolvane
