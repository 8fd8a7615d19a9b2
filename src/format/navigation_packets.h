#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "core/source_kind.h"

namespace tolvane {

// What a copy-control packet says.
struct CopyControlState {
    bool scrambled = false;
    std::optional<uint8_t> cgms;  // when the packet says the code applies
    std::optional<uint8_t> aps;
    bool ict = false;  // constrained analog output
    bool dot = false;  // no analog output
};

// What a DSI packet (data search information, private stream 2 sub-stream 0x01) says.
struct DsiRecord {
    uint32_t vobNumber = 0;
    // The VOB's first and last video frames' presentation times, 90 kHz, on the VOB's own clock.
    uint32_t firstPtm = 0;
    uint32_t lastPtm = 0;
    // How many entries of the audio and subpicture synchronous-information tables are set: the
    // streams the VOB carries. None when the packet ends before the tables.
    std::optional<int> audioStreams;
    std::optional<int> subpictureStreams;
};

// Where a DVD-Video navigation pack says play goes on from its VOBU: the links a player follows
// through an angle block whose angles' units lie between one another. Addresses count sectors
// from the pack; bit 31 of an angle link means backwards.
struct UnitLinks {
    uint32_t unitEnd = 0;
    // 0x4000: in an interleaved block; 0x1000: the last VOBU of its interleaved unit.
    uint16_t seamlessCategory = 0;
    uint32_t interleavedEnd = 0;
    // The angle's next VOBU; 0x3FFFFFFF: the cell ends here.
    uint32_t nextUnit = 0;
    std::array<uint32_t, 9> seamlessAngleLinks{};     // the DSI's, per angle
    std::array<uint32_t, 9> nonSeamlessAngleLinks{};  // the PCI's, per angle
};

// The links of the DVD-Video navigation pack that `pack` (2048 bytes) holds; none when it holds
// no navigation pack.
std::optional<UnitLinks> decodeUnitLinks(const uint8_t* pack);

// Decodes the DSI whose bytes after its sub-stream id are `data[0, available)`: its layout is
// DVD-Video's or HD DVD's by the source's kind (the tables lie 128 bytes apart). None when the
// packet is too short for its times.
std::optional<DsiRecord> decodeDsi(const uint8_t* data, size_t available, SourceKind kind);

// Decodes the copy-control packet (sub-stream 0x04 of a navigation pack) whose bytes after its
// sub-stream id are `data[0, available)`. None when it is too short for its codes.
std::optional<CopyControlState> decodeCopyControl(const uint8_t* data, size_t available);

}  // namespace tolvane
