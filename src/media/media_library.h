#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "format/stream_coding.h"
#include "format/stream_ids.h"

// What the program asks of FFmpeg's libraries: framing a stream's packets and writing Matroska.
// They live in a module of their own, loaded when a job first needs them, so that the commands
// that do not (and every start) pay nothing for FFmpeg's hundred and more shared libraries.
// No library type crosses this boundary, and failures come back as words, not exceptions.

namespace tolvane {

// One track of a Matroska file, as the read knows its stream.
struct MatroskaTrack {
    StreamKind kind = StreamKind::Video;
    // Its coding; LPCM is written as little-endian integer samples (see WavWriter).
    StreamCoding coding = StreamCoding::Mpeg2;
    // What a decoder needs first: video's sequence headers and parameter sets; for subpictures
    // the VobSub index header (frame size and palette).
    std::vector<uint8_t> codecPrivate;
    int width = 0;
    int height = 0;
    int sampleRate = 0;
    int channels = 0;
    int bits = 0;          // LPCM: 16 or 24 (20-bit samples are written 24 bits wide)
    std::string language;  // ISO 639-2; empty: undetermined
    std::string name;
    bool isDefault = false;
    // Shown whatever the player's subtitle setting: a track of forced subpictures.
    bool isForced = false;
    // Subpictures written as PGS display sets (HD DVD's), not as DVD subpicture units.
    bool presentationGraphics = false;
};

struct MatroskaChapter {
    int64_t start = 0;  // 90 kHz ticks on the title's timeline, from its start
    int64_t end = 0;
    std::string name;
};

// One block of a track: a whole access unit or whole audio frames, or one subtitle, with its
// times in 90 kHz ticks from the file's start.
struct MatroskaBlock {
    size_t track = 0;
    const uint8_t* data = nullptr;
    size_t size = 0;
    int64_t pts = 0;
    std::optional<int64_t> dts;
    bool key = false;
    int64_t duration = 0;
};

// Where a muxer's bytes go: appended at the end, or over what is written before it.
class ByteSink {
public:
    virtual ~ByteSink() = default;
    // False when the bytes cannot be written; the sink keeps why.
    virtual bool write(const uint8_t* data, size_t size) = 0;
    // False for a place past the end.
    virtual bool seek(int64_t offset) = 0;
    virtual int64_t position() const = 0;
    virtual int64_t size() const = 0;
};

// A frame a parser completed, its bytes valid until the parser's next call.
struct ParsedFrame {
    const uint8_t* data = nullptr;
    size_t size = 0;
    std::optional<int64_t> pts;
    std::optional<int64_t> dts;
    bool key = false;
    bool bidirectional = false;  // a B-picture: shown as it is decoded
    int repeatFields = 0;        // fields shown past a frame's first
    // H.264: the picture order count, two a frame, counted from the last IDR picture.
    int pictureOrder = 0;
    int samples = 0;  // audio: samples per channel
};

// Cuts a stream's bytes into frames (video access units, audio frames), carrying each packet's
// times to the first frame that starts in it.
class FrameParser {
public:
    virtual ~FrameParser() = default;
    // Takes bytes from `data` (nullptr: the stream ended) and returns how many it took, negative
    // when it cannot go on; `frame.size` is 0 unless a frame was completed.
    virtual long parse(const uint8_t* data, size_t size, std::optional<int64_t> pts,
                       std::optional<int64_t> dts, ParsedFrame& frame) = 0;
    // Audio as the frames so far say it is; 0 while unknown.
    virtual int sampleRate() const = 0;
    virtual int channels() const = 0;
};

// A Matroska file written into a ByteSink. Each call returns what went wrong in the library's
// words, empty when nothing did.
class MatroskaMuxer {
public:
    virtual ~MatroskaMuxer() = default;
    virtual std::string begin(const std::vector<MatroskaTrack>& tracks,
                              const std::vector<MatroskaChapter>& chapters,
                              const std::string& title) = 0;
    virtual std::string write(const MatroskaBlock& block) = 0;
    // What the muxer holds, its cues and sizes.
    virtual std::string finish() = 0;
};

// The module's table; its layout changes with kMediaLibraryVersion.
struct MediaLibrary {
    int version = 0;
    // No parser for a coding FFmpeg does not frame (LPCM, subpictures).
    std::unique_ptr<FrameParser> (*parser)(StreamCoding coding) = nullptr;
    std::unique_ptr<MatroskaMuxer> (*matroska)(ByteSink& sink) = nullptr;
};

inline constexpr int kMediaLibraryVersion = 2;
inline constexpr const char* kMediaLibraryEntry = "tolvane_media_library";

}  // namespace tolvane

extern "C" const tolvane::MediaLibrary* tolvane_media_library();
