// The values the analysers record for a stream: what the reports give, and nothing a header did
// not say.
#include <gtest/gtest.h>

#include "analyser_fixture.h"
#include "analysers/h264_analyser.h"
#include "analysers/mlp_analyser.h"
#include "analysers/mpeg2_analyser.h"
#include "analysers/mpeg_audio_analyser.h"
#include "analysers/vc1_analyser.h"

namespace tolvane {
namespace {

using fixture::AnalyserFixture;
using fixture::Bytes;

// The values recorded for audio stream 2 or video stream 1 after `analyse` ran on `payload`.
template <typename Analyse>
StreamHeader recorded(const Bytes& payload, StreamKind kind, Analyse analyse) {
    AnalyserFixture f;
    const int32_t number = kind == StreamKind::Audio ? 2 : 1;
    StreamContext& stream = numberedStream(f.state->streams, kind, number);
    const size_t at = f.place(payload, 100, 100 + payload.size() + 16);
    analyse(f.context(), HeaderPayload{at, payload.size(), number, 0x1234});
    return stream.header;
}

StreamHeader mlp(const Bytes& payload) {
    return recorded(payload, StreamKind::Audio, analyseMlp);
}

TEST(HeaderValues, TrueHdCountsTheChannelsOfItsWidestWholePresentation) {
    // 48 kHz; the 6-channel presentation 5.1, the 8-channel one 7.1 (0x4F).
    StreamHeader values = mlp({0xF8, 0x72, 0x6F, 0xBA, 0x00, 0x07, 0x80, 0x4F, 0xB7, 0x52});
    EXPECT_EQ(values.sampleRate, 48000u);
    EXPECT_EQ(values.channels, 8u);
    EXPECT_EQ(values.lfe, true);
    // The payload ends inside the 8-channel assignment: the 6-channel one counts.
    // LFE is its own group, not the centre's: a centre without LFE, then LFE without a centre.
    values = mlp({0xF8, 0x72, 0x6F, 0xBA, 0x00, 0x05, 0x80, 0x4F});
    EXPECT_EQ(values.channels, 5u);
    EXPECT_EQ(values.lfe, false);
    values = mlp({0xF8, 0x72, 0x6F, 0xBA, 0x00, 0x06, 0x80, 0x4F});
    EXPECT_EQ(values.channels, 5u);
    EXPECT_EQ(values.lfe, true);
    // A second major sync of another rate does not overwrite the first one's values.
    values = mlp({0xF8, 0x72, 0x6F, 0xBA, 0x00, 0x07, 0x80, 0x0F, 0xB7, 0x52,
                  0xF8, 0x72, 0x6F, 0xBA, 0x80, 0x01, 0x80, 0x01, 0xB7, 0x52});
    EXPECT_EQ(values.sampleRate, 48000u);
    EXPECT_EQ(values.channels, 6u);
}

TEST(HeaderValues, MpegAudioTakesItsRateFromTheVersionAndItsBitRateFromTheLayersTable) {
    struct Case {
        Bytes frame;
        uint32_t sampleRate;
        uint32_t bitRate;
        uint32_t channels;
    };
    const Case cases[] = {
        {{0xFF, 0xFD, 0x94, 0x00}, 48000, 160000, 2},  // MPEG-1 Layer II, stereo
        {{0xFF, 0xFB, 0x94, 0xC0}, 48000, 128000, 1},  // MPEG-1 Layer III, one channel
        {{0xFF, 0xFF, 0x94, 0x40}, 48000, 288000, 2},  // MPEG-1 Layer I, joint stereo
        {{0xFF, 0xF3, 0x84, 0xC0}, 24000, 64000, 1},   // MPEG-2 Layer III, half rates
        {{0xFF, 0xE3, 0x84, 0x80}, 12000, 64000, 2},   // MPEG-2.5, dual channel
        // A reserved layer, then a frame after it.
        {{0x12, 0xFF, 0xF9, 0x94, 0x00, 0xFF, 0xFD, 0x10, 0x00}, 44100, 32000, 2},
    };
    for (const Case& c : cases) {
        const StreamHeader values = recorded(c.frame, StreamKind::Audio, analyseMpegAudio);
        EXPECT_EQ(values.sampleRate, c.sampleRate);
        EXPECT_EQ(values.bitRate, c.bitRate);
        EXPECT_EQ(values.channels, c.channels);
    }
}

TEST(HeaderValues, DvdAudioMlpTakesItsWordLengthRateAndChannelsFromTheAssignment) {
    // 24 bits, 96 kHz, assignment 17: L + R + C + LFE + Ls + Rs.
    StreamHeader values = mlp({0xF8, 0x72, 0x6F, 0xBB, 0x20, 0x10, 0x00, 0x11, 0xB7, 0x52});
    EXPECT_EQ(values.bitsPerSample, 24u);
    EXPECT_EQ(values.sampleRate, 96000u);
    EXPECT_EQ(values.channels, 6u);
    EXPECT_EQ(values.lfe, true);
    // 88.2 kHz, mono; codes without a meaning give no value.
    values = mlp({0xF8, 0x72, 0x6F, 0xBB, 0x00, 0x90, 0x00, 0x00, 0xB7, 0x52});
    EXPECT_EQ(values.sampleRate, 88200u);
    EXPECT_EQ(values.channels, 1u);
    values = mlp({0xF8, 0x72, 0x6F, 0xBB, 0xF0, 0x30, 0x00, 0x1F, 0xB7, 0x52});
    EXPECT_FALSE(values.bitsPerSample);
    EXPECT_FALSE(values.sampleRate);
    EXPECT_FALSE(values.channels);
}

// profile_and_level_indication 0x44: Main profile at High level.
const Bytes kSequenceExtension = {0x00, 0x00, 0x01, 0xB5, 0x14, 0x42, 0x00, 0x01, 0x00, 0x00};

Bytes sequenceHeader(uint8_t aspectAndRate, uint8_t bitRateHigh) {
    // 1920x1080, then the bit rate's upper bits.
    return {0x00, 0x00, 0x01, 0xB3, 0x78, 0x04, 0x38, aspectAndRate, bitRateHigh, 0xFF, 0xE0, 0x00};
}

StreamHeader mpeg2(const Bytes& payload) {
    return recorded(payload, StreamKind::Video, analyseMpeg2);
}

TEST(HeaderValues, MpegVideoGivesItsProfileAspectAndRateAndNoVariableBitRate) {
    Bytes payload = sequenceHeader(0x34, 0xFF);
    payload.insert(payload.end(), kSequenceExtension.begin(), kSequenceExtension.end());
    StreamHeader values = mpeg2(payload);
    EXPECT_EQ(values.width, 1920u);
    EXPECT_EQ(values.height, 1080u);
    EXPECT_EQ(values.aspectRatio, "16:9");
    EXPECT_EQ(values.frameRate, 30000.0 / 1001.0);
    EXPECT_EQ(values.profile, "Main");
    EXPECT_EQ(values.level, 4) << "High, as ffprobe numbers it";
    EXPECT_FALSE(values.bitRate) << "all ones: the rate is variable";

    // MPEG-1: another start code follows. Its pixel aspects have no display ratio to give, and
    // it has no profile.
    payload = sequenceHeader(0x83, 0x00);
    const Bytes picture = {0x00, 0x00, 0x01, 0x00, 0x00, 0x08};
    payload.insert(payload.end(), picture.begin(), picture.end());
    values = mpeg2(payload);
    EXPECT_FALSE(values.aspectRatio);
    EXPECT_EQ(values.frameRate, 25.0);
    EXPECT_FALSE(values.profile);
    EXPECT_TRUE(values.bitRate);
}

TEST(HeaderValues, H264AndVc1GiveARateOnlyWhereTheirHeaderHasOne) {
    // Baseline, level 1b (level_idc 11 with constraint_set3), 176x144, no VUI.
    const Bytes sps = {0x00, 0x00, 0x01, 0x67, 0x42, 0x10, 0x0B, 0xF4, 0x0B, 0x13, 0x20};
    StreamHeader values = recorded(sps, StreamKind::Video, analyseH264);
    EXPECT_EQ(values.profile, "Baseline") << "the log's trailing blank is not part of it";
    EXPECT_EQ(values.level, 11) << "level_idc, as ffprobe gives it";
    EXPECT_FALSE(values.frameRate);

    // VC-1 advanced profile 1920x1080 with a display extension whose frame rate has the
    // forbidden numerator 0: no rate.
    const Bytes vc1 = {0x00, 0x00, 0x01, 0x0F, 0xCA, 0x86, 0x7F, 0xF0, 0x43, 0x7E, 0x07,
                       0xFF, 0xF8, 0x7F, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00};
    values = recorded(vc1, StreamKind::Video, analyseVc1);
    EXPECT_EQ(values.profile, "Advanced");
    EXPECT_FALSE(values.frameRate);
}

}  // namespace
}  // namespace tolvane
