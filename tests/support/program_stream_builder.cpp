#include "program_stream_builder.h"

#include "bit_writer.h"

#include <algorithm>
#include <stdexcept>

namespace tolvane::fixture {

namespace {

void append(Bytes& out, std::span<const uint8_t> data) {
    out.insert(out.end(), data.begin(), data.end());
}

void appendLength(Bytes& packet, size_t lengthFieldAt) {
    const size_t length = packet.size() - lengthFieldAt - 2;
    if (length > 0xFFFF) {
        throw std::length_error("PES packet longer than 65535 bytes");
    }
    packet[lengthFieldAt] = static_cast<uint8_t>(length >> 8);
    packet[lengthFieldAt + 1] = static_cast<uint8_t>(length);
}

Bytes packetStart(uint8_t streamId) {
    return Bytes{0x00, 0x00, 0x01, streamId, 0x00, 0x00};
}

}  // namespace

Bytes timeStampField(uint8_t prefix, uint64_t value) {
    return Bytes{
        static_cast<uint8_t>((prefix << 4) | ((value >> 29) & 0x0E) | 1),
        static_cast<uint8_t>(value >> 22),
        static_cast<uint8_t>(((value >> 14) & 0xFE) | 1),
        static_cast<uint8_t>(value >> 7),
        static_cast<uint8_t>(((value << 1) & 0xFE) | 1),
    };
}

Bytes packHeader(uint64_t scr, uint32_t muxRate) {
    return Bytes{
        0x00,
        0x00,
        0x01,
        0xBA,
        static_cast<uint8_t>(0x44 | ((scr >> 27) & 0x38) | ((scr >> 28) & 0x03)),
        static_cast<uint8_t>(scr >> 20),
        static_cast<uint8_t>(((scr >> 12) & 0xF8) | 0x04 | ((scr >> 13) & 0x03)),
        static_cast<uint8_t>(scr >> 5),
        static_cast<uint8_t>(((scr << 3) & 0xF8) | 0x04),
        0x01,
        static_cast<uint8_t>(muxRate >> 14),
        static_cast<uint8_t>(muxRate >> 6),
        static_cast<uint8_t>(((muxRate << 2) & 0xFC) | 0x03),
        0xF8,
    };
}

Bytes systemHeader(int audioBound, int videoBound) {
    Bytes header = packetStart(0xBB);
    const Bytes fields = {
        0x80,
        0xC4,
        0xE1,                                              // rate bound and markers
        static_cast<uint8_t>((audioBound << 2) & 0xFC),    // audio bound, flags
        static_cast<uint8_t>(0xE0 | (videoBound & 0x1F)),  // locks, marker, video bound
        0x7F,                                              // rate restriction
    };
    append(header, fields);
    appendLength(header, 4);
    return header;
}

Bytes pesPacket(uint8_t streamId, const PesHeader& header, std::span<const uint8_t> payload) {
    Bytes fields;
    uint8_t flags2 = 0;
    if (header.pts && header.dts) {
        flags2 |= 0xC0;
        append(fields, timeStampField(3, *header.pts));
        append(fields, timeStampField(1, *header.dts));
    } else if (header.pts) {
        flags2 |= 0x80;
        append(fields, timeStampField(2, *header.pts));
    }
    if (header.pstdBuffer || header.streamIdExtension) {
        flags2 |= 0x01;
        uint8_t extensionFlags = 0x0E;
        if (header.pstdBuffer) {
            extensionFlags |= 0x10;
        }
        if (header.streamIdExtension) {
            extensionFlags |= 0x01;
        }
        fields.push_back(extensionFlags);
        if (header.pstdBuffer) {
            fields.push_back(0x60);  // '01', scale 1, size 0x0E8
            fields.push_back(0xE8);
        }
        if (header.streamIdExtension) {
            fields.push_back(0x81);  // marker, field length 1
            fields.push_back(*header.streamIdExtension & 0x7F);
        }
    }
    fields.insert(fields.end(), header.stuffing, 0xFF);

    Bytes packet = packetStart(streamId);
    packet.push_back(0x81);
    packet.push_back(flags2);
    packet.push_back(static_cast<uint8_t>(fields.size()));
    append(packet, fields);
    append(packet, payload);
    appendLength(packet, 4);
    return packet;
}

size_t subStreamHeaderSize(uint8_t subStreamId) {
    const uint8_t group = subStreamId & 0xE0;
    if (group == 0x20 || group == 0x60) {
        return 1;
    }
    if (subStreamId >= 0xA0 && subStreamId <= 0xA7) {
        return 7;
    }
    if (subStreamId >= 0xB0 && subStreamId <= 0xB7) {
        return 5;
    }
    return 4;
}

Bytes privateStream1Packet(uint8_t subStreamId, const PesHeader& header,
                           std::span<const uint8_t> payload, std::span<const uint8_t> headerTail) {
    Bytes body(subStreamHeaderSize(subStreamId), 0x00);
    body[0] = subStreamId;
    std::copy_n(headerTail.begin(), std::min(headerTail.size(), body.size() - 1), body.begin() + 1);
    append(body, payload);
    return pesPacket(0xBD, header, body);
}

Bytes privateStream2Packet(uint8_t subStreamId, std::span<const uint8_t> body) {
    Bytes packet = packetStart(0xBF);
    packet.push_back(subStreamId);
    append(packet, body);
    appendLength(packet, 4);
    return packet;
}

Bytes paddingPacket(size_t totalSize) {
    if (totalSize < 6) {
        throw std::invalid_argument("a padding packet needs at least 6 bytes");
    }
    Bytes packet = packetStart(0xBE);
    packet.resize(totalSize, 0xFF);
    appendLength(packet, 4);
    return packet;
}

namespace {

void putBigEndian(Bytes& body, size_t at, uint32_t value, int size) {
    for (int k = 0; k < size; ++k) {
        body[at + static_cast<size_t>(k)] = static_cast<uint8_t>(value >> (8 * (size - 1 - k)));
    }
}

}  // namespace

Bytes dsiPacket(const DsiFields& fields) {
    // body[k] is p[k + 1]; the packet length counts the id too.
    Bytes body(fields.packetLength - 1, 0x00);
    putBigEndian(body, layout::kDsiVobNumber, fields.vobNumber, 2);
    putBigEndian(body, layout::kDsiFirstPtm, fields.startPtm, 4);
    putBigEndian(body, layout::kDsiLastPtm, fields.endPtm, 4);
    const size_t audioAt =
        fields.dvdVideoLayout ? layout::kDsiAudioSyncVob : layout::kDsiAudioSyncEvo;
    const size_t subAt = fields.dvdVideoLayout ? layout::kDsiSubSyncVob : layout::kDsiSubSyncEvo;
    for (size_t k = 0; k < fields.audioSync.size(); ++k) {
        putBigEndian(body, audioAt + 2 * k, fields.audioSync[k], 2);
    }
    for (size_t k = 0; k < fields.subSync.size(); ++k) {
        putBigEndian(body, subAt + 4 * k, fields.subSync[k], 4);
    }
    return privateStream2Packet(layout::kDsiSubStreamId, body);
}

Bytes evoNavigationPack(int audioBound, int videoBound, DsiFields dsi,
                        std::optional<CopyControlFields> copyControl, uint64_t scr) {
    dsi.packetLength = layout::kEvoDsiPacketLength;
    Bytes pack = packHeader(scr);
    append(pack, systemHeader(audioBound, videoBound));
    if (copyControl) {
        append(pack, copyControlPacket(*copyControl));
    }
    const size_t dsiStart = layout::kEvoDsiPacketStart;
    append(pack, privateStream2Packet(layout::kCopyControlSubStreamId,
                                      Bytes(dsiStart - pack.size() - 7, 0x00)));
    append(pack, dsiPacket(dsi));
    return pack;
}

Bytes copyControlPacket(const CopyControlFields& fields) {
    Bytes body(64, 0x00);
    // body[k] is p[k + 1], as for the DSI.
    body[layout::kCopyControlScrambling - 1] = fields.scrambling;
    body[layout::kCopyControlApplies - 1] = fields.applies;
    body[layout::kCopyControlCodes - 1] = fields.codes;
    return privateStream2Packet(0x04, body);
}

ProgramStreamBuilder& ProgramStreamBuilder::packOf(std::span<const Bytes> packets) {
    const size_t start = bytes_.size();
    append(bytes_, packHeader(static_cast<uint64_t>(start / kPackSize) * 300));
    for (const Bytes& packet : packets) {
        append(bytes_, packet);
    }
    const size_t used = bytes_.size() - start;
    if (used > kPackSize) {
        throw std::length_error("pack content longer than 2048 bytes");
    }
    const size_t left = kPackSize - used;
    if (left >= 6) {
        append(bytes_, paddingPacket(left));
    } else {
        bytes_.insert(bytes_.end(), left, 0xFF);
    }
    return *this;
}

ProgramStreamBuilder& ProgramStreamBuilder::pack(std::initializer_list<Bytes> packets) {
    return packOf(std::span<const Bytes>(packets.begin(), packets.size()));
}

ProgramStreamBuilder& ProgramStreamBuilder::systemPack(int audioBound, int videoBound,
                                                       std::initializer_list<Bytes> packets) {
    std::vector<Bytes> all{systemHeader(audioBound, videoBound)};
    all.insert(all.end(), packets.begin(), packets.end());
    return packOf(all);
}

ProgramStreamBuilder& ProgramStreamBuilder::raw(std::span<const uint8_t> data) {
    append(bytes_, data);
    return *this;
}

ProgramStreamBuilder& ProgramStreamBuilder::fillTo(size_t offset) {
    if (offset < bytes_.size()) {
        throw std::invalid_argument("fillTo would move backwards");
    }
    bytes_.resize(offset, 0xFF);
    return *this;
}

ProgramStreamBuilder& ProgramStreamBuilder::elementaryStream(uint8_t streamId,
                                                             std::optional<uint8_t> subStreamId,
                                                             std::span<const uint8_t> data,
                                                             std::optional<uint64_t> firstPts) {
    size_t done = 0;
    bool first = true;
    while (done < data.size() || first) {
        PesHeader header;
        if (first) {
            header.pts = firstPts;
        }
        // Room for pack header, PES header with a PTS and the largest sub-stream header.
        const size_t room = kPackSize - kPackHeaderSize - 9 - 5 - 7;
        const size_t take = std::min(room, data.size() - done);
        const std::span<const uint8_t> part = data.subspan(done, take);
        pack({subStreamId ? privateStream1Packet(*subStreamId, header, part)
                          : pesPacket(streamId, header, part)});
        done += take;
        first = false;
    }
    return *this;
}

Bytes hdSubpictureUnit(int colour, bool forced) {
    // A run of `length` pixels (0: to the end of the line) in a 2- or 8-bit colour.
    const auto run = [](BitWriter& w, int index, int length) {
        const bool wide = index > 3;
        w.bit(length != 1 ? 1 : 0)
            .bit(wide ? 1 : 0)
            .bits(static_cast<uint64_t>(index), wide ? 8 : 2);
        if (length == 0 || length >= 10) {
            w.bit(1).bits(length == 0 ? 0 : static_cast<uint64_t>(length - 9), 7);
        } else if (length >= 2) {
            w.bit(0).bits(static_cast<uint64_t>(length - 2), 3);
        }
    };
    const auto field = [&](int fill, int lines) {
        BitWriter w;
        for (int line = 0; line < lines; ++line) {
            run(w, 1, 16);  // the border, 2-bit
            // Single pixels of the first few colours, then the fill, then a shade per line.
            for (int index = 4; index < 8; ++index) {
                run(w, index, 1);
            }
            run(w, fill, 120);
            run(w, 2, 5);
            run(w, 200 + line % 8, 39);
            run(w, 0, 0);  // transparent to the line's end
            w.align();
        }
        return w.bytes();
    };
    const Bytes top = field(colour * 16, 20);
    const Bytes bottom = field(colour * 16 + 1, 20);
    const auto be = [](size_t v, int bytes) {
        Bytes out;
        for (int k = bytes - 1; k >= 0; --k) {
            out.push_back(static_cast<uint8_t>(v >> (8 * k)));
        }
        return out;
    };
    Bytes unit(10, 0);
    const auto add = [&](const Bytes& bytes) {
        unit.insert(unit.end(), bytes.begin(), bytes.end());
    };
    const size_t topAt = unit.size();
    add(top);
    const size_t bottomAt = unit.size();
    add(bottom);
    const size_t controlAt = unit.size();
    // Start: delay 0, the next sequence, the palette (Y, Cr, Cb), the contrasts (0 opaque,
    // 255 transparent), the area, the fields; then stop after 1.5 s (units of 1024/90000 s).
    Bytes palette;
    for (int index = 0; index < 256; ++index) {
        palette.push_back(static_cast<uint8_t>(16 + index * 219 / 255));
        palette.push_back(static_cast<uint8_t>(128 + (index % 7) * 12 - 36));
        palette.push_back(static_cast<uint8_t>(128 - (index % 5) * 15 + 30));
    }
    Bytes contrast(256, 0x00);
    contrast[0] = 0xFF;
    contrast[2] = 0x80;
    const size_t startBytes = 6 + 1 + 1 + 768 + 1 + 256 + 1 + 6 + 1 + 8 + 1;
    const size_t stopAt = controlAt + startBytes;
    add(be(0, 2));
    add(be(stopAt, 4));
    add({static_cast<uint8_t>(forced ? 0x00 : 0x01), 0x83});
    add(palette);
    add(Bytes{0x84});
    add(contrast);
    add({0x85, 0x2F, 0x83, 0xBF, 0x38, 0x43, 0xAB});
    add(Bytes{0x86});
    add(be(topAt, 4));
    add(be(bottomAt, 4));
    add(Bytes{0xFF});
    add(be(132, 2));
    add(be(stopAt, 4));
    add({0x02, 0xFF});
    const Bytes size = be(unit.size(), 4);
    const Bytes control = be(controlAt, 4);
    std::copy(size.begin(), size.end(), unit.begin() + 2);
    std::copy(control.begin(), control.end(), unit.begin() + 6);
    return unit;
}

}  // namespace tolvane::fixture
