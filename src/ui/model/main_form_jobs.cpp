// The job handlers: each turns the controls into its job's input, runs the job and shows its
// result in the controls.
#include <algorithm>

#include <filesystem>

#include "core/platform_error.h"
#include "jobs/demux_job.h"
#include "jobs/mkv_job.h"
#include "jobs/read_job.h"
#include "jobs/rebuild_job.h"
#include "jobs/stream_selection.h"
#include "ui/model/int_edit.h"
#include "ui/model/main_form.h"

namespace tolvane {

JobContext MainForm::jobContext() {
    return JobContext{
        .control = control_,
        .log = log_,
        .os = os_,
        .style = style_,
        .fileExists = fileExists_,
        .openInput = openInput_,
        .cancellable = [this](bool offered) { setEnabled(Control::bCancel, offered); },
        .formatSettings = formatSettings_,
    };
}

int64_t MainForm::fastSizeMb() const {
    return intEditValue(text(Control::ieFastSize));
}

PassSettings MainForm::passSettings() const {
    return PassSettings{
        .fastCheck = ticked(Control::cbFastCheck),
        .fastCheckMb = fastSizeMb(),
        .countFrames = ticked(Control::cbCountFr),
        .details = ticked(Control::cbDetails),
        .continueOnSecondFile = ticked(Control::cbContinue),
        .title = discTitle_,
        .angle = discAngle_,
    };
}

const StreamBox* MainForm::labelledBox(StreamKind kind, int number) const {
    const auto found = std::find_if(labelled_.begin(), labelled_.end(), [&](const StreamBox& box) {
        return box.kind == kind && box.number == number;
    });
    return found != labelled_.end() ? &*found : nullptr;
}

std::vector<StreamBox> MainForm::streamBoxes() const {
    std::vector<StreamBox> boxes;
    const auto add = [&](StreamKind kind, int count, Control (*box)(int)) {
        for (int n = 0; n < count; ++n) {
            const StreamBox* found = labelledBox(kind, n);
            if (found == nullptr && !ticked(box(n))) {
                continue;
            }
            StreamBox stream = found != nullptr
                                   ? *found
                                   : StreamBox{.kind = kind, .number = n, .id = kStreamAbsent};
            // A caption the read gave names the file by the stream's label alone.
            if (found == nullptr || control(box(n)).caption != boxCaption(*found)) {
                stream.label = control(box(n)).caption;
            }
            stream.chosen = ticked(box(n));
            boxes.push_back(std::move(stream));
        }
    };
    add(StreamKind::Video, kVideoBoxes, videoBox);
    add(StreamKind::Audio, kAudioBoxes, audioBox);
    add(StreamKind::Subpicture, kSubBoxes, subBox);
    return boxes;
}

std::optional<int32_t> MainForm::streamDelayMs(StreamKind kind, int number) const {
    const StreamBox* box = labelledBox(kind, number);
    return box != nullptr ? box->delayMs : std::nullopt;
}

MainForm::Buttons MainForm::buttons() const {
    return Buttons{enabled(Control::bReadEVO),  enabled(Control::bReadXPL),
                   enabled(Control::bDemux),    enabled(Control::bRebuild),
                   enabled(Control::bMatroska), enabled(Control::bbEVO),
                   enabled(Control::bbXPL)};
}

void MainForm::restore(const Buttons& before) {
    setEnabled(Control::bReadEVO, before.readEvo);
    setEnabled(Control::bReadXPL, before.readXpl);
    setEnabled(Control::bDemux, before.demux);
    setEnabled(Control::bRebuild, before.rebuild);
    setEnabled(Control::bMatroska, before.matroska);
    setEnabled(Control::bbEVO, before.browseEvo);
    setEnabled(Control::bbXPL, before.browseXpl);
}

void MainForm::disableWritingCommands() {
    setEnabled(Control::bDemux, false);
    setEnabled(Control::bRebuild, false);
    setEnabled(Control::bMatroska, false);
}

void MainForm::startWriting() {
    disableWritingCommands();
    showPage(0);  // the log, where the job reports
}

bool MainForm::runJob(const std::function<void()>& job) {
    if (busy_) {
        return false;  // one job at a time
    }
    busy_ = true;
    const Buttons before = buttons();
    try {
        job();
    } catch (const JobError& error) {
        // The user must be able to correct the path and try again.
        restore(before);
        busy_ = false;
        os_.showError(error.what());
        return false;
    }
    busy_ = false;
    return true;
}

void MainForm::labelStreamBoxes(const std::vector<StreamBox>& found) {
    labelled_ = found;
    for (const StreamBox& stream : found) {
        const Control box = stream.kind == StreamKind::Video   ? videoBox(stream.number)
                            : stream.kind == StreamKind::Audio ? audioBox(stream.number)
                                                               : subBox(stream.number);
        setEnabled(box, true);
        setTicked(box, true);
        setCaption(box, boxCaption(stream));
    }
}

std::string MainForm::boxCaption(const StreamBox& stream) {
    // What the user chooses by: the coding and its shape, the language and the delay.
    std::vector<std::string> details;
    if (stream.coding && stream.kind != StreamKind::Subpicture) {
        details.push_back(codingName(*stream.coding));
    }
    const StreamHeader& header = stream.header;
    if (stream.kind == StreamKind::Video && header.width && header.height) {
        details.push_back(std::to_string(*header.width) + "x" + std::to_string(*header.height));
    }
    if (stream.kind == StreamKind::Audio) {
        if (const std::optional<std::string> layout =
                stream.coding ? channelLayout(*stream.coding, header) : std::nullopt) {
            details.push_back(*layout);
        } else if (header.channels) {
            details.push_back(std::to_string(*header.channels) + " ch");
        }
    }
    if (!stream.language.empty()) {
        details.push_back(stream.language);
    }
    // A subpicture stream's first time is its first subtitle's, no delay of the stream.
    if (stream.delayMs && stream.kind == StreamKind::Audio) {
        details.push_back("delay " + std::to_string(*stream.delayMs) + " ms");
    }
    std::string caption = stream.label;
    for (size_t k = 0; k < details.size(); ++k) {
        caption += (k == 0 ? "  " : ", ") + details[k];
    }
    return caption;
}

void MainForm::bReadEVOClick() {
    bool readXplWasEnabled = enabled(Control::bReadXPL);
    const bool done = runJob([&] {
        if (ticked(Control::cbAutoClear)) {
            log_.clear();
        }
        setEnabled(Control::bReadEVO, false);
        readXplWasEnabled = enabled(Control::bReadXPL);
        setEnabled(Control::bReadXPL, false);
        disableWritingCommands();
        setEnabled(Control::bbEVO, false);
        setEnabled(Control::bbXPL, false);
        Resetcbs();
        showPage(0);
        lastRead_ = {};
        ReadJob job(jobContext());
        lastRead_ = job.run(ReadInput{text(Control::eEVOfile), passSettings()});
        paths_.baseName = lastRead_.baseName;
        labelStreamBoxes(lastRead_.streams);
    });
    if (!done) {
        return;
    }
    setEnabled(Control::bReadEVO, true);
    setEnabled(Control::bReadXPL, readXplWasEnabled);
    setEnabled(Control::bbEVO, true);
    setEnabled(Control::bbXPL, true);
    cbVideoClick();

    // A cancelled read or a closing window starts nothing more, and neither does a command
    // that the window would not offer.
    if (control_.cancelled || closing_) {
        return;
    }
    if (ticked(Control::rbAutoDemux) && enabled(Control::bDemux)) {
        bDemuxClick();
    } else if (ticked(Control::rbAutoRebuild) && enabled(Control::bRebuild)) {
        bRebuildClick();
    }
}

void MainForm::bDemuxClick() {
    const bool done = runJob([&] {
        startWriting();
        DemuxInput input{
            .sourcePath = text(Control::eEVOfile),
            .settings = passSettings(),
            .boxes = streamBoxes(),
            .naming =
                OutputNaming{
                    .folder = chosenOutputFolder(),
                    .videoExtension = text(Control::eVideoExt),
                    .audioExtension = text(Control::eAudioExt),
                    .subpictureExtension = text(Control::eSubExt),
                    .delayNames = ticked(Control::cbDelayNames),
                    .extensionByCoding = ticked(Control::cbExtByCoding),
                },
            .earliestPts = lastRead_.earliestPts,
            .frameRates = {lastRead_.frames[0].frameRate, lastRead_.frames[1].frameRate},
        };
        DemuxJob job(jobContext());
        paths_.baseName = job.run(input).baseName;
        sayOutputFolder(input.naming.folder);
    });
    if (done) {
        cbVideoClick();  // the command rule decides, as after every job
    }
}

std::string MainForm::chosenOutputFolder() const {
    // An empty folder is the working directory, which a desktop user never sees: it is named
    // whole, in the log and in the file names.
    std::error_code error;
    const std::filesystem::path folder =
        text(Control::eWorkdir).empty() ? std::filesystem::current_path(error)
                                        : std::filesystem::absolute(text(Control::eWorkdir), error);
    return error ? text(Control::eWorkdir) : folder.lexically_normal().string();
}

void MainForm::sayOutputFolder(const std::string& folder) {
    outputFolder_ = folder;
    log_.log({"Output folder: ", asStrong(folder)});
    log_.log("");
    if (view_ != nullptr) {
        view_->outputFolderChanged();
    }
}

void MainForm::bRebuildClick() {
    const bool done = runJob([&] {
        startWriting();
        RebuildInput input{
            .sourcePath = text(Control::eEVOfile),
            .settings = passSettings(),
            .boxes = streamBoxes(),
            .outputFolder = chosenOutputFolder(),
            .advancedPacks = ticked(Control::cbRBAdvanced),
        };
        // Without a DSI met by a read of this source there are no times to write.
        input.times = PackRebuilder::rebuiltTimes(lastRead_.navigation);
        RebuildJob job(jobContext());
        paths_.baseName = job.run(input).baseName;
        sayOutputFolder(input.outputFolder);
    });
    if (done) {
        cbVideoClick();  // the command rule decides, as after every job
    }
}

void MainForm::bMatroskaClick() {
    const bool done = runJob([&] {
        startWriting();
        MkvInput input{
            .sourcePath = text(Control::eEVOfile),
            .settings = passSettings(),
            .output = chosenOutputFolder(),
            .select = std::vector<std::string>{},
        };
        // The ticked boxes a read labelled: a box ticked by hand names no stream.
        for (const StreamBox& box : streamBoxes()) {
            if (box.chosen && box.id != kStreamAbsent) {
                input.select->push_back(boxName(box.kind, box.number));
            }
        }
        MkvJob job(jobContext());
        paths_.baseName = job.run(input).read.baseName;
        sayOutputFolder(input.output);
    });
    if (done) {
        cbVideoClick();  // the command rule decides, as after every job
    }
}

void MainForm::bReadXPLClick() {
    bool readEvoWasEnabled = enabled(Control::bReadEVO);
    const bool done = runJob([&] {
        Resetcbs();
        setEnabled(Control::bReadXPL, false);
        readEvoWasEnabled = enabled(Control::bReadEVO);
        setEnabled(Control::bReadEVO, false);
        setEnabled(Control::bbEVO, false);
        setEnabled(Control::bbXPL, false);
        showPage(4);
        memoVisible_ = false;
        XplJob job(jobContext(), xplTables_);
        try {
            playlist_ = job.run(XplInput{text(Control::eXPLfile), text(Control::eEVOfile)});
        } catch (const JobError&) {
            memoVisible_ = true;
            throw;
        }
        for (const AnnouncedTrack& track : playlist_.tracks) {
            if (!track.box) {
                continue;  // a track number no box has
            }
            const Control box = track.kind == StreamKind::Video   ? videoBox(*track.box)
                                : track.kind == StreamKind::Audio ? audioBox(*track.box)
                                                                  : subBox(*track.box);
            setEnabled(box, true);
            setTicked(box, true);
            setCaption(box, track.caption);
            // A stream the last read of this source met keeps what the read told of it
            // (coding, layout, delay) after the playlist's caption.
            for (const StreamBox& met : lastRead_.streams) {
                if (met.kind == track.kind && met.number == *track.box) {
                    StreamBox shown = met;
                    shown.label = track.caption;
                    shown.language.clear();  // the playlist's caption names it
                    setCaption(box, boxCaption(shown));
                }
            }
            labelled_.push_back(StreamBox{.kind = track.kind,
                                          .number = *track.box,
                                          .id = kStreamAnnounced,
                                          .label = track.caption});
            if (track.hint) {
                setHint(box, track.caption);
            }
        }
        xplTree_ = playlist_.tree;
        memoVisible_ = true;
        if (view_ != nullptr) {
            view_->playlistChanged();
        }
    });
    if (done) {
        setEnabled(Control::bReadXPL, true);
        setEnabled(Control::bbEVO, true);
        setEnabled(Control::bbXPL, true);
        setEnabled(Control::bReadEVO, readEvoWasEnabled);
    }
}

std::vector<ChapterMark> MainForm::xplChapters() const {
    return playlist_.chapters;
}

void MainForm::saveChapters(const std::string& path) {
    tolvane::saveChapters(playlist_, path, style_, log_);
}

}  // namespace tolvane
