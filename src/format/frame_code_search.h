#pragma once

// The search for frame start codes, written once for any width of the compiler's vector type.
// Each file that includes it gets its own copy, compiled for its own instruction set: the
// names have internal linkage so that the linker never takes one file's for another's.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>

#if defined(__SSE2__) || defined(__AVX2__)
#include <immintrin.h>
#endif

namespace tolvane {
namespace {

// `Lanes` is a vector of bytes: uint8_t __attribute__((vector_size(16))), or 32. It is defined
// where it is used, as GCC mistakes a width that depends on a template parameter.
template <typename Lanes>
struct FrameCodeSearch {
    static constexpr size_t kWidth = sizeof(Lanes);

    static Lanes lanesAt(const uint8_t* at) {
        Lanes lanes;
        std::memcpy(&lanes, at, sizeof lanes);
        return lanes;
    }

    // Whether any lane of a comparison's result is set: one instruction's mask where the
    // compiler may use one.
    template <typename Result>
    static bool anyLane(Result lanes) {
#if defined(__AVX2__)
        if constexpr (sizeof lanes == sizeof(__m256i)) {
            __m256i all;
            std::memcpy(&all, &lanes, sizeof all);
            return _mm256_movemask_epi8(all) != 0;
        }
#endif
#if defined(__SSE2__)
        if constexpr (sizeof lanes == sizeof(__m128i)) {
            __m128i all;
            std::memcpy(&all, &lanes, sizeof all);
            return _mm_movemask_epi8(all) != 0;
        }
#endif
        uint64_t words[sizeof lanes / sizeof(uint64_t)];
        std::memcpy(words, &lanes, sizeof words);
        uint64_t any = 0;
        for (const uint64_t word : words) {
            any |= word;
        }
        return any != 0;
    }

    static bool codeAt(const uint8_t* at, uint8_t codeByte) {
        return at[0] == 0 && at[1] == 0 && at[2] == 1 && at[3] == codeByte;
    }

    // Whether a frame code starts at one of the kWidth positions from `p`.
    static bool codeInLanes(const uint8_t* p, Lanes zero, Lanes one, Lanes code) {
        return anyLane((lanesAt(p) == zero) & (lanesAt(p + 1) == zero) & (lanesAt(p + 2) == one) &
                       (lanesAt(p + 3) == code));
    }

    // The codes 00 00 01 `codeByte` that lie wholly inside the chunk. Twice kWidth starting
    // positions are tested at a time, first by their second and third bytes only. A 00 01 pair
    // is rare in coded video, so nearly every test ends there; a frame code is rarer still, so
    // the few that pass are tested whole before any byte is looked at alone.
    static int64_t codesWithin(const uint8_t* chunk, size_t length, uint8_t codeByte) {
        constexpr size_t kStep = 2 * kWidth;
        int64_t found = 0;
        size_t at = 0;
        const Lanes zero = {};
        const Lanes one = zero + 1;
        const Lanes code = zero + codeByte;
        for (; at + kStep + 3 <= length; at += kStep) {
            const uint8_t* p = chunk + at;
            const auto pairs =
                ((lanesAt(p + 1) == zero) & (lanesAt(p + 2) == one)) |
                ((lanesAt(p + kWidth + 1) == zero) & (lanesAt(p + kWidth + 2) == one));
            if (!anyLane(pairs)) {
                continue;
            }
            for (const uint8_t* half : {p, p + kWidth}) {
                if (codeInLanes(half, zero, one, code)) {
                    for (size_t k = 0; k < kWidth; ++k) {
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
};

}  // namespace
}  // namespace tolvane
