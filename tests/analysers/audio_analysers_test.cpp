#include <gtest/gtest.h>

#include "analyser_fixture.h"
#include "analysers/ac3_analyser.h"
#include "analysers/lpcm_analyser.h"
#include "analysers/mlp_analyser.h"

namespace tolvane {
namespace {

using fixture::AnalyserFixture;
using fixture::Bytes;
using Lines = std::vector<std::string>;

Bytes withTail(Bytes head, size_t tail = 16) {
    head.insert(head.end(), tail, 0x00);
    return head;
}

Lines ac3(const Bytes& payload, int32_t stream, LocaleSettings locale = {}) {
    AnalyserFixture f;
    const size_t at = f.place(payload, 100);
    AnalyseAC3(f.context(locale), at, payload.size(), stream);
    return f.lines();
}

const Lines kDolbyDigital = {
    "   Stream 0 is [b]Dolby Digital[/b]",
    "   Sampling frequency = [bl]48[/bl] kHz",
    "   Transmission bitrate = [bl]448[/bl] kbit/s",
    "   Channel arrangement = [bl]L + R + C + Ls + Rs[/bl], bsid = 8, bsmod =0",
};

TEST(AnalyseAC3, ReportsTheFirstDolbyDigitalHeader) {
    EXPECT_EQ(ac3(withTail({0x0B, 0x77, 0x12, 0x34, 0x1E, 0x40, 0xE0}), 0), kDolbyDigital);
    // Only the first of two good syncframes.
    Bytes two = withTail({0x0B, 0x77, 0x12, 0x34, 0x1E, 0x40, 0xE0});
    const Bytes again = {0x0B, 0x77, 0x12, 0x34, 0x1E, 0x40, 0xE0};
    two.insert(two.end(), again.begin(), again.end());
    EXPECT_EQ(ac3(withTail(two), 0), kDolbyDigital);
    // A reserved fscod reports 0 kHz and lets the next header be reported too.
    Bytes reserved = {0x0B, 0x77, 0x00, 0x00, 0xDE, 0x40, 0xE0, 0x55};
    reserved.insert(reserved.end(), again.begin(), again.end());
    const Lines both = ac3(withTail(reserved), 0);
    ASSERT_EQ(both.size(), 8u);
    EXPECT_EQ(both[1], "   Sampling frequency = [bl]0[/bl] kHz");
    EXPECT_EQ(Lines(both.begin() + 4, both.end()), kDolbyDigital);
    // Reserved frmsizecod: 0 kbit/s.
    EXPECT_EQ(ac3(withTail({0x0B, 0x77, 0, 0, 0x26, 0x40, 0xE0}), 0)[2],
              "   Transmission bitrate = [bl]0[/bl] kbit/s");
    // 44.1 kHz under a comma locale.
    EXPECT_EQ(ac3(withTail({0x0B, 0x77, 0, 0, 0x5E, 0x40, 0xE0}), 0, LocaleSettings{':', ','})[1],
              "   Sampling frequency = [bl]44,1[/bl] kHz");
}

TEST(AnalyseAC3, ReportsDolbyDigitalPlusWithItsComputedBitRate) {
    EXPECT_EQ(ac3(withTail({0x0B, 0x77, 0x03, 0xFF, 0x3F, 0x80, 0x00}), 3),
              (Lines{"   Stream 3 is [b]Dolby Digital Plus[/b]",
                     "   frame size = 2048 bytes, number of blocks per frame = 6",
                     "   Sampling frequency = [bl]48[/bl] kHz",
                     "   Transmission bitrate = [bl]512[/bl] kbit/s",
                     "   Channel arrangement = [bl]L + R + C + Ls + Rs[/bl], bsid = 16",
                     "   LFE channel = [bl]present[/bl]"}));
    const std::pair<uint8_t, const char*> blocks[] = {
        {0x0F, "3072"}, {0x1F, "1536"}, {0x2F, "1024"}};
    for (const auto& [byte4, rate] : blocks) {
        EXPECT_EQ(ac3(withTail({0x0B, 0x77, 0x03, 0xFF, byte4, 0x80, 0x00}), 3)[3],
                  std::string("   Transmission bitrate = [bl]") + rate + "[/bl] kbit/s");
    }
}

TEST(AnalyseAC3, FindsSyncWordsOnlyInsideThePayload) {
    // The byte before the payload does not make a sync word with its first byte.
    AnalyserFixture f;
    const Bytes payload = withTail({0x77, 0x12, 0x34, 0x1E, 0x40, 0xE0});
    f.place({0x0B}, 99);
    f.place(payload, 100);
    AnalyseAC3(f.context(), 100, payload.size(), 0);
    EXPECT_TRUE(f.lines().empty());
    // 0B 77 in the header bytes: the 77 is passed over and the fields shift by one.
    EXPECT_EQ(ac3(withTail({0x0B, 0x77, 0x0B, 0x77, 0x34, 0x1E, 0x40, 0xE0}), 0), kDolbyDigital);
    // A header cut by the payload's end, and an empty payload, write nothing.
    EXPECT_TRUE(ac3({0x0B, 0x77, 0x12, 0x34, 0x1E, 0x40}, 0).empty());
    EXPECT_TRUE(ac3({}, 0).empty());
}

Lines mlp(const Bytes& payload, LocaleSettings locale = {}) {
    AnalyserFixture f;
    const size_t at = f.place(payload, kBlockSize - payload.size());
    AnalyseMLP(f.context(locale), at, payload.size());
    return f.lines();
}

TEST(AnalyseMLP, ReportsStandardMlpAndTrueHdMajorSyncs) {
    EXPECT_EQ(mlp(withTail({0xF8, 0x72, 0x6F, 0xBB, 0x00, 0x80, 0x00, 0x14, 0x80, 0x00})),
              (Lines{"   [b]Standard MLP[/b] stream (up to 6 channels) ",
                     "   Quantization length = [bl]16[/bl] bits",
                     "   Sampling frequency = [bl]44.1[/bl] kHz",
                     "   Channel arrangement = [bl]Lf + Rf + Ls + Rs + C + LFE[/bl]"}));
    const Lines truehd = {"   [b]TrueHD[/b] stream (up to 8 channels)",
                          "   Sampling frequency = [bl]48[/bl] kHz",
                          "   2 ch. decoder",
                          "      channel modifier = 0",
                          "   6 ch. decoder",
                          "      channel modifier = 0",
                          "      channel arrangement = [bl]Lf + Rf + Ls + Rs + C + LFE[/bl]",
                          "   8 ch. decoder",
                          "      channel modifier = 0",
                          "      channel arrangement = [bl]Lf + Rf + Ls + Rs + C + LFE[/bl]",
                          "   Dynamic range control = -0.2015 dB .. 24.082 dB"};
    const Bytes unit = {0xF8, 0x72, 0x6F, 0xBA, 0x00, 0x07, 0x80, 0x0F, 0x7F, 0x00};
    EXPECT_EQ(mlp(withTail(unit)), truehd);
    Bytes twice = withTail(unit, 3);
    twice.insert(twice.end(), unit.begin(), unit.end());
    EXPECT_EQ(mlp(withTail(twice)).size(), 2 * truehd.size());
}

TEST(AnalyseMLP, GivesEmptyTextsForCodesWithoutOneAndStopsAtThePayloadsEnd) {
    const Lines lines = mlp(withTail({0xF8, 0x72, 0x6F, 0xBA, 0x00, 0x06, 0x80, 0x1F, 0x80, 0}));
    EXPECT_EQ(lines[6], "      channel arrangement = [bl]???13[/bl]");
    EXPECT_EQ(mlp(withTail({0xF8, 0x72, 0x6F, 0xBA, 0x00, 0x0F, 0x80, 0x1F, 0x80, 0}))[6],
              "      channel arrangement = [bl][/bl]");
    EXPECT_EQ(mlp(withTail({0xF8, 0x72, 0x6F, 0xBB, 0xF0, 0x30, 0, 0x1F, 0x80, 0}))[1],
              "   Quantization length = [bl][/bl] bits");
    EXPECT_EQ(mlp(withTail({0xF8, 0x72, 0x6F, 0xBB, 0, 0, 0, 0, 0x9F, 0x00}), {':', ','}).back(),
              "   Dynamic range control = -6,2221 dB .. 24,082 dB");
    // A sync word that ends on the last byte is never taken in.
    EXPECT_TRUE(mlp({0x00, 0xF8, 0x72, 0x6F, 0xBA}).empty());
    // A header cut by the end of the block reports what lies inside it.
    EXPECT_EQ(mlp({0xF8, 0x72, 0x6F, 0xBB, 0x00, 0x80, 0x00}).size(), 3u);
}

Lines lpcm(const Bytes& header, size_t payloadLength = 20, LocaleSettings locale = {}) {
    AnalyserFixture f;
    f.place(header, 200);
    f.place(Bytes(payloadLength, 0x55), 207);
    AnalyseLPCM(f.context(locale), 207, payloadLength);
    return f.lines();
}

TEST(AnalyseLPCM, ReportsTheHeaderBeforeThePayload) {
    EXPECT_EQ(lpcm({0xA0, 0x05, 0x00, 0x08, 0x00, 0x11, 0x80}),
              (Lines{"   Number of frame headers = 5", "   First acces unit pointer = 0008",
                     "   Emphasis = off, mute = off", "   Frame number = 0",
                     "   Quantization length = [bl]16[/bl] bits",
                     "   Sampling frequency = [bl]96[/bl] kHz",
                     "   Number of audio channels = [bl]2[/bl]"}));
    const Lines flags = lpcm({0xA0, 0x01, 0x12, 0xAB, 0xC3, 0x85, 0x7F});
    EXPECT_EQ(flags[1], "   First acces unit pointer = 12AB");
    EXPECT_EQ(flags[2], "   Emphasis = on, mute = on");
    EXPECT_EQ(flags[3], "   Frame number = 3");
    EXPECT_EQ(flags[4], "   Quantization length = [bl]24[/bl] bits");
    EXPECT_EQ(flags[5], "   Sampling frequency = [bl]48[/bl] kHz");
    EXPECT_EQ(flags[7], "   Dynamic range = -0.2015 dB");
    EXPECT_EQ(lpcm({0xA0, 0, 0, 0, 0, 0, 0x9F}, 20, LocaleSettings{':', ','})[7],
              "   Dynamic range = -6,2221 dB");
    EXPECT_EQ(lpcm({0xA0, 0, 0, 0, 0, 0, 0x00})[7], "   Dynamic range = 24.082 dB");
}

TEST(AnalyseLPCM, CountsUpToEightChannelsFromThreeBits) {
    // 0x85: quantization 24, 48 kHz, channel bits 101: six channels.
    EXPECT_EQ(lpcm({0xA0, 1, 0, 0, 0, 0x85, 0x80})[6], "   Number of audio channels = [bl]6[/bl]");
    EXPECT_EQ(lpcm({0xA0, 1, 0, 0, 0, 0x07, 0x80})[6], "   Number of audio channels = [bl]8[/bl]");
    EXPECT_EQ(lpcm({0xA0, 1, 0, 0, 0, 0x00, 0x80})[6], "   Number of audio channels = [bl]1[/bl]");
}

TEST(AnalyseLPCM, NeverReadsBeforeTheBlock) {
    EXPECT_TRUE(lpcm({0xA0, 1, 0, 0, 0, 0, 0x80}, 0).empty());
    AnalyserFixture f;
    f.place(Bytes(20, 0x55), 0);
    for (size_t offset = 0; offset < 7; ++offset) {
        AnalyseLPCM(f.context(), offset, 10);
    }
    EXPECT_TRUE(f.lines().empty());
}

}  // namespace
}  // namespace tolvane
