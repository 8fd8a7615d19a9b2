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

std::string streamLabel(StreamCoding coding, int32_t idValue) {
    switch (coding) {
        case StreamCoding::Mpeg1:
            return "MPEG-1.stream";
        case StreamCoding::Mpeg2:
            return "MPEG-2.stream";
        case StreamCoding::H264:
            return "H.264.stream";
        case StreamCoding::Vc1:
            return "VC-1.stream";
        case StreamCoding::Subpicture:
            return streamLabel(StreamKind::Subpicture, idValue);
        case StreamCoding::Mp1:
            return "MP1.stream";
        case StreamCoding::Mp2:
            return "MP2.stream";
        case StreamCoding::Mp3:
            return "MP3.stream";
        case StreamCoding::Ac3:
            return "DD.stream";
        case StreamCoding::Eac3:
            return "DD+.stream";
        case StreamCoding::Dts:
            return "DTSHD.stream";
        case StreamCoding::Lpcm:
            return "LPCM.stream";
        case StreamCoding::Sdds:
            return "SDDS.stream";
        case StreamCoding::TrueHd:
        case StreamCoding::Mlp:
            break;
    }
    return "MLP.stream";
}

namespace {

struct CodingNames {
    const char* name;
    const char* extension;
};

// In StreamCoding order.
constexpr CodingNames kCodingNames[] = {
    {"mpeg2video", "m2v"}, {"h264", "h264"},        {"vc1", "vc1"},        {"ac3", "ac3"},
    {"eac3", "eac3"},      {"dts", "dts"},          {"truehd", "thd"},     {"mlp", "mlp"},
    {"pcm_dvd", "lpcm"},   {"dvd_subtitle", "sup"}, {"mpeg1video", "m1v"}, {"mp1", "mp1"},
    {"mp2", "mp2"},        {"mp3", "mp3"},          {"sdds", "sdds"},
};
static_assert(std::size(kCodingNames) == kStreamCodings);

}  // namespace

const char* codingExtension(StreamCoding coding) {
    return kCodingNames[static_cast<size_t>(coding)].extension;
}

const char* codingName(StreamCoding coding) {
    return kCodingNames[static_cast<size_t>(coding)].name;
}

}  // namespace tolvane
