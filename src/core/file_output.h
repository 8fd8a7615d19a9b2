#pragma once

#include <sys/uio.h>

#include <memory>
#include <string>
#include <vector>

#include "core/output_sink.h"

namespace tolvane {

// An output file written under a hidden name of its own beside the final one and renamed into
// place when it is closed, also after a failure or a cancel: two runs never write into one file,
// and a crash never leaves a part of an output under its name (a file of that name is replaced
// only then). Bytes appended from the read block are written from there, many runs with one call;
// small appends, and what is too little to write when the block ends, go through a buffer of its
// own, so that they cost no system call. Every failure
// throws PlatformError naming the file: a write that fails, and the flush and close at the end.
class FileOutput : public OutputSink {
public:
    static constexpr size_t kBufferSize = 1 << 18;
    // Less than this, left when the read block ends, is kept to be written with what follows.
    static constexpr size_t kWriteAtLeast = 1 << 16;

    explicit FileOutput(std::string path);
    ~FileOutput() override;
    FileOutput(const FileOutput&) = delete;
    FileOutput& operator=(const FileOutput&) = delete;

    void append(const uint8_t* data, size_t length) override;
    void appendFromBlock(const uint8_t* data, size_t length) override;
    void blockEnded() override;
    // With copy_file_range: the system copies, and shares the data where its file system can.
    size_t appendFromFile(int descriptor, int64_t offset, size_t length) override;
    // Writes what is buffered and closes the file; throws when either fails.
    void close();
    // Closes after a failure elsewhere: keeps on disk what can still be written, reports nothing.
    void closeQuietly() noexcept;
    // Closes and removes what was written: the final name is left as it was.
    void discard() noexcept;
    // The name the output takes when it is closed, if it is not closed yet.
    void setPath(std::string path) { path_ = std::move(path); }
    const std::string& path() const { return path_; }
    // Bytes appended so far; all of them are on disk once close() has returned.
    uint64_t bytesWritten() const { return appended_; }

private:
    // Writes every run not yet written, in order, and empties the buffer.
    void flush();
    void addRun(const uint8_t* data, size_t length);
    bool moveIntoPlace() noexcept;

    std::string path_;
    std::string partPath_;
    int fd_ = -1;
    std::unique_ptr<uint8_t[]> buffer_;
    size_t used_ = 0;
    // What is appended and not yet written: runs in the buffer and in the read block, in order.
    std::vector<iovec> runs_;
    size_t runBytes_ = 0;
    bool runsInBlock_ = false;
    // Where runs too small to write are gathered before they go to the start of the buffer.
    std::unique_ptr<uint8_t[]> scratch_;
    uint64_t appended_ = 0;
    bool failed_ = false;
    bool systemCopies_ = true;  // until the system says it cannot copy between these files
};

}  // namespace tolvane
