#include "test_doubles.h"

#include <algorithm>
#include <cstring>

namespace tolvane::fixture {

size_t MemorySource::read(uint8_t* out, size_t length) {
    const int64_t left = std::max<int64_t>(0, size() - position_);
    const size_t count = std::min<size_t>(length, static_cast<size_t>(left));
    if (count > 0) {
        std::memcpy(out, data_.data() + position_, count);
    }
    position_ += static_cast<int64_t>(count);
    return count;
}

void FakeOs::processEvents() {
    ++eventRounds;
    if (onEvents) {
        onEvents();
    }
}

bool FakeOs::askYesNo(const std::string& question) {
    questions.push_back(question);
    return answer;
}

double FakeOs::now() {
    const double value = clock;
    clock += clockStep;
    return value;
}

void RecordingHooks::streamRegistered(const StreamContext& stream, ScanState& s) {
    registrations.push_back(Registration{stream.kind, stream.number, stream.id, s.packetPts});
}

void RecordingHooks::packet(const Packet& packet) {
    Chunk copy{packet.kind, packet.number, packet.offset, {}, packet.pts, packet.time};
    if (buffer_ != nullptr) {
        copy.data.assign(buffer_ + packet.offset, buffer_ + packet.offset + packet.length);
    }
    chunks.push_back(std::move(copy));
}

void RecordingHooks::systemHeaderRead(ScanState& s) {
    ++systemHeaders;
    videoBound = s.videoBound;
    audioBound = s.audioBound;
}

Bytes RecordingHooks::payloadOf(StreamKind kind, int32_t number) const {
    Bytes all;
    for (const Chunk& chunk : chunks) {
        if (chunk.kind == kind && chunk.number == number) {
            all.insert(all.end(), chunk.data.begin(), chunk.data.end());
        }
    }
    return all;
}

}  // namespace tolvane::fixture
