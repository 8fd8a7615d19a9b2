#include "sinks/vobsub.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <initializer_list>

namespace tolvane {

namespace {

constexpr size_t kPackHeaderSize = 14;
// Start code, length, flags and header-length bytes, and the substream byte.
constexpr size_t kPacketOverhead = 6 + 3 + 1;
constexpr size_t kPtsSize = 5;
constexpr size_t kPaddingHeaderSize = 6;
// 10.08 Mbit/s in units of 50 bytes a second, the rate of a DVD.
constexpr uint32_t kMuxRate = 25200;

std::string timeText(int64_t ticks) {
    const uint64_t ms = ticks / 90;
    char text[32];
    std::snprintf(text, sizeof text, "%02llu:%02llu:%02llu:%03llu",
                  static_cast<unsigned long long>(ms / 3600000),
                  static_cast<unsigned long long>(ms / 60000 % 60),
                  static_cast<unsigned long long>(ms / 1000 % 60),
                  static_cast<unsigned long long>(ms % 1000));
    return text;
}

}  // namespace

void VobSubWriter::packet(OutputSink& out, const uint8_t* data, size_t length,
                          std::optional<int64_t> pts) {
    if (length == 0) {
        return;
    }
    // A unit's packets after its first may carry a time too: a subtitle begins only where the
    // unit before it has ended, its first two bytes giving its size.
    if (unitLeft_ == 0) {
        const int64_t time = pts.value_or(lastPts_);
        entries_.push_back(VobSubEntry{time, written_});
        unitLeft_ = length >= 2 ? static_cast<size_t>(data[0] << 8 | data[1]) : length;
    }
    unitLeft_ -= std::min(unitLeft_, length);
    if (pts) {
        lastPts_ = *pts;
    }
    // A packet too long for one pack goes on in the next, without a time.
    const size_t first = kPackSize - kPackHeaderSize - kPacketOverhead - (pts ? kPtsSize : 0);
    size_t taken = std::min(length, first);
    pack(out, data, taken, pts);
    while (taken < length) {
        const size_t part = std::min(length - taken, kPackSize - kPackHeaderSize - kPacketOverhead);
        pack(out, data + taken, part, std::nullopt);
        taken += part;
    }
}

void VobSubWriter::pack(OutputSink& out, const uint8_t* data, size_t length,
                        std::optional<int64_t> pts) {
    size_t used = 0;
    const auto put = [&](std::initializer_list<uint8_t> bytes) {
        for (const uint8_t byte : bytes) {
            pack_[used++] = byte;
        }
    };
    const auto fill = [&](size_t count, uint8_t byte) {
        std::fill_n(pack_.begin() + static_cast<std::ptrdiff_t>(used), count, byte);
        used += count;
    };
    // The clock fields keep the low 33 bits of the title's time.
    const auto clock = static_cast<uint64_t>(pts.value_or(lastPts_));
    put({0x00, 0x00, 0x01, 0xBA,
         static_cast<uint8_t>(0x44 | ((clock >> 27) & 0x38) | ((clock >> 28) & 0x03)),
         static_cast<uint8_t>(clock >> 20),
         static_cast<uint8_t>(0x04 | ((clock >> 12) & 0xF8) | ((clock >> 13) & 0x03)),
         static_cast<uint8_t>(clock >> 5), static_cast<uint8_t>(0x04 | ((clock << 3) & 0xF8)), 0x01,
         static_cast<uint8_t>(kMuxRate >> 14), static_cast<uint8_t>(kMuxRate >> 6),
         static_cast<uint8_t>((kMuxRate << 2) | 0x03), 0xF8});
    const size_t headerData = pts ? kPtsSize : 0;
    size_t left = kPackSize - kPackHeaderSize - kPacketOverhead - headerData - length;
    // Fewer bytes than a padding packet takes are stuffed into the packet's header instead.
    const size_t stuffing = left < kPaddingHeaderSize ? left : 0;
    left -= stuffing;
    const size_t packetLength = 3 + headerData + stuffing + 1 + length;
    put({0x00, 0x00, 0x01, 0xBD, static_cast<uint8_t>(packetLength >> 8),
         static_cast<uint8_t>(packetLength), 0x81, static_cast<uint8_t>(pts ? 0x80 : 0x00),
         static_cast<uint8_t>(headerData + stuffing)});
    if (pts) {
        const auto time = static_cast<uint64_t>(*pts);
        put({static_cast<uint8_t>(0x21 | ((time >> 29) & 0x0E)), static_cast<uint8_t>(time >> 22),
             static_cast<uint8_t>(((time >> 14) & 0xFE) | 0x01), static_cast<uint8_t>(time >> 7),
             static_cast<uint8_t>(((time << 1) & 0xFE) | 0x01)});
    }
    fill(stuffing, 0xFF);
    put({0x20});  // each .sub holds one stream, the first
    std::copy_n(data, length, pack_.begin() + static_cast<std::ptrdiff_t>(used));
    used += length;
    if (left > 0) {
        const size_t padding = left - kPaddingHeaderSize;
        put({0x00, 0x00, 0x01, 0xBE, static_cast<uint8_t>(padding >> 8),
             static_cast<uint8_t>(padding)});
        fill(padding, 0xFF);
    }
    out.append(pack_.data(), used);
    written_ += used;
}

std::string vobSubIndex(const VobSubIndexInfo& info, const std::vector<VobSubEntry>& entries) {
    std::string text = "# VobSub index file, v7 (do not modify this line!)\n";
    text += "size: " + std::to_string(info.width) + "x" + std::to_string(info.height) + "\n";
    text += "palette:";
    for (size_t n = 0; n < info.palette.size(); ++n) {
        char entry[16];
        std::snprintf(entry, sizeof entry, "%s %06x", n == 0 ? "" : ",", info.palette[n]);
        text += entry;
    }
    text += "\n\nlangidx: 0\n";
    text += "id: " + (info.language.empty() ? std::string("--") : info.language) + ", index: 0\n";
    for (const VobSubEntry& entry : entries) {
        // A subtitle before the title's start shows at its start.
        const int64_t time = entry.pts - info.startPts;
        char position[32];
        std::snprintf(position, sizeof position, "%09llx",
                      static_cast<unsigned long long>(entry.filePosition));
        text +=
            "timestamp: " + timeText(std::max<int64_t>(time, 0)) + ", filepos: " + position + "\n";
    }
    return text;
}

uint32_t paletteRgb(uint32_t yCrCb) {
    // Studio range: Y from 16 to 235, the differences from 16 to 240 around 128.
    const double y = 255.0 / 219.0 * (static_cast<int>((yCrCb >> 16) & 0xFF) - 16);
    const double cr = 255.0 / 224.0 * (static_cast<int>((yCrCb >> 8) & 0xFF) - 128);
    const double cb = 255.0 / 224.0 * (static_cast<int>(yCrCb & 0xFF) - 128);
    const auto channel = [](double value) {
        return static_cast<uint32_t>(std::clamp(std::lround(value), 0L, 255L));
    };
    return channel(y + 1.402 * cr) << 16 | channel(y - 0.344136 * cb - 0.714136 * cr) << 8 |
           channel(y + 1.772 * cb);
}

std::array<uint32_t, 16> defaultVobSubPalette() {
    std::array<uint32_t, 16> palette{};
    for (size_t n = 0; n < palette.size(); ++n) {
        const auto grey = static_cast<uint32_t>(n * 17);
        palette[n] = grey << 16 | grey << 8 | grey;
    }
    palette[1] = 0xFFFFFF;  // the usual text colour
    return palette;
}

}  // namespace tolvane
