#include "sinks/wav_writer.h"

#include <algorithm>
#include <limits>
#include <numeric>

namespace tolvane {

namespace {

// The speaker masks players take for each channel count (front left and right first, then
// centre, low frequency and the surrounds), as FFmpeg's defaults are.
constexpr std::array<uint32_t, 9> kChannelMasks = {0,    0x4,  0x3,   0x7,  0x107,
                                                   0x37, 0x3F, 0x13F, 0x63F};
constexpr uint32_t kExtensibleFormat = 0xFFFE;
constexpr uint32_t kPcmFormat = 1;
constexpr size_t kJunkSize = 28;  // a ds64 chunk's payload
constexpr size_t kScratchSize = 1 << 16;

void putLe(std::vector<uint8_t>& out, uint64_t value, int bytes) {
    for (int k = 0; k < bytes; ++k) {
        out.push_back(static_cast<uint8_t>(value >> (8 * k)));
    }
}

void putTag(std::vector<uint8_t>& out, const char* tag) {
    out.insert(out.end(), tag, tag + 4);
}

int containerBytes(const LpcmFormat& format) {
    return format.bits == 16 ? 2 : 3;
}

bool extensible(const LpcmFormat& format) {
    return format.channels > 2 || format.bits > 16;
}

}  // namespace

std::optional<LpcmFormat> lpcmFormat(const std::vector<uint8_t>& formatBytes) {
    if (formatBytes.size() < 3) {
        return std::nullopt;
    }
    const uint8_t code = formatBytes[1];
    constexpr std::array<int, 4> kBits = {16, 20, 24, 0};
    constexpr std::array<int, 4> kRates = {48000, 96000, 192000, 0};
    LpcmFormat format{kBits[code >> 6], kRates[(code >> 4) & 3], (code & 7) + 1};
    if (format.bits == 0 || format.sampleRate == 0) {
        return std::nullopt;
    }
    return format;
}

std::vector<uint8_t> wavHeader(const LpcmFormat& format, uint64_t dataBytes) {
    const bool wide = extensible(format);
    const uint32_t fmtSize = wide ? 40 : 16;
    const uint64_t riffSize = 4 + (8 + kJunkSize) + (8 + fmtSize) + 8 + dataBytes;
    const bool rf64 = riffSize > std::numeric_limits<uint32_t>::max();
    const auto frameBytes = static_cast<uint32_t>(containerBytes(format) * format.channels);
    std::vector<uint8_t> out;
    putTag(out, rf64 ? "RF64" : "RIFF");
    putLe(out, rf64 ? 0xFFFFFFFFu : riffSize, 4);
    putTag(out, "WAVE");
    // Room for the 64-bit sizes: a chunk players pass over until the data needs it.
    putTag(out, rf64 ? "ds64" : "JUNK");
    putLe(out, kJunkSize, 4);
    putLe(out, rf64 ? riffSize : 0, 8);
    putLe(out, rf64 ? dataBytes : 0, 8);
    putLe(out, rf64 ? dataBytes / frameBytes : 0, 8);
    putLe(out, 0, 4);  // no table of other chunks' sizes
    putTag(out, "fmt ");
    putLe(out, fmtSize, 4);
    putLe(out, wide ? kExtensibleFormat : kPcmFormat, 2);
    putLe(out, static_cast<uint64_t>(format.channels), 2);
    putLe(out, static_cast<uint64_t>(format.sampleRate), 4);
    putLe(out, static_cast<uint64_t>(format.sampleRate) * frameBytes, 4);
    putLe(out, frameBytes, 2);
    putLe(out, static_cast<uint64_t>(8 * containerBytes(format)), 2);
    if (wide) {
        putLe(out, 22, 2);
        putLe(out, static_cast<uint64_t>(format.bits), 2);  // the bits that hold the sample
        putLe(out, kChannelMasks[static_cast<size_t>(std::clamp(format.channels, 0, 8))], 4);
        // The PCM sub-format's GUID.
        constexpr uint8_t kPcmGuid[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                          0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
        out.insert(out.end(), kPcmGuid, kPcmGuid + sizeof kPcmGuid);
    }
    putTag(out, "data");
    putLe(out, rf64 ? 0xFFFFFFFFu : dataBytes, 4);
    return out;
}

LpcmSamples::LpcmSamples(const LpcmFormat& format) : format_(format) {
    const auto channels = static_cast<size_t>(std::clamp(format_.channels, 1, 8));
    if (format_.bits == 16) {
        groupSamples_ = 1;
        groupBytes_ = 2;
        blockBytes_ = 2 * channels;
    } else {
        // 20 and 24-bit samples come in groups (two for one channel, four otherwise): the
        // high 16 bits of each, then their low bits, a byte each (24) or four bits each (20).
        groupSamples_ = channels == 1 ? 2 : 4;
        groupBytes_ = groupSamples_ * (format_.bits == 24 ? 3 : 2) +
                      (format_.bits == 20 ? groupSamples_ / 2 : 0);
        const size_t blockSamples = std::lcm<size_t>(4, channels);
        blockBytes_ = blockSamples / groupSamples_ * groupBytes_;
    }
    scratch_.resize(kScratchSize);
}

size_t LpcmSamples::frameBytes() const {
    return static_cast<size_t>(containerBytes(format_) * format_.channels);
}

size_t LpcmSamples::convert(const uint8_t* data, size_t length, OutputSink& out) {
    const size_t blocks = std::min(length / blockBytes_, kScratchSize / (3 * blockBytes_));
    const size_t groups = blocks * (blockBytes_ / groupBytes_);
    uint8_t* at = scratch_.data();
    for (size_t g = 0; g < groups; ++g) {
        const uint8_t* group = data + g * groupBytes_;
        if (format_.bits == 16) {
            *at++ = group[1];
            *at++ = group[0];
            continue;
        }
        const uint8_t* low = group + 2 * groupSamples_;
        for (size_t k = 0; k < groupSamples_; ++k) {
            uint8_t lowBits = 0;
            if (format_.bits == 24) {
                lowBits = low[k];
            } else {
                // Two samples' low four bits share a byte, the first sample's on top.
                const uint8_t pair = low[k / 2];
                lowBits = static_cast<uint8_t>(k % 2 == 0 ? pair & 0xF0 : (pair & 0x0F) << 4);
            }
            *at++ = lowBits;
            *at++ = group[2 * k + 1];
            *at++ = group[2 * k];
        }
    }
    const auto written = static_cast<size_t>(at - scratch_.data());
    out.append(scratch_.data(), written);
    bytesOut_ += written;
    return groups * groupBytes_;
}

void LpcmSamples::append(const uint8_t* data, size_t length, OutputSink& out) {
    if (carried_ > 0) {
        const size_t take = std::min(blockBytes_ - carried_, length);
        std::copy_n(data, take, carry_.begin() + static_cast<std::ptrdiff_t>(carried_));
        carried_ += take;
        data += take;
        length -= take;
        if (carried_ < blockBytes_) {
            return;
        }
        convert(carry_.data(), carried_, out);
        carried_ = 0;
    }
    while (length >= blockBytes_) {
        const size_t taken = convert(data, length, out);
        data += taken;
        length -= taken;
    }
    std::copy_n(data, length, carry_.begin());
    carried_ = length;
}

void WavWriter::start() {
    // A stream whose format bytes were never whole: the DVD's usual format.
    samples_.emplace(lpcmFormat(formatBytes_).value_or(LpcmFormat{}));
    const std::vector<uint8_t> header = wavHeader(samples_->format(), 0);
    file_.append(header.data(), header.size());
}

void WavWriter::append(const uint8_t* data, size_t length) {
    if (!samples_) {
        start();
    }
    samples_->append(data, length, file_);
}

void WavWriter::finish() {
    if (!samples_) {
        start();
    }
    const std::vector<uint8_t> header = wavHeader(samples_->format(), samples_->bytesOut());
    file_.overwrite(0, header.data(), header.size());
}

}  // namespace tolvane
