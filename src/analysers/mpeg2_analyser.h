#pragma once

#include <cstdint>
#include <variant>
#include <vector>

#include "analysers/analyser_context.h"

namespace tolvane {

// What the first packet of an MPEG-1 or MPEG-2 video stream shows, in payload order
// (ISO/IEC 13818-2, 6.2.2).
namespace mpeg2 {
struct SequenceFound {
    uint32_t picturesBefore;  // picture coding extensions before the first sequence header
};
struct Size {
    uint32_t width;
    uint32_t height;
};
struct AspectAndRate {
    bool mpeg1;  // no sequence extension follows: the aspect code is a pixel aspect
    uint8_t aspectCode;
    uint8_t rateCode;
};
struct BitRate {
    bool variable;
    uint64_t units;  // of 400 bit/s, the extension's upper bits included
};
struct SequenceExtension {
    uint8_t profileAndLevel;
};
struct IllegalPictureType {
    uint32_t type;
};
struct FirstPts {
    uint64_t pts;
};
struct Progressive {
    bool progressive;
};
// The first picture coding extension's fields.
struct PictureFields {
    bool topFieldFirst;
    bool progressiveFrame;
};
using Event = std::variant<SequenceFound, Size, AspectAndRate, BitRate, SequenceExtension,
                           IllegalPictureType, FirstPts, Progressive, PictureFields>;
}  // namespace mpeg2

std::vector<mpeg2::Event> decodeMpeg2(const uint8_t* block, size_t offset, size_t length,
                                      uint64_t pts);
void printMpeg2(const std::vector<mpeg2::Event>& events, Reporter& log);
StreamHeader mpeg2Values(const std::vector<mpeg2::Event>& events);
// The frame rate of a frame_rate_code; 1 for a forbidden or reserved code.
double mpeg2FrameRate(uint8_t rateCode);

// Decodes, reports and records the sequence header of an MPEG-1 or MPEG-2 video payload, and
// sets the stream's frame rate.
void analyseMpeg2(const AnalyserContext& context, const HeaderPayload& payload);

}  // namespace tolvane
