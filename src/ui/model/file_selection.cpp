// Choosing the source and the playlist: browse dialogs and files dropped on the window.
#include <filesystem>

#include "ui/model/main_form.h"

namespace tolvane {

void MainForm::bbEVOClick(const std::optional<std::string>& chosen) {
    if (!chosen) {
        return;  // the dialog was cancelled
    }
    chooseSource(*chosen);
    if (enabled(Control::bReadEVO) && view_ != nullptr) {
        view_->focus(Control::bReadEVO);
    }
    if (ticked(Control::cbAutoRead)) {
        bReadEVOClick();
    }
}

void MainForm::bbXPLClick(const std::optional<std::string>& chosen) {
    if (!chosen) {
        return;
    }
    setText(Control::eXPLfile, *chosen);
    XPLadj();
    if (ticked(Control::cbAutoRead)) {
        bReadXPLClick();
    }
}

std::string MainForm::workdirDialogStart() const {
    std::error_code error;
    const std::string& folder = text(Control::eWorkdir);
    return std::filesystem::is_directory(folder, error) ? folder : std::string();
}

void MainForm::bbWorkdirClick(const std::optional<std::string>& chosen) {
    setText(Control::eWorkdir, chosen ? *chosen : workdirDialogStart());
}

void MainForm::chooseSource(const std::string& path) {
    setText(Control::eEVOfile, path);
    EVOadj();
    Resetcbs();
    lastRead_ = {};
}

void MainForm::WMDropFiles(const std::vector<std::string>& paths) {
    // Like the browse buttons, a drop cannot change the source of a running job.
    if (paths.empty() || busy_) {
        return;
    }
    const std::string& path = paths.front();  // only the first of several files
    const std::string extension = upperCase(extensionOf(path, style_));
    if (extension == ".EVO" || extension == ".VOB") {
        chooseSource(path);
        if (ticked(Control::cbAutoRead)) {
            bReadEVOClick();
        }
    } else if (extension == ".XPL") {
        setText(Control::eXPLfile, path);
        XPLadj();
        if (ticked(Control::cbAutoRead)) {
            bReadXPLClick();
        }
    }
}

}  // namespace tolvane
