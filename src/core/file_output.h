#pragma once

#include <memory>
#include <string>
#include <vector>

#include "core/output_sink.h"

namespace tolvane {

// An output file written under a hidden name of its own beside the final one, and given that name
// only when it is whole: two runs never write into one file, and a crash never leaves a part of
// an output under its name. An output that did not end normally (a failure, a cancel) keeps what
// was written as NAME.incomplete (NAME.2.incomplete and on when that is taken): a part never
// looks whole, and never replaces a file. It has a buffer of its own so that small appends cost
// no system call. Every failure throws PlatformError naming the file: a write that fails, and the
// flush, sync and close at the end.
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
    // Writes `length` bytes over what was appended at `offset`; throws as append() does.
    void overwrite(uint64_t offset, const uint8_t* data, size_t length);
    // Writes what is buffered and syncs it, without naming it yet: outputs that belong together
    // (a VobSub .sub and its .idx) are all on disk before any takes its name. Throws when a step
    // fails; the output is then ended by closeIncomplete().
    void finishWriting();
    // finishWriting(), then gives the output its name, replacing a file of that name; throws
    // when any step fails, the output then kept as closeIncomplete() keeps it.
    void close();
    // Closes an output that did not end normally: what can still be written is kept as
    // NAME.incomplete, or with a number before ".incomplete" when that name is taken (path()
    // says where); nothing at all when nothing was appended. Reports nothing.
    void closeIncomplete() noexcept;
    // Closes and removes what was written: the final name is left as it was.
    void discard() noexcept;
    // The name the output takes when it is closed, if it is not closed yet; after closing, the
    // name it has.
    void setPath(std::string path) { path_ = std::move(path); }
    const std::string& path() const { return path_; }
    // Bytes appended so far; all of them are on disk once close() has returned.
    uint64_t bytesWritten() const { return appended_; }
    // False once closeIncomplete() kept what it wrote.
    bool complete() const { return complete_; }

private:
    void writeAll(const uint8_t* data, size_t length);
    void flush();

    std::string path_;
    std::string partPath_;
    int fd_ = -1;
    std::unique_ptr<uint8_t[]> buffer_;
    size_t used_ = 0;
    uint64_t appended_ = 0;
    bool failed_ = false;
    bool complete_ = true;
    bool settled_ = false;      // the part file was renamed or removed
    bool systemCopies_ = true;  // until the system says it cannot copy between these files
};

// Refuses (PlatformError) to write an output at `path` when what is there must not be replaced:
// a folder, a symbolic link, a device, a pipe or a socket, or any of the files `inputs` that the
// job reads, told by device and inode, whatever name reaches it. Nothing there is fine.
void checkOutputTarget(const std::string& path, const std::vector<std::string>& inputs);

// Makes `folder` and its parents as `mkdir -p` does, then proves it takes a new file: a job
// refuses a folder it could not write into before it reads anything. An empty folder is the
// current one. Throws PlatformError naming the folder and the reason.
void prepareOutputFolder(const std::string& folder);

}  // namespace tolvane
