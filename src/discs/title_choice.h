#pragma once

#include <string>
#include <vector>

#include "discs/disc.h"

namespace tolvane {

// What a listing says of a title, so that a user finds the one to take among a disc's decoys.
enum class TitleRole {
    Plain,      // a title like any other
    Main,       // the main feature: the longest title that is none of the below
    Duplicate,  // the same cells in the same order as an earlier title
    Decoy,      // cells no player would play as one title: out of order, or repeating
    Short,      // shorter than the listing's minimum length
};

struct TitleVerdict {
    TitleRole role = TitleRole::Plain;
    // Why a title is no candidate: "the same cells as title 1", "its cells jump back 5
    // times", "shorter than 0:00:10"; empty for a plain or main title.
    std::string reason;
};

// A verdict for each of `titles`, in their order. `minSeconds` sets which titles are short; the
// main title is the longest of the rest (more chapters, then the earlier title, where they are
// as long), else the longest title that is neither a duplicate nor a decoy.
std::vector<TitleVerdict> judgeTitles(const std::vector<DiscTitle>& titles, double minSeconds);

// The number of the main title among `titles`; 0 when the disc has none (no readable title).
int mainTitleNumber(const std::vector<DiscTitle>& titles);

// "main title", "duplicate", "decoy", "short"; empty for a plain title.
const char* roleName(TitleRole role);

}  // namespace tolvane
