#include "core/shared_state.h"

namespace tolvane {

void fillLabelTables(LabelTables& tables) {
    tables.ac3SampleRate = labels::kAc3SampleRate;
    tables.ac3BitRate = labels::kAc3BitRate;
    tables.chAssignText = labels::kChAssignText;
    tables.mlpChText = labels::kMlpChText;
    tables.wordLengthText = labels::kWordLengthText;
    tables.rateText = labels::kRateText;
    tables.sarText = labels::kSarText;
    tables.cgmsText = labels::kCgmsText;
    tables.apsText = labels::kApsText;
}

void resetForReadJob(SharedState& state) {
    state.streams.frameCount[0] = 0;
    state.streams.frameCount[1] = 0;
    state.job.minPts = 0xFFFFFFFFu;
    state.job.firstPtm = 0;
    state.job.totalSeconds = 0;
}

void resetForDemuxJob(SharedState& state) {
    state.streams.frameCount[0] = 0;
    state.streams.frameCount[1] = 0;
    state.job.totalSeconds = 0;
    state.job.writing = true;
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
