#include "jobs/pack_rebuilder.h"

#include <cstring>

namespace tolvane {

namespace {

constexpr size_t kStreamId = 17;
constexpr size_t kPs2SubStreamId = 20;
constexpr size_t kFlags2 = 21;
constexpr size_t kHeaderLength = 22;
constexpr size_t kHeaderData = 23;
constexpr size_t kAudioBound = 23;
constexpr size_t kVideoBound = 24;
constexpr size_t kDsiMarker = 1289;
constexpr uint8_t kDsiMarkerBytes[] = {0x01, 0xBF, 0x02, 0xF3, 0x01};
constexpr size_t kFirstPtm = 1338;
constexpr size_t kLastPtm = 1342;
constexpr size_t kAudioEntries = 1824;
constexpr size_t kSubEntries = 1840;
constexpr size_t kDsiEnd = 1968;

void putBigEndian(uint8_t* at, uint32_t value) {
    at[0] = static_cast<uint8_t>(value >> 24);
    at[1] = static_cast<uint8_t>(value >> 16);
    at[2] = static_cast<uint8_t>(value >> 8);
    at[3] = static_cast<uint8_t>(value);
}

}  // namespace

void PackRebuilder::reset() {
    newStreamId_.fill(kNoId);
    videoCount_ = 0;
    audioCount_ = 0;
    subCount_ = 0;
}

void PackRebuilder::giveId(Kind kind, int32_t key) {
    if (key < 0 || key > 255) {
        return;  // a box without a stream of its own
    }
    uint8_t& id = newStreamId_[static_cast<size_t>(key)];
    if (id != kNoId) {
        return;
    }
    const auto k = static_cast<uint8_t>(key);
    switch (kind) {
        case Kind::Video:
            id = k == 0x55 || k == 0x56 ? static_cast<uint8_t>(0x55 + videoCount_)
                                        : static_cast<uint8_t>((k & 0xFE) | videoCount_);
            ++videoCount_;
            break;
        case Kind::Audio:
            id = (k & 0xF0) == 0xC0 ? static_cast<uint8_t>(0xC0 | audioCount_)
                                    : static_cast<uint8_t>((k & 0xF8) | audioCount_);
            ++audioCount_;
            break;
        case Kind::Subpicture:
            id = static_cast<uint8_t>((k & 0xE0) | subCount_);
            ++subCount_;
            break;
    }
}

bool PackRebuilder::keep(Kind kind, int32_t key) const {
    const auto find = [&](const auto& ids, int count, auto ticked) {
        for (int n = 0; n < count; ++n) {
            if (ids[static_cast<size_t>(n)] == key) {
                return ticked(n);
            }
        }
        return true;  // a stream the read job did not find is kept
    };
    switch (kind) {
        case Kind::Video:
            return find(streams_.videoId, 2, [&](int n) { return boxes_.videoTicked(n); });
        case Kind::Audio:
            return find(streams_.audioId, 16, [&](int n) { return boxes_.audioTicked(n); });
        case Kind::Subpicture:
            break;
    }
    return find(streams_.subId, 32, [&](int n) { return boxes_.subTicked(n); });
}

void PackRebuilder::patchNavigationPack(uint8_t* pack, size_t length, Times times) {
    if (length <= kVideoBound) {
        return;  // too short to hold a system header
    }
    uint8_t video = pack[kVideoBound] & 0xE0;
    for (int n = 0; n < 2; ++n) {
        if (boxes_.videoTicked(n)) {
            ++video;
            giveId(Kind::Video, streams_.videoId[static_cast<size_t>(n)]);
        }
    }
    pack[kVideoBound] = video;
    uint8_t audio = pack[kAudioBound] & 0x03;
    for (int n = 0; n < 16; ++n) {
        if (boxes_.audioTicked(n)) {
            audio = static_cast<uint8_t>(audio + 4);
            giveId(Kind::Audio, streams_.audioId[static_cast<size_t>(n)]);
        }
    }
    pack[kAudioBound] = audio;
    const int audioCount = audio >> 2;
    int subCount = 0;
    for (int n = 0; n < 32; ++n) {
        if (boxes_.subTicked(n)) {
            ++subCount;
            giveId(Kind::Subpicture, streams_.subId[static_cast<size_t>(n)]);
        }
    }
    if (length < kDsiEnd ||
        std::memcmp(pack + kDsiMarker, kDsiMarkerBytes, sizeof kDsiMarkerBytes) != 0) {
        return;
    }
    putBigEndian(pack + kFirstPtm, times.firstPtm);
    putBigEndian(pack + kLastPtm, times.lastPtm);
    if (audioCount < 8) {
        std::memset(pack + kAudioEntries + 2 * audioCount, 0,
                    2 * (8 - static_cast<size_t>(audioCount)));
    }
    if (subCount < 32) {
        std::memset(pack + kSubEntries + 4 * subCount, 0, 4 * (32 - static_cast<size_t>(subCount)));
    }
}

bool PackRebuilder::process(uint8_t* pack, size_t length, bool advancedPacks, Times times) {
    // Only bytes that were read are looked at: a field past them is absent.
    const auto at = [&](size_t offset) -> int32_t { return offset < length ? pack[offset] : -1; };
    const int32_t b = at(kStreamId);
    int32_t p = -1;
    size_t keyOffset = 0;
    if (b == 0xBB) {
        patchNavigationPack(pack, length, times);
    } else if (b == 0xBD && at(kHeaderLength) >= 0) {
        keyOffset = kHeaderData + static_cast<size_t>(at(kHeaderLength));
        p = at(keyOffset);
    } else if (b == 0xBF) {
        p = at(kPs2SubStreamId);
    } else if (b == 0xFD && at(kFlags2) >= 0) {
        const int32_t flags = at(kFlags2);
        const size_t d = ((flags & 0x80) != 0 ? 5 : 0) + ((flags & 0x40) != 0 ? 5 : 0);
        const int32_t extensionFlags = at(kHeaderData + d);
        if (extensionFlags >= 0) {
            keyOffset = 25 + d + ((extensionFlags & 0x10) != 0 ? 2 : 0);
            p = at(keyOffset);
        }
    }
    if (length < 4 || pack[0] != 0x00 || pack[1] != 0x00 || pack[2] != 0x01 || pack[3] != 0xBA) {
        return false;
    }

    bool kept = true;
    if (b == 0xBD && p >= 0) {
        if ((p >= 0x80 && p <= 0x8F) || (p >= 0xA0 && p <= 0xAF) || (p >= 0xB0 && p <= 0xB7) ||
            (p >= 0xC0 && p <= 0xC8)) {
            kept = keep(Kind::Audio, p);
        } else if ((p >= 0x20 && p <= 0x2F) || (p >= 0x60 && p <= 0x6F)) {
            kept = keep(Kind::Subpicture, p);
        }
    } else if (b == 0xFD && p >= 0x55 && p <= 0x56) {
        kept = keep(Kind::Video, p);
    } else if (b >= 0xE0 && b <= 0xE3) {
        kept = keep(Kind::Video, b);
    } else if (b >= 0xC0 && b <= 0xDF) {
        kept = keep(Kind::Audio, b);
    } else if (b == 0xBF && p == 0x80) {
        kept = advancedPacks;
    }

    if ((b == 0xBD || b == 0xFD) && p >= 0) {
        pack[keyOffset] = newStreamId_[static_cast<size_t>(p)];
    } else if ((b >= 0xE0 && b <= 0xE3) || (b >= 0xC0 && b <= 0xDF)) {
        pack[kStreamId] = newStreamId_[static_cast<size_t>(b)];
    }
    return kept;
}

}  // namespace tolvane
