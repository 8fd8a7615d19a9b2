// Every header cut off at the very end of a block that is a heap allocation of its own, so that
// the sanitizers see any read past it.
#include <gtest/gtest.h>

#include "analysers/ac3_analyser.h"
#include "analysers/bit_reader.h"
#include "analysers/lpcm_analyser.h"
#include "analysers/mlp_analyser.h"
#include "analysers/mpeg2_analyser.h"
#include "core/shared_state.h"
#include "jobs/message_log.h"
#include "program_stream_builder.h"

namespace tolvane {
namespace {

using fixture::Bytes;

struct ExactBlock {
    std::unique_ptr<SharedState> state = std::make_unique<SharedState>();
    MessageLog log;
    std::vector<uint8_t> bytes;

    explicit ExactBlock(Bytes content) : bytes(std::move(content)) {
        fillLabelTables(state->labels);
    }
    AnalyserContext context() {
        return AnalyserContext{bytes.data(), bytes.size(), log, state->labels, state->streams, {}};
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
    everyCut(
        {0x0B, 0x77, 0x12, 0x34, 0x1E, 0x40, 0xE0, 0x0B, 0x77, 0x03, 0xFF, 0x3F, 0x80, 0x00},
        [](const AnalyserContext& c, size_t at, size_t length) { AnalyseAC3(c, at, length, 0); });
    everyCut({0x00, 0x00, 0x01, 0xB5, 0x8F, 0xFF, 0xF3, 0x41, 0x80, 0x00, 0x00,
              0x01, 0xB3, 0x78, 0x04, 0x38, 0x34, 0xFF, 0xFF, 0xE0, 0x00, 0x00,
              0x01, 0xB5, 0x14, 0x8A, 0x00, 0x00, 0x01, 0x00, 0x00, 0x20},
             [](const AnalyserContext& c, size_t at, size_t length) {
                 AnalyseMPEG2(c, at, length, 5, 0);
             });
    everyCut({0xF8, 0x72, 0x6F, 0xBA, 0x00, 0x07, 0x80, 0x0F, 0x7F, 0x00,
              0xF8, 0x72, 0x6F, 0xBB, 0x00, 0x80, 0x00, 0x14, 0x7F, 0x00},
             [](const AnalyserContext& c, size_t at, size_t length) { AnalyseMLP(c, at, length); });
}

TEST(AnalyserBounds, LpcmReadsItsHeaderOnlyWhenItLiesInsideTheBlock) {
    for (size_t offset = 0; offset <= 8; ++offset) {
        ExactBlock block(Bytes(offset + 1, 0x11));
        AnalyseLPCM(block.context(), offset, 1);
        EXPECT_EQ(block.log.lines().empty(), offset < 7) << offset;
    }
}

TEST(AnalyserBounds, TheBitReaderReadsZerosPastTheBlock) {
    ExactBlock block(Bytes{0xAB});
    BitReader reader(block.bytes.data(), block.bytes.size());
    reader.Start(0);
    EXPECT_EQ(reader.Read(8), 0xABu);
    EXPECT_EQ(reader.Read(32), 0u);
    EXPECT_EQ(reader.ReadUE(), 0xFFFFFFFFu);
    reader.Skip(255);
    EXPECT_EQ(reader.ReadSE(), -2147483648);
}

}  // namespace
}  // namespace tolvane
