#include "format/navigation_packets.h"

#include "format/program_stream_layout.h"

namespace tolvane {

namespace {

using namespace layout;

uint32_t bigEndian(const uint8_t* p, size_t size) {
    uint32_t value = 0;
    for (size_t k = 0; k < size; ++k) {
        value = value << 8 | p[k];
    }
    return value;
}

// Entries of a synchronous-information table that are set: a stream the VOB carries.
int setEntries(const uint8_t* table, size_t entries, size_t size) {
    int set = 0;
    for (size_t k = 0; k < entries; ++k) {
        set += bigEndian(table + size * k, size) != 0 ? 1 : 0;
    }
    return set;
}

}  // namespace

std::optional<DsiRecord> decodeDsi(const uint8_t* data, size_t available, SourceKind kind) {
    if (available < kDsiLastPtm + 4) {
        return std::nullopt;
    }
    DsiRecord record;
    record.vobNumber = bigEndian(data + kDsiVobNumber, 2);
    record.firstPtm = bigEndian(data + kDsiFirstPtm, 4);
    record.lastPtm = bigEndian(data + kDsiLastPtm, 4);
    const bool dvd = hasDvdNavigation(kind);
    const size_t audioAt = dvd ? kDsiAudioSyncVob : kDsiAudioSyncEvo;
    const size_t subAt = dvd ? kDsiSubSyncVob : kDsiSubSyncEvo;
    if (available >= subAt + 4 * kDsiSubSyncEntries) {
        record.audioStreams = setEntries(data + audioAt, kDsiAudioSyncEntries, 2);
        record.subpictureStreams = setEntries(data + subAt, kDsiSubSyncEntries, 4);
    }
    return record;
}

std::optional<UnitLinks> decodeUnitLinks(const uint8_t* pack) {
    const auto privateStream2 = [&](size_t at, uint8_t subStream) {
        return pack[at] == 0 && pack[at + 1] == 0 && pack[at + 2] == 1 &&
               pack[at + 3] == kPrivateStream2Id && pack[at + 6] == subStream;
    };
    if (bigEndian(pack, 4) != 0x000001BA || !privateStream2(kVobPciPacketStart, 0) ||
        !privateStream2(kVobDsiPacketStart, kDsiSubStreamId)) {
        return std::nullopt;
    }
    const uint8_t* pci = pack + kVobPciData;
    const uint8_t* dsi = pack + kVobDsiData;
    UnitLinks links;
    links.unitEnd = bigEndian(dsi + kDsiUnitEnd, 4);
    links.seamlessCategory = static_cast<uint16_t>(bigEndian(dsi + kDsiSeamlessCategory, 2));
    links.interleavedEnd = bigEndian(dsi + kDsiInterleavedEnd, 4);
    links.nextUnit = bigEndian(dsi + kDsiNextUnit, 4);
    for (size_t k = 0; k < links.seamlessAngleLinks.size(); ++k) {
        links.seamlessAngleLinks[k] = bigEndian(dsi + kDsiAngleLinks + 6 * k, 4);
        links.nonSeamlessAngleLinks[k] = bigEndian(pci + kPciAngleLinks + 4 * k, 4);
    }
    return links;
}

std::optional<CopyControlState> decodeCopyControl(const uint8_t* data, size_t available) {
    // The layout counts the sub-stream id as byte 1.
    if (available < kCopyControlCodes) {
        return std::nullopt;
    }
    const uint8_t applies = data[kCopyControlApplies - 1];
    const uint8_t codes = data[kCopyControlCodes - 1];
    CopyControlState state;
    state.scrambled = (data[kCopyControlScrambling - 1] & 0xC0) != 0;
    if ((applies & 0x80) != 0) {
        state.cgms = static_cast<uint8_t>((codes >> 5) & 7);
    }
    if ((applies & 0x40) != 0) {
        state.aps = static_cast<uint8_t>((codes >> 2) & 7);
    }
    state.ict = (applies & 0x20) != 0 && (codes & 0x02) != 0;
    state.dot = (applies & 0x10) != 0 && (codes & 0x01) != 0;
    return state;
}

}  // namespace tolvane
