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

    void ac3(size_t offset, size_t length, int32_t audioNo) override;
    void mlp(size_t offset, size_t length) override;
    void lpcm(size_t offset, size_t length) override;
    void dts(size_t offset, size_t length, int32_t audioNo) override;
    void mpeg2(size_t offset, size_t length, uint32_t pts, uint32_t dts, int32_t videoNo) override;
    void h264(size_t offset, size_t length, uint32_t pts, uint32_t dts, int32_t videoNo) override;
    void vc1(size_t offset, size_t length, uint32_t dts, uint64_t pts, int32_t videoNo) override;

private:
    AnalyserContext context() const;

    SharedState& state_;
    Reporter& log_;
};

}  // namespace tolvane
