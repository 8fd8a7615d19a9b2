#include "core/file_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

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
            break;
        }
        total += static_cast<size_t>(got);
    }
    position_ += static_cast<int64_t>(total);
    return total;
}

}  // namespace tolvane
