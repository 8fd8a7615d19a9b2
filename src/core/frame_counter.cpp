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

// Whether a frame code starts at one of the sixteen positions from `p`.
bool codeInLanes(const uint8_t* p, Lanes zero, Lanes one, Lanes code) {
    return anyLane((lanesAt(p) == zero) & (lanesAt(p + 1) == zero) & (lanesAt(p + 2) == one) &
                   (lanesAt(p + 3) == code));
}

// The codes 00 00 01 `codeByte` that lie wholly inside the chunk. Thirty-two starting positions
// are tested at a time, first by their second and third bytes only. A 00 01 pair is rare in
// coded video, so nearly every test ends there; a frame code is rarer still, so the few that
// pass are tested whole before any byte is looked at alone.
int64_t codesWithin(const uint8_t* chunk, size_t length, uint8_t codeByte) {
    constexpr size_t kStep = 2 * sizeof(Lanes);
    int64_t found = 0;
    size_t at = 0;
    const Lanes zero = {};
    const Lanes one = zero + 1;
    const Lanes code = zero + codeByte;
    for (; at + kStep + 3 <= length; at += kStep) {
        const uint8_t* p = chunk + at;
        const auto pairs = ((lanesAt(p + 1) == zero) & (lanesAt(p + 2) == one)) |
                           ((lanesAt(p + 17) == zero) & (lanesAt(p + 18) == one));
        if (!anyLane(pairs)) {
            continue;
        }
        for (const uint8_t* half : {p, p + sizeof(Lanes)}) {
            if (codeInLanes(half, zero, one, code)) {
                for (size_t k = 0; k < sizeof(Lanes); ++k) {
                    found += codeAt(half + k, codeByte) ? 1 : 0;
                }
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
