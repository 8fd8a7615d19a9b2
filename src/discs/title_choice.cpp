#include "discs/title_choice.h"

#include <cstdio>
#include <iterator>
#include <map>
#include <optional>
#include <utility>

namespace tolvane {

namespace {

// What a title named as the main one is chosen from: every title, whatever its length.
constexpr double kEveryLength = 0;
// How long, against the longest title, the title the disc plays first must be to be the main one.
constexpr double kFirstPlayShare = 0.5;

// A title's cells as a player reads them: a DVD's in the order its program chains list them,
// an HD DVD's clips by file and times.
struct Cells {
    int titleSet = 0;
    std::vector<SectorRun> runs;
    std::vector<std::string> clips;
    bool operator==(const Cells&) const = default;
};

Cells cellsOf(const DiscTitle& title) {
    Cells cells{title.titleSet, title.playOrder, {}};
    for (const DiscClip& clip : title.clips) {
        char times[64];
        std::snprintf(times, sizeof times, " %.3f %.3f %.3f", clip.begin, clip.end, clip.fileBegin);
        cells.clips.push_back(clip.evo + times);
    }
    return cells;
}

// How often the cells go back on the disc, and how many play sectors the title played before.
struct Order {
    int backwardJumps = 0;
    int repeats = 0;
};

Order orderOf(const std::vector<SectorRun>& runs) {
    Order order;
    // The sectors played so far, as runs that do not touch: first sector to last. A hostile
    // title lists thousands of cells, so each is looked up, not compared with every other.
    std::map<int64_t, int64_t> played;
    for (size_t k = 0; k < runs.size(); ++k) {
        const SectorRun& run = runs[k];
        if (k > 0 && run.first < runs[k - 1].first) {
            ++order.backwardJumps;
        }
        auto next = played.upper_bound(run.last);  // the first run past this one's end
        int64_t first = run.first;
        int64_t last = run.last;
        bool overlaps = false;
        // Runs that start at or before its end and end at or after its start overlap it.
        while (next != played.begin()) {
            const auto before = std::prev(next);
            if (before->second < run.first) {
                break;
            }
            overlaps = true;
            first = std::min(first, before->first);
            last = std::max(last, before->second);
            next = played.erase(before);
        }
        order.repeats += overlaps ? 1 : 0;
        played[first] = last;
    }
    return order;
}

std::string times(int count, const char* what) {
    return std::to_string(count) + " " + what + (count == 1 ? "" : "s");
}

}  // namespace

std::vector<TitleVerdict> judgeTitles(const std::vector<DiscTitle>& titles, double minSeconds) {
    std::vector<TitleVerdict> verdicts(titles.size());
    std::vector<Cells> cells;
    cells.reserve(titles.size());
    for (const DiscTitle& title : titles) {
        cells.push_back(cellsOf(title));
    }
    for (size_t k = 0; k < titles.size(); ++k) {
        const DiscTitle& title = titles[k];
        TitleVerdict& verdict = verdicts[k];
        if (!title.damage.empty()) {
            continue;
        }
        const Order order = orderOf(title.playOrder);
        // One step back may be a seamless branch; a title that keeps jumping back, or plays
        // cells it played already, is made to be read wrong.
        if (order.repeats > 0) {
            verdict = {TitleRole::Decoy,
                       "it plays its cells again (" + times(order.repeats, "cell") + ")"};
            continue;
        }
        if (order.backwardJumps > 1) {
            verdict = {TitleRole::Decoy,
                       "its cells jump back " + times(order.backwardJumps, "time")};
            continue;
        }
        for (size_t j = 0; j < k; ++j) {
            const bool cellsKnown = !cells[k].runs.empty() || !cells[k].clips.empty();
            if (cellsKnown && cells[j] == cells[k] && titles[j].damage.empty()) {
                verdict = {TitleRole::Duplicate,
                           "the same cells as title " + std::to_string(titles[j].number)};
                break;
            }
        }
        if (verdict.role != TitleRole::Plain) {
            continue;
        }
        if (title.duration < minSeconds) {
            char limit[32];
            std::snprintf(limit, sizeof limit, "shorter than %g s", minSeconds);
            verdict = {TitleRole::Short, limit};
        }
    }
    // The main title: the longest plain one, or the one the disc plays first; on a disc of short
    // titles only, the longest title that is no duplicate or decoy.
    for (const TitleRole candidates : {TitleRole::Plain, TitleRole::Short}) {
        std::optional<size_t> best;
        for (size_t k = 0; k < titles.size(); ++k) {
            if (verdicts[k].role != candidates || !titles[k].damage.empty()) {
                continue;
            }
            const auto rank = [&](size_t n) {
                return std::pair(titles[n].duration, titles[n].chapters.size());
            };
            if (!best || rank(k) > rank(*best)) {
                best = k;
            }
        }
        // The title the disc's first-play starts is the feature, unless it is far shorter
        // than another (a trailer or a studio's logo the disc starts with).
        for (size_t k = 0; best && k < titles.size(); ++k) {
            if (titles[k].firstPlay && verdicts[k].role == candidates && titles[k].damage.empty() &&
                titles[k].duration >= kFirstPlayShare * titles[*best].duration) {
                best = k;
            }
        }
        if (best) {
            verdicts[*best] = {TitleRole::Main, {}};
            break;
        }
    }
    return verdicts;
}

int mainTitleNumber(const std::vector<DiscTitle>& titles) {
    const std::vector<TitleVerdict> verdicts = judgeTitles(titles, kEveryLength);
    for (size_t k = 0; k < titles.size(); ++k) {
        if (verdicts[k].role == TitleRole::Main) {
            return titles[k].number;
        }
    }
    return 0;
}

const char* roleName(TitleRole role) {
    switch (role) {
        case TitleRole::Main:
            return "main title";
        case TitleRole::Duplicate:
            return "duplicate";
        case TitleRole::Decoy:
            return "decoy";
        case TitleRole::Short:
            return "short";
        case TitleRole::Plain:
            break;
    }
    return "";
}

}  // namespace tolvane
