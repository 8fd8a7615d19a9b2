#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/file_output.h"
#include "format/stream_coding.h"
#include "format/stream_ids.h"

struct AVFormatContext;
struct AVPacket;

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
};

struct MatroskaChapter {
    int64_t start = 0;  // 90 kHz ticks on the title's timeline, from its start
    int64_t end = 0;
    std::string name;
};

// FFmpeg's codec id (an AVCodecID) for a stream of `coding`; LPCM as the little-endian samples
// of `bits` it is written as.
int avCodecIdOf(StreamCoding coding, int bits);

// Writes a Matroska file through FFmpeg's muxer into `out`, which stays ours: the file is a part
// file until its owner closes it, and a failure leaves what FileOutput keeps of it.
class MatroskaWriter {
public:
    MatroskaWriter(FileOutput& out, const std::vector<MatroskaTrack>& tracks,
                   const std::vector<MatroskaChapter>& chapters, const std::string& title);
    ~MatroskaWriter();
    MatroskaWriter(const MatroskaWriter&) = delete;
    MatroskaWriter& operator=(const MatroskaWriter&) = delete;

    // One block of `track`: a whole access unit or whole audio frames, or one subtitle, with
    // its times in 90 kHz ticks from the title's start.
    void write(size_t track, const uint8_t* data, size_t size, int64_t pts,
               std::optional<int64_t> dts, bool key, int64_t duration = 0);
    // Writes what the muxer holds, its cues and sizes.
    void finish();

    // Where the muxer writes: the output's end, or a place before it that it goes back to.
    int writeBytes(const uint8_t* data, int size);
    int64_t seekTo(int64_t offset, int whence);

private:
    void open(const std::vector<MatroskaTrack>& tracks,
              const std::vector<MatroskaChapter>& chapters, const std::string& title);
    void release() noexcept;

    FileOutput& out_;
    AVFormatContext* context_ = nullptr;
    AVPacket* packet_ = nullptr;
    int64_t position_ = 0;
    // Each track's last decoding time, in its time base.
    std::vector<int64_t> lastDts_;
    bool finished_ = false;
    // What the output threw inside the muxer's call, thrown again once the muxer returned:
    // nothing may unwind through its C frames.
    std::exception_ptr failure_;
};

}  // namespace tolvane
