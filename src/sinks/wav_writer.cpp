#include "sinks/wav_writer.h"

#include <algorithm>
#include <bit>
#include <limits>
#include <numeric>

#include "format/program_stream_layout.h"

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
using layout::kDvdAudioLpcmHeader;

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

namespace {

// Speakers as a WAVE channel mask names them.
constexpr uint8_t kLeft = 0x1;
constexpr uint8_t kRight = 0x2;
constexpr uint8_t kCentre = 0x4;
constexpr uint8_t kLfe = 0x8;
constexpr uint8_t kBackLeft = 0x10;
constexpr uint8_t kBackRight = 0x20;
constexpr uint16_t kBackCentre = 0x100;

// The speakers of each DVD-Audio channel assignment (0 to 20), by group, in the stream's order.
struct Assignment {
    std::array<uint16_t, 4> first;
    std::array<uint16_t, 4> second;
};
constexpr std::array<Assignment, 21> kAssignments = {{
    {{kCentre}, {}},
    {{kLeft, kRight}, {}},
    {{kLeft, kRight}, {kBackCentre}},
    {{kLeft, kRight}, {kBackLeft, kBackRight}},
    {{kLeft, kRight}, {kLfe}},
    {{kLeft, kRight}, {kLfe, kBackCentre}},
    {{kLeft, kRight}, {kLfe, kBackLeft, kBackRight}},
    {{kLeft, kRight}, {kCentre}},
    {{kLeft, kRight}, {kCentre, kBackCentre}},
    {{kLeft, kRight}, {kCentre, kBackLeft, kBackRight}},
    {{kLeft, kRight}, {kCentre, kLfe}},
    {{kLeft, kRight}, {kCentre, kLfe, kBackCentre}},
    {{kLeft, kRight}, {kCentre, kLfe, kBackLeft, kBackRight}},
    {{kLeft, kRight, kCentre}, {kBackCentre}},
    {{kLeft, kRight, kCentre}, {kBackLeft, kBackRight}},
    {{kLeft, kRight, kCentre}, {kLfe}},
    {{kLeft, kRight, kCentre}, {kLfe, kBackCentre}},
    {{kLeft, kRight, kCentre}, {kLfe, kBackLeft, kBackRight}},
    {{kLeft, kRight, kBackLeft, kBackRight}, {kLfe}},
    {{kLeft, kRight, kBackLeft, kBackRight}, {kCentre}},
    {{kLeft, kRight, kBackLeft, kBackRight}, {kCentre, kLfe}},
}};

// A DVD-Audio LPCM header from the byte after its sub-stream id: continuity counter, header
// size, first access unit, then the groups' sample sizes and rates (a nibble each, 0xF for a
// group not used) and the channel assignment.
std::optional<LpcmFormat> dvdAudioFormat(const std::vector<uint8_t>& header) {
    const uint8_t sizes = header[6];
    const uint8_t rates = header[7];
    const uint8_t assignment = header[9];
    constexpr uint8_t kUnused = 0xF;
    const auto bitsOf = [](int code) { return code == 0 ? 16 : code == 2 ? 24 : 0; };
    const int second = sizes & 0x0F;
    const bool twoGroups = second != kUnused && (rates & 0x0F) != kUnused;
    const int rateCode = rates >> 4;
    if (assignment >= kAssignments.size() || bitsOf(sizes >> 4) == 0 ||
        (twoGroups && (bitsOf(second) == 0 || (rates & 0x0F) != rateCode)) || (rateCode & 7) > 2) {
        return std::nullopt;
    }
    DvdAudioGroups groups;
    groups.bits = {bitsOf(sizes >> 4), twoGroups ? bitsOf(second) : 0};
    std::vector<uint16_t> speakers;
    for (size_t g = 0; g < 2; ++g) {
        const std::array<uint16_t, 4>& list =
            g == 0 ? kAssignments[assignment].first : kAssignments[assignment].second;
        for (const uint16_t speaker : list) {
            if (speaker != 0 && groups.bits[g] != 0) {
                speakers.push_back(speaker);
                ++groups.channels[g];
            }
        }
    }
    LpcmFormat format;
    format.bits = std::max(groups.bits[0], groups.bits[1]);
    format.sampleRate = ((rateCode & 8) != 0 ? 44100 : 48000) << (rateCode & 7);
    format.channels = static_cast<int>(speakers.size());
    for (const uint16_t speaker : speakers) {
        format.channelMask |= speaker;
    }
    // A written frame holds its speakers in the mask's order.
    for (size_t k = 0; k < speakers.size(); ++k) {
        groups.place[k] = static_cast<uint8_t>(
            std::popcount(format.channelMask & static_cast<uint32_t>(speakers[k] - 1)));
    }
    format.dvdAudio = groups;
    return format;
}

}  // namespace

