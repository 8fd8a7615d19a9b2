#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace tolvane::fixture {

// What a hostile or damaged image does to the entry of one of its files.
struct UdfDamage {
    std::string file;  // its name, as in the folder
    // Its allocation descriptors go on in an allocation extent that goes on in itself.
    bool loopingExtents = false;
    // The size its entry claims, with nothing behind it past its data; 0: its own.
    uint64_t claimedSize = 0;
};

// Writes the files of `folder` and of the folders in it (one level deep, as an HD DVD disc
// has them) to `image` as a UDF 2.50 file system with a metadata partition, as HD DVD images
// are: the file entries and directories in the metadata partition, the file data in the
// physical one. Files of at most `inlineLimit` bytes that fit are kept inside their file
// entries.
void writeUdf250Image(const std::filesystem::path& folder, const std::filesystem::path& image,
                      size_t inlineLimit = 1024, const UdfDamage& damage = {});

}  // namespace tolvane::fixture
