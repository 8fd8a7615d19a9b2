#include "core/frame_counter.h"

#include "core/frame_code_search.h"

namespace tolvane {

#if defined(TOLVANE_AVX2_SEARCH)
int64_t frameCodesWithinAvx2(const uint8_t* chunk, size_t length, uint8_t codeByte);
#endif

namespace {

constexpr uint8_t kFrameCode[] = {
    0x00,  // MPEG-2: picture start code
    0x09,  // H.264: access unit delimiter
    0x0D,  // VC-1: frame start code
};

}  // namespace

int64_t frameCodesWithin(const uint8_t* chunk, size_t length, uint8_t codeByte, bool portable) {
    // SSE2 and NEON take sixteen bytes at once, AVX2 thirty-two.
#if defined(TOLVANE_AVX2_SEARCH)
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2 && !portable) {
        return frameCodesWithinAvx2(chunk, length, codeByte);
    }
#else
    static_cast<void>(portable);
#endif
    typedef uint8_t Lanes __attribute__((vector_size(16)));
    return FrameCodeSearch<Lanes>::codesWithin(chunk, length, codeByte);
}

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
    count += frameCodesWithin(chunk, length, static_cast<uint8_t>(code));
    if (length >= 4) {
        const uint8_t* last = chunk + length - 4;
        window = static_cast<uint32_t>(last[0]) << 24 | static_cast<uint32_t>(last[1]) << 16 |
                 static_cast<uint32_t>(last[2]) << 8 | last[3];
    }
}

}  // namespace tolvane
