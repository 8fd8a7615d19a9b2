#include "ui/model/main_form.h"

#include <filesystem>

#include "core/file_source.h"
#include "core/platform_error.h"

namespace tolvane {

namespace {

constexpr const char* kPlaylistName = "VPLST000.XPL";
constexpr std::string_view kSourceFolderName = "HVDVD_TS";
constexpr std::string_view kPlaylistFolderName = "ADV_OBJ";

bool endsWith(std::string_view text, std::string_view tail) {
    return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

}  // namespace

MainForm::MainForm(WindowServices& os, PathStyle style)
    : os_(os),
      style_(style),
      controls_(initialControls()),
      fileExists_([](const std::string& path) {
          std::error_code error;
          return std::filesystem::is_regular_file(path, error);
      }),
      openInput_([](const std::string& path) { return std::make_unique<FileSource>(path); }),
      xplTree_(emptyTitleTree()) {
    // The window handles its input (its Cancel button among it) where a job shows progress.
    log_.setEventPump([this] { os_.processEvents(); });
}

MainForm::~MainForm() = default;

void MainForm::changed(Control c) {
    if (view_ != nullptr) {
        view_->controlChanged(c);
    }
}

void MainForm::setTicked(Control c, bool ticked) {
    ControlState& state = controls_[static_cast<size_t>(c)];
    if (state.ticked == ticked) {
        return;
    }
    if (isRadioButton(c)) {
        // One of the group is always selected: selecting one clears the others.
        if (!ticked) {
            return;
        }
        for (Control other : {Control::rbNoAuto, Control::rbAutoDemux, Control::rbAutoRebuild}) {
            ControlState& otherState = controls_[static_cast<size_t>(other)];
            if (other != c && otherState.ticked) {
                otherState.ticked = false;
                changed(other);
            }
        }
    }
    state.ticked = ticked;
    changed(c);
    if (isStreamBox(c)) {
        cbVideoClick();
    } else if (c == Control::cbFastCheck) {
        cbFastCheckClick();
    }
}

void MainForm::setEnabled(Control c, bool enabled) {
    ControlState& state = controls_[static_cast<size_t>(c)];
    if (state.enabled != enabled) {
        state.enabled = enabled;
        changed(c);
    }
}

void MainForm::setCaption(Control c, std::string caption) {
    ControlState& state = controls_[static_cast<size_t>(c)];
    if (state.caption != caption) {
        state.caption = std::move(caption);
        changed(c);
    }
}

void MainForm::setText(Control c, std::string text) {
    ControlState& state = controls_[static_cast<size_t>(c)];
    if (state.text != text) {
        state.text = std::move(text);
        changed(c);
    }
}

void MainForm::setHint(Control c, std::string hint) {
    ControlState& state = controls_[static_cast<size_t>(c)];
    if (state.hint != hint) {
        state.hint = std::move(hint);
        changed(c);
    }
}

void MainForm::showPage(int index) {
    if (pageIndex_ != index) {
        pageIndex_ = index;
        if (view_ != nullptr) {
            view_->pageShown(index);
        }
    }
}

void MainForm::FormActivate() {
    if (activated_) {
        return;  // again would reset the stream boxes in the middle of a job
    }
    activated_ = true;
    try {
        RegRead();
    } catch (const PlatformError& error) {
        os_.showError(error.what());  // the values read before the bad one stay applied
    }
    Resetcbs();
    formatSettings_ = os_.locale();
    log_.setLocale(formatSettings_);
}

bool MainForm::FormCloseQuery() {
    if (control_.writing) {
        bCancelClick();
        closing_ = control_.cancelled;
        return closing_;
    }
    control_.cancelled = true;
    closing_ = true;
    return true;
}

void MainForm::FormResize(int outerWidth) {
    const int left = outerWidth > 432 ? outerWidth / 2 - 63 : 153;
    if (left != logoLeft_) {
        logoLeft_ = left;
        if (view_ != nullptr) {
            view_->logoMoved(left);
        }
    }
}

void MainForm::Resetcbs() {
    struct Group {
        int count;
        Control (*box)(int);
        const char* caption;
    };
    const Group groups[] = {{kVideoBoxes, videoBox, "No video stream"},
                            {kAudioBoxes, audioBox, "No audio stream"},
                            {kSubBoxes, subBox, "No subpicture"}};
    for (const Group& group : groups) {
        for (int n = 0; n < group.count; ++n) {
            const Control box = group.box(n);
            setEnabled(box, false);
            setCaption(box, group.caption);
            ControlState& state = controls_[static_cast<size_t>(box)];
            if (state.ticked) {
                state.ticked = false;  // one re-evaluation below covers every box
                changed(box);
            }
        }
    }
    labelled_.clear();
    cbVideoClick();
}

void MainForm::cbVideoClick() {
    if (busy_ && control_.writing) {
        return;  // the outputs of a running demux or rebuild are fixed: no second job may start
    }
    bool anyTicked = false;
    for (size_t k = static_cast<size_t>(Control::cbVideo0); k < kControlCount; ++k) {
        if (controls_[k].ticked) {
            anyTicked = true;
            break;
        }
    }
    setEnabled(Control::bDemux, anyTicked);
    setEnabled(Control::bRebuild, anyTicked && sourceIsEvo());
    setEnabled(Control::bMatroska, anyTicked);
}

bool MainForm::sourceIsEvo() const {
    return fileSourceKind(text(Control::eEVOfile)) == SourceKind::HdDvdFile;
}

void MainForm::cbFastCheckClick() {
    setEnabled(Control::ieFastSize, ticked(Control::cbFastCheck));
}

void MainForm::bCancelClick() {
    // Stopping a writing job leaves its outputs short: the user is asked first.
    if (!control_.writing || os_.askYesNo("Are you sure to stop demuxing?")) {
        cancelJob(control_);
    }
}

void MainForm::EVOadj() {
    const std::string& source = text(Control::eEVOfile);
    setEnabled(Control::bReadEVO, !source.empty());
    paths_.sourceName = fileNamePart(source, style_);
    paths_.baseName = withoutExtension(paths_.sourceName, style_);
    paths_.sourceFolder = folderPart(source, style_);
    paths_.sourceDialogFolder = paths_.sourceFolder;
    setText(Control::eXPLfile, kPlaylistName);
    const std::string discFolder = std::string(kSourceFolderName) + style_.delimiter;
    if (endsWith(paths_.sourceFolder, discFolder)) {
        paths_.playlistFolder =
            paths_.sourceFolder.substr(0, paths_.sourceFolder.size() - discFolder.size()) +
            std::string(kPlaylistFolderName) + style_.delimiter;
        paths_.playlistDialogFolder = paths_.playlistFolder;
        paths_.playlistName = kPlaylistName;
        paths_.playlistDialogName = kPlaylistName;
        setText(Control::eXPLfile, paths_.playlistFolder + paths_.playlistName);
    }
    setEnabled(Control::bReadXPL, !paths_.playlistName.empty());
}

void MainForm::XPLadj() {
    const std::string& playlist = text(Control::eXPLfile);
    paths_.playlistName = fileNamePart(playlist, style_);
    paths_.playlistFolder = folderPart(playlist, style_);
    setEnabled(Control::bReadXPL, !paths_.playlistName.empty());
    const std::string discFolder = std::string(kPlaylistFolderName) + style_.delimiter;
    if (endsWith(paths_.playlistFolder, discFolder)) {
        paths_.sourceFolder =
            paths_.playlistFolder.substr(0, paths_.playlistFolder.size() - discFolder.size()) +
            std::string(kSourceFolderName) + style_.delimiter;
        paths_.sourceDialogFolder = paths_.sourceFolder;
    }
}

bool MainForm::sourceIsAob() const {
    return fileSourceKind(text(Control::eEVOfile)) == SourceKind::DvdAudioFile;
}

}  // namespace tolvane
