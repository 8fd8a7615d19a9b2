#pragma once

#include <string>
#include <vector>

#include "discs/xpl_scanner.h"

namespace tolvane {

struct TreeNode {
    std::string text;
    std::vector<TreeNode> children;
    bool operator==(const TreeNode&) const = default;
};

// The line of the title that plays `key` (the source's name without extension): the first memo
// line after line 0 with an attribute that names that file (any folder, any extension, any
// case). -1 when there is none.
int findTitleLine(const PlaylistMemo& memo, const std::string& key);

// Cuts the memo down to the title element around line `found`.
void cutToTitle(PlaylistMemo& memo, int found);

}  // namespace tolvane
