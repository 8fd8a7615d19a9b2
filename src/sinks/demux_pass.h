#pragma once

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "core/reporter.h"
#include "demux/job_records.h"
#include "demux/pass_hooks.h"
#include "demux/pass_options.h"
#include "format/frame_counter.h"
#include "format/pgs_display_set.h"
#include "format/subpicture_unit.h"
#include "sinks/vobsub.h"

namespace tolvane {

// What a writing job's log says of a stream it met that has none of its boxes.
inline std::string notWrittenLine(StreamKind kind, int32_t key) {
    return streamText(kind, key) + " has no stream box: not written.";
}

// A .sup record's time as a pass wrote it, for a job whose time base may still come down.
struct SupRecord {
    int32_t number;          // the stream's box
    uint64_t offset;         // of the time field in the stream's output
    int64_t pts;             // the packet's time on the timeline
    int64_t minPts;          // the time base it was written against
    bool bigEndian = false;  // a PGS record's time; a subpicture record's is little-endian
    bool forced = false;     // in the stream's file of forced subpictures
};

// Each subpicture stream's forced subpictures, written apart as VobSub (or PGS): the unit being
// gathered, the writer and the output, by stream number (null: not written).
struct ForcedSubpictures {
    std::array<SubpictureGatherer, 32> units;
    std::array<VobSubWriter, 32> writers;
    std::array<OutputSink*, 32> out{};
};

// What the demux job's pass does with what the scanner finds: appends the payload of every
// stream that has an output to it, wraps subpictures in .sup records and counts the frames of
// the video streams written. The outputs in the stream table are the job's fixed selection.
class DemuxPass : public PassHooks {
public:
    DemuxPass(JobRecords& state, Reporter& reporter, const PassOptions& options)
        : state_(state), reporter_(reporter), options_(options) {}

    // Notes each .sup record written in `records`: a pass that learns the time base as it goes
    // corrects the records at the end.
    void noteRecords(std::vector<SupRecord>* records) { records_ = records; }

    // Writes each subpicture stream through its writer in `writers`, as VobSub packs, instead of
    // as .sup records.
    void writeVobSub(std::array<VobSubWriter, 32>* writers) { vobSub_ = writers; }
    // Writes the forced subpictures of the streams `forced` has outputs for there too.
    void writeForced(ForcedSubpictures* forced) { forced_ = forced; }
    // Writes each (HD DVD) subpicture stream as PGS display sets in .sup records.
    void writePgs();
    // Writes what the streams still hold once the source has ended: each PGS stream's last
    // clearing set.
    void finish();

    void spanStarted(size_t /*span*/) override { frames_ = FrameCounter{}; }
    void packet(const Packet& packet) override;
    void withoutNumber(StreamKind kind, int32_t key) override;
    bool aobSource() const override;
    void copyControlPacket(size_t offset, ScanState& scan) override;
    void dsiPacket(size_t offset, ScanState& scan) override;

private:
    void subpicture(const Packet& packet);
    void pgsSubpicture(const Packet& packet);
    void writePgsSets(const StreamContext& stream, std::span<const PgsDisplaySet> sets,
                      bool forced = false);

    JobRecords& state_;
    Reporter& reporter_;
    const PassOptions& options_;
    FrameCounter frames_;
    std::vector<SupRecord>* records_ = nullptr;
    std::array<VobSubWriter, 32>* vobSub_ = nullptr;
    ForcedSubpictures* forced_ = nullptr;
    std::unique_ptr<std::array<PgsConverter, 32>> pgs_;
    std::vector<uint8_t> pgsRecords_;  // a display set's records, reused
    std::vector<size_t> pgsTimes_;
    std::array<bool, 32> pgsFailureSaid_{};
    // The forced subpictures of each stream `forced_` has an output for, as PGS.
    std::unique_ptr<std::array<PgsConverter, 32>> forcedPgs_;
    std::array<uint64_t, 32> forcedBytes_{};
    // Bytes written to each subpicture output, while records are noted.
    std::array<uint64_t, kMaxStreams> subBytes_{};  // by registry slot
};

}  // namespace tolvane
