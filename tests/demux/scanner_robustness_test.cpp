#include <gtest/gtest.h>

#include <array>
#include <map>
#include <random>

#include "demux/pack_scanner.h"
#include "job_engine.h"
#include "jobs/demux_job.h"
#include "jobs/read_and_demux_job.h"
#include "jobs/read_job.h"
#include "pass_runner.h"
#include "temp_dir.h"

namespace tolvane {
namespace {

using fixture::Bytes;
using fixture::PesHeader;
using fixture::ProgramStreamBuilder;

// Checks every hand-over against the block that was read when it was made.
class BoundsCheckingHooks : public PassHooks {
public:
    explicit BoundsCheckingHooks(const JobState& job) : job_(job) {}
    void packet(const Packet& packet) override {
        ++chunks;
        EXPECT_LE(packet.offset + packet.length, job_.bufferLength);
        EXPECT_GT(packet.length, 0u);
        // Touch the bytes so that the sanitizers see any read outside the buffer.
        for (size_t k = packet.offset; k < packet.offset + packet.length; ++k) {
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
        runner.job().source =
            SpanSource::single("x.EVO", std::make_unique<fixture::MemorySource>(stream));
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

// What the scanner hands over, in file terms: every event with its absolute position, and the
// payload of every stream joined.
class FileOrderHooks : public PassHooks {
public:
    void atBlock(const uint8_t* block, int64_t start) {
        block_ = block;
        start_ = start;
    }
    void streamRegistered(const StreamContext& stream, ScanState&) override {
        events.push_back("register " + std::to_string(static_cast<int>(stream.kind)) + "/" +
                         std::to_string(stream.number) + "/" + std::to_string(stream.id));
    }
    void packet(const Packet& packet) override {
        Bytes& joined = payload[{static_cast<int>(packet.kind), packet.number}];
        joined.insert(joined.end(), block_ + packet.offset, block_ + packet.offset + packet.length);
        if (packet.time) {
            events.push_back("pts " + std::to_string(*packet.pts));
        }
    }
    void copyControlPacket(size_t offset, ScanState&) override {
        events.push_back("control at " + std::to_string(start_ + static_cast<int64_t>(offset)));
    }
    void dsiPacket(size_t offset, ScanState&) override {
        events.push_back("dsi at " + std::to_string(start_ + static_cast<int64_t>(offset)));
    }

    std::vector<std::string> events;
    std::map<std::pair<int, int32_t>, Bytes> payload;

private:
    const uint8_t* block_ = nullptr;
    int64_t start_ = 0;
};

FileOrderHooks scanInBlocksOf(const Bytes& stream, size_t blockSize) {
    StreamRegistry streams;
    FileOrderHooks hooks;
    PackScanner scanner(streams, hooks, true);
    for (size_t at = 0; at < stream.size(); at += blockSize) {
        hooks.atBlock(stream.data() + at, static_cast<int64_t>(at));
        scanner.scanBlock(stream.data() + at, std::min(blockSize, stream.size() - at));
    }
    return hooks;
}

// Navigation packets whose bodies hold what looks like an audio packet: passed over whole, it
// is nothing; parsed from the middle, its payload would land in audio stream 0.
Bytes withDecoyPackets(const Bytes& packs) {
    ProgramStreamBuilder ps;
    ps.raw(packs);
    const Bytes decoy = fixture::privateStream1Packet(0x80, {}, Bytes(40, 0xEE));
    for (int k = 0; k < 300; ++k) {
        Bytes body;
        for (int copy = 0; copy < 9; ++copy) {
            body.insert(body.end(), decoy.begin(), decoy.end());
        }
        ps.pack({fixture::privateStream2Packet(0x00, body)});
    }
    return ps.bytes();
}

TEST(ScannerRobustness, HandsOverTheSameWhereverTheBlocksEnd) {
    // Junk before the first pack puts every pack, padding and navigation packet across block
    // ends somewhere, as in a cut file.
    Bytes stream(1001, 0xA5);
    const Bytes packs = withDecoyPackets(wellFormedStream());
    stream.insert(stream.end(), packs.begin(), packs.end());
    const FileOrderHooks whole = scanInBlocksOf(stream, stream.size());
    ASSERT_FALSE(whole.payload.empty());
    for (const size_t blockSize : {size_t{1}, size_t{7}, size_t{2047}, size_t{4099}, kBlockSize}) {
        SCOPED_TRACE(blockSize);
        const FileOrderHooks cut = scanInBlocksOf(stream, blockSize);
        EXPECT_EQ(cut.events, whole.events);
        EXPECT_EQ(cut.payload, whole.payload);
    }
    // No byte of a padding packet ever reaches a stream: the audio is its packets' payloads.
    EXPECT_EQ(whole.payload.at({static_cast<int>(StreamKind::Audio), 0}), Bytes(600 * 67, 0x0B));
}

TEST(ScannerRobustness, JobsWriteTheSameWhateverTheSizesOfTheReads) {
    Bytes stream(333, 0x00);
    const Bytes packs = wellFormedStream();
    stream.insert(stream.end(), packs.begin(), packs.end());
    std::array<std::vector<std::string>, 2> firstLogs;  // of the two jobs, and of the one pass
    Bytes firstAudio;
    for (const size_t most : {kBlockSize, size_t{1}, size_t{777}, size_t{65537}}) {
        SCOPED_TRACE(most);
        // The read job then the demux job, and the demux that writes as it reads.
        for (const bool onePass : {false, true}) {
            fixture::TempDir dir;
            fixture::Engine engine;
            engine.context.openInput = [&](const std::string&) -> std::unique_ptr<InputSource> {
                return std::make_unique<fixture::TricklingSource>(stream, most);
            };
            const OutputNaming naming{.folder = dir.path().string()};
            if (onePass) {
                ReadAndDemuxJob(engine.context).run({"MOVIE.EVO", {.fastCheck = false}, naming});
            } else {
                const ReadResult read = ReadJob(engine.context).run({"MOVIE.EVO", {}});
                DemuxJob(engine.context)
                    .run({"MOVIE.EVO", {}, read.streams, naming, read.earliestPts});
            }
            const Bytes audio = fixture::readFile(dir.path() / "MOVIE.DD.stream.00.mpa");
            std::vector<std::string> log;
            for (const LogLine& line : engine.log.lines()) {
                log.push_back(line.markup);
                if (const size_t at = log.back().find(naming.folder); at != std::string::npos) {
                    log.back().replace(at, naming.folder.size(), "DIR");
                }
            }
            if (firstAudio.empty()) {
                firstAudio = audio;
                ASSERT_FALSE(audio.empty());
            }
            EXPECT_EQ(audio, firstAudio);
            std::vector<std::string>& first = firstLogs[onePass ? 1 : 0];
            if (first.empty()) {
                first = log;
            }
            EXPECT_EQ(log, first);
        }
    }
}

}  // namespace
}  // namespace tolvane
