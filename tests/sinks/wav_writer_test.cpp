#include "sinks/wav_writer.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace tolvane
