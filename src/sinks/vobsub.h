#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/output_sink.h"

namespace tolvane {

// One subtitle of a VobSub stream: its time and where its first pack begins in the .sub.
struct VobSubEntry {
    int64_t pts = 0;  // on the title's timeline
    uint64_t filePosition = 0;
};

// Writes one subpicture stream as the packs of a VobSub .sub file, each 2048 bytes with a pack
// header and one private-stream packet of substream 0x20, and notes where each subtitle begins.
class VobSubWriter {
public:
    static constexpr size_t kPackSize = 2048;

    // Appends a packet's payload to `out`; `pts` is its header's time, if it has one.
    void packet(OutputSink& out, const uint8_t* data, size_t length, std::optional<int64_t> pts);
    const std::vector<VobSubEntry>& entries() const { return entries_; }

private:
    void pack(OutputSink& out, const uint8_t* data, size_t length, std::optional<int64_t> pts);

    std::vector<VobSubEntry> entries_;
    uint64_t written_ = 0;
    // Bytes of the current subpicture unit still to come; 0: the next packet begins one.
    size_t unitLeft_ = 0;
    int64_t lastPts_ = 0;
    std::array<uint8_t, kPackSize> pack_{};
};

// What the .idx file tells beside the entries.
struct VobSubIndexInfo {
    int width = 720;
    int height = 576;
    // 0xRRGGBB per entry.
    std::array<uint32_t, 16> palette{};
    std::string language;  // two letters; empty: unknown
    // The title's start: entry times count from it.
    int64_t startPts = 0;
};

// The .idx text of a stream written by a VobSubWriter.
std::string vobSubIndex(const VobSubIndexInfo& info, const std::vector<VobSubEntry>& entries);

// A DVD palette entry (0x00YYCrCb, ITU-R BT.601 studio range) as 0xRRGGBB.
uint32_t paletteRgb(uint32_t yCrCb);

// The palette a stream gets when no disc gives one: black, white and greys.
std::array<uint32_t, 16> defaultVobSubPalette();

}  // namespace tolvane
