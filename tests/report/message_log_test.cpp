#include <gtest/gtest.h>

#include "report/message_log.h"

namespace tolvane {
namespace {

class RecordingView : public MessageLogView {
public:
    void lineAppended(const LogLine& line) override { events.push_back("line:" + line.text); }
    void cleared() override { events.push_back("cleared"); }
    void statusChanged(StatusPanel panel) override {
        events.push_back("status:" + std::to_string(static_cast<int>(panel)));
    }
    std::vector<std::string> events;
};

TEST(MessageLog, StartsWithTheIdlePanelsAndHint) {
    MessageLog log;
    EXPECT_EQ(log.panel(StatusPanel::Job).text, " Ready");
    EXPECT_EQ(log.panel(StatusPanel::Job).width, 40);
    EXPECT_EQ(log.panel(StatusPanel::Progress).text, " Select or drop an EVO file to demux");
    EXPECT_EQ(log.panel(StatusPanel::Progress).width, 50);
    EXPECT_EQ(log.hint(), " Select or drop an EVO file to demux");
    EXPECT_TRUE(log.lines().empty());
}

TEST(MessageLog, StatusPanelsTakeABlankAndOnlyTheProgressPanelSetsTheHint) {
    MessageLog log;
    std::vector<std::string> measured;
    log.setTextMeasure([&](const std::string& text) {
        measured.push_back(text);
        return 7 * static_cast<int>(text.size());
    });
    log.slog("Ready", StatusPanel::Job);
    EXPECT_EQ(log.panel(StatusPanel::Job).text, " Ready");
    EXPECT_EQ(log.panel(StatusPanel::Job).width, 7 * 7);
    EXPECT_EQ(log.hint(), " Select or drop an EVO file to demux");

    log.slog("FEATURE_1.EVO", StatusPanel::Progress);
    EXPECT_EQ(log.panel(StatusPanel::Progress).text, " FEATURE_1.EVO");
    EXPECT_EQ(log.hint(), "FEATURE_1.EVO");
    EXPECT_EQ(measured, (std::vector<std::string>{" Readya", " FEATURE_1.EVOa"}));

    log.slog("", StatusPanel::Progress);
    EXPECT_EQ(log.panel(StatusPanel::Progress).text, " ");
    EXPECT_EQ(log.hint(), "");
}

TEST(MessageLog, TellsTheViewOfEveryChangeAsItHappens) {
    MessageLog log;
    RecordingView view;
    log.setView(&view);
    log.log({"Opening file ", asStrong("a.EVO")});
    log.log("");
    log.slog("Reading", StatusPanel::Job);
    log.clear();
    log.log("Done.");
    EXPECT_EQ(view.events, (std::vector<std::string>{"line:Opening file a.EVO", "line:", "status:0",
                                                     "cleared", "line:Done."}));
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_EQ(log.lines()[0].text, "Done.");
}

}  // namespace
}  // namespace tolvane
