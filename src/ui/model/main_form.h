#pragma once

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/input_source.h"
#include "discs/dvd_disc.h"
#include "discs/title_choice.h"
#include "jobs/job_context.h"
#include "jobs/read_job.h"
#include "playlist/xpl_job.h"
#include "report/message_log.h"
#include "sinks/job_naming.h"
#include "ui/model/controls.h"
#include "ui/model/settings_store.h"
#include "ui/model/window_services.h"

namespace tolvane {

// Whatever shows the window: the Qt adapter mirrors every change it is told of.
class FormView {
public:
    virtual ~FormView() = default;
    virtual void controlChanged(Control control) = 0;
    virtual void pageShown(int index) = 0;
    virtual void logoMoved(int left) = 0;
    // The playlist's memo and tree were filled anew.
    virtual void playlistChanged() {}
    // Another disc (or no disc) was chosen, or another of its titles.
    virtual void discChanged() {}
    virtual void focus(Control /*control*/) {}
    // A demux, rebuild or Matroska job wrote its files to outputFolder().
    virtual void outputFolderChanged() {}
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

// The main window without a toolkit: every control as abstract state, every handler a method.
// A job's handler turns the controls into the job's input and its result into the controls.
// The Qt window and the tests drive this one model.
class MainForm {
public:
    explicit MainForm(WindowServices& os, PathStyle style = PathStyle::native());
    ~MainForm();

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
    // Where the window cancels the running job and learns whether it writes.
    JobControl& jobControl() { return control_; }
    const PathValues& paths() const { return paths_; }
    // What the last read of the chosen source found; nothing once another source is chosen.
    const ReadResult& lastRead() const { return lastRead_; }
    // Where the last demux or rebuild wrote, whole; empty before the first.
    const std::string& outputFolder() const { return outputFolder_; }
    PathStyle pathStyle() const { return style_; }
    void setFileExists(FileExists exists) { fileExists_ = std::move(exists); }
    void setInputOpener(InputOpener opener) { openInput_ = std::move(opener); }
    bool jobRunning() const { return busy_; }
    // The playlist tab: the tags of the playlist (cut to the title) and the title's tree.
    const PlaylistMemo& xplMemo() const { return playlist_.memo; }
    const std::vector<TreeNode>& xplTree() const { return xplTree_; }
    // Whether the source can have an HD DVD playlist: not a DVD's VOB, AOB or disc.
    bool playlistApplies() const { return playlistApplies_; }
    // What the last Read XPL found.
    const XplResult& playlist() const { return playlist_; }
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

    // The disc chosen as the source (a folder or an image): its titles, and the one the jobs
    // take, from 1. No titles and 0 for a file.
    const std::vector<DiscTitle>& discTitles() const { return discTitles_; }
    int discTitle() const { return discTitle_; }
    int discAngle() const { return discAngle_; }
    // Angle `angle` (from 1) of title `number` of the chosen disc becomes the source, and a
    // read of it fills the boxes.
    void chooseTitle(int number, int angle = 1);
    // How the window lists a title: "Title 1: 0:00:09.000, 3 chapters, audio en de, subtitles fr",
    // an HD DVD title's name after its number, and ", main title" or a decoy's reason. A title of
    // several angles is listed once per angle, "Title 1, angle 2: ...".
    std::string titleEntry(const DiscTitle& title, int angle = 1) const;
    // What the window's list offers: each title, each angle of a title of several.
    struct TitleChoice {
        int number = 0;
        int angle = 1;
        std::string entry;
    };
    std::vector<TitleChoice> titleChoices() const;
    // A box's caption: the stream's label, with its language when the disc gives one.
    static std::string boxCaption(const StreamBox& stream);
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
    // The ticked streams into one Matroska file in the output folder, named as the demux names.
    void bMatroskaClick();
    // An audio or subpicture stream's delay to the first video stream of the last read, in
    // milliseconds (its first PTS minus the video's); none without either.
    std::optional<int32_t> streamDelayMs(StreamKind kind, int number) const;

    // What the controls give a job.
    int64_t fastSizeMb() const;
    PassSettings passSettings() const;
    // Every stream box that is labelled or ticked, with its caption and whether it is ticked.
    std::vector<StreamBox> streamBoxes() const;
    bool sourceIsAob() const;
    bool sourceIsEvo() const;

private:
    // The output folder the user chose, whole: the working directory when none.
    std::string chosenOutputFolder() const;
    void sayOutputFolder(const std::string& folder);
    struct Buttons {
        bool readEvo, readXpl, demux, rebuild, matroska, browseEvo, browseXpl;
    };
    Buttons buttons() const;
    // Demux, Rebuild and Matroska off while a job runs; a writing job also shows the log.
    void disableWritingCommands();
    void startWriting();
    void restore(const Buttons& before);
    // Runs `job` as the one running job. A job error ends it: the buttons come back as they
    // were and the message is shown. True when the job ran to its end.
    bool runJob(const std::function<void()>& job);
    JobContext jobContext();
    void labelStreamBoxes(const std::vector<StreamBox>& found);
    // What the last read or playlist labelled under `number` of `kind`; null for nothing.
    const StreamBox* labelledBox(StreamKind kind, int number) const;
    void changed(Control c);

    WindowServices& os_;
    PathStyle style_;
    JobControl control_;
    LocaleSettings formatSettings_;
    MessageLog log_;
    std::array<ControlState, kControlCount> controls_;
    PathValues paths_;
    FormView* view_ = nullptr;
    FileExists fileExists_;
    InputOpener openInput_;
    int pageIndex_ = 0;
    int logoLeft_ = 326;
    SettingsStore* settings_ = nullptr;
    WindowGeometry geometry_;
    std::vector<TreeNode> xplTree_;
    XplResult playlist_;
    // What the last read (or the playlist) labelled, box by box, and what the last read of
    // this source found: the window's record, handed to the writing jobs.
    std::vector<StreamBox> labelled_;
    std::vector<DiscTitle> discTitles_;
    std::vector<TitleVerdict> titleVerdicts_;  // what the list marks: main title, decoys
    int discTitle_ = 0;
    int discAngle_ = 1;
    ReadResult lastRead_;
    std::string outputFolder_;
    XplAttributeTables xplTables_;  // kept from one playlist to the next
    bool memoVisible_ = true;
    bool playlistApplies_ = true;
    bool activated_ = false;
    bool busy_ = false;
    bool closing_ = false;
};

}  // namespace tolvane
