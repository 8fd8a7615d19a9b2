#include "core/file_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "core/platform_error.h"

namespace tolvane {

FileSource::FileSource(std::string path) : path_(std::move(path)) {
    // A pipe, device or socket has no size to read to and may block the open: refused before
    // it is opened.
    struct stat before {};
    if (::stat(path_.c_str(), &before) == 0 && !S_ISREG(before.st_mode) &&
        !S_ISDIR(before.st_mode)) {
        throw PlatformError("Cannot open file \"" + path_ +
                            "\". It is not a regular file (a pipe, a device or a socket)");
    }
    fd_ = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) {
        throw PlatformError::fromErrno("Cannot open file", path_, errno);
    }
    struct stat info {};
    if (::fstat(fd_, &info) != 0) {
        const int error = errno;
        ::close(fd_);
        throw PlatformError::fromErrno("Cannot open file", path_, error);
    }
    if (S_ISDIR(info.st_mode)) {
        ::close(fd_);
        throw PlatformError::fromErrno("Cannot open file", path_, EISDIR);
    }
    size_ = info.st_size;
    device_ = info.st_dev;
    inode_ = info.st_ino;
    // Read from start to end: the system may read further ahead than it would by default.
    ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
}

FileSource::~FileSource() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

void FileSource::seek(int64_t position) {
    if (::lseek(fd_, position, SEEK_SET) < 0) {
        throw PlatformError::fromErrno("Cannot read file", path_, errno);
    }
    position_ = position;
}

size_t FileSource::read(uint8_t* data, size_t length) {
    size_t total = 0;
    while (total < length) {
        const ssize_t got = ::read(fd_, data + total, length - total);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw PlatformError::fromErrno("Cannot read file", path_, errno);
        }
        if (got == 0) {
            if (position_ + static_cast<int64_t>(total) < size_) {
                throw changed(position_ + static_cast<int64_t>(total));
            }
            break;
        }
        total += static_cast<size_t>(got);
    }
    position_ += static_cast<int64_t>(total);
    return total;
}

PlatformError FileSource::changed(int64_t bytesNow) const {
    return PlatformError("File \"" + path_ + "\" changed while it was read: " +
                         (bytesNow >= 0 ? "it had " + std::to_string(size_) + " bytes, now " +
                                              std::to_string(bytesNow)
                                        : std::string("another file took its name")) +
                         ".");
}

void FileSource::checkUnchanged() const {
    struct stat now {};
    if (::fstat(fd_, &now) != 0) {
        throw PlatformError::fromErrno("Cannot read file", path_, errno);
    }
    if (now.st_size != size_) {
        throw changed(now.st_size);
    }
    struct stat named {};
    if (::stat(path_.c_str(), &named) != 0 || named.st_dev != device_ || named.st_ino != inode_) {
        throw changed(-1);
    }
}

}  // namespace tolvane
