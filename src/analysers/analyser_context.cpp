#include "analysers/analyser_context.h"

#include "core/number_format.h"

namespace tolvane {

StreamHeader* headerEntry(StreamRegistry& streams, StreamKind kind, int32_t number) {
    StreamContext* context =
        kind != StreamKind::Subpicture ? contextOf(streams, kind, number) : nullptr;
    return context != nullptr ? &context->header : nullptr;
}

double* frameRateEntry(StreamRegistry& streams, int32_t number) {
    StreamContext* context = contextOf(streams, StreamKind::Video, number);
    return context != nullptr ? &context->frameRate : nullptr;
}

std::string dynamicRangeGain(uint8_t code, const LocaleSettings& locale) {
    // In ten-thousandths of a dB the gain is a whole number; the nearest double to it over
    // 10000 prints back as exactly that decimal with 15 significant digits.
    const int tenThousandths = 240820 - 60206 * (code >> 5) - 2007 * (code & 31);
    return formatGeneral(tenThousandths / 10000.0, locale);
}

}  // namespace tolvane
