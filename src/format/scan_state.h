#pragma once

#include <cstdint>

#include "format/stream_coding.h"

namespace tolvane {

// What the scanner takes the current packet to be.
enum class PacketKind : uint8_t {
    Video = 0,
    Audio = 1,        // private stream 1 audio
    SkipPayload = 2,  // payload to pass over
    SkipPacket = 3,   // whole packet to pass over
    // 4 was MPEG audio, which is audio like the others now.
    PrivateStream1 = 5,  // before its sub-stream is known
    Subpicture = 6,
    PrivateStream2 = 7,
    Nothing = 8,
};

// The byte scanner's state for one pass. It is carried from block to block, so a header that
// straddles two blocks is read correctly.
struct ScanState {
    uint32_t window = 0;
    PacketKind packetKind = PacketKind::Nothing;
    bool inPayload = false;
    int32_t remaining = 0;
    bool skipRest = false;
    int lengthBytes = 0;
    int fixedBytes = 0;
    uint8_t flags2 = 0;
    int headerBytes = 0;
    int ptsBytes = 0;
    int ptsDtsBytes = 0;
    int extFlagBytes = 0;
    int pstdBytes = 0;
    int ext2Bytes = 0;
    uint8_t extFlags = 0;
    int subHeaderBytes = 0;
    int lpcmExtraBytes = 0;
    int truehdExtraBytes = 0;
    int ps2IdBytes = 0;
    // An MPEG-1 packet header is being read: stuffing, buffer size, then its time stamps.
    bool mpeg1Header = false;
    int mpeg1BufferBytes = 0;
    // The packet is of the extended stream id, whose extension may name VC-1.
    bool extendedStream = false;
    // A pack header was met: the source is a program stream.
    bool packFound = false;
    uint64_t ptsAcc = 0;
    // The current packet's own PTS and DTS, all 33 bits; cleared at every packet start. A PTS
    // of 0 is a time like any other.
    uint64_t packetPts = 0;
    bool packetHasPts = false;
    uint64_t packetDts = 0;
    bool packetHasDts = false;
    // The packet's first payload was handed over, with its time.
    bool packetPlaced = false;
    // Where the first audio frame that starts in a private-stream audio packet begins in its
    // payload; 0 when the packet does not say.
    uint32_t firstUnitAt = 0;
    // The bytes of an LPCM packet's header after its sub-stream id that end in its format:
    // the last 3 on DVD-Video and HD DVD, the whole header on DVD-Audio, whose size varies.
    uint16_t lpcmHeaderBytes = 3;
    int32_t videoNo = -1;
    int32_t audioNo = -1;
    int32_t subNo = -1;
    int32_t videoIdByte = 0;
    int32_t audioIdByte = 0;  // the stream's key: kMpegAudioKey set for MPEG audio
    int32_t subIdByte = 0;
    // The current video packet's coding, whose frame codes are counted.
    StreamCoding videoCoding = StreamCoding::Mpeg2;
    bool firstDsi = true;
    bool firstControl = true;
    bool dsiPending = false;
    bool controlPending = false;
    uint8_t videoBound = 0;
    uint8_t audioBound = 0;

    // Nothing is being read: no payload, header field, length or packet to pass over. Until the
    // next start code a byte only moves the window.
    bool idle() const {
        return !inPayload && !skipRest && ps2IdBytes == 0 && !dsiPending && !controlPending &&
               lengthBytes == 0 && fixedBytes == 0 && ptsBytes == 0 && ptsDtsBytes == 0 &&
               extFlagBytes == 0 && pstdBytes == 0 && !mpeg1Header && mpeg1BufferBytes == 0 &&
               ext2Bytes == 0 && headerBytes == 0 && subHeaderBytes == 0 && lpcmExtraBytes == 0 &&
               truehdExtraBytes == 0;
    }
};

}  // namespace tolvane
