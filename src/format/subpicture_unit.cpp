#include "format/subpicture_unit.h"

namespace tolvane {

namespace {

// A DVD unit says its size in 16 bits; an HD DVD unit, whose first two bytes are zero, in 32
// bits. Nothing gathers past the largest a disc's subpicture buffer holds.
constexpr size_t kLargestUnit = 0xFFFF;
constexpr size_t kLargestHdUnit = size_t{4} << 20;

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
    if (unit_.size() > (size_ > kLargestUnit ? kLargestHdUnit : kLargestUnit)) {
        reset();
        return std::nullopt;
    }
    unit_.insert(unit_.end(), payload.begin(), payload.end());
    if (size_ == 0 && unit_.size() >= 2 && word(unit_, 0) != 0) {
        size_ = word(unit_, 0);
        if (size_ < 4) {
            reset();  // no room for its control offset: no unit
            return std::nullopt;
        }
    } else if (size_ == 0 && unit_.size() >= 6 && word(unit_, 0) == 0) {
        size_ = word(unit_, 2) << 16 | word(unit_, 4);
        if (size_ < 10 || size_ > kLargestHdUnit) {
            reset();  // no room for its offsets, or larger than any disc holds
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
    if (unit.size() < 4) {
        return false;
    }
    // An HD DVD unit's offsets take 32 bits, a DVD unit's 16.
    const bool hd = word(unit, 0) == 0;
    const size_t offsetBytes = hd ? 4 : 2;
    const auto offset = [&](size_t at) {
        return hd ? word(unit, at) << 16 | word(unit, at + 2) : word(unit, at);
    };
    if (unit.size() < 2 + offsetBytes) {
        return false;
    }
    size_t sequence = offset(hd ? 6 : 2);
    // A sequence after the last leads back to itself; each one must lie further on.
    for (size_t seen = 0; sequence + 2 + offsetBytes <= unit.size() && seen < 256; ++seen) {
        const size_t next = offset(sequence + 2);
        for (size_t at = sequence + 2 + offsetBytes; at < unit.size();) {
            const uint8_t command = unit[at++];
            if (command == kForcedStart) {
                return true;
            }
            if (command == kEnd) {
                break;
            }
            const size_t arguments = subpictureCommandArguments(command, unit.subspan(at));
            if (arguments == kUnknownCommand) {
                return false;  // a command no unit has: nothing more can be read
            }
            at += arguments;
        }
        if (next <= sequence) {
            break;
        }
        sequence = next;
    }
    return false;
}

size_t subpictureCommandArguments(uint8_t command, std::span<const uint8_t> after) {
    // DVD's commands; 0x07's says its own size, counting its own two bytes.
    constexpr size_t kArguments[] = {0, 0, 0, 2, 2, 6, 4};
    if (command < std::size(kArguments)) {
        return kArguments[command];
    }
    if (command == 0x07) {
        return after.size() >= 2 && word(after, 0) >= 2 ? word(after, 0) : kUnknownCommand;
    }
    // HD DVD's: 256 colours, 256 contrasts, the area in 12-bit fields, 32-bit field offsets.
    switch (command) {
        case 0x83:
            return 768;
        case 0x84:
            return 256;
        case 0x85:
            return 6;
        case 0x86:
            return 8;
        default:
            return kUnknownCommand;
    }
}

}  // namespace tolvane
