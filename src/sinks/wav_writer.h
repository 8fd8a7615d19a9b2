#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "core/file_output.h"

namespace tolvane {

// What a DVD or HD DVD LPCM stream holds, from the format bytes before its samples.
struct LpcmFormat {
    int bits = 16;  // 16, 20 or 24
    int sampleRate = 48000;
    int channels = 2;
    bool operator==(const LpcmFormat&) const = default;
};

// The format the three bytes before an LPCM packet's samples give (flags, sample format,
// dynamic range); none for a sample size or rate no stream has.
std::optional<LpcmFormat> lpcmFormat(const std::vector<uint8_t>& formatBytes);

// The RIFF WAVE header of `dataBytes` of samples in `format`: an extensible format (with the
// channels' speaker mask) for more than two channels or more than 16 bits, and the room a 64-bit
// size needs, taken (RF64) when the data outgrows 32 bits. Its size depends on the format only.
std::vector<uint8_t> wavHeader(const LpcmFormat& format, uint64_t dataBytes);

// Writes an LPCM stream's payload as a WAVE file: the disc's big-endian samples (20 and 24 bits
// kept in groups whose low bits follow their high words) become little-endian samples in the
// order players read them, 24 bits wide for 20 and 24-bit streams. The format comes from the
// stream's format bytes when its first samples arrive; the sizes are set in finish().
class WavWriter : public OutputSink {
public:
    // `formatBytes` are the stream's (its context's codec private data), filled before its
    // first samples reach the writer.
    WavWriter(FileOutput& file, const std::vector<uint8_t>& formatBytes)
        : file_(file), formatBytes_(formatBytes) {}

    void append(const uint8_t* data, size_t length) override;
    // Sets the header's sizes; a stream that brought no samples gets a header of its own.
    void finish();

    const std::optional<LpcmFormat>& format() const { return format_; }

private:
    void start();
    // Turns whole blocks of `data` into little-endian samples; returns the bytes taken.
    size_t convert(const uint8_t* data, size_t length);

    FileOutput& file_;
    const std::vector<uint8_t>& formatBytes_;
    std::optional<LpcmFormat> format_;
    // Disc bytes per group of samples, the samples in a group, and the disc bytes of the
    // smallest run of groups that holds whole sample frames: what is converted at once.
    size_t groupBytes_ = 0;
    size_t groupSamples_ = 0;
    size_t blockBytes_ = 0;
    // The start of a block that the last payload cut.
    std::array<uint8_t, 128> carry_{};
    size_t carried_ = 0;
    uint64_t dataBytes_ = 0;
    std::vector<uint8_t> scratch_;
};

}  // namespace tolvane
