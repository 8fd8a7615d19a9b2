#include "sinks/demux_pass.h"

#include "format/codec_private.h"
#include "sinks/navigation.h"

namespace tolvane {

namespace {

constexpr size_t kSupHeaderSize = 10;

}  // namespace

void DemuxPass::withoutNumber(StreamKind kind, int32_t key) {
    if (firstMention(state_.streams.withoutNumberReported, kind, key)) {
        reporter_.log(notWrittenLine(kind, key));
    }
}

void DemuxPass::writePgs() {
    pgs_ = std::make_unique<std::array<PgsConverter, 32>>();
    forcedPgs_ = std::make_unique<std::array<PgsConverter, 32>>();
    for (PgsConverter& converter : *forcedPgs_) {
        converter = PgsConverter(true);
    }
}

void DemuxPass::writePgsSets(const StreamContext& stream, std::span<const PgsDisplaySet> sets,
                             bool forced) {
    const auto n = static_cast<size_t>(stream.number);
    OutputSink* out = forced ? forced_->out[n] : stream.out;
    uint64_t& written = forced ? forcedBytes_[n] : subBytes_[stream.slot];
    for (const PgsDisplaySet& set : sets) {
        // Modulo 2^32 as .sup times wrap, as for subpicture records.
        const auto time = static_cast<uint32_t>(static_cast<uint64_t>(set.time) -
                                                static_cast<uint64_t>(state_.job.minPts));
        pgsRecords_.clear();
        pgsTimes_.clear();
        appendSupRecords(set.segments, time, pgsRecords_, &pgsTimes_);
        if (records_ != nullptr) {
            for (const size_t at : pgsTimes_) {
                records_->push_back(SupRecord{stream.number, written + at, set.time,
                                              state_.job.minPts, true, forced});
            }
        }
        out->append(pgsRecords_.data(), pgsRecords_.size());
        written += pgsRecords_.size();
    }
}

void DemuxPass::finish() {
    for (size_t n = 0; pgs_ != nullptr && n < pgs_->size(); ++n) {
        const StreamContext* stream =
            state_.streams.numbered(StreamKind::Subpicture, static_cast<int32_t>(n));
        if (stream != nullptr && stream->out != nullptr) {
            writePgsSets(*stream, (*pgs_)[n].finish());
        }
        if (stream != nullptr && forced_ != nullptr && forced_->out[n] != nullptr) {
            writePgsSets(*stream, (*forcedPgs_)[n].finish(), true);
        }
    }
}

void DemuxPass::pgsSubpicture(const Packet& packet) {
    const auto n = static_cast<size_t>(packet.number);
    PgsConverter& converter = (*pgs_)[n];
    writePgsSets(*packet.stream, converter.add(packet.payload, packet.time));
    if (forced_ != nullptr && forced_->out[n] != nullptr) {
        writePgsSets(*packet.stream, (*forcedPgs_)[n].add(packet.payload, packet.time), true);
    }
    if (converter.failure() && !pgsFailureSaid_[n]) {
        pgsFailureSaid_[n] = true;
        reporter_.log(streamText(StreamKind::Subpicture, packet.stream->key) +
                      ": a subpicture is left out of the PGS file, as " + *converter.failure() +
                      " (this is said once a stream).");
    }
}

void DemuxPass::subpicture(const Packet& packet) {
    const auto n = static_cast<size_t>(packet.number);
    OutputSink* out = packet.stream->out;
    if (out == nullptr) {
        return;
    }
    if (pgs_ != nullptr && n < pgs_->size()) {
        pgsSubpicture(packet);
        return;
    }
    const uint8_t* data = packet.payload.data();
    if (forced_ != nullptr && n < forced_->out.size() && forced_->out[n] != nullptr) {
        if (const auto unit = forced_->units[n].add(packet.payload, packet.time);
            unit && forcedSubpicture(*unit)) {
            forced_->writers[n].packet(*forced_->out[n], unit->data(), unit->size(),
                                       forced_->units[n].time());
        }
    }
    if (vobSub_ != nullptr) {
        (*vobSub_)[n].packet(*out, data, packet.length, packet.time);
        return;
    }
    // A record starts at every packet whose header carries a PTS, whatever its value.
    if (packet.time) {
        // Modulo 2^32, as .sup times wrap; unsigned, as a base not yet known is the largest time.
        const auto pts = static_cast<uint32_t>(static_cast<uint64_t>(*packet.time) -
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
            records_->push_back(SupRecord{packet.number, subBytes_[packet.stream->slot] + 2,
                                          *packet.time, state_.job.minPts});
        }
        out->append(header, sizeof header);
        subBytes_[packet.stream->slot] += sizeof header;
    }
    out->append(data, packet.length);
    subBytes_[packet.stream->slot] += packet.length;
}

void DemuxPass::packet(const Packet& packet) {
    const uint8_t* data = packet.payload.data();
    switch (packet.kind) {
        case StreamKind::Video: {
            StreamContext& stream = *packet.stream;
            if (stream.out == nullptr) {
                break;
            }
            if (options_.countFrames()) {
                frames_.count(data, packet.length, packet.coding, packet.number, stream.frameCount);
            }
            stream.out->append(data, packet.length);
            break;
        }
        case StreamKind::Audio:
            if (packet.stream->codecPrivate.empty() && packet.unitStart &&
                packet.coding == StreamCoding::Lpcm) {
                // LPCM's format bytes, which its WAVE header is made from.
                packet.stream->codecPrivate = audioHeaderBytes(
                    StreamCoding::Lpcm, data, packet.length, 0, state_.job.buffer.data(),
                    packet.offset, packet.lpcmHeaderBytes);
            }
            if (OutputSink* out = packet.stream->out) {
                out->append(data, packet.length);
            }
            break;
        case StreamKind::Subpicture:
            subpicture(packet);
            break;
    }
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
