#include "analysers/vc1_analyser.h"

#include <array>
#include <cmath>
#include <string>

#include "analysers/bit_reader.h"
#include "core/number_format.h"

namespace tolvane {

namespace {

constexpr uint32_t kSequenceHeader = 0x0000010F;
constexpr std::array<uint32_t, 8> kFrameRateNumerator = {0,     24000, 25000, 30000,
                                                         50000, 60000, 48000, 72000};
constexpr std::array<uint32_t, 3> kFrameRateDenominator = {0, 1000, 1001};

// The numerator and denominator of a coded rate, with the lines that name what is wrong.
struct CodedRate {
    uint32_t numerator;
    uint32_t denominator;
};

CodedRate codedRate(const Vc1FrameRate& rate, bool pulldown, Reporter* log) {
    uint32_t numerator = rate.numeratorCode;
    uint32_t denominator = rate.denominatorCode;
    const auto say = [log](const char* line) {
        if (log != nullptr) {
            log->log(line);
        }
    };
    if (numerator == 0) {
        say("   Forbidden Frame Rate!");
    } else if (numerator < kFrameRateNumerator.size()) {
        numerator = kFrameRateNumerator[numerator];
    } else {
        say("   Reserved Frame Rate!");
    }
    if (denominator == 0) {
        say("   Forbidden Frame Rate!");
    } else if (denominator < kFrameRateDenominator.size()) {
        denominator = kFrameRateDenominator[denominator];
    } else {
        say("   Reserved Frame Rate!");
    }
    if (pulldown && numerator == 30000) {
        numerator = 24000;
    }
    return {numerator, denominator};
}

}  // namespace

std::optional<Vc1SequenceHeader> decodeVc1(const uint8_t* block, size_t blockLength, size_t offset,
                                           size_t length) {
    BitReader reader(block, blockLength);
    const auto end = static_cast<int64_t>(offset) + static_cast<int64_t>(length) - 1;
    reader.start(static_cast<int32_t>(offset));
    bool found = false;
    while (!found && reader.pos() < end) {
        found = reader.peek() == kSequenceHeader;
        if (!found) {
            reader.skip(8);
        }
    }
    if (!found) {
        return std::nullopt;  // no sequence header in the searched range
    }
    reader.skip(32);
    Vc1SequenceHeader h;
    h.profile = reader.read(2);
    h.level = reader.read(3);
    h.chromaFormat = reader.read(2);
    reader.read(3);  // FRMRTQ_POSTPROC
    reader.read(5);  // BITRTQ_POSTPROC
    reader.read(1);  // POSTPROCFLAG
    h.codedWidth = reader.read(12);
    h.codedHeight = reader.read(12);
    h.pulldown = reader.read(1) == 1;
    h.interlace = reader.read(1) == 1;
    reader.read(1);  // TFCNTRFLAG
    reader.read(1);  // FINTERPFLAG
    reader.read(1);  // reserved
    h.progressiveSegmented = reader.read(1) == 1;
    if (reader.read(1) == 0) {
        return h;  // no display extension
    }
    Vc1Display& display = h.display.emplace();
    display.width = reader.read(14);
    display.height = reader.read(14);
    if (reader.read(1) == 1) {
        display.aspectCode = reader.read(4);
        if (display.aspectCode == 15u) {
            display.aspectHorizontal = reader.read(8);
            display.aspectVertical = reader.read(8);
        }
    }
    if (reader.read(1) == 1) {
        Vc1FrameRate& rate = display.frameRate.emplace();
        if (reader.read(1) == 1) {
            rate.explicitRate = reader.read(16);
        } else {
            rate.numeratorCode = reader.read(8);
            rate.denominatorCode = reader.read(4);
        }
    }
    return h;
}

void printVc1(const Vc1SequenceHeader& h, const LabelTables& labels, const LocaleSettings& locale,
              Reporter& log) {
    log.log(h.profile == 3 ? "   Profile = Advanced" : "   Profile = Reserved");
    log.log(h.level <= 4 ? "   Level = " + std::to_string(h.level) : "   Level = Reserved");
    log.log(h.chromaFormat == 1 ? LogEvent{"   Chroma Format = ", asValue("4:2:0")}
                                : LogEvent{"   Chroma Format = Reserved"});
    log.log({"   Size = ", asValue(std::to_string(2 * h.codedWidth + 2)), "x",
             asValue(std::to_string(2 * h.codedHeight + 2))});
    if (h.progressiveSegmented) {
        log.log("  Progressive segmented frames.");
    }
    if (!h.display) {
        return;
    }
    const Vc1Display& display = *h.display;
    log.log({"   Display size = ", asValue(std::to_string(display.width + 1)), "x",
             asValue(std::to_string(display.height + 1))});
    if (display.aspectCode) {
        if (*display.aspectCode == 15) {
            log.log("   Aspect ratio = " + std::to_string(display.aspectHorizontal) + ":" +
                    std::to_string(display.aspectVertical));
        } else {
            log.log(valueLine("   Aspect ratio = ", labels.sarText[*display.aspectCode]));
        }
    }
    if (!display.frameRate) {
        return;
    }
    const Vc1FrameRate& rate = *display.frameRate;
    if (rate.explicitRate) {
        const double value = (*rate.explicitRate + 1) / 32.0;
        log.log({"   Frame Rate = ", asValue(formatGeneral(value, locale))});
        return;
    }
    const CodedRate coded = codedRate(rate, h.pulldown, &log);
    // A forbidden denominator of 0 shows a rate of 0.
    const double value =
        coded.denominator == 0 ? 0.0 : static_cast<double>(coded.numerator) / coded.denominator;
    log.log(
        {"   Frame Rate = ", asValue(formatGeneral(std::nearbyint(value * 1000) / 1000, locale)),
         " (" + std::to_string(coded.numerator) + "/" + std::to_string(coded.denominator) + ")"});
}

std::optional<double> vc1FrameRate(const Vc1SequenceHeader& h) {
    if (!h.display || !h.display->frameRate) {
        return std::nullopt;
    }
    const Vc1FrameRate& rate = *h.display->frameRate;
    if (rate.explicitRate) {
        return (*rate.explicitRate + 1) / 32.0;
    }
    const CodedRate coded = codedRate(rate, h.pulldown, nullptr);
    if (coded.denominator == 0) {
        return std::nullopt;
    }
    return static_cast<double>(coded.numerator) / coded.denominator;
}

StreamHeader vc1Values(const Vc1SequenceHeader& h) {
    StreamHeader values;
    values.width = 2 * h.codedWidth + 2;
    values.height = 2 * h.codedHeight + 2;
    if (h.profile == 3) {
        values.profile = "Advanced";
    }
    if (h.level <= 4) {
        values.level = static_cast<int>(h.level);
    }
    if (h.display && h.display->aspectCode) {
        const uint32_t code = *h.display->aspectCode;
        if (code == 15) {
            values.aspectRatio = std::to_string(h.display->aspectHorizontal) + ":" +
                                 std::to_string(h.display->aspectVertical);
        } else if (code >= 1 && code <= 13) {
            static constexpr std::array<const char*, 14> kSampleAspect = {
                nullptr, "1:1",   "12:11", "10:11", "16:11", "40:33", "24:11",
                "20:11", "32:11", "80:33", "18:11", "15:11", "64:33", "160:99"};
            values.aspectRatio = kSampleAspect[code];
        }
        values.sampleAspect =
            code == 15 ? reducedRatio(h.display->aspectHorizontal, h.display->aspectVertical)
            : code >= 1 && code <= 13 ? values.aspectRatio
                                      : std::nullopt;
    }
    if (!h.interlace) {
        values.fieldOrder = "progressive";
    }
    completeAspects(values);
    if (const std::optional<double> rate = vc1FrameRate(h); rate && *rate > 0) {
        values.frameRate = rate;
    }
    return values;
}

void analyseVc1(const AnalyserContext& context, const HeaderPayload& payload) {
    const std::optional<Vc1SequenceHeader> header =
        decodeVc1(context.block, context.blockLength, payload.offset, payload.length);
    if (!header) {
        return;
    }
    printVc1(*header, context.labels, context.locale, context.log);
    if (double* rate = frameRateEntry(context.streams, payload.streamNumber)) {
        if (const std::optional<double> value = vc1FrameRate(*header)) {
            *rate = *value;
        }
    }
    if (StreamHeader* entry =
            headerEntry(context.streams, StreamKind::Video, payload.streamNumber)) {
        *entry = vc1Values(*header);
    }
}

}  // namespace tolvane
