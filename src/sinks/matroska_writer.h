#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/file_output.h"
#include "media/media_library.h"

namespace tolvane {

// FFmpeg's module, loaded on first use and kept. Throws JobError when it cannot be loaded.
const MediaLibrary& mediaLibrary();

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

private:
    // The output as the muxer sees it: it appends, and goes back to fill in sizes and links.
    class OutputBytes final : public ByteSink {
    public:
        explicit OutputBytes(FileOutput& out) : out_(out) {}
        bool write(const uint8_t* data, size_t size) override;
        bool seek(int64_t offset) override;
        int64_t position() const override { return position_; }
        int64_t size() const override { return static_cast<int64_t>(out_.bytesWritten()); }

        // What the output threw inside the muxer's call, thrown again once the muxer returned:
        // nothing may unwind through its C frames.
        std::exception_ptr failure;

    private:
        FileOutput& out_;
        int64_t position_ = 0;
    };

    // Throws what the output threw, or a JobError with the muxer's words.
    void check(const std::string& failed) const;

    OutputBytes bytes_;
    std::unique_ptr<MatroskaMuxer> muxer_;
    bool finished_ = false;
};

}  // namespace tolvane
