#include "format/subpicture_unit.h"

namespace tolvane {

namespace {

// A unit says its size in 16 bits; nothing gathers past the largest.
constexpr size_t kLargestUnit = 0xFFFF;

size_t word(std::span<const uint8_t> bytes, size_t at) {
    return static_cast<size_t>(bytes[at] << 8 | bytes[at + 1]);
}

}  // namespace

void SubpictureGatherer::reset() {
    unit_.clear();  // its capacity stays: no allocation per packet
    size_ = 0;
    time_.reset();
    done_ = false;
}

std::optional<std::span<const uint8_t>> SubpictureGatherer::add(std::span<const uint8_t> payload,
                                                                std::optional<int64_t> time) {
    if (done_ || time) {
        reset();
        time_ = time;
    }
    if (!time_) {
        return std::nullopt;
    }
    if (unit_.size() > kLargestUnit) {
        reset();
        return std::nullopt;
    }
    unit_.insert(unit_.end(), payload.begin(), payload.end());
    if (size_ == 0 && unit_.size() >= 2) {
        size_ = word(unit_, 0);
        if (size_ < 4) {
            reset();  // no room for its control offset: no unit
            return std::nullopt;
        }
    }
    if (size_ > 0 && unit_.size() >= size_) {
        done_ = true;
        return std::span<const uint8_t>(unit_.data(), size_);
    }
    return std::nullopt;
}

bool forcedSubpicture(std::span<const uint8_t> unit) {
    constexpr uint8_t kForcedStart = 0x00;
    constexpr uint8_t kEnd = 0xFF;
    // The arguments each command takes, by command (0x07's says its own size).
    constexpr size_t kArguments[] = {0, 0, 0, 2, 2, 6, 4};
    if (unit.size() < 4) {
        return false;
    }
    size_t sequence = word(unit, 2);
    // A sequence after the last leads back to itself; each one must lie further on.
    for (size_t seen = 0; sequence + 4 <= unit.size() && seen < 256; ++seen) {
        const size_t next = word(unit, sequence + 2);
        for (size_t at = sequence + 4; at < unit.size();) {
            const uint8_t command = unit[at++];
            if (command == kForcedStart) {
                return true;
            }
            if (command == kEnd) {
                break;
            }
            if (command < std::size(kArguments)) {
                at += kArguments[command];
            } else if (command == 0x07 && at + 2 <= unit.size() && word(unit, at) >= 2) {
                at += word(unit, at);  // its size counts its own two bytes
            } else {
                return false;  // a command no unit has: nothing more can be read
            }
        }
        if (next <= sequence) {
            break;
        }
        sequence = next;
    }
    return false;
}

}  // namespace tolvane
