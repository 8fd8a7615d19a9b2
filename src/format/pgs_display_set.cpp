#include "format/pgs_display_set.h"

#include <algorithm>
#include <array>

namespace tolvane {

namespace {

constexpr uint8_t kPaletteSegment = 0x14;
constexpr uint8_t kObjectSegment = 0x15;
constexpr uint8_t kPresentationSegment = 0x16;
constexpr uint8_t kWindowSegment = 0x17;
constexpr uint8_t kEndSegment = 0x80;
// A segment says its size in 16 bits.
constexpr size_t kLargestSegment = 0xFFFF;

void put16(std::vector<uint8_t>& out, size_t value) {
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value));
}

// Opens a segment of `type`; closeSegment() fills in its size.
size_t openSegment(std::vector<uint8_t>& out, uint8_t type) {
    out.push_back(type);
    put16(out, 0);
    return out.size();
}

void closeSegment(std::vector<uint8_t>& out, size_t dataAt) {
    const size_t size = out.size() - dataAt;
    out[dataAt - 2] = static_cast<uint8_t>(size >> 8);
    out[dataAt - 1] = static_cast<uint8_t>(size);
}

void window(const HdSubpicture& picture, std::vector<uint8_t>& out) {
    const size_t at = openSegment(out, kWindowSegment);
    out.push_back(1);  // one window
    out.push_back(0);  // its id
    put16(out, static_cast<size_t>(picture.x));
    put16(out, static_cast<size_t>(picture.y));
    put16(out, static_cast<size_t>(picture.width));
    put16(out, static_cast<size_t>(picture.height));
    closeSegment(out, at);
}

// A line's runs: colour 0 and runs of three or more behind a zero byte, a zero pair ends it.
void encodeLine(const uint8_t* row, int width, std::vector<uint8_t>& out) {
    for (int x = 0; x < width;) {
        const uint8_t colour = row[x];
        int length = 1;
        while (x + length < width && row[x + length] == colour && length < 0x3FFF) {
            ++length;
        }
        x += length;
        const auto size = static_cast<size_t>(length);
        if (colour != 0 && length <= 2) {
            out.insert(out.end(), size, colour);
            continue;
        }
        out.push_back(0);
        const uint8_t flags = (colour != 0 ? 0x80 : 0x00) | (length >= 64 ? 0x40 : 0x00);
        if (length >= 64) {
            out.push_back(static_cast<uint8_t>(flags | size >> 8));
            out.push_back(static_cast<uint8_t>(size));
        } else {
            out.push_back(static_cast<uint8_t>(flags | size));
        }
        if (colour != 0) {
            out.push_back(colour);
        }
    }
    out.push_back(0);
    out.push_back(0);
}

}  // namespace

void PgsEncoder::presentation(const HdSubpicture& picture, bool shown, std::vector<uint8_t>& out) {
    const size_t at = openSegment(out, kPresentationSegment);
    put16(out, kHdSubpictureWidth);
    put16(out, kHdSubpictureHeight);
    out.push_back(0x10);  // frame rate: decoders read none from here
    put16(out, composition_++);
    out.push_back(shown ? 0x80 : 0x00);  // an epoch starts with each subpicture
    out.push_back(0);                    // no palette-only update
    out.push_back(0);                    // palette 0
    out.push_back(shown ? 1 : 0);
    if (shown) {
        put16(out, 0);     // object 0
        out.push_back(0);  // in window 0
        out.push_back(0);  // not cropped
        put16(out, static_cast<size_t>(picture.x));
        put16(out, static_cast<size_t>(picture.y));
    }
    closeSegment(out, at);
}

