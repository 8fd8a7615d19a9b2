#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "demux/pass_hooks.h"

namespace tolvane {

// The caption of a stream box for the identifying value in the stream table:
// "MPEG-2.stream.0", "DD+.stream.03", "Ext.Subpicture.12", "No audio stream.07".
std::string streamLabel(StreamKind kind, int32_t idValue);
std::string streamBoxSuffix(StreamKind kind, int number);

// The caption of a box that holds a stream of `coding` with the identifying value `idValue`:
// "MPEG-2.stream", "H.264.stream", "DD+.stream", "MP2.stream", "Ext.Subpicture".
std::string streamLabel(StreamCoding coding, int32_t idValue);

// The coding's name in reports, as ffprobe names its codec: "mpeg2video", "mpeg1video", "h264",
// "vc1", "ac3", "eac3", "dts", "truehd", "mlp", "pcm_dvd", "dvd_subtitle", "mp1", "mp2", "mp3".
const char* codingName(StreamCoding coding);

// The usual file extension of a stream's coding, without its dot ("m2v", "m1v", "h264", "vc1",
// "ac3", "eac3", "dts", "thd", "mlp", "lpcm", "sup", "mp1", "mp2", "mp3").
const char* codingExtension(StreamCoding coding);

}  // namespace tolvane
