#include "format/frame_counter.h"

#include <cstring>

#include "format/frame_code_search.h"

namespace tolvane {

#if defined(TOLVANE_AVX2_SEARCH)
int64_t frameCodesWithinAvx2(const uint8_t* chunk, size_t length, uint8_t codeByte);
#endif

namespace {

constexpr uint32_t kPictureStart = 0x00000100;  // MPEG-1 and MPEG-2
constexpr uint32_t kVc1FrameStart = 0x0000010D;

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

void FrameCounter::countAccessUnits(const uint8_t* chunk, size_t length, NalSearch& search,
                                    int64_t& count) {
    constexpr int kAccessUnitDelimiter = 9;
    size_t i = 0;
    while (i < length) {
        if (search.next == NalSearch::NalHeader) {
            const uint8_t header = chunk[i++];
            const int type = header & 0x1F;
            search.zeros = header == 0 ? 1 : 0;
            search.next = NalSearch::Scan;
            if (type == kAccessUnitDelimiter) {
                // A muxer may repeat the delimiter (VLC writes two before an IDR picture): an
                // access unit counts once, whatever the delimiters before its picture.
                if (!search.delimited) {
                    ++count;
                }
                search.delimited = true;
            } else if (type == 1 || type == 5) {
                search.next = NalSearch::SliceStart;  // a coded slice
            }
            continue;
        }
        if (search.next == NalSearch::SliceStart) {
            const uint8_t first = chunk[i++];
            // first_mb_in_slice is 0, a one-bit ue(v), only in a picture's first slice.
            if ((first & 0x80) != 0) {
                if (!search.delimited) {
                    ++count;
                }
                search.delimited = false;
            }
            search.zeros = first == 0 ? 1 : 0;
            search.next = NalSearch::Scan;
            continue;
        }
        const auto* one = static_cast<const uint8_t*>(std::memchr(chunk + i, 1, length - i));
        if (one == nullptr) {
            const size_t rest = length - i;
            const uint8_t last = chunk[length - 1];
            if (last != 0) {
                search.zeros = 0;
            } else if (rest >= 2) {
                search.zeros = chunk[length - 2] == 0 ? 2 : 1;
            } else {
                search.zeros = static_cast<uint8_t>(search.zeros >= 1 ? 2 : 1);
            }
            return;
        }
        const auto k = static_cast<size_t>(one - chunk);
        const size_t before = k - i;  // bytes of this search before the 01
        const bool twoZeros = before >= 2   ? chunk[k - 1] == 0 && chunk[k - 2] == 0
                              : before == 1 ? chunk[k - 1] == 0 && search.zeros >= 1
                                            : search.zeros >= 2;
        search.zeros = 0;
        search.next = twoZeros ? NalSearch::NalHeader : NalSearch::Scan;
        i = k + 1;
    }
}

void FrameCounter::count(const uint8_t* chunk, size_t length, StreamCoding coding, int32_t videoNo,
                         int64_t& count) {
    if (videoNo < 0 || videoNo >= static_cast<int32_t>(windows_.size()) || length == 0) {
        return;
    }
    if (coding == StreamCoding::H264) {
        countAccessUnits(chunk, length, nalSearches_[static_cast<size_t>(videoNo)], count);
        return;
    }
    uint32_t& window = windows_[static_cast<size_t>(videoNo)];
    // MPEG-1 marks its pictures as MPEG-2 does.
    const uint32_t code = coding == StreamCoding::Vc1 ? kVc1FrameStart : kPictureStart;
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
