// The read, demux and rebuild passes over one or two files of arbitrary bytes, read in short
// pieces: nothing may crash, hang or read outside the block.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "analysers/stream_analysers.h"
#include "demux/pack_engine.h"
#include "report/message_log.h"
#include "sinks/demux_pass.h"
#include "sinks/detection_pass.h"
#include "sinks/pack_rebuilder.h"
#include "test_doubles.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tolvane;
    using fixture::Bytes;
    if (size < 2) {
        return 0;
    }
    const size_t most = 1 + data[0] * 97u;
    // The kind decides the DSI layout and whether 0xA1 is MLP.
    const SourceKind kind = (data[1] & 1) != 0   ? SourceKind::DvdAudioFile
                            : (data[1] & 2) != 0 ? SourceKind::DvdFile
                                                 : SourceKind::HdDvdFile;
    // A second file after the first 0x00 0xFF 0x00 0xFF, when there is one.
    const Bytes all(data + 2, data + size);
    const Bytes marker = {0x00, 0xFF, 0x00, 0xFF};
    const auto split = std::search(all.begin(), all.end(), marker.begin(), marker.end());
    const std::vector<Bytes> files = {Bytes(all.begin(), split),
                                      split == all.end() ? Bytes() : Bytes(split + 4, all.end())};

    JobControl control;
    auto state = std::make_unique<JobRecords>(control);
    fixture::FakeOs os;
    MessageLog log;
    fixture::FixedOptions options;
    options.fast = true;
    options.fastMb = 1;
    StreamAnalysers analysers(*state, log);
    for (const Bytes& file : files) {
        state->job.source =
            SpanSource::single("x.EVO", std::make_unique<fixture::TricklingSource>(file, most));
        state->job.source->setKind(kind);
        DetectionPass detection(*state, log, options, analysers);
        PackEngine(*state, os, log).demux(PassMode::Detection, detection);
    }
    // The boxes as the read job labels them.
    std::array<fixture::MemorySink, 50> sinks;
    size_t sink = 0;
    state->streams.forEach([&](StreamContext& stream) {
        stream.key = stream.id;
        // Every other subpicture stream has no output.
        if (stream.kind != StreamKind::Subpicture || stream.number % 2 == 0) {
            stream.out = &sinks[sink++];
        }
    });
    for (const Bytes& file : files) {
        state->job.source =
            SpanSource::single("x.EVO", std::make_unique<fixture::TricklingSource>(file, most));
        state->job.source->setKind(kind);
        DemuxPass demux(*state, log, options);
        PackEngine(*state, os, log).demux(PassMode::Demux, demux);
    }
    options.ticked = [](int32_t n) { return n % 3 != 1; };
    PackRebuilder rebuilder(state->streams, options.chosen(), log);
    if (!rebuilder.start()) {
        for (const Bytes& file : files) {
            for (size_t at = 0; at < file.size(); at += PackRebuilder::kPackSize) {
                // An exact-size copy, so that the sanitizers see any read past the pack.
                const size_t length = std::min(PackRebuilder::kPackSize, file.size() - at);
                std::unique_ptr<uint8_t[]> pack(new uint8_t[length]);
                std::copy_n(file.data() + at, length, pack.get());
                rebuilder.process(pack.get(), length, (data[1] & 4) != 0,
                                  PackRebuilder::Times{1, 2});
            }
        }
    }
    return 0;
}
