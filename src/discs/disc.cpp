#include "discs/disc.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "core/platform_error.h"
#include "core/text_escape.h"
#include "discs/dvd_disc.h"
#include "discs/hddvd_disc.h"

namespace tolvane {

const DiscTitle* Disc::title(int title) const {
    for (const DiscTitle& found : titles_) {
        if (found.number == title) {
            return &found;
        }
    }
    return nullptr;
}

void Disc::noSuchTitle(int title) const {
    throw PlatformError("Disc \"" + path_ + "\" has no title " + std::to_string(title) +
                            ": it has " + std::to_string(titles_.size()) + ".",
                        ErrorCode::NotFound);
}

std::unique_ptr<Disc> openDisc(const std::string& path) {
    if (std::unique_ptr<Disc> hdDvd = HdDvdDisc::openIfOne(path)) {
        return hdDvd;
    }
    return DvdDisc::open(path);
}

StreamLanguages streamLanguages(const DiscTitle& title) {
    StreamLanguages languages;
    for (const DiscStream& stream : title.streams) {
        if (!stream.viewport.empty()) {
            languages.viewports[{stream.kind, stream.id}] = stream.viewport;
        }
        if (stream.language.empty()) {
            continue;
        }
        if (stream.number >= 0) {
            languages.byNumber[{stream.kind, stream.number}] = stream.language;
            continue;
        }
        // MPEG audio is met by its stream id, which its key marks apart from private ids.
        const bool mpeg = stream.kind == StreamKind::Audio && stream.id >= 0xC0;
        languages.byKey[{stream.kind, mpeg ? (stream.id | kMpegAudioKey) : stream.id}] =
            stream.language;
    }
    return languages;
}

namespace {

// A folder that holds a disc's own folders or files.
bool holdsDisc(const std::filesystem::path& folder) {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        const std::string name = upperCase(entry.path().filename().string());
        if (name == "VIDEO_TS" || name == "HVDVD_TS" || name == "ADV_OBJ" ||
            name == "VIDEO_TS.IFO") {
            return true;
        }
    }
    return false;
}

}  // namespace

namespace {

bool libraryMessages = false;

}  // namespace

void showLibraryMessages(bool show) {
    libraryMessages = show;
}

bool libraryMessagesShown() {
    return libraryMessages;
}

QuietLibrary::QuietLibrary() {
    if (libraryMessages) {
        return;
    }
    std::fflush(stderr);
    const int nowhere = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    saved_ = nowhere < 0 ? -1 : ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 0);
    if (saved_ >= 0) {
        ::dup2(nowhere, STDERR_FILENO);
    }
    if (nowhere >= 0) {
        ::close(nowhere);
    }
}

QuietLibrary::~QuietLibrary() {
    if (saved_ >= 0) {
        std::fflush(stderr);
        ::dup2(saved_, STDERR_FILENO);
        ::close(saved_);
    }
}

namespace {

// The folders of a disc folder at `root` that hold its files: the root itself when it is one
// of them, else those of their names in it.
bool isDiscFolder(const std::filesystem::path& folder) {
    static constexpr const char* kFolders[] = {"VIDEO_TS", "HVDVD_TS", "ADV_OBJ", "AUDIO_TS"};
    const std::string name = upperCase(folder.filename().string());
    return std::find(std::begin(kFolders), std::end(kFolders), name) != std::end(kFolders);
}

std::vector<std::filesystem::path> discFolders(const std::filesystem::path& root) {
    std::filesystem::path trimmed = root;
    if (trimmed.filename().empty()) {
        trimmed = trimmed.parent_path();
    }
    if (isDiscFolder(trimmed)) {
        return {trimmed};
    }
    std::vector<std::filesystem::path> folders;
    std::error_code error;
    for (std::filesystem::directory_iterator entries(root, error), end; !error && entries != end;
         entries.increment(error)) {
        if (isDiscFolder(entries->path()) && entries->is_directory(error)) {
            folders.push_back(entries->path());
        }
    }
    return folders;
}

// Calls `visit` with each entry below the disc folders of `root`, folders included, a few
// levels deep (ADV_OBJ has folders of its own) and no more than a disc can hold.
template <typename Visit>
void forEachMember(const std::filesystem::path& root, Visit&& visit) {
    constexpr int kDepth = 4;
    constexpr size_t kMostEntries = 100000;
    size_t seen = 0;
    std::vector<std::pair<std::filesystem::path, int>> folders;
    for (const std::filesystem::path& folder : discFolders(root)) {
        folders.emplace_back(folder, 0);
    }
    while (!folders.empty() && seen < kMostEntries) {
        const auto [folder, depth] = folders.back();
        folders.pop_back();
        std::error_code error;
        for (std::filesystem::directory_iterator entries(folder, error), end;
             !error && entries != end && seen < kMostEntries; entries.increment(error)) {
            ++seen;
            const std::filesystem::file_status status = entries->status(error);
            if (std::filesystem::is_directory(status)) {
                if (depth + 1 < kDepth) {
                    folders.emplace_back(entries->path(), depth + 1);
                }
                continue;
            }
            visit(entries->path(), status);
        }
    }
}

}  // namespace

