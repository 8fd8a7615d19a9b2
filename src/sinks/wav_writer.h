#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/file_output.h"

namespace tolvane {

// DVD-Audio LPCM: its channels in two groups, each of its own sample size, the second
// group's samples first in each pair of sample frames.
struct DvdAudioGroups {
    std::array<int, 2> channels{};
    std::array<int, 2> bits{};  // 16 or 24; 0 for a group the stream does not use
    // Where each channel, the first group's then the second's, goes in a written frame.
    std::array<uint8_t, 6> place{};
    bool operator==(const DvdAudioGroups&) const = default;
};

// What an LPCM stream holds, from the header bytes before its samples.
struct LpcmFormat {
    int bits = 16;  // 16, 20 or 24
    int sampleRate = 48000;
    int channels = 2;
    // The speakers, as a WAVE channel mask; 0 for the usual ones of the channel count.
    uint32_t channelMask = 0;
    std::optional<DvdAudioGroups> dvdAudio;
    bool operator==(const LpcmFormat&) const = default;
};

// The format an LPCM packet's header gives: the three bytes before its samples on DVD-Video and
// HD DVD (flags, sample format, dynamic range), or the whole header after the sub-stream id on
// DVD-Audio (eleven bytes or more). None for a sample size, rate or channel assignment no
// stream has, or one the writer does not turn into samples (DVD-Audio's 20 bits, or groups at
// two rates).
std::optional<LpcmFormat> lpcmFormat(const std::vector<uint8_t>& formatBytes);
// Whether samples of the stream these header bytes begin can be put in players' order: false
// for a DVD-Audio header that lpcmFormat refuses.
bool lpcmOrderKnown(const std::vector<uint8_t>& formatBytes);

// The RIFF WAVE header of `dataBytes` of samples in `format`: an extensible format (with the
// channels' speaker mask) for more than two channels or more than 16 bits, and the room a 64-bit
// size needs, taken (RF64) when the data outgrows 32 bits. Its size depends on the format only.
std::vector<uint8_t> wavHeader(const LpcmFormat& format, uint64_t dataBytes);

// Turns an LPCM stream's bytes into little-endian samples in the order players read them: the
// disc's big-endian samples (20 and 24 bits kept in groups whose low bits follow their high
// words) become 16-bit or 24-bit words (20-bit samples in the top 20 bits). Whole sample frames
// at a time: a frame that a payload cuts is carried to the next.
class LpcmSamples {
public:
    explicit LpcmSamples(const LpcmFormat& format);

    // Converts what `data` completes into `out`.
    void append(const uint8_t* data, size_t length, OutputSink& out);
    // The sample bytes written so far.
    uint64_t bytesOut() const { return bytesOut_; }
    const LpcmFormat& format() const { return format_; }
    // Bytes of one sample frame as written.
    size_t frameBytes() const;

private:
    // Turns whole blocks of `data` into samples; returns the bytes taken.
    size_t convert(const uint8_t* data, size_t length, OutputSink& out);
    size_t convertDvdAudio(const uint8_t* data, size_t length, OutputSink& out);

    LpcmFormat format_;
    // Disc bytes per group of samples, the samples in a group, and the disc bytes of the
    // smallest run of groups that holds whole sample frames: what is converted at once.
    size_t groupBytes_ = 0;
    size_t groupSamples_ = 0;
    size_t blockBytes_ = 0;
    // The start of a block that the last payload cut.
    std::array<uint8_t, 128> carry_{};
    size_t carried_ = 0;
    uint64_t bytesOut_ = 0;
    std::vector<uint8_t> scratch_;
};

// Writes an LPCM stream's payload as a WAVE file of LpcmSamples. The format comes from the
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

    // Whether the samples went out as the disc has them: no WAVE file was made of them.
    bool passedThrough() const { return passThrough_; }
    std::optional<LpcmFormat> format() const {
        return samples_ ? std::optional(samples_->format()) : std::nullopt;
    }

private:
    void start();

    FileOutput& file_;
    const std::vector<uint8_t>& formatBytes_;
    std::optional<LpcmSamples> samples_;
    bool passThrough_ = false;  // the samples go out as the disc has them
};

}  // namespace tolvane
