#include "format/hd_subpicture.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "format/pgs_display_set.h"
#include "program_stream_builder.h"

namespace tolvane {
namespace {

using Bytes = std::vector<uint8_t>;

uint32_t be32(const Bytes& bytes, size_t at) {
    return static_cast<uint32_t>(bytes[at] << 24 | bytes[at + 1] << 16 | bytes[at + 2] << 8 |
                                 bytes[at + 3]);
}

void putBe32(Bytes& bytes, size_t at, uint32_t value) {
    for (size_t k = 0; k < 4; ++k) {
        bytes[at + k] = static_cast<uint8_t>(value >> (24 - 8 * k));
    }
}

// Where the sample unit's commands lie: its first sequence, the area command after the palette
// and contrasts, its six bytes, then the field offsets' command.
size_t firstSequence(const Bytes& unit) {
    return be32(unit, 6);
}
size_t areaCommand(const Bytes& unit) {
    return firstSequence(unit) + 6 + 2 + 768 + 1 + 256;
}

// The sample unit, whole and damaged as a hostile disc or a cut file leaves it.
TEST(HdSubpicture, DecodesBothFieldsAndSaysWhyADamagedUnitCannotBeShown) {
    struct Case {
        const char* what;
        std::function<void(Bytes&)> damage;
        std::optional<std::string> failure;
    };
    const Case cases[] = {
        {"whole", [](Bytes&) {}, std::nullopt},
        {"a DVD unit", [](Bytes& u) { u[1] = 0x10; }, "it is no HD DVD subpicture"},
        {"an area past the frame's right edge",
         [](Bytes& u) { u[areaCommand(u) + 2] = 0xFF, u[areaCommand(u) + 3] = 0xF0; },
         "its area lies outside the 1920x1080 frame"},
        {"an area that ends before it starts",
         [](Bytes& u) { u[areaCommand(u) + 5] = 0x40, u[areaCommand(u) + 6] = 0x00; },
         "its area is empty"},
        {"the bottom field's offset past the unit",
         [](Bytes& u) { putBe32(u, areaCommand(u) + 7 + 5, static_cast<uint32_t>(u.size())); },
         "its pixels lie outside it"},
        {"the bottom field starting at the control table",
         [](Bytes& u) { putBe32(u, areaCommand(u) + 7 + 5, static_cast<uint32_t>(u.size() - 4)); },
         "its lines run past its end"},
        {"a command no unit has before the area", [](Bytes& u) { u[areaCommand(u)] = 0x99; },
         "it sets no area"},
        {"no palette", [](Bytes& u) { u[firstSequence(u) + 7] = 0x09; }, "it sets no area"},
        {"a control table past the unit", [](Bytes& u) { putBe32(u, 6, 0xFFFFFFF0); },
         "it sets no area"},
    };
    HdSubpicture picture;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes unit = fixture::hdSubpictureUnit(2);
        c.damage(unit);
        EXPECT_EQ(decodeHdSubpicture(unit, picture), c.failure);
    }
    const Bytes unit = fixture::hdSubpictureUnit(2);
    ASSERT_EQ(decodeHdSubpicture(unit, picture), std::nullopt);
    EXPECT_EQ(picture.x, 760);
    EXPECT_EQ(picture.y, 900);
    EXPECT_EQ(picture.width, 200);
    EXPECT_EQ(picture.height, 40);
    EXPECT_EQ(picture.stop, int64_t{132} * 1024);
    // The top field's lines fill in 32, the bottom field's in 33; single 8-bit pixels; the
    // transparent rest of the line.
    for (const auto [x, y, index] :
         {std::array{0, 0, 1}, std::array{16, 0, 4}, std::array{19, 0, 7}, std::array{20, 0, 32},
          std::array{20, 1, 33}, std::array{140, 38, 2}, std::array{150, 5, 202},
          std::array{199, 39, 0}}) {
        EXPECT_EQ(picture.pixels[static_cast<size_t>(y * 200 + x)], index) << x << "," << y;
    }
    EXPECT_EQ(picture.opacity[0], 0);
    EXPECT_EQ(picture.opacity[2], 0x7F);
    EXPECT_FALSE(picture.forced);
}

// Display sets come out in time order: a unit shown before the one on screen goes clears
// nothing, as it replaces it; the last clear waits for the end; a forced-only stream keeps
// only the forced units.
TEST(HdSubpicture, PgsSetsComeInTimeOrderAndANewUnitReplacesTheOneShown) {
    const auto packet = [](const Bytes& unit) { return std::span<const uint8_t>(unit); };
    const Bytes forced = fixture::hdSubpictureUnit(1, true);
    EXPECT_TRUE(forcedSubpicture(forced));
    const Bytes plain = fixture::hdSubpictureUnit(1);
    EXPECT_FALSE(forcedSubpicture(plain));
    const int64_t stop = int64_t{132} * 1024;

    for (const bool forcedOnly : {false, true}) {
        SCOPED_TRACE(forcedOnly);
        PgsConverter converter(forcedOnly);
        std::vector<int64_t> times;
        std::vector<size_t> objects;
        const auto take = [&](std::span<const PgsDisplaySet> sets) {
            for (const PgsDisplaySet& set : sets) {
                times.push_back(set.time);
                objects.push_back(set.segments.at(3 + 10));  // the presentation's object count
            }
        };
        take(converter.add(packet(forced), 0));
        take(converter.add(packet(plain), 90000));  // before the first goes at 1.5 s
        take(converter.add(packet(forced), 400000));
        take(converter.finish());
        EXPECT_EQ(converter.failure(), std::nullopt);
        if (forcedOnly) {
            EXPECT_EQ(times, (std::vector<int64_t>{0, stop, 400000, 400000 + stop}));
        } else {
            EXPECT_EQ(times, (std::vector<int64_t>{0, 90000, 90000 + stop, 400000, 400000 + stop}));
        }
        for (size_t k = 0; k < objects.size(); ++k) {
            EXPECT_EQ(objects[k], times[k] % 90000 == 0 || times[k] == 400000 ? 1U : 0U) << k;
        }
    }

    // A unit cut off is no set; the next timed packet starts anew.
    PgsConverter converter;
    EXPECT_TRUE(converter.add(packet(plain).first(100), 0).empty());
    EXPECT_EQ(converter.add(packet(plain), 9000).size(), 1U);
}

}  // namespace
}  // namespace tolvane
