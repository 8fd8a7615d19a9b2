#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/platform_error.h"
#include "jobs/job_context.h"
#include "report/message_log.h"
#include "test_doubles.h"

namespace tolvane::fixture {

// The control, log and services a caller of the jobs keeps, with files held in memory.
struct Engine {
    JobControl control;
    MessageLog log;
    fixture::FakeOs os;
    // What the "user" does in the window's event loop runs where the job shows progress.
    Engine() {
        log.setEventPump([this] { os.processEvents(); });
    }
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;
    std::map<std::string, Bytes> files;
    JobContext context{
        .control = control,
        .log = log,
        .os = os,
        .fileExists = [this](const std::string& path) { return files.count(path) > 0; },
        .openInput = [this](const std::string& path) -> std::unique_ptr<InputSource> {
            const auto found = files.find(path);
            if (found == files.end()) {
                throw PlatformError("Cannot open file \"" + path + "\". No such file or directory");
            }
            return std::make_unique<fixture::MemorySource>(found->second);
        },
    };

    // The same context over the files of the disk.
    JobContext onDisk() const {
        JobContext disk = context;
        disk.fileExists = {};
        disk.openInput = {};
        return disk;
    }

    // The log as it was written, markup included, one entry per line.
    std::vector<std::string> logMarkup() const {
        std::vector<std::string> lines;
        for (const LogLine& line : log.lines()) {
            lines.push_back(line.markup);
        }
        return lines;
    }
};

// The message of the JobError that `run` ends with; empty when it ends without one.
template <typename Run>
std::string jobError(Run&& run) {
    try {
        run();
    } catch (const JobError& error) {
        return error.what();
    }
    return {};
}

}  // namespace tolvane::fixture
