#include "format/stream_header.h"

#include <numeric>

namespace tolvane {

std::optional<std::string> reducedRatio(uint64_t a, uint64_t b) {
    if (a == 0 || b == 0) {
        return std::nullopt;
    }
    const uint64_t common = std::gcd(a, b);
    return std::to_string(a / common) + ":" + std::to_string(b / common);
}

namespace {

std::optional<std::pair<uint64_t, uint64_t>> parts(const std::optional<std::string>& ratio) {
    if (!ratio) {
        return std::nullopt;
    }
    const size_t colon = ratio->find(':');
    if (colon == std::string::npos) {
        return std::nullopt;
    }
    try {
        return std::pair{std::stoull(ratio->substr(0, colon)),
                         std::stoull(ratio->substr(colon + 1))};
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

}  // namespace

std::optional<std::string> channelLayout(StreamCoding coding, const StreamHeader& header) {
    if (!header.channels) {
        return std::nullopt;
    }
    const uint32_t channels = *header.channels;
    const bool lfe = header.lfe.value_or(false);
    if (channels == 1) {
        return "mono";
    }
    if (channels == 2 && !lfe) {
        return "stereo";
    }
    if (coding == StreamCoding::Mp1 || coding == StreamCoding::Mp2 || coding == StreamCoding::Mp3) {
        return std::nullopt;
    }
    // LPCM names no speakers: it takes the usual layout of its channel count.
    const bool plain = coding == StreamCoding::Lpcm;
    if (channels == 3 && (lfe || plain)) {
        return "2.1";
    }
    if (channels == 5 && !lfe) {
        return plain ? "5.0" : "5.0(side)";
    }
    if (channels == 6 && (lfe || plain)) {
        return plain ? "5.1" : "5.1(side)";
    }
    if (channels == 8 && (lfe || plain)) {
        return "7.1";
    }
    return std::nullopt;
}

void completeAspects(StreamHeader& header) {
    if (!header.width || !header.height) {
        return;
    }
    const uint64_t width = *header.width;
    const uint64_t height = *header.height;
    if (const auto sample = parts(header.sampleAspect); sample && !header.displayAspect) {
        header.displayAspect = reducedRatio(width * sample->first, height * sample->second);
    } else if (const auto display = parts(header.displayAspect); display && !header.sampleAspect) {
        header.sampleAspect = reducedRatio(height * display->first, width * display->second);
    }
}

}  // namespace tolvane
