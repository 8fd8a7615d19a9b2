#pragma once

#include <memory>
#include <string>

#include "core/output_sink.h"

namespace tolvane {

// An output file created (or emptied) for writing, with a buffer of its own so that small
// appends cost no system call. Every failure throws PlatformError naming the file: a write
// that fails, and the flush and close at the end.
class FileOutput : public OutputSink {
public:
    static constexpr size_t kBufferSize = 1 << 20;

    explicit FileOutput(std::string path);
    ~FileOutput() override;
    FileOutput(const FileOutput&) = delete;
    FileOutput& operator=(const FileOutput&) = delete;

    void append(const uint8_t* data, size_t length) override;
    // Writes what is buffered and closes the file; throws when either fails.
    void close();
    // Closes after a failure elsewhere: keeps on disk what can still be written, reports nothing.
    void closeQuietly() noexcept;
    const std::string& path() const { return path_; }

private:
    void writeAll(const uint8_t* data, size_t length);
    void flush();

    std::string path_;
    int fd_ = -1;
    std::unique_ptr<uint8_t[]> buffer_;
    size_t used_ = 0;
    bool failed_ = false;
};

}  // namespace tolvane
