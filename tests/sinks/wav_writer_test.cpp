#include "sinks/wav_writer.h"

#include <gtest/gtest.h>

#include "child_process.h"
#include "program_stream_builder.h"
#include "temp_dir.h"
#include "test_doubles.h"

namespace tolvane {
namespace {

// The WAVE file of `payload` written as it comes in runs of `run` bytes (0: whole).
fixture::Bytes written(const fixture::TempDir& dir, const std::vector<uint8_t>& formatBytes,
                       const fixture::Bytes& payload, size_t run) {
    const std::string path = (dir.path() / ("run" + std::to_string(run) + ".wav")).string();
    FileOutput file(path);
    WavWriter wave(file, formatBytes);
    for (size_t at = 0; at < payload.size();) {
        const size_t n = run == 0 ? payload.size() : std::min(run, payload.size() - at);
        wave.append(payload.data() + at, n);
        at += n;
    }
    wave.finish();
    file.close();
    return fixture::readFile(path);
}

// Packets cut a stream's sample groups anywhere: the file is the same however the payload
// comes, and a group left unfinished at the end is no sample.
TEST(WavWriter, SamplesAreTheSameWhereverThePacketsCutTheGroups) {
    fixture::TempDir dir;
    fixture::Bytes payload(12 * 50 + 7);
    for (size_t k = 0; k < payload.size(); ++k) {
        payload[k] = static_cast<uint8_t>(k * 37 + 11);
    }
    // 16, 20 and 24 bits; one, two and six channels.
    for (const uint8_t format : {0x01, 0x41, 0x81, 0x80, 0x85, 0x40}) {
        SCOPED_TRACE(static_cast<int>(format));
        const std::vector<uint8_t> formatBytes = {0x00, format, 0x80};
        const fixture::Bytes whole = written(dir, formatBytes, payload, 0);
        for (const size_t run : {1, 5, 7, 11, 13, 2048}) {
            EXPECT_EQ(written(dir, formatBytes, payload, run), whole) << run;
        }
        const std::optional<LpcmFormat> lpcm = lpcmFormat(formatBytes);
        ASSERT_TRUE(lpcm.has_value());
        const size_t header = wavHeader(*lpcm, 0).size();
        const size_t frameBytes =
            (lpcm->bits == 16 ? 2u : 3u) * static_cast<size_t>(lpcm->channels);
        EXPECT_EQ((whole.size() - header) % frameBytes, 0u) << "whole sample frames only";
    }
}

// A DVD-Audio LPCM header after the sub-stream id: counter, size (8 more bytes), first access
// unit, then the groups' sample sizes and rates and the channel assignment.
std::vector<uint8_t> dvdAudioHeader(uint8_t sizes, uint8_t rates, uint8_t assignment) {
    return {0x00, 0x00, 0x08, 0x00, 0x00, 0x10, sizes, rates, 0x00, assignment, 0x00};
}

// DVD-Audio LPCM: two sample frames at a time, the second group's samples first, each group's
// high 16 bits then (24 bits) its low bytes; written in the speakers' WAVE order with their mask.
TEST(WavWriter, DvdAudioGroupsBecomeFramesInTheSpeakersOrder) {
    struct Case {
        const char* what;
        std::vector<uint8_t> header;
        fixture::Bytes payload;
        std::optional<LpcmFormat> format;  // none: kept as the disc has it
        fixture::Bytes samples;
    };
    const Case cases[] = {
        {"stereo, 24 bits, 96 kHz",
         dvdAudioHeader(0x2F, 0x1F, 1),
         {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88, 0xA1, 0xA2, 0xA3, 0xA4},
         LpcmFormat{24, 96000, 2, 0x3, DvdAudioGroups{{2, 0}, {24, 0}, {0, 1}}},
         {0xA1, 0x22, 0x11, 0xA2, 0x44, 0x33, 0xA3, 0x66, 0x55, 0xA4, 0x88, 0x77}},
        {"5.1, 16 bits: L R C, then LFE Ls Rs first in the stream",
         dvdAudioHeader(0x00, 0x00, 17),
         {0x04, 0x00, 0x05, 0x00, 0x06, 0x00, 0x14, 0x00, 0x15, 0x00, 0x16, 0x00,
          0x01, 0x00, 0x02, 0x00, 0x03, 0x00, 0x11, 0x00, 0x12, 0x00, 0x13, 0x00},
         LpcmFormat{16, 48000, 6, 0x3F, DvdAudioGroups{{3, 3}, {16, 16}, {0, 1, 2, 3, 4, 5}}},
         {0x00, 0x01, 0x00, 0x02, 0x00, 0x03, 0x00, 0x04, 0x00, 0x05, 0x00, 0x06,
          0x00, 0x11, 0x00, 0x12, 0x00, 0x13, 0x00, 0x14, 0x00, 0x15, 0x00, 0x16}},
        {"L R in 24 bits and a back centre in 16, 44.1 kHz: all in 24 bits",
         dvdAudioHeader(0x20, 0x88, 2),
         {0x0C, 0x01, 0x0C, 0x02, 0x0A, 0x01, 0x0B, 0x01, 0x0A, 0x02, 0x0B, 0x02, 0xE1, 0xE2, 0xE3,
          0xE4},
         LpcmFormat{24, 44100, 3, 0x103, DvdAudioGroups{{2, 1}, {24, 16}, {0, 1, 2}}},
         {0xE1, 0x01, 0x0A, 0xE2, 0x01, 0x0B, 0x00, 0x01, 0x0C, 0xE3, 0x02, 0x0A, 0xE4, 0x02, 0x0B,
          0x00, 0x02, 0x0C}},
        {"20 bits, which no description orders, stays as the disc has it",
         dvdAudioHeader(0x1F, 0x0F, 1),
         {1, 2, 3, 4, 5},
         std::nullopt,
         {1, 2, 3, 4, 5}},
        {"groups at two rates stay as the disc has them",
         dvdAudioHeader(0x00, 0x10, 3),
         {9, 8, 7},
         std::nullopt,
         {9, 8, 7}},
        {"an assignment no disc has", dvdAudioHeader(0x00, 0x00, 21), {1}, std::nullopt, {1}},
    };
    fixture::TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(lpcmFormat(c.header), c.format);
        const std::string path = (dir.path() / "a.wav").string();
        FileOutput file(path);
        WavWriter wave(file, c.header);
        wave.append(c.payload.data(), c.payload.size());
        wave.finish();
        file.close();
        const fixture::Bytes out = fixture::readFile(file.path());
        const size_t header = c.format ? wavHeader(*c.format, 0).size() : 0;
        EXPECT_EQ(fixture::Bytes(out.begin() + static_cast<long>(header), out.end()), c.samples);
        EXPECT_EQ(wave.passedThrough(), !c.format);
    }
}

// A DVD-Audio object of 5.1 LPCM in 16 bits, through the demux: a WAVE file that ffprobe
// takes for 5.1 at 48 kHz, holding each channel's samples where players look for them and
// nothing of the packets' headers.
TEST(WavWriter, ADvdAudioObjectsLpcmIsDemuxedToAWaveFileFfmpegReads) {
    if (!fixture::installed("ffmpeg") || !fixture::installed("ffprobe")) {
        GTEST_SKIP() << "ffmpeg is not installed";
    }
    constexpr size_t kFramesPerPacket = 160;
    constexpr size_t kPackets = 40;
    // Sample of channel c (L R C LFE Ls Rs) in frame f.
    const auto sample = [](size_t c, size_t f) {
        return static_cast<uint16_t>(c << 12 | f % 4096);
    };
    constexpr size_t kStreamOrder[6] = {3, 4, 5, 0, 1, 2};  // LFE Ls Rs, then L R C
    fixture::ProgramStreamBuilder aob;
    fixture::Bytes expected;
    for (size_t p = 0; p < kPackets; ++p) {
        fixture::Bytes payload = {0xA0};
        const std::vector<uint8_t> header = dvdAudioHeader(0x00, 0x00, 17);
        payload.insert(payload.end(), header.begin(), header.end());
        for (size_t f = p * kFramesPerPacket; f < (p + 1) * kFramesPerPacket; f += 2) {
            for (size_t group = 0; group < 2; ++group) {
                for (size_t n = 0; n < 6; ++n) {
                    const uint16_t value = sample(kStreamOrder[group * 3 + n % 3], f + n / 3);
                    payload.push_back(static_cast<uint8_t>(value >> 8));
                    payload.push_back(static_cast<uint8_t>(value & 0xFF));
                }
            }
        }
        for (size_t f = p * kFramesPerPacket; f < (p + 1) * kFramesPerPacket; ++f) {
            for (size_t c = 0; c < 6; ++c) {
                expected.push_back(static_cast<uint8_t>(sample(c, f) & 0xFF));
                expected.push_back(static_cast<uint8_t>(sample(c, f) >> 8));
            }
        }
        aob.pack({fixture::pesPacket(0xBD, {.pts = 90000 + p * 300}, payload)});
    }
    fixture::TempDir dir;
    const std::string source = dir.write("ATS_01_1.AOB", aob.bytes());
    const fixture::ProcessResult demuxed =
        fixture::runProcess(TOLVANE_CLI, {"demux", source, "-o", dir.path().string()}, "/");
    ASSERT_EQ(demuxed.status, 0) << demuxed.err;
    EXPECT_NE(demuxed.out.find("Channel arrangement = L + R + C + LFE + Ls + Rs"),
              std::string::npos)
        << demuxed.out;
    const std::string wave = (dir.path() / "ATS_01_1.LPCM.stream.00.wav").string();
    const fixture::ProcessResult probe =
        fixture::runProcess("ffprobe",
                            {"-v", "error", "-show_entries",
                             "stream=channels,sample_rate,channel_layout", "-of", "csv=p=0", wave},
                            "/");
    EXPECT_EQ(probe.out, "48000,6,5.1\n") << demuxed.out;
    const fixture::ProcessResult decoded =
        fixture::runProcess("/bin/sh", {"-c", "ffmpeg -v error -i '" + wave + "' -f s16le -"}, "/");
    EXPECT_TRUE(decoded.out == std::string(expected.begin(), expected.end()))
        << decoded.out.size() << " bytes against " << expected.size();

    // 20-bit samples, which nothing describes the order of, stay as the disc has them, in a
    // file named so, and without the packets' headers.
    fixture::ProgramStreamBuilder twenty;
    fixture::Bytes samples;
    for (size_t p = 0; p < 3; ++p) {
        fixture::Bytes payload = {0xA0};
        const std::vector<uint8_t> header = dvdAudioHeader(0x1F, 0x0F, 1);
        payload.insert(payload.end(), header.begin(), header.end());
        for (size_t k = 0; k < 1000; ++k) {
            payload.push_back(static_cast<uint8_t>(k * 7 + p));
        }
        samples.insert(samples.end(), payload.begin() + 12, payload.end());
        twenty.pack({fixture::pesPacket(0xBD, {.pts = 90000 + p * 300}, payload)});
    }
    const std::string raw = dir.write("ATS_02_1.AOB", twenty.bytes());
    ASSERT_EQ(
        fixture::runProcess(TOLVANE_CLI, {"demux", raw, "-o", dir.path().string()}, "/").status, 0);
    EXPECT_EQ(fixture::readFile(dir.path() / "ATS_02_1.LPCM.stream.00.lpcm"), samples);
}

}  // namespace
}  // namespace tolvane
