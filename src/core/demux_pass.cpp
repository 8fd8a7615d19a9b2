#include "core/demux_pass.h"

#include "core/navigation.h"

namespace tolvane {

namespace {

constexpr size_t kSupHeaderSize = 10;

}  // namespace

void DemuxPass::reportWithoutBox(size_t slot, const std::string& stream, int32_t idByte) {
    if (firstMention(state_.streams.withoutBoxReported[slot], idByte)) {
        reporter_.log(stream + " has no stream box: not written.");
    }
}

bool DemuxPass::inItsBox(StreamKind kind, int32_t number, int32_t idByte) {
    if (belongsToBox(state_.streams, kind, number, idByte)) {
        return true;
    }
    reportWithoutBox(static_cast<size_t>(kind), streamText(kind, idByte), idByte);
    return false;
}

void DemuxPass::subpicture(const PayloadChunk& chunk, const ScanState& scan) {
    if (!inItsBox(StreamKind::Subpicture, chunk.number, scan.subIdByte)) {
        return;
    }
    OutputSink* out = state_.streams.subOut[static_cast<size_t>(chunk.number)];
    if (out == nullptr) {
        return;
    }
    // A record starts at every packet whose header carries a PTS, whatever its value.
    if (scan.ptsHeld) {
        const uint32_t pts = scan.heldPts - state_.job.minPts;  // wraps modulo 2^32
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

void DemuxPass::payloadChunk(const PayloadChunk& chunk, ScanState& scan) {
    StreamTable& streams = state_.streams;
    const uint8_t* data = state_.job.buffer.data() + chunk.offset;
    switch (chunk.kind) {
        case PacketKind::Video: {
            // A VC-1 candidate seen before its extension has no number: nothing to write.
            if (chunk.number < 0 || !inItsBox(StreamKind::Video, chunk.number, scan.videoIdByte)) {
                break;
            }
            const auto n = static_cast<size_t>(chunk.number);
            OutputSink* out = streams.videoOut[n];
            if (out == nullptr) {
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
            if (!inItsBox(StreamKind::Audio, chunk.number, scan.audioIdByte)) {
                break;
            }
            if (OutputSink* out = streams.audioOut[static_cast<size_t>(chunk.number)]) {
                out->append(data, chunk.length);
            }
            break;
        }
        case PacketKind::MpegAudio:
            // MPEG audio has no stream box and so no output of its own.
            reportWithoutBox(kMpegAudioSlot, "MPEG audio stream " + idText(scan.mpegAudioIdByte),
                             scan.mpegAudioIdByte);
            break;
        case PacketKind::Subpicture:
            subpicture(chunk, scan);
            break;
        default:
            break;
    }
    scan.dropHeldPts();
}

void DemuxPass::copyControlPacket(size_t offset, ScanState& scan) {
    analyseCopyControl({state_, reporter_, false, options_.sourceIsVob()}, offset, scan);
}

void DemuxPass::dsiPacket(size_t offset, ScanState& scan) {
    analyseDsi({state_, reporter_, false, options_.sourceIsVob()}, offset, scan);
}

}  // namespace tolvane
