#pragma once

#include "analysers/analyser_context.h"
#include "core/header_analysers.h"
#include "core/reporter.h"
#include "core/shared_state.h"

namespace tolvane {

// The header analysers of every coding, over the shared read block and tables.
class StreamAnalysers : public HeaderAnalysers {
public:
    StreamAnalysers(SharedState& state, Reporter& log) : state_(state), log_(log) {}

    void analyse(HeaderCoding coding, const HeaderPayload& payload) override;

private:
    SharedState& state_;
    Reporter& log_;
};

}  // namespace tolvane
