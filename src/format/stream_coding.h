#pragma once

#include <cstdint>

namespace tolvane {

// What a stream holds, as far as the program tells codings apart: the one name of a coding in
// the scanner, the analysers, the disc layer, the reports and the outputs.
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
    Subpicture,
    Mpeg1,
    Mp1,
    Mp2,
    Mp3,
    Sdds,  // a DVD's table may name it; no stream of it is read
};

inline constexpr int kStreamCodings = static_cast<int>(StreamCoding::Sdds) + 1;

inline bool isMpegAudio(StreamCoding coding) {
    return coding == StreamCoding::Mp1 || coding == StreamCoding::Mp2 ||
           coding == StreamCoding::Mp3;
}

}  // namespace tolvane
