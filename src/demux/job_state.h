#pragma once

#include <array>
#include <atomic>
#include <climits>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/locale_settings.h"
#include "core/span_source.h"
#include "demux/timeline.h"
#include "format/navigation_packets.h"
#include "format/stream_ids.h"

namespace tolvane {

inline constexpr size_t kBlockSize = 262144;
// What the reports call a Mbyte.
inline constexpr int64_t kMebibyte = 1048576;

// The time base of a job that has met no PTS yet: every PTS lies at or below it.
inline constexpr int64_t kNoPts = INT64_MAX;

// What the caller of a job keeps across it: a window's Cancel button or a console's signal
// handler sets `cancelled` (a lock-free atomic, so either may, from any thread); the job says
// while it writes files, which a window asks before stopping.
struct JobControl {
    std::atomic<bool> cancelled = false;
    bool writing = false;
};
static_assert(std::atomic<bool>::is_always_lock_free, "a signal handler sets it");

// The language of each stream a disc names: by kind and key where the disc gives the stream's
// id (a DVD), by kind and the stream's number in its coding where it gives only that (an HD
// DVD playlist's streamNumber).
struct StreamLanguages {
    std::map<std::pair<StreamKind, int32_t>, std::string> byKey;
    std::map<std::pair<StreamKind, int32_t>, std::string> byNumber;
    // A 16:9 DVD title's subpictures shown for another viewport: "letterbox" or "pan-scan".
    std::map<std::pair<StreamKind, int32_t>, std::string> viewports;
};
// The viewport a subpicture stream is for, when it is not the wide (or only) one.
inline std::string viewportOf(const StreamLanguages& languages, StreamKind kind, int32_t key) {
    const auto found = languages.viewports.find({kind, key});
    return found == languages.viewports.end() ? std::string() : found->second;
}
// The stream's language; empty when the disc names none.
inline std::string languageOf(const StreamLanguages& languages, StreamKind kind, int32_t key) {
    if (const auto found = languages.byKey.find({kind, key}); found != languages.byKey.end()) {
        return found->second;
    }
    const auto found = languages.byNumber.find({kind, naturalNumber(kind, key)});
    return found == languages.byNumber.end() ? std::string() : found->second;
}

// The job's read block, with zeroed bytes past its end that readers looking a few bytes ahead
// of what they were given (FFmpeg's parsers, which expect 64) may touch.
class ReadBlock {
public:
    static constexpr size_t kPadding = 64;

    static constexpr size_t size() { return kBlockSize; }
    uint8_t* data() { return bytes_.data(); }
    const uint8_t* data() const { return bytes_.data(); }
    uint8_t* begin() { return bytes_.data(); }
    uint8_t& operator[](size_t k) { return bytes_[k]; }
    uint8_t operator[](size_t k) const { return bytes_[k]; }

private:
    std::array<uint8_t, kBlockSize + kPadding> bytes_{};
};

// A run of 2048-byte blocks of the source that could not be read and were passed over.
struct SkippedBlocks {
    std::string path;      // the file or image they lie in
    int64_t position = 0;  // the first one's byte in the source (the title)
    int64_t count = 0;
    // Where the title's time had got to before them, in ticks on its timeline; none before
    // its first time.
    std::optional<int64_t> time;
};

// The open source, the job's one read block, its control and the timing of the job.
struct JobState {
    explicit JobState(JobControl& control) : control(control) {}

    JobControl& control;
    std::unique_ptr<SpanSource> source;
    // What the source's disc says of its streams' languages; empty for a lone file.
    StreamLanguages languages;
    ReadBlock buffer;
    // Bytes of `buffer` filled by the last read: nothing may be read at or past this index.
    size_t bufferLength = 0;
    // The fast-check limit in bytes, once a pass of the job stopped at it: the frames counted
    // are those of the part read.
    std::optional<int64_t> countStoppedAt;
    // The current pass's packets on one timeline; a pass starts it afresh.
    Timeline timeline;
    // The earliest time of the read, on the timeline: what .sup times count from.
    int64_t minPts = kNoPts;
    uint32_t firstPtm = 0;
    uint32_t lastPtm = 0;
    // A pass of the current source met a DSI: firstPtm and lastPtm are its times.
    bool ptmKnown = false;
    // The read said once that the navigation packs are zero-filled.
    bool untimedNavigationSaid = false;
    double spanDays = 0;
    // What the navigation packs say the source plays: each VOB's ticks, in the order met
    // (a VOB that goes on in the next cell or file once), and their sum in seconds.
    std::vector<int64_t> vobTicks;
    double totalSeconds = 0;
    // Whether a block that cannot be read is skipped (true) or ends the job, and each run of
    // blocks skipped, in the order met.
    bool skipUnreadable = false;
    std::vector<SkippedBlocks> skipped;
    // Where the last pass found the time stamps jump, and how many more it did not list.
    std::vector<NamedSeam> seams;
    int64_t unlistedSeams = 0;
    // What the read job's navigation packs said: the VOB number of its first DSI, and the state
    // of its first copy-control packet.
    std::optional<uint32_t> firstVobNumber;
    std::optional<CopyControlState> copyControl;
    LocaleSettings formatSettings;
};

}  // namespace tolvane
