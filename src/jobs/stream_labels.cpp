#include "jobs/stream_labels.h"

#include <cstdio>

namespace tolvane {

namespace {

struct LabelRange {
    StreamKind kind;
    int32_t first;
    int32_t last;
    const char* label;
};

constexpr LabelRange kLabels[] = {
    {StreamKind::Video, -1, -1, "No video stream"},
    {StreamKind::Video, 0x55, 0x56, "VC-1.stream"},
    {StreamKind::Video, 0xE0, 0xE1, "MPEG-2.stream"},
    {StreamKind::Video, 0xE2, 0xE3, "H.264.stream"},
    {StreamKind::Audio, -1, -1, "No audio stream"},
    {StreamKind::Audio, 0x80, 0x87, "DD.stream"},
    {StreamKind::Audio, 0x88, 0x8F, "DTSHD.stream"},
    {StreamKind::Audio, 0xA0, 0xA7, "LPCM.stream"},
    {StreamKind::Audio, 0xB0, 0xB7, "MLP.stream"},
    {StreamKind::Audio, 0xC0, 0xCF, "DD+.stream"},
    {StreamKind::Subpicture, -1, -1, "No subpicture stream"},
    {StreamKind::Subpicture, 0x20, 0x3F, "Subpicture"},
    {StreamKind::Subpicture, 0x60, 0x7F, "Ext.Subpicture"},
};

}  // namespace

std::string streamLabel(StreamKind kind, int32_t idValue) {
    for (const LabelRange& range : kLabels) {
        if (range.kind == kind && idValue >= range.first && idValue <= range.last) {
            return range.label;
        }
    }
    return {};
}

std::string streamBoxSuffix(StreamKind kind, int number) {
    char suffix[8];
    std::snprintf(suffix, sizeof suffix, kind == StreamKind::Video ? ".%d" : ".%02d", number);
    return suffix;
}

std::optional<StreamCoding> streamCoding(StreamKind kind, int32_t idValue, bool aobSource) {
    if (idValue < 0 || idValue > 0xFF) {
        return std::nullopt;
    }
    const auto id = static_cast<uint8_t>(idValue);
    switch (kind) {
        case StreamKind::Video:
            if (isVc1Extension(id)) {
                return StreamCoding::Vc1;
            }
            if (isVideoStreamId(id)) {
                return id >= 0xE2 ? StreamCoding::H264 : StreamCoding::Mpeg2;
            }
            return std::nullopt;
        case StreamKind::Subpicture:
            return isSubpictureId(id) ? std::optional(StreamCoding::Subpicture) : std::nullopt;
        case StreamKind::Audio:
            break;
    }
    const AudioRange* range = audioRangeOf(id);
    if (range == nullptr) {
        return std::nullopt;
    }
    switch (range->coding) {
        case AudioCoding::Ac3:
            return StreamCoding::Ac3;
        case AudioCoding::Eac3:
            return StreamCoding::Eac3;
        case AudioCoding::Dts:
            return StreamCoding::Dts;
        case AudioCoding::TrueHd:
            return StreamCoding::TrueHd;
        case AudioCoding::Lpcm:
            break;
    }
    // DVD-Audio carries MLP where video discs carry LPCM.
    return id == 0xA1 && aobSource ? StreamCoding::Mlp : StreamCoding::Lpcm;
}

std::optional<std::string> codingExtension(StreamKind kind, int32_t idValue, bool aobSource) {
    static constexpr const char* kExtensions[] = {"m2v", "h264", "vc1", "ac3",  "eac3",
                                                  "dts", "thd",  "mlp", "lpcm", "sup"};
    const std::optional<StreamCoding> coding = streamCoding(kind, idValue, aobSource);
    if (!coding) {
        return std::nullopt;
    }
    return kExtensions[static_cast<size_t>(*coding)];
}

const char* codingName(StreamCoding coding) {
    static constexpr const char* kNames[] = {"mpeg2video", "h264",   "vc1", "ac3",  "eac3",
                                             "dts",        "truehd", "mlp", "lpcm", "subpicture"};
    return kNames[static_cast<size_t>(coding)];
}

}  // namespace tolvane
