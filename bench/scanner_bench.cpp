// Throughput of the byte scanner and of a whole pass over a synthetic program stream held in
// memory, each as a ratio to a plain memcpy of the same bytes measured in the same run.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "demux/pack_engine.h"
#include "demux/pack_scanner.h"
#include "pass_runner.h"

namespace {

using namespace tolvane;
using fixture::Bytes;

// Mostly video packs, with an audio pack every eighth and a navigation pack every 32nd.
Bytes syntheticStream(size_t mebibytes) {
    fixture::ProgramStreamBuilder ps;
    const Bytes video(2048 - 14 - 19, 0x47);
    const Bytes audio(2048 - 14 - 14 - 4, 0x0B);
    const size_t packs = mebibytes * kMebibyte / fixture::kPackSize;
    for (size_t k = 0; k < packs; ++k) {
        const uint64_t pts = 3003u * k;
        if (k % 32 == 0) {
            ps.pack({fixture::dsiPacket({.startPtm = 0, .endPtm = 90000})});
        } else if (k % 8 == 0) {
            ps.pack({fixture::privateStream1Packet(0x80, {.pts = pts}, audio)});
        } else {
            ps.pack({fixture::pesPacket(0xE0, {.pts = pts, .dts = pts}, video)});
        }
    }
    return ps.bytes();
}

class CountingHooks : public PassHooks {
public:
    void packet(const Packet& packet) override { bytes += packet.length; }
    size_t bytes = 0;
};

template <typename F>
double bestSeconds(F&& work) {
    double best = 1e9;
    for (int round = 0; round < 5; ++round) {
        const auto start = std::chrono::steady_clock::now();
        work();
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        best = std::min(best, took.count());
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    const size_t mebibytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 256;
    const Bytes stream = syntheticStream(mebibytes);
    const double size = static_cast<double>(stream.size());

    auto copy = std::make_unique<uint8_t[]>(stream.size());
    const double memcpySeconds = bestSeconds([&] {
        for (size_t at = 0; at < stream.size(); at += kBlockSize) {
            std::memcpy(copy.get() + at, stream.data() + at,
                        std::min(kBlockSize, stream.size() - at));
        }
    });

    size_t handed = 0;
    const double scanSeconds = bestSeconds([&] {
        StreamRegistry streams;  // no stream yet
        CountingHooks hooks;
        PackScanner scanner(streams, hooks, true);
        for (size_t at = 0; at < stream.size(); at += kBlockSize) {
            scanner.scanBlock(stream.data() + at, std::min(kBlockSize, stream.size() - at));
        }
        handed = hooks.bytes;
    });

    fixture::PassRunner runner;
    runner.job().source =
        SpanSource::single("x.EVO", std::make_unique<fixture::MemorySource>(stream));
    const double passSeconds = bestSeconds([&] {
        CountingHooks hooks;
        runner.job().source->seek(0);
        PackEngine(*runner.state, runner.os, runner.log).demux(PassMode::Demux, hooks);
    });

    const auto rate = [&](double seconds) { return size / seconds / 1048576.0; };
    std::printf("stream: %zu MiB of 2048-byte packs, %zu payload bytes handed over\n", mebibytes,
                handed);
    std::printf("memcpy baseline : %8.0f MiB/s\n", rate(memcpySeconds));
    std::printf("byte scanner    : %8.0f MiB/s  ratio to memcpy %.2f\n", rate(scanSeconds),
                memcpySeconds / scanSeconds);
    std::printf("whole pass      : %8.0f MiB/s  ratio to memcpy %.2f\n", rate(passSeconds),
                memcpySeconds / passSeconds);
    return 0;
}