void checkDiscMembers(const std::string& path) {
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(path, error);
    if (!std::filesystem::exists(status)) {
        throw PlatformError("Cannot open disc \"" + path + "\". No such file or directory",
                            ErrorCode::NotFound);
    }
    if (!std::filesystem::is_directory(status) && !std::filesystem::is_regular_file(status) &&
        !std::filesystem::is_block_file(status)) {
        throw PlatformError("Cannot open disc \"" + path +
                                "\". It is not a folder, an image or a drive (a pipe or a socket)",
                            ErrorCode::Usage);
    }
    if (!std::filesystem::is_directory(status)) {
        return;
    }
    forEachMember(path, [&](const std::filesystem::path& member,
                            const std::filesystem::file_status& kind) {
        if (!std::filesystem::is_regular_file(kind) && std::filesystem::exists(kind)) {
            throw PlatformError("Cannot open disc \"" + path + "\". Its file \"" + member.string() +
                                    "\" is not a regular file (a pipe, a device or a socket)",
                                ErrorCode::InvalidData);
        }
    });
}

std::vector<std::string> discMemberFiles(const std::string& path) {
    std::error_code error;
    if (!std::filesystem::is_directory(path, error)) {
        return {path};
    }
    std::vector<std::string> files;
    forEachMember(
        path, [&](const std::filesystem::path& member, const std::filesystem::file_status& kind) {
            if (std::filesystem::is_regular_file(kind)) {
                files.push_back(member.string());
            }
        });
    return files;
}

std::vector<std::string> discFilesAround(const std::string& file) {
    // A file named through a symbolic link belongs to the disc its target lies in.
    std::error_code error;
    std::filesystem::path real = std::filesystem::weakly_canonical(file, error);
    if (error) {
        real = file;
    }
    const std::filesystem::path folder = real.parent_path();
    if (!isDiscFolder(folder)) {
        return {file};
    }
    std::vector<std::string> files =
        discMemberFiles(folder.has_parent_path() ? folder.parent_path().string() : ".");
    files.push_back(file);  // a member the listing missed, or one named through a link
    return files;
}

std::vector<std::string> Disc::memberFiles() const {
    return discMemberFiles(path_);
}

std::vector<std::string> discsOnShelf(const std::string& path) {
    std::error_code error;
    if (!std::filesystem::is_directory(path, error) || holdsDisc(path)) {
        return {path};
    }
    std::vector<std::string> discs;
    for (const auto& entry : std::filesystem::directory_iterator(path, error)) {
        const std::string extension = upperCase(entry.path().extension().string());
        if ((entry.is_regular_file(error) && (extension == ".ISO" || extension == ".IMG")) ||
            (entry.is_directory(error) && holdsDisc(entry.path()))) {
            discs.push_back(entry.path().string());
        }
    }
    if (discs.empty()) {
        return {path};  // opened as a disc, which says why it is none
    }
    std::sort(discs.begin(), discs.end());
    return discs;
}

SourceKind fileSourceKind(const std::string& path) {
    // Either separator: a window may name files the Windows way.
    const size_t slash = path.find_last_of("/\\");
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const size_t dot = name.rfind('.');
    std::string extension = dot == std::string::npos ? std::string() : name.substr(dot + 1);
    for (char& c : extension) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return extension == "EVO"   ? SourceKind::HdDvdFile
           : extension == "VOB" ? SourceKind::DvdFile
           : extension == "AOB" ? SourceKind::DvdAudioFile
                                : SourceKind::ProgramStream;
}

bool looksLikeDisc(const std::string& path) {
    std::error_code error;
    if (std::filesystem::is_directory(path, error) || std::filesystem::is_block_file(path, error)) {
        return true;
    }
    std::string extension = std::filesystem::path(path).extension().string();
    for (char& c : extension) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return extension == ".iso" || extension == ".img";
}

}  // namespace tolvane
