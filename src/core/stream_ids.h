#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/program_stream_layout.h"
#include "core/scan_state.h"

namespace tolvane {

enum class StreamKind : uint8_t { Video, Audio, Subpicture };

// Private-stream-1 audio: the sub-stream id ranges, their coding, and the mask that turns an id
// into its stream number.
struct AudioRange {
    uint8_t first;
    uint8_t last;
    AudioCoding coding;
    uint8_t numberMask;
};

inline constexpr AudioRange kAudioRanges[] = {
    {0x80, 0x87, AudioCoding::Ac3, 7},    {0x88, 0x8F, AudioCoding::Dts, 7},
    {0xC0, 0xCF, AudioCoding::Eac3, 15},  {0xA0, 0xA7, AudioCoding::Lpcm, 15},
    {0xB0, 0xB7, AudioCoding::TrueHd, 7},
};

inline const AudioRange* audioRangeOf(uint8_t subStreamId) {
    for (const AudioRange& range : kAudioRanges) {
        if (subStreamId >= range.first && subStreamId <= range.last) {
            return &range;
        }
    }
    return nullptr;
}

// Subpictures (0x20..0x3F) and extended subpictures (0x60..0x7F) share the numbers 0..31.
inline bool isSubpictureId(uint8_t subStreamId) {
    const uint8_t group = subStreamId & 0xE0;
    return group == 0x20 || group == 0x60;
}

using layout::kVc1FirstExtension;
inline bool isVc1Extension(uint8_t extension) {
    return extension >= layout::kVc1FirstExtension && extension <= layout::kVc1LastExtension;
}

// MPEG-2 and H.264 video stream ids.
inline bool isVideoStreamId(uint8_t streamId) {
    return streamId >= layout::kVideoFirstId && streamId <= layout::kVideoLastId;
}

// One stream as the stream boxes know it: its kind, its box number and its identifying byte.
struct StreamRef {
    StreamKind kind;
    int32_t number;
    uint8_t idByte;
};

// The stream of a private-stream-1 sub-stream id, when it is one the program knows.
inline std::optional<StreamRef> privateStreamOf(uint8_t subStreamId) {
    if (isSubpictureId(subStreamId)) {
        return StreamRef{StreamKind::Subpicture, subStreamId & 31, subStreamId};
    }
    if (const AudioRange* range = audioRangeOf(subStreamId)) {
        return StreamRef{StreamKind::Audio, subStreamId & range->numberMask, subStreamId};
    }
    return std::nullopt;
}

// The identifying byte that the stream of coding `idByte` gets under stream number `number`.
inline uint8_t renumberedId(StreamKind kind, uint8_t idByte, int32_t number) {
    const auto n = static_cast<uint8_t>(number);
    switch (kind) {
        case StreamKind::Video:
            return isVc1Extension(idByte) ? static_cast<uint8_t>(kVc1FirstExtension + n)
                                          : static_cast<uint8_t>((idByte & 0xFE) | n);
        case StreamKind::Audio: {
            const AudioRange* range = audioRangeOf(idByte);
            return static_cast<uint8_t>((range != nullptr ? range->first : idByte) | n);
        }
        case StreamKind::Subpicture:
            break;
    }
    return static_cast<uint8_t>((idByte & 0xE0) | n);
}

inline const char* streamKindName(StreamKind kind) {
    switch (kind) {
        case StreamKind::Video:
            return "video";
        case StreamKind::Audio:
            return "audio";
        case StreamKind::Subpicture:
            break;
    }
    return "subpicture";
}

// "0x88": an identifying byte as the log writes it.
inline std::string idText(int32_t idByte) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    return std::string("0x") + kDigits[(idByte >> 4) & 15] + kDigits[idByte & 15];
}

// "Audio stream 0x88": how the log names a stream that has no box to name it by.
inline std::string streamText(StreamKind kind, int32_t idByte) {
    std::string text = streamKindName(kind);
    text[0] = static_cast<char>(text[0] - 'a' + 'A');
    return text + " stream " + idText(idByte);
}

}  // namespace tolvane
