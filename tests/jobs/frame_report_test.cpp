#include <gtest/gtest.h>

#include "demux/job_records.h"
#include "jobs/job_context.h"
#include "report/message_log.h"
#include "test_doubles.h"

namespace tolvane {
namespace {

std::vector<std::string> report(int32_t count0, double rate0, double seconds, bool two,
                                int32_t count1 = 0, double rate1 = 0) {
    JobControl control;
    auto state = std::make_unique<JobRecords>(control);
    state->job.formatSettings.timeSeparator = ':';
    StreamRegistry& streams = state->streams;
    numberedStream(streams, StreamKind::Video, 0).frameCount = count0;
    numberedStream(streams, StreamKind::Video, 0).frameRate = rate0;
    numberedStream(streams, StreamKind::Video, 1).frameCount = count1;
    numberedStream(streams, StreamKind::Video, 1).frameRate = rate1;
    state->job.totalSeconds = seconds;
    MessageLog log;
    reportFrames(*state, log, two);
    std::vector<std::string> lines;
    for (const LogLine& line : log.lines()) {
        lines.push_back(line.markup);
    }
    return lines;
}

using Lines = std::vector<std::string>;

TEST(FrameReport, ReportsCountedAndCalculatedFrames) {
    EXPECT_EQ(report(180000, 25, 7200, false),
              (Lines{"180000 counted frames ([b]2:00:00.000[/b]) in video stream 0.",
                     "180000 calculated frames in video stream 0.", ""}));
    EXPECT_EQ(report(180000, 25, 7200, true),
              (Lines{"180000 counted frames ([b]2:00:00.000[/b]) in video stream 0.",
                     "180000 calculated frames ([b]2:00:00.000[/b]) in video stream 0.", ""}));
    // 25 hours of frames are 25 hours, not the hour past a whole day.
    EXPECT_EQ(report(2250000, 25, 0, false)[0],
              "2250000 counted frames ([b]25:00:00.000[/b]) in video stream 0.");
}

TEST(FrameReport, RoundsCalculatedFramesHalfToEven) {
    EXPECT_EQ(report(0, 25, 0.5, false), Lines{"12 calculated frames in video stream 0."});
    EXPECT_EQ(report(0, 25, 1.5, false), Lines{"38 calculated frames in video stream 0."});
    EXPECT_EQ(report(0, 24000.0 / 1001.0, 5400, false),
              Lines{"129471 calculated frames in video stream 0."});
    // No running time (no navigation pack): nothing to calculate from.
    EXPECT_TRUE(report(0, 25, 0, false).empty());
}

TEST(FrameReport, WritesOnlyTheLinesItHasValuesFor) {
    EXPECT_TRUE(report(0, 0, 100, true).empty());
    EXPECT_EQ(report(42, 0, 100, true), (Lines{"42 frames count in video stream 0.", ""}));
    EXPECT_EQ(report(0, 0, 10, false, 250, 25),
              (Lines{"250 counted frames ([b]0:00:10.000[/b]) in video stream 1.",
                     "250 calculated frames in video stream 1.", ""}));
    EXPECT_EQ(report(5, 0, 2, false, 0, 50),
              (Lines{"5 frames count in video stream 0.",
                     "100 calculated frames in video stream 1.", ""}));
}

}  // namespace
}  // namespace tolvane
