#include "jobs/navigation.h"

#include "analysers/label_tables.h"
#include "core/number_format.h"
#include "core/program_stream_layout.h"
#include "core/time_format.h"

namespace tolvane {

namespace {

using namespace layout;

// True when the bytes p[1] .. p[1 + needed - 1] are inside both the packet and the block.
bool readable(const NavigationContext& context, size_t offset, const ScanState& scan,
              size_t needed) {
    const size_t packetLeft = scan.remaining > 0 ? static_cast<size_t>(scan.remaining) : 0;
    const size_t blockEnd = context.state.job.bufferLength;
    return offset < blockEnd && packetLeft <= blockEnd - offset && needed <= packetLeft;
}

uint32_t bigEndian(const uint8_t* p, int size) {
    uint32_t value = 0;
    for (int k = 0; k < size; ++k) {
        value = value << 8 | p[k];
    }
    return value;
}

}  // namespace

void analyseCopyControl(const NavigationContext& context, size_t offset, const ScanState& scan) {
    if (!readable(context, offset, scan, kCopyControlCodes)) {
        return;
    }
    // p[k] lies at offset + k - 1.
    const uint8_t* p = context.state.job.buffer.data() + offset - 1;
    const LabelTables& labels = kLabelTables;
    Reporter& out = context.reporter;
    if ((p[kCopyControlScrambling] & 0xC0) != 0) {
        out.log("[b]This file is ENCRYPTED![/b] Decrypt it before any process.");
    }
    const uint8_t applies = p[kCopyControlApplies];
    const uint8_t codes = p[kCopyControlCodes];
    JobState& job = context.state.job;
    if (context.detectionPass && !job.copyControl) {
        CopyControlState& state = job.copyControl.emplace();
        state.scrambled = (p[kCopyControlScrambling] & 0xC0) != 0;
        if ((applies & 0x80) != 0) {
            state.cgms = static_cast<uint8_t>((codes >> 5) & 7);
        }
        if ((applies & 0x40) != 0) {
            state.aps = static_cast<uint8_t>((codes >> 2) & 7);
        }
        state.ict = (applies & 0x20) != 0 && (codes & 0x02) != 0;
        state.dot = (applies & 0x10) != 0 && (codes & 0x01) != 0;
    }
    if ((applies & 0x80) != 0 && (codes & 0xE0) != 0) {
        out.log("[b]" + std::string(labels.cgmsText[(codes >> 5) & 7]) + "[/b]");
    }
    if ((applies & 0x40) != 0 && (codes & 0x1C) != 0) {
        out.log("[b]" + std::string(labels.apsText[(codes >> 2) & 7]) + "[/b]");
    }
    if ((applies & 0x20) != 0 && (codes & 0x02) != 0) {
        out.log("[b]ICT on, constrained analog output[/b]");
    }
    if ((applies & 0x10) != 0 && (codes & 0x01) != 0) {
        out.log("[b]DOT on, analog output not allowed[/b]");
    }
}

void analyseDsi(const NavigationContext& context, size_t offset, ScanState& scan) {
    const size_t audioAt = context.dvdVideoSource ? kDsiAudioSyncVob : kDsiAudioSyncEvo;
    const size_t subAt = context.dvdVideoSource ? kDsiSubSyncVob : kDsiSubSyncEvo;
    if (!readable(context, offset, scan, subAt + 4 * kDsiSubSyncEntries)) {
        return;
    }
    const uint8_t* q = context.state.job.buffer.data() + offset;  // q[k] is p[1 + k]
    JobState& job = context.state.job;
    Reporter& out = context.reporter;

    if (scan.audioBound == 0) {
        int present = 0;
        for (size_t k = 0; k < kDsiAudioSyncEntries; ++k) {
            present += bigEndian(q + audioAt + 2 * k, 2) != 0 ? 1 : 0;
        }
        scan.audioBound = static_cast<uint8_t>(present);
    }
    int subpictures = 0;
    for (size_t k = 0; k < kDsiSubSyncEntries; ++k) {
        subpictures += bigEndian(q + subAt + 4 * k, 4) != 0 ? 1 : 0;
    }
    const uint32_t vob = bigEndian(q + kDsiVobNumber, 2);
    if (context.detectionPass && !job.firstVobNumber) {
        job.firstVobNumber = vob;
    }
    if (context.detectionPass) {
        std::string line = "VOB number " + std::to_string(vob) + " contains [b]" +
                           std::to_string(scan.videoBound) + "[/b] video" +
                           (subpictures > 0 ? "," : " and") + " [b]" +
                           std::to_string(scan.audioBound) + "[/b] audio ";
        if (subpictures > 0) {
            line += "and [b]" + std::to_string(subpictures) + "[/b] subpicture ";
        }
        line += "stream";
        line += scan.videoBound + scan.audioBound + subpictures > 1 ? "s." : ".";
        out.log(line);
    }

    const uint32_t start = bigEndian(q + kDsiFirstPtm, 4);
    if (job.firstPtm == 0) {
        job.firstPtm = start;
    }
    if (context.detectionPass) {
        out.log("PTM of first video frame = [re]" + hexUpper(start, 8) + "[/re]");
    }
    const uint32_t end = bigEndian(q + kDsiLastPtm, 4);
    job.lastPtm = end;
    job.ptmKnown = true;
    if (context.detectionPass) {
        out.log("PTM of last video frame = " + hexUpper(end, 8));
    }
    const uint32_t span = end - start;  // wraps when the end lies before the start
    job.spanDays = span / 90000.0 / 86400.0;
    if (context.detectionPass) {
        out.log("Duration = [b]" + formatDuration(job.spanDays * 86400.0, job.formatSettings) +
                "[/b]");
    }
}

}  // namespace tolvane
