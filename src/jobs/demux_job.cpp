// The demux job: one elementary-stream file per ticked stream box, filled by the demux pass
// over the source and the second feature file.
#include "core/platform_error.h"
#include "ui/model/main_form.h"

namespace tolvane {

void MainForm::dropOutputs() {
    StreamTable& streams = state_->streams;
    streams.videoOut.fill(nullptr);
    streams.audioOut.fill(nullptr);
    streams.subOut.fill(nullptr);
}

void MainForm::createOutputs(const std::string& prefix,
                             std::vector<std::unique_ptr<FileOutput>>& outputs) {
    StreamTable& streams = state_->streams;
    struct Planned {
        std::string name;
        OutputSink** slot;
    };
    std::vector<Planned> planned;
    const auto plan = [&](Control box, Control extension, OutputSink*& slot) {
        if (ticked(box)) {
            // Captions may come from playlist text: they must not name another folder.
            planned.push_back({prefix + "." + safeFileNamePart(control(box).caption) + "." +
                                   safeFileNamePart(text(extension)),
                               &slot});
        }
    };
    for (int n = 0; n < 2; ++n) {
        plan(videoBox(n), Control::eVideoExt, streams.videoOut[static_cast<size_t>(n)]);
    }
    for (int n = 0; n < kAudioBoxes; ++n) {
        plan(audioBox(n), Control::eAudioExt, streams.audioOut[static_cast<size_t>(n)]);
    }
    for (int n = 0; n < kSubBoxes; ++n) {
        plan(subBox(n), Control::eSubExt, streams.subOut[static_cast<size_t>(n)]);
    }
    // Every name is checked before the first file is created, so that a bad one cannot leave
    // the others truncated.
    for (const Planned& output : planned) {
        if (fileNamePart(output.name, style_).size() > kMaxFileNameBytes) {
            throw JobError("Cannot create \"" + output.name + "\": the file name is longer than " +
                           std::to_string(kMaxFileNameBytes) + " bytes.");
        }
    }
    for (const Planned& output : planned) {
        outputs.push_back(std::make_unique<FileOutput>(output.name));
        *output.slot = outputs.back().get();
        log_.log("Creating " + escapeMarkup(output.name));
    }
}

void MainForm::demuxJob(std::vector<std::unique_ptr<FileOutput>>& outputs) {
    setEnabled(Control::bDemux, false);
    setEnabled(Control::bRebuild, false);
    showPage(0);

    resetForDemuxJob(*state_);
    const std::string& sourcePath = text(Control::eEVOfile);
    const JobNames names = formJobNames(paths_.sourceName, sourcePath, ticked(Control::cbContinue),
                                        style_, fileExists_);
    paths_.baseName = names.baseName;
    const std::string prefix = outputPrefix(text(Control::eWorkdir), names.baseName, style_);

    log_.log("Opening file " + escapeMarkup(paths_.sourceName));
    log_.slog("Opening", StatusPanel::Job);
    openSource(sourcePath);
    log_.log(sizeReport(state_->job.source->size()));
    createOutputs(prefix, outputs);
    log_.log("Demuxing...");
    log_.slog("Demuxing " + fileNamePart(sourcePath, style_), StatusPanel::Job);
    demux(PassMode::Demux);

    continueOnSecondFile(names, PassMode::Demux);

    state_->job.source.reset();
    dropOutputs();
    for (std::unique_ptr<FileOutput>& output : outputs) {
        output->close();  // what is still buffered is written now, and may fail
    }
    outputs.clear();

    finishJob(names.second);
}

void MainForm::bDemuxClick() {
    std::vector<std::unique_ptr<FileOutput>> outputs;
    const bool done = runJob([&] { demuxJob(outputs); },
                             [&] {
                                 dropOutputs();
                                 for (std::unique_ptr<FileOutput>& output : outputs) {
                                     output->closeQuietly();
                                 }
                                 resetForWritingJobEnd(*state_);
                             });
    if (done) {
        resetForWritingJobEnd(*state_);
        cbVideoClick();  // the command rule decides, as after every job
    }
}

}  // namespace tolvane
