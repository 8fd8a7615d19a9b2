#pragma once

#include <memory>

#include "core/pack_engine.h"
#include "core/shared_state.h"
#include "jobs/message_log.h"
#include "test_doubles.h"

namespace tolvane::fixture {

// Everything one pass of the engine needs, over a program stream held in memory.
struct PassRunner {
    std::unique_ptr<SharedState> state = std::make_unique<SharedState>();
    FakeOs os;
    MessageLog log;
    RecordingHooks hooks;

    PassRunner() {
        hooks.setBuffer(state->job.buffer.data());
        state->job.timeFormat = "h:mm:ss";
    }

    void run(const Bytes& stream, PassMode mode = PassMode::Detection) {
        state->job.source = SpanSource::single("x.EVO", std::make_unique<MemorySource>(stream));
        PackEngine(*state, os, log).demux(mode, hooks);
    }

    StreamTable& streams() { return state->streams; }
    JobState& job() { return state->job; }
};

}  // namespace tolvane::fixture
