#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace tolvane::fixture {

struct ProcessResult {
    int status = -1;  // exit status, or 128 + signal
    std::string out;
    std::string err;
};

// A program started with its standard output and error going to files of the caller's.
class ChildProcess {
public:
    ChildProcess(const std::string& program, const std::vector<std::string>& args,
                 const std::string& workDir);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    void signal(int number) const;
    bool running() const;
    ProcessResult wait();

private:
    pid_t pid_ = -1;
    std::string outPath_;
    std::string errPath_;
    bool waited_ = false;
};

// Runs a program to its end.
ProcessResult runProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::string& workDir);

// Whether the shell finds `program`: the peers a test needs, skipped where they are missing.
bool installed(const std::string& program);

}  // namespace tolvane::fixture
