#pragma once

#include <cstdint>
#include <optional>

#include "analysers/analyser_context.h"

namespace tolvane {

struct Vc1FrameRate {
    std::optional<uint32_t> explicitRate;  // FRAMERATEEXP
    uint32_t numeratorCode = 0;
    uint32_t denominatorCode = 0;
};

// The display extension of a sequence header.
struct Vc1Display {
    uint32_t width = 0;  // minus one
    uint32_t height = 0;
    std::optional<uint32_t> aspectCode;
    uint32_t aspectHorizontal = 0;  // for code 15
    uint32_t aspectVertical = 0;
    std::optional<Vc1FrameRate> frameRate;
};

// An advanced-profile VC-1 sequence header (SMPTE 421M, 6.1), its codes as the stream gives
// them.
struct Vc1SequenceHeader {
    uint32_t profile = 0;
    uint32_t level = 0;
    uint32_t chromaFormat = 0;
    uint32_t codedWidth = 0;  // MAX_CODED_WIDTH: (width - 2) / 2
    uint32_t codedHeight = 0;
    bool pulldown = false;
    bool interlace = false;
    bool progressiveSegmented = false;
    std::optional<Vc1Display> display;
};

// The first sequence header of the payload; none when it holds none.
std::optional<Vc1SequenceHeader> decodeVc1(const uint8_t* block, size_t blockLength, size_t offset,
                                           size_t length);
void printVc1(const Vc1SequenceHeader& header, const LabelTables& labels,
              const LocaleSettings& locale, Reporter& log);
// The frame rate the header gives; none when it gives none or a forbidden one.
std::optional<double> vc1FrameRate(const Vc1SequenceHeader& header);
StreamHeader vc1Values(const Vc1SequenceHeader& header);

// Decodes, reports and records the sequence header of a VC-1 payload, and sets the stream's
// frame rate when the header gives one.
void analyseVc1(const AnalyserContext& context, const HeaderPayload& payload);

}  // namespace tolvane
