#include "sinks/navigation.h"

#include "analysers/label_tables.h"
#include "core/number_format.h"
#include "core/time_format.h"
#include "format/navigation_packets.h"

namespace tolvane {

namespace {

// The packet's bytes from `offset` when the whole packet lies inside the block; none otherwise,
// so that a packet cut by the block's end is passed over.
size_t availableBytes(const NavigationContext& context, size_t offset, const ScanState& scan) {
    const size_t packetLeft = scan.remaining > 0 ? static_cast<size_t>(scan.remaining) : 0;
    const size_t blockEnd = context.state.job.bufferLength;
    return offset < blockEnd && packetLeft <= blockEnd - offset ? packetLeft : 0;
}

}  // namespace

void analyseCopyControl(const NavigationContext& context, size_t offset, const ScanState& scan) {
    const std::optional<CopyControlState> state = decodeCopyControl(
        context.state.job.buffer.data() + offset, availableBytes(context, offset, scan));
    if (!state) {
        return;
    }
    const LabelTables& labels = kLabelTables;
    Reporter& out = context.reporter;
    if (state->scrambled) {
        out.log({asStrong("This file is ENCRYPTED!"), " Decrypt it before any process."});
    }
    JobState& job = context.state.job;
    if (context.detectionPass && !job.copyControl) {
        job.copyControl = state;
    }
    if (state->cgms.value_or(0) != 0) {
        out.log({asStrong(std::string(labels.cgmsText[*state->cgms]))});
    }
    if (state->aps.value_or(0) != 0) {
        out.log({asStrong(std::string(labels.apsText[*state->aps]))});
    }
    if (state->ict) {
        out.log({asStrong("ICT on, constrained analog output")});
    }
    if (state->dot) {
        out.log({asStrong("DOT on, analog output not allowed")});
    }
}

void analyseDsi(const NavigationContext& context, size_t offset, ScanState& scan) {
    const std::optional<DsiRecord> dsi =
        decodeDsi(context.state.job.buffer.data() + offset, availableBytes(context, offset, scan),
                  context.sourceKind);
    if (!dsi || !dsi->audioStreams || !dsi->subpictureStreams) {
        return;
    }
    JobState& job = context.state.job;
    Reporter& out = context.reporter;

    if (scan.audioBound == 0) {
        scan.audioBound = static_cast<uint8_t>(*dsi->audioStreams);
    }
    const int subpictures = *dsi->subpictureStreams;
    const uint32_t vob = dsi->vobNumber;
    // A muxer that only reserves the navigation packs (ffmpeg's) leaves them zero-filled:
    // VOB numbers start at 1, and a pack with no times gives none.
    const bool timed = dsi->firstPtm != 0 || dsi->lastPtm != 0;
    if (context.detectionPass && !job.firstVobNumber && vob != 0) {
        job.firstVobNumber = vob;
    }
    if (context.detectionPass && vob == 0 && !timed) {
        if (!job.untimedNavigationSaid) {
            out.log("The navigation packs carry no VOB number and no times.");
            job.untimedNavigationSaid = true;
        }
        return;
    }
    if (context.detectionPass) {
        LogEvent line{vob != 0 ? "VOB number " + std::to_string(vob) + " contains "
                               : std::string("The VOB contains "),
                      asStrong(std::to_string(scan.videoBound)),
                      subpictures > 0 ? " video, " : " video and ",
                      asStrong(std::to_string(scan.audioBound)), " audio "};
        if (subpictures > 0) {
            line << "and " << asStrong(std::to_string(subpictures)) << " subpicture ";
        }
        line << (scan.videoBound + scan.audioBound + subpictures > 1 ? "streams." : "stream.");
        out.log(line);
    }

    if (!timed) {
        if (context.detectionPass) {
            out.log("The navigation packs carry no times.");
        }
        return;
    }
    const uint32_t start = dsi->firstPtm;
    if (job.firstPtm == 0) {
        job.firstPtm = start;
    }
    if (context.detectionPass) {
        out.log({"PTM of first video frame = ", asTime(hexUpper(start, 8))});
    }
    const uint32_t end = dsi->lastPtm;
    job.lastPtm = end;
    job.ptmKnown = true;
    if (context.detectionPass) {
        out.log("PTM of last video frame = " + hexUpper(end, 8));
    }
    const uint32_t span = end - start;  // wraps when the end lies before the start
    job.spanDays = span / 90000.0 / 86400.0;
    if (context.detectionPass) {
        out.log(
            {"Duration = ", asStrong(formatDuration(job.spanDays * 86400.0, job.formatSettings))});
    }
}

}  // namespace tolvane
