#include "core/frame_counter.h"

#include <cstring>

namespace tolvane {

namespace {

constexpr uint8_t kFrameCode[] = {
    0x00,  // MPEG-2: picture start code
    0x09,  // H.264: access unit delimiter
    0x0D,  // VC-1: frame start code
};

// Sixteen bytes at once, as the compiler's vector unit (SSE2, NEON) takes them.
using Lanes = uint8_t __attribute__((vector_size(16)));

Lanes lanesAt(const uint8_t* at) {
    Lanes lanes;
    std::memcpy(&lanes, at, sizeof lanes);
    return lanes;
}

// Whether any lane of a comparison's result is set.
template <typename Result>
bool anyLane(Result lanes) {
    static_assert(sizeof lanes == 2 * sizeof(uint64_t));
    uint64_t halves[2];
    std::memcpy(halves, &lanes, sizeof halves);
    return (halves[0] | halves[1]) != 0;
}

bool codeAt(const uint8_t* at, uint8_t codeByte) {
    return at[0] == 0 && at[1] == 0 && at[2] == 1 && at[3] == codeByte;
}

// The codes 00 00 01 `codeByte` that lie wholly inside the chunk. Sixteen starting positions
// are tested at a time: frame codes are rare, so nearly every test finds none.
int64_t codesWithin(const uint8_t* chunk, size_t length, uint8_t codeByte) {
    int64_t found = 0;
    size_t at = 0;
    const Lanes zero = {};
    const Lanes one = zero + 1;
    const Lanes code = zero + codeByte;
    for (; at + sizeof(Lanes) + 3 <= length; at += sizeof(Lanes)) {
        const auto match = (lanesAt(chunk + at) == zero) & (lanesAt(chunk + at + 1) == zero) &
                           (lanesAt(chunk + at + 2) == one) & (lanesAt(chunk + at + 3) == code);
        if (anyLane(match)) {
            for (size_t k = 0; k < sizeof(Lanes); ++k) {
                found += codeAt(chunk + at + k, codeByte) ? 1 : 0;
            }
        }
    }
    for (; at + 4 <= length; ++at) {
        found += codeAt(chunk + at, codeByte) ? 1 : 0;
    }
    return found;
}

}  // namespace

void FrameCounter::count(const uint8_t* chunk, size_t length, VideoType videoType, int32_t videoNo,
                         int64_t& count) {
    if (videoNo < 0 || videoNo >= static_cast<int32_t>(windows_.size()) || length == 0) {
        return;
    }
    uint32_t& window = windows_[static_cast<size_t>(videoNo)];
    const uint32_t code = 0x00000100u | kFrameCode[static_cast<size_t>(videoType)];
    // Codes that end in the first three bytes may begin in the chunk before.
    const size_t head = length < 3 ? length : 3;
    for (size_t k = 0; k < head; ++k) {
        window = (window << 8) | chunk[k];
        if (window == code) {
            ++count;
        }
    }
    // The rest lies wholly inside the chunk.
    count += codesWithin(chunk, length, static_cast<uint8_t>(code));
    if (length >= 4) {
        const uint8_t* last = chunk + length - 4;
        window = static_cast<uint32_t>(last[0]) << 24 | static_cast<uint32_t>(last[1]) << 16 |
                 static_cast<uint32_t>(last[2]) << 8 | last[3];
    }
}

}  // namespace tolvane
