// Built with AVX2 allowed; called only where the processor has it.
#include "format/frame_code_search.h"

namespace tolvane {

int64_t frameCodesWithinAvx2(const uint8_t* chunk, size_t length, uint8_t codeByte) {
    typedef uint8_t Lanes __attribute__((vector_size(32)));
    return FrameCodeSearch<Lanes>::codesWithin(chunk, length, codeByte);
}

}  // namespace tolvane
