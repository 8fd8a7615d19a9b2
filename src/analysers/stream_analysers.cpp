#include "analysers/stream_analysers.h"

#include "analysers/ac3_analyser.h"
#include "analysers/dts_analyser.h"
#include "analysers/h264_analyser.h"
#include "analysers/lpcm_analyser.h"
#include "analysers/mlp_analyser.h"
#include "analysers/mpeg2_analyser.h"
#include "analysers/mpeg_audio_analyser.h"
#include "analysers/vc1_analyser.h"

namespace tolvane {

void StreamAnalysers::analyse(HeaderCoding coding, const HeaderPayload& payload) {
    const AnalyserContext context{
        state_.job.buffer.data(), state_.job.bufferLength,  log_, kLabelTables,
        state_.streams,           state_.job.formatSettings};
    switch (coding) {
        case HeaderCoding::Ac3:
            analyseAc3(context, payload);
            break;
        case HeaderCoding::Dts:
            analyseDts(context, payload);
            break;
        case HeaderCoding::Mlp:
            analyseMlp(context, payload);
            break;
        case HeaderCoding::Lpcm:
            analyseLpcm(context, payload);
            break;
        case HeaderCoding::Mpeg2:
            analyseMpeg2(context, payload);
            break;
        case HeaderCoding::H264:
            analyseH264(context, payload);
            break;
        case HeaderCoding::Vc1:
            analyseVc1(context, payload);
            break;
        case HeaderCoding::MpegAudio:
            analyseMpegAudio(context, payload);
            break;
    }
}

}  // namespace tolvane
