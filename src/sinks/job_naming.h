#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/text_escape.h"

namespace tolvane {

// How paths are written: the delimiter, and whether a drive colon ("C:") also ends a folder.
struct PathStyle {
    char delimiter = '/';
    bool driveColon = false;

    static PathStyle native() { return PathStyle{'/', false}; }
    static PathStyle windows() { return PathStyle{'\\', true}; }
};

using FileExists = std::function<bool(const std::string&)>;

// Folder part of a path, with its trailing delimiter; empty when the path has none.
std::string folderPart(std::string_view path, PathStyle style);
// File-name part of a path: everything after the folder part.
std::string fileNamePart(std::string_view path, PathStyle style);
// The extension of the last path component, from its last "." on; empty when it has none.
std::string extensionOf(std::string_view path, PathStyle style);

// `name` without its extension.
std::string withoutExtension(std::string_view name, PathStyle style = PathStyle::native());

// The second feature file beside `path` (FEATURE_1.EVO -> FEATURE_2.EVO, VTS_01_1.VOB ->
// VTS_01_2.VOB), or empty when there is no candidate or it does not exist.
std::string secondFeatureFile(std::string_view path, PathStyle style, const FileExists& exists);

// `text` made fit to stand inside a file name: path separators, characters that common file
// systems refuse and control characters become "_".
std::string safeFileNamePart(std::string_view text);
// The longest file name (without its folder) that common file systems take, in bytes.
inline constexpr size_t kMaxFileNameBytes = 255;

struct JobNames {
    std::string baseName;
    std::string secondPath;
    bool second = false;
};

// The base name of a job over `sourcePath`, joined with the second file's when `continueOn`
// finds one.
JobNames formJobNames(std::string_view sourceName, std::string_view sourcePath, bool continueOn,
                      PathStyle style, const FileExists& exists);

// Where a job's outputs go: the output folder (with a delimiter added) and the base name.
std::string outputPrefix(std::string_view outputFolder, std::string_view baseName, PathStyle style);

// "File size: N Mbytes." for a file of `bytes` bytes.
std::string sizeReport(int64_t bytes);

}  // namespace tolvane
