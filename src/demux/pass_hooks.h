#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "format/scan_state.h"
#include "format/stream_ids.h"

namespace tolvane {
struct StreamContext;
}

namespace tolvane {

enum class PassMode : uint8_t { Detection = 0, Demux = 1 };

// A packet's payload, or the run of it that lies in the read block (a packet may go on in the
// next block): a view into the block, never a copy, with the packet's times.
struct Packet {
    // Its stream, kept by the job's registry.
    StreamContext* stream = nullptr;
    StreamKind kind = StreamKind::Video;
    int32_t number = 0;  // the stream's number in its kind
    // Its identifying byte (stream id, sub-stream id or extension; kMpegAudioKey added for MPEG
    // audio): the stream's key.
    int32_t key = 0;
    // The coding of its stream; for video the coding whose frame codes it holds.
    StreamCoding coding = StreamCoding::Mpeg2;
    std::span<const uint8_t> payload;
    size_t offset = 0;  // where the payload starts in the read block
    size_t length = 0;
    // The first run of its packet's payload; the times below come with it.
    bool unitStart = false;
    // The packet's own time stamps, 33 bits, as its header gives them (on every run).
    std::optional<uint64_t> pts;
    std::optional<uint64_t> dts;
    // Its PTS on the title's continuous timeline: on the first run of a packet that has one.
    std::optional<int64_t> time;
    // The timeline began a new part for this stream at this packet: the times jump here.
    bool discontinuity = false;
    // Audio: where the first frame that starts in the packet begins in its payload.
    uint32_t firstUnitAt = 0;
    // LPCM: how many bytes before the payload hold its format (3, or a DVD-Audio header).
    uint16_t lpcmHeaderBytes = 3;
};

// What a pass does with what the scanner finds. The scanner calls these in file order.
class PassHooks {
public:
    virtual ~PassHooks() = default;

    // The fast-check limit in bytes, asked once per block; none when the check is off.
    virtual std::optional<int64_t> fastCheckLimit() { return std::nullopt; }
    // A stream's first payload in this pass is about to be handed over; its coding is settled
    // from it as far as the bytes tell.
    virtual void streamRegistered(const StreamContext&, ScanState&) {}
    // A stream that has no number (a read gave every number of its kind away, or the numbers a
    // writing job was handed do not hold it). Called for each of its packets; its payload is passed
    // over.
    virtual void withoutNumber(StreamKind, int32_t /*key*/) {}
    // Whether the pass writes outputs as it goes: a cancel then leaves them short.
    virtual bool writes() const { return false; }
    // Whether the source is a DVD-Audio object, where 0xA1 is MLP.
    virtual bool aobSource() const { return false; }
    virtual void packet(const Packet&) {}
    // The first copy-control or DSI packet of the pass; `offset` is that of the byte after
    // its sub-stream id, which may lie anywhere in or past the end of the read block.
    virtual void copyControlPacket(size_t /*offset*/, ScanState&) {}
    virtual void dsiPacket(size_t /*offset*/, ScanState&) {}
    // The system header of the file's first block was read into videoBound and audioBound.
    virtual void systemHeaderRead(ScanState&) {}
    // A span of the source begins: the scanner starts afresh there, and so do a pass's records
    // of what it has reported of the streams.
    virtual void spanStarted(size_t /*span*/) {}
};

}  // namespace tolvane
