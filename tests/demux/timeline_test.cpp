// The timeline against sources whose time stamps jump: what each packet's time becomes, and
// the seams reported.
#include <gtest/gtest.h>

#include <vector>

#include "demux/timeline.h"

namespace tolvane {
namespace {

constexpr int64_t kFrame = 3600;  // 25 fps
constexpr size_t V = 0;           // video 0
constexpr size_t A = 16;          // audio 0
constexpr size_t S = 32;          // subpicture 0

// One event of a source in file order: a packet's time stamp, or a navigation pack's VOB.
struct Event {
    size_t slot;  // or kVob
    uint64_t pts;
    int64_t expected;  // its time on the timeline (packets only)
    Timeline::Vob vob{};
};
constexpr size_t kVob = 99;

Event packet(size_t slot, uint64_t pts, int64_t expected) {
    return {slot, pts, expected};
}
Event vob(uint32_t number, uint32_t start, uint32_t end) {
    return {kVob, 0, 0, {number, start, end}};
}

struct Case {
    const char* name;
    std::vector<Event> events;
    std::vector<Seam::Cause> seams;
    int64_t vobTicks = 0;
    // The packets at which their stream's times jump: where a writer marks a discontinuity.
    std::vector<size_t> newParts = {};
};

TEST(Timeline, MakesEachSourcesTimeStampsRunOnAcrossWhereTheyJump) {
    const uint64_t top = (uint64_t{1} << 33) - 2 * kFrame;
    const Case cases[] = {
        {"continuous times are their own",
         {packet(A, 900, 900), packet(V, 1000, 1000),
          packet(V, 1000 + 3 * kFrame, 1000 + 3 * kFrame), packet(V, 1000 + kFrame, 1000 + kFrame),
          packet(A, 900 + 2880, 900 + 2880)},
         {}},
        {"the 33-bit wrap is no jump",
         {packet(V, top, top), packet(V, top + kFrame, top + kFrame),
          packet(V, 100, top + 2 * kFrame + 100)},
         {}},
        {"a second part from zero follows the first, the other streams join it",
         {packet(V, 90000, 90000), packet(V, 90000 + kFrame, 90000 + kFrame),
          packet(A, 89000, 89000), packet(S, 95000, 95000),
          // The new part: its audio comes first, its video a little later.
          packet(A, 1000, 90000 + 2 * kFrame), packet(V, 1500, 90000 + 2 * kFrame + 500),
          packet(S, 30000, 90000 + 2 * kFrame + 29000)},
         {Seam::Cause::TimeStamps},
         0,
         {4, 5, 6}},
        {"a jump on of more than a second is a seam; a subpicture's pause is none",
         {packet(V, 1000, 1000), packet(S, 1000, 1000), packet(S, 900000, 900000),
          packet(V, 1000 + kFrame, 1000 + kFrame), packet(V, 500000, 1000 + 2 * kFrame)},
         {Seam::Cause::TimeStamps},
         0,
         {4}},
        {"a new VOB that starts anew moves every stream at once",
         {vob(1, 1000, 1000 + 10 * kFrame), packet(V, 1000, 1000), packet(A, 900, 900),
          vob(2, 500, 500 + 5 * kFrame), packet(A, 400, 1000 + 10 * kFrame - 100),
          packet(V, 500, 1000 + 10 * kFrame)},
         {Seam::Cause::Navigation},
         15 * kFrame,
         {4, 5}},
        {"a VOB met again in the next cell is counted once; zero-filled packs say nothing",
         {vob(1, 1000, 1000 + 10 * kFrame), packet(V, 1000, 1000), vob(0, 0, 0),
          vob(1, 1000, 1000 + 10 * kFrame), vob(2, 1000 + 10 * kFrame, 1000 + 20 * kFrame),
          packet(V, 1000 + 10 * kFrame, 1000 + 10 * kFrame)},
         {},
         20 * kFrame},
        {"navigation times wrap at 32 bits",
         {vob(1, 0xFFFFFF00u, 0x100u), packet(V, 0xFFFFFF00u, 0xFFFFFF00), vob(2, 0x100u, 0x200u),
          packet(V, 0x100000100u, int64_t{0xFFFFFF00} + 0x200)},
         {},
         0x300},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Timeline timeline;
        std::vector<size_t> newParts;
        for (size_t k = 0; k < c.events.size(); ++k) {
            const Event& event = c.events[k];
            if (event.slot == kVob) {
                timeline.navigation(event.vob, k);
            } else {
                bool newPart = false;
                EXPECT_EQ(timeline.place(event.slot, event.pts, event.slot >= S, k, &newPart),
                          event.expected)
                    << "event " << k;
                if (newPart) {
                    newParts.push_back(k);
                }
            }
        }
        EXPECT_EQ(newParts, c.newParts);
        std::vector<Seam::Cause> causes;
        for (const Seam& seam : timeline.seams()) {
            causes.push_back(seam.cause);
        }
        EXPECT_EQ(causes, c.seams);
        int64_t ticks = 0;
        for (const int64_t vobTicks : timeline.vobTicks()) {
            ticks += vobTicks;
        }
        EXPECT_EQ(ticks, c.vobTicks);
    }
}

TEST(Timeline, KeepsItsMemoryWhateverTheSourceDoes) {
    // Every packet jumps: the list stops growing, the count goes on.
    Timeline timeline;
    int64_t last = 0;
    for (uint64_t k = 0; k < 3000; ++k) {
        const int64_t time = timeline.place(V, (k % 2) * 9000000, false, 0);
        if (k > 0) {
            EXPECT_GE(time, last);
        }
        last = time;
    }
    EXPECT_EQ(timeline.seams().size(), Timeline::kListedSeams);
    EXPECT_EQ(timeline.unlistedSeams(), 2999 - static_cast<int64_t>(Timeline::kListedSeams));
    for (uint32_t k = 0; k < 70000; ++k) {
        timeline.navigation({k, k * 10, k * 10 + 5}, 0);
    }
    EXPECT_LE(timeline.vobTicks().size(), 65536u);
}

}  // namespace
}  // namespace tolvane
