#include "sinks/detection_pass.h"

#include <string>

#include "core/number_format.h"
#include "demux/pack_engine.h"
#include "format/codec_private.h"
#include "sinks/navigation.h"

namespace tolvane {

namespace {

LogEvent registrationPrefix(StreamCoding coding, int32_t key) {
    switch (coding) {
        case StreamCoding::Mpeg2:
            return {asStrong("MPEG-2"), " video stream "};
        case StreamCoding::Mpeg1:
            return {asStrong("MPEG-1"), " video stream "};
        case StreamCoding::H264:
            return {asStrong("H.264 (AVC)"), " video stream "};
        case StreamCoding::Vc1:
            return {asStrong("VC-1"), " video stream "};
        case StreamCoding::Subpicture:
            return {asStrong(key < 0x40 ? "Subpicture" : "Extended subpicture"), " stream "};
        case StreamCoding::Ac3:
            return {asStrong("Dolby Digital"), " audio stream "};
        case StreamCoding::Dts:
            return {asStrong("DTS HD (DTS)"), " audio stream "};
        case StreamCoding::Eac3:
            return {asStrong("Dolby Digital"), " Plus audio stream "};
        case StreamCoding::TrueHd:
            return {asStrong("Dolby TrueHD"), " audio stream "};
        case StreamCoding::Mlp:
            return {asStrong("MLP"), " audio stream "};
        case StreamCoding::Lpcm:
            return {asStrong("LPCM"), " audio stream "};
        case StreamCoding::Mp1:
            return {asStrong("MPEG Layer I"), " audio stream "};
        case StreamCoding::Mp2:
            return {asStrong("MPEG Layer II"), " audio stream "};
        case StreamCoding::Mp3:
            break;
        case StreamCoding::Sdds:
            return {asStrong("SDDS"), " audio stream "};  // never read: no stream has it
    }
    return {asStrong("MPEG Layer III"), " audio stream "};
}

}  // namespace

std::optional<int64_t> DetectionPass::fastCheckLimit() {
    if (!options_.fastCheck()) {
        return std::nullopt;
    }
    return options_.fastSizeMb() * kMebibyte;
}

void DetectionPass::spanStarted(size_t /*span*/) {
    // Each file of a feature reports its streams and counts its frames anew.
    frames_ = FrameCounter{};
    timed_ = {};
    untimedPackets_ = {};
}

void DetectionPass::streamRegistered(const StreamContext& stream, ScanState&) {
    heading(stream);
}

void DetectionPass::heading(const StreamContext& stream) {
    const StreamCoding coding =
        stream.kind == StreamKind::Subpicture ? StreamCoding::Subpicture : stream.coding;
    reporter_.log(registrationPrefix(coding, stream.id)
                  << std::to_string(stream.number) + " found!");
    lastHeading_ = stream.slot;
}

void DetectionPass::withoutNumber(StreamKind kind, int32_t key) {
    if (!firstMention(state_.streams.withoutNumberReported, kind, key)) {
        return;
    }
    const std::string line = streamText(kind, key) + " has no stream box: every " +
                             streamKindName(kind) + " box is taken.";
    reporter_.log(line);
    state_.streams.warnings.push_back(line);
}

void DetectionPass::systemHeaderRead(ScanState& scan) {
    if (state_.job.source->kind() != SourceKind::DvdAudioFile) {
        return;
    }
    LogEvent line{"It contains"};
    if (scan.videoBound > 0) {
        line << " " << asStrong(std::to_string(scan.videoBound)) << " video stream and";
    }
    line << " " << asStrong(std::to_string(scan.audioBound))
         << (scan.audioBound > 1 ? " audio streams." : " audio stream.");
    reporter_.log(line);
}

void DetectionPass::takeFirstTime(const Packet& packet) {
    // The first packet of the stream that carries a PTS gives its first time (the first
    // file's, when both files carry the stream) and may lower the job's minPts, whether or
    // not details are shown: delays and .sup times count from them.
    StreamContext& stream = *packet.stream;
    if (packet.kind != StreamKind::Subpicture) {
        stream.timing.take(static_cast<int64_t>(packet.length), packet.time,
                           packet.kind == StreamKind::Audio ? packet.firstUnitAt : 0);
    }
    if (packet.time && !timed_.test(stream.slot)) {
        timed_.set(stream.slot);
        if (!stream.firstPts) {
            stream.firstPts = packet.time;
        }
        if (*packet.time < state_.job.minPts) {
            state_.job.minPts = *packet.time;
        }
    }
}

bool DetectionPass::firstReport(const Packet& packet, bool& reported, bool beginsAccessUnit) {
    // Its details come from its first packet that carries a PTS: a file cut inside a stream
    // begins with the rest of a frame. A stream whose packets carry none is reported at a
    // packet that begins a picture, or at its 32nd packet.
    if (reported) {
        return false;
    }
    if (!packet.pts) {
        uint8_t& waited = untimedPackets_[packet.stream->slot];
        if (!beginsAccessUnit && ++waited < kUntimedPacketsAwaited) {
            return false;
        }
    }
    reported = true;
    // Details that waited for a later packet go under their own stream's heading, said again
    // when another stream's came in between.
    if (lastHeading_ != packet.stream->slot) {
        heading(*packet.stream);
    }
    reporter_.log(packet.pts ? LogEvent{"   First PTS = ", asTime(hexUpper(*packet.pts, 8))}
                             : LogEvent{"   First PTS = none"});
    reporter_.log("   Substream id = " + hexUpper(static_cast<uint32_t>(idByteOf(packet.key)), 2));
    if (const std::string language = languageOf(state_.job.languages, packet.kind, packet.key);
        !language.empty()) {
        reporter_.log("   Language = " + language);
    }
    if (const std::string viewport = viewportOf(state_.job.languages, packet.kind, packet.key);
        !viewport.empty()) {
        reporter_.log("   Viewport = " + viewport);
    }
    return true;
}

void DetectionPass::audioDetails(const Packet& packet) {
    StreamContext& stream = *packet.stream;
    if (!firstReport(packet, stream.reported, false)) {
        return;
    }
    const HeaderPayload payload{
        packet.offset,         packet.length, packet.number, packet.pts.value_or(0), 0,
        packet.lpcmHeaderBytes};
    analysers_.analyse(stream.coding, payload);
}

void DetectionPass::videoDetails(const Packet& packet) {
    StreamContext& stream = *packet.stream;
    const uint8_t* data = packet.payload.data();
    const bool startCode = packet.length >= 4 && data[0] == 0 && data[1] == 0 &&
                           (data[2] == 1 || (data[2] == 0 && data[3] == 1));
    if (!firstReport(packet, stream.reported, startCode)) {
        return;
    }
    // The video header's PTS line shows the clock's 32 low bits, as it always did.
    const HeaderPayload payload{packet.offset, packet.length, packet.number,
                                static_cast<uint32_t>(packet.pts.value_or(0)),
                                packet.dts.value_or(0)};
    analysers_.analyse(stream.coding, payload);
}

void DetectionPass::subpictureDetails(const Packet& packet) {
    StreamContext& stream = *packet.stream;
    if (!firstReport(packet, stream.reported, false)) {
        return;
    }
    // Only the packet's own bytes are looked at: a one-byte run counts as 2-bit.
    const uint8_t* data = packet.payload.data();
    const bool eightBit = packet.length >= 2 && data[0] == 0 && data[1] == 0;
    reporter_.log({"   Format = ", asValue(eightBit ? "8bitRLE" : "2bitRLE")});
}

void DetectionPass::keepCodecPrivate(const Packet& packet) {
    StreamContext& stream = *packet.stream;
    // A stream's headers come with its first units; one that shows none by then has none.
    if (!stream.codecPrivate.empty() || stream.codecPrivateTries >= kCodecPrivateTries) {
        return;
    }
    ++stream.codecPrivateTries;
    if (packet.kind == StreamKind::Video) {
        stream.codecPrivate =
            videoCodecPrivate(stream.coding, packet.payload.data(), packet.payload.size());
    } else {
        // The packet's header bytes before the payload lie in the block when the packet began
        // in it.
        stream.codecPrivate = audioHeaderBytes(
            stream.coding, packet.payload.data(), packet.payload.size(), packet.firstUnitAt,
            state_.job.buffer.data(), packet.offset, packet.lpcmHeaderBytes);
    }
}

void DetectionPass::captionsIn(const Packet& packet) {
    constexpr uint8_t kUserDataStart = 0xB2;
    const std::span<const uint8_t> data = packet.payload;
    // The vector search first: most packets hold no user data. User data cut by the packet's
    // end is passed over; a stream with captions has them in every group.
    if (frameCodesWithin(data.data(), data.size(), kUserDataStart) == 0) {
        return;
    }
    StreamContext& stream = *packet.stream;
    std::vector<CaptionWord>& words = captionWords_;
    for (size_t at = 0; at + 4 <= data.size(); ++at) {
        if (data[at] != 0 || data[at + 1] != 0 || data[at + 2] != 1 ||
            data[at + 3] != kUserDataStart) {
            continue;
        }
        size_t end = at + 4;
        while (end + 3 <= data.size() &&
               !(data[end] == 0 && data[end + 1] == 0 && data[end + 2] == 1)) {
            ++end;
        }
        words.clear();
        const CaptionForm form = captionWords(data.subspan(at + 4, end - at - 4), words);
        if (form != CaptionForm::None && stream.captionForm == CaptionForm::None) {
            stream.captionForm = form;
        }
        if (form == CaptionForm::None || form != stream.captionForm) {
            continue;
        }
        auto& decoder = captions_[static_cast<size_t>(packet.number)];
        if (!decoder) {
            decoder = std::make_unique<CaptionDecoder>(false);
        }
        for (const CaptionWord& word : words) {
            decoder->word(word.field, word.first, word.second, 0);
        }
        stream.captionChannels = decoder->channelsWithText();
        at = end - 1;
    }
}

void DetectionPass::packet(const Packet& packet) {
    const bool video = packet.kind == StreamKind::Video;
    if (video && options_.countFrames()) {
        frames_.count(packet.payload.data(), packet.payload.size(), packet.coding, packet.number,
                      packet.stream->frameCount);
    }
    if (video && packet.number >= 0 && packet.number < 2 &&
        (packet.coding == StreamCoding::Mpeg2 || packet.coding == StreamCoding::Mpeg1)) {
        captionsIn(packet);
    }
    takeFirstTime(packet);
    if (packet.kind != StreamKind::Subpicture && packet.unitStart) {
        keepCodecPrivate(packet);
    }
    if (packet.kind == StreamKind::Subpicture) {
        StreamContext& stream = *packet.stream;
        if (const auto unit = subpictureUnits_[stream.slot].add(packet.payload, packet.time)) {
            ++stream.subpictures;
            stream.forcedSubpictures += forcedSubpicture(*unit) ? 1 : 0;
        }
    }
    if (!options_.details()) {
        return;
    }
    switch (packet.kind) {
        case StreamKind::Audio:
            audioDetails(packet);
            break;
        case StreamKind::Video:
            videoDetails(packet);
            break;
        case StreamKind::Subpicture:
            subpictureDetails(packet);
            break;
    }
}

bool DetectionPass::aobSource() const {
    return state_.job.source->kind() == SourceKind::DvdAudioFile;
}

void DetectionPass::copyControlPacket(size_t offset, ScanState& scan) {
    analyseCopyControl({state_, reporter_, true, state_.job.source->kind()}, offset, scan);
}

void DetectionPass::dsiPacket(size_t offset, ScanState& scan) {
    analyseDsi({state_, reporter_, true, state_.job.source->kind()}, offset, scan);
}

}  // namespace tolvane
