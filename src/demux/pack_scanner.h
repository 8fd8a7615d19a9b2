#pragma once

#include <cstddef>
#include <cstdint>

#include "demux/pass_hooks.h"
#include "demux/stream_registry.h"
#include "demux/timeline.h"
#include "format/scan_state.h"

namespace tolvane {

// The byte scanner of a pass: a state machine over the last four bytes that recognises PES
// packets and private-stream sub-streams, walks their headers field by field, registers the
// streams and hands payload runs to the pass. It reads only the bytes of the block it is given
// and never moves backwards; all state is carried from one block to the next.
class PackScanner {
public:
    // A scanner that `assignsNumbers` gives a number to each new stream it meets (a read); one
    // that does not leaves a stream without one of the numbers it was handed out (a writing job).
    // Packets' times are placed on `timeline`, the scanner's own when none is given.
    PackScanner(StreamRegistry& streams, PassHooks& hooks, bool assignsNumbers,
                Timeline* timeline = nullptr)
        : streams_(streams),
          hooks_(hooks),
          assignsNumbers_(assignsNumbers),
          timeline_(timeline != nullptr ? timeline : &ownTimeline_) {}
    PackScanner(const PackScanner&) = delete;
    PackScanner& operator=(const PackScanner&) = delete;

    void scanBlock(const uint8_t* block, size_t length);

    ScanState& state() { return state_; }
    const ScanState& state() const { return state_; }

private:
    bool startCode(uint8_t streamId);
    void holdPts();
    void timeStampByte(int index, uint8_t b);
    void headerEnd();
    void subStreamByte(uint8_t b);
    void audioSubStream(uint8_t id, uint32_t pointer);
    void passOverRest();
    // Gives the timeline the VOB of the DSI whose sub-stream id is at `idAt` of the block.
    void navigationTimes(const uint8_t* block, size_t idAt, size_t length);
    // Passes over the rest of the current packet from position i of a block of n bytes.
    void passOver(int64_t& i, int64_t n);
    void mpeg1HeaderByte(uint8_t b);
    void timeStampFieldByte(uint8_t b);
    // The number stream `key` has been given; -1 when it has none yet.
    int32_t numberOf(StreamKind kind, int32_t key);
    // The current packet's stream, given its number now by a pass that gives numbers; null, said
    // to the hooks, when it has none.
    StreamContext* streamForPayload(StreamKind kind);
    // The stream's first payload of the pass: its coding is looked for, then it is registered.
    void firstPayload(StreamContext& stream, const uint8_t* data, size_t length);

    StreamRegistry& streams_;
    PassHooks& hooks_;
    const bool assignsNumbers_;
    ScanState state_;
    Timeline ownTimeline_;
    Timeline* timeline_;
};

}  // namespace tolvane
