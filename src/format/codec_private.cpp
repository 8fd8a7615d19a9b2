#include "format/codec_private.h"

#include <algorithm>

namespace tolvane {

namespace {

// The position of the next start code prefix (00 00 01) at or after `from`; `length` if none.
size_t nextStartCode(const uint8_t* data, size_t length, size_t from) {
    for (size_t k = from; k + 2 < length; ++k) {
        if (data[k] == 0 && data[k + 1] == 0 && data[k + 2] == 1) {
            return k;
        }
    }
    return length;
}

// From the start code `first` to the first start code after it that `keeps` does not take:
// the header units that lead a picture. Empty unless that end lies in the data.
template <typename Keeps>
std::vector<uint8_t> leadingUnits(const uint8_t* data, size_t length, uint8_t first, Keeps keeps) {
    size_t at = nextStartCode(data, length, 0);
    while (at + 3 < length && data[at + 3] != first) {
        at = nextStartCode(data, length, at + 3);
    }
    if (at + 3 >= length) {
        return {};
    }
    size_t end = nextStartCode(data, length, at + 3);
    while (end + 3 < length && keeps(data[end + 3])) {
        end = nextStartCode(data, length, end + 3);
    }
    if (end + 3 >= length) {
        return {};  // the headers may go on in the next packet
    }
    return {data + at, data + end};
}

// H.264's parameter sets before the first slice, each with a three-byte start code and without
// the zero bytes that pad it to the next.
std::vector<uint8_t> h264ParameterSets(const uint8_t* data, size_t length) {
    std::vector<uint8_t> sets;
    size_t at = nextStartCode(data, length, 0);
    while (at + 3 < length) {
        const size_t next = nextStartCode(data, length, at + 3);
        const int type = data[at + 3] & 0x1F;
        if (type == 1 || type == 5) {
            break;  // a slice: every set before it is taken
        }
        if (next == length) {
            return {};  // a unit cut at the end of the data
        }
        if (type == 7 || type == 8) {
            size_t end = next;
            while (end > at + 3 && data[end - 1] == 0) {
                --end;
            }
            sets.insert(sets.end(), {0, 0, 1});
            sets.insert(sets.end(), data + at + 3, data + end);
        }
        at = next;
    }
    return sets;
}

}  // namespace

std::vector<uint8_t> videoCodecPrivate(StreamCoding coding, const uint8_t* data, size_t length) {
    switch (coding) {
        case StreamCoding::Mpeg1:
        case StreamCoding::Mpeg2:
            // The sequence header and its extensions (0xB5), up to the GOP or picture.
            return leadingUnits(data, length, 0xB3, [](uint8_t code) { return code == 0xB5; });
        case StreamCoding::Vc1:
            // The sequence header and the entry point (0x0E) that follows it.
            return leadingUnits(data, length, 0x0F, [](uint8_t code) { return code == 0x0E; });
        case StreamCoding::H264:
            return h264ParameterSets(data, length);
        default:
            return {};
    }
}

std::vector<uint8_t> audioHeaderBytes(StreamCoding coding, const uint8_t* data, size_t length,
                                      size_t unitAt, const uint8_t* before, size_t beforeLength,
                                      size_t lpcmHeaderBytes) {
    if (coding == StreamCoding::Lpcm) {
        if (beforeLength < lpcmHeaderBytes) {
            return {};
        }
        return {before + beforeLength - lpcmHeaderBytes, before + beforeLength};
    }
    size_t size = 0;
    bool synced = false;
    const uint8_t* unit = data + unitAt;
    const size_t left = unitAt < length ? length - unitAt : 0;
    switch (coding) {
        case StreamCoding::Ac3:
        case StreamCoding::Eac3:
            size = 8;
            synced = left >= 2 && unit[0] == 0x0B && unit[1] == 0x77;
            break;
        case StreamCoding::Dts:
            size = 15;
            synced = left >= 4 && unit[0] == 0x7F && unit[1] == 0xFE && unit[2] == 0x80 &&
                     unit[3] == 0x01;
            break;
        case StreamCoding::Mp1:
        case StreamCoding::Mp2:
        case StreamCoding::Mp3:
            size = 4;
            synced = left >= 2 && unit[0] == 0xFF && (unit[1] & 0xE0) == 0xE0;
            break;
        default:
            break;
    }
    if (!synced || left < size) {
        return {};
    }
    return {unit, unit + size};
}

}  // namespace tolvane
