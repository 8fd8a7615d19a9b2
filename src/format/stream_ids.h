#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "format/program_stream_layout.h"
#include "format/scan_state.h"

namespace tolvane {

enum class StreamKind : uint8_t { Video, Audio, Subpicture };

// MPEG audio streams are told apart from private-stream-1 sub-streams of the same byte (E-AC-3
// 0xC0 against MPEG audio 0xC0) by this bit above their stream id.
inline constexpr int32_t kMpegAudioKey = 0x100;

inline bool isMpegAudioKey(int32_t key) {
    return (key & kMpegAudioKey) != 0;
}

// The byte a stream is known by in reports and on disc: the stream id, sub-stream id or
// stream_id_extension.
inline int32_t idByteOf(int32_t key) {
    return key & 0xFF;
}

// Private-stream-1 audio: the sub-stream id ranges, their coding, and the mask that turns an id
// into its stream number.
struct AudioRange {
    uint8_t first;
    uint8_t last;
    StreamCoding coding;
    uint8_t numberMask;
};

inline constexpr AudioRange kAudioRanges[] = {
    {0x80, 0x87, StreamCoding::Ac3, 7},    {0x88, 0x8F, StreamCoding::Dts, 7},
    {0xC0, 0xCF, StreamCoding::Eac3, 15},  {0xA0, 0xA7, StreamCoding::Lpcm, 15},
    {0xB0, 0xB7, StreamCoding::TrueHd, 7},
};

// The sub-stream id of MLP in a DVD-Audio object, in the LPCM range.
inline constexpr uint8_t kDvdAudioMlpId = 0xA1;

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

// Video stream ids: MPEG-1, MPEG-2 or H.264, told apart by the stream's first payload.
inline bool isVideoStreamId(uint8_t streamId) {
    return streamId >= layout::kVideoFirstId && streamId <= layout::kVideoLastId;
}

inline bool isMpegAudioStreamId(uint8_t streamId) {
    return streamId >= layout::kMpegAudioFirstId && streamId <= layout::kMpegAudioLastId;
}

// The coding a stream's id stands for until its payload says otherwise.
inline StreamCoding nominalCoding(StreamKind kind, int32_t key, bool aobSource) {
    const auto id = static_cast<uint8_t>(idByteOf(key));
    switch (kind) {
        case StreamKind::Video:
            if (isVc1Extension(id)) {
                return StreamCoding::Vc1;
            }
            return id == layout::kH264FirstId || id == layout::kH264FirstId + 1
                       ? StreamCoding::H264
                       : StreamCoding::Mpeg2;
        case StreamKind::Subpicture:
            return StreamCoding::Subpicture;
        case StreamKind::Audio:
            break;
    }
    if (isMpegAudioKey(key)) {
        return StreamCoding::Mp2;
    }
    const AudioRange* range = audioRangeOf(id);
    if (range != nullptr && range->coding != StreamCoding::Lpcm) {
        return range->coding;
    }
    // DVD-Audio carries MLP where video discs carry LPCM.
    return id == kDvdAudioMlpId && aobSource ? StreamCoding::Mlp : StreamCoding::Lpcm;
}

// The number a stream's id gives it, the one it takes when that number is free.
inline int32_t naturalNumber(StreamKind kind, int32_t key) {
    const auto id = static_cast<uint8_t>(idByteOf(key));
    switch (kind) {
        case StreamKind::Video:
            return isVc1Extension(id) ? id - layout::kVc1FirstExtension : id & 1;
        case StreamKind::Subpicture:
            return id & 31;
        case StreamKind::Audio:
            break;
    }
    if (isMpegAudioKey(key)) {
        return id & 31;
    }
    const AudioRange* range = audioRangeOf(id);
    return range != nullptr ? id & range->numberMask : 0;
}

// One stream as the job knows it: its kind, its number and its identifying byte.
struct StreamRef {
    StreamKind kind;
    int32_t number;
    uint8_t idByte;
};

// The stream of a private-stream-1 sub-stream id, when it is one the program knows. Its number is
// the natural one, which the key table may have moved.
inline std::optional<StreamRef> privateStreamOf(uint8_t subStreamId) {
    if (isSubpictureId(subStreamId)) {
        return StreamRef{StreamKind::Subpicture, subStreamId & 31, subStreamId};
    }
    if (const AudioRange* range = audioRangeOf(subStreamId)) {
        return StreamRef{StreamKind::Audio, subStreamId & range->numberMask, subStreamId};
    }
    return std::nullopt;
}

// The identifying byte that the stream `key` gets under stream number `number`.
inline uint8_t renumberedId(StreamKind kind, int32_t key, int32_t number) {
    const auto n = static_cast<uint8_t>(number);
    const auto idByte = static_cast<uint8_t>(idByteOf(key));
    switch (kind) {
        case StreamKind::Video:
            return isVc1Extension(idByte) ? static_cast<uint8_t>(kVc1FirstExtension + n)
                                          : static_cast<uint8_t>((idByte & 0xFE) | n);
        case StreamKind::Audio: {
            if (isMpegAudioKey(key)) {
                return static_cast<uint8_t>(layout::kMpegAudioFirstId | n);
            }
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

// "Audio stream 0x88", "MPEG audio stream 0xC0": how the log names a stream that has no number
// to name it by.
inline std::string streamText(StreamKind kind, int32_t key) {
    if (isMpegAudioKey(key)) {
        return "MPEG audio stream " + idText(idByteOf(key));
    }
    std::string text = streamKindName(kind);
    text[0] = static_cast<char>(text[0] - 'a' + 'A');
    return text + " stream " + idText(key);
}

}  // namespace tolvane
