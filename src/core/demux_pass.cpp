#include "core/demux_pass.h"

#include "core/navigation.h"

namespace tolvane {

namespace {

constexpr size_t kSupHeaderSize = 10;

}  // namespace

void DemuxPass::subpicture(const PayloadChunk& chunk, ScanState& scan) {
    if (scan.heldPts != 0) {
        scan.heldPts -= state_.job.minPts;  // wraps modulo 2^32
    }
    OutputSink* out = state_.streams.subOut[static_cast<size_t>(chunk.number)];
    if (out != nullptr) {
        if (scan.heldPts != 0) {
            const uint32_t pts = scan.heldPts;
            const uint8_t header[kSupHeaderSize] = {
                'S',
                'P',
                static_cast<uint8_t>(pts),
                static_cast<uint8_t>(pts >> 8),
                static_cast<uint8_t>(pts >> 16),
                static_cast<uint8_t>(pts >> 24),
                0,
                0,
                0,
                0,
            };
            out->append(header, sizeof header);
        }
        out->append(state_.job.buffer.data() + chunk.offset, chunk.length);
    }
    scan.heldPts = 0;
}

void DemuxPass::payloadChunk(const PayloadChunk& chunk, ScanState& scan) {
    StreamTable& streams = state_.streams;
    const uint8_t* data = state_.job.buffer.data() + chunk.offset;
    switch (chunk.kind) {
        case PacketKind::Video: {
            if (chunk.number < 0 || chunk.number > 1) {
                break;
            }
            const auto n = static_cast<size_t>(chunk.number);
            OutputSink* out = streams.videoOut[n];
            if (out == nullptr) {
                break;
            }
            // A packet of another coding that shares the number would spoil the output.
            if (scan.videoIdByte != streams.videoId[n]) {
                break;
            }
            if (options_.countFrames()) {
                frames_.count(data, chunk.length, scan.videoType, chunk.number,
                              streams.frameCount[n]);
            }
            out->append(data, chunk.length);
            break;
        }
        case PacketKind::Audio: {
            const auto n = static_cast<size_t>(chunk.number);
            OutputSink* out = streams.audioOut[n];
            if (out != nullptr && scan.audioIdByte == streams.audioId[n]) {
                out->append(data, chunk.length);
            }
            break;
        }
        case PacketKind::Subpicture:
            subpicture(chunk, scan);
            return;
        default:
            break;  // MPEG audio has no stream box and so no output of its own
    }
    scan.heldPts = 0;
}

void DemuxPass::copyControlPacket(size_t offset, ScanState& scan) {
    analyseCopyControl({state_, reporter_, false, options_.sourceIsVob()}, offset, scan);
}

void DemuxPass::dsiPacket(size_t offset, ScanState& scan) {
    analyseDsi({state_, reporter_, false, options_.sourceIsVob()}, offset, scan);
}

}  // namespace tolvane
