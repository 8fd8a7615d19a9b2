#include "analysers/analyser_context.h"

#include "core/number_format.h"

namespace tolvane {

StreamHeader* headerEntry(StreamTable& streams, StreamKind kind, int32_t number) {
    const auto at = [number](auto& headers) -> StreamHeader* {
        return number >= 0 && number < static_cast<int32_t>(headers.size())
                   ? &headers[static_cast<size_t>(number)]
                   : nullptr;
    };
    return kind == StreamKind::Video   ? at(streams.videoHeader)
           : kind == StreamKind::Audio ? at(streams.audioHeader)
                                       : nullptr;
}

double* frameRateEntry(StreamTable& streams, int32_t number) {
    return number >= 0 && number < static_cast<int32_t>(streams.frameRate.size())
               ? &streams.frameRate[static_cast<size_t>(number)]
               : nullptr;
}

std::string dynamicRangeGain(uint8_t code, const LocaleSettings& locale) {
    // In ten-thousandths of a dB the gain is a whole number; the nearest double to it over
    // 10000 prints back as exactly that decimal with 15 significant digits.
    const int tenThousandths = 240820 - 60206 * (code >> 5) - 2007 * (code & 31);
    return formatGeneral(tenThousandths / 10000.0, locale);
}

}  // namespace tolvane
