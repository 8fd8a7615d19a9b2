#pragma once

#include <cstdint>
#include <optional>

#include "core/scan_state.h"
#include "core/stream_ids.h"

namespace tolvane {

enum class PassMode : uint8_t { Detection = 0, Demux = 1 };

// A run of payload bytes of one packet inside the read block.
struct PayloadChunk {
    PacketKind kind;  // Video, Audio, MpegAudio or Subpicture
    int32_t number;   // stream number of that kind (-1 when none is known yet)
    size_t offset;    // start in the read block
    size_t length;
};

// What a pass does with what the scanner finds. The scanner calls these in file order; the
// state is handed over mutable because the passes consume time stamps (heldPts) as they go.
class PassHooks {
public:
    virtual ~PassHooks() = default;

    // The fast-check limit in bytes, asked once per block; none when the check is off.
    virtual std::optional<int64_t> fastCheckLimit() { return std::nullopt; }
    // The first identifying byte of a stream number was stored in the stream table.
    virtual void streamRegistered(StreamKind, int32_t /*number*/, int32_t /*idByte*/, ScanState&) {}
    // A stream whose number is taken by a stream of another coding: it cannot be registered.
    // Called for each of its packets.
    virtual void numberTaken(StreamKind, int32_t /*number*/, int32_t /*idByte*/,
                             int32_t /*takenBy*/) {}
    virtual void payloadChunk(const PayloadChunk&, ScanState&) {}
    // The first copy-control or DSI packet of the pass; `offset` is that of the byte after
    // its sub-stream id, which may lie anywhere in or past the end of the read block.
    virtual void copyControlPacket(size_t /*offset*/, ScanState&) {}
    virtual void dsiPacket(size_t /*offset*/, ScanState&) {}
    // The system header of the file's first block was read into videoBound and audioBound.
    virtual void systemHeaderRead(ScanState&) {}
    virtual void passStarted() {}
    virtual void passEnded() {}
};

}  // namespace tolvane
