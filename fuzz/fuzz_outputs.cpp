// What writes files and documents, driven by arbitrary names, settings and write failures: an
// output never replaces a whole file unless it ended normally, never leaves a part file behind,
// never goes over a file that is read, and every JSON document parses.
#include <sys/resource.h>

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/json_report.h"
#include "core/file_output.h"
#include "core/platform_error.h"
#include "jobs/demux_job.h"
#include "program_stream_builder.h"
#include "temp_dir.h"

namespace {

using namespace tolvane;
using fixture::Bytes;

// Takes bytes off the front of the input.
struct Input {
    const uint8_t* data;
    size_t size;

    uint8_t byte() {
        if (size == 0) {
            return 0;
        }
        --size;
        return *data++;
    }
    std::string text(size_t most) {
        const size_t length = std::min<size_t>(byte() % (most + 1), size);
        std::string out(reinterpret_cast<const char*>(data), length);
        data += length;
        size -= length;
        return out;
    }
};

// Files may grow to `limit` bytes only while the output is written: a failing write anywhere.
struct FileSizeLimit {
    rlimit before{};
    explicit FileSizeLimit(rlim_t limit) {
        getrlimit(RLIMIT_FSIZE, &before);
        rlimit cut = before;
        cut.rlim_cur = limit;
        setrlimit(RLIMIT_FSIZE, &cut);
    }
    ~FileSizeLimit() { setrlimit(RLIMIT_FSIZE, &before); }
};

void check(bool holds) {
    if (!holds) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool ignored = std::signal(SIGXFSZ, SIG_IGN) != SIG_ERR;
    static_cast<void>(ignored);
    Input in{data, size};
    const uint8_t flags = in.byte();
    fixture::TempDir dir;
    const std::string source = dir.write("SOURCE.EVO", Bytes{1, 2, 3});

    // A name as the demux forms it, from a caption and extensions of any bytes.
    const StreamBox box{.kind = StreamKind::Audio,
                        .label = in.text(300),
                        .delayMs = (flags & 1) != 0 ? std::optional<int32_t>(-40) : std::nullopt};
    OutputNaming naming{.delayNames = (flags & 2) != 0};
    naming.audioExtension = in.text(40);
    const std::string prefix = (dir.path() / in.text(200)).string();
    std::string name = outputFileName(box, prefix, naming);
    if ((flags & 4) != 0) {
        name = source;  // the output would go over the file that is read
    }
    const Bytes whole(in.byte(), 0x5A);
    std::error_code error;
    bool wholeThere = false;
    if ((flags & 8) != 0 && (flags & 4) == 0) {
        // A whole file of an earlier run, where the name can hold one.
        std::filesystem::create_directories(std::filesystem::path(name).parent_path(), error);
        std::ofstream(name, std::ios::binary)
            .write(reinterpret_cast<const char*>(whole.data()),
                   static_cast<std::streamsize>(whole.size()));
        wholeThere = std::filesystem::is_regular_file(name, error) &&
                     std::filesystem::file_size(name, error) == whole.size();
    }
    const Bytes written(static_cast<size_t>(in.byte()) * 700, 0x11);
    const size_t limit = static_cast<size_t>(in.byte()) * 1024;
    bool closed = false;
    bool refused = false;
    try {
        checkOutputFileName(name, PathStyle::native());
        checkOutputTarget(name, {source});
        FileOutput output(name);
        {
            const FileSizeLimit cut(limit == 0 ? RLIM_INFINITY : limit);
            output.append(written.data(), written.size());
            if ((flags & 16) != 0) {
                output.closeIncomplete();  // a cancel
            } else {
                output.close();
                closed = true;
            }
        }
    } catch (const PlatformError&) {
        refused = true;
    } catch (const JobError&) {
        refused = true;
    }
    static_cast<void>(refused);
    // The file read is never touched; a whole file is replaced only by an output that ended.
    check(fixture::readFile(source) == Bytes({1, 2, 3}));
    if (wholeThere) {
        check(fixture::readFile(name) == (closed ? written : whole));
    }
    // No hidden part file outlives the output: ".NAME.part-XXXXXX", not the output's own names.
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.path(), error)) {
        const std::string file = entry.path().filename().string();
        const size_t part = file.rfind(".part-");
        const bool partFile =
            file[0] == '.' && part != std::string::npos && part + 12 == file.size();
        check(!partFile || entry.path().string().rfind(name, 0) == 0);
    }

    // Every document parses, whatever bytes the names hold.
    ReadResult read;
    read.files.push_back(FileRead{name, 3});
    read.streams.push_back(box);
    read.warnings.push_back(box.label);
    cli::Json report = cli::readReport(read);
    report["outputs"] = cli::outputsReport({OutputWritten{StreamKind::Audio, 0, name, 1}});
    cli::makeValidUtf8(report);
    check(!cli::Json::parse(report.dump(), nullptr, false).is_discarded());
    XplResult playlist;
    playlist.titleFound = true;
    playlist.titleName = box.label;
    playlist.chapters.push_back(ChapterMark{1, naming.audioExtension});
    std::ostringstream document;
    cli::writePlaylistReport(playlist, prefix, document);
    check(!cli::Json::parse(document.str(), nullptr, false).is_discarded());
    return 0;
}
