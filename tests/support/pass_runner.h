#pragma once

#include <memory>

#include "demux/job_records.h"
#include "demux/pack_engine.h"
#include "report/message_log.h"
#include "test_doubles.h"

namespace tolvane::fixture {

// Everything one pass of the engine needs, over a program stream held in memory.
struct PassRunner {
    JobControl control;
    std::unique_ptr<JobRecords> state = std::make_unique<JobRecords>(control);
    FakeOs os;
    MessageLog log;
    RecordingHooks hooks;

    PassRunner() {
        hooks.setBuffer(state->job.buffer.data());
        log.setEventPump([this] { os.processEvents(); });
    }

    void run(const Bytes& stream, PassMode mode = PassMode::Detection) {
        state->job.source = SpanSource::single("x.EVO", std::make_unique<MemorySource>(stream));
        PackEngine(*state, os, log).demux(mode, hooks);
    }

    StreamRegistry& streams() { return state->streams; }
    JobState& job() { return state->job; }
};

}  // namespace tolvane::fixture
