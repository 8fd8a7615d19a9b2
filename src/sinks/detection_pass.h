#pragma once

#include <array>
#include <bitset>
#include <memory>
#include <optional>
#include <vector>

#include "core/reporter.h"
#include "demux/job_records.h"
#include "demux/pass_hooks.h"
#include "demux/pass_options.h"
#include "format/closed_captions.h"
#include "format/frame_counter.h"
#include "format/header_analysers.h"
#include "format/subpicture_unit.h"

namespace tolvane {

// What the read job's pass does with what the scanner finds: reports every stream as it is
// registered, prints each stream's first details once, counts video frames and reports the
// navigation packets.
class DetectionPass : public PassHooks {
public:
    DetectionPass(JobRecords& state, Reporter& reporter, const PassOptions& options,
                  HeaderAnalysers& analysers)
        : state_(state), reporter_(reporter), options_(options), analysers_(analysers) {}

    std::optional<int64_t> fastCheckLimit() override;
    void spanStarted(size_t span) override;
    void streamRegistered(const StreamContext& stream, ScanState&) override;
    void withoutNumber(StreamKind kind, int32_t key) override;
    bool aobSource() const override;
    void systemHeaderRead(ScanState& scan) override;
    void packet(const Packet& packet) override;
    void copyControlPacket(size_t offset, ScanState& scan) override;
    void dsiPacket(size_t offset, ScanState& scan) override;

private:
    void audioDetails(const Packet& packet);
    void videoDetails(const Packet& packet);
    void subpictureDetails(const Packet& packet);
    // Whether an MPEG video packet carries captions in its user data, and on which channels.
    void captionsIn(const Packet& packet);
    // Keeps a video stream's codec private data from the first packet that holds it whole.
    void keepCodecPrivate(const Packet& packet);
    // Takes a stream's first time from its first packet that carries one.
    void takeFirstTime(const Packet& packet);
    // Reports a stream's first lines once, at its first packet; true when it did.
    bool firstReport(const Packet& packet, bool& reported, bool beginsAccessUnit);

    static constexpr uint8_t kUntimedPacketsAwaited = 32;
    static constexpr uint8_t kCodecPrivateTries = 64;

    JobRecords& state_;
    Reporter& reporter_;
    const PassOptions& options_;
    HeaderAnalysers& analysers_;
    FrameCounter frames_;
    // The streams of this pass whose first time was taken, by registry slot.
    // The slot of the stream whose heading ("... found!") the log showed last.
    size_t lastHeading_ = kMaxStreams;
    void heading(const StreamContext& stream);
    std::bitset<kMaxStreams> timed_;
    // Each subpicture stream's unit being gathered (DVD or HD DVD), to count the units and
    // the forced.
    std::array<SubpictureGatherer, kMaxStreams> subpictureUnits_;
    // Each MPEG video stream's caption words, decoded only to learn which channels show text.
    std::array<std::unique_ptr<CaptionDecoder>, 2> captions_;
    std::vector<CaptionWord> captionWords_;
    // Packets without a PTS met before a stream was reported, by registry slot.
    std::array<uint8_t, kMaxStreams> untimedPackets_{};
};

// The read's detection pass, with each packet handed on after it: what the jobs that write
// as they read are built on. They see a stream's headers before its packets.
class DetectingPass : public PassHooks {
public:
    DetectingPass(JobRecords& state, Reporter& reporter, const PassOptions& options,
                  HeaderAnalysers& analysers)
        : detection_(state, reporter, options, analysers) {}

    void spanStarted(size_t span) override { detection_.spanStarted(span); }
    void streamRegistered(const StreamContext& stream, ScanState& scan) override {
        detection_.streamRegistered(stream, scan);
    }
    void withoutNumber(StreamKind kind, int32_t key) override {
        detection_.withoutNumber(kind, key);
    }
    bool writes() const override { return true; }
    bool aobSource() const override { return detection_.aobSource(); }
    void packet(const Packet& packet) override { detection_.packet(packet); }
    void copyControlPacket(size_t offset, ScanState& scan) override {
        detection_.copyControlPacket(offset, scan);
    }
    void dsiPacket(size_t offset, ScanState& scan) override { detection_.dsiPacket(offset, scan); }
    void systemHeaderRead(ScanState& scan) override { detection_.systemHeaderRead(scan); }

private:
    DetectionPass detection_;
};

}  // namespace tolvane
