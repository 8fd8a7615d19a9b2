#include "jobs/detection_pass.h"

#include <string>

#include "core/number_format.h"
#include "core/pack_engine.h"
#include "jobs/navigation.h"

namespace tolvane {

namespace {

const char* registrationPrefix(StreamCoding coding, int32_t key) {
    switch (coding) {
        case StreamCoding::Mpeg2:
            return "[b]MPEG-2[/b] video stream ";
        case StreamCoding::Mpeg1:
            return "[b]MPEG-1[/b] video stream ";
        case StreamCoding::H264:
            return "[b]H.264 (AVC)[/b] video stream ";
        case StreamCoding::Vc1:
            return "[b]VC-1[/b] video stream ";
        case StreamCoding::Subpicture:
            return key < 0x40 ? "[b]Subpicture[/b] stream " : "[b]Extended subpicture[/b] stream ";
        case StreamCoding::Ac3:
            return "[b]Dolby Digital[/b] audio stream ";
        case StreamCoding::Dts:
            return "[b]DTS HD (DTS)[/b] audio stream ";
        case StreamCoding::Eac3:
            return "[b]Dolby Digital[/b] Plus audio stream ";
        case StreamCoding::TrueHd:
            return "[b]Dolby TrueHD[/b] audio stream ";
        case StreamCoding::Mlp:
            return "[b]MLP[/b] audio stream ";
        case StreamCoding::Lpcm:
            return "[b]LPCM[/b] audio stream ";
        case StreamCoding::Mp1:
            return "[b]MPEG Layer I[/b] audio stream ";
        case StreamCoding::Mp2:
            return "[b]MPEG Layer II[/b] audio stream ";
        case StreamCoding::Mp3:
            break;
        case StreamCoding::Sdds:
            return "[b]SDDS[/b] audio stream ";  // never read: no stream has it
    }
    return "[b]MPEG Layer III[/b] audio stream ";
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

void DetectionPass::streamRegistered(StreamKind kind, int32_t number, int32_t key, ScanState&) {
    reporter_.log(registrationPrefix(numberCoding(state_.streams, kind, number), key) +
                  std::to_string(number) + " found!");
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
    std::string line = "It contains";
    if (scan.videoBound > 0) {
        line += " [b]" + std::to_string(scan.videoBound) + "[/b] video stream and";
    }
    line += " [b]" + std::to_string(scan.audioBound) + "[/b] audio stream";
    line += scan.audioBound > 1 ? "s." : ".";
    reporter_.log(line);
}

void DetectionPass::takeFirstTime(const PayloadChunk& chunk, const ScanState& scan) {
    // The first packet of the stream that carries a PTS gives its first time (the first
    // file's, when both files carry the stream) and may lower the job's minPts, whether or
    // not details are shown: delays and .sup times count from them.
    const auto n = static_cast<size_t>(chunk.number);
    StreamTable& streams = state_.streams;
    const StreamKind kind = chunk.kind == PacketKind::Video   ? StreamKind::Video
                            : chunk.kind == PacketKind::Audio ? StreamKind::Audio
                                                              : StreamKind::Subpicture;
    std::optional<int64_t>& jobFirstPts = kind == StreamKind::Video   ? streams.video[n].firstPts
                                          : kind == StreamKind::Audio ? streams.audio[n].firstPts
                                                                      : streams.sub[n].firstPts;
    // The packet's time comes with its first chunk only.
    const bool timed = scan.packetHasPts && chunk.packetStart;
    if (kind != StreamKind::Subpicture) {
        StreamTiming& timing =
            kind == StreamKind::Video ? streams.video[n].timing : streams.audio[n].timing;
        timing.take(static_cast<int64_t>(chunk.length),
                    timed ? std::optional<int64_t>(scan.packetTime) : std::nullopt,
                    kind == StreamKind::Audio ? scan.firstUnitAt : 0);
    }
    std::bitset<32>& timedStreams = timed_[static_cast<size_t>(kind)];
    if (timed && !timedStreams.test(n)) {
        timedStreams.set(n);
        if (!jobFirstPts) {
            jobFirstPts = scan.packetTime;
        }
        if (scan.packetTime < state_.job.minPts) {
            state_.job.minPts = scan.packetTime;
        }
    }
}

bool DetectionPass::firstReport(StreamKind kind, size_t n, bool& reported, int32_t key,
                                const ScanState& scan, bool beginsAccessUnit) {
    // Its details come from its first packet that carries a PTS: a file cut inside a stream
    // begins with the rest of a frame. A stream whose packets carry none is reported at a
    // packet that begins a picture, or at its 32nd packet.
    if (reported) {
        return false;
    }
    if (!scan.packetHasPts) {
        uint8_t& waited = untimedPackets_[static_cast<size_t>(kind)][n];
        if (!beginsAccessUnit && ++waited < kUntimedPacketsAwaited) {
            return false;
        }
    }
    reported = true;
    reporter_.log(scan.packetHasPts ? "   First PTS = [re]" + hexUpper(scan.packetPts, 8) + "[/re]"
                                    : std::string("   First PTS = none"));
    reporter_.log("   Substream id = " + hexUpper(static_cast<uint32_t>(idByteOf(key)), 2));
    if (const std::string language = languageOf(state_.job.languages, kind, key);
        !language.empty()) {
        reporter_.log("   Language = " + language);
    }
    return true;
}

void DetectionPass::audioDetails(const PayloadChunk& chunk, const ScanState& scan) {
    const auto n = static_cast<size_t>(chunk.number);
    if (!firstReport(StreamKind::Audio, n, state_.streams.audio[n].reported, scan.audioIdByte, scan,
                     false)) {
        return;
    }
    const HeaderPayload payload{chunk.offset, chunk.length, scan.audioNo, scan.packetPts, 0};
    analysers_.analyse(state_.streams.audio[n].coding, payload);
}

void DetectionPass::videoDetails(const PayloadChunk& chunk, const ScanState& scan) {
    const uint32_t pts = scan.packetPts;
    const auto n = static_cast<size_t>(chunk.number);
    const uint8_t* data = state_.job.buffer.data() + chunk.offset;
    const bool startCode = chunk.length >= 4 && data[0] == 0 && data[1] == 0 &&
                           (data[2] == 1 || (data[2] == 0 && data[3] == 1));
    if (!firstReport(StreamKind::Video, n, state_.streams.video[n].reported, scan.videoIdByte, scan,
                     startCode)) {
        return;
    }
    const HeaderPayload payload{chunk.offset, chunk.length, scan.videoNo, pts, scan.videoDts};
    analysers_.analyse(state_.streams.video[n].coding, payload);
}

void DetectionPass::subpictureDetails(const PayloadChunk& chunk, const ScanState& scan) {
    const auto n = static_cast<size_t>(chunk.number);
    if (!firstReport(StreamKind::Subpicture, n, state_.streams.sub[n].reported, scan.subIdByte,
                     scan, false)) {
        return;
    }
    // Only the chunk's own bytes are looked at: a one-byte chunk counts as 2-bit.
    const uint8_t* data = state_.job.buffer.data() + chunk.offset;
    const bool eightBit = chunk.length >= 2 && data[0] == 0 && data[1] == 0;
    reporter_.log(eightBit ? "   Format = [bl]8bitRLE[/bl]" : "   Format = [bl]2bitRLE[/bl]");
}

void DetectionPass::payloadChunk(const PayloadChunk& chunk, ScanState& scan) {
    const bool video = chunk.kind == PacketKind::Video;
    if (video && options_.countFrames()) {
        frames_.count(state_.job.buffer.data() + chunk.offset, chunk.length, scan.videoCoding,
                      chunk.number,
                      state_.streams.video[static_cast<size_t>(chunk.number)].frameCount);
    }
    if (chunk.kind == PacketKind::Audio || video || chunk.kind == PacketKind::Subpicture) {
        takeFirstTime(chunk, scan);
    }
    if (!options_.details()) {
        return;
    }
    if (chunk.kind == PacketKind::Audio) {
        audioDetails(chunk, scan);
    } else if (video) {
        videoDetails(chunk, scan);
    } else if (chunk.kind == PacketKind::Subpicture) {
        subpictureDetails(chunk, scan);
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
