#include "discs/disc.h"

#include <algorithm>
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
                        ": it has " + std::to_string(titles_.size()) + ".");
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
