#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/file_output.h"
#include "core/output_sink.h"
#include "core/span_source.h"
#include "demux/block_loop.h"
#include "demux/job_state.h"
#include "sinks/job_naming.h"
#include "sinks/pack_rebuilder.h"

namespace tolvane {

// What a rebuild does with the packs besides the chosen streams.
struct RebuildOptions {
    // Keep the advanced packs too.
    bool advancedPacks = false;
    // The times written into every DSI; none leaves them as they are.
    std::optional<PackRebuilder::Times> times;
};

// Kept packs that stay as they are, one after another in a file: the system copies them from
// the source file to the output itself, as cp does, and from the block only what it cannot.
class UnchangedPacks {
public:
    explicit UnchangedPacks(OutputSink& output) : output_(output) {}

    void add(const uint8_t* pack, FileRange from, size_t length);
    // Appends the packs gathered so far; done before anything else is appended and before the
    // block they lie in is read over.
    void flush();

private:
    OutputSink& output_;
    const uint8_t* first_ = nullptr;
    FileRange from_;
    size_t length_ = 0;
};

// The rebuild's pass: each block taken pack by pack, as if each pack had been read on its own.
class RebuildBlocks : public BlockConsumer {
public:
    RebuildBlocks(JobState& job, PackRebuilder& rebuilder, OutputSink& output,
                  const RebuildOptions& options, PathStyle style,
                  std::function<void(size_t)> announce)
        : job_(job),
          style_(style),
          rebuilder_(rebuilder),
          output_(output),
          options_(options),
          unchanged_(output),
          announce_(std::move(announce)) {}

    void spanStarted(size_t span) override;
    bool block(size_t span, int64_t offset, size_t length) override;
    void describeProgress(size_t span, JobProgress& progress) const override;

private:
    JobState& job_;
    PathStyle style_;
    PackRebuilder& rebuilder_;
    OutputSink& output_;
    const RebuildOptions& options_;
    UnchangedPacks unchanged_;
    std::function<void(size_t)> announce_;
};

// Writes what is appended over a file's bytes from its start, as a rebuild that goes over its
// first part again does; the bytes are gathered into writes of FileOutput::kBufferSize.
class OverwritingSink : public OutputSink {
public:
    explicit OverwritingSink(FileOutput& file) : file_(file), buffer_(FileOutput::kBufferSize) {}

    void append(const uint8_t* data, size_t length) override;
    // Writes what is gathered; the position it reached.
    uint64_t finish();

private:
    FileOutput& file_;
    std::vector<uint8_t> buffer_;
    size_t used_ = 0;
    uint64_t position_ = 0;
};

}  // namespace tolvane
