#pragma once

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "core/input_source.h"
#include "core/source_kind.h"

namespace tolvane {

// One byte range of a readable thing: a whole file, a feature's part, or a run of blocks of a
// disc image.
struct SourceSpan {
    // What logs and errors call it.
    std::string path;
    std::unique_ptr<InputSource> input;
    // The range in `input`; a negative length runs to its end.
    int64_t offset = 0;
    int64_t length = -1;
};

// Where a byte of a span lies in the file behind it, for copies the system makes itself.
struct FileRange {
    int descriptor = -1;  // -1: no file the system can copy from
    int64_t offset = 0;
};

// A position of its own over a source that several spans share: the cells of a title set read
// through one open reader of its VOB files, however many runs the title has.
class SharedInput : public InputSource {
public:
    explicit SharedInput(std::shared_ptr<InputSource> base) : base_(std::move(base)) {}

    int64_t size() const override { return base_->size(); }
    int64_t position() const override { return position_; }
    void seek(int64_t position) override { position_ = std::clamp<int64_t>(position, 0, size()); }
    size_t read(uint8_t* data, size_t length) override {
        if (base_->position() != position_) {
            base_->seek(position_);
        }
        const size_t got = base_->read(data, length);
        position_ += static_cast<int64_t>(got);
        return got;
    }
    int descriptor() const override { return base_->descriptor(); }
    void checkUnchanged() const override { base_->checkUnchanged(); }
    void park() override { base_->park(); }

private:
    std::shared_ptr<InputSource> base_;
    int64_t position_ = 0;
};

// An ordered list of spans read as one source. Its passes learn where each span begins: a
// feature continued in a second file, the cells of a DVD title and the clips of an HD DVD
// title are all sources of several spans.
class SpanSource : public InputSource {
public:
    explicit SpanSource(std::vector<SourceSpan> spans);
    // A source of one whole file or reader.
    static std::unique_ptr<SpanSource> single(std::string path, std::unique_ptr<InputSource> input);

    int64_t size() const override { return size_; }
    int64_t position() const override { return position_; }
    void seek(int64_t position) override;
    // Reads from the span at the position only: a read never crosses into the next span.
    size_t read(uint8_t* data, size_t length) override;
    void checkUnchanged() const override;

    size_t spanCount() const { return spans_.size(); }
    const SourceSpan& span(size_t index) const { return spans_[index]; }
    // The position in the source at which span `index` begins; spanCount() gives the size.
    int64_t spanStart(size_t index) const { return starts_[index]; }
    int64_t spanLength(size_t index) const { return starts_[index + 1] - starts_[index]; }
    // The span that holds `position`; spanCount() at the end of the source.
    size_t spanAt(int64_t position) const;
    FileRange fileRange(size_t index, int64_t offsetInSpan) const;
    // What the source is, as whoever opened it knows: a plain program stream unless told.
    SourceKind kind() const { return kind_; }
    void setKind(SourceKind kind) { kind_ = kind; }
    // What whoever put the spans together found a reader should know (an angle's units that
    // could not be followed to the end of their cell), as sentences.
    const std::vector<std::string>& notes() const { return notes_; }
    void addNote(std::string note) { notes_.push_back(std::move(note)); }

private:
    std::vector<SourceSpan> spans_;
    std::vector<int64_t> starts_;  // one more than spans_: the last is the size
    int64_t size_ = 0;
    int64_t position_ = 0;
    size_t current_ = 0;  // the span last read, the only one whose file is held open
    SourceKind kind_ = SourceKind::ProgramStream;
    std::vector<std::string> notes_;
};

}  // namespace tolvane
