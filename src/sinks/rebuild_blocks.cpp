#include "sinks/rebuild_blocks.h"

#include <algorithm>
#include <cstring>

namespace tolvane {

void UnchangedPacks::add(const uint8_t* pack, FileRange from, size_t length) {
    if (length_ == 0) {
        first_ = pack;
        from_ = from;
    }
    length_ += length;
}

void UnchangedPacks::flush() {
    if (length_ == 0) {
        return;
    }
    const size_t copied = output_.appendFromFile(from_.descriptor, from_.offset, length_);
    if (copied < length_) {
        output_.append(first_ + copied, length_ - copied);
    }
    length_ = 0;
}

void RebuildBlocks::spanStarted(size_t span) {
    if (span > 0 && announce_) {
        announce_(span);
    }
}

bool RebuildBlocks::block(size_t span, int64_t offset, size_t length) {
    for (size_t at = 0; at < length; at += PackRebuilder::kPackSize) {
        const size_t n = std::min(PackRebuilder::kPackSize, length - at);
        uint8_t* pack = job_.buffer.data() + at;
        const bool kept = rebuilder_.process(pack, n, options_.advancedPacks, options_.times);
        if (kept && !rebuilder_.lastPackChanged()) {
            const int64_t from = offset + static_cast<int64_t>(at);
            unchanged_.add(pack, job_.source->fileRange(span, from), n);
        } else {
            unchanged_.flush();
            if (kept) {
                output_.append(pack, n);
            }
        }
    }
    unchanged_.flush();
    return true;
}

void RebuildBlocks::describeProgress(size_t span, JobProgress& progress) const {
    progress.activity = JobActivity::Rebuilding;
    progress.subject = fileNamePart(job_.source->span(span).path, style_);
}

void OverwritingSink::append(const uint8_t* data, size_t length) {
    while (length > 0) {
        const size_t n = std::min(length, buffer_.size() - used_);
        std::memcpy(buffer_.data() + used_, data, n);
        used_ += n;
        data += n;
        length -= n;
        if (used_ == buffer_.size()) {
            finish();
        }
    }
}

uint64_t OverwritingSink::finish() {
    if (used_ > 0) {
        file_.overwrite(position_, buffer_.data(), used_);
        position_ += used_;
        used_ = 0;
    }
    return position_;
}

}  // namespace tolvane
