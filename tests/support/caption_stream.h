#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace tolvane::fixture {

using CaptionPair = std::array<uint8_t, 2>;

// A caption word from its two 7-bit values, each byte given odd parity.
CaptionPair captionWord(uint8_t first, uint8_t second);

// The words of one shown frame, field 1's and field 2's; {0x80, 0x80}: padding.
struct FrameCaptions {
    CaptionPair field1{0x80, 0x80};
    CaptionPair field2{0x80, 0x80};
};

enum class CaptionCarriage : uint8_t { Dvd, Atsc };

// An MPEG-2 video elementary stream with `frames[k]` (the words of the k-th frame shown) in
// its user data: a DVD "CC" block after each group header with a block for each frame of the
// group, or A/53 "GA94" data after each picture's headers. No tool writes either from text.
std::vector<uint8_t> withCaptions(const std::vector<uint8_t>& video,
                                  const std::vector<FrameCaptions>& frames,
                                  CaptionCarriage carriage);

}  // namespace tolvane::fixture
