#include "analysers/bit_reader.h"

namespace tolvane {

namespace {

// Longer runs of leading zeros cannot start a valid Exp-Golomb code.
constexpr int kMaxLeadingZeros = 32;

}  // namespace

void BitReader::start(int32_t byteIndex) {
    pending_ = 0;
    lookahead_ = static_cast<uint32_t>(byteAt(byteIndex)) << 24 |
                 static_cast<uint32_t>(byteAt(byteIndex + 1)) << 16 |
                 static_cast<uint32_t>(byteAt(byteIndex + 2)) << 8 | byteAt(byteIndex + 3);
    pos_ = byteIndex + 4;
}

void BitReader::skip(int bits) {
    if (bits <= 0) {
        return;
    }
    if (pending_ > 0) {
        const int toBoundary = 8 - pending_;
        if (toBoundary < bits) {
            lookahead_ <<= toBoundary;
            bits -= toBoundary;
            pending_ += toBoundary;
            refill();
        }
    }
    while (pending_ == 0 && bits > 8) {
        lookahead_ <<= 8;
        pending_ = 8;
        refill();
        bits -= 8;
    }
    lookahead_ = bits >= 32 ? 0 : lookahead_ << bits;
    pending_ += bits;
    if (pending_ == 8) {
        refill();
    }
}

uint32_t BitReader::read(int bits) {
    if (bits <= 0) {
        return 0;
    }
    if (bits > 32) {
        bits = 32;
    }
    uint32_t value = lookahead_ >> (32 - bits);
    const int beyond = bits - (32 - pending_);
    if (beyond > 0) {
        // The low bits come from the top of the byte not yet taken in.
        value |= static_cast<uint32_t>(nextByte()) >> (8 - beyond);
    }
    skip(bits);
    return value;
}

uint32_t BitReader::readUe() {
    int zeros = 0;
    while (read(1) == 0) {
        if (++zeros == kMaxLeadingZeros) {
            return 0xFFFFFFFFu;
        }
    }
    if (zeros == 0) {
        return 0;
    }
    return read(zeros) + ((uint32_t{1} << zeros) - 1);
}

int32_t BitReader::readSe() {
    const uint64_t k = readUe();
    const auto m = static_cast<int64_t>((k + 1) / 2);
    return static_cast<int32_t>((k & 1) != 0 ? m : -m);
}

}  // namespace tolvane
