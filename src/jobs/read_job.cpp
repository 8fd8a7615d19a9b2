// The read job: opens the source (and the second feature file), runs the detection pass over
// each and labels a stream box for every stream found.
#include "core/demux_pass.h"
#include "core/detection_pass.h"
#include "core/pack_engine.h"
#include "core/platform_error.h"
#include "jobs/stream_labels.h"
#include "ui/model/main_form.h"

namespace tolvane {

namespace {

// Enables the Cancel button while a pass runs, also when the pass ends by an error.
class CancelEnabled {
public:
    explicit CancelEnabled(MainForm& form) : form_(form) {
        form_.setEnabled(Control::bCancel, true);
    }
    ~CancelEnabled() { form_.setEnabled(Control::bCancel, false); }
    CancelEnabled(const CancelEnabled&) = delete;
    CancelEnabled& operator=(const CancelEnabled&) = delete;

private:
    MainForm& form_;
};

}  // namespace

void MainForm::demux(PassMode mode) {
    CancelEnabled cancel(*this);
    PackEngine engine(*state_, os_, log_);
    if (mode == PassMode::Detection) {
        DetectionPass pass(*state_, log_, *this, *analysers_);
        engine.demux(mode, pass);
    } else {
        DemuxPass pass(*state_, log_, *this);
        engine.demux(mode, pass);
    }
}

MainForm::Buttons MainForm::buttons() const {
    return Buttons{enabled(Control::bReadEVO), enabled(Control::bReadXPL), enabled(Control::bDemux),
                   enabled(Control::bRebuild), enabled(Control::bbEVO),    enabled(Control::bbXPL)};
}

void MainForm::restore(const Buttons& before) {
    setEnabled(Control::bReadEVO, before.readEvo);
    setEnabled(Control::bReadXPL, before.readXpl);
    setEnabled(Control::bDemux, before.demux);
    setEnabled(Control::bRebuild, before.rebuild);
    setEnabled(Control::bbEVO, before.browseEvo);
    setEnabled(Control::bbXPL, before.browseXpl);
}

bool MainForm::runJob(const std::function<void()>& job, const std::function<void()>& cleanUp) {
    if (busy_) {
        return false;  // one job at a time
    }
    busy_ = true;
    const Buttons before = buttons();
    try {
        job();
    } catch (const JobError& error) {
        cleanUp();
        endWithPlatformError(error.what(), before);
        return false;
    }
    busy_ = false;
    return true;
}

void MainForm::endWithPlatformError(const std::string& message, const Buttons& before) {
    state_->job.source.reset();
    // The user must be able to correct the path and try again.
    restore(before);
    log_.slog("Ready", StatusPanel::Job);
    log_.slog("", StatusPanel::Progress);
    busy_ = false;
    os_.showError(message);
}

void MainForm::continueOnSecondFile(const JobNames& names, PassMode mode) {
    if (!ticked(Control::cbContinue) || state_->job.cancelled || !names.second) {
        return;
    }
    openSource(names.secondPath);
    const std::string secondName = fileNamePart(names.secondPath, style_);
    const std::string verb = mode == PassMode::Detection ? "Reading" : "Demuxing";
    log_.log("");
    log_.log("Continue on [b]" + escapeMarkup(secondName) + "[/b]");
    log_.log(verb + "...");
    log_.slog(verb + " " + secondName, StatusPanel::Job);
    demux(mode);
}

void MainForm::logDone() {
    log_.log("Done.");
    log_.log("");
    log_.slog("Ready", StatusPanel::Job);
    log_.slog("", StatusPanel::Progress);
}

void MainForm::finishJob(bool secondFile) {
    logDone();
    logframes(secondFile);
}

void MainForm::openSource(const std::string& path) {
    state_->job.source.reset();
    state_->job.source = openInput_(path);
}

void MainForm::labelStreamBoxes() {
    StreamTable& streams = state_->streams;
    const auto label = [&](Control box, StreamKind kind, int n, int32_t entry) {
        const bool present = entry != kStreamAbsent;
        *boxIdEntry(streams, kind, n) = entry;
        setEnabled(box, present);
        setTicked(box, present);
        if (present) {
            setCaption(box, streamLabel(kind, entry) + streamBoxSuffix(kind, n));
        }
    };
    for (int n = 0; n < 2; ++n) {
        label(videoBox(n), StreamKind::Video, n, streams.videoId[static_cast<size_t>(n)]);
    }
    for (int n = 0; n < kAudioBoxes; ++n) {
        label(audioBox(n), StreamKind::Audio, n, streams.audioId[static_cast<size_t>(n)]);
    }
    for (int n = 0; n < kSubBoxes; ++n) {
        label(subBox(n), StreamKind::Subpicture, n, streams.subId[static_cast<size_t>(n)]);
    }
}

void MainForm::readJob(bool& readXplWasEnabled) {
    if (ticked(Control::cbAutoClear)) {
        log_.clear();
    }
    setEnabled(Control::bReadEVO, false);
    readXplWasEnabled = enabled(Control::bReadXPL);
    setEnabled(Control::bReadXPL, false);
    setEnabled(Control::bDemux, false);
    setEnabled(Control::bRebuild, false);
    setEnabled(Control::bbEVO, false);
    setEnabled(Control::bbXPL, false);
    Resetcbs();
    showPage(0);

    resetForReadJob(*state_);
    const std::string& sourcePath = text(Control::eEVOfile);
    const JobNames names = formJobNames(paths_.sourceName, sourcePath, ticked(Control::cbContinue),
                                        style_, fileExists_);
    paths_.baseName = names.baseName;

    log_.log("Opening file [b]" + escapeMarkup(paths_.sourceName) + "[/b]");
    openSource(sourcePath);
    log_.log("Reading...");
    log_.slog("Reading " + fileNamePart(sourcePath, style_) + " ", StatusPanel::Job);
    log_.log(sizeReport(state_->job.source->size()));
    demux(PassMode::Detection);

    continueOnSecondFile(names, PassMode::Detection);
    state_->job.source.reset();

    labelStreamBoxes();
    finishJob(names.second);
}

void MainForm::bReadEVOClick() {
    bool readXplWasEnabled = enabled(Control::bReadXPL);
    if (!runJob([&] { readJob(readXplWasEnabled); }, [] {})) {
        return;
    }
    setEnabled(Control::bReadEVO, true);
    setEnabled(Control::bReadXPL, readXplWasEnabled);
    setEnabled(Control::bbEVO, true);
    setEnabled(Control::bbXPL, true);
    cbVideoClick();

    // A cancelled read or a closing window starts nothing more, and neither does a command
    // that the window would not offer.
    if (state_->job.cancelled || closing_) {
        return;
    }
    if (ticked(Control::rbAutoDemux) && enabled(Control::bDemux)) {
        bDemuxClick();
    } else if (ticked(Control::rbAutoRebuild) && enabled(Control::bRebuild)) {
        bRebuildClick();
    }
}

}  // namespace tolvane
