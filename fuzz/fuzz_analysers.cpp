// Each header analyser on a payload that ends the block exactly, so that the sanitizers see any
// read past it; an HD DVD subpicture stream made PGS; an MPEG video stream's captions.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>

#include "analysers/ac3_analyser.h"
#include "analysers/dts_analyser.h"
#include "analysers/h264_analyser.h"
#include "analysers/lpcm_analyser.h"
#include "analysers/mlp_analyser.h"
#include "analysers/mpeg2_analyser.h"
#include "analysers/mpeg_audio_analyser.h"
#include "analysers/vc1_analyser.h"
#include "demux/job_records.h"
#include "format/pgs_display_set.h"
#include "format/video_captions.h"
#include "report/message_log.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tolvane;
    if (size < 2) {
        return 0;
    }
    const uint8_t which = data[0] % 10;
    // The payload starts `before` bytes into the block, as a sub-stream header puts it.
    const size_t before = std::min<size_t>(data[1] % 8, size - 2);
    const size_t length = size - 2;
    std::unique_ptr<uint8_t[]> block(new uint8_t[length]);
    std::copy_n(data + 2, length, block.get());
    JobControl control;
    auto state = std::make_unique<JobRecords>(control);
    MessageLog log;
    const AnalyserContext context{block.get(), length, log, kLabelTables, state->streams, {}};
    const size_t offset = before;
    const size_t payload = length - before;
    switch (which) {
        case 0:
            analyseAc3(context, HeaderPayload{offset, payload, 1});
            break;
        case 1:
            analyseDts(context, HeaderPayload{offset, payload});
            break;
        case 2:
            analyseH264(context, HeaderPayload{offset, payload, 1});
            break;
        case 3:
            analyseLpcm(context, HeaderPayload{offset, payload});
            break;
        case 4:
            analyseMlp(context, HeaderPayload{offset, payload});
            break;
        case 5:
            analyseMpeg2(context, HeaderPayload{offset, payload, 0, 0x1234});
            break;
        case 6:
            analyseMpegAudio(context, HeaderPayload{offset, payload, 1});
            break;
        case 7:
            analyseVc1(context, HeaderPayload{offset, payload, 1});
            break;
        case 9: {
            // An MPEG video stream's closed captions: its user data found across packets of
            // `before` + 1 KiB, every third one timed.
            VideoCaptions captions;
            const size_t step = 1024 + before;
            for (size_t at = 0, n = 0; at < length; at += step, ++n) {
                const std::span<const uint8_t> packet(block.get() + at,
                                                      std::min(step, length - at));
                captions.packet(packet,
                                n % 3 == 0 ? std::optional<int64_t>(3003 * n) : std::nullopt);
            }
            captions.finish();
            break;
        }
        default: {
            // An HD DVD subpicture stream made PGS: the payload in packets of `before` + 1 KiB,
            // the first timed, then a unit cut off and the stream ended.
            PgsConverter converter(before % 2 == 1);
            const size_t step = 1024 + before;
            for (size_t at = 0; at < length; at += step) {
                const std::span<const uint8_t> packet(block.get() + at,
                                                      std::min(step, length - at));
                converter.add(packet, at == 0 ? std::optional<int64_t>(90000) : std::nullopt);
            }
            converter.finish();
            break;
        }
    }
    return 0;
}
