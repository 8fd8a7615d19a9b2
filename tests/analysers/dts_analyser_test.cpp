#include <gtest/gtest.h>

#include "analyser_fixture.h"
#include "analysers/dts_analyser.h"
#include "bit_writer.h"

namespace tolvane {
namespace {

using fixture::AnalyserFixture;
using fixture::BitWriter;
using fixture::Bytes;
using Lines = std::vector<std::string>;

struct CoreHeader {
    uint32_t cpf = 0, amode = 9, sfreq = 13, rate = 24, extId = 0, ext = 0, lff = 1;
    uint32_t crc = 0xBEEF, vernum = 7, pcmr = 6;

    Bytes bytes() const {
        BitWriter w;
        w.bits(0x7FFE8001, 32)
            .bit(1)
            .bits(31, 5)
            .bits(cpf, 1)
            .bits(15, 7)
            .bits(2012, 14)
            .bits(amode, 6)
            .bits(sfreq, 4)
            .bits(rate, 5)
            .bits(0, 5)
            .bits(extId, 3)
            .bits(ext, 1)
            .bit(0)
            .bits(lff, 2)
            .bit(0);
        if (cpf == 1) {
            w.bits(crc, 16);
        }
        w.bit(0).bits(vernum, 4).bits(0, 2).bits(pcmr, 3).bits(0, 6);
        return w.bytes();
    }
};

const Lines kCore = {"   PCM core samples = 32",
                     "   PCM sample blocks = 16",
                     "   Primary frame byte size = 2013",
                     "   Channel arrangement = [bl]C + L + R + Ls + Rs[/bl]",
                     "   Sampling frequency = [bl]48[/bl] kHz",
                     "   Transmission bitrate = [bl]1536[/bl] kbit/s",
                     "   LFE channel = [bl]present[/bl] (IF:128)",
                     "   Encoder software rev. = 7, Current",
                     "   Source PCM resolution = [bl]24[/bl] bits"};

Lines dts(Bytes payload, size_t tail = 8) {
    payload.insert(payload.end(), tail, 0x00);
    AnalyserFixture f;
    const size_t at = f.place(payload, kBlockSize - payload.size());
    analyseDts(f.context(), HeaderPayload{at, payload.size()});
    return f.lines();
}

TEST(AnalyseDTS, ReportsEveryCoreHeader) {
    EXPECT_EQ(dts(CoreHeader{}.bytes()), kCore);
    Bytes two = CoreHeader{}.bytes();
    two.resize(40, 0x00);
    const Bytes again = CoreHeader{}.bytes();
    two.insert(two.end(), again.begin(), again.end());
    Lines both = kCore;
    both.insert(both.end(), kCore.begin(), kCore.end());
    EXPECT_EQ(dts(two), both);
}

TEST(AnalyseDTS, AddsCrcAndExtensionLinesWhereTheHeaderHasThem) {
    CoreHeader crc;
    crc.cpf = 1;
    Lines withCrc = kCore;
    withCrc.insert(withCrc.begin() + 7, "   Header CRC = BEEF");
    EXPECT_EQ(dts(crc.bytes()), withCrc);

    CoreHeader extension;
    extension.ext = 1;
    extension.extId = 2;
    const Lines lines = dts(extension.bytes());
    EXPECT_EQ(lines[6], "   Extension audio = Frequency extension");

    CoreHeader odd;
    odd.amode = 40;
    odd.sfreq = 4;
    odd.vernum = 8;
    odd.pcmr = 4;
    odd.rate = 22;
    const Lines oddLines = dts(odd.bytes());
    EXPECT_EQ(oddLines[3], "   Channel arrangement = [bl]User defined[/bl]");
    EXPECT_EQ(oddLines[4], "   Sampling frequency = [bl][/bl] kHz");
    EXPECT_EQ(oddLines[5], "   Transmission bitrate = [bl]1411,2[/bl] kbit/s");
    EXPECT_EQ(oddLines[7], "   Encoder software rev. = 8, Future rev. (incompatible");
    EXPECT_EQ(oddLines[8], "   Source PCM resolution = ");
}

TEST(AnalyseDTS, ReportsExtensionSyncWordsInsideThePayload) {
    const Bytes xch = {0x00, 0x5A, 0x5A, 0x5A, 0x5A, 0x00, 0x1D, 0x95, 0xF2, 0x62, 0x00};
    EXPECT_EQ(dts(xch, 0), (Lines{"   Channel extension found",
                                  "   Frequency extension found ([bl]96[/bl] kHz)"}));
    EXPECT_TRUE(dts({0x00, 0x5A, 0x5A, 0x5A, 0x5A}, 0).empty());
    EXPECT_TRUE(dts({}, 0).empty());
    // A core header cut by the end of the block reads zeros past it.
    const Bytes core = CoreHeader{}.bytes();
    EXPECT_EQ(dts(Bytes(core.begin(), core.begin() + 7), 0).size(), kCore.size());
}

}  // namespace
}  // namespace tolvane
