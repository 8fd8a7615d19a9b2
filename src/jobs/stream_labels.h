#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "core/pass_hooks.h"

namespace tolvane {

// The caption of a stream box for the identifying value in the stream table:
// "MPEG-2.stream.0", "DD+.stream.03", "Ext.Subpicture.12", "No audio stream.07".
std::string streamLabel(StreamKind kind, int32_t idValue);
std::string streamBoxSuffix(StreamKind kind, int number);

enum class StreamCoding : uint8_t {
    Mpeg2,
    H264,
    Vc1,
    Ac3,
    Eac3,
    Dts,
    TrueHd,
    Mlp,
    Lpcm,
    Subpicture
};

// The coding of a stream by its kind and identifying value; none for a value of no known coding
// (a box the playlist announced and no stream has pinned yet).
std::optional<StreamCoding> streamCoding(StreamKind kind, int32_t idValue, bool aobSource);
// The coding's name in reports, as ffprobe names its codec: "mpeg2video" (MPEG-1 too), "h264",
// "vc1", "ac3", "eac3", "dts", "truehd", "mlp", "lpcm", "subpicture".
const char* codingName(StreamCoding coding);

// The usual file extension of a stream's coding, without its dot ("m2v", "h264", "vc1", "ac3",
// "eac3", "dts", "thd", "mlp", "lpcm", "sup"); none for an identifying value of no known coding
// (a box the playlist announced and no stream has pinned yet).
std::optional<std::string> codingExtension(StreamKind kind, int32_t idValue, bool aobSource);

}  // namespace tolvane
