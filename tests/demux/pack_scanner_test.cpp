#include <gtest/gtest.h>

#include <optional>

#include <numeric>

#include "demux/pack_scanner.h"
#include "pass_runner.h"

namespace tolvane {
namespace {

using fixture::Bytes;
using fixture::PassRunner;
using fixture::PesHeader;
using fixture::ProgramStreamBuilder;
using fixture::RecordingHooks;

Bytes counting(size_t size, uint8_t start = 0x10) {
    Bytes data(size);
    std::iota(data.begin(), data.end(), start);
    return data;
}

TEST(PackScanner, HandsOverEachCodingsPayloadFromWhereItStarts) {
    struct Case {
        uint8_t subId;
        StreamKind kind;
        int32_t number;
    };
    const Case cases[] = {
        {0x21, StreamKind::Subpicture, 1}, {0x62, StreamKind::Subpicture, 2},
        {0x81, StreamKind::Audio, 1},      {0x8D, StreamKind::Audio, 5},
        {0xA2, StreamKind::Audio, 2},      {0xB3, StreamKind::Audio, 3},
        {0xCC, StreamKind::Audio, 12},
    };
    // Discs start many packets with the P-STD buffer field after the PTS, or without one.
    const PesHeader headers[] = {{.pts = 1000},
                                 {.pts = 1000, .pstdBuffer = true},
                                 {.pts = 1000, .dts = 900, .pstdBuffer = true},
                                 {.pstdBuffer = true}};
    for (const Case& c : cases) {
        for (const PesHeader& header : headers) {
            SCOPED_TRACE(testing::Message()
                         << "sub-stream id 0x" << std::hex << int{c.subId}
                         << (header.pts ? " PTS" : "") << (header.pstdBuffer ? " P-STD" : ""));
            const Bytes payload = counting(100, c.subId);
            // Header bytes of the coding that must not show up in the payload.
            const Bytes tail = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
            ProgramStreamBuilder ps;
            ps.pack({fixture::privateStream1Packet(c.subId, header, payload, tail)});
            PassRunner runner;
            runner.run(ps.bytes());

            ASSERT_EQ(runner.hooks.chunks.size(), 1u);
            EXPECT_EQ(runner.hooks.chunks[0].kind, c.kind);
            EXPECT_EQ(runner.hooks.chunks[0].number, c.number);
            EXPECT_EQ(runner.hooks.chunks[0].data, payload);
            ASSERT_EQ(runner.hooks.registrations.size(), 1u);
            EXPECT_EQ(runner.hooks.registrations[0].idByte, c.subId);
        }
    }
}

// Hooks that keep the video time stamps of the state at each chunk.
class VideoStampHooks : public RecordingHooks {
public:
    using RecordingHooks::RecordingHooks;
    void packet(const Packet& packet) override {
        RecordingHooks::packet(packet);
        packetPts.push_back(packet.pts);
        videoDts.push_back(packet.dts.value_or(0));
        videoTypes.push_back(packet.coding);
    }
    std::vector<StreamCoding> videoTypes;
    std::vector<std::optional<uint64_t>> packetPts;
    std::vector<uint64_t> videoDts;
};

TEST(PackScanner, ReadsTimeStampsAboveTwoToTheThirtyAlikeInBothHeaderForms) {
    const uint64_t pts = 0x1C0DE1235;  // bit 32 set: all 33 bits are kept
    const uint64_t dts = 0x0BEEF0001;
    ProgramStreamBuilder ps;
    ps.pack({fixture::privateStream1Packet(0x80, PesHeader{.pts = pts}, counting(20))});
    ps.pack({fixture::pesPacket(0xE2, PesHeader{.pts = pts, .dts = dts}, counting(20))});
    PassRunner runner;
    VideoStampHooks hooks(runner.job().buffer.data());
    runner.job().source =
        SpanSource::single("x.EVO", std::make_unique<fixture::MemorySource>(ps.bytes()));
    PackEngine(*runner.state, runner.os, runner.log).demux(PassMode::Detection, hooks);

    ASSERT_EQ(hooks.registrations.size(), 2u);
    EXPECT_EQ(hooks.registrations[0].heldPts, pts);  // audio: a PTS-only header
    ASSERT_EQ(hooks.chunks.size(), 2u);
    EXPECT_EQ(hooks.chunks[1].pts, pts);  // video: PTS of a PTS-and-DTS header
    EXPECT_EQ(hooks.packetPts[1], pts);
    EXPECT_EQ(hooks.videoDts[1], dts);
}

TEST(PackScanner, ParsesPacketsWhoseHeaderOrPayloadStraddlesTheBlockEnd) {
    const Bytes payload = counting(300);
    const Bytes packet =
        fixture::pesPacket(0xE1, PesHeader{.pts = 0x123456789, .dts = 0x12345000}, payload);
    // Put the start code at every place from well before to just after the boundary.
    for (size_t back = 1; back <= 40; ++back) {
        SCOPED_TRACE(testing::Message() << "packet starts " << back << " bytes before the end");
        ProgramStreamBuilder ps;
        ps.fillTo(kBlockSize - back).raw(packet).fillTo(kBlockSize + 4096);
        fixture::PassRunner runner;
        VideoStampHooks hooks(runner.job().buffer.data());
        runner.job().source =
            SpanSource::single("x.EVO", std::make_unique<fixture::MemorySource>(ps.bytes()));
        PackEngine(*runner.state, runner.os, runner.log).demux(PassMode::Detection, hooks);

        EXPECT_EQ(hooks.payloadOf(StreamKind::Video, 1), payload);
        ASSERT_FALSE(hooks.chunks.empty());
        EXPECT_EQ(hooks.packetPts.front(), 0x123456789u);
        EXPECT_EQ(hooks.videoDts.front(), 0x12345000u);
        // A header that ends in the first block leaves the payload in two chunks.
        if (back > 6 + 3 + 10) {
            ASSERT_EQ(hooks.chunks.size(), 2u);
            EXPECT_EQ(hooks.chunks[1].offset, 0u);
            EXPECT_EQ(hooks.chunks[0].offset + hooks.chunks[0].data.size(), kBlockSize);
        } else {
            EXPECT_EQ(hooks.chunks.size(), 1u);
        }
    }
}

TEST(PackScanner, PassesOverPaddingAndUnanalysedNavigationPackets) {
    Bytes pci(979, 0x00);
    // Bytes that look like a start code must not be taken for one inside a passed-over packet.
    const Bytes fake = {0x00, 0x00, 0x01, 0xE1, 0x00, 0x10, 0x81, 0x00, 0x00};
    std::copy(fake.begin(), fake.end(), pci.begin() + 100);
    ProgramStreamBuilder ps;
    ps.pack({fixture::privateStream2Packet(0x00, pci), fixture::dsiPacket({.vobNumber = 7})});
    ps.pack({fixture::paddingPacket(200), fixture::pesPacket(0xE0, {}, counting(50))});
    PassRunner runner;
    runner.run(ps.bytes());

    const size_t dsiAt = fixture::kPackHeaderSize + 6 + 1 + pci.size() + 6 + 1;
    ASSERT_EQ(runner.hooks.dsiOffsets.size(), 1u);
    EXPECT_EQ(runner.hooks.dsiOffsets[0], dsiAt);
    ASSERT_EQ(runner.hooks.registrations.size(), 1u);
    EXPECT_EQ(runner.hooks.registrations[0].number, 0);
    EXPECT_EQ(runner.hooks.payloadOf(StreamKind::Video, 0), counting(50));
}

TEST(PackScanner, AnalysesOnlyTheFirstNavigationPacketOfEachKindInAPass) {
    ProgramStreamBuilder ps;
    for (int k = 0; k < 3; ++k) {
        ps.pack({fixture::copyControlPacket({}), fixture::dsiPacket({})});
    }
    PassRunner runner;
    runner.run(ps.bytes());
    EXPECT_EQ(runner.hooks.controlOffsets, std::vector<size_t>{fixture::kPackHeaderSize + 7});
    EXPECT_EQ(runner.hooks.dsiOffsets.size(), 1u);

    // The next pass starts afresh.
    runner.run(ps.bytes());
    EXPECT_EQ(runner.hooks.controlOffsets.size(), 2u);
    EXPECT_EQ(runner.hooks.dsiOffsets.size(), 2u);
}

TEST(PackScanner, TellsVc1ExtensionsFromOtherExtendedStreams) {
    ProgramStreamBuilder ps;
    ps.pack({fixture::pesPacket(0xFD, PesHeader{.pts = 900, .streamIdExtension = 0x57},
                                counting(30, 0x40))});
    ps.pack({fixture::pesPacket(
        0xFD, PesHeader{.pts = 900, .pstdBuffer = true, .streamIdExtension = 0x56},
        counting(30, 0x50))});
    ps.pack({fixture::pesPacket(0xE0, PesHeader{.pts = 1800}, counting(30, 0x60))});
    // Without an extension the packet is no video: nothing of it may join the last stream.
    ps.pack({fixture::pesPacket(0xFD, PesHeader{.pts = 2700}, counting(30, 0x70))});
    PassRunner runner;
    runner.run(ps.bytes());

    ASSERT_EQ(runner.hooks.registrations.size(), 2u);
    EXPECT_EQ(runner.hooks.registrations[0].number, 1);
    EXPECT_EQ(runner.hooks.registrations[0].idByte, 0x56);
    EXPECT_EQ(numberedStream(runner.streams(), StreamKind::Video, 1).id, 0x56);
    EXPECT_EQ(numberedStream(runner.streams(), StreamKind::Video, 0).id, 0xE0);
    ASSERT_EQ(runner.hooks.chunks.size(), 2u);
    EXPECT_EQ(runner.hooks.chunks[0].data, counting(30, 0x50));
    EXPECT_EQ(runner.hooks.chunks[1].number, 0);
}

TEST(PackScanner, GivesASecondCodingOnATakenNumberTheNextFreeBoxUntilNoneIsLeft) {
    ProgramStreamBuilder ps;
    // A packet without payload takes no box: its stream is nowhere to be written.
    ps.pack({fixture::pesPacket(0xE3, {}, Bytes{})});
    ps.pack({fixture::privateStream1Packet(0x80, {}, counting(10))});
    ps.pack({fixture::privateStream1Packet(0x88, {}, counting(10))});
    ps.pack({fixture::privateStream1Packet(0x81, {}, counting(10))});
    ps.pack({fixture::privateStream1Packet(0x21, {}, counting(10))});
    ps.pack({fixture::privateStream1Packet(0x61, {}, counting(10))});
    ps.pack({fixture::pesPacket(0xE0, {}, counting(10))});
    ps.pack({fixture::pesPacket(0xFD, PesHeader{.streamIdExtension = 0x55}, counting(10))});
    ps.pack({fixture::pesPacket(0xE1, {}, counting(10))});  // both video boxes are taken
    ps.pack({fixture::privateStream1Packet(0x88, {}, counting(10))});
    PassRunner runner;
    runner.run(ps.bytes());

    EXPECT_EQ(runner.hooks.registrations.size(), 7u);
    StreamRegistry& streams = runner.streams();
    EXPECT_EQ(numberedStream(streams, StreamKind::Audio, 0).key, 0x80);
    EXPECT_EQ(numberedStream(streams, StreamKind::Audio, 1).key, 0x88);
    EXPECT_EQ(numberedStream(streams, StreamKind::Audio, 2).key, 0x81);  // its own number went to the DTS
    EXPECT_EQ(numberedStream(streams, StreamKind::Subpicture, 1).key, 0x21);
    EXPECT_EQ(numberedStream(streams, StreamKind::Subpicture, 2).key, 0x61);
    EXPECT_EQ(numberedStream(streams, StreamKind::Video, 0).key, 0xE0);
    EXPECT_EQ(numberedStream(streams, StreamKind::Video, 1).key, 0x55);
    ASSERT_EQ(runner.hooks.taken.size(), 1u);
    EXPECT_EQ(runner.hooks.taken[0].idByte, 0xE1);
    // Each coding's payload goes to its own box; none of the stream left out is handed over.
    ASSERT_EQ(runner.hooks.chunks.size(), 8u);
    EXPECT_EQ(runner.hooks.chunks[1].number, 1);
    EXPECT_EQ(runner.hooks.chunks[7].number, 1);
}

TEST(PackScanner, NeverReadsPayloadOfAHeaderThatOverrunsItsPacket) {
    Bytes broken = fixture::pesPacket(0xE0, PesHeader{.pts = 90000}, counting(4));
    broken[8] = 200;  // PES_header_data_length far beyond the packet
    ProgramStreamBuilder ps;
    ps.pack({broken, fixture::pesPacket(0xE1, {}, counting(40))});
    PassRunner runner;
    runner.run(ps.bytes());

    for (const auto& chunk : runner.hooks.chunks) {
        EXPECT_EQ(chunk.number, 1) << "no chunk may come from the broken packet";
    }
    EXPECT_EQ(runner.hooks.payloadOf(StreamKind::Video, 1), counting(40));
}

TEST(PackScanner, NeverTakesAStartCodeInsidePayloadForAPacket) {
    const Bytes payload = {0x00, 0x00, 0x01, 0xE1, 0x00, 0x08, 0x81, 0x80, 0x05,
                           0x21, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x01, 0xBD};
    ProgramStreamBuilder ps;
    ps.pack({fixture::pesPacket(0xE0, {}, payload), fixture::pesPacket(0xE0, {}, payload)});
    PassRunner runner;
    runner.run(ps.bytes());

    EXPECT_EQ(runner.hooks.registrations.size(), 1u);
    EXPECT_EQ(runner.hooks.chunks.size(), 2u);
    EXPECT_EQ(numberedStream(runner.streams(), StreamKind::Video, 1).id, kStreamAbsent);
}

TEST(PackScanner, GivesMpegAudioBoxesOfItsOwnBesideTheSubStreamsOfTheSameByte) {
    ProgramStreamBuilder ps;
    ps.pack({fixture::pesPacket(0xC0, PesHeader{.pts = 1}, counting(10))});
    ps.pack({fixture::privateStream1Packet(0xC0, {}, counting(10))});  // E-AC-3, not MPEG audio
    ps.pack({fixture::pesPacket(0xD1, {}, counting(10))});
    PassRunner runner;
    runner.run(ps.bytes());

    ASSERT_EQ(runner.hooks.chunks.size(), 3u);
    EXPECT_EQ(runner.hooks.chunks[0].kind, StreamKind::Audio);
    EXPECT_EQ(runner.hooks.chunks[0].number, 0);
    EXPECT_EQ(runner.hooks.chunks[1].number, 1);  // box 0 is the MPEG audio's
    EXPECT_EQ(runner.hooks.chunks[2].number, 2);  // 0xD1 has no box 17: the first free one
    EXPECT_EQ(runner.hooks.registrations.size(), 3u);
    EXPECT_EQ(numberedStream(runner.streams(), StreamKind::Audio, 0).key, kMpegAudioKey | 0xC0);
}

TEST(PackScanner, GivesEveryPacketItsOwnPtsInEitherHeaderFormAndPass) {
    ProgramStreamBuilder ps;
    // PTS-only headers are what most muxers write for MPEG-2 and H.264: they count as well.
    ps.pack({fixture::pesPacket(0xE2, PesHeader{.pts = 4000}, counting(10))});
    ps.pack({fixture::pesPacket(0xFD, PesHeader{.pts = 4500, .streamIdExtension = 0x56},
                                counting(10))});
    ps.pack({fixture::privateStream1Packet(0x25, PesHeader{.pts = 7000}, counting(10))});
    ps.pack({fixture::privateStream1Packet(0x66, PesHeader{.pts = 0}, counting(10))});
    ps.pack({fixture::pesPacket(0xE2, PesHeader{.pts = 5000}, counting(10))});
    // No PTS: nothing of the packets before may stick to it.
    ps.pack({fixture::pesPacket(0xE2, PesHeader{}, counting(10))});
    ps.pack({fixture::privateStream1Packet(0x25, PesHeader{}, counting(10))});

    for (PassMode mode : {PassMode::Detection, PassMode::Demux}) {
        PassRunner runner;
        VideoStampHooks hooks(runner.job().buffer.data());
        if (mode == PassMode::Demux) {
            // A demux keeps to the boxes a read gave out.
            runner.job().source =
                SpanSource::single("x.EVO", std::make_unique<fixture::MemorySource>(ps.bytes()));
            PackEngine(*runner.state, runner.os, runner.log).demux(PassMode::Detection, hooks);
            hooks = VideoStampHooks(runner.job().buffer.data());
        }
        runner.job().source =
            SpanSource::single("x.EVO", std::make_unique<fixture::MemorySource>(ps.bytes()));
        PackEngine(*runner.state, runner.os, runner.log).demux(mode, hooks);
        ASSERT_EQ(hooks.chunks.size(), 7u);
        const std::vector<std::optional<uint64_t>> expected = {4000u, 4500u,        7000u,       0u,
                                                               5000u, std::nullopt, std::nullopt};
        EXPECT_EQ(hooks.packetPts, expected);
        // Each video packet is taken for its own coding, also after packets of the others.
        EXPECT_EQ(hooks.videoTypes[0], StreamCoding::H264);
        EXPECT_EQ(hooks.videoTypes[1], StreamCoding::Vc1);
        EXPECT_EQ(hooks.videoTypes[4], StreamCoding::H264);
        EXPECT_EQ(hooks.videoTypes[5], StreamCoding::H264);
        // A PTS of 0 is held like any other; a packet without one holds none.
        EXPECT_TRUE(hooks.chunks[3].time.has_value());
        EXPECT_EQ(hooks.chunks[2].pts, 7000u);
        EXPECT_FALSE(hooks.chunks[6].time.has_value());
    }
}

// An MPEG-1 system stream's packet: stuffing, the STD buffer field, then the time stamps.
Bytes mpeg1Packet(uint8_t streamId, const Bytes& fields, const Bytes& payload) {
    Bytes packet = {0x00, 0x00, 0x01, streamId, 0, 0};
    packet.insert(packet.end(), fields.begin(), fields.end());
    packet.insert(packet.end(), payload.begin(), payload.end());
    const size_t length = packet.size() - 6;
    packet[4] = static_cast<uint8_t>(length >> 8);
    packet[5] = static_cast<uint8_t>(length);
    return packet;
}

TEST(PackScanner, ReadsMpeg1PacketHeadersWithTheirStuffingBufferAndTimeStamps) {
    const Bytes pts = fixture::timeStampField(2, 0x12345);
    Bytes ptsDts = fixture::timeStampField(3, 0x23456);
    const Bytes dts = fixture::timeStampField(1, 0x22222);
    ptsDts.insert(ptsDts.end(), dts.begin(), dts.end());
    const Bytes buffer = {0x60, 0x2E};
    const auto joined = [](std::initializer_list<Bytes> parts) {
        Bytes all;
        for (const Bytes& part : parts) {
            all.insert(all.end(), part.begin(), part.end());
        }
        return all;
    };
    // An MPEG-1 pack header is 12 bytes long.
    const Bytes mpeg1Pack = {0x00, 0x00, 0x01, 0xBA, 0x21, 0x00,
                             0x01, 0x00, 0x01, 0x80, 0x1B, 0x91};
    Bytes stream = mpeg1Pack;
    const Bytes video = joined({{0xFF, 0xFF}, buffer, ptsDts});
    const Bytes ac3 = joined({buffer, pts, {0x80, 0x01, 0x00, 0x01}});  // sub-stream header
    const Bytes audio = joined({{0xFF}, pts});
    for (const Bytes& packet :
         {mpeg1Packet(0xE0, video, counting(40, 0x20)), mpeg1Packet(0xBD, ac3, counting(30, 0x40)),
          mpeg1Packet(0xC0, audio, counting(20, 0x60)),
          mpeg1Packet(0xE0, {0x0F}, counting(10, 0x70))}) {
        stream.insert(stream.end(), packet.begin(), packet.end());
    }
    // Whatever the block boundaries, the same chunks and times.
    for (const size_t blockEnd : {size_t{1}, size_t{20}, size_t{75}, stream.size() - 5}) {
        SCOPED_TRACE(blockEnd);
        ProgramStreamBuilder ps;
        ps.fillTo(kBlockSize - blockEnd).raw(stream);
        PassRunner runner;
        VideoStampHooks hooks(runner.job().buffer.data());
        runner.job().source =
            SpanSource::single("x.EVO", std::make_unique<fixture::MemorySource>(ps.bytes()));
        PackEngine(*runner.state, runner.os, runner.log).demux(PassMode::Detection, hooks);
        EXPECT_EQ(hooks.payloadOf(StreamKind::Video, 0),
                  joined({counting(40, 0x20), counting(10, 0x70)}));
        EXPECT_EQ(hooks.payloadOf(StreamKind::Audio, 0), counting(30, 0x40));
        EXPECT_EQ(hooks.payloadOf(StreamKind::Audio, 1), counting(20, 0x60));
        ASSERT_FALSE(hooks.packetPts.empty());
        EXPECT_EQ(hooks.packetPts.front(), 0x23456u);
        EXPECT_EQ(hooks.videoDts.front(), 0x22222u);
        EXPECT_EQ(hooks.packetPts.back(), std::nullopt);
        EXPECT_EQ(numberedStream(runner.streams(), StreamKind::Audio, 1).key, kMpegAudioKey | 0xC0);
    }
}

}  // namespace
}  // namespace tolvane
