// Every header cut off at the very end of a block that is a heap allocation of its own, so that
// the sanitizers see any read past it.
#include <gtest/gtest.h>

#include "analysers/ac3_analyser.h"
#include "analysers/bit_reader.h"
#include "analysers/dts_analyser.h"
#include "analysers/h264_analyser.h"
#include "analysers/lpcm_analyser.h"
#include "analysers/mlp_analyser.h"
#include "analysers/mpeg2_analyser.h"
#include "analysers/mpeg_audio_analyser.h"
#include "analysers/vc1_analyser.h"
#include "demux/job_records.h"
#include "program_stream_builder.h"
#include "report/message_log.h"

namespace tolvane {
namespace {

using fixture::Bytes;

struct ExactBlock {
    JobControl control;
    std::unique_ptr<JobRecords> state = std::make_unique<JobRecords>(control);
    MessageLog log;
    std::vector<uint8_t> bytes;

    explicit ExactBlock(Bytes content) : bytes(std::move(content)) {}
    AnalyserContext context() {
        return AnalyserContext{bytes.data(), bytes.size(), log, kLabelTables, state->streams, {}};
    }
};

// Calls `analyse` with every prefix of `header` ending exactly at the block's end.
template <typename Analyse>
void everyCut(const Bytes& header, Analyse analyse) {
    for (size_t cut = 1; cut <= header.size(); ++cut) {
        Bytes content(5, 0x00);
        content.insert(content.end(), header.begin(), header.begin() + static_cast<long>(cut));
        ExactBlock block(content);
        analyse(block.context(), 5, cut);
    }
}

TEST(AnalyserBounds, EveryHeaderCutAtTheBlockEndIsReadInsideTheBlock) {
    everyCut({0x0B, 0x77, 0x12, 0x34, 0x1E, 0x40, 0xE0, 0x0B, 0x77, 0x03, 0xFF, 0x3F, 0x80, 0x00},
             [](const AnalyserContext& c, size_t at, size_t length) {
                 analyseAc3(c, HeaderPayload{at, length, 0});
             });
    everyCut({0x00, 0x00, 0x01, 0xB5, 0x8F, 0xFF, 0xF3, 0x41, 0x80, 0x00, 0x00,
              0x01, 0xB3, 0x78, 0x04, 0x38, 0x34, 0xFF, 0xFF, 0xE0, 0x00, 0x00,
              0x01, 0xB5, 0x14, 0x8A, 0x00, 0x00, 0x01, 0x00, 0x00, 0x20},
             [](const AnalyserContext& c, size_t at, size_t length) {
                 analyseMpeg2(c, HeaderPayload{at, length, 0, 5});
             });
    everyCut({0xF8, 0x72, 0x6F, 0xBA, 0x00, 0x07, 0x80, 0x0F, 0x7F, 0x00,
              0xF8, 0x72, 0x6F, 0xBB, 0x00, 0x80, 0x00, 0x14, 0x7F, 0x00},
             [](const AnalyserContext& c, size_t at, size_t length) {
                 analyseMlp(c, HeaderPayload{at, length});
             });
    everyCut({0x00, 0xFF, 0xFD, 0x94, 0x00, 0xFF, 0xF3},
             [](const AnalyserContext& c, size_t at, size_t length) {
                 analyseMpegAudio(c, HeaderPayload{at, length, 0});
             });
}

TEST(AnalyserBounds, BitReaderAnalysersReadHeadersCutAtTheBlockEndInsideTheBlock) {
    // A VC-1 sequence header with display extension and frame rate.
    everyCut({0x00, 0x00, 0x01, 0x0F, 0xDA, 0xFF, 0xF1, 0xDF, 0x86, 0x1A,
              0x80, 0x3B, 0xF8, 0x43, 0x7F, 0x18, 0x94, 0x1A, 0xFF, 0xFF},
             [](const AnalyserContext& c, size_t at, size_t length) {
                 analyseVc1(c, HeaderPayload{at, length, 0});
             });
    // An H.264 SPS with VUI and timing.
    everyCut(
        {0x00, 0x00, 0x01, 0x67, 0x64, 0x00, 0x28, 0xAC, 0xD9, 0x40, 0x78, 0x02, 0x27, 0xE5, 0xC0,
         0x44, 0x00, 0x00, 0x03, 0x00, 0x04, 0x00, 0x00, 0x03, 0x00, 0xF0, 0x3C, 0x60, 0xC6, 0x58},
        [](const AnalyserContext& c, size_t at, size_t length) {
            analyseH264(c, HeaderPayload{at, length, 0});
        });
    // DTS core, channel and frequency extension sync words.
    everyCut({0x7F, 0xFE, 0x80, 0x01, 0xFC, 0x3C, 0x7D, 0xC2, 0x76, 0xC0, 0x02,
              0x1E, 0x60, 0x5A, 0x5A, 0x5A, 0x5A, 0x1D, 0x95, 0xF2, 0x62},
             [](const AnalyserContext& c, size_t at, size_t length) {
                 analyseDts(c, HeaderPayload{at, length});
             });
}

TEST(AnalyserBounds, LpcmReadsItsHeaderOnlyWhenItLiesInsideTheBlock) {
    for (size_t offset = 0; offset <= 8; ++offset) {
        ExactBlock block(Bytes(offset + 1, 0x11));
        analyseLpcm(block.context(), HeaderPayload{offset, 1});
        EXPECT_EQ(block.log.lines().empty(), offset < 7) << offset;
    }
}

TEST(AnalyserBounds, TheBitReaderReadsZerosPastTheBlock) {
    ExactBlock block(Bytes{0xAB});
    BitReader reader(block.bytes.data(), block.bytes.size());
    reader.start(0);
    EXPECT_EQ(reader.read(8), 0xABu);
    EXPECT_EQ(reader.read(32), 0u);
    EXPECT_EQ(reader.readUe(), 0xFFFFFFFFu);
    reader.skip(255);
    EXPECT_EQ(reader.readSe(), -2147483648);
}

}  // namespace
}  // namespace tolvane
