#include "analysers/stream_analysers.h"

#include "analysers/ac3_analyser.h"
#include "analysers/dts_analyser.h"
#include "analysers/h264_analyser.h"
#include "analysers/lpcm_analyser.h"
#include "analysers/mlp_analyser.h"
#include "analysers/mpeg2_analyser.h"
#include "analysers/vc1_analyser.h"

namespace tolvane {

AnalyserContext StreamAnalysers::context() const {
    return AnalyserContext{state_.job.buffer.data(), state_.job.bufferLength,  log_, state_.labels,
                           state_.streams,           state_.job.formatSettings};
}

void StreamAnalysers::ac3(size_t offset, size_t length, int32_t audioNo) {
    AnalyseAC3(context(), offset, length, audioNo);
}

void StreamAnalysers::mlp(size_t offset, size_t length) {
    AnalyseMLP(context(), offset, length);
}

void StreamAnalysers::lpcm(size_t offset, size_t length) {
    AnalyseLPCM(context(), offset, length);
}

void StreamAnalysers::mpeg2(size_t offset, size_t length, uint32_t pts, uint32_t /*dts*/,
                            int32_t videoNo) {
    AnalyseMPEG2(context(), offset, length, pts, videoNo);
}

}  // namespace tolvane

namespace tolvane {

void StreamAnalysers::dts(size_t offset, size_t length, int32_t /*audioNo*/) {
    AnalyseDTS(context(), offset, length);
}

void StreamAnalysers::h264(size_t offset, size_t length, uint32_t /*pts*/, uint32_t /*dts*/,
                           int32_t videoNo) {
    AnalyseH264(context(), offset, length, videoNo);
}

void StreamAnalysers::vc1(size_t offset, size_t length, uint32_t /*dts*/, uint64_t /*pts*/,
                          int32_t videoNo) {
    AnalyseVC1(context(), offset, length, videoNo);
}

}  // namespace tolvane
