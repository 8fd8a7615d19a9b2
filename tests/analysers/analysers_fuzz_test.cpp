// Every analyser fed random payloads behind valid headers, through the detection pass, so that
// the sanitizers see any read outside the block.
#include <gtest/gtest.h>

#include <random>

#include "analysers/stream_analysers.h"
#include "pass_runner.h"
#include "sinks/detection_pass.h"

namespace tolvane {
namespace {

using fixture::Bytes;

// Random bytes that often hold the sync words and start codes the analysers look for.
Bytes payload(std::mt19937& random, size_t size) {
    static const Bytes syncs[] = {{0x0B, 0x77},
                                  {0x7F, 0xFE, 0x80, 0x01},
                                  {0x00, 0x00, 0x01, 0xB3},
                                  {0x00, 0x00, 0x01, 0x0F},
                                  {0x00, 0x00, 0x01, 0x67},
                                  {0xF8, 0x72, 0x6F, 0xBA},
                                  {0xF8, 0x72, 0x6F, 0xBB},
                                  {0x5A, 0x5A, 0x5A, 0x5A}};
    std::uniform_int_distribution<int> byte(0, 255);
    Bytes data(size);
    for (uint8_t& b : data) {
        b = static_cast<uint8_t>(byte(random));
    }
    for (size_t at = 0; at + 4 < size; at += 1 + static_cast<size_t>(byte(random)) % 64) {
        const Bytes& sync = syncs[static_cast<size_t>(byte(random)) % 8];
        std::copy(sync.begin(), sync.end(), data.begin() + static_cast<long>(at));
    }
    return data;
}

TEST(AnalyserFuzz, RandomPayloadsOfEveryCodingStayInsideTheBlock) {
    std::mt19937 random(20261208);
    std::uniform_int_distribution<size_t> size(0, 1900);
    for (int round = 0; round < 40; ++round) {
        fixture::ProgramStreamBuilder ps;
        for (uint8_t id : {0x80, 0x88, 0xA0, 0xA1, 0xB0, 0xC0}) {
            ps.pack({fixture::privateStream1Packet(id, {.pts = 1}, payload(random, size(random)),
                                                   payload(random, 6))});
        }
        for (uint8_t id : {0xE0, 0xE3}) {
            ps.pack({fixture::pesPacket(id, {.pts = 1, .dts = 1}, payload(random, size(random)))});
        }
        ps.pack({fixture::pesPacket(0xFD, {.pts = 1, .streamIdExtension = 0x56},
                                    payload(random, size(random)))});
        // The last payload ends the file, and with it the block.
        ps.pack({fixture::privateStream1Packet(0x8F, {}, payload(random, 1990))});
        Bytes stream = ps.bytes();
        stream.resize(stream.size() - static_cast<size_t>(random() % 64));

        fixture::PassRunner runner;
        MessageLog log;
        StreamAnalysers analysers(*runner.state, log);
        fixture::FixedOptions options;
        DetectionPass pass(*runner.state, log, options, analysers);
        runner.job().source =
            SpanSource::single("x.EVO", std::make_unique<fixture::MemorySource>(stream));
        runner.job().source->setKind(round % 2 == 0 ? SourceKind::DvdAudioFile
                                                    : SourceKind::DvdFile);
        PackEngine(*runner.state, runner.os, log).demux(PassMode::Detection, pass);
        EXPECT_GE(log.lines().size(), 9u);
    }
}

}  // namespace
}  // namespace tolvane
