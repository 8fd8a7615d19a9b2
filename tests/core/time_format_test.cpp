#include <gtest/gtest.h>

#include "core/time_format.h"

namespace tolvane {
namespace {

constexpr double kMs = 1.0 / 86400000.0;

TEST(TimeFormat, WritesTheTimeOfDayWithTheLocaleSeparator) {
    const LocaleSettings colon;
    const LocaleSettings dot{.timeSeparator = '.', .decimalSeparator = ','};
    const double t = (3 * 3600 + 4 * 60 + 5) * 1000 * kMs + 67 * kMs;
    EXPECT_EQ(formatDayTime(t, "h:mm:ss", colon), "3:04:05");
    EXPECT_EQ(formatDayTime(t, "h:mm:ss.zzz", colon), "3:04:05.067");
    EXPECT_EQ(formatDayTime(t, "h:mm:ss", dot), "3.04.05");
    EXPECT_EQ(formatDayTime(t, "hh:mm:ss:zzzz", colon), "03:04:05:067");
    EXPECT_EQ(formatDayTime(0, "h:mm:ss", colon), "0:00:00");
}

TEST(TimeFormat, DropsWholeDaysAndRoundsMillisecondsHalfToEven) {
    const LocaleSettings locale;
    EXPECT_EQ(formatDayTime(2.0 + 0.5, "h:mm:ss", locale), "12:00:00");
    EXPECT_EQ(formatDayTime(1.0, "h:mm:ss.zzz", locale), "0:00:00.000");
    // 2^-11 days is exactly 42187.5 ms, three times that 126562.5 ms: both go to the even one.
    EXPECT_EQ(formatDayTime(1.0 / 2048, "h:mm:ss.zzz", locale), "0:00:42.188");
    EXPECT_EQ(formatDayTime(3.0 / 2048, "h:mm:ss.zzz", locale), "0:02:06.562");
    EXPECT_EQ(formatDayTime(86399999.6 * kMs, "h:mm:ss.zzz", locale), "0:00:00.000");
    EXPECT_EQ(formatDayTime(-1.0, "h:mm:ss", locale), "0:00:00");
    // A length of time keeps its whole hours, a title of a day and more too.
    EXPECT_EQ(formatDuration(90061.0625, locale), "25:01:01.062");
    EXPECT_EQ(formatDuration(3 * 86400.0 - 0.0001, locale), "72:00:00.000");
    EXPECT_EQ(formatDuration(6.006, locale), "0:00:06.006");
}

}  // namespace
}  // namespace tolvane
