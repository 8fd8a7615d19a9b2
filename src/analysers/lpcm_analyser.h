#pragma once

#include <cstdint>
#include <optional>

#include "analysers/analyser_context.h"

namespace tolvane {

// The audio header of an LPCM packet: the seven bytes before its payload.
struct LpcmHeader {
    uint8_t frameHeaders = 0;
    uint16_t firstAccessUnit = 0;
    bool emphasis = false;
    bool mute = false;
    uint8_t frameNumber = 0;
    uint8_t quantization = 0;  // word length code
    uint8_t rate = 0;          // sampling frequency code
    uint8_t channels = 0;      // 1 to 8
    uint8_t dynamicRange = 0;  // 0x80: none
};

// The header before the payload at `offset`; none when it does not lie wholly in the block.
std::optional<LpcmHeader> decodeLpcm(const uint8_t* block, size_t blockLength, size_t offset,
                                     size_t length);
void printLpcm(const LpcmHeader& header, const LabelTables& labels, const LocaleSettings& locale,
               Reporter& log);
StreamHeader lpcmValues(const LpcmHeader& header);

// Decodes, reports and records the header of an LPCM payload.
void analyseLpcm(const AnalyserContext& context, const HeaderPayload& payload);

}  // namespace tolvane
