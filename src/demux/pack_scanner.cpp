#include "demux/pack_scanner.h"

#include <algorithm>

#include "format/coding_sniff.h"
#include "format/navigation_packets.h"
#include "format/program_stream_layout.h"

namespace tolvane {

namespace {

bool handsOver(PacketKind kind) {
    return kind == PacketKind::Video || kind == PacketKind::Audio || kind == PacketKind::Subpicture;
}

}  // namespace

int32_t PackScanner::numberOf(StreamKind kind, int32_t key) {
    const StreamContext* context = streams_.take(kind, key, false, hooks_.aobSource());
    return context != nullptr ? context->number : -1;
}

StreamContext* PackScanner::streamForPayload(StreamKind kind) {
    ScanState& s = state_;
    int32_t& number = kind == StreamKind::Video   ? s.videoNo
                      : kind == StreamKind::Audio ? s.audioNo
                                                  : s.subNo;
    if (number >= 0) {
        return streams_.numbered(kind, number);
    }
    // A stream takes a number with its first payload: a packet without any takes none.
    const int32_t key = kind == StreamKind::Video   ? s.videoIdByte
                        : kind == StreamKind::Audio ? s.audioIdByte
                                                    : s.subIdByte;
    StreamContext* context =
        assignsNumbers_ ? streams_.take(kind, key, true, hooks_.aobSource()) : nullptr;
    if (context == nullptr) {
        hooks_.withoutNumber(kind, key);
        return nullptr;
    }
    number = context->number;
    if (kind == StreamKind::Video) {
        s.videoCoding = context->coding;
    }
    return context;
}

void PackScanner::firstPayload(StreamContext& stream, const uint8_t* data, size_t length) {
    ScanState& s = state_;
    const StreamKind kind = stream.kind;
    if (stream.id != kStreamAbsent) {
        return;
    }
    int32_t key = s.subIdByte;
    if (kind == StreamKind::Video) {
        key = s.videoIdByte;
        if (!stream.codingSeen && !isVc1Extension(static_cast<uint8_t>(key))) {
            if (const std::optional<StreamCoding> coding = sniffVideoCoding(data, length)) {
                stream.coding = *coding;
                stream.codingSeen = true;
                s.videoCoding = *coding;
            }
        }
    } else if (kind == StreamKind::Audio) {
        key = s.audioIdByte;
        if (!stream.codingSeen && isMpegAudioKey(key)) {
            if (const std::optional<StreamCoding> layer = sniffMpegAudioLayer(data, length)) {
                stream.coding = *layer;
                stream.codingSeen = true;
            }
        }
    }
    stream.id = key;
    hooks_.streamRegistered(stream, s);
}

void PackScanner::navigationTimes(const uint8_t* block, size_t idAt, size_t length) {
    // Navigation packs begin sectors, so a whole DSI lies in the block; a DSI cut short by a
    // damaged file says nothing. Its times lie where both layouts have them.
    const size_t available = std::min<size_t>(
        static_cast<size_t>(std::max<int32_t>(state_.remaining, 0)), length - idAt - 1);
    if (const std::optional<DsiRecord> dsi =
            decodeDsi(block + idAt + 1, available, SourceKind::ProgramStream)) {
        timeline_->navigation(Timeline::Vob{dsi->vobNumber, dsi->firstPtm, dsi->lastPtm}, idAt);
    }
}

void PackScanner::passOverRest() {
    if (state_.remaining > 0) {
        state_.skipRest = true;
    }
}

bool PackScanner::startCode(uint8_t streamId) {
    ScanState& s = state_;
    PacketKind kind;
    s.extendedStream = false;
    if (isVideoStreamId(streamId)) {
        s.videoIdByte = streamId;
        s.videoNo = numberOf(StreamKind::Video, streamId);
        if (const StreamContext* video = streams_.numbered(StreamKind::Video, s.videoNo)) {
            s.videoCoding = video->coding;
        }
        kind = PacketKind::Video;
    } else if (streamId == layout::kExtendedStreamId) {
        // VC-1 only once its extension says so.
        s.extendedStream = true;
        kind = PacketKind::SkipPayload;
    } else if (isMpegAudioStreamId(streamId)) {
        s.audioIdByte = kMpegAudioKey | streamId;
        s.audioNo = numberOf(StreamKind::Audio, s.audioIdByte);
        kind = PacketKind::Audio;
    } else if (streamId == layout::kProgramStreamMapId || streamId == layout::kPaddingStreamId) {
        kind = PacketKind::SkipPacket;
    } else if (streamId == layout::kPrivateStream1Id) {
        kind = PacketKind::PrivateStream1;
    } else if (streamId == layout::kPrivateStream2Id) {
        kind = PacketKind::PrivateStream2;
    } else {
        if (streamId == layout::kPackStartId) {
            s.packFound = true;
        }
        return false;
    }
    s.packetKind = kind;
    s.lengthBytes = 2;
    s.mpeg1Header = false;
    s.mpeg1BufferBytes = 0;
    // A time stamp belongs to its own packet: none is carried over into this one.
    s.packetHasPts = false;
    s.packetHasDts = false;
    s.packetPlaced = false;
    s.firstUnitAt = 0;
    return true;
}

void PackScanner::holdPts() {
    ScanState& s = state_;
    s.packetPts = s.ptsAcc;
    s.packetHasPts = true;
}

void PackScanner::timeStampByte(int index, uint8_t b) {
    uint64_t& acc = state_.ptsAcc;
    switch (index) {
        case 1:
            acc = uint64_t{b & 0x0Eu} << 29;
            break;
        case 2:
            acc |= uint64_t{b} << 22;
            break;
        case 3:
            acc |= uint64_t{b & 0xFEu} << 14;
            break;
        case 4:
            acc |= uint64_t{b} << 7;
            break;
        default:
            acc |= uint64_t{b & 0xFEu} >> 1;
            break;
    }
}

void PackScanner::timeStampFieldByte(uint8_t b) {
    ScanState& s = state_;
    --s.headerBytes;
    bool fieldDone = false;
    if (s.ptsBytes > 0) {
        --s.ptsBytes;
        timeStampByte(5 - s.ptsBytes, b);
        if (s.ptsBytes == 0) {
            holdPts();
            fieldDone = true;
        }
    } else {
        --s.ptsDtsBytes;
        const int index = 10 - s.ptsDtsBytes;
        timeStampByte(index > 5 ? index - 5 : index, b);
        if (index == 5) {
            holdPts();
        } else if (index == 10) {
            s.packetDts = s.ptsAcc;
            s.packetHasDts = true;
            fieldDone = true;
        }
    }
    if (fieldDone) {
        if (s.headerBytes == 0) {
            headerEnd();
        } else if (s.extendedStream && (s.flags2 & 0x01) != 0) {
            s.extFlagBytes = 1;
        }
    }
}

void PackScanner::mpeg1HeaderByte(uint8_t b) {
    // ISO/IEC 11172-1 2.4.3.3: stuffing bytes, the buffer scale and size, then the time
    // stamps, whose first byte carries their prefix.
    ScanState& s = state_;
    --s.remaining;
    if (s.mpeg1BufferBytes > 0) {
        --s.mpeg1BufferBytes;
        return;
    }
    if (b == 0xFF && s.remaining > 0) {
        return;
    }
    if ((b & 0xC0) == 0x40 && s.remaining > 0) {
        s.mpeg1BufferBytes = 1;
        return;
    }
    s.mpeg1Header = false;
    const int prefix = b >> 4;
    if (prefix == 2 || prefix == 3) {
        s.flags2 = 0;
        s.ptsBytes = prefix == 2 ? 5 : 0;
        s.ptsDtsBytes = prefix == 3 ? 10 : 0;
        s.headerBytes = prefix == 2 ? 5 : 10;
        timeStampFieldByte(b);
        return;
    }
    headerEnd();  // 0x0F: no time stamps
}

void PackScanner::headerEnd() {
    if (state_.packetKind == PacketKind::PrivateStream1) {
        state_.subHeaderBytes = 4;
    } else {
        state_.inPayload = true;
    }
}

void PackScanner::audioSubStream(uint8_t id, uint32_t pointer) {
    ScanState& s = state_;
    const AudioRange* range = audioRangeOf(id);
    s.lpcmHeaderBytes = 3;
    if (range == nullptr) {
        s.packetKind = PacketKind::SkipPayload;
        s.inPayload = true;
    } else {
        s.audioIdByte = id;
        s.audioNo = numberOf(StreamKind::Audio, id);
        // DVD-Audio's LPCM header says its own size where DVD-Video's has the frame pointer:
        // its samples start after it, whatever it holds (MLP, 0xA1, keeps the other layout).
        const bool dvdAudioLpcm =
            range->coding == StreamCoding::Lpcm && id != kDvdAudioMlpId && hooks_.aobSource();
        if (dvdAudioLpcm) {
            s.firstUnitAt = 0;
            s.lpcmHeaderBytes = static_cast<uint16_t>(3 + pointer);
            s.lpcmExtraBytes = static_cast<int>(pointer);
            if (pointer == 0) {
                s.inPayload = true;
                s.packetKind = PacketKind::Audio;
            }
        } else if (range->coding == StreamCoding::Lpcm) {
            s.lpcmExtraBytes = 3;
        } else if (range->coding == StreamCoding::TrueHd) {
            s.truehdExtraBytes = 1;
        } else {
            s.inPayload = true;
            s.packetKind = PacketKind::Audio;
        }
    }
}

void PackScanner::subStreamByte(uint8_t b) {
    ScanState& s = state_;
    --s.remaining;
    --s.subHeaderBytes;
    if (s.subHeaderBytes == 3) {
        if (isSubpictureId(b)) {
            s.subIdByte = b;
            s.subNo = numberOf(StreamKind::Subpicture, b);
            s.subHeaderBytes = 0;
            s.packetKind = PacketKind::Subpicture;
            s.inPayload = true;
        }
    } else if (s.subHeaderBytes == 0) {
        // The sub-stream id, the count of frames that start in the packet and the pointer to
        // the first of them, counted from the pointer's last byte.
        const uint32_t pointer = s.window & 0xFFFF;
        s.firstUnitAt = pointer > 0 && pointer != 0xFFFF ? pointer - 1 : 0;
        audioSubStream(static_cast<uint8_t>(s.window >> 24), pointer);
    }
}

void PackScanner::passOver(int64_t& i, int64_t n) {
    // The rest of the packet may run past the block: what is left is passed over in the next.
    ScanState& s = state_;
    const int64_t a = std::max<int64_t>(1, std::min<int64_t>(s.remaining, n - i));
    i += a - 1;
    s.remaining -= static_cast<int32_t>(a);
    s.skipRest = s.remaining > 0;
    if (!s.skipRest) {
        s.remaining = 0;
    }
}

void PackScanner::scanBlock(const uint8_t* block, size_t length) {
    ScanState& s = state_;
    const int64_t n = static_cast<int64_t>(length);
    // A payload or a passed-over packet that goes on from the last block takes its first byte
    // here as it would have had the block not ended: not into the window.
    const bool runGoesOn = (s.inPayload && s.remaining > 0) || s.skipRest;
    for (int64_t i = 0; i < n; ++i) {
        const uint8_t b = block[i];
        if (i > 0 || !runGoesOn) {
            s.window = (s.window << 8) | b;
        }

        if (s.inPayload) {
            if (s.remaining > 0) {
                const int64_t a = std::min<int64_t>(s.remaining, n - i);
                const StreamKind kind = s.packetKind == PacketKind::Audio ? StreamKind::Audio
                                        : s.packetKind == PacketKind::Subpicture
                                            ? StreamKind::Subpicture
                                            : StreamKind::Video;
                StreamContext* stream = handsOver(s.packetKind) ? streamForPayload(kind) : nullptr;
                if (stream != nullptr) {
                    Packet packet;
                    packet.unitStart = !s.packetPlaced;
                    if (!s.packetPlaced) {
                        s.packetPlaced = true;
                        if (s.packetHasPts) {
                            packet.time = timeline_->place(
                                stream->slot, s.packetPts, kind == StreamKind::Subpicture,
                                static_cast<size_t>(i), &packet.discontinuity);
                        }
                    }
                    firstPayload(*stream, block + i, static_cast<size_t>(a));
                    packet.stream = stream;
                    packet.kind = kind;
                    packet.number = stream->number;
                    packet.key = kind == StreamKind::Video   ? s.videoIdByte
                                 : kind == StreamKind::Audio ? s.audioIdByte
                                                             : s.subIdByte;
                    packet.coding = kind == StreamKind::Video        ? s.videoCoding
                                    : kind == StreamKind::Subpicture ? StreamCoding::Subpicture
                                                                     : stream->coding;
                    packet.offset = static_cast<size_t>(i);
                    packet.length = static_cast<size_t>(a);
                    packet.payload = {block + i, packet.length};
                    if (s.packetHasPts) {
                        packet.pts = s.packetPts;
                    }
                    if (s.packetHasDts) {
                        packet.dts = s.packetDts;
                    }
                    packet.firstUnitAt = s.firstUnitAt;
                    packet.lpcmHeaderBytes = s.lpcmHeaderBytes;
                    hooks_.packet(packet);
                }
                s.remaining -= static_cast<int32_t>(a);
                i += a - 1;
                if (s.remaining == 0) {
                    s.inPayload = false;
                }
                continue;
            }
            // The header filled or overran its packet: there is no payload.
            s.remaining = 0;
            s.inPayload = false;
        }
        if (s.skipRest) {
            passOver(i, n);
            continue;
        }
        if (s.ps2IdBytes > 0) {
            --s.remaining;
            --s.ps2IdBytes;
            if (b == layout::kDsiSubStreamId) {
                navigationTimes(block, static_cast<size_t>(i), length);
            }
            // An analysis needs at least one byte after the id; anything else is passed over.
            if (b == 0x01 && s.firstDsi && s.remaining > 0) {
                s.dsiPending = true;
            } else if (b == 0x04 && s.firstControl && s.remaining > 0) {
                s.controlPending = true;
            } else {
                passOverRest();
            }
            continue;
        }
        if (s.controlPending || s.dsiPending) {
            if (s.controlPending) {
                s.firstControl = false;
                hooks_.copyControlPacket(static_cast<size_t>(i), s);
                s.controlPending = false;
            } else {
                s.firstDsi = false;
                hooks_.dsiPacket(static_cast<size_t>(i), s);
                s.dsiPending = false;
            }
            passOver(i, n);
            continue;
        }
        if ((s.window & 0xFFFFFF00u) == 0x00000100u && startCode(b)) {
            continue;
        }
        if (s.idle()) {
            // Pack headers, system headers, bytes of unknown packets: they only move the window,
            // up to the byte before the one that completes the next start code.
            while (i + 1 < n && (s.window & 0x00FFFFFFu) != 0x00000001u) {
                s.window = (s.window << 8) | block[++i];
            }
            continue;
        }
        if (s.lengthBytes == 2) {
            s.lengthBytes = 1;
        } else if (s.lengthBytes == 1) {
            s.lengthBytes = 0;
            s.remaining = static_cast<int32_t>(s.window & 0xFFFF);
            if (s.packetKind == PacketKind::PrivateStream2) {
                s.ps2IdBytes = 1;
            } else if (s.packetKind == PacketKind::SkipPacket) {
                passOverRest();
            } else {
                s.fixedBytes = 3;
            }
        } else if (s.mpeg1Header || s.mpeg1BufferBytes > 0) {
            mpeg1HeaderByte(b);
        } else if (s.fixedBytes > 0) {
            if (s.fixedBytes == 3 && (b & 0xC0) != 0x80) {
                // No MPEG-2 marker bits: the header of an MPEG-1 system stream.
                s.fixedBytes = 0;
                s.mpeg1Header = true;
                mpeg1HeaderByte(b);
                continue;
            }
            --s.remaining;
            --s.fixedBytes;
            if (s.fixedBytes == 1) {
                s.flags2 = b;
            } else if (s.fixedBytes == 0) {
                s.headerBytes = b;
                const int timeStamps = s.flags2 >> 6;
                if (timeStamps == 2) {
                    s.ptsBytes = 5;
                } else if (timeStamps == 3) {
                    s.ptsDtsBytes = 10;
                }
                if ((s.flags2 & 0xC1) == 0x01) {
                    s.extFlagBytes = 1;
                }
                if (s.headerBytes == 0) {
                    headerEnd();
                }
            }
        } else if (s.ptsBytes > 0 || s.ptsDtsBytes > 0) {
            --s.remaining;
            timeStampFieldByte(b);
        } else if (s.extFlagBytes > 0) {
            --s.remaining;
            --s.headerBytes;
            if (--s.extFlagBytes == 0) {
                s.extFlags = b;
                if ((b & 0x10) != 0) {
                    s.pstdBytes = 2;
                } else if ((b & 0x01) != 0) {
                    s.ext2Bytes = 2;
                } else if (s.headerBytes == 0) {
                    headerEnd();
                }
            }
        } else if (s.pstdBytes > 0) {
            --s.remaining;
            --s.headerBytes;
            if (--s.pstdBytes == 0) {
                if ((s.extFlags & 0x01) != 0) {
                    s.ext2Bytes = 2;
                } else if (s.headerBytes == 0) {
                    headerEnd();
                }
            }
        } else if (s.ext2Bytes > 0) {
            --s.remaining;
            --s.headerBytes;
            if (--s.ext2Bytes == 0) {
                const auto extension = static_cast<uint8_t>(b & 0x7F);
                if (s.extendedStream && isVc1Extension(extension)) {
                    s.videoIdByte = extension;
                    s.videoNo = numberOf(StreamKind::Video, extension);
                    s.videoCoding = StreamCoding::Vc1;
                    s.packetKind = PacketKind::Video;
                }
                if (s.headerBytes == 0) {
                    headerEnd();
                }
            }
        } else if (s.headerBytes > 0) {
            --s.remaining;
            if (--s.headerBytes == 0) {
                headerEnd();
            }
        } else if (s.subHeaderBytes > 0) {
            subStreamByte(b);
        } else if (s.lpcmExtraBytes > 0 || s.truehdExtraBytes > 0) {
            --s.remaining;
            int& counter = s.lpcmExtraBytes > 0 ? s.lpcmExtraBytes : s.truehdExtraBytes;
            // The pointer counts these header bytes too.
            s.firstUnitAt -= s.firstUnitAt > 0 ? 1 : 0;
            if (--counter == 0) {
                s.inPayload = true;
                s.packetKind = PacketKind::Audio;
            }
        }
    }
}

}  // namespace tolvane
