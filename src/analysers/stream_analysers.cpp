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

void StreamAnalysers::analyse(StreamCoding coding, const HeaderPayload& payload) {
    const AnalyserContext context{
        state_.job.buffer.data(), state_.job.bufferLength,  log_, kLabelTables,
        state_.streams,           state_.job.formatSettings};
    switch (coding) {
        case StreamCoding::Ac3:
        case StreamCoding::Eac3:
            analyseAc3(context, payload);
            break;
        case StreamCoding::Dts:
            analyseDts(context, payload);
            break;
        case StreamCoding::TrueHd:
        case StreamCoding::Mlp:
            analyseMlp(context, payload);
            break;
        case StreamCoding::Lpcm:
            analyseLpcm(context, payload);
            break;
        case StreamCoding::Mpeg2:
        case StreamCoding::Mpeg1:  // its headers are a subset of MPEG-2's
            analyseMpeg2(context, payload);
            break;
        case StreamCoding::H264:
            analyseH264(context, payload);
            break;
        case StreamCoding::Vc1:
            analyseVc1(context, payload);
            break;
        case StreamCoding::Mp1:
        case StreamCoding::Mp2:
        case StreamCoding::Mp3:
            analyseMpegAudio(context, payload);
            break;
        case StreamCoding::Subpicture:
        case StreamCoding::Sdds:
            break;
    }
}

}  // namespace tolvane
