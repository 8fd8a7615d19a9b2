#include "jobs/job_naming.h"

#include <cctype>

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

std::string upperCase(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return out;
}

std::string CutExt(std::string_view name, PathStyle style) {
    return std::string(name.substr(0, name.size() - extensionOf(name, style).size()));
}

std::string getsecond(std::string_view path, PathStyle style, const FileExists& exists) {
    const std::string folder = folderPart(path, style);
    std::string name = fileNamePart(path, style);
    if (const size_t at = name.find("_1"); at != std::string::npos) {
        name.replace(at, 2, "_2");
    } else if (const size_t zero = name.find("0_"); zero != std::string::npos) {
        name.replace(zero, 2, "1_");
    } else {
        return {};
    }
    std::string candidate = folder + name;
    return exists(candidate) ? candidate : std::string();
}

JobNames formJobNames(std::string_view sourceName, std::string_view sourcePath, bool continueOn,
                      PathStyle style, const FileExists& exists) {
    JobNames names;
    names.baseName = CutExt(sourceName, style);
    if (continueOn) {
        names.secondPath = getsecond(sourcePath, style, exists);
        names.second = !names.secondPath.empty();
        if (names.second) {
            names.baseName += "_" + CutExt(fileNamePart(names.secondPath, style), style);
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
    return "File size: " + std::to_string(bytes / 1048576) + " Mbytes.";
}

}  // namespace tolvane
