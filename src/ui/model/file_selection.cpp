// Choosing the source and the playlist: browse dialogs and files dropped on the window.
#include <algorithm>
#include <filesystem>

#include "core/time_format.h"
#include "discs/title_choice.h"
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
    discTitles_.clear();
    titleVerdicts_.clear();
    discTitle_ = 0;
    discAngle_ = 1;
    // What the read reads, in its caption: an HD DVD's .EVO, a DVD's VOB or AOB, a disc's title.
    const SourceKind kind = fileSourceKind(path);
    playlistApplies_ = kind != SourceKind::DvdFile && kind != SourceKind::DvdAudioFile;
    setCaption(Control::bReadEVO, kind == SourceKind::DvdFile        ? "Read VOB"
                                  : kind == SourceKind::DvdAudioFile ? "Read AOB"
                                                                     : "Read EVO");
    if (kind == SourceKind::ProgramStream && looksLikeDisc(path)) {
        runJob([&] {
            const std::unique_ptr<Disc> disc = openDisc(path);
            // Only an HD DVD has a playlist to read.
            playlistApplies_ = std::string(disc->kind()) == "hddvd";
            setCaption(Control::bReadEVO, "Read title");
            discTitles_ = disc->titles();
            titleVerdicts_ = judgeTitles(discTitles_, 0);
            log_.log({"Disc ", asStrong(fileNamePart(path, style_)),
                      ": " + std::to_string(discTitles_.size()) +
                          (discTitles_.size() == 1 ? " title" : " titles")});
            for (const TitleChoice& choice : titleChoices()) {
                log_.log(choice.entry);
            }
            // The main title is the feature a user most often wants.
            discTitle_ = mainTitleNumber(discTitles_);
        });
        // What is no disc cannot be read as a file either.
        setEnabled(Control::bReadEVO, discTitle_ > 0);
    }
    if (view_ != nullptr) {
        view_->discChanged();
    }
}

void MainForm::chooseTitle(int number, int angle) {
    if (busy_ || (number == discTitle_ && angle == discAngle_) ||
        std::none_of(discTitles_.begin(), discTitles_.end(), [&](const DiscTitle& title) {
            return title.number == number && angle >= 1 && angle <= title.angles;
        })) {
        return;
    }
    discTitle_ = number;
    discAngle_ = angle;
    Resetcbs();
    lastRead_ = {};
    if (view_ != nullptr) {
        view_->discChanged();
    }
    bReadEVOClick();
}

std::vector<MainForm::TitleChoice> MainForm::titleChoices() const {
    std::vector<TitleChoice> choices;
    for (const DiscTitle& title : discTitles_) {
        for (int angle = 1; angle == 1 || (angle <= title.angles && title.damage.empty());
             ++angle) {
            choices.push_back(TitleChoice{title.number, angle, titleEntry(title, angle)});
        }
    }
    return choices;
}

std::string MainForm::titleEntry(const DiscTitle& title, int angle) const {
    if (!title.damage.empty()) {
        return "Title " + std::to_string(title.number) + ": cannot be read: " + title.damage;
    }
    std::string entry = "Title " + std::to_string(title.number) +
                        (title.angles > 1 ? ", angle " + std::to_string(angle) : "") + ": " +
                        (title.name.empty() ? std::string() : title.name + ", ") +
                        formatDuration(title.duration, formatSettings_) + ", " +
                        std::to_string(title.chapters.size()) +
                        (title.chapters.size() == 1 ? " chapter" : " chapters");
    for (const StreamKind kind : {StreamKind::Audio, StreamKind::Subpicture}) {
        std::string languages;
        for (const DiscStream& stream : title.streams) {
            if (stream.kind == kind && !stream.language.empty()) {
                languages += " " + stream.language;
            }
        }
        if (!languages.empty()) {
            entry += (kind == StreamKind::Audio ? ", audio" : ", subtitles") + languages;
        }
    }
    // What tells the title apart among decoys: "main title", "decoy: its cells jump back".
    for (size_t k = 0; k < discTitles_.size() && k < titleVerdicts_.size(); ++k) {
        const TitleVerdict& verdict = titleVerdicts_[k];
        if (discTitles_[k].number != title.number || verdict.role == TitleRole::Plain) {
            continue;
        }
        entry += std::string(", ") + roleName(verdict.role) +
                 (verdict.reason.empty() ? "" : ": " + verdict.reason);
    }
    return entry;
}

void MainForm::WMDropFiles(const std::vector<std::string>& paths) {
    // Like the browse buttons, a drop cannot change the source of a running job.
    if (paths.empty() || busy_) {
        return;
    }
    const std::string& path = paths.front();  // only the first of several files
    const SourceKind kind = fileSourceKind(path);
    if (kind == SourceKind::HdDvdFile || kind == SourceKind::DvdFile || looksLikeDisc(path)) {
        chooseSource(path);
        if (ticked(Control::cbAutoRead)) {
            bReadEVOClick();
        }
    } else if (upperCase(extensionOf(path, style_)) == ".XPL") {
        setText(Control::eXPLfile, path);
        XPLadj();
        if (ticked(Control::cbAutoRead)) {
            bReadXPLClick();
        }
    }
}

}  // namespace tolvane
