#include "core/file_output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "core/platform_error.h"

namespace tolvane {

namespace {

constexpr size_t kNameMax = 255;

// `path` with `prefix` and `suffix` around its file name, the name cut short where the whole
// would not fit where the name itself fits.
std::string besideName(const std::string& path, const std::string& prefix,
                       const std::string& suffix) {
    const size_t slash = path.rfind('/');
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const std::string name = path.substr(nameStart, kNameMax - prefix.size() - suffix.size());
    return path.substr(0, nameStart) + prefix + name + suffix;
}

// A name of its own beside `path`, hidden, for the bytes until the output is complete.
std::string partName(const std::string& path) {
    return besideName(path, ".", ".part-XXXXXX");
}

// Makes the last rename into `path`'s folder last through a power cut.
void syncFolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// Renames `from` to `to` unless `to` exists (errno EEXIST then), on file systems with and
// without the system's own no-replace rename.
int renameWithoutReplacing(const std::string& from, const std::string& to) {
#ifdef RENAME_NOREPLACE
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return 0;
    }
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) {
        return -1;
    }
#endif
    if (::link(from.c_str(), to.c_str()) == 0) {
        ::unlink(from.c_str());
        return 0;
    }
    if (errno == EEXIST) {
        return -1;
    }
    struct stat existing {};
    if (::lstat(to.c_str(), &existing) == 0) {
        errno = EEXIST;
        return -1;
    }
    return ::rename(from.c_str(), to.c_str());
}

const char* unfitTarget(const struct stat& info) {
    if (S_ISDIR(info.st_mode)) {
        return "it is a folder";
    }
    if (S_ISLNK(info.st_mode)) {
        return "it is a symbolic link";
    }
    if (!S_ISREG(info.st_mode)) {
        return "it is not a regular file (a device, a pipe or a socket)";
    }
    return nullptr;
}

}  // namespace

void checkOutputTarget(const std::string& path, const std::vector<std::string>& inputs) {
    struct stat target {};
    if (::lstat(path.c_str(), &target) != 0) {
        return;  // nothing there yet
    }
    if (const char* why = unfitTarget(target)) {
        throw PlatformError("Cannot write \"" + path + "\": " + why + ".", ErrorCode::Usage);
    }
    for (const std::string& input : inputs) {
        struct stat read {};
        if (::stat(input.c_str(), &read) == 0 && read.st_dev == target.st_dev &&
            read.st_ino == target.st_ino) {
            throw PlatformError(
                "Cannot write \"" + path + "\": it is " + input + ", which this job reads.",
                ErrorCode::Usage);
        }
    }
}

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
    closeIncomplete();
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

void FileOutput::overwrite(uint64_t offset, const uint8_t* data, size_t length) {
    flush();
    while (length > 0) {
        const ssize_t written = ::pwrite(fd_, data, length, static_cast<off_t>(offset));
        if (written <= 0) {
            if (written < 0 && errno == EINTR) {
                continue;
            }
            failed_ = true;
            throw PlatformError::fromErrno("Stream write error", path_,
                                           written < 0 ? errno : ENOSPC);
        }
        data += written;
        offset += static_cast<uint64_t>(written);
        length -= static_cast<size_t>(written);
    }
}

void FileOutput::finishWriting() {
    if (settled_ || fd_ < 0) {
        return;
    }
    try {
        flush();
    } catch (...) {
        closeIncomplete();
        throw;
    }
    // On disk before it takes the name: a power cut never leaves it empty under that name.
    int error = ::fsync(fd_) != 0 && errno != EINVAL && errno != EROFS ? errno : 0;
    if (::close(fd_) != 0 && error == 0) {
        error = errno;
    }
    fd_ = -1;
    if (error != 0) {
        failed_ = true;
        closeIncomplete();
        throw PlatformError::fromErrno("Stream write error", path_, error);
    }
}

void FileOutput::close() {
    if (settled_) {
        return;
    }
    finishWriting();
    if (::rename(partPath_.c_str(), path_.c_str()) != 0) {
        const int error = errno;
        const std::string wanted = path_;
        closeIncomplete();  // what was written is kept under a name that says so
        throw PlatformError::fromErrno("Cannot create file", wanted, error);
    }
    settled_ = true;
    syncFolderOf(path_);
}

void FileOutput::closeIncomplete() noexcept {
    if (settled_) {
        return;
    }
    settled_ = true;
    if (fd_ >= 0) {
        if (!failed_) {
            try {
                flush();
            } catch (...) {
                // The job already ends with an error of its own.
            }
        }
        ::fsync(fd_);
        ::close(fd_);
        fd_ = -1;
    }
    if (appended_ == 0) {
        ::unlink(partPath_.c_str());  // nothing worth a file
        return;
    }
    // What was written is kept under a name that says it is not whole, never in place of a
    // file: two outputs whose names were cut to fit get numbers of their own.
    complete_ = false;
    for (int number = 1; number < 1000; ++number) {
        const std::string kept = besideName(
            path_, "", number == 1 ? ".incomplete" : "." + std::to_string(number) + ".incomplete");
        if (renameWithoutReplacing(partPath_, kept) == 0) {
            path_ = kept;
            syncFolderOf(path_);
            return;
        }
        if (errno != EEXIST) {
            break;
        }
    }
    path_ = partPath_;  // kept hidden rather than lost
}

void FileOutput::discard() noexcept {
    if (settled_) {
        return;
    }
    settled_ = true;
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
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
        const int reason = errno;
        // A folder that is there but refuses new names (/proc) says "no such file": say what
        // is wrong instead.
        if (reason == ENOENT && std::filesystem::is_directory(path, error)) {
            throw PlatformError("Cannot write into folder \"" + path + "\". It takes no new files");
        }
        throw PlatformError::fromErrno("Cannot write into folder", path, reason);
    }
    ::close(fd);
    ::unlink(probe.c_str());
}

}  // namespace tolvane
