#pragma once

#include <cstdint>
#include <optional>

#include "core/scan_state.h"
#include "core/stream_ids.h"

namespace tolvane {

enum class PassMode : uint8_t { Detection = 0, Demux = 1 };

// A run of payload bytes of one packet inside the read block.
struct PayloadChunk {
    PacketKind kind;  // Video, Audio or Subpicture
    int32_t number;   // the stream's number in its kind
    size_t offset;    // start in the read block
    size_t length;
    bool packetStart;  // the first chunk of its packet's payload
};

// What a pass does with what the scanner finds. The scanner calls these in file order; the
// state is handed over mutable because the passes consume time stamps (heldPts) as they go. A
// packet's time on the source's timeline is the state's packetTime, while packetHasPts says.
class PassHooks {
public:
    virtual ~PassHooks() = default;

    // The fast-check limit in bytes, asked once per block; none when the check is off.
    virtual std::optional<int64_t> fastCheckLimit() { return std::nullopt; }
    // A stream's first payload in this pass is about to be handed over; its number's coding is
    // settled from it as far as the bytes tell. `key` is the stream's key (stream_ids.h).
    virtual void streamRegistered(StreamKind, int32_t /*number*/, int32_t /*key*/, ScanState&) {}
    // A stream that has no number (a read gave every number of its kind away, or the numbers a
    // writing job was handed do not hold it). Called for each of its packets; its payload is passed
    // over.
    virtual void withoutNumber(StreamKind, int32_t /*key*/) {}
    // Whether the source is a DVD-Audio object, where 0xA1 is MLP.
    virtual bool aobSource() const { return false; }
    virtual void payloadChunk(const PayloadChunk&, ScanState&) {}
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
