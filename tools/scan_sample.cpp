// Writes a small sample program stream to a file, runs one pass of the pack engine over it and
// prints the message log: what was registered and how much payload each stream carries.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>

#include "core/file_source.h"
#include "core/pack_engine.h"
#include "core/platform_error.h"
#include "jobs/message_log.h"
#include "program_stream_builder.h"
#include "test_doubles.h"

namespace {

using namespace tolvane;
using fixture::Bytes;

Bytes sampleStream() {
    fixture::ProgramStreamBuilder ps;
    ps.systemPack(3, 1, {fixture::copyControlPacket({.applies = 0x80, .codes = 0x40})});
    for (int k = 0; k < 400; ++k) {
        const uint64_t pts = 90000 + 3003u * static_cast<uint64_t>(k);
        if (k % 50 == 0) {
            ps.pack({fixture::dsiPacket({.vobNumber = 1, .startPtm = 90000, .endPtm = 1291290})});
        }
        ps.pack({fixture::pesPacket(0xE0, {.pts = pts, .dts = pts - 3003}, Bytes(1900, 0x47))});
        if (k % 4 == 0) {
            ps.pack({fixture::privateStream1Packet(0x80, {.pts = pts}, Bytes(1536, 0x0B)),
                     fixture::privateStream1Packet(0x21, {.pts = pts}, Bytes(200, 0x00))});
            ps.pack({fixture::privateStream1Packet(0xC1, {.pts = pts}, Bytes(1800, 0x0B))});
        }
    }
    return ps.bytes();
}

const char* kindName(StreamKind kind) {
    switch (kind) {
        case StreamKind::Video:
            return "video";
        case StreamKind::Audio:
            return "audio";
        case StreamKind::Subpicture:
            return "subpicture";
    }
    return "";
}

class SummaryHooks : public PassHooks {
public:
    explicit SummaryHooks(Reporter& log) : log_(log) {}
    void streamRegistered(StreamKind kind, int32_t number, int32_t idByte, ScanState&) override {
        char line[96];
        std::snprintf(line, sizeof line, "[b]%s[/b] stream %d found (id %02X)", kindName(kind),
                      number, idByte);
        log_.log(line);
    }
    void payloadChunk(const PayloadChunk& chunk, ScanState&) override {
        bytes_[{static_cast<int>(chunk.kind), chunk.number}] += chunk.length;
    }
    void copyControlPacket(size_t, ScanState&) override { log_.log("Copy-control packet found"); }
    void dsiPacket(size_t, ScanState&) override { log_.log("DSI packet found"); }
    void passEnded() override {
        for (const auto& [key, count] : bytes_) {
            log_.log("   packet kind " + std::to_string(key.first) + ", stream " +
                     std::to_string(key.second) + ": [bl]" + std::to_string(count) +
                     "[/bl] payload bytes");
        }
    }

private:
    Reporter& log_;
    std::map<std::pair<int, int>, size_t> bytes_;
};

}  // namespace

int main(int argc, char** argv) {
    const std::filesystem::path folder = argc > 1 ? argv[1] : "sample";
    const std::filesystem::path path = folder / "SAMPLE.EVO";
    try {
        std::filesystem::create_directories(folder);
        const Bytes stream = sampleStream();
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(stream.data()),
                   static_cast<std::streamsize>(stream.size()));

        auto state = std::make_unique<SharedState>();
        state->job.timeFormat = "h:mm:ss";
        fixture::FakeOs os;
        MessageLog log;
        state->job.source = std::make_unique<FileSource>(path.string());
        log.log("Opening file [b]" + path.string() + "[/b]");
        SummaryHooks hooks(log);
        PackEngine(*state, os, log).demux(PassMode::Detection, hooks);
        log.log("Done.");
        for (const LogLine& line : log.lines()) {
            std::cout << line.text << '\n';
        }
    } catch (const std::exception& error) {
        std::cerr << error.what() << '\n';
        return 1;
    }
    return 0;
}
