#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "core/pass_options.h"
#include "core/stream_table.h"

namespace tolvane {

// Decides, pack by pack, what a rebuilt file keeps, renumbers the kept streams without gaps in
// the order of the stream boxes and patches the navigation packs to match. The renumbering
// lives for one rebuild command, across both files of a feature.
class PackRebuilder {
public:
    static constexpr size_t kPackSize = 2048;
    static constexpr uint8_t kNoId = 0xFF;

    struct Times {
        uint32_t firstPtm;
        uint32_t lastPtm;
    };

    PackRebuilder(const StreamTable& streams, const PassOptions& boxes)
        : streams_(streams), boxes_(boxes) {
        reset();
    }

    void reset();
    // Patches and renumbers the `length` bytes of `pack` in place; true when they are to be
    // written. The boxes are read afresh on every call.
    bool process(uint8_t* pack, size_t length, bool advancedPacks, Times times);

    uint8_t newId(uint8_t key) const { return newStreamId_[key]; }

private:
    enum class Kind { Video, Audio, Subpicture };
    void giveId(Kind kind, int32_t key);
    bool keep(Kind kind, int32_t key) const;
    void patchNavigationPack(uint8_t* pack, size_t length, Times times);

    const StreamTable& streams_;
    const PassOptions& boxes_;
    std::array<uint8_t, 256> newStreamId_{};
    uint8_t videoCount_ = 0;
    uint8_t audioCount_ = 0;
    uint8_t subCount_ = 0;
};

}  // namespace tolvane
