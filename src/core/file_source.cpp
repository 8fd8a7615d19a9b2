#include "core/file_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "core/platform_error.h"

namespace tolvane {

FileSource::FileSource(std::string path) : path_(std::move(path)) {
    openFile();
    park();  // opened again when read: sources of many files hold one open at a time
}

FileSource::~FileSource() {
    park();
}

int FileSource::openFile() const {
    if (fd_ >= 0) {
        return fd_;
    }
    // Without waiting: a pipe or a device would block the open until a writer or a medium
    // comes, and is refused once it is open.
    const int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        throw PlatformError::fromErrno("Cannot open file", path_, errno);
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        const int error = errno;
        ::close(fd);
        throw PlatformError::fromErrno("Cannot open file", path_, error);
    }
    if (S_ISDIR(info.st_mode)) {
        ::close(fd);
        throw PlatformError::fromErrno("Cannot open file", path_, EISDIR);
    }
    if (!S_ISREG(info.st_mode)) {
        ::close(fd);
        throw PlatformError("Cannot open file \"" + path_ +
                                "\". It is not a regular file (a pipe, a device or a socket)",
                            ErrorCode::Usage);
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    auto& self = const_cast<FileSource&>(*this);
    if (!opened_) {
        self.size_ = info.st_size;
        self.device_ = info.st_dev;
        self.inode_ = info.st_ino;
        self.opened_ = true;
    } else if (info.st_dev != device_ || info.st_ino != inode_ || info.st_size != size_) {
        ::close(fd);
        throw changed(info.st_dev != device_ || info.st_ino != inode_ ? -1 : info.st_size);
    }
    // Read from start to end: the system may read further ahead than it would by default.
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    if (::lseek(fd, position_, SEEK_SET) < 0) {
        const int error = errno;
        ::close(fd);
        throw PlatformError::fromErrno("Cannot read file", path_, error);
    }
    fd_ = fd;
    return fd_;
}

void FileSource::park() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

int FileSource::descriptor() const {
    return openFile();
}

void FileSource::seek(int64_t position) {
    if (fd_ >= 0 && ::lseek(fd_, position, SEEK_SET) < 0) {
        throw PlatformError::fromErrno("Cannot read file", path_, errno);
    }
    position_ = position;
}

size_t FileSource::read(uint8_t* data, size_t length) {
    const int fd = openFile();
    size_t total = 0;
    while (total < length) {
        const ssize_t got = ::read(fd, data + total, length - total);
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
    if (fd_ >= 0) {
        if (::fstat(fd_, &now) != 0) {
            throw PlatformError::fromErrno("Cannot read file", path_, errno);
        }
        if (now.st_size != size_) {
            throw changed(now.st_size);
        }
    }
    struct stat named {};
    if (::stat(path_.c_str(), &named) != 0 || named.st_dev != device_ || named.st_ino != inode_) {
        throw changed(-1);
    }
    if (named.st_size != size_) {
        throw changed(named.st_size);
    }
}

}  // namespace tolvane
