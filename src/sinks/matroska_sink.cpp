#include "sinks/matroska_sink.h"

#include "format/pgs_display_set.h"
#include "format/subpicture_unit.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <span>

#include "sinks/wav_writer.h"

namespace tolvane {

namespace {

constexpr int64_t kTicksPerSecond = 90000;
// An LPCM packet time this far from the samples' own count starts the count anew.
constexpr int64_t kLpcmResync = kTicksPerSecond / 100;

// The temporal reference of the first picture header in an MPEG-1/2 access unit; none without
// one. Whether the unit begins a group of pictures (a sequence or GOP header before it).
struct PictureOrder {
    std::optional<int> temporalReference;
    bool newGroup = false;
};

PictureOrder pictureOrder(const uint8_t* data, size_t size) {
    PictureOrder order;
    for (size_t k = 0; k + 5 < size; ++k) {
        if (data[k] != 0 || data[k + 1] != 0 || data[k + 2] != 1) {
            continue;
        }
        const uint8_t code = data[k + 3];
        if (code == 0xB3 || code == 0xB8) {
            order.newGroup = true;
        } else if (code == 0x00) {
            order.temporalReference = data[k + 4] << 2 | data[k + 5] >> 6;
            break;
        }
    }
    return order;
}

int64_t frameTicksOf(const StreamContext& stream) {
    const double rate =
        stream.frameRate > 0 ? stream.frameRate : stream.header.frameRate.value_or(25.0);
    return std::llround(kTicksPerSecond / rate);
}

// How long a picture shows. The parser counts its fields past the first: a frame shows two.
int64_t pictureTicks(const StreamContext& stream, const ParsedFrame& picture) {
    const int64_t frameTicks = frameTicksOf(stream);
    return picture.repeatFields > 0 ? frameTicks * (1 + picture.repeatFields) / 2 : frameTicks;
}

}  // namespace

namespace {

// The samples one packet completes, gathered for one block.
struct Gathered : OutputSink {
    std::vector<uint8_t> bytes;
    void append(const uint8_t* data, size_t length) override {
        bytes.insert(bytes.end(), data, data + length);
    }
};

}  // namespace

struct MatroskaSink::Track {
    StreamContext* stream = nullptr;
    TrackNaming naming;
    size_t index = 0;
    std::unique_ptr<FrameParser> parser;
    // Where times not carried by a packet are taken from.
    std::optional<int64_t> lastPts;
    std::optional<int64_t> lastDts;
    int64_t lastDuration = 0;
    // Video: how long a reference picture shows after it is decoded.
    int64_t referenceDelay = 0;
    // H.264: a picture of the current group with a time, and its picture order count.
    std::optional<std::pair<int, int64_t>> groupAnchor;
    // MPEG-1/2: the pictures of the current group, timed when it is whole, and where the group
    // before it ends showing.
    std::vector<GroupPicture> group;
    size_t groupSize = 0;
    size_t groupBytes = 0;
    std::vector<int64_t> groupOffsets;
    std::vector<size_t> groupShown;
    std::optional<int64_t> groupEnd;
    // Frames before the stream's first time.
    std::vector<UntimedFrame> untimed;
    size_t untimedBytes = 0;
    // LPCM: its samples, and the time the samples so far end at.
    std::optional<LpcmSamples> samples;
    std::optional<int64_t> sampleClock;
    Gathered gathered;
    // Subpictures: the unit being gathered; HD DVD's turned into PGS display sets.
    SubpictureGatherer subpictures;
    std::unique_ptr<PgsConverter> pgs;
    // Left out when the file began: its frames go nowhere.
    bool dropped = false;
};

MatroskaSink::MatroskaSink(FileOutput& out, std::string title,
                           std::vector<MatroskaChapter> chapters)
    : out_(out), title_(std::move(title)), chapters_(std::move(chapters)) {}

MatroskaSink::~MatroskaSink() = default;

bool MatroskaSink::addStream(StreamContext& stream, TrackNaming naming) {
    if (begun_) {
        return false;
    }
    auto track = std::make_unique<Track>();
    track->stream = &stream;
    track->naming = std::move(naming);
    track->index = tracks_.size();
    const StreamCoding coding =
        stream.kind == StreamKind::Subpicture ? StreamCoding::Subpicture : stream.coding;
    // LPCM and subpictures are cut here; every other coding by FFmpeg's parser of it.
    if (coding != StreamCoding::Lpcm && coding != StreamCoding::Subpicture &&
        coding != StreamCoding::Sdds) {
        track->parser = mediaLibrary().parser(coding);
        if (track->parser == nullptr) {
            throw std::bad_alloc();
        }
    }
    if (track->naming.presentationGraphics) {
        track->pgs = std::make_unique<PgsConverter>(track->naming.forcedOnly);
    }
    tracks_.push_back(std::move(track));
    return true;
}

void MatroskaSink::packet(const Packet& packet) {
    // A stream has one track, or two (its forced subpictures apart). Cutting may begin the
    // file, which reorders the list: the tracks are found first, then cut.
    std::array<Track*, 2> found{};
    size_t count = 0;
    for (const std::unique_ptr<Track>& track : tracks_) {
        if (track->stream == packet.stream && count < found.size()) {
            found[count++] = track.get();
        }
    }
    for (size_t k = 0; k < count; ++k) {
        Track& track = *found[k];
        if (packet.kind == StreamKind::Subpicture) {
            cutSubpicture(track, packet);
        } else if (packet.coding == StreamCoding::Lpcm) {
            cutLpcm(track, packet);
        } else if (packet.kind == StreamKind::Video) {
            cutVideo(track, packet);
        } else {
            cutAudio(track, packet);
        }
    }
}

void MatroskaSink::cutVideo(Track& track, const Packet& packet) {
    std::optional<int64_t> dts;
    if (packet.time && packet.pts) {
        // The decoding time lies as far before the presentation as the header says; a header
        // without one decodes the picture when it shows it.
        dts = *packet.time - static_cast<int64_t>((*packet.pts - packet.dts.value_or(*packet.pts)) &
                                                  ((1ull << 33) - 1));
    }
    parse(track, packet.payload.data(), packet.payload.size(), packet.time, dts);
}

void MatroskaSink::cutAudio(Track& track, const Packet& packet) {
    parse(track, packet.payload.data(), packet.payload.size(), packet.time, std::nullopt);
}

void MatroskaSink::parse(Track& track, const uint8_t* data, size_t size, std::optional<int64_t> pts,
                         std::optional<int64_t> dts) {
    const bool last = data == nullptr;
    ParsedFrame parsed;
    do {
        const long used = track.parser->parse(data, size, pts, dts, parsed);
        if (used < 0) {
            return;
        }
        if (!last) {
            data += used;
            size -= static_cast<size_t>(used);
        }
        // Only the first frame that starts in this payload takes its times.
        pts.reset();
        dts.reset();
        if (parsed.size == 0) {
            continue;
        }
        const StreamCoding coding = track.stream->coding;
        if (track.stream->kind == StreamKind::Video &&
            (coding == StreamCoding::Mpeg2 || coding == StreamCoding::Mpeg1)) {
            gatherPicture(track, parsed);
        } else {
            place(track, parsed);
        }
    } while (size > 0);
}

void MatroskaSink::gatherPicture(Track& track, const ParsedFrame& parsed) {
    const PictureOrder order = pictureOrder(parsed.data, parsed.size);
    if (order.newGroup && track.groupSize > 0) {
        settleGroup(track);
    }
    if (track.groupSize == track.group.size()) {
        track.group.emplace_back();
    }
    // The group's pictures keep their buffers from one group to the next.
    GroupPicture& picture = track.group[track.groupSize++];
    picture.bytes.assign(parsed.data, parsed.data + parsed.size);
    picture.frame = parsed;
    picture.temporalReference = order.temporalReference.value_or(-1);
    track.groupBytes += parsed.size;
    if (track.groupSize >= kGroupPictures || track.groupBytes >= kHeldBytes) {
        settleGroup(track);
    }
}

void MatroskaSink::settleGroup(Track& track) {
    const size_t count = track.groupSize;
    track.groupSize = 0;
    track.groupBytes = 0;
    std::span<GroupPicture> group(track.group.data(), count);
    // Where each picture shows in the group, from the start of its first: the pictures before
    // it in display order (temporal reference) one after the other, each as long as its fields
    // last (a repeated first field makes it half a frame longer, as in soft telecine).
    const int64_t frameTicks = frameTicksOf(*track.stream);
    std::vector<int64_t>& offsets = track.groupOffsets;
    offsets.assign(count, 0);
    std::vector<size_t>& shown = track.groupShown;
    shown.resize(count);
    for (size_t k = 0; k < count; ++k) {
        shown[k] = k;
    }
    // In place, without a buffer: ties keep their decoding order.
    std::sort(shown.begin(), shown.end(), [&](size_t a, size_t b) {
        return std::pair(group[a].temporalReference, a) < std::pair(group[b].temporalReference, b);
    });
    int64_t at = 0;
    for (size_t k = 0; k < count; ++k) {
        const GroupPicture& picture = group[shown[k]];
        if (k > 0) {
            const GroupPicture& before = group[shown[k - 1]];
            // A temporal reference the group lacks stands for a picture of one frame.
            const int missing = picture.temporalReference - before.temporalReference - 1;
            at += pictureTicks(*track.stream, before.frame) + std::max(missing, 0) * frameTicks;
        }
        offsets[shown[k]] = at;
    }
    // The group's place: a picture with its own time, else the end of the group before.
    std::optional<int64_t> start;
    for (size_t k = 0; k < count && !start; ++k) {
        if (group[k].frame.pts && group[k].temporalReference >= 0) {
            start = *group[k].frame.pts - offsets[k];
        }
    }
    if (!start) {
        start = track.groupEnd;
    }
    if (start) {
        for (size_t k = 0; k < count; ++k) {
            ParsedFrame& frame = group[k].frame;
            if (!frame.pts) {
                frame.pts = *start + offsets[k];
            }
        }
        // Decoded in order, none after it shows, and half a frame before every picture after
        // it shows: far enough apart to stay in order in the file's milliseconds.
        std::optional<int64_t> later;
        for (size_t k = count; k-- > 0;) {
            ParsedFrame& frame = group[k].frame;
            if (!frame.dts) {
                frame.dts = later ? std::min(*frame.pts, *later - frameTicks / 2) : *frame.pts;
            }
            later = std::min(later.value_or(*frame.pts), *frame.pts);
        }
        int64_t end = *start;
        for (size_t k = 0; k < count; ++k) {
            end = std::max(end, *group[k].frame.pts + pictureTicks(*track.stream, group[k].frame));
        }
        track.groupEnd = end;
    }
    for (GroupPicture& picture : group) {
        picture.frame.data = picture.bytes.data();
        place(track, picture.frame);
    }
}

void MatroskaSink::place(Track& track, const ParsedFrame& parsed) {
    std::optional<int64_t> framePts = parsed.pts;
    std::optional<int64_t> frameDts = parsed.dts;
    const StreamContext& stream = *track.stream;
    int64_t duration = 0;
    bool key = true;
    if (stream.kind == StreamKind::Video) {
        const int64_t frameTicks = frameTicksOf(stream);
        duration = pictureTicks(stream, parsed);
        key = parsed.key;
        // An H.264 picture without a time shows where its picture order count (two a frame,
        // anew from each IDR picture) puts it, counted from one of its group that has a time.
        std::optional<int> order;
        if (stream.coding == StreamCoding::H264) {
            if (parsed.key && parsed.pictureOrder == 0) {
                track.groupAnchor.reset();
            }
            order = parsed.pictureOrder;
        }
        const bool timed = framePts.has_value();
        if (order && !timed && track.groupAnchor) {
            framePts =
                track.groupAnchor->second + (*order - track.groupAnchor->first) * frameTicks / 2;
        }
        if (!frameDts && track.lastDts) {
            frameDts = *track.lastDts + track.lastDuration;
        }
        if (!framePts && frameDts) {
            // A B-picture shows as it is decoded, a reference picture as far after it as the
            // last one with both times.
            framePts = *frameDts + (parsed.bidirectional ? 0 : track.referenceDelay);
        }
        if (timed && frameDts && !parsed.bidirectional) {
            track.referenceDelay = std::max<int64_t>(*framePts - *frameDts, 0);
        }
        if (order && framePts && (timed || !track.groupAnchor)) {
            track.groupAnchor = std::pair(*order, *framePts);
        }
    } else {
        const int rate = track.parser->sampleRate();
        if (rate > 0 && parsed.samples > 0) {
            duration = int64_t{parsed.samples} * kTicksPerSecond / rate;
        }
        if (!framePts && track.lastPts) {
            framePts = *track.lastPts + track.lastDuration;
        }
    }
    if (!framePts) {
        holdUntimed(track, parsed);
        return;
    }
    track.untimed.clear();  // frames before the stream's first time: nothing places them
    track.untimedBytes = 0;
    track.lastPts = framePts;
    track.lastDts = frameDts.value_or(*framePts);
    track.lastDuration = duration;
    emit(track, parsed.data, parsed.size, *framePts, frameDts, key, duration);
}

void MatroskaSink::holdUntimed(Track& track, const ParsedFrame& parsed) {
    if (track.untimed.size() < kUntimedFrames && track.untimedBytes < kHeldBytes) {
        UntimedFrame held{parsed, {parsed.data, parsed.data + parsed.size}};
        track.untimed.push_back(std::move(held));
        track.untimedBytes += parsed.size;
        return;
    }
    placeUntimed(track);
    place(track, parsed);
}

void MatroskaSink::placeUntimed(Track& track) {
    // So many frames and no time, or none to the end: the stream carries none (a muxer wrote
    // it so). It starts with the title, each frame after the last in decoding order, rather
    // than being lost.
    std::vector<UntimedFrame> held = std::move(track.untimed);
    track.untimed.clear();
    track.untimedBytes = 0;
    const int64_t start = zero_.value_or(heldFirst_.value_or(0));
    for (size_t k = 0; k < held.size(); ++k) {
        ParsedFrame frame = held[k].frame;
        frame.data = held[k].bytes.data();
        if (k == 0) {
            // Decoded two frames ahead of its showing, as a stream with B-pictures must be:
            // the pictures after it show before they are decoded.
            frame.pts = start;
            frame.dts = track.stream->kind == StreamKind::Video
                            ? start - 2 * frameTicksOf(*track.stream)
                            : start;
        }
        place(track, frame);
    }
}

void MatroskaSink::cutLpcm(Track& track, const Packet& packet) {
    if (!track.samples) {
        track.samples.emplace(lpcmFormat(track.stream->codecPrivate).value_or(LpcmFormat{}));
    }
    Gathered& gathered = track.gathered;
    gathered.bytes.clear();  // its capacity stays: no allocation per packet
    track.samples->append(packet.payload.data(), packet.payload.size(), gathered);
    if (packet.time &&
        (!track.sampleClock || std::abs(*packet.time - *track.sampleClock) > kLpcmResync)) {
        track.sampleClock = packet.time;
    }
    if (!track.sampleClock || gathered.bytes.empty()) {
        return;
    }
    const LpcmFormat& format = track.samples->format();
    const auto frames = static_cast<int64_t>(gathered.bytes.size() / track.samples->frameBytes());
    const int64_t duration = frames * kTicksPerSecond / format.sampleRate;
    emit(track, gathered.bytes.data(), gathered.bytes.size(), *track.sampleClock, std::nullopt,
         true, duration);
    *track.sampleClock += duration;
}

void MatroskaSink::cutSubpicture(Track& track, const Packet& packet) {
    if (track.pgs != nullptr) {
        for (const PgsDisplaySet& set : track.pgs->add(packet.payload, packet.time)) {
            emit(track, set.segments.data(), set.segments.size(), set.time, std::nullopt, true, 0);
        }
        return;
    }
    if (const std::optional<std::span<const uint8_t>> unit =
            track.subpictures.add(packet.payload, packet.time);
        unit && (!track.naming.forcedOnly || forcedSubpicture(*unit))) {
        emit(track, unit->data(), unit->size(), track.subpictures.time(), std::nullopt, true, 0);
    }
}

void MatroskaSink::emit(Track& track, const uint8_t* data, size_t size, int64_t pts,
                        std::optional<int64_t> dts, bool key, int64_t duration) {
    if (track.dropped) {
        return;
    }
    if (track.stream->kind == StreamKind::Video && !firstVideo_) {
        firstVideo_ = pts;
    }
    if (begun_) {
        if (writer_) {
            const int64_t zero = zero_.value_or(0);
            writer_->write(track.index, data, size, pts - zero,
                           dts ? std::optional(*dts - zero) : std::nullopt, key, duration);
        }
        return;
    }
    Block block{track.index, {data, data + size}, pts, dts, key, duration};
    heldBytes_ += size;
    heldFirst_ = std::min(heldFirst_.value_or(pts), pts);
    heldLast_ = std::max(heldLast_, pts);
    held_.push_back(std::move(block));
    if ((heldLast_ - *heldFirst_ >= kHeldTicks && described()) || heldBytes_ >= kHeldBytes) {
        begin();
    }
}

namespace {

// A size of 0 is none: a muxer refuses the file of such a track.
bool pictureSizeKnown(const StreamHeader& header) {
    return header.width.value_or(0) > 0 && header.height.value_or(0) > 0;
}

}  // namespace

bool MatroskaSink::described() const {
    for (const std::unique_ptr<Track>& track : tracks_) {
        const StreamContext& stream = *track->stream;
        const StreamHeader& header = stream.header;
        switch (stream.kind) {
            case StreamKind::Video:
                if (stream.codecPrivate.empty() || !pictureSizeKnown(header)) {
                    return false;
                }
                break;
            case StreamKind::Audio:
                if (stream.coding == StreamCoding::Lpcm ? !track->samples
                                                        : track->parser->sampleRate() <= 0) {
                    return false;
                }
                break;
            case StreamKind::Subpicture:
                break;
        }
    }
    return true;
}

void MatroskaSink::begin() {
    // Tracks in the order of the boxes (video, audio, subpictures, each by number), whatever
    // order they came in.
    // A video stream that never gave its picture size (no sequence header: damaged or not
    // video at all) has no track a player could open: it is left out, and so is DVD-Audio LPCM
    // whose samples have no order a player reads (20 bits, groups at two rates).
    std::vector<std::unique_ptr<Track>> ordered;
    std::vector<std::optional<size_t>> renumbered(tracks_.size());
    for (std::unique_ptr<Track>& track : tracks_) {
        const StreamContext& stream = *track->stream;
        const bool unordered =
            stream.coding == StreamCoding::Lpcm && !lpcmOrderKnown(stream.codecPrivate);
        if ((stream.kind == StreamKind::Video && !pictureSizeKnown(stream.header)) || unordered) {
            leftOut_.push_back(track->stream);
            // Kept alive: the file may begin inside a call on this very track.
            track->dropped = true;
            dropped_.push_back(std::move(track));
        } else {
            ordered.push_back(std::move(track));
        }
    }
    std::stable_sort(ordered.begin(), ordered.end(), [](const auto& a, const auto& b) {
        return a->stream->kind != b->stream->kind ? a->stream->kind < b->stream->kind
                                                  : a->stream->number < b->stream->number;
    });
    for (size_t k = 0; k < ordered.size(); ++k) {
        renumbered[ordered[k]->index] = k;
        ordered[k]->index = k;
    }
    tracks_ = std::move(ordered);
    std::erase_if(held_, [&](const Block& block) { return !renumbered[block.track]; });
    for (Block& block : held_) {
        block.track = *renumbered[block.track];
        zero_ = std::min(zero_.value_or(block.pts), block.pts);
    }
    described_.clear();
    for (const std::unique_ptr<Track>& track : tracks_) {
        const StreamContext& stream = *track->stream;
        MatroskaTrack described;
        described.kind = stream.kind;
        described.coding =
            stream.kind == StreamKind::Subpicture ? StreamCoding::Subpicture : stream.coding;
        described.language = track->naming.language;
        described.name = track->naming.name;
        described.isDefault = track->naming.isDefault;
        described.isForced = track->naming.forcedOnly || track->naming.isForced;
        described.presentationGraphics = track->naming.presentationGraphics;
        if (stream.kind == StreamKind::Video) {
            described.codecPrivate = stream.codecPrivate;
            described.width = static_cast<int>(stream.header.width.value_or(0));
            described.height = static_cast<int>(stream.header.height.value_or(0));
        } else if (stream.kind == StreamKind::Subpicture) {
            described.codecPrivate = track->naming.subpictureHeader;
        } else if (track->samples) {
            const LpcmFormat& format = track->samples->format();
            described.sampleRate = format.sampleRate;
            described.channels = format.channels;
            described.bits = format.bits;
        } else {
            const int rate = track->parser->sampleRate();
            const int channels = track->parser->channels();
            described.sampleRate =
                rate > 0 ? rate : static_cast<int>(stream.header.sampleRate.value_or(48000));
            described.channels =
                channels > 0 ? channels : static_cast<int>(stream.header.channels.value_or(2));
        }
        described_.push_back(std::move(described));
    }
    std::vector<MatroskaChapter> chapters = chapters_;
    // Chapters count from the first video frame, the file from its earliest block.
    const int64_t shift = zero_ && firstVideo_ ? *firstVideo_ - *zero_ : 0;
    for (MatroskaChapter& chapter : chapters) {
        chapter.start += shift;
        chapter.end += shift;
    }
    begun_ = true;
    // No track, no file: what is held has nowhere to go.
    if (!described_.empty()) {
        writer_ = std::make_unique<MatroskaWriter>(out_, described_, chapters, title_);
        for (const Block& block : held_) {
            write(block);
        }
    }
    held_.clear();
    held_.shrink_to_fit();
    heldBytes_ = 0;
}

void MatroskaSink::write(const Block& block) {
    const int64_t zero = zero_.value_or(0);
    writer_->write(block.track, block.data.data(), block.data.size(), block.pts - zero,
                   block.dts ? std::optional(*block.dts - zero) : std::nullopt, block.key,
                   block.duration);
}

void MatroskaSink::finish() {
    // The file may begin while the last frames are cut, and reorder the tracks.
    std::vector<Track*> all;
    for (const std::unique_ptr<Track>& track : tracks_) {
        all.push_back(track.get());
    }
    for (Track* track : all) {
        if (track->parser != nullptr) {
            parse(*track, nullptr, 0, std::nullopt, std::nullopt);
        }
        if (track->groupSize > 0) {
            settleGroup(*track);
        }
        if (!track->untimed.empty() && !track->lastPts) {
            placeUntimed(*track);
        }
        if (track->pgs != nullptr) {
            for (const PgsDisplaySet& set : track->pgs->finish()) {
                emit(*track, set.segments.data(), set.segments.size(), set.time, std::nullopt, true,
                     0);
            }
        }
    }
    if (!begun_) {
        begin();
    }
    if (writer_) {
        writer_->finish();
    }
}

}  // namespace tolvane
