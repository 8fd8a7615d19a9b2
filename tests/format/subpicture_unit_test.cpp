#include "format/subpicture_unit.h"

#include <gtest/gtest.h>

#include <vector>

namespace tolvane {
namespace {

using Bytes = std::vector<uint8_t>;

// A unit of the given control sequences, the first at byte 4.
Bytes unitWith(const Bytes& sequences) {
    Bytes unit(4 + sequences.size());
    unit[1] = static_cast<uint8_t>(unit.size());
    unit[3] = 4;
    std::copy(sequences.begin(), sequences.end(), unit.begin() + 4);
    return unit;
}

// What marks a subpicture forced, wherever its display sequences put it, and sequences that
// a damaged or hostile unit makes loop or run out of the unit.
TEST(SubpictureUnit, ForcedStartIsFoundInAnySequenceAndDamageEndsTheSearch) {
    struct Case {
        const char* what;
        Bytes unit;
        bool forced;
    };
    const Case cases[] = {
        {"start, colours, contrast, area, end",
         unitWith(
             {0, 0, 0, 4, 0x01, 0x03, 0x12, 0x34, 0x04, 0xFF, 0xF0, 0x05, 1, 2, 3, 4, 5, 6, 0xFF}),
         false},
        {"a forced start after a colour change",
         unitWith({0, 0, 0, 4, 0x07, 0x00, 0x04, 0xAA, 0xBB, 0x00, 0xFF}), true},
        {"forced in the second sequence",
         unitWith({0, 0, 0, 10, 0x01, 0xFF, 0x00, 0x20, 0, 10, 0x00, 0xFF}), true},
        {"a sequence that leads to itself", unitWith({0, 0, 0, 4, 0x01, 0xFF}), false},
        {"a colour change of no size", unitWith({0, 0, 0, 4, 0x07, 0x00, 0x00, 0xFF}), false},
        {"a command no unit has", unitWith({0, 0, 0, 4, 0x09, 0x00}), false},
        {"a sequence past the end", Bytes{0, 6, 0xFF, 0xF0, 0, 0}, false},
        {"too short for a sequence", Bytes{0, 3, 0}, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(forcedSubpicture(c.unit), c.forced) << c.what;
    }
}

// Units over several packets: a timed packet begins one, one unfinished is dropped, and a
// size that leaves no room for the control offset is no unit.
TEST(SubpictureUnit, GathererHandsOutWholeUnitsOnly) {
    SubpictureGatherer gatherer;
    const Bytes unit = unitWith({0, 0, 0, 4, 0x00, 0xFF});
    const std::span<const uint8_t> all(unit);
    EXPECT_FALSE(gatherer.add(all.first(3), 100));
    EXPECT_FALSE(gatherer.add(all.subspan(3, 2), std::nullopt));
    const auto whole = gatherer.add(all.subspan(5), std::nullopt);
    ASSERT_TRUE(whole);
    EXPECT_TRUE(std::equal(whole->begin(), whole->end(), unit.begin(), unit.end()));
    EXPECT_EQ(gatherer.time(), 100);
    EXPECT_FALSE(gatherer.add(all, std::nullopt)) << "no time: no unit begins";
    EXPECT_FALSE(gatherer.add(all.first(4), 200));
    EXPECT_TRUE(gatherer.add(all, 300)) << "a timed packet drops the unfinished unit";
    EXPECT_EQ(gatherer.time(), 300);
    const Bytes tiny = {0, 2, 0, 0};
    EXPECT_FALSE(gatherer.add(tiny, 400));
    EXPECT_FALSE(gatherer.add(tiny, std::nullopt));
}

}  // namespace
}  // namespace tolvane
