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

    void start(int32_t byteIndex);
    uint32_t peek() const { return lookahead_; }
    void skip(int bits);
    uint32_t read(int bits);
    uint32_t readUe();
    int32_t readSe();

    // From now on a 0x03 byte after two zero bytes is an emulation-prevention byte of an H.264
    // NAL unit and is dropped, so the fields after it come out as the encoder wrote them.
    void dropEmulationPrevention() {
        dropEmulation_ = true;
        zeros_ = (lookahead_ & 0xFF) != 0 ? 0 : (lookahead_ & 0xFF00) != 0 ? 1 : 2;
    }

    int32_t pos() const { return pos_; }
    int32_t pending() const { return pending_; }

private:
    uint8_t byteAt(int32_t index) const {
        return index >= 0 && static_cast<size_t>(index) < length_ ? block_[index] : 0;
    }
    // The byte the next refill takes in.
    uint8_t nextByte() const {
        const uint8_t next = byteAt(pos_);
        return dropEmulation_ && zeros_ >= 2 && next == 0x03 ? byteAt(pos_ + 1) : next;
    }
    void refill() {
        pending_ -= 8;
        uint8_t next = byteAt(pos_++);
        if (dropEmulation_) {
            if (zeros_ >= 2 && next == 0x03) {
                next = byteAt(pos_++);
                zeros_ = 0;
            }
            zeros_ = next == 0 ? zeros_ + 1 : 0;
        }
        lookahead_ += next;
    }

    const uint8_t* block_;
    size_t length_;
    int32_t pos_ = 0;
    uint32_t lookahead_ = 0;
    int32_t pending_ = 0;
    bool dropEmulation_ = false;
    int zeros_ = 0;
};

}  // namespace tolvane
