#include <gtest/gtest.h>

#include <memory>

#include "analysers/label_tables.h"
#include "core/shared_state.h"

namespace tolvane {
namespace {

TEST(LabelTables, HoldTheTextsExactlyAsTheyArePrinted) {
    const LabelTables& tables = kLabelTables;
    EXPECT_EQ(tables.sarText[15], "[bl]3:2[/bl]\"");
    EXPECT_EQ(tables.sarText[10], "[bl]18:11[/bl] (48$576 4:3)");
    EXPECT_EQ(tables.sarText[11], "[bl]15:11[/bl] (48$480 4:3)");
    EXPECT_EQ(tables.chAssignText[20], "L + R + C + LFE + Ls + Rs");
    EXPECT_EQ(tables.chAssignText[21], "");
    EXPECT_EQ(tables.rateText[3], "");
    EXPECT_EQ(tables.rateText[8], "44.1");
    EXPECT_EQ(tables.rateText[10], "176.4");
    EXPECT_EQ(tables.wordLengthText[2], "24");
    EXPECT_EQ(tables.ac3BitRate[18], 640000);
    EXPECT_EQ(tables.ac3SampleRate[3], 0);
    EXPECT_EQ(tables.cgmsText[3], "Encryption Plus Non-Assertion");
    EXPECT_EQ(tables.cgmsText[6], "");
    EXPECT_EQ(tables.apsText[7], "APS2 is ON");
    EXPECT_EQ(tables.apsText[4], "");
}

TEST(ResetRules, EachJobAndPassResetsOnlyItsOwnFields) {
    auto state = std::make_unique<SharedState>();
    state->streams.frameCount = {4, 5, 6};
    state->job.firstPtm = 99;
    state->job.totalSeconds = 12.5;
    state->job.lastPtm = 3;

    resetForReadJob(*state);
    EXPECT_EQ(state->streams.frameCount[0], 0);
    EXPECT_EQ(state->streams.frameCount[1], 0);
    EXPECT_EQ(state->streams.frameCount[2], 6);
    EXPECT_EQ(state->job.minPts, 0xFFFFFFFFu);
    EXPECT_EQ(state->job.firstPtm, 0u);
    EXPECT_EQ(state->job.totalSeconds, 0.0);
    EXPECT_EQ(state->job.lastPtm, 3u);

    state->job.minPts = 500;
    state->job.firstPtm = 600;
    state->job.totalSeconds = 1;
    state->streams.frameCount[0] = 3;
    resetForDemuxJob(*state);
    EXPECT_TRUE(state->job.writing);
    EXPECT_EQ(state->job.minPts, 500u);
    EXPECT_EQ(state->job.firstPtm, 600u);
    EXPECT_EQ(state->job.totalSeconds, 0.0);
    EXPECT_EQ(state->streams.frameCount[0], 0);

    state->streams.frameCount[1] = 9;
    resetForPassEnd(*state);
    EXPECT_EQ(state->streams.frameCount[1], 9) << "only a cancelled pass drops its counts";
    state->job.cancelled = true;
    resetForPassEnd(*state);
    EXPECT_EQ(state->streams.frameCount[1], 0);

    resetForWritingJobEnd(*state);
    EXPECT_FALSE(state->job.writing);
}

}  // namespace
}  // namespace tolvane
