#pragma once

#include <string>

#include "core/frame_counter.h"
#include "core/pass_hooks.h"
#include "core/pass_options.h"
#include "core/reporter.h"
#include "core/shared_state.h"

namespace tolvane {

// What a writing job's log says of a stream it met that has none of its boxes.
inline std::string notWrittenLine(StreamKind kind, int32_t key) {
    return streamText(kind, key) + " has no stream box: not written.";
}

// What the demux job's pass does with what the scanner finds: appends the payload of every
// stream that has an output to it, wraps subpictures in .sup records and counts the frames of
// the video streams written. The outputs in the stream table are the job's fixed selection.
class DemuxPass : public PassHooks {
public:
    DemuxPass(SharedState& state, Reporter& reporter, const PassOptions& options)
        : state_(state), reporter_(reporter), options_(options) {}

    void spanStarted(size_t /*span*/) override { frames_ = FrameCounter{}; }
    void payloadChunk(const PayloadChunk& chunk, ScanState& scan) override;
    void withoutBox(StreamKind kind, int32_t key) override;
    bool aobSource() const override;
    void copyControlPacket(size_t offset, ScanState& scan) override;
    void dsiPacket(size_t offset, ScanState& scan) override;

private:
    void subpicture(const PayloadChunk& chunk, const ScanState& scan);

    SharedState& state_;
    Reporter& reporter_;
    const PassOptions& options_;
    FrameCounter frames_;
};

}  // namespace tolvane
