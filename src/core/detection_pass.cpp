#include "core/detection_pass.h"

#include <string>

#include "core/navigation.h"
#include "core/number_format.h"
#include "core/pack_engine.h"

namespace tolvane {

namespace {

const char* registrationPrefix(StreamKind kind, int32_t idByte, bool aobSource) {
    switch (kind) {
        case StreamKind::Video:
            if (idByte == 0x55 || idByte == 0x56) {
                return "[b]VC-1[/b] video stream ";
            }
            return idByte >= 0xE2 ? "[b]H.264 (AVC)[/b] video stream "
                                  : "[b]MPEG-2[/b] video stream ";
        case StreamKind::Subpicture:
            return idByte < 0x40 ? "[b]Subpicture[/b] stream "
                                 : "[b]Extended subpicture[/b] stream ";
        case StreamKind::Audio:
            break;
    }
    if (idByte <= 0x87) {
        return "[b]Dolby Digital[/b] audio stream ";
    }
    if (idByte <= 0x8F) {
        return "[b]DTS HD (DTS)[/b] audio stream ";
    }
    if (idByte >= 0xC0) {
        return "[b]Dolby Digital[/b] Plus audio stream ";
    }
    if (idByte >= 0xB0) {
        return "[b]Dolby TrueHD[/b] audio stream ";
    }
    return idByte == 0xA1 && aobSource ? "[b]MLP[/b] audio stream " : "[b]LPCM[/b] audio stream ";
}

}  // namespace

std::optional<int64_t> DetectionPass::fastCheckLimit() {
    if (!options_.fastCheck()) {
        return std::nullopt;
    }
    return options_.fastSizeMb() * kMebibyte;
}

void DetectionPass::streamRegistered(StreamKind kind, int32_t number, int32_t idByte, ScanState&) {
    reporter_.log(registrationPrefix(kind, idByte, options_.sourceIsAob()) +
                  std::to_string(number) + " found!");
}

void DetectionPass::numberTaken(StreamKind kind, int32_t number, int32_t idByte, int32_t takenBy) {
    if (!firstMention(withoutBox_[static_cast<size_t>(kind)], idByte)) {
        return;
    }
    reporter_.log(streamText(kind, idByte) + " has no stream box: number " +
                  std::to_string(number) + " is taken by stream " + idText(takenBy) + ".");
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
    reporter_.log("   Substream id = " + hexUpper(static_cast<uint32_t>(idByte), 2));
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
    switch (scan.audioCoding) {
        case AudioCoding::Ac3:
        case AudioCoding::Eac3:
            analysers_.analyse(HeaderCoding::Ac3, payload);
            break;
        case AudioCoding::Dts:
            analysers_.analyse(HeaderCoding::Dts, payload);
            break;
        case AudioCoding::TrueHd:
            analysers_.analyse(HeaderCoding::Mlp, payload);
            break;
        case AudioCoding::Lpcm:
            // A DVD-Audio disc carries MLP under the first LPCM id.
            analysers_.analyse(scan.audioIdByte == 0xA1 && options_.sourceIsAob()
                                   ? HeaderCoding::Mlp
                                   : HeaderCoding::Lpcm,
                               payload);
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
    switch (scan.videoType) {
        case VideoType::Mpeg2:
            analysers_.analyse(HeaderCoding::Mpeg2, payload);
            break;
        case VideoType::H264:
            analysers_.analyse(HeaderCoding::H264, payload);
            break;
        case VideoType::Vc1:
            analysers_.analyse(HeaderCoding::Vc1, payload);
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
    // A VC-1 candidate seen before any video stream has no number yet: nothing to count.
    const bool video = chunk.kind == PacketKind::Video && chunk.number >= 0;
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

void DetectionPass::copyControlPacket(size_t offset, ScanState& scan) {
    analyseCopyControl({state_, reporter_, true, options_.sourceIsVob()}, offset, scan);
}

void DetectionPass::dsiPacket(size_t offset, ScanState& scan) {
    analyseDsi({state_, reporter_, true, options_.sourceIsVob()}, offset, scan);
}

}  // namespace tolvane
