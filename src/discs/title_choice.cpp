#include "discs/title_choice.h"

#include <cstdio>
#include <optional>
#include <utility>

namespace tolvane {

namespace {

// What a title named as the main one is chosen from: every title, whatever its length.
constexpr double kEveryLength = 0;

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
    for (size_t k = 0; k < runs.size(); ++k) {
        if (k > 0 && runs[k].first < runs[k - 1].first) {
            ++order.backwardJumps;
        }
        for (size_t j = 0; j < k; ++j) {
            if (runs[j].first <= runs[k].last && runs[k].first <= runs[j].last) {
                ++order.repeats;
                break;
            }
        }
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
    // The main title: the longest plain one; on a disc of short titles only, the longest title
    // that is no duplicate or decoy.
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
