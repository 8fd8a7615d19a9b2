#pragma once

#include <memory>
#include <string>
#include <vector>

#include "analysers/analyser_context.h"
#include "demux/job_records.h"
#include "program_stream_builder.h"
#include "test_doubles.h"
#include "report/message_log.h"

namespace tolvane::fixture {

// A read block holding `payload` at `offset` (with `before` in front of it), the label tables
// and a log, for calling one analyser directly.
struct AnalyserFixture {
    JobControl control;
    std::unique_ptr<JobRecords> state = std::make_unique<JobRecords>(control);
    MessageLog log;

    AnalyserFixture() = default;

    // Puts `bytes` at `at`; the block then ends right after them unless `blockEnd` is larger.
    size_t place(const Bytes& bytes, size_t at, size_t blockEnd = 0) {
        std::copy(bytes.begin(), bytes.end(), state->job.buffer.begin() + static_cast<long>(at));
        state->job.bufferLength = std::max(at + bytes.size(), blockEnd);
        return at;
    }

    AnalyserContext context(LocaleSettings locale = {}) {
        return AnalyserContext{state->job.buffer.data(),
                               state->job.bufferLength,
                               log,
                               kLabelTables,
                               state->streams,
                               locale};
    }

    std::vector<std::string> lines() const {
        std::vector<std::string> out;
        for (const LogLine& line : log.lines()) {
            out.push_back(line.markup);
        }
        return out;
    }
};

}  // namespace tolvane::fixture
