#include "core/stream_table.h"

#include <algorithm>

namespace tolvane {

int32_t* keyEntry(StreamTable& streams, StreamKind kind, int32_t number) {
    switch (kind) {
        case StreamKind::Video:
            return entryAt(streams.videoKeys, number);
        case StreamKind::Audio:
            return entryAt(streams.audioKeys, number);
        case StreamKind::Subpicture:
            break;
    }
    return entryAt(streams.subKeys, number);
}

const int32_t* keyEntry(const StreamTable& streams, StreamKind kind, int32_t number) {
    return keyEntry(const_cast<StreamTable&>(streams), kind, number);
}

namespace {

template <size_t N>
int32_t numberIn(std::array<int32_t, N>& keys, int32_t key, int32_t natural, bool assign) {
    for (size_t n = 0; n < N; ++n) {
        if (keys[n] == key) {
            return static_cast<int32_t>(n);
        }
    }
    const bool naturalInside = natural >= 0 && natural < static_cast<int32_t>(N);
    if (naturalInside && keys[static_cast<size_t>(natural)] == kStreamAnnounced) {
        keys[static_cast<size_t>(natural)] = key;
        return natural;
    }
    if (!assign) {
        return -1;
    }
    const size_t start = naturalInside ? static_cast<size_t>(natural) : 0;
    for (size_t k = 0; k < N; ++k) {
        const size_t n = (start + k) % N;
        if (keys[n] == kStreamAbsent) {
            keys[n] = key;
            return static_cast<int32_t>(n);
        }
    }
    return -1;
}

}  // namespace

int32_t numberFor(StreamTable& streams, StreamKind kind, int32_t key, bool assign, bool aobSource) {
    const int32_t natural = naturalNumber(kind, key);
    switch (kind) {
        case StreamKind::Video: {
            const int32_t n = numberIn(streams.videoKeys, key, natural, assign);
            if (n >= 0 && !streams.videoCodingSeen[static_cast<size_t>(n)]) {
                streams.videoCoding[static_cast<size_t>(n)] = nominalCoding(kind, key, aobSource);
            }
            return n;
        }
        case StreamKind::Audio: {
            const int32_t n = numberIn(streams.audioKeys, key, natural, assign);
            if (n >= 0 && !streams.audioCodingSeen[static_cast<size_t>(n)]) {
                streams.audioCoding[static_cast<size_t>(n)] = nominalCoding(kind, key, aobSource);
            }
            return n;
        }
        case StreamKind::Subpicture:
            break;
    }
    return numberIn(streams.subKeys, key, natural, assign);
}

double tailSeconds(const StreamTiming& timing, bool video, const StreamHeader& header,
                   double frameRate) {
    if (video) {
        const double rate = frameRate > 0 ? frameRate : header.frameRate.value_or(0);
        return rate > 0 ? 1 / rate : 0;
    }
    const auto after = static_cast<double>(std::max<int64_t>(timing.bytesFromLatest, 0));
    if (header.bitRate && *header.bitRate > 0) {
        return after * 8 / *header.bitRate;
    }
    const int64_t before = timing.bytes - timing.bytesFromLatest;
    const double elapsed =
        timing.first ? static_cast<double>(timing.latest - *timing.first) / 90000.0 : 0;
    return before > 0 && elapsed > 0 ? after * elapsed / static_cast<double>(before) : 0;
}

void clearNumbers(StreamTable& streams) {
    streams.videoKeys.fill(kStreamAbsent);
    streams.audioKeys.fill(kStreamAbsent);
    streams.subKeys.fill(kStreamAbsent);
    streams.videoCodingSeen.fill(false);
    streams.audioCodingSeen.fill(false);
}

}  // namespace tolvane
