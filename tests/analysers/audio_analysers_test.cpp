#include <gtest/gtest.h>

#include <tuple>

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
    analyseAc3(f.context(locale), HeaderPayload{at, payload.size(), stream});
    return f.lines();
}

const Lines kDolbyDigital = {
    "   Stream 0 is [b]Dolby Digital[/b]",
    "   Sampling frequency = [bl]48[/bl] kHz",
    "   Transmission bitrate = [bl]448[/bl] kbit/s",
    "   Channel arrangement = [bl]L + R + C + Ls + Rs[/bl], bsid = 8, bsmod = 0",
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

TEST(AnalyseAC3, NamesTheLfeChannelOfDolbyDigitalWhereverAcmodPutsIt) {
    // lfeon follows acmod and the mix-level fields acmod calls for.
    const std::pair<uint8_t, const char*> cases[] = {
        {0xE1, "L + R + C + Ls + Rs + LFE"},  // 3/2: cmixlev, surmixlev
        {0xE2, "L + R + C + Ls + Rs"},        // the bit after lfeon
        {0xC4, "L + R + Ls + Rs + LFE"},      // 2/2: surmixlev
        {0x64, "L + R + C + LFE"},            // 3/0: cmixlev
        {0x44, "L + R + LFE"},                // 2/0: dsurmod
        {0x48, "L + R"},
        {0x30, "mono + LFE"},  // 1/0: nothing between
    };
    for (const auto& [byte6, text] : cases) {
        EXPECT_EQ(
            ac3(withTail({0x0B, 0x77, 0x12, 0x34, 0x1E, 0x40, byte6}), 0).at(3),
            std::string("   Channel arrangement = [bl]") + text + "[/bl], bsid = 8, bsmod = 0");
    }
}

TEST(AnalyseAC3, ComputesTheDolbyDigitalPlusBitRateAtItsOwnSamplingFrequency) {
    // 768-word frames of six blocks.
    const std::tuple<uint8_t, const char*, const char*> cases[] = {
        {0x3F, "48", "384"},
        {0x7F, "44.1", "352"},
        {0xBF, "32", "256"},
        // fscod 3: a reduced rate from fscod2, six blocks whatever the next two bits say.
        {0xCF, "24", "192"},
        {0xDF, "22.05", "176"},
        {0xEF, "16", "128"},
    };
    for (const auto& [byte4, kHz, kbps] : cases) {
        const Lines lines = ac3(withTail({0x0B, 0x77, 0x02, 0xFF, byte4, 0x80, 0x00}), 1);
        ASSERT_EQ(lines.size(), 6u);
        EXPECT_EQ(lines[2], std::string("   Sampling frequency = [bl]") + kHz + "[/bl] kHz");
        EXPECT_EQ(lines[3], std::string("   Transmission bitrate = [bl]") + kbps + "[/bl] kbit/s");
    }
    EXPECT_EQ(ac3(withTail({0x0B, 0x77, 0x02, 0xFF, 0xFF, 0x80, 0x00}), 1).at(2),
              "   Sampling frequency = [bl]0[/bl] kHz");
}

TEST(AnalyseAC3, FindsSyncWordsOnlyInsideThePayload) {
    // The byte before the payload does not make a sync word with its first byte.
    AnalyserFixture f;
    const Bytes payload = withTail({0x77, 0x12, 0x34, 0x1E, 0x40, 0xE0});
    f.place({0x0B}, 99);
    f.place(payload, 100);
    analyseAc3(f.context(), HeaderPayload{100, payload.size(), 0});
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
    analyseMlp(f.context(locale), HeaderPayload{at, payload.size()});
    return f.lines();
}

TEST(AnalyseMLP, ReportsStandardMlpAndTrueHdMajorSyncs) {
    // Real major syncs go on with the signature B7 52: it is no value of the stream.
    EXPECT_EQ(mlp(withTail({0xF8, 0x72, 0x6F, 0xBB, 0x00, 0x80, 0x00, 0x14, 0xB7, 0x52})),
              (Lines{"   [b]Standard MLP[/b] stream (up to 6 channels)",
                     "   Quantization length = [bl]16[/bl] bits",
                     "   Sampling frequency = [bl]44.1[/bl] kHz",
                     "   Channel arrangement = [bl]L + R + C + LFE + Ls + Rs[/bl]"}));
    const Lines truehd = {"   [b]TrueHD[/b] stream (up to 8 channels)",
                          "   Sampling frequency = [bl]48[/bl] kHz",
                          "   2 ch. decoder",
                          "      channel modifier = 0",
                          "   6 ch. decoder",
                          "      channel modifier = 0",
                          "      channel arrangement = [bl]L + R + C + LFE + Ls + Rs[/bl]",
                          "   8 ch. decoder",
                          "      channel modifier = 0",
                          "      channel arrangement = [bl]L + R + C + LFE + Ls + Rs[/bl]"};
    const Bytes unit = {0xF8, 0x72, 0x6F, 0xBA, 0x00, 0x07, 0x80, 0x0F, 0xB7, 0x52};
    EXPECT_EQ(mlp(withTail(unit)), truehd);
    Bytes twice = withTail(unit, 3);
    twice.insert(twice.end(), unit.begin(), unit.end());
    EXPECT_EQ(mlp(withTail(twice)), truehd) << "a packet's later major syncs repeat the first";
}

TEST(AnalyseMLP, NamesTheChannelsOfEveryPresentationAndDvdAudioAssignment) {
    // 6-channel assignment in the low nibble of byte 2 and the top bit of byte 3, the
    // 8-channel one in the low 5 bits of byte 3 and byte 4.
    const auto presentations = [](uint8_t byte2, uint8_t byte3, uint8_t byte4) {
        const Lines lines = mlp(withTail({0xF8, 0x72, 0x6F, 0xBA, 0x00, byte2, byte3, byte4}));
        return std::pair{lines.at(6), lines.at(9)};
    };
    const std::string six = "      channel arrangement = [bl]";
    EXPECT_EQ(presentations(0x00, 0x80, 0x01).first, six + "L + R[/bl]");
    EXPECT_EQ(presentations(0x05, 0x80, 0x0B).first, six + "L + R + C + Ls + Rs[/bl]");
    EXPECT_EQ(presentations(0x05, 0x80, 0x0B).second, six + "L + R + C + Ls + Rs[/bl]");
    // 7.1: the rear surrounds are a group of the 8-channel presentation only.
    EXPECT_EQ(presentations(0x07, 0x80, 0x4F).second,
              six + "L + R + C + LFE + Ls + Rs + Lrs + Rrs[/bl]");
    EXPECT_EQ(presentations(0x00, 0x1F, 0xFF).second,
              six +
                  "L + R + C + LFE + Ls + Rs + Lvh + Rvh + Lc + Rc + Lrs + Rrs + Cs + Ts + Lsd + "
                  "Rsd + Lw + Rw + Cvh + LFE2[/bl]");
    EXPECT_EQ(trueHdChannels(0), "");

    const auto dvdAudio = [](uint8_t assignment) {
        return mlp(withTail({0xF8, 0x72, 0x6F, 0xBB, 0x00, 0x00, 0x00, assignment})).at(3);
    };
    const std::string arrangement = "   Channel arrangement = [bl]";
    EXPECT_EQ(dvdAudio(0), arrangement + "mono[/bl]");
    EXPECT_EQ(dvdAudio(1), arrangement + "L + R[/bl]");
    EXPECT_EQ(dvdAudio(2), arrangement + "L + R + S[/bl]");
    EXPECT_EQ(dvdAudio(12), arrangement + "L + R + C + LFE + Ls + Rs[/bl]");
    EXPECT_EQ(dvdAudio(18), arrangement + "L + R + LFE + Ls + Rs[/bl]");
    EXPECT_EQ(dvdAudio(21), arrangement + "[/bl]");
}

TEST(AnalyseMLP, GivesEmptyTextsForCodesWithoutOneAndStopsAtThePayloadsEnd) {
    EXPECT_EQ(mlp(withTail({0xF8, 0x72, 0x6F, 0xBB, 0xF0, 0x30, 0, 0x1F, 0x80, 0}))[1],
              "   Quantization length = [bl][/bl] bits");
    // No dynamic-range line from the signature, whatever the locale.
    EXPECT_EQ(mlp(withTail({0xF8, 0x72, 0x6F, 0xBB, 0, 0, 0, 0, 0x9F, 0x00}), {':', ','}).size(),
              4u);
    // A sync word that ends on the last byte is never taken in.
    EXPECT_TRUE(mlp({0x00, 0xF8, 0x72, 0x6F, 0xBA}).empty());
    // A header cut by the end of the block reports what lies inside it.
    EXPECT_EQ(mlp({0xF8, 0x72, 0x6F, 0xBB, 0x00, 0x80, 0x00}).size(), 3u);
}

Lines lpcm(const Bytes& header, size_t payloadLength = 20, LocaleSettings locale = {}) {
    AnalyserFixture f;
    f.place(header, 200);
    f.place(Bytes(payloadLength, 0x55), 207);
    analyseLpcm(f.context(locale), HeaderPayload{207, payloadLength});
    return f.lines();
}

TEST(AnalyseLPCM, ReportsTheHeaderBeforeThePayload) {
    EXPECT_EQ(lpcm({0xA0, 0x05, 0x00, 0x08, 0x00, 0x11, 0x80}),
              (Lines{"   Number of frame headers = 5", "   First access unit pointer = 0008",
                     "   Emphasis = off, mute = off", "   Frame number = 0",
                     "   Quantization length = [bl]16[/bl] bits",
                     "   Sampling frequency = [bl]96[/bl] kHz",
                     "   Number of audio channels = [bl]2[/bl]"}));
    const Lines flags = lpcm({0xA0, 0x01, 0x12, 0xAB, 0xC3, 0x85, 0x7F});
    EXPECT_EQ(flags[1], "   First access unit pointer = 12AB");
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
        analyseLpcm(f.context(), HeaderPayload{offset, 10});
    }
    EXPECT_TRUE(f.lines().empty());
}

}  // namespace
}  // namespace tolvane
