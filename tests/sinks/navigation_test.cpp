#include <gtest/gtest.h>

#include "pass_runner.h"
#include "sinks/navigation.h"

namespace tolvane {
namespace {

using fixture::Bytes;
using fixture::ProgramStreamBuilder;

// Runs the navigation analyses as a pass would, logging into the runner's message log.
class NavigationHooks : public PassHooks {
public:
    NavigationHooks(JobRecords& state, Reporter& reporter, bool detection, bool vob)
        : context_{state, reporter, detection, vob ? SourceKind::DvdFile : SourceKind::HdDvdFile} {}
    void copyControlPacket(size_t offset, ScanState& scan) override {
        analyseCopyControl(context_, offset, scan);
    }
    void dsiPacket(size_t offset, ScanState& scan) override { analyseDsi(context_, offset, scan); }

private:
    NavigationContext context_;
};

std::vector<std::string> run(fixture::PassRunner& runner, const Bytes& stream,
                             bool detection = true, bool vob = false) {
    NavigationHooks hooks(*runner.state, runner.log, detection, vob);
    runner.job().source =
        SpanSource::single("x.EVO", std::make_unique<fixture::MemorySource>(stream));
    PackEngine(*runner.state, runner.os, runner.log)
        .demux(detection ? PassMode::Detection : PassMode::Demux, hooks);
    std::vector<std::string> lines;
    for (const LogLine& line : runner.log.lines()) {
        lines.push_back(line.markup);
    }
    return lines;
}

TEST(Navigation, ReportsTheCopyControlStateInBothPasses) {
    ProgramStreamBuilder ps;
    ps.pack({fixture::copyControlPacket({.scrambling = 0x80, .applies = 0xF0, .codes = 0xBB})});
    const std::vector<std::string> expected = {
        "[b]This file is ENCRYPTED![/b] Decrypt it before any process.",
        "[b]Copy Never[/b]",
        "[b]APS2 is ON[/b]",
        "[b]ICT on, constrained analog output[/b]",
        "[b]DOT on, analog output not allowed[/b]",
    };
    fixture::PassRunner detection;
    EXPECT_EQ(run(detection, ps.bytes()), expected);
    fixture::PassRunner demux;
    EXPECT_EQ(run(demux, ps.bytes(), false), expected);

    ProgramStreamBuilder empty;
    empty.pack({fixture::copyControlPacket({.applies = 0xC0, .codes = 0x30})});
    fixture::PassRunner runner;
    // Copy-generation code 1 and protection code 4 have empty texts.
    EXPECT_EQ(run(runner, empty.bytes()), (std::vector<std::string>{"[b][/b]", "[b][/b]"}));
}

TEST(Navigation, SumsThePlayingTimeWrappingWhenTheEndLiesBeforeTheStart) {
    ProgramStreamBuilder ps;
    ps.pack({fixture::dsiPacket({.vobNumber = 9, .startPtm = 0xFFFFFFF0u, .endPtm = 0x10})});
    fixture::PassRunner runner;
    runner.job().firstPtm = 0;
    const std::vector<std::string> lines = run(runner, ps.bytes());
    EXPECT_EQ(runner.job().totalSeconds, 32 / 90000.0);
    EXPECT_EQ(runner.job().firstPtm, 0xFFFFFFF0u);
    EXPECT_EQ(runner.job().lastPtm, 0x10u);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "VOB number 9 contains [b]0[/b] video and [b]0[/b] audio stream.");
    EXPECT_EQ(lines[1], "PTM of first video frame = [re]FFFFFFF0[/re]");
    EXPECT_EQ(lines[3], "Duration = [b]0:00:00.000[/b]");

    // The demux pass updates the times silently and keeps the first start.
    fixture::PassRunner demux;
    demux.job().firstPtm = 5;
    EXPECT_TRUE(run(demux, ps.bytes(), false).empty());
    EXPECT_EQ(demux.job().firstPtm, 5u);
    EXPECT_EQ(demux.job().lastPtm, 0x10u);
}

// What a muxer that only reserves the packs writes (ffmpeg's: zero-filled) gives no VOB number
// and no times, said once; a VOB number without times gives its line and no times.
TEST(Navigation, ZeroFilledPacksGiveNoNumberAndNoTimes) {
    ProgramStreamBuilder zero;
    zero.pack({fixture::dsiPacket({.vobNumber = 0, .startPtm = 0, .endPtm = 0})});
    zero.pack({fixture::dsiPacket({.vobNumber = 0, .startPtm = 0, .endPtm = 0})});
    fixture::PassRunner runner;
    EXPECT_EQ(run(runner, zero.bytes()),
              (std::vector<std::string>{"The navigation packs carry no VOB number and no times."}));
    EXPECT_FALSE(runner.job().ptmKnown);
    EXPECT_FALSE(runner.job().firstVobNumber.has_value());

    ProgramStreamBuilder numbered;
    numbered.pack({fixture::dsiPacket({.vobNumber = 2, .startPtm = 0, .endPtm = 0})});
    fixture::PassRunner second;
    EXPECT_EQ(
        run(second, numbered.bytes()),
        (std::vector<std::string>{"VOB number 2 contains [b]0[/b] video and [b]0[/b] audio stream.",
                                  "The navigation packs carry no times."}));
    EXPECT_FALSE(second.job().ptmKnown);
}

TEST(Navigation, PassesOverPacketsThatAreNotWhollyInsideTheBlock) {
    // Navigation packets that run past the end of their block.
    const Bytes dsi = fixture::dsiPacket({.vobNumber = 3, .startPtm = 0, .endPtm = 90000});
    const Bytes control = fixture::copyControlPacket({.scrambling = 0xC0});
    ProgramStreamBuilder ps;
    ps.fillTo(kBlockSize - 20).raw(control).fillTo(2 * kBlockSize - 500).raw(dsi);
    ps.fillTo(3 * kBlockSize);
    fixture::PassRunner runner;
    EXPECT_TRUE(run(runner, ps.bytes()).empty());
    // The VOB's times lie inside the block: the running time takes them.
    EXPECT_EQ(runner.job().totalSeconds, 1.0);

    // A packet too short for the fields read is passed over as well.
    ProgramStreamBuilder shortPackets;
    shortPackets.pack({fixture::privateStream2Packet(0x01, Bytes(100, 0xFF)),
                       fixture::privateStream2Packet(0x04, Bytes(10, 0xFF))});
    fixture::PassRunner second;
    EXPECT_TRUE(run(second, shortPackets.bytes()).empty());
}

}  // namespace
}  // namespace tolvane
