#pragma once

#include <cstddef>
#include <cstdint>

namespace tolvane {

// Reads a header most significant bit first, straight out of the read block, always looking
// four bytes ahead of the byte that holds the next bit. Past the end of the block it reads
// zero bytes; it never reads outside the block.
class BitReader {
public:
    BitReader(const uint8_t* block, size_t blockLength) : block_(block), length_(blockLength) {}

    void Start(int32_t byteIndex);
    uint32_t Peek() const { return lookahead_; }
    void Skip(int bits);
    uint32_t Read(int bits);
    uint32_t ReadUE();
    int32_t ReadSE();

    int32_t pos() const { return pos_; }
    int32_t pending() const { return pending_; }

private:
    uint8_t byteAt(int32_t index) const {
        return index >= 0 && static_cast<size_t>(index) < length_ ? block_[index] : 0;
    }
    void refill() {
        pending_ -= 8;
        lookahead_ += byteAt(pos_);
        ++pos_;
    }

    const uint8_t* block_;
    size_t length_;
    int32_t pos_ = 0;
    uint32_t lookahead_ = 0;
    int32_t pending_ = 0;
};

}  // namespace tolvane
