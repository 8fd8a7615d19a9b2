// The rebuild job: a new .EVO file that keeps only the ticked streams, renumbered, with its
// navigation packs patched to match.
#include "core/pack_engine.h"
#include "core/platform_error.h"
#include "core/progress.h"
#include "jobs/pack_rebuilder.h"
#include "ui/model/main_form.h"

namespace tolvane {

void MainForm::Rebuild(PackRebuilder& rebuilder, OutputSink& output) {
    setEnabled(Control::bCancel, true);
    JobState& job = state_->job;
    job.cancelled = false;
    InputSource& source = *job.source;
    const int64_t size = source.size();
    const double start = os_.now();
    // Without a DSI met by a read of this source there are no times to write.
    const std::optional<PackRebuilder::Times> times =
        job.ptmKnown ? std::optional(PackRebuilder::Times{job.firstPtm, job.lastPtm})
                     : std::nullopt;
    bool stop = false;
    while (!stop && source.position() < size && !job.cancelled) {
        const int64_t blockStart = source.position();
        const size_t read = readBlock(source, job.buffer.data(), job.buffer.size());
        job.bufferLength = read;
        if (read == 0) {
            break;
        }
        // The block is taken pack by pack, as if each pack had been read on its own.
        for (size_t at = 0; at < read && !stop; at += PackRebuilder::kPackSize) {
            const size_t n = std::min(PackRebuilder::kPackSize, read - at);
            const int64_t position = blockStart + static_cast<int64_t>(at + n);
            if (position % kProgressStep == 0) {
                log_.slog("Rebuilding " + rebuildName_ + " " +
                              progressText(position, size, os_.now() - start, job),
                          StatusPanel::Progress);
                os_.processEvents();
            }
            uint8_t* pack = job.buffer.data() + at;
            if (rebuilder.process(pack, n, ticked(Control::cbRBAdvanced), times)) {
                output.append(pack, n);
            }
            stop = job.cancelled;
        }
    }
    setEnabled(Control::bCancel, false);
}

void MainForm::rebuildJob(std::unique_ptr<FileOutput>& output) {
    setEnabled(Control::bDemux, false);
    setEnabled(Control::bRebuild, false);
    showPage(0);
    state_->job.writing = true;
    PackRebuilder rebuilder(state_->streams, *this, log_);
    if (const std::optional<std::string> refused = rebuilder.start()) {
        throw JobError(*refused);
    }

    const std::string& sourcePath = text(Control::eEVOfile);
    const JobNames names = formJobNames(paths_.sourceName, sourcePath, ticked(Control::cbContinue),
                                        style_, fileExists_);
    paths_.baseName = names.baseName;
    const std::string prefix = outputPrefix(text(Control::eWorkdir), names.baseName, style_);

    log_.log("Opening file [b]" + escapeMarkup(paths_.sourceName) + "[/b]");
    log_.slog("Opening", StatusPanel::Job);
    openSource(sourcePath);
    log_.log(sizeReport(state_->job.source->size()));
    const std::string outputName = prefix + ".rebuilt.EVO";
    output = std::make_unique<FileOutput>(outputName);
    log_.log("Creating " + escapeMarkup(outputName));
    log_.log("Rebuilding...");
    rebuildName_ = paths_.sourceName;
    log_.slog("Rebuilding " + rebuildName_, StatusPanel::Job);
    Rebuild(rebuilder, *output);

    if (ticked(Control::cbContinue) && !state_->job.cancelled && names.second) {
        openSource(names.secondPath);
        rebuildName_ = fileNamePart(names.secondPath, style_);
        log_.log("Continue on [b]" + escapeMarkup(rebuildName_) + "[/b]");
        log_.log("Rebuilding...");
        log_.slog("Rebuilding " + rebuildName_, StatusPanel::Job);
        Rebuild(rebuilder, *output);
    }
    state_->job.source.reset();
    output->close();
    output.reset();

    logDone();
}

void MainForm::bRebuildClick() {
    std::unique_ptr<FileOutput> output;
    const bool done = runJob([&] { rebuildJob(output); },
                             [&] {
                                 if (output) {
                                     output->closeQuietly();
                                 }
                                 setEnabled(Control::bCancel, false);
                                 resetForWritingJobEnd(*state_);
                             });
    if (done) {
        resetForWritingJobEnd(*state_);
        cbVideoClick();  // the command rule decides, as after every job
    }
}

}  // namespace tolvane
