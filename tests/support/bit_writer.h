#pragma once

#include <cstdint>
#include <vector>

namespace tolvane::fixture {

// Writes fields most significant bit first, as the elementary-stream headers lay them out.
class BitWriter {
public:
    BitWriter& bits(uint64_t value, int count) {
        for (int k = count - 1; k >= 0; --k) {
            bit(static_cast<int>((value >> k) & 1));
        }
        return *this;
    }
    BitWriter& bit(int value) {
        if (used_ == 0) {
            bytes_.push_back(0);
        }
        if (value != 0) {
            bytes_.back() |= static_cast<uint8_t>(0x80 >> used_);
        }
        used_ = (used_ + 1) % 8;
        return *this;
    }
    // Exp-Golomb codes of H.264.
    BitWriter& ue(uint32_t value) {
        const uint64_t coded = static_cast<uint64_t>(value) + 1;
        int length = 0;
        while ((coded >> length) > 1) {
            ++length;
        }
        bits(0, length);
        return bits(coded, length + 1);
    }
    BitWriter& se(int32_t value) {
        return ue(value > 0 ? static_cast<uint32_t>(2 * value - 1)
                            : static_cast<uint32_t>(-2 * value));
    }
    // Pads the byte begun with zero bits: the next field starts on a byte.
    BitWriter& align() {
        used_ = 0;
        return *this;
    }
    // Pads the last byte with zero bits.
    std::vector<uint8_t> bytes() const { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
    int used_ = 0;
};

}  // namespace tolvane::fixture
