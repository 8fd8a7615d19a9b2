#include "sinks/job_naming.h"

#include <cctype>

#include "demux/job_state.h"

namespace tolvane {

namespace {

size_t folderEnd(std::string_view path, PathStyle style) {
    for (size_t k = path.size(); k > 0; --k) {
        const char c = path[k - 1];
        if (c == style.delimiter || (style.driveColon && c == ':')) {
            return k;
        }
    }
    return 0;
}

}  // namespace

std::string folderPart(std::string_view path, PathStyle style) {
    return std::string(path.substr(0, folderEnd(path, style)));
}

std::string fileNamePart(std::string_view path, PathStyle style) {
    return std::string(path.substr(folderEnd(path, style)));
}

std::string extensionOf(std::string_view path, PathStyle style) {
    const size_t nameStart = folderEnd(path, style);
    const size_t dot = path.rfind('.');
    if (dot == std::string_view::npos || dot < nameStart) {
        return {};
    }
    return std::string(path.substr(dot));
}

std::string withoutExtension(std::string_view name, PathStyle style) {
    return std::string(name.substr(0, name.size() - extensionOf(name, style).size()));
}

std::string secondFeatureFile(std::string_view path, PathStyle style, const FileExists& exists) {
    const std::string folder = folderPart(path, style);
    const std::string name = fileNamePart(path, style);
    const std::string extension = extensionOf(name, style);
    std::string stem = name.substr(0, name.size() - extension.size());
    // The last "_1" is the file's number within its title set: VTS_10_1 goes on in VTS_10_2,
    // not in VTS_20_1, which is another title set.
    if (const size_t at = stem.rfind("_1"); at != std::string::npos) {
        stem.replace(at, 2, "_2");
    } else if (const size_t zero = stem.find("0_"); zero != std::string::npos) {
        stem.replace(zero, 2, "1_");
    } else {
        return {};
    }
    std::string candidate = folder + stem + extension;
    return exists(candidate) ? candidate : std::string();
}

std::string safeFileNamePart(std::string_view text) {
    std::string safe(text);
    for (char& c : safe) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 32 || u == 127 ||
            std::string_view("/\\:*?\"<>|").find(c) != std::string_view::npos) {
            c = '_';
        }
    }
    return safe;
}

JobNames formJobNames(std::string_view sourceName, std::string_view sourcePath, bool continueOn,
                      PathStyle style, const FileExists& exists) {
    JobNames names;
    names.baseName = withoutExtension(sourceName, style);
    if (continueOn) {
        names.secondPath = secondFeatureFile(sourcePath, style, exists);
        names.second = !names.secondPath.empty();
        if (names.second) {
            names.baseName.append("_").append(
                withoutExtension(fileNamePart(names.secondPath, style), style));
        }
    }
    return names;
}

std::string outputPrefix(std::string_view outputFolder, std::string_view baseName,
                         PathStyle style) {
    if (outputFolder.empty()) {
        return std::string(baseName);
    }
    std::string prefix(outputFolder);
    if (prefix.back() != style.delimiter) {
        prefix += style.delimiter;
    }
    return prefix + std::string(baseName);
}

std::string sizeReport(int64_t bytes) {
    // Whole mebibytes would say 0 for a small file: it gets kibibytes or bytes instead.
    constexpr int64_t kKibibyte = 1024;
    if (bytes >= kMebibyte) {
        return "File size: " + std::to_string(bytes / kMebibyte) + " Mbytes.";
    }
    if (bytes >= kKibibyte) {
        return "File size: " + std::to_string(bytes / kKibibyte) + " KiB.";
    }
    return "File size: " + std::to_string(bytes) + (bytes == 1 ? " byte." : " bytes.");
}

}  // namespace tolvane
