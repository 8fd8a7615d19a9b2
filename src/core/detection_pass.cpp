#include "core/detection_pass.h"

#include <string>

#include "core/navigation.h"
#include "core/number_format.h"
#include "core/pack_engine.h"

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

void DetectionPass::streamRegistered(StreamKind kind, int32_t number, int32_t key, ScanState&) {
    reporter_.log(registrationPrefix(boxCoding(state_.streams, kind, number), key) +
                  std::to_string(number) + " found!");
}

void DetectionPass::withoutBox(StreamKind kind, int32_t key) {
    if (!firstMention(state_.streams, kind, key)) {
        return;
    }
    const std::string line =
        streamText(kind, key) + " has no stream box: every " + streamKindName(kind) + " box is taken.";
    reporter_.log(line);
    state_.streams.warnings.push_back(line);
}

void DetectionPass::systemHeaderRead(ScanState& scan) {
    if (!options_.sourceIsAob()) {
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

void DetectionPass::firstLines(uint32_t pts, int32_t idByte) {
    reporter_.log("   First PTS = [re]" + hexUpper(pts, 8) + "[/re]");
    reporter_.log("   Substream id = " + hexUpper(static_cast<uint32_t>(idByteOf(idByte)), 2));
}

bool DetectionPass::firstReport(bool& reported, std::optional<uint32_t>& jobFirstPts, uint32_t pts,
                                int32_t idByte, const ScanState& scan) {
    // A stream is reported from its first packet that carries a PTS, so that its first PTS
    // and the job's minPts are real times.
    if (reported || !scan.packetHasPts) {
        return false;
    }
    reported = true;
    if (!jobFirstPts) {
        jobFirstPts = pts;  // the first file's, when both files carry the stream
    }
    firstLines(pts, idByte);
    if (pts < state_.job.minPts) {
        state_.job.minPts = pts;
    }
    return true;
}

void DetectionPass::audioDetails(const PayloadChunk& chunk, const ScanState& scan) {
    const auto n = static_cast<size_t>(chunk.number);
    if (!firstReport(state_.streams.audioReported[n], state_.streams.audioFirstPts[n],
                     scan.packetPts, scan.audioIdByte, scan)) {
        return;
    }
    const HeaderPayload payload{chunk.offset, chunk.length, scan.audioNo, scan.packetPts, 0};
    switch (state_.streams.audioCoding[n]) {
        case StreamCoding::Ac3:
        case StreamCoding::Eac3:
            analysers_.analyse(HeaderCoding::Ac3, payload);
            break;
        case StreamCoding::Dts:
            analysers_.analyse(HeaderCoding::Dts, payload);
            break;
        case StreamCoding::TrueHd:
        case StreamCoding::Mlp:
            analysers_.analyse(HeaderCoding::Mlp, payload);
            break;
        case StreamCoding::Lpcm:
            analysers_.analyse(HeaderCoding::Lpcm, payload);
            break;
        case StreamCoding::Mp1:
        case StreamCoding::Mp2:
        case StreamCoding::Mp3:
            analysers_.analyse(HeaderCoding::MpegAudio, payload);
            break;
        default:
            break;
    }
}

void DetectionPass::videoDetails(const PayloadChunk& chunk, const ScanState& scan) {
    const uint32_t pts = scan.packetPts;
    const auto n = static_cast<size_t>(chunk.number);
    if (!firstReport(state_.streams.videoReported[n], state_.streams.videoFirstPts[n], pts,
                     scan.videoIdByte, scan)) {
        return;
    }
    const HeaderPayload payload{chunk.offset, chunk.length, scan.videoNo, pts, scan.videoDts};
    switch (state_.streams.videoCoding[n]) {
        case StreamCoding::H264:
            analysers_.analyse(HeaderCoding::H264, payload);
            break;
        case StreamCoding::Vc1:
            analysers_.analyse(HeaderCoding::Vc1, payload);
            break;
        default:
            analysers_.analyse(HeaderCoding::Mpeg2, payload);  // MPEG-1 headers are a subset
            break;
    }
}

void DetectionPass::subpictureDetails(const PayloadChunk& chunk, const ScanState& scan) {
    const auto n = static_cast<size_t>(chunk.number);
    if (!firstReport(state_.streams.subReported[n], state_.streams.subFirstPts[n], scan.packetPts,
                     scan.subIdByte, scan)) {
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
        frames_.count(state_.job.buffer.data() + chunk.offset, chunk.length, scan.videoType,
                      chunk.number, state_.streams.frameCount[static_cast<size_t>(chunk.number)]);
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
    return options_.sourceIsAob();
}

void DetectionPass::copyControlPacket(size_t offset, ScanState& scan) {
    analyseCopyControl({state_, reporter_, true, options_.sourceIsVob()}, offset, scan);
}

void DetectionPass::dsiPacket(size_t offset, ScanState& scan) {
    analyseDsi({state_, reporter_, true, options_.sourceIsVob()}, offset, scan);
}

}  // namespace tolvane
