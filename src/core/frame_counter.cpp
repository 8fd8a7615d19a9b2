#include "core/frame_counter.h"

#include <cstring>

namespace tolvane {

namespace {

constexpr uint8_t kFrameCode[] = {
    0x00,  // MPEG-2: picture start code
    0x09,  // H.264: access unit delimiter
    0x0D,  // VC-1: frame start code
};

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
    // The rest lies wholly inside the chunk: look only at the 0x01 bytes.
    const uint8_t codeByte = static_cast<uint8_t>(code);
    size_t at = 2;
    while (at + 1 < length) {
        const void* found = std::memchr(chunk + at, 0x01, length - 1 - at);
        if (found == nullptr) {
            break;
        }
        const size_t one = static_cast<size_t>(static_cast<const uint8_t*>(found) - chunk);
        if (chunk[one - 1] == 0 && chunk[one - 2] == 0 && chunk[one + 1] == codeByte) {
            ++count;
        }
        at = one + 1;
    }
    if (length >= 4) {
        const uint8_t* last = chunk + length - 4;
        window = static_cast<uint32_t>(last[0]) << 24 | static_cast<uint32_t>(last[1]) << 16 |
                 static_cast<uint32_t>(last[2]) << 8 | last[3];
    }
}

}  // namespace tolvane