bool lpcmOrderKnown(const std::vector<uint8_t>& formatBytes) {
    return formatBytes.size() < kDvdAudioLpcmHeader || lpcmFormat(formatBytes).has_value();
}

std::optional<LpcmFormat> lpcmFormat(const std::vector<uint8_t>& formatBytes) {
    if (formatBytes.size() >= kDvdAudioLpcmHeader) {
        return dvdAudioFormat(formatBytes);
    }
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
        putLe(out,
              format.channelMask != 0
                  ? format.channelMask
                  : kChannelMasks[static_cast<size_t>(std::clamp(format.channels, 0, 8))],
              4);
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
    if (format_.dvdAudio) {
        // Two sample frames at a time, each group's high 16 bits of every sample, then (24
        // bits) their low bytes.
        const DvdAudioGroups& groups = *format_.dvdAudio;
        blockBytes_ = 0;
        for (size_t g = 0; g < 2; ++g) {
            blockBytes_ += static_cast<size_t>(2 * groups.channels[g] * groups.bits[g] / 8);
        }
        groupBytes_ = blockBytes_;
        groupSamples_ = 2 * channels;
    } else if (format_.bits == 16) {
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

size_t LpcmSamples::convertDvdAudio(const uint8_t* data, size_t length, OutputSink& out) {
    const DvdAudioGroups& groups = *format_.dvdAudio;
    const auto channels = static_cast<size_t>(format_.channels);
    const auto sampleBytes = static_cast<size_t>(containerBytes(format_));
    const size_t frameOut = channels * sampleBytes;
    const size_t blocks = std::min(length / blockBytes_, kScratchSize / (2 * frameOut));
    for (size_t b = 0; b < blocks; ++b) {
        const uint8_t* block = data + b * blockBytes_;
        uint8_t* frames = scratch_.data() + b * 2 * frameOut;
        // The second group's samples come first.
        for (const size_t g : {size_t{1}, size_t{0}}) {
            const auto count = static_cast<size_t>(groups.channels[g]);
            if (groups.bits[g] == 0) {
                continue;
            }
            const size_t firstChannel = g == 0 ? 0 : static_cast<size_t>(groups.channels[0]);
            for (size_t n = 0; n < 2 * count; ++n) {
                const size_t frame = n / count;
                uint8_t* sample = frames + frame * frameOut +
                                  groups.place[firstChannel + n % count] * sampleBytes;
                const uint8_t low = groups.bits[g] == 24 ? block[4 * count + n] : 0;
                if (sampleBytes == 3) {
                    *sample++ = low;
                }
                *sample++ = block[2 * n + 1];
                *sample = block[2 * n];
            }
            block += 2 * count * static_cast<size_t>(groups.bits[g] / 8);
        }
    }
    const size_t written = blocks * 2 * frameOut;
    out.append(scratch_.data(), written);
    bytesOut_ += written;
    return blocks * blockBytes_;
}

size_t LpcmSamples::convert(const uint8_t* data, size_t length, OutputSink& out) {
    if (format_.dvdAudio) {
        return convertDvdAudio(data, length, out);
    }
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
    const std::optional<LpcmFormat> format = lpcmFormat(formatBytes_);
    if (!format && formatBytes_.size() >= kDvdAudioLpcmHeader) {
        // DVD-Audio samples this writer cannot order (20 bits, groups at two rates) are kept
        // as the disc has them; the job names the file as raw LPCM.
        passThrough_ = true;
        return;
    }
    // A stream whose format bytes were never whole: the DVD's usual format.
    samples_.emplace(format.value_or(LpcmFormat{}));
    const std::vector<uint8_t> header = wavHeader(samples_->format(), 0);
    file_.append(header.data(), header.size());
}

void WavWriter::append(const uint8_t* data, size_t length) {
    if (!samples_ && !passThrough_) {
        start();
    }
    if (passThrough_) {
        file_.append(data, length);
        return;
    }
    samples_->append(data, length, file_);
}

void WavWriter::finish() {
    if (!samples_ && !passThrough_) {
        start();
    }
    if (passThrough_) {
        return;
    }
    const std::vector<uint8_t> header = wavHeader(samples_->format(), samples_->bytesOut());
    file_.overwrite(0, header.data(), header.size());
}

}  // namespace tolvane
