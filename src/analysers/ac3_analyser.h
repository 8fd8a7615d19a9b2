#pragma once

#include <cstdint>
#include <vector>

#include "analysers/analyser_context.h"

namespace tolvane {

// One syncframe header of Dolby Digital (A/52) or Dolby Digital Plus (A/52 annex E).
struct Ac3Frame {
    bool plus = false;  // bsid 11 to 16
    uint32_t frameBytes = 0;
    uint32_t blocks = 0;      // audio blocks per frame
    uint32_t sampleRate = 0;  // Hz; 0 for a reserved code
    uint32_t bitRate = 0;     // bit/s
    uint32_t acmod = 0;
    bool lfe = false;
    uint32_t bsid = 0;
    uint32_t bsmod = 0;
};

// The headers a payload shows: the first syncframe's, and another after each one whose rate
// is not valid.
std::vector<Ac3Frame> decodeAc3(const uint8_t* block, size_t offset, size_t length,
                                const LabelTables& labels);
void printAc3(const std::vector<Ac3Frame>& frames, int32_t streamNumber, Reporter& log,
              const LocaleSettings& locale);
StreamHeader ac3Values(const Ac3Frame& frame);

// Decodes, reports and records the header of a Dolby Digital or Dolby Digital Plus payload.
void analyseAc3(const AnalyserContext& context, const HeaderPayload& payload);

}  // namespace tolvane
