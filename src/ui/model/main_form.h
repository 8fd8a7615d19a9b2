#pragma once

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/file_output.h"
#include "core/header_analysers.h"
#include "core/input_source.h"
#include "core/os_services.h"
#include "core/pass_hooks.h"
#include "core/pass_options.h"
#include "core/shared_state.h"
#include "jobs/job_naming.h"
#include "jobs/message_log.h"
#include "playlist/xpl_chapters.h"
#include "playlist/xpl_scanner.h"
#include "playlist/xpl_title.h"
#include "ui/model/controls.h"
#include "ui/model/settings_store.h"

namespace tolvane {

class PackRebuilder;

// Whatever shows the window: the Qt adapter mirrors every change it is told of.
class FormView {
public:
    virtual ~FormView() = default;
    virtual void controlChanged(Control control) = 0;
    virtual void pageShown(int index) = 0;
    virtual void logoMoved(int left) = 0;
    // The playlist's memo and tree were filled anew.
    virtual void playlistChanged() {}
    virtual void focus(Control /*control*/) {}
};

// The path values the window derives whenever a source or playlist is chosen.
struct PathValues {
    std::string sourceFolder;
    std::string sourceName;
    std::string baseName;
    std::string playlistFolder;
    std::string playlistName;
    std::string sourceDialogFolder;
    std::string playlistDialogFolder;
    std::string playlistDialogName;
};

// The main window without a toolkit: every control as abstract state, every handler and job as
// a method. The Qt window, the command-line front end and the tests all drive this one model.
class MainForm : public PassOptions {
public:
    using InputOpener = std::function<std::unique_ptr<InputSource>(const std::string&)>;

    explicit MainForm(OsServices& os, PathStyle style = PathStyle::native());
    ~MainForm() override;

    // Controls. Ticking a stream box from the program runs cbVideoClick as a click does;
    // setting a control to the state it has changes nothing and tells no one.
    const ControlState& control(Control c) const { return controls_[static_cast<size_t>(c)]; }
    bool ticked(Control c) const { return control(c).ticked; }
    bool enabled(Control c) const { return control(c).enabled; }
    const std::string& text(Control c) const { return control(c).text; }
    void setTicked(Control c, bool ticked);
    void setEnabled(Control c, bool enabled);
    void setCaption(Control c, std::string caption);
    void setText(Control c, std::string text);
    void setHint(Control c, std::string hint);
    int pageIndex() const { return pageIndex_; }
    void showPage(int index);
    int logoLeft() const { return logoLeft_; }

    void setView(FormView* view) { view_ = view; }
    MessageLog& messageLog() { return log_; }
    const MessageLog& messageLog() const { return log_; }
    SharedState& state() { return *state_; }
    const SharedState& state() const { return *state_; }
    const PathValues& paths() const { return paths_; }
    PathStyle pathStyle() const { return style_; }
    void setFileExists(FileExists exists) { fileExists_ = std::move(exists); }
    void setInputOpener(InputOpener opener) { openInput_ = std::move(opener); }
    void setAnalysers(HeaderAnalysers* analysers);
    bool jobRunning() const { return busy_; }
    // The playlist tab: the tags of the playlist (cut to the title) and the title's tree.
    const PlaylistMemo& xplMemo() const { return xplMemo_; }
    const std::vector<TreeNode>& xplTree() const { return xplTree_; }
    bool memoVisible() const { return memoVisible_; }

    // Life events and handlers of the window.
    void FormActivate();
    bool FormCloseQuery();
    void FormResize(int outerWidth);
    void Resetcbs();
    void cbVideoClick();
    void cbFastCheckClick();
    void bClearClick() { log_.clear(); }
    void bCancelClick();
    void EVOadj();
    void XPLadj();

    // File selection: each takes what its dialog returned (none when it was cancelled).
    void bbEVOClick(const std::optional<std::string>& chosen);
    void bbXPLClick(const std::optional<std::string>& chosen);
    void bbWorkdirClick(const std::optional<std::string>& chosen);
    // Where the folder dialog opens: the output folder, or nothing when it does not exist.
    std::string workdirDialogStart() const;
    void WMDropFiles(const std::vector<std::string>& paths);
    // A new source: its path adjusted, and nothing of the previous file's boxes and times left
    // for Demux or Rebuild to run on.
    void chooseSource(const std::string& path);

