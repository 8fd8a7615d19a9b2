#include "core/shared_state.h"

namespace tolvane {

void fillLabelTables(LabelTables& tables) {
    tables.ac3SampleRate = labels::kAc3SampleRate;
    tables.ac3BitRate = labels::kAc3BitRate;
    tables.chAssignText = labels::kChAssignText;
    tables.wordLengthText = labels::kWordLengthText;
    tables.rateText = labels::kRateText;
    tables.sarText = labels::kSarText;
    tables.cgmsText = labels::kCgmsText;
    tables.apsText = labels::kApsText;
}

int32_t* boxIdEntry(StreamTable& streams, StreamKind kind, int32_t number) {
    switch (kind) {
        case StreamKind::Video:
            return entryAt(streams.videoBoxId, number);
        case StreamKind::Audio:
            return entryAt(streams.audioBoxId, number);
        case StreamKind::Subpicture:
            break;
    }
    return entryAt(streams.subBoxId, number);
}

const int32_t* boxIdEntry(const StreamTable& streams, StreamKind kind, int32_t number) {
    return boxIdEntry(const_cast<StreamTable&>(streams), kind, number);
}

bool belongsToBox(StreamTable& streams, StreamKind kind, int32_t number, int32_t idByte) {
    int32_t* box = boxIdEntry(streams, kind, number);
    if (box == nullptr) {
        return false;
    }
    if (*box == kStreamAnnounced) {
        *box = idByte;
    }
    return *box == idByte;
}

void resetForReadJob(SharedState& state) {
    state.streams.frameCount[0] = 0;
    state.streams.frameCount[1] = 0;
    state.streams.frameRate.fill(0);
    state.streams.videoFirstPts.fill(std::nullopt);
    state.streams.audioFirstPts.fill(std::nullopt);
    state.streams.subFirstPts.fill(std::nullopt);
    state.streams.videoHeader.fill({});
    state.streams.audioHeader.fill({});
    state.job.minPts = 0xFFFFFFFFu;
    state.job.firstPtm = 0;
    state.job.ptmKnown = false;
    state.job.totalSeconds = 0;
    state.job.countedVob.reset();
    state.job.firstVobNumber.reset();
    state.job.copyControl.reset();
}

void resetForDemuxJob(SharedState& state) {
    state.streams.frameCount[0] = 0;
    state.streams.frameCount[1] = 0;
    state.job.totalSeconds = 0;
    state.job.countedVob.reset();
    state.job.writing = true;
    state.streams.withoutBoxReported = {};
}

void resetForPassStart(SharedState& state, bool demuxPass) {
    StreamTable& streams = state.streams;
    streams.videoId.fill(kStreamAbsent);
    streams.audioId.fill(kStreamAbsent);
    streams.subId.fill(kStreamAbsent);
    streams.videoReported[0] = false;
    streams.videoReported[1] = false;
    streams.audioReported.fill(false);
    streams.subReported.fill(false);
    state.job.cancelled = false;
    state.job.fastStop = false;
    state.job.writing = demuxPass;
    fillLabelTables(state.labels);
}

void resetForPassEnd(SharedState& state) {
    if (state.job.cancelled) {
        state.streams.frameCount[0] = 0;
        state.streams.frameCount[1] = 0;
    }
}

void resetForWritingJobEnd(SharedState& state) {
    state.job.writing = false;
}

}  // namespace tolvane
