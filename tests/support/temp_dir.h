#pragma once

#include <filesystem>
#include <string>

#include "program_stream_builder.h"

namespace tolvane::fixture {

// A folder of its own under the system's temporary folder, removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // Writes `bytes` to `name` (folders created as needed); returns the full path.
    std::string write(const std::string& name, const Bytes& bytes) const;

private:
    std::filesystem::path path_;
};

Bytes readFile(const std::filesystem::path& path);
// Writes `bytes` to `path`, making its folders; throws when that fails.
void writeFile(const std::filesystem::path& path, const Bytes& bytes);

}  // namespace tolvane::fixture