    // Settings: read at start-up, written when the window closes.
    void setSettingsStore(SettingsStore* store) { settings_ = store; }
    void RegRead();
    void RegWrite();
    WindowGeometry& geometry() { return geometry_; }

    // Jobs.
    void bReadEVOClick();
    void bReadXPLClick();
    // The chapters of the title Read XPL found; none without a title.
    std::vector<ChapterMark> xplChapters() const;
    // Writes them to `path`: Matroska chapter XML for ".xml", the OGM text otherwise. Throws
    // JobError, writing nothing, when there is no title or it has no chapters.
    void saveChapters(const std::string& path);
    void bDemuxClick();
    void bRebuildClick();
    // One rebuild pass over `source` into `output`.
    void Rebuild(PackRebuilder& rebuilder, OutputSink& output);
    void logframes(bool two);
    // An audio or subpicture stream's delay to the first video stream of the last read, in
    // milliseconds (its first PTS minus the video's); none without either.
    std::optional<int32_t> streamDelayMs(StreamKind kind, int number) const;
    // One pass of the engine over `source`.
    void demux(PassMode mode);

    // PassOptions, read from the controls each time.
    bool fastCheck() const override { return ticked(Control::cbFastCheck); }
    int64_t fastSizeMb() const override;
    bool countFrames() const override { return ticked(Control::cbCountFr); }
    bool details() const override { return ticked(Control::cbDetails); }
    bool sourceIsAob() const override;
    bool sourceIsVob() const override;
    bool sourceIsEvo() const;
    bool videoTicked(int32_t number) const override;
    bool audioTicked(int32_t number) const override;
    bool subTicked(int32_t number) const override;

private:
    struct Buttons {
        bool readEvo, readXpl, demux, rebuild, browseEvo, browseXpl;
    };
    Buttons buttons() const;
    void restore(const Buttons& before);
    void readJob(bool& readXplWasEnabled);
    void openSource(const std::string& path);
    // The pass over the second feature file, when the job has one and was not cancelled.
    void continueOnSecondFile(const JobNames& names, PassMode mode);
    // "Done.", an empty line and the idle status panels that end every job.
    void logDone();
    // logDone and the frame-count report that end the read and demux jobs.
    void finishJob(bool secondFile);
    void labelStreamBoxes();
    // Runs `job` as the one running job. A platform error ends it: `cleanUp` closes what it
    // opened, the buttons come back as they were and the message is shown. True when the job
    // ran to its end.
    bool runJob(const std::function<void()>& job, const std::function<void()>& cleanUp);
    void endWithPlatformError(const std::string& message, const Buttons& before);
    void demuxJob(std::vector<std::unique_ptr<FileOutput>>& outputs);
    void createOutputs(const std::string& prefix,
                       std::vector<std::unique_ptr<FileOutput>>& outputs);
    void dropOutputs();
    void rebuildJob(std::unique_ptr<FileOutput>& output);
    void readXplJob(bool& readEvoWasEnabled);
    void buildXplTree(const XplValues& values);
    void announceTrack(int32_t* entry, std::optional<Control> box, int32_t* boxId, bool withHint,
                       const std::string& text, TreeNode& node);
    void changed(Control c);

    OsServices& os_;
    PathStyle style_;
    std::unique_ptr<SharedState> state_;
    MessageLog log_;
    std::array<ControlState, kControlCount> controls_;
    PathValues paths_;
    FormView* view_ = nullptr;
    FileExists fileExists_;
    InputOpener openInput_;
    std::unique_ptr<HeaderAnalysers> ownAnalysers_;
    HeaderAnalysers* analysers_ = nullptr;
    int pageIndex_ = 0;
    int logoLeft_ = 326;
    SettingsStore* settings_ = nullptr;
    WindowGeometry geometry_;
    PlaylistMemo xplMemo_;
    std::vector<TreeNode> xplTree_ = {
        {"Video", {}}, {"Audio", {}}, {"Subpicture", {}}, {"Chapter", {}}};
    XplAttributeTables xplTables_;  // kept from one playlist to the next
    bool memoVisible_ = true;
    bool xplTitleFound_ = false;
    std::string xplTimeBase_;
    std::string rebuildName_;  // the file the rebuild pass works on, for its progress line
    bool activated_ = false;
    bool busy_ = false;
    bool closing_ = false;
};

}  // namespace tolvane
