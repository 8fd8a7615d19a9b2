#include <gtest/gtest.h>

#include "core/number_format.h"

namespace tolvane {
namespace {

TEST(NumberFormat, WritesUpperCaseHexPaddedToAWidth) {
    EXPECT_EQ(hexUpper(0xab, 2), "AB");
    EXPECT_EQ(hexUpper(0x5, 2), "05");
    EXPECT_EQ(hexUpper(0x1000, 8), "00001000");
    EXPECT_EQ(hexUpper(0x123456789ULL, 8), "123456789");
}

TEST(NumberFormat, WritesFloatsInTheGeneralFormatWithTheLocaleSeparator) {
    const LocaleSettings point;
    const LocaleSettings comma{.timeSeparator = ':', .decimalSeparator = ','};
    EXPECT_EQ(formatGeneral(44.1, point), "44.1");
    EXPECT_EQ(formatGeneral(44.1, comma), "44,1");
    EXPECT_EQ(formatGeneral(25, point), "25");
    EXPECT_EQ(formatGeneral(0, point), "0");
    EXPECT_EQ(formatGeneral(-2.5, point), "-2.5");
    EXPECT_EQ(formatGeneral(24000.0 / 1001.0, point), "23.976023976024");
    EXPECT_EQ(formatGeneral(0.1 + 0.2, point), "0.3");
    EXPECT_EQ(formatGeneral(0.00012, point), "0.00012");
    EXPECT_EQ(formatGeneral(1e20, point), "100000000000000000000");
    EXPECT_EQ(formatGeneral(123456789012345678.0, point), "123456789012346000");
}

}  // namespace
}  // namespace tolvane
