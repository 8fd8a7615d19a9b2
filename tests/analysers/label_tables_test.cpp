#include <gtest/gtest.h>

#include "analysers/label_tables.h"

namespace tolvane {
namespace {

TEST(LabelTables, HoldTheTextsExactlyAsTheyArePrinted) {
    const LabelTables& tables = kLabelTables;
    EXPECT_EQ(tables.sarText[15].value, "3:2");
    EXPECT_EQ(tables.sarText[15].after, "\"");
    EXPECT_EQ(tables.sarText[10].after, " (48$576 4:3)");
    EXPECT_EQ(tables.sarText[11].value, "15:11");
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

}  // namespace
}  // namespace tolvane
