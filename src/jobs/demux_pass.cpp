#include "jobs/demux_pass.h"

#include "jobs/navigation.h"

namespace tolvane {

namespace {

constexpr size_t kSupHeaderSize = 10;

}  // namespace

void DemuxPass::withoutNumber(StreamKind kind, int32_t key) {
    if (firstMention(state_.streams.withoutNumberReported, kind, key)) {
        reporter_.log(notWrittenLine(kind, key));
    }
}

void DemuxPass::subpicture(const PayloadChunk& chunk, const ScanState& scan) {
    const auto n = static_cast<size_t>(chunk.number);
    OutputSink* out = state_.streams.sub[n].out;
    if (out == nullptr) {
        return;
    }
    if (vobSub_ != nullptr) {
        (*vobSub_)[n].packet(*out, state_.job.buffer.data() + chunk.offset, chunk.length,
                             scan.ptsHeld ? std::optional<int64_t>(scan.packetTime) : std::nullopt);
        return;
    }
    // A record starts at every packet whose header carries a PTS, whatever its value.
    if (scan.ptsHeld) {
        // Modulo 2^32, as .sup times wrap; unsigned, as a base not yet known is the largest time.
        const auto pts = static_cast<uint32_t>(static_cast<uint64_t>(scan.packetTime) -
                                               static_cast<uint64_t>(state_.job.minPts));
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
        if (records_ != nullptr) {
            records_->push_back(
                SupRecord{chunk.number, subBytes_[n] + 2, scan.packetTime, state_.job.minPts});
        }
        out->append(header, sizeof header);
        subBytes_[n] += sizeof header;
    }
    out->append(state_.job.buffer.data() + chunk.offset, chunk.length);
    subBytes_[n] += chunk.length;
}

void DemuxPass::payloadChunk(const PayloadChunk& chunk, ScanState& scan) {
    StreamTable& streams = state_.streams;
    const uint8_t* data = state_.job.buffer.data() + chunk.offset;
    switch (chunk.kind) {
        case PacketKind::Video: {
            const auto n = static_cast<size_t>(chunk.number);
            OutputSink* out = streams.video[n].out;
            if (out == nullptr) {
                break;
            }
            if (options_.countFrames()) {
                frames_.count(data, chunk.length, scan.videoCoding, chunk.number,
                              streams.video[n].frameCount);
            }
            out->append(data, chunk.length);
            break;
        }
        case PacketKind::Audio:
            if (OutputSink* out = streams.audio[static_cast<size_t>(chunk.number)].out) {
                out->append(data, chunk.length);
            }
            break;
        case PacketKind::Subpicture:
            subpicture(chunk, scan);
            break;
        default:
            break;
    }
    scan.dropHeldPts();
}

bool DemuxPass::aobSource() const {
    return state_.job.source->kind() == SourceKind::DvdAudioFile;
}

void DemuxPass::copyControlPacket(size_t offset, ScanState& scan) {
    analyseCopyControl({state_, reporter_, false, state_.job.source->kind()}, offset, scan);
}

void DemuxPass::dsiPacket(size_t offset, ScanState& scan) {
    analyseDsi({state_, reporter_, false, state_.job.source->kind()}, offset, scan);
}

}  // namespace tolvane
