#pragma once

#include <memory>
#include <string>

#include "core/output_sink.h"

namespace tolvane {

// An output file written under a hidden name of its own beside the final one and renamed into
// place when it is closed, also after a failure or a cancel: two runs never write into one file,
// and a crash never leaves a part of an output under its name (a file of that name is replaced
// only then). It has a buffer of its own so that small appends cost no system call. Every failure
// throws PlatformError naming the file: a write that fails, and the flush and close at the end.
class FileOutput : public OutputSink {
public:
    static constexpr size_t kBufferSize = 1 << 18;

    explicit FileOutput(std::string path);
    ~FileOutput() override;
    FileOutput(const FileOutput&) = delete;
    FileOutput& operator=(const FileOutput&) = delete;

    void append(const uint8_t* data, size_t length) override;
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
    void writeAll(const uint8_t* data, size_t length);
    void flush();
    bool moveIntoPlace() noexcept;

    std::string path_;
    std::string partPath_;
    int fd_ = -1;
    std::unique_ptr<uint8_t[]> buffer_;
    size_t used_ = 0;
    uint64_t appended_ = 0;
    bool failed_ = false;
    bool systemCopies_ = true;  // until the system says it cannot copy between these files
};

// Makes `folder` and its parents as `mkdir -p` does, then proves it takes a new file: a job
// refuses a folder it could not write into before it reads anything. An empty folder is the
// current one. Throws PlatformError naming the folder and the reason.
void prepareOutputFolder(const std::string& folder);

}  // namespace tolvane
