#pragma once

#include <filesystem>

namespace tolvane::fixture {

// Writes the files of `folder` and of the folders in it (one level deep, as an HD DVD disc
// has them) to `image` as a UDF 2.50 file system with a metadata partition, as HD DVD images
// are: the file entries and directories in the metadata partition, the file data in the
// physical one. Files of at most `inlineLimit` bytes that fit are kept inside their file
// entries.
void writeUdf250Image(const std::filesystem::path& folder, const std::filesystem::path& image,
                      size_t inlineLimit = 1024);

}  // namespace tolvane::fixture
