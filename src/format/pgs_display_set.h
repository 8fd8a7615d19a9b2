#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "format/hd_subpicture.h"
#include "format/subpicture_unit.h"

namespace tolvane {

// A PGS display set (Blu-ray's presentation graphics, Matroska's S_HDMV/PGS): its segments one
// after the other, each a type, a 16-bit size and its data, as a Matroska block holds them.
struct PgsDisplaySet {
    int64_t time = 0;  // 90 kHz, on the stream's timeline
    std::vector<uint8_t> segments;
};

// Writes a subpicture as the display set that shows it (presentation, window, palette, object
// and end segments) and the one that takes it away again, on a 1920x1080 screen.
class PgsEncoder {
public:
    void show(const HdSubpicture& picture, std::vector<uint8_t>& out);
    void clear(const HdSubpicture& picture, std::vector<uint8_t>& out);

private:
    void presentation(const HdSubpicture& picture, bool shown, std::vector<uint8_t>& out);

    uint16_t composition_ = 0;
    std::vector<uint8_t> lines_;  // the object's run-length lines
};

// Appends a display set's segments to `out` as the records of a .sup file: each behind "PG",
// its presentation time (90 kHz, 32 bits) and a decoding time of 0. Notes where each time field
// lands in `times`, counted from the start of `out`, when it is given.
void appendSupRecords(std::span<const uint8_t> segments, uint32_t time, std::vector<uint8_t>& out,
                      std::vector<size_t>* times = nullptr);

// Turns an HD DVD subpicture stream's packets into PGS display sets, one unit at a time, in
// time order. A unit replaces the one on screen, as a player shows them: the set that clears a
// unit waits for the next unit, and goes if that one shows first.
class PgsConverter {
public:
    // `forcedOnly`: only the units shown whatever the player's subtitle setting.
    explicit PgsConverter(bool forcedOnly = false) : forcedOnly_(forcedOnly) {}

    // The display sets the packet completes: none; or the one that shows a unit, after the one
    // that clears the unit before where that comes first. Valid until the next call.
    std::span<const PgsDisplaySet> add(std::span<const uint8_t> payload,
                                       std::optional<int64_t> time);
    // The set that clears the last unit, when it says when it goes.
    std::span<const PgsDisplaySet> finish();
    // Why the last unit that completed was not shown; nothing when it was.
    const std::optional<std::string>& failure() const { return failure_; }

private:
    // The last call's clearing set becomes the one waiting.
    void settle();

    bool forcedOnly_;
    SubpictureGatherer units_;
    HdSubpicture picture_;
    PgsEncoder encoder_;
    // The waiting clearing set, the showing set, and the new clearing set.
    PgsDisplaySet sets_[3];
    bool waiting_ = false;
    bool cleared_ = false;
    std::optional<std::string> failure_;
};

}  // namespace tolvane
