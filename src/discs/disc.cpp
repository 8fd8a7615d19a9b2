#include "discs/disc.h"

#include <filesystem>

#include "core/platform_error.h"
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
