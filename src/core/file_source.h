#pragma once

#include <sys/types.h>

#include <string>

#include "core/input_source.h"
#include "core/platform_error.h"

namespace tolvane {

// A source file read through the system's descriptors. It holds its file open only while it is
// read: parked, it lets go of it and opens it again when read, so a title of a thousand clips
// needs one descriptor at a time. Opened again, it must be the same file with the same size.
class FileSource : public InputSource {
public:
    // Throws PlatformError naming the path when the file cannot be opened or is not a regular
    // file (a pipe, a device, a socket: refused without waiting on them).
    explicit FileSource(std::string path);
    ~FileSource() override;
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;

    int64_t size() const override { return size_; }
    int64_t position() const override { return position_; }
    void seek(int64_t position) override;
    size_t read(uint8_t* data, size_t length) override;
    int descriptor() const override;
    void checkUnchanged() const override;
    void park() override;
    const std::string& path() const { return path_; }

private:
    // The open file, opened again when parked; throws when it cannot be, or is another file.
    int openFile() const;
    // The error of a source that now has `bytesNow` bytes, or (-1) is another file.
    PlatformError changed(int64_t bytesNow) const;

    std::string path_;
    mutable int fd_ = -1;
    int64_t size_ = 0;
    int64_t position_ = 0;
    dev_t device_ = 0;
    ino_t inode_ = 0;
    bool opened_ = false;  // the first open took the file's identity
};

}  // namespace tolvane