void PgsEncoder::show(const HdSubpicture& picture, std::vector<uint8_t>& out) {
    out.clear();
    presentation(picture, true, out);
    window(picture, out);

    // The colours the picture uses.
    std::array<bool, 256> used{};
    for (const uint8_t index : picture.pixels) {
        used[index] = true;
    }
    size_t at = openSegment(out, kPaletteSegment);
    out.push_back(0);  // palette 0
    out.push_back(0);  // its first version
    for (size_t index = 0; index < used.size(); ++index) {
        if (used[index]) {
            out.push_back(static_cast<uint8_t>(index));
            out.insert(out.end(), picture.colours.begin() + static_cast<ptrdiff_t>(index * 3),
                       picture.colours.begin() + static_cast<ptrdiff_t>(index * 3 + 3));
            out.push_back(picture.opacity[index]);
        }
    }
    closeSegment(out, at);

    lines_.clear();
    for (int line = 0; line < picture.height; ++line) {
        encodeLine(picture.pixels.data() + static_cast<size_t>(line) * picture.width, picture.width,
                   lines_);
    }
    // The object's data (its size, then width and height, then the lines) in as many segments
    // as it takes: the first and the last marked.
    const size_t objectSize = lines_.size() + 4;
    size_t taken = 0;
    do {
        const bool first = taken == 0;
        at = openSegment(out, kObjectSegment);
        put16(out, 0);     // object 0
        out.push_back(0);  // its first version
        const size_t header = first ? 4 + 7 : 4;
        const size_t part = std::min(lines_.size() - taken, kLargestSegment - header);
        const bool last = taken + part == lines_.size();
        out.push_back(static_cast<uint8_t>((first ? 0x80 : 0) | (last ? 0x40 : 0)));
        if (first) {
            out.push_back(static_cast<uint8_t>(objectSize >> 16));
            put16(out, objectSize & 0xFFFF);
            put16(out, static_cast<size_t>(picture.width));
            put16(out, static_cast<size_t>(picture.height));
        }
        out.insert(out.end(), lines_.begin() + static_cast<ptrdiff_t>(taken),
                   lines_.begin() + static_cast<ptrdiff_t>(taken + part));
        taken += part;
        closeSegment(out, at);
    } while (taken < lines_.size());
    closeSegment(out, openSegment(out, kEndSegment));
}

void PgsEncoder::clear(const HdSubpicture& picture, std::vector<uint8_t>& out) {
    out.clear();
    presentation(picture, false, out);
    window(picture, out);
    closeSegment(out, openSegment(out, kEndSegment));
}

void appendSupRecords(std::span<const uint8_t> segments, uint32_t time, std::vector<uint8_t>& out,
                      std::vector<size_t>* times) {
    for (size_t at = 0; at + 3 <= segments.size();) {
        const size_t size = 3 + static_cast<size_t>(segments[at + 1] << 8 | segments[at + 2]);
        out.push_back('P');
        out.push_back('G');
        if (times != nullptr) {
            times->push_back(out.size());
        }
        put16(out, time >> 16);
        put16(out, time & 0xFFFF);
        out.insert(out.end(), 4, 0);
        out.insert(out.end(), segments.begin() + static_cast<ptrdiff_t>(at),
                   segments.begin() + static_cast<ptrdiff_t>(std::min(at + size, segments.size())));
        at += size;
    }
}

void PgsConverter::settle() {
    if (cleared_) {
        std::swap(sets_[0], sets_[2]);
        waiting_ = true;
        cleared_ = false;
    }
}

std::span<const PgsDisplaySet> PgsConverter::add(std::span<const uint8_t> payload,
                                                 std::optional<int64_t> time) {
    settle();
    const auto unit = units_.add(payload, time);
    if (!unit) {
        return {};
    }
    failure_ = decodeHdSubpicture(*unit, picture_);
    if (failure_ || (forcedOnly_ && !picture_.forced)) {
        return {};
    }
    const int64_t shown = units_.time() + picture_.start;
    const bool clearFirst = waiting_ && sets_[0].time <= shown;
    waiting_ = false;
    sets_[1].time = shown;
    encoder_.show(picture_, sets_[1].segments);
    if (picture_.stop && *picture_.stop > picture_.start) {
        sets_[2].time = units_.time() + *picture_.stop;
        encoder_.clear(picture_, sets_[2].segments);
        cleared_ = true;
    }
    return clearFirst ? std::span<const PgsDisplaySet>(sets_, 2)
                      : std::span<const PgsDisplaySet>(sets_ + 1, 1);
}

std::span<const PgsDisplaySet> PgsConverter::finish() {
    settle();
    if (!waiting_) {
        return {};
    }
    waiting_ = false;
    return {sets_, 1};
}

}  // namespace tolvane
