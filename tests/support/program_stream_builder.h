#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <vector>

#include "format/program_stream_layout.h"

namespace tolvane::fixture {

using Bytes = std::vector<uint8_t>;

inline constexpr size_t kPackSize = layout::kPackSize;
inline constexpr size_t kPackHeaderSize = layout::kPackHeaderSize;

// The optional fields of a PES header, in the order they are written.
struct PesHeader {
    std::optional<uint64_t> pts;               // 33-bit, 90 kHz
    std::optional<uint64_t> dts;               // written only together with a PTS
    bool pstdBuffer = false;                   // PES extension carrying the P-STD buffer field
    std::optional<uint8_t> streamIdExtension;  // PES extension 2 (VC-1: 0x55, 0x56)
    size_t stuffing = 0;                       // 0xFF bytes at the end of the header
};

// A 5-byte PTS or DTS field; prefix 2 for a PTS alone, 3 for the PTS and 1 for the DTS of a
// PTS-and-DTS header.
Bytes timeStampField(uint8_t prefix, uint64_t value);

Bytes packHeader(uint64_t scr = 0, uint32_t muxRate = 25200);
Bytes systemHeader(int audioBound, int videoBound);

// A complete PES packet: start code, length, header and payload.
Bytes pesPacket(uint8_t streamId, const PesHeader& header, std::span<const uint8_t> payload);

// Bytes of a private-stream-1 sub-stream header, the id included, before the payload:
// 1 for subpictures, 4 for AC-3, DTS and E-AC-3, 5 for TrueHD, 7 for LPCM.
size_t subStreamHeaderSize(uint8_t subStreamId);

// A private-stream-1 packet. `headerTail` fills the sub-stream header after the id (zeros when
// shorter) so that tests can place a coding's own header fields there.
Bytes privateStream1Packet(uint8_t subStreamId, const PesHeader& header,
                           std::span<const uint8_t> payload,
                           std::span<const uint8_t> headerTail = {});

// A private-stream-2 packet: sub-stream id p[0], then `body` as p[1] onwards.
Bytes privateStream2Packet(uint8_t subStreamId, std::span<const uint8_t> body);

// A padding-stream packet of exactly `totalSize` bytes (at least 6).
Bytes paddingPacket(size_t totalSize);

struct DsiFields {
    uint16_t vobNumber = 1;
    uint32_t startPtm = 0;
    uint32_t endPtm = 0;
    std::array<uint16_t, 8> audioSync{};
    std::array<uint32_t, 32> subSync{};
    bool dvdVideoLayout = false;  // sync tables at the DVD-Video offsets (402, 418)
    size_t packetLength = 1018;   // PES_packet_length: 1018 on DVD-Video, 755 in an EVO
};

Bytes dsiPacket(const DsiFields& fields);

struct CopyControlFields {
    uint8_t scrambling = 0;  // p[13]
    uint8_t applies = 0;     // p[25]
    uint8_t codes = 0;       // p[27]
};
Bytes copyControlPacket(const CopyControlFields& fields);

// A navigation pack as an enhanced video object lays it out: pack header, system header, the
// copy-control packet when one is given, a PCI packet and a 755-byte DSI packet whose start
// code ends at byte 1289.
Bytes evoNavigationPack(int audioBound, int videoBound, DsiFields dsi,
                        std::optional<CopyControlFields> copyControl = std::nullopt,
                        uint64_t scr = 0);

// Writes a program stream in memory, pack by pack or byte by byte.
class ProgramStreamBuilder {
public:
    // One 2048-byte pack: pack header, the packets, then a padding packet (or 0xFF stuffing
    // when fewer than 6 bytes are left) up to the pack size.
    ProgramStreamBuilder& pack(std::initializer_list<Bytes> packets);
    // Like pack(), with a system header right after the pack header.
    ProgramStreamBuilder& systemPack(int audioBound, int videoBound,
                                     std::initializer_list<Bytes> packets);
    ProgramStreamBuilder& raw(std::span<const uint8_t> data);
    // 0xFF bytes up to `offset`, to put the next byte at an exact place (a block boundary).
    ProgramStreamBuilder& fillTo(size_t offset);
    // Packs of payload packets, split so that each pack holds one packet of `streamId` (or of
    // private stream 1 when `subStreamId` is given), with the PTS on the first only.
    ProgramStreamBuilder& elementaryStream(uint8_t streamId, std::optional<uint8_t> subStreamId,
                                           std::span<const uint8_t> data,
                                           std::optional<uint64_t> firstPts);

    const Bytes& bytes() const { return bytes_; }
    size_t size() const { return bytes_.size(); }

private:
    ProgramStreamBuilder& packOf(std::span<const Bytes> packets);

    Bytes bytes_;
};

// An HD DVD subpicture unit: a 200x40 box at 760,900 of the 1920x1080 frame, its two fields
// of run-length lines mixing 2- and 8-bit colours (the bottom field in `colour` * 16 + 1), a
// palette of 256 colours with their contrasts; shown from its PTS for 1.5 s, `forced` whatever
// the player's subtitle setting.
Bytes hdSubpictureUnit(int colour, bool forced = false);

}  // namespace tolvane::fixture
