#pragma once

// Where things are in an MPEG-2 program stream of these discs: the stream ids of the packet
// start codes, and the offsets of the fields of a pack and of a navigation pack that the
// scanner, the navigation analyses, the rebuilder and the test fixtures read and write.

#include <cstddef>
#include <cstdint>

namespace tolvane::layout {

// The byte after 00 00 01 (ISO/IEC 13818-1, table 2-18).
inline constexpr uint8_t kPackStartId = 0xBA;
inline constexpr uint8_t kSystemHeaderId = 0xBB;
inline constexpr uint8_t kProgramStreamMapId = 0xBC;
inline constexpr uint8_t kPrivateStream1Id = 0xBD;
inline constexpr uint8_t kPaddingStreamId = 0xBE;
inline constexpr uint8_t kPrivateStream2Id = 0xBF;
inline constexpr uint8_t kMpegAudioFirstId = 0xC0;
inline constexpr uint8_t kMpegAudioLastId = 0xDF;
// Video 0xE0..0xEF; on HD DVD MPEG-2 is 0xE0, 0xE1 and H.264 0xE2, 0xE3.
inline constexpr uint8_t kVideoFirstId = 0xE0;
inline constexpr uint8_t kH264FirstId = 0xE2;
inline constexpr uint8_t kVideoLastId = 0xEF;
inline constexpr uint8_t kExtendedStreamId = 0xFD;
// VC-1 under the extended stream id: stream_id_extension 0x55 and 0x56.
inline constexpr uint8_t kVc1FirstExtension = 0x55;
inline constexpr uint8_t kVc1LastExtension = 0x56;

// Private stream 2 sub-stream ids.
inline constexpr uint8_t kCopyControlSubStreamId = 0x00;  // PCI on DVD-Video
inline constexpr uint8_t kDsiSubStreamId = 0x01;
inline constexpr uint8_t kAdvancedPackSubStreamId = 0x80;

// A pack and its first packet, when that follows the 14-byte pack header.
inline constexpr size_t kPackSize = 2048;
inline constexpr size_t kPackHeaderSize = 14;
inline constexpr size_t kFirstPacketStreamId = 17;
inline constexpr size_t kFirstPacketPs2SubStreamId = 20;  // private stream 2: no header fields
inline constexpr size_t kFirstPacketFlags2 = 21;          // PTS_DTS_flags and the others
inline constexpr size_t kFirstPacketHeaderLength = 22;    // PES_header_data_length
inline constexpr size_t kFirstPacketHeaderData = 23;

// The system header that opens a navigation pack.
inline constexpr size_t kSystemHeaderAudioBound = 23;  // audio_bound in the upper six bits
inline constexpr size_t kSystemHeaderVideoBound = 24;  // video_bound in the lower five bits

// The DSI packet of an HD DVD navigation pack: its start code, and its data after the
// sub-stream id.
inline constexpr size_t kEvoDsiPacketStart = 1287;
inline constexpr size_t kEvoDsiPacketLength = 755;
inline constexpr size_t kEvoDsiData = kEvoDsiPacketStart + 7;

// DSI fields, from the first byte after the DSI's sub-stream id (DVD-Video and HD DVD alike,
// but for the synchronous-information tables).
inline constexpr size_t kDsiVobNumber = 24;  // 2 bytes
inline constexpr size_t kDsiFirstPtm = 44;   // 4 bytes, 90 kHz
inline constexpr size_t kDsiLastPtm = 48;    // 4 bytes, 90 kHz
inline constexpr size_t kDsiAudioSyncVob = 402;
inline constexpr size_t kDsiSubSyncVob = 418;
inline constexpr size_t kDsiAudioSyncEvo = 530;
inline constexpr size_t kDsiSubSyncEvo = 546;
inline constexpr size_t kDsiAudioSyncEntries = 8;  // 2 bytes each
inline constexpr size_t kDsiSubSyncEntries = 32;   // 4 bytes each
inline constexpr size_t kEvoDsiEnd = kEvoDsiData + kDsiSubSyncEvo + 4 * kDsiSubSyncEntries;

// A DVD-Video navigation pack: its PCI and DSI packets at fixed places, their data after the
// sub-stream ids, and what a player follows through an angle block (sector counts relative to
// the pack itself).
inline constexpr size_t kVobPciPacketStart = 38;
inline constexpr size_t kVobPciData = kVobPciPacketStart + 7;
inline constexpr size_t kVobDsiPacketStart = 1024;
inline constexpr size_t kVobDsiData = kVobDsiPacketStart + 7;
inline constexpr size_t kPciAngleLinks = 60;        // 9 x 4 bytes: non-seamless angle targets
inline constexpr size_t kDsiUnitEnd = 8;            // 4 bytes: the VOBU's last sector
inline constexpr size_t kDsiSeamlessCategory = 32;  // 2 bytes
inline constexpr size_t kDsiInterleavedEnd = 34;    // 4 bytes: the interleaved unit's last sector
inline constexpr size_t kDsiAngleLinks = 180;       // 9 x (4-byte address, 2-byte size)
inline constexpr size_t kDsiNextUnit = 314;         // 4 bytes

// A DVD-Audio LPCM header after its sub-stream id is at least this long (DVD-Video's and HD
// DVD's format bytes are 3): the size that tells the two apart.
inline constexpr size_t kDvdAudioLpcmHeader = 11;

// The copy-control packet (sub-stream 0x00), from its sub-stream id as byte 1.
inline constexpr size_t kCopyControlScrambling = 13;  // two scrambling bits at the top
inline constexpr size_t kCopyControlApplies = 25;     // which of the codes below apply
inline constexpr size_t kCopyControlCodes = 27;       // CGMS, APS, ICT and DOT

}  // namespace tolvane::layout
