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

constexpr std::array<const char*, 4> kLfeText = {"not present", "[bl]present[/bl] (IF:128)",
                                                 "[bl]present[/bl] (IF:64)", "invalid"};

constexpr std::array<const char*, 8> kPcmrText = {"[bl]16[/bl] bits",
                                                  "[bl]16[/bl] bits, [bl]DTS ES[/bl]",
                                                  "[bl]20[/bl] bits",
                                                  "[bl]20[/bl] bits, [bl]DTS ES[/bl]",
                                                  "",
                                                  "[bl]24[/bl] bits, [bl]DTS ES[/bl]",
                                                  "[bl]24[/bl] bits",
                                                  ""};

std::string revisionSuffix(uint32_t vernum) {
    if (vernum < 7) {
        return ", Future rev. (compatible)";
    }
    return vernum == 7 ? ", Current" : ", Future rev. (incompatible";
}

// Reads and reports one core frame header from `at`; leaves the reader after its last field.
void coreHeader(const AnalyserContext& context, BitReader& reader, int32_t at) {
    Reporter& log = context.log;
    reader.Start(at);
    reader.Skip(1);  // FTYPE
    log.log("   PCM core samples = " + std::to_string(reader.Read(5) + 1));
    const bool crcPresent = reader.Read(1) == 1;
    log.log("   PCM sample blocks = " + std::to_string(reader.Read(7) + 1));
    log.log("   Primary frame byte size = " + std::to_string(reader.Read(14) + 1));
    const uint32_t amode = reader.Read(6);
    log.log("   Channel arrangement = [bl]" +
            std::string(amode < kAmodeText.size() ? kAmodeText[amode] : "User defined") + "[/bl]");
    log.log("   Sampling frequency = [bl]" + std::string(kSfreqText[reader.Read(4)]) + "[/bl] kHz");
    log.log("   Transmission bitrate = [bl]" + std::string(kRateText[reader.Read(5)]) +
            "[/bl] kbit/s");
    reader.Skip(5);  // MIX, DYNF, TIMEF, AUXF, HDCD
    const uint32_t extension = reader.Read(3);
    if (reader.Read(1) == 1) {
        log.log("   Extension audio = " + std::string(kExtText[extension]));
    }
    reader.Skip(1);  // ASPF
    log.log("   LFE channel = " + std::string(kLfeText[reader.Read(2)]));
    reader.Skip(1);  // HFLAG
    if (crcPresent) {
        log.log("   Header CRC = " + hexUpper(reader.Read(16), 4));
    }
    reader.Skip(1);  // FILTS
    const uint32_t vernum = reader.Read(4);
    log.log("   Encoder software rev. = " + std::to_string(vernum) + revisionSuffix(vernum));
    reader.Skip(2);  // CHIST
    log.log("   Source PCM resolution = " + std::string(kPcmrText[reader.Read(3)]));
}

}  // namespace

void AnalyseDTS(const AnalyserContext& context, size_t offset, size_t length) {
    if (length == 0) {
        return;
    }
    BitReader reader(context.block, context.blockLength);
    uint32_t reg = 0;
    const int64_t last = static_cast<int64_t>(offset) + static_cast<int64_t>(length) - 1;
    int64_t p = static_cast<int64_t>(offset);
    // The payload's last byte is never taken in.
    while (p < last) {
        reg = reg << 8 | context.block[p];
        ++p;
        if (reg == kCoreSync) {
            coreHeader(context, reader, static_cast<int32_t>(p));
            // The search goes on from where the reader stopped.
            reg = reader.Peek();
            p = reader.pos();
        } else if (reg == kXchSync) {
            context.log.log("   Channel extension found");
        } else if (reg == kX96Sync) {
            context.log.log("   Frequency extensiond found ([bl]96[/bl] kHz)");
        }
    }
}

}  // namespace tolvane
