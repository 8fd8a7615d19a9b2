#include "demux/stream_table.h"

#include <algorithm>

namespace tolvane {

StreamContext* contextOf(StreamTable& streams, StreamKind kind, int32_t number) {
    switch (kind) {
        case StreamKind::Video:
            return entryAt(streams.video, number);
        case StreamKind::Audio:
            return entryAt(streams.audio, number);
        case StreamKind::Subpicture:
            break;
    }
    return entryAt(streams.sub, number);
}

const StreamContext* contextOf(const StreamTable& streams, StreamKind kind, int32_t number) {
    return contextOf(const_cast<StreamTable&>(streams), kind, number);
}

int32_t* keyEntry(StreamTable& streams, StreamKind kind, int32_t number) {
    StreamContext* context = contextOf(streams, kind, number);
    return context != nullptr ? &context->key : nullptr;
}

const int32_t* keyEntry(const StreamTable& streams, StreamKind kind, int32_t number) {
    return keyEntry(const_cast<StreamTable&>(streams), kind, number);
}

namespace {

template <size_t N>
int32_t numberIn(std::array<StreamContext, N>& contexts, int32_t key, int32_t natural,
                 bool assign) {
    for (size_t n = 0; n < N; ++n) {
        if (contexts[n].key == key) {
            return static_cast<int32_t>(n);
        }
    }
    const bool naturalInside = natural >= 0 && natural < static_cast<int32_t>(N);
    if (naturalInside && contexts[static_cast<size_t>(natural)].key == kStreamAnnounced) {
        contexts[static_cast<size_t>(natural)].key = key;
        return natural;
    }
    if (!assign) {
        return -1;
    }
    const size_t start = naturalInside ? static_cast<size_t>(natural) : 0;
    for (size_t k = 0; k < N; ++k) {
        const size_t n = (start + k) % N;
        if (contexts[n].key == kStreamAbsent) {
            contexts[n].key = key;
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
            const int32_t n = numberIn(streams.video, key, natural, assign);
            if (n >= 0 && !streams.video[static_cast<size_t>(n)].codingSeen) {
                streams.video[static_cast<size_t>(n)].coding = nominalCoding(kind, key, aobSource);
            }
            return n;
        }
        case StreamKind::Audio: {
            const int32_t n = numberIn(streams.audio, key, natural, assign);
            if (n >= 0 && !streams.audio[static_cast<size_t>(n)].codingSeen) {
                streams.audio[static_cast<size_t>(n)].coding = nominalCoding(kind, key, aobSource);
            }
            return n;
        }
        case StreamKind::Subpicture:
            break;
    }
    return numberIn(streams.sub, key, natural, assign);
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
    forEachContext(streams, [](StreamKind, int32_t, StreamContext& context) {
        context.key = kStreamAbsent;
        context.codingSeen = false;
    });
}

}  // namespace tolvane
