#pragma once

#include <array>
#include <bitset>
#include <optional>

#include "core/frame_counter.h"
#include "core/header_analysers.h"
#include "core/pass_hooks.h"
#include "core/pass_options.h"
#include "core/reporter.h"
#include "core/shared_state.h"

namespace tolvane {

// What the read job's pass does with what the scanner finds: reports every stream as it is
// registered, prints each stream's first details once, counts video frames and reports the
// navigation packets.
class DetectionPass : public PassHooks {
public:
    DetectionPass(SharedState& state, Reporter& reporter, const PassOptions& options,
                  HeaderAnalysers& analysers)
        : state_(state), reporter_(reporter), options_(options), analysers_(analysers) {}

    std::optional<int64_t> fastCheckLimit() override;
    void streamRegistered(StreamKind kind, int32_t number, int32_t key, ScanState&) override;
    void withoutBox(StreamKind kind, int32_t key) override;
    bool aobSource() const override;
    void systemHeaderRead(ScanState& scan) override;
    void payloadChunk(const PayloadChunk& chunk, ScanState& scan) override;
    void copyControlPacket(size_t offset, ScanState& scan) override;
    void dsiPacket(size_t offset, ScanState& scan) override;

private:
    void audioDetails(const PayloadChunk& chunk, const ScanState& scan);
    void videoDetails(const PayloadChunk& chunk, const ScanState& scan);
    void subpictureDetails(const PayloadChunk& chunk, const ScanState& scan);
    void firstLines(uint32_t pts, int32_t idByte);
    // Reports a stream's first lines once, from a packet that carries a PTS; true when it did.
    bool firstReport(bool& reported, std::optional<uint32_t>& jobFirstPts, uint32_t pts,
                     int32_t idByte, const ScanState& scan);

    SharedState& state_;
    Reporter& reporter_;
    const PassOptions& options_;
    HeaderAnalysers& analysers_;
    FrameCounter frames_;
};

}  // namespace tolvane
