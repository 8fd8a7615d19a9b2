#include "format/coding_sniff.h"

namespace tolvane {

namespace {

constexpr uint8_t kPictureStart = 0x00;
constexpr uint8_t kSequenceHeader = 0xB3;
constexpr uint8_t kExtensionStart = 0xB5;
constexpr uint8_t kGroupStart = 0xB8;

bool isH264Profile(uint8_t profile) {
    switch (profile) {
        case 44:
        case 66:
        case 77:
        case 83:
        case 86:
        case 88:
        case 100:
        case 110:
        case 118:
        case 122:
        case 128:
        case 134:
        case 135:
        case 138:
        case 139:
        case 244:
            return true;
        default:
            return false;
    }
}

}  // namespace

std::optional<StreamCoding> sniffVideoCoding(const uint8_t* data, size_t length) {
    // After a sequence or picture header, MPEG-2 always puts its extension next. MPEG-1 is only
    // told from a sequence header without one: a payload that starts at a picture says less.
    bool sequenceBefore = false;
    bool pictureBefore = false;
    bool mpegCodeSeen = false;  // then slices follow, whose codes H.264 headers may look like
    for (size_t i = 0; i + 3 < length; ++i) {
        if (data[i] != 0 || data[i + 1] != 0 || data[i + 2] != 1) {
            continue;
        }
        const uint8_t code = data[i + 3];
        const int next = i + 4 < length ? data[i + 4] : -1;
        if (sequenceBefore || (pictureBefore && code == kExtensionStart)) {
            return code == kExtensionStart ? StreamCoding::Mpeg2 : StreamCoding::Mpeg1;
        }
        pictureBefore = code == kPictureStart;
        if (code == kSequenceHeader || code == kPictureStart || code >= kGroupStart) {
            sequenceBefore = code == kSequenceHeader;
            mpegCodeSeen = true;
        } else if (mpegCodeSeen) {
            continue;
        } else if ((code & 0x9F) == 0x09 && next >= 0 && (next & 0x1F) == 0x10) {
            return StreamCoding::H264;  // access unit delimiter: primary_pic_type, stop bit
        } else if ((code & 0x9F) == 0x07 && next >= 0 &&
                   isH264Profile(static_cast<uint8_t>(next))) {
            return StreamCoding::H264;  // sequence parameter set
        }
        i += 2;
    }
    return std::nullopt;
}

std::optional<size_t> mpegAudioHeaderAt(const uint8_t* data, size_t length) {
    for (size_t i = 0; i + 3 < length; ++i) {
        if (data[i] != 0xFF || (data[i + 1] & 0xE0) != 0xE0) {
            continue;
        }
        const int version = (data[i + 1] >> 3) & 3;   // 1 is reserved
        const int layer = (data[i + 1] >> 1) & 3;     // 0 is reserved
        const int bitRate = data[i + 2] >> 4;         // 15 is not allowed
        const int sampling = (data[i + 2] >> 2) & 3;  // 3 is reserved
        if (version != 1 && layer != 0 && bitRate != 15 && sampling != 3) {
            return i;
        }
    }
    return std::nullopt;
}

std::optional<StreamCoding> sniffMpegAudioLayer(const uint8_t* data, size_t length) {
    const std::optional<size_t> at = mpegAudioHeaderAt(data, length);
    if (!at) {
        return std::nullopt;
    }
    const int layer = (data[*at + 1] >> 1) & 3;
    return layer == 3 ? StreamCoding::Mp1 : layer == 2 ? StreamCoding::Mp2 : StreamCoding::Mp3;
}

}  // namespace tolvane
