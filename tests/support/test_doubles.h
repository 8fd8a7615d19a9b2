#pragma once

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "core/input_source.h"
#include "core/output_sink.h"
#include "core/platform_error.h"
#include "demux/pass_hooks.h"
#include "demux/pass_options.h"
#include "demux/stream_registry.h"
#include "program_stream_builder.h"
#include "sinks/pack_rebuilder.h"
#include "ui/model/window_services.h"

namespace tolvane::fixture {

// A source file held in memory.
class MemorySource : public InputSource {
public:
    explicit MemorySource(Bytes data) : data_(std::move(data)) {}
    int64_t size() const override { return static_cast<int64_t>(data_.size()); }
    int64_t position() const override { return position_; }
    void seek(int64_t position) override { position_ = position; }
    size_t read(uint8_t* out, size_t length) override;

private:
    Bytes data_;
    int64_t position_ = 0;
};

// A source whose reads fail from `failAt` on, as a scratched disc's do.
class FailingSource : public MemorySource {
public:
    FailingSource(Bytes data, int64_t failAt) : MemorySource(std::move(data)), failAt_(failAt) {}
    size_t read(uint8_t* out, size_t length) override {
        if (position() >= failAt_) {
            throw PlatformError("Cannot read file \"x.EVO\". Input/output error");
        }
        return MemorySource::read(out, length);
    }

private:
    int64_t failAt_;
};

// A source whose reads of given 2048-byte sectors fail, as a damaged disc's do: a read that
// touches one of them fails whole, however often it is tried.
class BadSectorSource : public MemorySource {
public:
    BadSectorSource(Bytes data, std::vector<int64_t> bad)
        : MemorySource(std::move(data)), bad_(std::move(bad)) {}
    size_t read(uint8_t* out, size_t length) override {
        const int64_t first = position() / 2048;
        const int64_t last = (position() + static_cast<int64_t>(length) - 1) / 2048;
        for (const int64_t sector : bad_) {
            if (length > 0 && sector >= first && sector <= last) {
                throw PlatformError("Cannot read file \"x.EVO\". Input/output error");
            }
        }
        return MemorySource::read(out, length);
    }

private:
    std::vector<int64_t> bad_;
};

// A source that hands over at most `most` bytes a read, as pipes and network files do.
class TricklingSource : public MemorySource {
public:
    TricklingSource(Bytes data, size_t most) : MemorySource(std::move(data)), most_(most) {}
    size_t read(uint8_t* out, size_t length) override {
        return MemorySource::read(out, std::min(length, most_));
    }

private:
    size_t most_;
};

// Pass options set by the test; every stream box ticked unless `ticked` says otherwise.
struct FixedOptions : PassOptions {
    bool fastCheck() const override { return fast; }
    int64_t fastSizeMb() const override { return fastMb; }
    bool countFrames() const override { return count; }
    bool details() const override { return detailed; }
    // The rebuilder's choice: every kind by `ticked`.
    PackRebuilder::Chosen chosen() const {
        return [this](StreamKind, int32_t n) { return ticked(n); };
    }

    bool fast = false;
    int64_t fastMb = 0;
    bool count = true;
    bool detailed = true;
    std::function<bool(int32_t)> ticked = [](int32_t) { return true; };
};

// An output that keeps what is appended to it; it can be told to fail after some bytes.
class MemorySink : public OutputSink {
public:
    void append(const uint8_t* data, size_t length) override {
        if (bytes.size() + length > failAfter) {
            throw PlatformError("Stream write error \"memory\". No space left on device");
        }
        bytes.insert(bytes.end(), data, data + length);
    }
    Bytes bytes;
    size_t failAfter = SIZE_MAX;
};

// OS services with a clock the test moves and a hook run where the window would handle input.
class FakeOs : public WindowServices {
public:
    void processEvents() override;
    bool askYesNo(const std::string& question) override;
    void showError(const std::string& message) override { errors.push_back(message); }
    double now() override;
    LocaleSettings locale() override { return localeSettings; }

    double clock = 46000.0;          // days
    double clockStep = 0.0;          // added after every reading
    std::function<void()> onEvents;  // what the "user" does while events are processed
    bool answer = false;
    std::vector<std::string> questions;
    std::vector<std::string> errors;
    int eventRounds = 0;
    LocaleSettings localeSettings;
};

// Records what the scanner hands over, with each chunk's bytes.
class RecordingHooks : public PassHooks {
public:
    struct Registration {
        StreamKind kind;
        int32_t number;
        int32_t idByte;
        uint64_t heldPts;  // the registering packet's own PTS
    };
    struct Chunk {
        StreamKind kind;
        int32_t number;
        size_t offset;
        Bytes data;
        std::optional<uint64_t> pts;  // the packet's own
        std::optional<int64_t> time;  // on the timeline, with the packet's first run
    };

    explicit RecordingHooks(const uint8_t* buffer = nullptr) : buffer_(buffer) {}
    void setBuffer(const uint8_t* buffer) { buffer_ = buffer; }

    std::optional<int64_t> fastCheckLimit() override { return limit; }
    void streamRegistered(const StreamContext& stream, ScanState& s) override;
    void withoutNumber(StreamKind kind, int32_t key) override {
        taken.push_back({kind, -1, key, 0});
    }
    void packet(const Packet& packet) override;
    void copyControlPacket(size_t offset, ScanState&) override { controlOffsets.push_back(offset); }
    void dsiPacket(size_t offset, ScanState&) override { dsiOffsets.push_back(offset); }
    void systemHeaderRead(ScanState& s) override;

    // All payload of one stream, chunks joined in order.
    Bytes payloadOf(StreamKind kind, int32_t number) const;

    std::optional<int64_t> limit;
    std::vector<Registration> registrations;
    // Packets of streams that found no box.
    std::vector<Registration> taken;
    std::vector<Chunk> chunks;
    std::vector<size_t> controlOffsets;
    std::vector<size_t> dsiOffsets;
    int systemHeaders = 0;
    uint8_t videoBound = 0;
    uint8_t audioBound = 0;

private:
    const uint8_t* buffer_;
};

}  // namespace tolvane::fixture

namespace tolvane {

// The context numbered `number` of `kind`, put in the registry without a key when it is not.
inline StreamContext& numberedStream(StreamRegistry& streams, StreamKind kind, int32_t number) {
    StreamContext* context = streams.numbered(kind, number);
    return context != nullptr ? *context : *streams.pin(kind, number, kStreamAbsent);
}

}  // namespace tolvane
