#include "core/file_output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "core/platform_error.h"

namespace tolvane {

namespace {

// A name of its own beside `path`, hidden, for the bytes until the output is complete.
std::string partName(const std::string& path) {
    const size_t slash = path.rfind('/');
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    // The part name must fit where the final name fits: a long name is cut short in it.
    constexpr size_t kNameMax = 255;
    const std::string dot = ".";
    const std::string suffix = ".part-XXXXXX";
    const std::string name =
        path.substr(nameStart, kNameMax - dot.size() - suffix.size());
    return path.substr(0, nameStart) + dot + name + suffix;
}

}  // namespace

FileOutput::FileOutput(std::string path)
    : path_(std::move(path)),
      partPath_(partName(path_)),
      buffer_(std::make_unique_for_overwrite<uint8_t[]>(kBufferSize)) {
    fd_ = ::mkostemp(partPath_.data(), O_CLOEXEC);
    if (fd_ < 0) {
        throw PlatformError::fromErrno("Cannot create file", path_, errno);
    }
    // The finished file gets the permissions a plain create would have given it.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd_, 0666 & ~mask);
}

FileOutput::~FileOutput() {
    closeQuietly();
}

void FileOutput::writeAll(const uint8_t* data, size_t length) {
    while (length > 0) {
        const ssize_t written = ::write(fd_, data, length);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            failed_ = true;
            throw PlatformError::fromErrno("Stream write error", path_, errno);
        }
        if (written == 0) {
            failed_ = true;
            throw PlatformError::fromErrno("Stream write error", path_, ENOSPC);
        }
        data += written;
        length -= static_cast<size_t>(written);
    }
}

void FileOutput::flush() {
    if (used_ > 0) {
        const size_t pending = used_;
        used_ = 0;
        writeAll(buffer_.get(), pending);
    }
}

size_t FileOutput::appendFromFile(int descriptor, int64_t offset, size_t length) {
#ifdef __linux__
    if (!systemCopies_ || descriptor < 0) {
        return 0;
    }
    flush();  // what was appended before comes first
    size_t copied = 0;
    loff_t from = offset;
    while (copied < length) {
        const ssize_t done = ::copy_file_range(descriptor, &from, fd_, nullptr, length - copied, 0);
        if (done < 0) {
            if (errno == EINTR) {
                continue;
            }
            // Files on two file systems, or a system without the call: the caller copies.
            if (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP ||
                errno == EBADF) {
                systemCopies_ = false;
                break;
            }
            failed_ = true;
            throw PlatformError::fromErrno("Stream write error", path_, errno);
        }
        if (done == 0) {
            break;  // the source ended early: the caller copies what it holds
        }
        copied += static_cast<size_t>(done);
    }
    appended_ += copied;
    return copied;
#else
    static_cast<void>(descriptor);
    static_cast<void>(offset);
    static_cast<void>(length);
    return 0;
#endif
}

void FileOutput::append(const uint8_t* data, size_t length) {
    appended_ += length;
    if (used_ + length <= kBufferSize) {
        std::memcpy(buffer_.get() + used_, data, length);
        used_ += length;
        return;
    }
    flush();
    if (length >= kBufferSize) {
        writeAll(data, length);
    } else {
        std::memcpy(buffer_.get(), data, length);
        used_ = length;
    }
}

void FileOutput::close() {
    if (fd_ < 0) {
        return;
    }
    try {
        flush();
    } catch (...) {
        ::close(fd_);
        fd_ = -1;
        moveIntoPlace();
        throw;
    }
    const int result = ::close(fd_);
    fd_ = -1;
    if (result != 0) {
        const int error = errno;
        moveIntoPlace();
        throw PlatformError::fromErrno("Stream write error", path_, error);
    }
    if (!moveIntoPlace()) {
        throw PlatformError::fromErrno("Cannot create file", path_, errno);
    }
}

bool FileOutput::moveIntoPlace() noexcept {
    // One step: the final name holds the whole output or what it held before, never a part.
    return ::rename(partPath_.c_str(), path_.c_str()) == 0;
}

void FileOutput::closeQuietly() noexcept {
    if (fd_ < 0) {
        return;
    }
    if (!failed_) {
        try {
            flush();
        } catch (...) {
            // The job already ends with an error of its own.
        }
    }
    ::close(fd_);
    fd_ = -1;
    moveIntoPlace();  // what was written is kept, under the name the user was told
}

void FileOutput::discard() noexcept {
    if (fd_ < 0) {
        return;
    }
    ::close(fd_);
    fd_ = -1;
    used_ = 0;
    ::unlink(partPath_.c_str());
}

void prepareOutputFolder(const std::string& folder) {
    const std::string path = folder.empty() ? "." : folder;
    std::error_code error;
    std::filesystem::create_directories(path, error);
    if (error) {
        throw PlatformError::fromErrno("Cannot create folder", path, error.value());
    }
    // What a demux or rebuild will do there: a hidden part file, made and removed.
    std::string probe = path + "/.tolvane-probe-XXXXXX";
    const int fd = ::mkostemp(probe.data(), O_CLOEXEC);
    if (fd < 0) {
        throw PlatformError::fromErrno("Cannot write into folder", path, errno);
    }
    ::close(fd);
    ::unlink(probe.c_str());
}

}  // namespace tolvane
