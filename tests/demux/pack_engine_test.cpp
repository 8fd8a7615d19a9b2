#include <gtest/gtest.h>

#include <csignal>

#include "core/platform_error.h"
#include "core/stop_signal.h"
#include "pass_runner.h"

namespace tolvane {
namespace {

using fixture::Bytes;
using fixture::PassRunner;
using fixture::ProgramStreamBuilder;

constexpr double kSecond = 1.0 / 86400.0;

Bytes videoPacket(uint8_t streamId) {
    return fixture::pesPacket(streamId, {}, Bytes(100, 0x33));
}

TEST(PackEngine, ShowsProgressEveryFourMebibytesWithTheRemainingTime) {
    Bytes stream(16 * kMebibyte, 0xFF);
    PassRunner runner;
    runner.os.clockStep = 10 * kSecond;  // ten seconds pass between two readings of the clock
    std::vector<std::string> shown;
    runner.os.onEvents = [&] { shown.push_back(runner.log.panel(StatusPanel::Progress).text); };
    runner.run(stream);

    ASSERT_EQ(shown.size(), 4u);
    // elapsed * size / position - elapsed + one second
    EXPECT_EQ(shown[0], " 4/16 Mbytes, Remaining time: 0:00:31");
    EXPECT_EQ(shown[1], " 8/16 Mbytes, Remaining time: 0:00:21");
    EXPECT_EQ(shown[3], " 16/16 Mbytes, Remaining time: 0:00:01");
    EXPECT_EQ(runner.log.hint(), "16/16 Mbytes, Remaining time: 0:00:01");
    EXPECT_EQ(runner.os.eventRounds, 4);
}

TEST(PackEngine, WritesTheRemainingTimeWithTheLocaleTimeSeparator) {
    PassRunner runner;
    runner.log.setLocale(LocaleSettings{.timeSeparator = '.'});
    runner.os.clockStep = 3725 * kSecond;
    runner.run(Bytes(8 * kMebibyte, 0xFF));
    EXPECT_EQ(runner.log.hint(), "8/8 Mbytes, Remaining time: 0.00.01");
    runner.os.clockStep = 3725 * kSecond;
    runner.run(Bytes(12 * kMebibyte, 0xFF));
    EXPECT_EQ(runner.os.eventRounds, 5);
}

TEST(PackEngine, ReadsASmallFileInOneBlockWithoutProgressOrSystemHeader) {
    ProgramStreamBuilder ps;
    ps.systemPack(2, 1, {fixture::pesPacket(0xE0, {}, Bytes(10, 1))});
    PassRunner runner;
    runner.run(ps.bytes());
    EXPECT_EQ(runner.hooks.systemHeaders, 0);
    EXPECT_EQ(runner.os.eventRounds, 0);
    EXPECT_EQ(runner.log.panel(StatusPanel::Progress).text, " Select or drop an EVO file to demux");
    EXPECT_EQ(numberedStream(runner.streams(), StreamKind::Video, 0).id, 0xE0);
}

TEST(PackEngine, TakesTheStreamBoundsFromASystemHeaderInTheFirstFullBlock) {
    ProgramStreamBuilder ps;
    ps.systemPack(6, 1, {}).fillTo(kBlockSize);
    PassRunner runner;
    runner.run(ps.bytes());
    EXPECT_EQ(runner.hooks.systemHeaders, 1);
    EXPECT_EQ(runner.hooks.audioBound, 6);
    EXPECT_EQ(runner.hooks.videoBound, 1);

    PassRunner demux;
    demux.run(ps.bytes(), PassMode::Demux);
    EXPECT_EQ(demux.hooks.systemHeaders, 0);
}

TEST(PackEngine, StopsAfterTheBlockThatPassesTheFastCheckLimit) {
    ProgramStreamBuilder ps;
    ps.fillTo(kMebibyte + 1000).pack({videoPacket(0xE0)});
    ps.fillTo(3 * kMebibyte).pack({videoPacket(0xE1)}).fillTo(4 * kMebibyte);
    PassRunner runner;
    runner.hooks.limit = kMebibyte;
    runner.run(ps.bytes());
    // 1 MiB is not past the limit; the block that ends at 1.25 MiB is, and is still scanned.
    EXPECT_EQ(runner.job().source->position(), static_cast<int64_t>(kMebibyte + kBlockSize));
    EXPECT_EQ(runner.job().countStoppedAt, kMebibyte);
    EXPECT_EQ(numberedStream(runner.streams(), StreamKind::Video, 0).id, 0xE0);
    EXPECT_EQ(numberedStream(runner.streams(), StreamKind::Video, 1).id, kStreamAbsent);

    PassRunner demux;
    demux.hooks.limit = kMebibyte;
    demux.run(ps.bytes(), PassMode::Demux);
    EXPECT_EQ(demux.job().source->position(), static_cast<int64_t>(ps.size()));
}

TEST(PackEngine, StopsAfterTheBlockInWhichTheUserCancelled) {
    Bytes stream(12 * kMebibyte, 0xFF);
    PassRunner runner;
    numberedStream(runner.streams(), StreamKind::Video, 0).frameCount = 7;
    numberedStream(runner.streams(), StreamKind::Video, 1).frameCount = 8;
    runner.os.onEvents = [&] { runner.job().control.cancelled = true; };
    runner.run(stream);
    EXPECT_EQ(runner.job().source->position(), 4 * kMebibyte);
    EXPECT_EQ(numberedStream(runner.streams(), StreamKind::Video, 0).frameCount, 0);
    EXPECT_EQ(numberedStream(runner.streams(), StreamKind::Video, 1).frameCount, 0);
}

// A console's signal handler sets the stop signal, whenever it comes: one before the pass
// stops it before its first block, one during it after the block it came in.
TEST(PackEngine, AStopSignalCancelsThePassWhenEverItCame) {
    for (const bool before : {true, false}) {
        PassRunner runner;
        if (before) {
            stopSignal = SIGINT;
        } else {
            runner.os.onEvents = [] { stopSignal = SIGTERM; };
        }
        runner.run(Bytes(12 * kMebibyte, 0xFF));
        stopSignal = 0;
        EXPECT_TRUE(runner.job().control.cancelled) << before;
        EXPECT_EQ(runner.job().source->position(), before ? 0 : 4 * kMebibyte) << before;
    }
}

TEST(PackEngine, StartsEveryPassFromAFreshTableButKeepsTheJobsCounters) {
    PassRunner runner;
    numberedStream(runner.streams(), StreamKind::Video, 1).id = 0xE0;
    numberedStream(runner.streams(), StreamKind::Audio, 3).id = 1;
    numberedStream(runner.streams(), StreamKind::Video, 0).frameCount = 12;
    numberedStream(runner.streams(), StreamKind::Audio, 4).reported = true;
    runner.job().minPts = 77;
    runner.run(Bytes(100, 0xFF), PassMode::Demux);
    EXPECT_EQ(numberedStream(runner.streams(), StreamKind::Video, 1).id, kStreamAbsent);
    EXPECT_EQ(numberedStream(runner.streams(), StreamKind::Audio, 3).id, kStreamAbsent);
    EXPECT_FALSE(numberedStream(runner.streams(), StreamKind::Audio, 4).reported);
    EXPECT_EQ(numberedStream(runner.streams(), StreamKind::Video, 0).frameCount, 12);
    EXPECT_EQ(runner.job().minPts, 77u);
    EXPECT_TRUE(runner.job().control.writing);
    runner.run(Bytes(100, 0xFF), PassMode::Detection);
    EXPECT_FALSE(runner.job().control.writing);
}

TEST(PackEngine, ScansFromTheSourcesCurrentPosition) {
    ProgramStreamBuilder ps;
    ps.pack({fixture::pesPacket(0xE0, {}, Bytes(10, 1))});
    ps.pack({fixture::pesPacket(0xE1, {}, Bytes(10, 1))});
    PassRunner runner;
    runner.job().source =
        SpanSource::single("x.EVO", std::make_unique<fixture::MemorySource>(ps.bytes()));
    runner.job().source->seek(fixture::kPackSize);
    PackEngine(*runner.state, runner.os, runner.log).demux(PassMode::Detection, runner.hooks);
    EXPECT_EQ(numberedStream(runner.streams(), StreamKind::Video, 0).id, kStreamAbsent);
    EXPECT_EQ(numberedStream(runner.streams(), StreamKind::Video, 1).id, 0xE1);
}

TEST(PackEngine, PassesAReadErrorOnToTheJob) {
    PassRunner runner;
    runner.job().source = SpanSource::single(
        "x.EVO", std::make_unique<fixture::FailingSource>(Bytes(3 * kBlockSize, 0xFF),
                                                          static_cast<int64_t>(kBlockSize)));
    PackEngine engine(*runner.state, runner.os, runner.log);
    EXPECT_THROW(engine.demux(PassMode::Detection, runner.hooks), PlatformError);
}

TEST(PackEngine, ReadsTheSpansOfASourceOneAfterAnotherEachAsAFileOfItsOwn) {
    // Span 0 takes a file from its second pack on; the fast check ends it after the block past
    // 1 MiB, before its last pack. Span 1 is a whole file; span 2 an empty one.
    ProgramStreamBuilder first;
    first.pack({videoPacket(0xE1)}).pack({videoPacket(0xE0)}).fillTo(2 * kMebibyte);
    first.pack({videoPacket(0xE1)});
    ProgramStreamBuilder second;
    second.pack({videoPacket(0xE0)});
    std::vector<SourceSpan> spans;
    spans.push_back(
        {"A.EVO", std::make_unique<fixture::MemorySource>(first.bytes()), fixture::kPackSize, -1});
    spans.push_back({"B.EVO", std::make_unique<fixture::MemorySource>(second.bytes())});
    spans.push_back({"C.EVO", std::make_unique<fixture::MemorySource>(Bytes{})});
    PassRunner runner;
    runner.hooks.limit = kMebibyte;
    runner.job().source = std::make_unique<SpanSource>(std::move(spans));
    SpanSource& source = *runner.job().source;
    ASSERT_EQ(source.size(), static_cast<int64_t>(first.size() + second.size()) - 2048);
    EXPECT_EQ(source.spanStart(1), static_cast<int64_t>(first.size()) - 2048);
    EXPECT_EQ(source.fileRange(0, 5).offset, 2048 + 5);

    std::vector<std::string> told;
    PackEngine::SpanEvents events;
    events.starting = [&](size_t span) { told.push_back("start " + std::to_string(span)); };
    events.ended = [&](size_t span, bool packs) {
        told.push_back("end " + std::to_string(span) + (packs ? " packs" : " none"));
    };
    PackEngine(*runner.state, runner.os, runner.log)
        .demux(PassMode::Detection, runner.hooks, events);
    EXPECT_EQ(told, (std::vector<std::string>{"end 0 packs", "start 1", "end 1 packs", "start 2",
                                              "end 2 none"}));
    // Each span registers its streams anew; the one before span 0 and the one past its limit
    // are never seen.
    ASSERT_EQ(runner.hooks.registrations.size(), 2u);
    EXPECT_EQ(runner.hooks.registrations[0].idByte, 0xE0);
    EXPECT_EQ(runner.hooks.registrations[1].idByte, 0xE0);
    EXPECT_EQ(runner.job().countStoppedAt, kMebibyte);
    EXPECT_EQ(source.position(), source.size());

    // A read never crosses into the next span, which reads from its own offset.
    Bytes block(kBlockSize);
    source.seek(source.spanStart(1) - 10);
    EXPECT_EQ(source.read(block.data(), block.size()), 10u);
    EXPECT_EQ(source.read(block.data(), 4), 4u);
    EXPECT_EQ(Bytes(block.begin(), block.begin() + 4),
              Bytes(second.bytes().begin(), second.bytes().begin() + 4));
}

}  // namespace
}  // namespace tolvane
