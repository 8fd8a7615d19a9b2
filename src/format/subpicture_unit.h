#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace tolvane {

// Gathers a DVD subpicture stream's packets into whole subpicture units: a packet with a time
// begins a unit (one left unfinished is dropped), the unit's first two bytes give its size (an
// HD DVD unit's are zero, and the four after them give it).
class SubpictureGatherer {
public:
    // Adds a packet's payload; the unit, with its time, when this completes one. The span
    // stays valid until the next call.
    std::optional<std::span<const uint8_t>> add(std::span<const uint8_t> payload,
                                                std::optional<int64_t> time);
    // The time of the unit add() returned last.
    int64_t time() const { return time_.value_or(0); }

private:
    void reset();

    std::vector<uint8_t> unit_;
    size_t size_ = 0;
    std::optional<int64_t> time_;
    bool done_ = false;  // the unit was handed out: the next add starts anew
};

// Whether a DVD subpicture unit's display control sequences show it forced (a forced-start
// command), whatever the player's subtitle setting. Sequences that lead outside the unit, or
// back, end the search.
bool forcedSubpicture(std::span<const uint8_t> unit);

inline constexpr size_t kUnknownCommand = static_cast<size_t>(-1);

// The bytes of arguments a display control command takes (DVD's and HD DVD's), given the bytes
// after it; kUnknownCommand for a command no unit has.
size_t subpictureCommandArguments(uint8_t command, std::span<const uint8_t> after);

}  // namespace tolvane
