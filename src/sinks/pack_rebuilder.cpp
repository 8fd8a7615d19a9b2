#include "sinks/pack_rebuilder.h"

#include <cmath>
#include <cstring>

#include "format/program_stream_layout.h"
#include "format/stream_ids.h"

namespace tolvane {

namespace {

using namespace layout;
constexpr size_t kStreamId = kFirstPacketStreamId;
constexpr size_t kFlags2 = kFirstPacketFlags2;
constexpr size_t kHeaderLength = kFirstPacketHeaderLength;
constexpr size_t kHeaderData = kFirstPacketHeaderData;
constexpr size_t kAudioBound = kSystemHeaderAudioBound;
constexpr size_t kVideoBound = kSystemHeaderVideoBound;
// The DSI's start code, length and sub-stream id, from the 01 of 00 00 01.
constexpr size_t kDsiMarker = kEvoDsiPacketStart + 2;
constexpr uint8_t kDsiMarkerBytes[] = {0x01, kPrivateStream2Id, kEvoDsiPacketLength >> 8,
                                       kEvoDsiPacketLength & 0xFF, kDsiSubStreamId};
constexpr size_t kFirstPtm = kEvoDsiData + kDsiFirstPtm;
constexpr size_t kLastPtm = kEvoDsiData + kDsiLastPtm;
constexpr size_t kAudioEntries = kEvoDsiData + kDsiAudioSyncEvo;
constexpr size_t kSubEntries = kEvoDsiData + kDsiSubSyncEvo;

void putBigEndian(uint8_t* at, uint32_t value) {
    at[0] = static_cast<uint8_t>(value >> 24);
    at[1] = static_cast<uint8_t>(value >> 16);
    at[2] = static_cast<uint8_t>(value >> 8);
    at[3] = static_cast<uint8_t>(value);
}

template <size_t N>
int numberChosen(std::array<int32_t, N>& numbers, StreamKind kind,
                 const PackRebuilder::Chosen& chosen) {
    int count = 0;
    for (size_t n = 0; n < N; ++n) {
        numbers[n] = chosen(kind, static_cast<int32_t>(n)) ? count++ : -1;
    }
    return count;
}

}  // namespace

std::optional<PackRebuilder::Times> PackRebuilder::rebuiltTimes(
    const std::optional<NavigationSummary>& read) {
    if (!read || !read->firstPtm) {
        return std::nullopt;
    }
    const auto ticks = static_cast<uint32_t>(std::llround(read->durationSeconds * 90000.0));
    return Times{*read->firstPtm, *read->firstPtm + ticks};  // wraps with the 32-bit clock
}

std::optional<std::string> PackRebuilder::start() {
    mentioned_ = {};
    reselect();
    return refusal();
}

bool PackRebuilder::reselect() {
    Selection selection{};
    selection.videoCount = numberChosen(selection.video, StreamKind::Video, chosen_);
    selection.audioCount = numberChosen(selection.audio, StreamKind::Audio, chosen_);
    selection.subpictureCount = numberChosen(selection.subpicture, StreamKind::Subpicture, chosen_);
    const bool changed = !(selection == selection_);
    selection_ = selection;
    return changed;
}

std::optional<std::string> PackRebuilder::refusal() const {
    if (selection_.audioCount > kMaxAudioStreams) {
        return "A rebuilt file holds at most " + std::to_string(kMaxAudioStreams) +
               " audio streams; " + std::to_string(selection_.audioCount) +
               " are chosen. Untick some and rebuild again.";
    }
    return std::nullopt;
}

int32_t PackRebuilder::newNumber(StreamKind kind, int32_t number) const {
    const auto at = [number](const auto& numbers) {
        const int32_t* entry = entryAt(numbers, number);
        return entry != nullptr ? *entry : -1;
    };
    switch (kind) {
        case StreamKind::Video:
            return at(selection_.video);
        case StreamKind::Audio:
            return at(selection_.audio);
        case StreamKind::Subpicture:
            break;
    }
    return at(selection_.subpicture);
}

bool PackRebuilder::keepStream(uint8_t* pack, size_t idOffset, uint8_t bitsKept, StreamKind kind,
                               int32_t key) {
    const StreamContext* stream = streams_.take(kind, key, false, false);
    const int32_t number = stream != nullptr ? stream->number : -1;
    if (number < 0) {
        if (firstMention(mentioned_, kind, key)) {
            reporter_.log(streamText(kind, key) + " has no stream box: left out.");
        }
        return false;
    }
    const int32_t renumbered = newNumber(kind, number);
    if (renumbered < 0) {
        return false;  // its stream is not chosen
    }
    const auto id =
        static_cast<uint8_t>((pack[idOffset] & bitsKept) | renumberedId(kind, key, renumbered));
    changed_ = changed_ || id != pack[idOffset];
    pack[idOffset] = id;
    return true;
}

void PackRebuilder::patchNavigationPack(uint8_t* pack, size_t length, std::optional<Times> times) {
    if (length <= kVideoBound) {
        return;  // too short to hold a system header
    }
    changed_ = true;
    pack[kVideoBound] = static_cast<uint8_t>((pack[kVideoBound] & 0xE0) + selection_.videoCount);
    pack[kAudioBound] =
        static_cast<uint8_t>((pack[kAudioBound] & 0x03) + 4 * selection_.audioCount);
    if (length < kEvoDsiEnd ||
        std::memcmp(pack + kDsiMarker, kDsiMarkerBytes, sizeof kDsiMarkerBytes) != 0) {
        return;
    }
    if (times) {
        putBigEndian(pack + kFirstPtm, times->firstPtm);
        putBigEndian(pack + kLastPtm, times->lastPtm);
    }
    const auto audioCount = static_cast<size_t>(selection_.audioCount);
    if (audioCount < kDsiAudioSyncEntries) {
        std::memset(pack + kAudioEntries + 2 * audioCount, 0,
                    2 * (kDsiAudioSyncEntries - audioCount));
    }
    const auto subCount = static_cast<size_t>(selection_.subpictureCount);
    if (subCount < kDsiSubSyncEntries) {
        std::memset(pack + kSubEntries + 4 * subCount, 0, 4 * (kDsiSubSyncEntries - subCount));
    }
}

bool PackRebuilder::process(uint8_t* pack, size_t length, bool advancedPacks,
                            std::optional<Times> times) {
    changed_ = false;
    if (length < 4 || pack[0] != 0x00 || pack[1] != 0x00 || pack[2] != 0x01 ||
        pack[3] != kPackStartId) {
        return false;
    }
    // Only bytes that were read are looked at: a field past them is absent.
    const auto at = [&](size_t offset) -> int32_t { return offset < length ? pack[offset] : -1; };
    const int32_t streamId = at(kStreamId);
    if (streamId == kSystemHeaderId) {
        patchNavigationPack(pack, length, times);
        return true;
    }
    if (streamId == kPrivateStream1Id && at(kHeaderLength) >= 0) {
        const size_t idOffset = kHeaderData + static_cast<size_t>(at(kHeaderLength));
        const int32_t subStreamId = at(idOffset);
        if (subStreamId < 0) {
            return true;
        }
        const std::optional<StreamRef> ref = privateStreamOf(static_cast<uint8_t>(subStreamId));
        // A sub-stream the program does not know is no stream of the boxes: it stays.
        return !ref || keepStream(pack, idOffset, 0, ref->kind, ref->idByte);
    }
    if (streamId == kExtendedStreamId && at(kFlags2) >= 0) {
        const int32_t flags = at(kFlags2);
        const size_t d = ((flags & 0x80) != 0 ? 5 : 0) + ((flags & 0x40) != 0 ? 5 : 0);
        const int32_t extensionFlags = at(kHeaderData + d);
        if (extensionFlags < 0) {
            return true;
        }
        const size_t idOffset = 25 + d + ((extensionFlags & 0x10) != 0 ? 2 : 0);
        const int32_t extension = at(idOffset);
        if (extension < 0 || !isVc1Extension(static_cast<uint8_t>(extension & 0x7F))) {
            return true;
        }
        const auto id = static_cast<uint8_t>(extension & 0x7F);
        return keepStream(pack, idOffset, 0x80, StreamKind::Video, id);
    }
    if (streamId >= 0 && isVideoStreamId(static_cast<uint8_t>(streamId))) {
        return keepStream(pack, kStreamId, 0, StreamKind::Video, streamId);
    }
    if (streamId >= 0 && isMpegAudioStreamId(static_cast<uint8_t>(streamId))) {
        return keepStream(pack, kStreamId, 0, StreamKind::Audio, kMpegAudioKey | streamId);
    }
    if (streamId == kPrivateStream2Id &&
        at(kFirstPacketPs2SubStreamId) == kAdvancedPackSubStreamId) {
        return advancedPacks;
    }
    return true;
}

}  // namespace tolvane
