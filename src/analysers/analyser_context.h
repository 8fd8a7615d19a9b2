#pragma once

#include <cstddef>
#include <cstdint>

#include "analysers/label_tables.h"
#include "core/locale_settings.h"
#include "core/reporter.h"
#include "demux/stream_registry.h"
#include "format/header_analysers.h"

namespace tolvane {

// What every header analyser works with: the read block (never read at or past `blockLength`),
// the log, the label tables, the stream table (for frame rates) and the locale.
struct AnalyserContext {
    const uint8_t* block;
    size_t blockLength;
    Reporter& log;
    const LabelTables& labels;
    StreamRegistry& streams;
    LocaleSettings locale;
};

// Where the values decoded for stream `number` of `kind` are kept; none for a number without
// an entry.
StreamHeader* headerEntry(StreamRegistry& streams, StreamKind kind, int32_t number);
// The frame rate entry of video stream `number`; none for a number without one.
double* frameRateEntry(StreamRegistry& streams, int32_t number);

// A gain of the dynamic-range codes of MLP and LPCM: 24.082 - 6.0206 x (d shr 5) - 0.2007 x
// (d and 31) dB, written as the exact decimal it is.
std::string dynamicRangeGain(uint8_t code, const LocaleSettings& locale);

}  // namespace tolvane
