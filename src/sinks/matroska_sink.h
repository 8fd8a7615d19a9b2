#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/file_output.h"
#include "demux/pass_hooks.h"
#include "demux/stream_registry.h"
#include "sinks/matroska_writer.h"

namespace tolvane {

// What a track is called and how it is marked, from the disc and the job's choice.
struct TrackNaming {
    std::string language;  // ISO 639-2
    std::string name;
    bool isDefault = false;
    // Subpictures: the track takes the stream's forced subpictures only, and is marked forced.
    bool forcedOnly = false;
    // Marked forced: the disc says the stream holds forced subpictures only.
    bool isForced = false;
    // Subpictures: the VobSub index header (frame size and palette) a player needs.
    std::vector<uint8_t> subpictureHeader;
    // Subpictures: HD DVD's, written as PGS display sets.
    bool presentationGraphics = false;
};

// The Matroska file of a pass: each chosen stream's packets cut into blocks (a video access
// unit, whole audio frames, a whole subpicture) with their times on the title's timeline, the
// file's zero at the earliest of them. Blocks are held until kHeldTicks of the source have
// passed (streams that first show later have no track) and every track knows what its header
// needs (sizes, rates, codec private data), or until kHeldBytes are held; then the file begins.
class MatroskaSink {
public:
    static constexpr size_t kHeldBytes = size_t{32} << 20;
    static constexpr int64_t kHeldTicks = 2 * 90000;
    // Frames of a stream without a time held before it counts as carrying none: more than the
    // pictures an open group shows before its first time (and never more than kHeldBytes).
    static constexpr size_t kUntimedFrames = 64;
    // The most MPEG-1/2 pictures (and kHeldBytes) timed as one group: far more than a disc's
    // group holds.
    static constexpr size_t kGroupPictures = 128;

    // `chapters` count from the title's first video frame.
    MatroskaSink(FileOutput& out, std::string title, std::vector<MatroskaChapter> chapters);
    ~MatroskaSink();
    MatroskaSink(const MatroskaSink&) = delete;
    MatroskaSink& operator=(const MatroskaSink&) = delete;

    // A chosen stream, met or announced: it gets a track, in the order streams are added (a
    // subpicture stream may get a second, of its forced subpictures); false once the file has
    // begun, which has its tracks.
    bool addStream(StreamContext& stream, TrackNaming naming);
    void packet(const Packet& packet);
    // The blocks still held or cut, the index. Throws JobError when the file cannot be written.
    void finish();

    // The tracks as written; empty before the file began, and when no stream has one (the
    // file is then not written).
    const std::vector<MatroskaTrack>& tracks() const { return described_; }
    // The file's zero on the title's timeline, once the file has begun.
    std::optional<int64_t> zero() const { return zero_; }
    // The streams added that have no track: video that never gave its picture size.
    const std::vector<const StreamContext*>& leftOut() const { return leftOut_; }

private:
    struct Track;
    struct Block {
        size_t track = 0;
        std::vector<uint8_t> data;
        int64_t pts = 0;
        std::optional<int64_t> dts;
        bool key = false;
        int64_t duration = 0;
    };

    void cutVideo(Track& track, const Packet& packet);
    void cutAudio(Track& track, const Packet& packet);
    void cutLpcm(Track& track, const Packet& packet);
    void cutSubpicture(Track& track, const Packet& packet);
    struct GroupPicture {
        std::vector<uint8_t> bytes;
        ParsedFrame frame;
        int temporalReference = -1;
    };
    struct UntimedFrame {
        ParsedFrame frame;
        std::vector<uint8_t> bytes;
    };
    // The frames the track's parser completed from `data` (none: its last frame).
    void parse(Track& track, const uint8_t* data, size_t size, std::optional<int64_t> pts,
               std::optional<int64_t> dts);
    // MPEG-1/2 pictures are timed a group at a time: a picture without a time shows after the
    // pictures before it in display order, whose lengths are known once the group is whole.
    void gatherPicture(Track& track, const ParsedFrame& parsed);
    void settleGroup(Track& track);
    // Times a frame the parser completed and writes or holds it.
    void place(Track& track, const ParsedFrame& parsed);
    void holdUntimed(Track& track, const ParsedFrame& parsed);
    void placeUntimed(Track& track);
    void emit(Track& track, const uint8_t* data, size_t size, int64_t pts,
              std::optional<int64_t> dts, bool key, int64_t duration);
    bool described() const;
    void begin();
    void write(const Block& block);

    FileOutput& out_;
    std::string title_;
    std::vector<MatroskaChapter> chapters_;
    std::vector<std::unique_ptr<Track>> tracks_;
    std::vector<std::unique_ptr<Track>> dropped_;
    std::vector<Block> held_;
    size_t heldBytes_ = 0;
    std::optional<int64_t> heldFirst_;
    int64_t heldLast_ = 0;
    std::vector<MatroskaTrack> described_;
    std::vector<const StreamContext*> leftOut_;
    std::unique_ptr<MatroskaWriter> writer_;
    bool begun_ = false;  // the tracks are settled; a writer when there is one
    // The file's zero on the title's timeline, and the first video frame's time.
    std::optional<int64_t> zero_;
    std::optional<int64_t> firstVideo_;
};

}  // namespace tolvane
