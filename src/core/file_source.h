#pragma once

#include <sys/types.h>

#include <string>

#include "core/input_source.h"
#include "core/platform_error.h"

namespace tolvane {

// A source file opened for reading through the system's descriptors.
class FileSource : public InputSource {
public:
    // Throws PlatformError naming the path when the file cannot be opened.
    explicit FileSource(std::string path);
    ~FileSource() override;
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;

    int64_t size() const override { return size_; }
    int64_t position() const override { return position_; }
    void seek(int64_t position) override;
    size_t read(uint8_t* data, size_t length) override;
    int descriptor() const override { return fd_; }
    void checkUnchanged() const override;
    const std::string& path() const { return path_; }

private:
    // The error of a source that now has `bytesNow` bytes, or (-1) is another file.
    PlatformError changed(int64_t bytesNow) const;

    std::string path_;
    int fd_ = -1;
    int64_t size_ = 0;
    int64_t position_ = 0;
    dev_t device_ = 0;
    ino_t inode_ = 0;
};

}  // namespace tolvane
