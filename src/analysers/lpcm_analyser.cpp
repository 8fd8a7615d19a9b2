#include "analysers/lpcm_analyser.h"

#include <string>

#include "core/number_format.h"

namespace tolvane {

namespace {

constexpr size_t kHeaderBytes = 7;

}  // namespace

void AnalyseLPCM(const AnalyserContext& context, size_t offset, size_t length) {
    // The header must lie wholly inside the block, before the payload.
    if (length == 0 || offset < kHeaderBytes || offset > context.blockLength) {
        return;
    }
    const uint8_t* header = context.block + offset - kHeaderBytes;  // header[k] is byte k + 1
    const uint8_t frames = header[1];
    const uint32_t pointer = static_cast<uint32_t>(header[2]) << 8 | header[3];
    const uint8_t flags = header[4];
    const uint8_t format = header[5];
    const uint8_t range = header[6];
    Reporter& log = context.log;
    log.log("   Number of frame headers = " + std::to_string(frames));
    log.log("   First acces unit pointer = " + hexUpper(pointer, 4));
    log.log(std::string("   Emphasis = ") + ((flags & 0x80) != 0 ? "on" : "off") +
            ", mute = " + ((flags & 0x40) != 0 ? "on" : "off"));
    log.log("   Frame number = " + std::to_string(flags & 31));
    log.log("   Quantization length = [bl]" +
            std::string(context.labels.wordLengthText[format >> 6]) + "[/bl] bits");
    log.log("   Sampling frequency = [bl]" +
            std::string(context.labels.rateText[(format >> 4) & 3]) + "[/bl] kHz");
    // Three bits hold the number of channels minus one: 1 to 8 channels.
    log.log("   Number of audio channels = [bl]" + std::to_string((format & 7) + 1) + "[/bl]");
    if (range != 0x80) {
        log.log("   Dynamic range = " + dynamicRangeGain(range, context.locale) + " dB");
    }
}

}  // namespace tolvane
