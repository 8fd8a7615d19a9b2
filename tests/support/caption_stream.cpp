#include "caption_stream.h"

#include <cstddef>

namespace tolvane::fixture {

namespace {

struct Code {
    size_t at;
    uint8_t code;
};

std::vector<Code> startCodes(const std::vector<uint8_t>& video) {
    std::vector<Code> codes;
    for (size_t k = 0; k + 3 < video.size(); ++k) {
        if (video[k] == 0 && video[k + 1] == 0 && video[k + 2] == 1) {
            codes.push_back({k, video[k + 3]});
        }
    }
    return codes;
}

}  // namespace

CaptionPair captionWord(uint8_t first, uint8_t second) {
    const auto odd = [](uint8_t b) {
        return static_cast<uint8_t>(__builtin_parity(b) != 0 ? b : b | 0x80);
    };
    return {odd(first), odd(second)};
}

std::vector<uint8_t> withCaptions(const std::vector<uint8_t>& video,
                                  const std::vector<FrameCaptions>& frames,
                                  CaptionCarriage carriage) {
    const std::vector<Code> codes = startCodes(video);
    const auto frameAt = [&](size_t shown) {
        return shown < frames.size() ? frames[shown] : FrameCaptions{};
    };
    // Where each piece of user data goes, and what it is.
    std::vector<std::pair<size_t, std::vector<uint8_t>>> inserts;
    size_t groupBase = 0;  // the shown index of the group's first frame
    size_t groupFrames = 0;
    for (size_t k = 0; k < codes.size(); ++k) {
        if (codes[k].code == 0xB8) {
            groupBase += groupFrames;
            groupFrames = 0;
            for (size_t n = k + 1; n < codes.size() && codes[n].code != 0xB8; ++n) {
                groupFrames += codes[n].code == 0x00 ? 1 : 0;
            }
            if (carriage == CaptionCarriage::Dvd && k + 1 < codes.size()) {
                std::vector<uint8_t> data = {
                    0,    0,    1,
                    0xB2, 'C',  'C',
                    0x01, 0xF8, static_cast<uint8_t>(0x80 | groupFrames << 1)};
                for (size_t f = 0; f < groupFrames; ++f) {
                    const FrameCaptions words = frameAt(groupBase + f);
                    data.insert(data.end(), {0xFF, words.field1[0], words.field1[1], 0xFE,
                                             words.field2[0], words.field2[1]});
                }
                inserts.emplace_back(codes[k + 1].at, std::move(data));
            }
        }
        if (codes[k].code == 0x00 && carriage == CaptionCarriage::Atsc) {
            const size_t at = codes[k].at;
            const size_t shown =
                groupBase + static_cast<size_t>(video[at + 4] << 2 | video[at + 5] >> 6);
            size_t slice = k + 1;
            while (slice < codes.size() && (codes[slice].code < 0x01 || codes[slice].code > 0xAF)) {
                ++slice;
            }
            const FrameCaptions words = frameAt(shown);
            inserts.emplace_back(
                slice < codes.size() ? codes[slice].at : video.size(),
                std::vector<uint8_t>{0, 0, 1, 0xB2, 'G', 'A', '9', '4', 0x03, 0x42, 0xFF, 0xFC,
                                     words.field1[0], words.field1[1], 0xFD, words.field2[0],
                                     words.field2[1], 0xFF});
        }
    }
    std::vector<uint8_t> out;
    size_t from = 0;
    for (const auto& [at, data] : inserts) {
        out.insert(out.end(), video.begin() + static_cast<std::ptrdiff_t>(from),
                   video.begin() + static_cast<std::ptrdiff_t>(at));
        out.insert(out.end(), data.begin(), data.end());
        from = at;
    }
    out.insert(out.end(), video.begin() + static_cast<std::ptrdiff_t>(from), video.end());
    return out;
}

}  // namespace tolvane::fixture
