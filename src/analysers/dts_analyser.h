#pragma once

#include <cstdint>
#include <optional>
#include <variant>
#include <vector>

#include "analysers/analyser_context.h"

namespace tolvane {

// A DTS core frame header (ETSI TS 102 114, 5.3.1), its codes as the frame gives them.
struct DtsCoreHeader {
    uint32_t samples = 0;  // PCM samples per block
    uint32_t blocks = 0;
    uint32_t frameBytes = 0;
    uint32_t amode = 0;
    uint32_t sfreq = 0;
    uint32_t rate = 0;
    std::optional<uint32_t> extension;  // EXT_AUDIO_ID when EXT_AUDIO is set
    uint32_t lff = 0;                   // LFE code
    std::optional<uint32_t> headerCrc;
    uint32_t vernum = 0;
    uint32_t pcmr = 0;
};
// The sync words of the channel (XCh) and frequency (X96) extensions.
struct DtsChannelExtension {};
struct DtsFrequencyExtension {};
using DtsUnit = std::variant<DtsCoreHeader, DtsChannelExtension, DtsFrequencyExtension>;

// Every core frame header and extension sync word of a payload, in payload order.
std::vector<DtsUnit> decodeDts(const uint8_t* block, size_t blockLength, size_t offset,
                               size_t length);
void printDts(const std::vector<DtsUnit>& units, Reporter& log);
StreamHeader dtsValues(const DtsCoreHeader& header);

// Decodes, reports and records the headers of a DTS payload.
void analyseDts(const AnalyserContext& context, const HeaderPayload& payload);

}  // namespace tolvane
