#pragma once

#include "analysers/analyser_context.h"
#include "core/reporter.h"
#include "demux/job_records.h"
#include "format/header_analysers.h"

namespace tolvane {

// The header analysers of every coding, over the shared read block and tables.
class StreamAnalysers : public HeaderAnalysers {
public:
    StreamAnalysers(JobRecords& state, Reporter& log) : state_(state), log_(log) {}

    void analyse(StreamCoding coding, const HeaderPayload& payload) override;

private:
    JobRecords& state_;
    Reporter& log_;
};

}  // namespace tolvane
