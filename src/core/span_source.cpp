#include "core/span_source.h"

#include <algorithm>

#include "core/platform_error.h"

namespace tolvane {

SpanSource::SpanSource(std::vector<SourceSpan> spans) : spans_(std::move(spans)) {
    starts_.reserve(spans_.size() + 1);
    for (SourceSpan& span : spans_) {
        const int64_t available = std::max<int64_t>(0, span.input->size() - span.offset);
        span.offset = std::clamp<int64_t>(span.offset, 0, span.input->size());
        span.length = span.length < 0 ? available : std::min(span.length, available);
        starts_.push_back(size_);
        size_ += span.length;
    }
    starts_.push_back(size_);
    seek(0);
}

std::unique_ptr<SpanSource> SpanSource::single(std::string path,
                                               std::unique_ptr<InputSource> input) {
    std::vector<SourceSpan> spans;
    spans.push_back(SourceSpan{std::move(path), std::move(input)});
    return std::make_unique<SpanSource>(std::move(spans));
}

size_t SpanSource::spanAt(int64_t position) const {
    // The last span that begins at or before the position and is not empty there.
    const auto after = std::upper_bound(starts_.begin(), starts_.end() - 1, position);
    size_t index = static_cast<size_t>(after - starts_.begin());
    index = index == 0 ? 0 : index - 1;
    while (index < spans_.size() && position >= starts_[index + 1]) {
        ++index;
    }
    return index;
}

void SpanSource::seek(int64_t position) {
    position_ = std::clamp<int64_t>(position, 0, size_);
    const size_t index = spanAt(position_);
    if (current_ < spans_.size() && current_ != index) {
        spans_[current_].input->park();
    }
    current_ = index;
    if (index < spans_.size()) {
        spans_[index].input->seek(spans_[index].offset + position_ - starts_[index]);
    }
}

size_t SpanSource::read(uint8_t* data, size_t length) {
    const size_t index = spanAt(position_);
    if (index >= spans_.size() || length == 0) {
        return 0;
    }
    const int64_t left = starts_[index + 1] - position_;
    const size_t wanted =
        static_cast<size_t>(std::min<int64_t>(left, static_cast<int64_t>(length)));
    InputSource& input = *spans_[index].input;
    const size_t got = input.read(data, wanted);
    if (got == 0) {
        // The file ended before the span: it is no longer what was opened.
        throw PlatformError("File \"" + spans_[index].path +
                            "\" changed while it was read: it ended early.");
    }
    position_ += static_cast<int64_t>(got);
    if (position_ == starts_[index + 1] && index + 1 < spans_.size()) {
        seek(position_);  // the next span reads from its own offset
    }
    return got;
}

void SpanSource::checkUnchanged() const {
    for (const SourceSpan& span : spans_) {
        span.input->checkUnchanged();
    }
}

FileRange SpanSource::fileRange(size_t index, int64_t offsetInSpan) const {
    const SourceSpan& span = spans_[index];
    return FileRange{span.input->descriptor(), span.offset + offsetInSpan};
}

}  // namespace tolvane
