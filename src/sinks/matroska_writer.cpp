#include "sinks/matroska_writer.h"

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <filesystem>

#include "core/platform_error.h"

#ifndef TOLVANE_MEDIA_MODULE_DIR
#define TOLVANE_MEDIA_MODULE_DIR "."
#endif
#ifndef TOLVANE_MEDIA_MODULE_NAME
#define TOLVANE_MEDIA_MODULE_NAME "libtolvane-media.so"
#endif

namespace tolvane {

namespace {

// The module beside the program, where the build and the install put it (its folder relative
// to the program's), found whatever folder the program was installed to.
std::filesystem::path modulePath() {
    char self[PATH_MAX] = {};
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    const std::filesystem::path program =
        length > 0 ? std::filesystem::path(std::string(self, static_cast<size_t>(length)))
                   : std::filesystem::path();
    return program.parent_path() / TOLVANE_MEDIA_MODULE_DIR / TOLVANE_MEDIA_MODULE_NAME;
}

const MediaLibrary* loadMediaLibrary(std::string& why) {
    const std::filesystem::path path = modulePath();
    // Kept open for the program's life: its parsers and muxers may be anywhere.
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
        const char* text = dlerror();
        why = text != nullptr ? text : path.string();
        return nullptr;
    }
    using Entry = const MediaLibrary* (*)();
    auto entry = reinterpret_cast<Entry>(dlsym(module, kMediaLibraryEntry));
    const MediaLibrary* library = entry != nullptr ? entry() : nullptr;
    if (library == nullptr || library->version != kMediaLibraryVersion) {
        why = path.string() + " is not this program's";
        return nullptr;
    }
    return library;
}

}  // namespace

const MediaLibrary& mediaLibrary() {
    static std::string why;
    static const MediaLibrary* const library = loadMediaLibrary(why);
    if (library == nullptr) {
        throw JobError(ErrorCode::NotFound, "Cannot load FFmpeg's libraries: " + why);
    }
    return *library;
}

MatroskaWriter::MatroskaWriter(FileOutput& out, const std::vector<MatroskaTrack>& tracks,
                               const std::vector<MatroskaChapter>& chapters,
                               const std::string& title)
    : bytes_(out), muxer_(mediaLibrary().matroska(bytes_)) {
    check(muxer_->begin(tracks, chapters, title));
}

MatroskaWriter::~MatroskaWriter() = default;

void MatroskaWriter::check(const std::string& failed) const {
    if (bytes_.failure) {
        std::rethrow_exception(bytes_.failure);
    }
    if (!failed.empty()) {
        throw JobError(ErrorCode::InputOutput, "Cannot write Matroska (" + failed + ")");
    }
}

void MatroskaWriter::write(size_t track, const uint8_t* data, size_t size, int64_t pts,
                           std::optional<int64_t> dts, bool key, int64_t duration) {
    check(muxer_->write({track, data, size, pts, dts, key, duration}));
}

void MatroskaWriter::finish() {
    if (finished_) {
        return;
    }
    finished_ = true;
    check(muxer_->finish());
}

bool MatroskaWriter::OutputBytes::write(const uint8_t* data, size_t size) {
    try {
        const auto end = static_cast<int64_t>(out_.bytesWritten());
        if (position_ < end) {
            // The muxer went back to fill in a size or a link.
            const size_t inside = std::min(size, static_cast<size_t>(end - position_));
            out_.overwrite(static_cast<uint64_t>(position_), data, inside);
            data += inside;
            size -= inside;
            position_ += static_cast<int64_t>(inside);
        }
        if (size > 0) {
            out_.append(data, size);
            position_ += static_cast<int64_t>(size);
        }
        return true;
    } catch (...) {
        failure = std::current_exception();
        return false;
    }
}

bool MatroskaWriter::OutputBytes::seek(int64_t offset) {
    // Nothing is written past the end but by appending.
    if (offset < 0 || offset > size()) {
        return false;
    }
    position_ = offset;
    return true;
}

}  // namespace tolvane
