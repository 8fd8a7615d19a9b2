#pragma once

#include <cstddef>
#include <cstdint>

namespace tolvane {

// The header analysers that the detection pass calls on the first payload chunk of a stream.
// Each reads the read block from `offset` on and only adds log lines (and, for video, sets the
// stream's frame rate); the pass uses no result. Until an analyser exists its call does nothing.
class HeaderAnalysers {
public:
    virtual ~HeaderAnalysers() = default;
    virtual void ac3(size_t /*offset*/, size_t /*length*/, int32_t /*audioNo*/) {}
    virtual void dts(size_t /*offset*/, size_t /*length*/, int32_t /*audioNo*/) {}
    virtual void mlp(size_t /*offset*/, size_t /*length*/) {}
    virtual void lpcm(size_t /*offset*/, size_t /*length*/) {}
    virtual void mpeg2(size_t /*offset*/, size_t /*length*/, uint32_t /*pts*/, uint32_t /*dts*/,
                       int32_t /*videoNo*/) {}
    virtual void h264(size_t /*offset*/, size_t /*length*/, uint32_t /*pts*/, uint32_t /*dts*/,
                      int32_t /*videoNo*/) {}
    virtual void vc1(size_t /*offset*/, size_t /*length*/, uint32_t /*dts*/, uint64_t /*pts*/,
                     int32_t /*videoNo*/) {}
};

}  // namespace tolvane
