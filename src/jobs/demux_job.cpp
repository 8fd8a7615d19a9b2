// The demux job: one elementary-stream file per ticked stream box, filled by the demux pass
// over the source and the second feature file.
#include <cmath>

#include "core/platform_error.h"
#include "jobs/stream_labels.h"
#include "ui/model/main_form.h"

namespace tolvane {

std::optional<int32_t> MainForm::streamDelayMs(StreamKind kind, int number) const {
    const StreamTable& streams = state_->streams;
    // Measured from the first video stream the read reported.
    const std::optional<uint32_t> video =
        streams.videoFirstPts[0] ? streams.videoFirstPts[0] : streams.videoFirstPts[1];
    if (!video || number < 0) {
        return std::nullopt;
    }
    const auto n = static_cast<size_t>(number);
    std::optional<uint32_t> first;
    if (kind == StreamKind::Audio && n < streams.audioFirstPts.size()) {
        first = streams.audioFirstPts[n];
    } else if (kind == StreamKind::Subpicture && n < streams.subFirstPts.size()) {
        first = streams.subFirstPts[n];
    }
    if (!first) {
        return std::nullopt;
    }
    const auto ticks = static_cast<int32_t>(*first - *video);  // wraps across the 32-bit clock
    return static_cast<int32_t>(std::lround(ticks / 90.0));
}

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
    const auto plan = [&](StreamKind kind, int n, Control box, Control extension,
                          OutputSink*& slot) {
        if (!ticked(box)) {
            return;
        }
        std::string name = prefix + "." + safeFileNamePart(control(box).caption);
        if (kind == StreamKind::Audio && ticked(Control::cbDelayNames)) {
            // The convention muxing front ends read a track's delay from.
            if (const std::optional<int32_t> delay = streamDelayMs(kind, n)) {
                name += " DELAY " + std::to_string(*delay) + "ms";
            }
        }
        std::optional<std::string> ext;
        if (ticked(Control::cbExtByCoding)) {
            ext = codingExtension(kind, *boxIdEntry(streams, kind, n), sourceIsAob());
        }
        // Captions may come from playlist text: they must not name another folder.
        planned.push_back({name + "." + safeFileNamePart(ext.value_or(text(extension))), &slot});
    };
    for (int n = 0; n < 2; ++n) {
        plan(StreamKind::Video, n, videoBox(n), Control::eVideoExt,
             streams.videoOut[static_cast<size_t>(n)]);
    }
    for (int n = 0; n < kAudioBoxes; ++n) {
        plan(StreamKind::Audio, n, audioBox(n), Control::eAudioExt,
             streams.audioOut[static_cast<size_t>(n)]);
    }
    for (int n = 0; n < kSubBoxes; ++n) {
        plan(StreamKind::Subpicture, n, subBox(n), Control::eSubExt,
             streams.subOut[static_cast<size_t>(n)]);
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
