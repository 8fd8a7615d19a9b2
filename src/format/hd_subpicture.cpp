#include "format/hd_subpicture.h"

#include <algorithm>
#include <cstring>

#include "format/subpicture_unit.h"

namespace tolvane {

namespace {

uint32_t be16(std::span<const uint8_t> bytes, size_t at) {
    return static_cast<uint32_t>(bytes[at] << 8 | bytes[at + 1]);
}

uint32_t be32(std::span<const uint8_t> bytes, size_t at) {
    return be16(bytes, at) << 16 | be16(bytes, at + 2);
}

// A field's run-length lines, read most significant bit first and never past the unit.
class FieldBits {
public:
    FieldBits(std::span<const uint8_t> bytes, size_t from) : bytes_(bytes), bit_(from * 8) {}

    bool has(size_t bits) const { return bit_ + bits <= bytes_.size() * 8; }
    uint32_t read(int bits) {
        uint32_t value = 0;
        for (int n = 0; n < bits; ++n, ++bit_) {
            value = value << 1 | ((bytes_[bit_ / 8] >> (7 - bit_ % 8)) & 1U);
        }
        return value;
    }
    void align() { bit_ = (bit_ + 7) / 8 * 8; }

private:
    std::span<const uint8_t> bytes_;
    size_t bit_;
};

// One field's lines (every second line from `first`): runs of a 2- or 8-bit colour, a length
// of 0 filling the rest of the line, each line ending on a byte. False when the bytes end first.
bool decodeField(FieldBits bits, int first, HdSubpicture& picture) {
    const int width = picture.width;
    for (int line = first; line < picture.height; line += 2) {
        uint8_t* row = picture.pixels.data() + static_cast<size_t>(line) * width;
        for (int x = 0; x < width;) {
            if (!bits.has(2)) {
                return false;
            }
            const bool isRun = bits.read(1) != 0;
            const int colourBits = bits.read(1) != 0 ? 8 : 2;
            if (!bits.has(static_cast<size_t>(colourBits) + (isRun ? 8 : 0))) {
                return false;
            }
            const auto colour = static_cast<uint8_t>(bits.read(colourBits));
            int length = 1;
            if (isRun && bits.read(1) != 0) {
                const int coded = static_cast<int>(bits.read(7));
                length = coded == 0 ? width - x : coded + 9;
            } else if (isRun) {
                length = static_cast<int>(bits.read(3)) + 2;
            }
            length = std::min(length, width - x);
            std::memset(row + x, colour, static_cast<size_t>(length));
            x += length;
        }
        bits.align();
    }
    return true;
}

}  // namespace

bool isHdSubpictureUnit(std::span<const uint8_t> unit) {
    return unit.size() >= 10 && be16(unit, 0) == 0;
}

std::optional<std::string> decodeHdSubpicture(std::span<const uint8_t> unit,
                                              HdSubpicture& picture) {
    if (!isHdSubpictureUnit(unit)) {
        return "it is no HD DVD subpicture";
    }
    picture.start = 0;
    picture.stop.reset();
    picture.forced = false;
    picture.opacity.fill(255);  // opaque, unless the unit sets its contrasts
    bool started = false;
    bool hasColours = false;
    std::optional<std::array<uint32_t, 4>> area;  // x1, x2, y1, y2, all inclusive
    std::optional<std::array<uint32_t, 2>> fields;
    size_t sequence = be32(unit, 6);
    // Each sequence must lie further on than the one before: no unit loops.
    for (int seen = 0; sequence + 6 <= unit.size() && seen < 256; ++seen) {
        const int64_t delay = int64_t{be16(unit, sequence)} * 1024;
        const size_t next = be32(unit, sequence + 2);
        for (size_t at = sequence + 6; at < unit.size();) {
            const uint8_t command = unit[at++];
            const std::span<const uint8_t> rest = unit.subspan(at);
            const size_t arguments = subpictureCommandArguments(command, rest);
            if (command == 0xFF || arguments == kUnknownCommand || arguments > rest.size()) {
                break;
            }
            if (command == 0x00 || command == 0x01) {
                picture.forced = picture.forced || command == 0x00;
                picture.start = started ? picture.start : delay;
                started = true;
            } else if (command == 0x02) {
                picture.stop = delay;
            } else if (command == 0x83) {
                std::copy_n(rest.begin(), picture.colours.size(), picture.colours.begin());
                hasColours = true;
            } else if (command == 0x84) {
                for (size_t n = 0; n < picture.opacity.size(); ++n) {
                    picture.opacity[n] = static_cast<uint8_t>(255 - rest[n]);
                }
            } else if (command == 0x85) {
                area = {static_cast<uint32_t>(rest[0] << 4 | rest[1] >> 4),
                        static_cast<uint32_t>((rest[1] & 0x0F) << 8 | rest[2]),
                        static_cast<uint32_t>(rest[3] << 4 | rest[4] >> 4),
                        static_cast<uint32_t>((rest[4] & 0x0F) << 8 | rest[5])};
            } else if (command == 0x86) {
                fields = {be32(rest, 0), be32(rest, 4)};
            }
            at += arguments;
        }
        if (next <= sequence) {
            break;
        }
        sequence = next;
    }
    if (!area || !fields) {
        return std::string(!area ? "it sets no area" : "it says not where its pixels are");
    }
    const auto [x1, x2, y1, y2] = *area;
    if (x2 < x1 || y2 < y1) {
        return "its area is empty";
    }
    if (x2 >= kHdSubpictureWidth || y2 >= kHdSubpictureHeight) {
        return "its area lies outside the 1920x1080 frame";
    }
    if (!hasColours) {
        return "it sets no colours";
    }
    if ((*fields)[0] >= unit.size() || (*fields)[1] >= unit.size()) {
        return "its pixels lie outside it";
    }
    picture.x = static_cast<int>(x1);
    picture.y = static_cast<int>(y1);
    picture.width = static_cast<int>(x2 - x1 + 1);
    picture.height = static_cast<int>(y2 - y1 + 1);
    picture.pixels.assign(static_cast<size_t>(picture.width) * picture.height, 0);
    if (!decodeField(FieldBits(unit, (*fields)[0]), 0, picture) ||
        !decodeField(FieldBits(unit, (*fields)[1]), 1, picture)) {
        return "its lines run past its end";
    }
    return std::nullopt;
}

}  // namespace tolvane
