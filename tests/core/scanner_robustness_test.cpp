#include <gtest/gtest.h>

#include <random>

#include "pass_runner.h"

namespace tolvane {
namespace {

using fixture::Bytes;
using fixture::PesHeader;
using fixture::ProgramStreamBuilder;

// Checks every hand-over against the block that was read when it was made.
class BoundsCheckingHooks : public PassHooks {
public:
    explicit BoundsCheckingHooks(const JobState& job) : job_(job) {}
    void payloadChunk(const PayloadChunk& chunk, ScanState&) override {
        ++chunks;
        EXPECT_LE(chunk.offset + chunk.length, job_.bufferLength);
        EXPECT_GT(chunk.length, 0u);
        // Touch the bytes so that the sanitizers see any read outside the buffer.
        for (size_t k = chunk.offset; k < chunk.offset + chunk.length; ++k) {
            checksum += job_.buffer[k];
        }
    }
    void copyControlPacket(size_t offset, ScanState&) override {
        EXPECT_LT(offset, job_.bufferLength);
    }
    void dsiPacket(size_t offset, ScanState&) override { EXPECT_LT(offset, job_.bufferLength); }

    int chunks = 0;
    uint64_t checksum = 0;

private:
    const JobState& job_;
};

void runBothPasses(const Bytes& stream) {
    for (PassMode mode : {PassMode::Detection, PassMode::Demux}) {
        fixture::PassRunner runner;
        BoundsCheckingHooks hooks(runner.job());
        runner.job().source = std::make_unique<fixture::MemorySource>(stream);
        PackEngine(*runner.state, runner.os, runner.log).demux(mode, hooks);
        EXPECT_EQ(runner.job().source->position(), static_cast<int64_t>(stream.size()));
    }
}

Bytes wellFormedStream() {
    ProgramStreamBuilder ps;
    ps.systemPack(2, 1, {fixture::copyControlPacket({.scrambling = 0x40})});
    for (int k = 0; k < 200; ++k) {
        const uint64_t pts = 90000u * static_cast<uint64_t>(k);
        ps.pack({fixture::dsiPacket({.vobNumber = 1, .startPtm = 1, .endPtm = 2})});
        ps.pack({fixture::pesPacket(0xE0, PesHeader{.pts = pts, .dts = pts}, Bytes(1900, 0x47))});
        ps.pack({fixture::privateStream1Packet(static_cast<uint8_t>(0x80 + k % 3), {.pts = pts},
                                               Bytes(600, 0x0B))});
        ps.pack({fixture::privateStream1Packet(0xA1, {.pts = pts}, Bytes(300, 0x11)),
                 fixture::privateStream1Packet(0x22, {.pts = pts}, Bytes(300, 0x00))});
        ps.pack({fixture::pesPacket(
            0xFD, PesHeader{.pts = pts, .pstdBuffer = true, .streamIdExtension = 0x55},
            Bytes(1000, 0x0D))});
    }
    return ps.bytes();
}

TEST(ScannerRobustness, RandomBytesNeverLeadOutsideTheBlock) {
    std::mt19937 random(20261208);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int round = 0; round < 4; ++round) {
        // Small alphabets make start codes and plausible header fields frequent.
        const int alphabet = round % 2 == 0 ? 256 : 4;
        Bytes stream(3 * kBlockSize + 777);
        for (uint8_t& b : stream) {
            const int value = byte(random) % alphabet;
            b = alphabet == 4 ? static_cast<uint8_t>(std::array{0x00, 0x01, 0xBD, 0xBF}[value])
                              : static_cast<uint8_t>(value);
        }
        runBothPasses(stream);
    }
}

TEST(ScannerRobustness, DamagedAndTruncatedStreamsNeverLeadOutsideTheBlock) {
    const Bytes original = wellFormedStream();
    std::mt19937 random(42);
    std::uniform_int_distribution<size_t> where(0, original.size() - 1);
    std::uniform_int_distribution<int> value(0, 255);
    for (int round = 0; round < 6; ++round) {
        Bytes damaged = original;
        for (int k = 0; k < 3000; ++k) {
            damaged[where(random)] = static_cast<uint8_t>(value(random));
        }
        damaged.resize(where(random));
        runBothPasses(damaged);
    }
    // Cut in the middle of each kind of header.
    for (size_t cut = 2048; cut < 2048 + 64; ++cut) {
        runBothPasses(Bytes(original.begin(), original.begin() + static_cast<long>(cut)));
    }
}

}  // namespace
}  // namespace tolvane
