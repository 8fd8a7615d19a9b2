#include "discs/title_choice.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tolvane {
namespace {

// A DVD title of `seconds` whose cells start at the given sectors, ten sectors each.
DiscTitle dvdTitle(double seconds, std::vector<int64_t> starts, size_t chapters = 1) {
    DiscTitle title;
    title.titleSet = 1;
    title.duration = seconds;
    title.chapters.resize(chapters);
    for (const int64_t start : starts) {
        title.playOrder.push_back(SectorRun{start, start + 9});
    }
    return title;
}

DiscTitle hdTitle(double seconds, const std::string& evo, double fileBegin = 0) {
    DiscTitle title;
    title.duration = seconds;
    title.clips.push_back(DiscClip{"A.MAP", evo, 0, seconds, fileBegin});
    return title;
}

// The roles of a disc's titles, as the listing gives them, with their reasons.
TEST(TitleChoice, MarksTheMainTitleAndTellsWhyTheOthersAreNone) {
    struct Case {
        const char* what;
        std::vector<DiscTitle> titles;
        double minSeconds;
        std::vector<std::string> expected;
        int firstPlay = 0;  // the title the disc's first-play starts, from 1
    };
    DiscTitle damaged = dvdTitle(9000, {0});
    damaged.damage = "The information file of title set 1 is damaged";
    const Case cases[] = {
        {"one step back is a seamless branch, two make a decoy",
         {dvdTitle(600, {0, 40, 20, 60}), dvdTitle(600, {40, 0, 60, 20})},
         10,
         {"main title", "decoy: its cells jump back 2 times"}},
        {"the same cells in another title set are another title",
         {dvdTitle(600, {0, 10}),
          [] {
              DiscTitle other = dvdTitle(600, {0, 10});
              other.titleSet = 2;
              return other;
          }()},
         10,
         {"main title", ""}},
        {"as long: more chapters win, then the earlier title",
         {dvdTitle(600, {0}, 3), dvdTitle(600, {100}, 12), dvdTitle(600, {200}, 12)},
         10,
         {"", "main title", ""}},
        {"a disc of short titles still has a main title; a damaged title is none",
         {dvdTitle(4, {0}), dvdTitle(8, {100}), damaged},
         10,
         {"short: shorter than 10 s", "main title", ""}},
        {"a duplicate is never the main title, however long",
         {dvdTitle(100, {0, 10}), dvdTitle(100, {0, 10}), dvdTitle(50, {500})},
         0,
         {"main title", "duplicate: the same cells as title 1", ""}},
        {"the title the disc plays first wins over a longer one, unless far shorter",
         {dvdTitle(600, {0}), dvdTitle(590, {100}), dvdTitle(900, {200, 300})},
         10,
         {"", "main title", ""},
         2},
        {"a trailer the disc plays first is not the feature",
         {dvdTitle(60, {0}), dvdTitle(600, {100})},
         10,
         {"", "main title"},
         1},
        {"HD DVD titles are duplicates by their clips, times included",
         {hdTitle(60, "A.EVO"), hdTitle(60, "A.EVO"), hdTitle(60, "A.EVO", 5)},
         10,
         {"main title", "duplicate: the same cells as title 1", ""}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<DiscTitle> titles = c.titles;
        for (size_t k = 0; k < titles.size(); ++k) {
            titles[k].number = static_cast<int>(k) + 1;
        }
        if (c.firstPlay > 0) {
            titles[static_cast<size_t>(c.firstPlay - 1)].firstPlay = true;
        }
        const std::vector<TitleVerdict> verdicts = judgeTitles(titles, c.minSeconds);
        std::vector<std::string> found;
        for (const TitleVerdict& verdict : verdicts) {
            found.push_back(std::string(roleName(verdict.role)) +
                            (verdict.reason.empty() ? "" : ": " + verdict.reason));
        }
        EXPECT_EQ(found, c.expected);
    }
}

}  // namespace
}  // namespace tolvane
