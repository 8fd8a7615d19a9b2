#pragma once

#include <algorithm>
#include <cstdint>

#include "core/input_source.h"

namespace tolvane {

// A file on a disc read 2048-byte block by block: whole blocks straight into the caller's
// buffer, a block's part through one of its own.
class BlockSource : public InputSource {
public:
    static constexpr int64_t kBlock = 2048;

    explicit BlockSource(int64_t size) : size_(std::max<int64_t>(size, 0)) {}

    int64_t size() const override { return size_; }
    int64_t position() const override { return position_; }
    void seek(int64_t position) override { position_ = std::clamp<int64_t>(position, 0, size_); }

    size_t read(uint8_t* data, size_t length) override {
        const int64_t left = size_ - position_;
        if (left <= 0 || length == 0) {
            return 0;
        }
        length = static_cast<size_t>(std::min<int64_t>(left, static_cast<int64_t>(length)));
        const int64_t block = position_ / kBlock;
        const auto within = static_cast<size_t>(position_ % kBlock);
        if (within == 0 && length >= static_cast<size_t>(kBlock)) {
            const size_t blocks = length / static_cast<size_t>(kBlock);
            readBlocks(block, blocks, data);
            position_ += static_cast<int64_t>(blocks) * kBlock;
            return blocks * static_cast<size_t>(kBlock);
        }
        uint8_t one[kBlock];
        readBlocks(block, 1, one);
        const size_t n = std::min(length, static_cast<size_t>(kBlock) - within);
        std::copy_n(one + within, n, data);
        position_ += static_cast<int64_t>(n);
        return n;
    }

protected:
    // Reads `count` whole blocks from `block` on; throws PlatformError when it cannot.
    virtual void readBlocks(int64_t block, size_t count, uint8_t* data) = 0;

private:
    int64_t size_;
    int64_t position_ = 0;
};

}  // namespace tolvane
