#include "core/file_output.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "core/platform_error.h"

namespace tolvane {

FileOutput::FileOutput(std::string path)
    : path_(std::move(path)), buffer_(std::make_unique<uint8_t[]>(kBufferSize)) {
    fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd_ < 0) {
        throw PlatformError::fromErrno("Cannot create file", path_, errno);
    }
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

void FileOutput::append(const uint8_t* data, size_t length) {
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
        throw;
    }
    const int result = ::close(fd_);
    fd_ = -1;
    if (result != 0) {
        throw PlatformError::fromErrno("Stream write error", path_, errno);
    }
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
}

}  // namespace tolvane
