#include <gtest/gtest.h>

#include "form_fixture.h"

namespace tolvane {
namespace {

using fixture::FakeOs;
using fixture::FormFixture;

class CountingView : public FormView {
public:
    void controlChanged(Control c) override { changes.push_back(c); }
    void pageShown(int index) override { page = index; }
    void logoMoved(int left) override { logo = left; }
    std::vector<Control> changes;
    int page = -1;
    int logo = -1;
};

TEST(MainForm, StartsWithItsInitialStateAndEmptyStreamBoxes) {
    FormFixture f;
    const MainForm& form = f.form;
    EXPECT_EQ(form.control(Control::eXPLfile).text, "VPLST000.XPL");
    EXPECT_EQ(form.control(Control::cbContinue).caption, "Continue with second EVO");
    EXPECT_EQ(form.control(Control::cbRBAdvanced).hint, "Rebuild the advanced packs");
    EXPECT_EQ(form.text(Control::ieFastSize), "300");
    EXPECT_TRUE(form.ticked(Control::rbNoAuto));
    EXPECT_FALSE(form.enabled(Control::bReadEVO));
    EXPECT_FALSE(form.enabled(Control::bCancel));
    EXPECT_TRUE(form.enabled(Control::bbEVO));
    for (size_t k = static_cast<size_t>(Control::cbVideo0); k < kControlCount; ++k) {
        const ControlState& box = form.control(static_cast<Control>(k));
        EXPECT_FALSE(box.enabled || box.ticked) << controlName(static_cast<Control>(k));
    }
    EXPECT_EQ(form.control(videoBox(7)).caption, "No video stream");
    EXPECT_EQ(form.control(audioBox(15)).caption, "No audio stream");
    EXPECT_EQ(form.control(subBox(31)).caption, "No subpicture");
    EXPECT_EQ(form.control(subBox(31)).hint, "Check the desired subpicture streams");
    EXPECT_EQ(controlName(audioBox(3)), "cbAudio03");
    EXPECT_EQ(controlByName("cbSub12"), subBox(12));
    EXPECT_EQ(controlByName("cbVideo1"), videoBox(1));
    EXPECT_FALSE(controlByName("cbAudio16"));
}

TEST(MainForm, EnablesDemuxForAnyTickedBoxAndRebuildOnlyForEvoSources) {
    FormFixture f;
    MainForm& form = f.form;
    f.chooseSource("/disc/HVDVD_TS/FEATURE_1.evo");
    form.setEnabled(audioBox(4), true);
    form.setTicked(audioBox(4), true);
    EXPECT_TRUE(form.enabled(Control::bDemux));
    EXPECT_TRUE(form.enabled(Control::bRebuild));
    form.setTicked(audioBox(4), false);
    EXPECT_FALSE(form.enabled(Control::bDemux));
    EXPECT_FALSE(form.enabled(Control::bRebuild));

    form.setTicked(audioBox(4), true);
    f.chooseSource("/dvd/VIDEO_TS/VTS_01_1.VOB");
    EXPECT_FALSE(form.ticked(audioBox(4))) << "another source resets the boxes";
    EXPECT_FALSE(form.enabled(Control::bRebuild));
    form.setEnabled(subBox(2), true);
    form.setTicked(subBox(2), true);
    EXPECT_TRUE(form.enabled(Control::bDemux));
    EXPECT_FALSE(form.enabled(Control::bRebuild)) << "Rebuild writes .EVO files only";

    form.setTicked(audioBox(1), true);
    form.Resetcbs();
    EXPECT_FALSE(form.ticked(audioBox(1)));
    EXPECT_FALSE(form.enabled(Control::bDemux));
}

TEST(MainForm, TellsItsViewOfChangesOnlyWhenSomethingChanged) {
    FormFixture f;
    CountingView view;
    f.form.setView(&view);
    f.form.setTicked(Control::cbFastCheck, false);
    EXPECT_FALSE(f.form.enabled(Control::ieFastSize));
    EXPECT_EQ(view.changes, (std::vector<Control>{Control::cbFastCheck, Control::ieFastSize}));
    view.changes.clear();
    f.form.setTicked(Control::cbFastCheck, false);
    f.form.setCaption(Control::bDemux, "Demux");
    EXPECT_TRUE(view.changes.empty());
    f.form.setTicked(Control::cbFastCheck, true);
    EXPECT_TRUE(f.form.enabled(Control::ieFastSize));

    f.form.setTicked(Control::rbAutoDemux, true);
    EXPECT_FALSE(f.form.ticked(Control::rbNoAuto));
    f.form.setTicked(Control::rbAutoRebuild, true);
    EXPECT_FALSE(f.form.ticked(Control::rbAutoDemux));
    f.form.setTicked(Control::rbAutoRebuild, false);
    EXPECT_TRUE(f.form.ticked(Control::rbAutoRebuild)) << "one of the group stays selected";

    f.form.FormResize(800);
    EXPECT_EQ(view.logo, 337);
    f.form.FormResize(400);
    EXPECT_EQ(view.logo, 153);
}

TEST(MainForm, AsksBeforeCancellingOrClosingOnlyWhileWriting) {
    FormFixture f;
    MainForm& form = f.form;
    form.bCancelClick();
    EXPECT_TRUE(form.jobControl().cancelled);
    EXPECT_TRUE(f.os.questions.empty());
    EXPECT_TRUE(f.logMarkup().empty());

    form.jobControl().cancelled = false;
    form.jobControl().writing = true;
    f.os.answer = false;
    EXPECT_FALSE(form.FormCloseQuery());
    EXPECT_FALSE(form.jobControl().cancelled);
    EXPECT_EQ(f.os.questions, std::vector<std::string>{"Are you sure to stop demuxing?"});
    f.os.answer = true;
    EXPECT_TRUE(form.FormCloseQuery());
    EXPECT_TRUE(form.jobControl().cancelled);
    EXPECT_TRUE(f.logMarkup().empty()) << "the job says so where it ends";

    form.jobControl().writing = false;
    form.jobControl().cancelled = false;
    EXPECT_TRUE(form.FormCloseQuery());
    EXPECT_TRUE(form.jobControl().cancelled) << "closing stops a running read";
}

TEST(MainForm, DerivesThePlaylistFromAnHdDvdSourceAndBack) {
    FakeOs os;
    MainForm form(os, PathStyle::windows());
    form.FormActivate();
    form.setText(Control::eEVOfile, "C:\\DISC\\HVDVD_TS\\FEATURE_2.EVO");
    form.EVOadj();
    EXPECT_EQ(form.text(Control::eXPLfile), "C:\\DISC\\ADV_OBJ\\VPLST000.XPL");
    EXPECT_EQ(form.paths().baseName, "FEATURE_2");
    EXPECT_EQ(form.paths().sourceFolder, "C:\\DISC\\HVDVD_TS\\");
    EXPECT_TRUE(form.enabled(Control::bReadEVO));
    EXPECT_TRUE(form.enabled(Control::bReadXPL));

    MainForm lower(os, PathStyle::windows());
    lower.setText(Control::eEVOfile, "C:\\DISC\\hvdvd_ts\\FEATURE_2.EVO");
    lower.EVOadj();
    EXPECT_EQ(lower.text(Control::eXPLfile), "VPLST000.XPL");
    EXPECT_FALSE(lower.enabled(Control::bReadXPL));

    lower.setText(Control::eXPLfile, "C:\\DISC\\ADV_OBJ\\VPLST000.XPL");
    lower.XPLadj();
    EXPECT_EQ(lower.paths().sourceDialogFolder, "C:\\DISC\\HVDVD_TS\\");
    EXPECT_EQ(lower.text(Control::eEVOfile), "C:\\DISC\\hvdvd_ts\\FEATURE_2.EVO");
    EXPECT_TRUE(lower.enabled(Control::bReadXPL));

    FormFixture native;
    native.chooseSource("/media/DISC/HVDVD_TS/FEATURE_1.EVO");
    EXPECT_EQ(native.form.text(Control::eXPLfile), "/media/DISC/ADV_OBJ/VPLST000.XPL");
}

}  // namespace
}  // namespace tolvane
