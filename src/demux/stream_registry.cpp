#include "demux/stream_registry.h"

#include <algorithm>

namespace tolvane {

StreamRegistry::StreamRegistry(StreamNumbering numbering) : numbering_(numbering) {
    int32_t total = 0;
    for (int32_t& count : numbering_.numbers) {
        count = std::clamp<int32_t>(count, 0, static_cast<int32_t>(kMaxStreams) - total);
        total += count;
    }
}

StreamContext* StreamRegistry::find(StreamKind kind, int32_t key) {
    for (StreamContext* context : order_) {
        if (context->kind == kind && context->key == key) {
            return context;
        }
    }
    return nullptr;
}

StreamContext* StreamRegistry::numbered(StreamKind kind, int32_t number) {
    for (StreamContext* context : order_) {
        if (context->kind == kind && context->number == number) {
            return context;
        }
    }
    return nullptr;
}

const StreamContext* StreamRegistry::numbered(StreamKind kind, int32_t number) const {
    return const_cast<StreamRegistry*>(this)->numbered(kind, number);
}

StreamContext& StreamRegistry::add(StreamKind kind, int32_t number, int32_t key) {
    StreamContext& context = contexts_.emplace_back();
    context.kind = kind;
    context.number = number;
    context.slot = contexts_.size() - 1;
    context.key = key;
    const auto before = [](const StreamContext* a, const StreamContext* b) {
        return a->kind != b->kind ? a->kind < b->kind : a->number < b->number;
    };
    order_.insert(std::upper_bound(order_.begin(), order_.end(), &context, before), &context);
    return context;
}

StreamContext* StreamRegistry::take(StreamKind kind, int32_t key, bool assign, bool aobSource) {
    StreamContext* context = find(kind, key);
    const int32_t natural = naturalNumber(kind, key);
    if (context == nullptr && numbering_.holds(kind, natural)) {
        if (StreamContext* announced = numbered(kind, natural);
            announced != nullptr && announced->key == kStreamAnnounced) {
            announced->key = key;
            context = announced;
        }
    }
    if (context == nullptr && assign) {
        const int32_t count = numbering_.count(kind);
        const int32_t start = numbering_.holds(kind, natural) ? natural : 0;
        for (int32_t k = 0; k < count && context == nullptr; ++k) {
            const int32_t number = (start + k) % count;
            StreamContext* at = numbered(kind, number);
            if (at == nullptr) {
                context = &add(kind, number, key);
            } else if (at->key == kStreamAbsent) {
                at->key = key;
                context = at;
            }
        }
    }
    if (context != nullptr && !context->codingSeen) {
        context->coding = nominalCoding(kind, key, aobSource);
    }
    return context;
}

StreamContext* StreamRegistry::pin(StreamKind kind, int32_t number, int32_t key) {
    if (!numbering_.holds(kind, number)) {
        return nullptr;
    }
    StreamContext* context = numbered(kind, number);
    if (context == nullptr) {
        return &add(kind, number, key);
    }
    context->key = key;
    return context;
}

void StreamRegistry::clear() {
    order_.clear();
    contexts_.clear();
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

}  // namespace tolvane
