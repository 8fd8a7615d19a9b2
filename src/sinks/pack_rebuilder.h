#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "core/reporter.h"
#include "demux/job_state.h"
#include "demux/pass_options.h"
#include "demux/stream_registry.h"
#include "format/program_stream_layout.h"
#include "sinks/navigation.h"

namespace tolvane {

// Decides, pack by pack, what a rebuilt file keeps, renumbers the kept streams without gaps in
// the order of the stream boxes and patches the navigation packs to match. The selection and
// the numbering are fixed when the rebuild starts and live across both files of a feature.
class PackRebuilder {
public:
    static constexpr size_t kPackSize = layout::kPackSize;
    // A DSI has eight audio entries, and three codings have only eight audio numbers.
    static constexpr int kMaxAudioStreams = 8;

    struct Times {
        uint32_t firstPtm;
        uint32_t lastPtm;
        bool operator==(const Times&) const = default;
    };
    // The times of the navigation packs of a file rebuilt from what a read met: the first
    // file's start and the running time of every file read, so that a feature of two files
    // reads back as long as it plays. None when the read met no navigation pack.
    static std::optional<Times> rebuiltTimes(const std::optional<NavigationSummary>& read);

    // Whether the stream numbered `number` of a kind is kept.
    using Chosen = std::function<bool(StreamKind, int32_t number)>;

    PackRebuilder(StreamRegistry& streams, Chosen chosen, Reporter& reporter)
        : streams_(streams), chosen_(std::move(chosen)), reporter_(reporter) {}

    // Takes the ticked boxes as the selection and numbers them. Returns why the selection
    // cannot be rebuilt, or nothing when it can.
    std::optional<std::string> start();
    // Takes the selection anew, for a job that learns of its streams as it goes; true when
    // any kept stream's new number or any count changed.
    bool reselect();
    // Why the selection cannot be rebuilt; nothing when it can.
    std::optional<std::string> refusal() const;
    // Patches and renumbers the `length` bytes of `pack` in place; true when they are to be
    // written. Without `times` the DSI time fields are left as they are.
    bool process(uint8_t* pack, size_t length, bool advancedPacks, std::optional<Times> times);
    // Whether the last pack process() kept had any byte changed.
    bool lastPackChanged() const { return changed_; }

private:
    struct Selection {
        std::array<int32_t, 2> video;
        std::array<int32_t, 16> audio;
        std::array<int32_t, 32> subpicture;
        int videoCount = 0;
        int audioCount = 0;
        int subpictureCount = 0;
        bool operator==(const Selection&) const = default;
    };
    // The new number of a stream's box, or -1 when the box is not kept.
    int32_t newNumber(StreamKind kind, int32_t number) const;
    // Whether the pack of stream `key`, whose id byte lies at `idOffset`, is kept; renumbers it.
    bool keepStream(uint8_t* pack, size_t idOffset, uint8_t bitsKept, StreamKind kind, int32_t key);
    void patchNavigationPack(uint8_t* pack, size_t length, std::optional<Times> times);

    StreamRegistry& streams_;
    Chosen chosen_;
    Reporter& reporter_;
    Selection selection_{};
    // Streams without a box this rebuild has named in the log.
    MentionedStreams mentioned_;
    bool changed_ = false;
};

}  // namespace tolvane
