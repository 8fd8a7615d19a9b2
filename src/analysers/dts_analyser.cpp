#include "analysers/dts_analyser.h"

#include <array>
#include <string>

#include "analysers/bit_reader.h"
#include "core/number_format.h"

namespace tolvane {

namespace {

constexpr uint32_t kCoreSync = 0x7FFE8001;
constexpr uint32_t kXchSync = 0x5A5A5A5A;
constexpr uint32_t kX96Sync = 0x1D95F262;

constexpr std::array<const char*, 16> kAmodeText = {
    "A (mono)",
    "A+B (dual mono)",
    "L + R (stereo)",
    "(L+R) + (L-R) (sum-difference)",
    "LT + RT (left and right total)",
    "C + L + R",
    "L + R + S",
    "C + L + R + S",
    "L + R + Ls + Rs",
    "C + L + R + Ls + Rs",
    "CL + CR + L + R + Ls + Rs",
    "C + L + R + Lr + Rr + OV",
    "Cf + Cr + Lf + Rf + Lr + Rr",
    "CL + C + CR + L + R + Ls + Rs",
    "CL + CR + L + R + Ls1 + Ls2 + Rs1 + Rs2",
    "CL + C + CR + L + R + Ls + S + Rs",
};

constexpr std::array<const char*, 16> kSfreqText = {"Invalid", "8",     "16",   "32", "", "",
                                                    "11,025",  "22,05", "44,1", "",   "", "12",
                                                    "24",      "48",    "",     ""};

constexpr std::array<const char*, 32> kRateText = {
    "32",   "56",   "64",   "96",   "112",  "128",  "192",      "224",
    "256",  "320",  "384",  "448",  "512",  "576",  "640",      "768",
    "960",  "1024", "1152", "1280", "1344", "1408", "1411,2",   "1472",
    "1536", "1920", "2048", "3072", "3840", "open", "Variable", "Loss-less"};

constexpr std::array<const char*, 8> kExtText = {"Channel extension",
                                                 "Reserved",
                                                 "Frequency extension",
                                                 "Channel and Frequency extension",
                                                 "Reserved",
                                                 "Reserved",
                                                 "Reserved",
                                                 "Reserved"};

constexpr std::array<ValueText, 4> kLfeText = {{
    {"", "not present"},
    {"present", " (IF:128)"},
    {"present", " (IF:64)"},
    {"", "invalid"},
}};

// Source PCM resolution: its bits (none for the reserved codes) and whether it is DTS ES.
struct PcmResolution {
    const char* bits;
    bool es;
};
constexpr std::array<PcmResolution, 8> kPcmr = {{
    {"16", false},
    {"16", true},
    {"20", false},
    {"20", true},
    {"", false},
    {"24", true},
    {"24", false},
    {"", false},
}};

std::string revisionSuffix(uint32_t vernum) {
    if (vernum < 7) {
        return ", Future rev. (compatible)";
    }
    return vernum == 7 ? ", Current" : ", Future rev. (incompatible";
}

constexpr std::array<uint32_t, 16> kSfreqHz = {0, 8000, 16000, 32000, 0,     0, 11025, 22050, 44100,
                                               0, 0,    12000, 24000, 48000, 0, 0};
// Transmission rates in bit/s; 0 for open, variable and lossless.
constexpr std::array<uint32_t, 32> kRateBits = {
    32000,   56000,   64000,   96000,   112000,  128000,  192000,  224000,
    256000,  320000,  384000,  448000,  512000,  576000,  640000,  768000,
    960000,  1024000, 1152000, 1280000, 1344000, 1408000, 1411200, 1472000,
    1536000, 1920000, 2048000, 3072000, 3840000, 0,       0,       0};
constexpr std::array<uint32_t, 16> kAmodeChannels = {1, 2, 2, 2, 2, 3, 3, 4,
                                                     4, 5, 6, 6, 6, 7, 8, 8};
constexpr std::array<uint32_t, 8> kPcmrBits = {16, 16, 20, 20, 0, 24, 24, 0};

// Reads one core frame header from `at`; leaves the reader after its last field.
DtsCoreHeader coreHeader(BitReader& reader, int32_t at) {
    DtsCoreHeader h;
    reader.start(at);
    reader.skip(1);  // FTYPE
    h.samples = reader.read(5) + 1;
    const bool crcPresent = reader.read(1) == 1;
    h.blocks = reader.read(7) + 1;
    h.frameBytes = reader.read(14) + 1;
    h.amode = reader.read(6);
    h.sfreq = reader.read(4);
    h.rate = reader.read(5);
    reader.skip(5);  // MIX, DYNF, TIMEF, AUXF, HDCD
    const uint32_t extension = reader.read(3);
    if (reader.read(1) == 1) {
        h.extension = extension;
    }
    reader.skip(1);  // ASPF
    h.lff = reader.read(2);
    reader.skip(1);  // HFLAG
    if (crcPresent) {
        h.headerCrc = reader.read(16);
    }
    reader.skip(1);  // FILTS
    h.vernum = reader.read(4);
    reader.skip(2);  // CHIST
    h.pcmr = reader.read(3);
    return h;
}

void printCore(const DtsCoreHeader& h, Reporter& log) {
    log.log("   PCM core samples = " + std::to_string(h.samples));
    log.log("   PCM sample blocks = " + std::to_string(h.blocks));
    log.log("   Primary frame byte size = " + std::to_string(h.frameBytes));
    log.log(
        {"   Channel arrangement = ",
         asValue(std::string(h.amode < kAmodeText.size() ? kAmodeText[h.amode] : "User defined"))});
    log.log({"   Sampling frequency = ", asValue(std::string(kSfreqText[h.sfreq])), " kHz"});
    log.log({"   Transmission bitrate = ", asValue(std::string(kRateText[h.rate])), " kbit/s"});
    if (h.extension) {
        log.log("   Extension audio = " + std::string(kExtText[*h.extension]));
    }
    log.log(valueLine("   LFE channel = ", kLfeText[h.lff]));
    if (h.headerCrc) {
        log.log("   Header CRC = " + hexUpper(*h.headerCrc, 4));
    }
    log.log("   Encoder software rev. = " + std::to_string(h.vernum) + revisionSuffix(h.vernum));
    LogEvent resolution{"   Source PCM resolution = "};
    if (*kPcmr[h.pcmr].bits != 0) {
        resolution << asValue(kPcmr[h.pcmr].bits) << " bits";
    }
    if (kPcmr[h.pcmr].es) {
        resolution << ", " << asValue("DTS ES");
    }
    log.log(resolution);
}

}  // namespace

std::vector<DtsUnit> decodeDts(const uint8_t* block, size_t blockLength, size_t offset,
                               size_t length) {
    std::vector<DtsUnit> units;
    if (length == 0) {
        return units;
    }
    BitReader reader(block, blockLength);
    uint32_t reg = 0;
    const int64_t last = static_cast<int64_t>(offset) + static_cast<int64_t>(length) - 1;
    int64_t p = static_cast<int64_t>(offset);
    // The payload's last byte is never taken in.
    while (p < last) {
        reg = reg << 8 | block[p];
        ++p;
        if (reg == kCoreSync) {
            units.emplace_back(coreHeader(reader, static_cast<int32_t>(p)));
            // The search goes on from where the reader stopped.
            reg = reader.peek();
            p = reader.pos();
        } else if (reg == kXchSync) {
            units.emplace_back(DtsChannelExtension{});
        } else if (reg == kX96Sync) {
            units.emplace_back(DtsFrequencyExtension{});
        }
    }
    return units;
}

void printDts(const std::vector<DtsUnit>& units, Reporter& log) {
    for (const DtsUnit& unit : units) {
        if (const auto* core = std::get_if<DtsCoreHeader>(&unit)) {
            printCore(*core, log);
        } else if (std::holds_alternative<DtsChannelExtension>(unit)) {
            log.log("   Channel extension found");
        } else {
            log.log({"   Frequency extension found (", asValue("96"), " kHz)"});
        }
    }
}

StreamHeader dtsValues(const DtsCoreHeader& h) {
    StreamHeader values;
    if (kSfreqHz[h.sfreq] != 0) {
        values.sampleRate = kSfreqHz[h.sfreq];
    }
    if (kRateBits[h.rate] != 0) {
        values.bitRate = kRateBits[h.rate];
    }
    const bool lfe = h.lff == 1 || h.lff == 2;
    values.lfe = lfe;
    if (h.amode < kAmodeChannels.size()) {
        values.channels = kAmodeChannels[h.amode] + (lfe ? 1 : 0);
    }
    if (kPcmrBits[h.pcmr] != 0) {
        values.bitsPerSample = kPcmrBits[h.pcmr];
    }
    return values;
}

void analyseDts(const AnalyserContext& context, const HeaderPayload& payload) {
    const std::vector<DtsUnit> units =
        decodeDts(context.block, context.blockLength, payload.offset, payload.length);
    printDts(units, context.log);
    StreamHeader* header = headerEntry(context.streams, StreamKind::Audio, payload.streamNumber);
    for (const DtsUnit& unit : units) {
        if (const auto* core = std::get_if<DtsCoreHeader>(&unit); core != nullptr) {
            if (header != nullptr) {
                *header = dtsValues(*core);
            }
            break;
        }
    }
}

}  // namespace tolvane
