#include "analysers/lpcm_analyser.h"

#include <array>
#include <string>

#include "core/number_format.h"
#include "format/program_stream_layout.h"

namespace tolvane {

namespace {

constexpr size_t kHeaderBytes = 7;
// As the log names the codes: 48, 96 and 192 kHz.
constexpr std::array<uint32_t, 4> kRateHz = {48000, 96000, 192000, 0};
constexpr std::array<uint32_t, 4> kWordBits = {16, 20, 24, 0};

}  // namespace

std::optional<LpcmHeader> decodeLpcm(const uint8_t* block, size_t blockLength, size_t offset,
                                     size_t length) {
    // The header must lie wholly inside the block, before the payload.
    if (length == 0 || offset < kHeaderBytes || offset > blockLength) {
        return std::nullopt;
    }
    const uint8_t* header = block + offset - kHeaderBytes;  // header[k] is byte k + 1
    const uint8_t flags = header[4];
    const uint8_t format = header[5];
    return LpcmHeader{
        .frameHeaders = header[1],
        .firstAccessUnit = static_cast<uint16_t>(header[2] << 8 | header[3]),
        .emphasis = (flags & 0x80) != 0,
        .mute = (flags & 0x40) != 0,
        .frameNumber = static_cast<uint8_t>(flags & 31),
        .quantization = static_cast<uint8_t>(format >> 6),
        .rate = static_cast<uint8_t>((format >> 4) & 3),
        // Three bits hold the number of channels minus one: 1 to 8 channels.
        .channels = static_cast<uint8_t>((format & 7) + 1),
        .dynamicRange = header[6],
    };
}

void printLpcm(const LpcmHeader& h, const LabelTables& labels, const LocaleSettings& locale,
               Reporter& log) {
    log.log("   Number of frame headers = " + std::to_string(h.frameHeaders));
    log.log("   First access unit pointer = " + hexUpper(h.firstAccessUnit, 4));
    log.log(std::string("   Emphasis = ") + (h.emphasis ? "on" : "off") +
            ", mute = " + (h.mute ? "on" : "off"));
    log.log("   Frame number = " + std::to_string(h.frameNumber));
    log.log({"   Quantization length = ",
             asValue(std::string(labels.wordLengthText[h.quantization])), " bits"});
    log.log({"   Sampling frequency = ", asValue(std::string(labels.rateText[h.rate])), " kHz"});
    log.log({"   Number of audio channels = ", asValue(std::to_string(h.channels))});
    if (h.dynamicRange != 0x80) {
        log.log("   Dynamic range = " + dynamicRangeGain(h.dynamicRange, locale) + " dB");
    }
}

StreamHeader lpcmValues(const LpcmHeader& h) {
    StreamHeader values;
    values.channels = h.channels;
    const uint32_t rate = kRateHz[h.rate];
    const uint32_t bits = kWordBits[h.quantization];
    if (rate != 0) {
        values.sampleRate = rate;
    }
    if (bits != 0) {
        values.bitsPerSample = bits;
    }
    if (rate != 0 && bits != 0) {
        values.bitRate = rate * h.channels * bits;
    }
    return values;
}

namespace {

// A DVD-Audio LPCM header: the first group's sample size and rate and the channel assignment,
// in the words the MLP analyser uses for the same codes.
void analyseDvdAudioLpcm(const AnalyserContext& context, const HeaderPayload& payload) {
    if (payload.offset < payload.lpcmHeaderBytes || payload.offset > context.blockLength) {
        return;
    }
    const uint8_t* header = context.block + payload.offset - payload.lpcmHeaderBytes;
    const int sizeCode = header[6] >> 4;
    const int rateCode = header[7] >> 4;
    const int assignment = header[9];
    const LabelTables& labels = context.labels;
    const auto text = [](std::string_view value) {
        return value.empty() ? std::string("unknown") : std::string(value);
    };
    context.log.log({"   Quantization length = ",
                     asValue(text(labels.wordLengthText[static_cast<size_t>(sizeCode)])), " bits"});
    context.log.log({"   Sampling frequency = ",
                     asValue(text(labels.rateText[static_cast<size_t>(rateCode)])), " kHz"});
    context.log.log({"   Channel arrangement = ",
                     asValue(text(labels.chAssignText[static_cast<size_t>(assignment & 31)]))});
    StreamHeader* entry = headerEntry(context.streams, StreamKind::Audio, payload.streamNumber);
    if (entry == nullptr) {
        return;
    }
    *entry = StreamHeader{};
    constexpr std::array<uint32_t, 3> kBits = {16, 20, 24};
    if (sizeCode < 3) {
        entry->bitsPerSample = kBits[static_cast<size_t>(sizeCode)];
    }
    if ((rateCode & 7) < 3) {
        entry->sampleRate = ((rateCode & 8) != 0 ? 44100U : 48000U) << (rateCode & 7);
    }
    // The channels of each assignment, both groups counted.
    constexpr std::array<uint32_t, 21> kChannels = {1, 2, 3, 4, 3, 4, 5, 3, 4, 5, 4,
                                                    5, 6, 4, 5, 4, 5, 6, 5, 5, 6};
    if (static_cast<size_t>(assignment) < kChannels.size()) {
        entry->channels = kChannels[static_cast<size_t>(assignment)];
    }
}

}  // namespace

void analyseLpcm(const AnalyserContext& context, const HeaderPayload& payload) {
    if (payload.lpcmHeaderBytes >= layout::kDvdAudioLpcmHeader) {
        analyseDvdAudioLpcm(context, payload);
        return;
    }
    const std::optional<LpcmHeader> header =
        decodeLpcm(context.block, context.blockLength, payload.offset, payload.length);
    if (!header) {
        return;
    }
    printLpcm(*header, context.labels, context.locale, context.log);
    if (StreamHeader* entry =
            headerEntry(context.streams, StreamKind::Audio, payload.streamNumber)) {
        *entry = lpcmValues(*header);
    }
}

}  // namespace tolvane
