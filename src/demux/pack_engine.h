#pragma once

#include <functional>
#include <optional>

#include "core/os_services.h"
#include "core/platform_error.h"
#include "core/reporter.h"
#include "demux/block_loop.h"
#include "demux/job_records.h"
#include "demux/pack_scanner.h"
#include "demux/pass_hooks.h"

namespace tolvane {

// One pass over the open source: its blocks go to the byte scanner, which hands what it finds
// to the pass's hooks; the fast check ends each span of a detection pass at its limit.
class PackEngine : BlockConsumer {
public:
    // What a job is told of the spans: `starting` of each one after the first, before it is
    // read (a job logs its continuation there), and `ended` of each, with whether it held a
    // pack header.
    struct SpanEvents {
        std::function<void(size_t span)> starting;
        std::function<void(size_t span, bool packFound)> ended;
    };

    PackEngine(JobRecords& state, OsServices& os, Reporter& reporter)
        : state_(state), os_(os), reporter_(reporter) {}

    // One pass over the source from its position to its end, or until cancelled. Platform
    // errors and those of the hooks and events propagate. A detection pass gives each new
    // stream a number; a demux pass keeps to the numbers it has. With a `follower`, each block
    // goes on to it once the scanner is done with it, to the end of every span: the fast check
    // then ends the scanning only.
    void demux(PassMode mode, PassHooks& hooks, const SpanEvents& events = {},
               BlockConsumer* follower = nullptr);

private:
    void spanStarted(size_t span) override;
    bool block(size_t span, int64_t offset, size_t length) override;
    void spanEnded(size_t span) override;
    // The scanner's part of a block; false once the fast check ends the span's scanning.
    bool scan(size_t span, int64_t offset, size_t length);

    JobRecords& state_;
    OsServices& os_;
    Reporter& reporter_;
    bool detection_ = true;
    PassHooks* hooks_ = nullptr;
    const SpanEvents* events_ = nullptr;
    BlockConsumer* follower_ = nullptr;
    // The scanner still takes the span's blocks: the fast check has not ended it.
    bool scanning_ = true;
    std::optional<PackScanner> scanner_;
};

}  // namespace tolvane
