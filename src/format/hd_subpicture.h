#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace tolvane {

// An HD DVD subpicture unit as it shows: its area, its pixels as indices into its palette, and
// when it shows and goes, counted from the unit's time.
struct HdSubpicture {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;  // width * height, row after row, both fields woven
    // Y, Cr, Cb of each of the 256 colours, and how opaque each is (255: wholly).
    std::array<uint8_t, 768> colours{};
    std::array<uint8_t, 256> opacity{};
    int64_t start = 0;  // 90 kHz ticks
    std::optional<int64_t> stop;
    bool forced = false;  // shown whatever the player's subtitle setting
};

// The most a subpicture covers: an HD DVD's frame.
inline constexpr int kHdSubpictureWidth = 1920;
inline constexpr int kHdSubpictureHeight = 1080;

// Whether a subpicture unit has HD DVD's layout (its first two bytes zero, its sizes and
// offsets 32 bits wide) rather than DVD's.
bool isHdSubpictureUnit(std::span<const uint8_t> unit);

// Decodes an HD DVD subpicture unit into `picture`, whose buffers are reused. Returns why it
// cannot be shown (no area or pixels, a palette missing, lines that run past the unit), or
// nothing when it can.
std::optional<std::string> decodeHdSubpicture(std::span<const uint8_t> unit, HdSubpicture& picture);

}  // namespace tolvane
