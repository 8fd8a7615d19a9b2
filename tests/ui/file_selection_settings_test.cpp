#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <variant>

#include "core/platform_error.h"
#include "form_fixture.h"

namespace tolvane {
namespace {

using fixture::Bytes;
using fixture::FormFixture;

TEST(FileSelection, TakesTheFirstDroppedSourceOrPlaylistAndReadsIt) {
    FormFixture f;
    fixture::ProgramStreamBuilder ps;
    ps.pack({fixture::pesPacket(0xE0, {}, Bytes(10, 1))});
    const std::string vob = f.dir.write("VTS_01_1.vob", ps.bytes());
    f.form.WMDropFiles({vob, "/other/FEATURE_1.EVO"});
    EXPECT_EQ(f.form.text(Control::eEVOfile), vob);
    EXPECT_TRUE(f.form.ticked(Control::cbVideo0)) << "Auto read started the read job";

    f.form.WMDropFiles({"/disc/AUDIO_TS/ATS_01_1.AOB"});
    EXPECT_EQ(f.form.text(Control::eEVOfile), vob) << "an .AOB drop is ignored";

    f.form.setTicked(Control::cbAutoRead, false);
    f.form.messageLog().clear();
    f.form.WMDropFiles({"/disc/HVDVD_TS/FEATURE_1.EVO"});
    EXPECT_EQ(f.form.text(Control::eXPLfile), "/disc/ADV_OBJ/VPLST000.XPL");
    EXPECT_TRUE(f.form.enabled(Control::bReadEVO));
    EXPECT_TRUE(f.logMarkup().empty()) << "without Auto read nothing starts";
    f.form.WMDropFiles({"/disc2/ADV_OBJ/VPLST000.XPL"});
    EXPECT_EQ(f.form.paths().sourceDialogFolder, "/disc2/HVDVD_TS/");
}

TEST(FileSelection, BrowsingResetsTheBoxesAndACancelledDialogChangesNothing) {
    FormFixture f;
    f.form.setTicked(Control::cbAutoRead, false);
    f.form.setEnabled(audioBox(2), true);
    f.form.setTicked(audioBox(2), true);
    f.form.bbEVOClick(std::nullopt);
    EXPECT_TRUE(f.form.ticked(audioBox(2)));
    f.form.bbEVOClick("/disc/HVDVD_TS/FEATURE_2.EVO");
    EXPECT_FALSE(f.form.ticked(audioBox(2)));
    EXPECT_EQ(f.form.paths().baseName, "FEATURE_2");

    f.form.setText(Control::eWorkdir, (f.dir.path() / "missing").string());
    f.form.bbWorkdirClick(std::nullopt);
    EXPECT_EQ(f.form.text(Control::eWorkdir), "") << "a folder that does not exist is emptied";
    f.form.bbWorkdirClick(f.dir.path().string());
    EXPECT_EQ(f.form.text(Control::eWorkdir), f.dir.path().string());
}

// A settings store in memory; a value of the wrong type throws on reading.
class MemorySettings : public SettingsStore {
public:
    using Value = std::variant<int32_t, std::string, double>;
    bool open(bool forWriting) override { return keyExists || (forWriting && (keyExists = true)); }
    bool exists(const std::string& name) override { return values.count(name) > 0; }
    std::optional<int32_t> readInt(const std::string& name) override { return read<int32_t>(name); }
    std::optional<std::string> readString(const std::string& name) override {
        return read<std::string>(name);
    }
    void writeInt(const std::string& name, int32_t value) override { values[name] = value; }
    void writeString(const std::string& name, const std::string& value) override {
        values[name] = value;
    }
    void writeDouble(const std::string& name, double value) override { values[name] = value; }

    bool keyExists = false;
    std::map<std::string, Value> values;

private:
    template <typename T>
    std::optional<T> read(const std::string& name) {
        const auto found = values.find(name);
        if (found == values.end()) {
            return std::nullopt;
        }
        if (!std::holds_alternative<T>(found->second)) {
            throw PlatformError("Invalid data type for '" + name + "'");
        }
        return std::get<T>(found->second);
    }
};

TEST(Settings, FirstRunShowsTheDefaultsAndClosingStoresEveryValueOnce) {
    fixture::FakeOs os;
    MemorySettings store;
    MainForm form(os);
    form.setSettingsStore(&store);
    form.FormActivate();
    EXPECT_EQ(form.text(Control::eVideoExt), "mpv");
    form.RegWrite();
    EXPECT_EQ(store.values.size(), 25u);
    EXPECT_EQ(std::get<int32_t>(store.values["DelayNames"]), 0);
    EXPECT_EQ(std::get<int32_t>(store.values["ExtByCoding"]), 0);
    EXPECT_EQ(std::get<int32_t>(store.values["Continue"]), 1);
    EXPECT_EQ(std::get<int32_t>(store.values["FastSize"]), 300);
    EXPECT_EQ(std::get<std::string>(store.values["SubExt"]), "sup");
    const double installed = std::get<double>(store.values["Install"]);
    os.clock += 5;
    form.RegWrite();
    EXPECT_EQ(std::get<double>(store.values["Install"]), installed);

    // Closing maximised keeps the normal geometry of the earlier run.
    form.geometry().state = 2;
    form.geometry().width = 1;
    form.RegWrite();
    EXPECT_EQ(std::get<int32_t>(store.values["WindowState"]), 2);
    EXPECT_EQ(std::get<int32_t>(store.values["Width"]), 0);
}

TEST(Settings, AppliesStoredValuesAndStopsAtOneOfTheWrongType) {
    fixture::FakeOs os;
    MemorySettings store;
    store.keyExists = true;
    store.values = {{"AutoDemux", 1},
                    {"AutoRebuild", 1},
                    {"CountFrames", 2},
                    {"FastSize", 1234},
                    {"Workdir", std::string("/out")},
                    {"ADV_PCK", std::string("yes")},
                    {"Width", 800}};
    MainForm form(os);
    form.setSettingsStore(&store);
    form.FormActivate();
    EXPECT_TRUE(form.ticked(Control::rbAutoRebuild));
    EXPECT_FALSE(form.ticked(Control::rbAutoDemux));
    EXPECT_FALSE(form.ticked(Control::rbNoAuto));
    EXPECT_TRUE(form.ticked(Control::cbCountFr));
    EXPECT_EQ(form.text(Control::ieFastSize), "1234");
    EXPECT_EQ(form.fastSizeMb(), 1234);
    EXPECT_EQ(form.text(Control::eWorkdir), "/out");
    EXPECT_EQ(form.geometry().width, 800);
    ASSERT_EQ(os.errors.size(), 1u);
    EXPECT_NE(os.errors[0].find("ADV_PCK"), std::string::npos);
    EXPECT_FALSE(form.ticked(Control::cbRBAdvanced));
    form.RegWrite();
    EXPECT_EQ(std::get<int32_t>(store.values["CountFrames"]), 1);

    // Folders given relative to where the window started are kept whole.
    form.setText(Control::eWorkdir, "out");
    form.WMDropFiles({"DISC/HVDVD_TS/FEATURE_1.EVO"});
    form.RegWrite();
    const std::filesystem::path here = std::filesystem::current_path();
    EXPECT_EQ(std::get<std::string>(store.values["Workdir"]), (here / "out").string());
    EXPECT_EQ(std::get<std::string>(store.values["EVOdir"]), (here / "DISC/HVDVD_TS/").string());
    EXPECT_EQ(std::get<std::string>(store.values["XPLdir"]), (here / "DISC/ADV_OBJ/").string());
}

}  // namespace
}  // namespace tolvane
