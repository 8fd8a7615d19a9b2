#include <gtest/gtest.h>

#include "pass_runner.h"
#include "sinks/demux_pass.h"

namespace tolvane {
namespace {

using fixture::Bytes;
using fixture::MemorySink;
using fixture::PesHeader;
using fixture::ProgramStreamBuilder;

Bytes filled(size_t size, uint8_t seed) {
    Bytes data(size);
    for (size_t k = 0; k < size; ++k) {
        data[k] = static_cast<uint8_t>(seed + k * 7);
    }
    return data;
}

Bytes joined(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

// A demux pass over a stream in memory, with memory outputs for the streams asked for.
struct DemuxRun {
    fixture::PassRunner runner;
    fixture::FixedOptions options;
    std::array<MemorySink, 2> video;
    std::array<MemorySink, 16> audio;
    std::array<MemorySink, 32> sub;

    DemuxRun() { runner.job().minPts = 0xFFFFFFFFu; }
    // A box for stream `id` under number `n`; an announced box takes the first coding met.
    void box(StreamKind kind, int n, int32_t id = kStreamAnnounced) {
        runner.streams().pin(kind, n, id);
    }
    void withVideo(int n, int32_t id = kStreamAnnounced) {
        box(StreamKind::Video, n, id);
        numberedStream(runner.streams(), StreamKind::Video, n).out = &video[static_cast<size_t>(n)];
    }
    void withAudio(int n, int32_t id = kStreamAnnounced) {
        box(StreamKind::Audio, n, id);
        numberedStream(runner.streams(), StreamKind::Audio, n).out = &audio[static_cast<size_t>(n)];
    }
    void withSub(int n, int32_t id = kStreamAnnounced) {
        box(StreamKind::Subpicture, n, id);
        numberedStream(runner.streams(), StreamKind::Subpicture, n).out = &sub[static_cast<size_t>(n)];
    }
    std::vector<std::string> logText() const {
        std::vector<std::string> lines;
        for (const LogLine& line : runner.log.lines()) {
            lines.push_back(line.text);
        }
        return lines;
    }
    void run(const Bytes& stream) {
        DemuxPass pass(*runner.state, runner.log, options);
        runner.job().source =
            SpanSource::single("x.EVO", std::make_unique<fixture::MemorySource>(stream));
        PackEngine(*runner.state, runner.os, runner.log).demux(PassMode::Demux, pass);
    }
};

TEST(DemuxPass, WritesEachCodingsPayloadWithoutAnyHeaderByte) {
    struct Case {
        uint8_t subId;
        int number;
    };
    const Bytes tail(6, 0xEE);  // sub-stream header bytes that must not reach the output
    for (const Case c :
         {Case{0x81, 1}, Case{0x89, 1}, Case{0xC2, 2}, Case{0xA3, 3}, Case{0xB4, 4}}) {
        SCOPED_TRACE(testing::Message() << std::hex << int{c.subId});
        const Bytes a = filled(700, 1);
        const Bytes b = filled(1500, 2);
        ProgramStreamBuilder ps;
        ps.pack({fixture::privateStream1Packet(c.subId, {.pts = 9000}, a, tail)});
        ps.pack({fixture::privateStream1Packet(c.subId, {}, b, tail)});
        DemuxRun run;
        run.withAudio(c.number);
        run.run(ps.bytes());
        EXPECT_EQ(run.audio[static_cast<size_t>(c.number)].bytes, joined({a, b}));
    }

    const Bytes v1 = filled(1900, 3);
    const Bytes v2 = filled(333, 4);
    ProgramStreamBuilder video;
    video.pack({fixture::pesPacket(0xE3, {.pts = 1, .dts = 1}, v1)});
    video.pack(
        {fixture::pesPacket(0xFD, {.pts = 1, .pstdBuffer = true, .streamIdExtension = 0x55}, v2)});
    video.pack({fixture::pesPacket(0xE3, {}, v2)});
    video.pack({fixture::pesPacket(0xFD, {.streamIdExtension = 0x55}, v1)});
    DemuxRun run;
    run.withVideo(0);
    run.withVideo(1);
    run.run(video.bytes());
    EXPECT_EQ(run.video[1].bytes, joined({v1, v2}));
    EXPECT_EQ(run.video[0].bytes, joined({v2, v1})) << "VC-1 without its PES extension";
}

TEST(DemuxPass, WritesOnlyTheCodingOfEachBoxAndNamesEveryStreamLeftOut) {
    const Bytes ac3 = filled(500, 5);
    ProgramStreamBuilder ps;
    ps.pack({fixture::privateStream1Packet(0x88, {}, filled(400, 6))});
    ps.pack({fixture::privateStream1Packet(0x80, {}, ac3)});
    ps.pack({fixture::pesPacket(0xC0, {.pts = 5}, filled(300, 7))});
    ps.pack({fixture::privateStream1Packet(0x80, {}, ac3)});
    ps.pack({fixture::privateStream1Packet(0x88, {}, filled(400, 6))});
    ps.pack({fixture::pesPacket(0xE0, {}, filled(200, 8))});
    ps.pack({fixture::pesPacket(0xFD, {.streamIdExtension = 0x55}, filled(100, 9))});
    ps.pack({fixture::privateStream1Packet(0x8B, {}, filled(100, 9))});
    ps.pack({fixture::privateStream1Packet(0x83, {}, filled(100, 9))});
    DemuxRun run;
    run.withAudio(0, 0x80);               // DTS 0x88 was met first in this file, AC-3 has the box
    run.withVideo(0);                     // announced: MPEG-2, met first, pins it
    run.box(StreamKind::Audio, 3, 0x83);  // a box left unticked: nothing to say
    run.run(ps.bytes());
    EXPECT_EQ(run.audio[0].bytes, joined({ac3, ac3}));
    EXPECT_EQ(run.video[0].bytes, filled(200, 8));
    EXPECT_EQ(run.logText(), (std::vector<std::string>{
                                 "Audio stream 0x88 has no stream box: not written.",
                                 "MPEG audio stream 0xC0 has no stream box: not written.",
                                 "Video stream 0x55 has no stream box: not written.",
                                 "Audio stream 0x8B has no stream box: not written.",
                             }));
}

TEST(DemuxPass, WrapsSubpictureUnitsInSupRecords) {
    const Bytes a = filled(1800, 10);
    const Bytes b = filled(1800, 11);
    const Bytes c = filled(90, 12);
    const Bytes d = filled(50, 13);
    const Bytes e = filled(60, 14);
    ProgramStreamBuilder ps;
    ps.pack({fixture::privateStream1Packet(0x25, {.pts = 0x1000}, d)});  // PTS equal to minPts
    ps.pack({fixture::privateStream1Packet(0x25, {.pts = 0x10000}, a)});
    ps.pack({fixture::privateStream1Packet(0x25, {}, b)});
    ps.pack({fixture::privateStream1Packet(0x65, {}, c)});  // extended subpicture 5: not ours
    ps.pack({fixture::privateStream1Packet(0x25, {}, c)});
    ps.pack({fixture::privateStream1Packet(0x26, {.pts = 0x20000}, e)});
    ps.pack({fixture::privateStream1Packet(0x26, {.pts = 0x800}, e)});  // before minPts: wraps
    DemuxRun run;
    run.runner.job().minPts = 0x1000;
    run.withSub(5, 0x25);
    run.withSub(6, 0x26);
    run.run(ps.bytes());
    // A subtitle that starts with the programme has relative PTS 0: its unit is a record too.
    const Bytes header0 = {'S', 'P', 0x00, 0x00, 0x00, 0x00, 0, 0, 0, 0};
    const Bytes header5 = {'S', 'P', 0x00, 0xF0, 0x00, 0x00, 0, 0, 0, 0};
    EXPECT_EQ(run.sub[5].bytes, joined({header0, d, header5, a, b, c}));
    const Bytes header6 = {'S', 'P', 0x00, 0xF0, 0x01, 0x00, 0, 0, 0, 0};
    const Bytes wrapped = {'S', 'P', 0x00, 0xF8, 0xFF, 0xFF, 0, 0, 0, 0};
    EXPECT_EQ(run.sub[6].bytes, joined({header6, e, wrapped, e}));

    // Without details the read job leaves minPts at its reset: each PTS goes up by one.
    DemuxRun noDetails;
    noDetails.withSub(6);
    noDetails.run(ps.bytes());
    const Bytes plusOne = {'S', 'P', 0x01, 0x00, 0x02, 0x00, 0, 0, 0, 0};
    const Bytes smallPlusOne = {'S', 'P', 0x01, 0x08, 0x00, 0x00, 0, 0, 0, 0};
    EXPECT_EQ(noDetails.sub[6].bytes, joined({plusOne, e, smallPlusOne, e}));
}

TEST(DemuxPass, CountsTheFramesOfWrittenVideoOnlyAndReportsCopyControl) {
    const Bytes frames = {0x00, 0x00, 0x01, 0x00, 0x11, 0x00, 0x00, 0x01, 0x00, 0x22};
    ProgramStreamBuilder ps;
    ps.pack({fixture::copyControlPacket({.scrambling = 0x40}),
             fixture::dsiPacket({.startPtm = 0, .endPtm = 900000})});
    ps.pack({fixture::pesPacket(0xE0, {}, frames), fixture::pesPacket(0xE1, {}, frames)});
    DemuxRun run;
    run.box(StreamKind::Video, 0, 0xE0);
    run.withVideo(1);
    run.run(ps.bytes());
    EXPECT_EQ(numberedStream(run.runner.streams(), StreamKind::Video, 0).frameCount, 0);
    EXPECT_EQ(numberedStream(run.runner.streams(), StreamKind::Video, 1).frameCount, 2);
    EXPECT_EQ(run.runner.job().totalSeconds, 10.0);
    ASSERT_EQ(run.runner.log.lines().size(), 1u);
    EXPECT_EQ(run.runner.log.lines()[0].text,
              "This file is ENCRYPTED! Decrypt it before any process.");
}

TEST(DemuxPass, AFailingAppendLeavesThePassAtOnce) {
    ProgramStreamBuilder ps;
    for (int k = 0; k < 4; ++k) {
        ps.pack({fixture::privateStream1Packet(0x80, {}, filled(1000, 1))});
    }
    DemuxRun run;
    run.withAudio(0);
    run.audio[0].failAfter = 2500;
    EXPECT_THROW(run.run(ps.bytes()), PlatformError);
    EXPECT_EQ(run.audio[0].bytes.size(), 2000u);
}

}  // namespace
}  // namespace tolvane
