#include "child_process.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace tolvane::fixture {

namespace {

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string tempName(const char* what) {
    std::string pattern = std::string("/tmp/tolvane-") + what + "-XXXXXX";
    const int fd = mkstemp(pattern.data());
    if (fd < 0) {
        throw std::runtime_error("cannot make a temporary file");
    }
    close(fd);
    return pattern;
}

}  // namespace

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args,
                           const std::string& workDir)
    : outPath_(tempName("out")), errPath_(tempName("err")) {
    std::vector<std::string> all{program};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : all) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    pid_ = fork();
    if (pid_ < 0) {
        throw std::runtime_error("cannot fork");
    }
    if (pid_ == 0) {
        const int out = open(outPath_.c_str(), O_WRONLY | O_TRUNC);
        const int err = open(errPath_.c_str(), O_WRONLY | O_TRUNC);
        const int in = open("/dev/null", O_RDONLY);
        if (out < 0 || err < 0 || in < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 ||
            dup2(in, 0) < 0 || chdir(workDir.c_str()) != 0) {
            _exit(127);
        }
        execvp(program.c_str(), argv.data());  // a bare name is looked up on PATH
        _exit(127);
    }
}

ChildProcess::~ChildProcess() {
    if (!waited_ && pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    unlink(outPath_.c_str());
    unlink(errPath_.c_str());
}

void ChildProcess::signal(int number) const {
    kill(pid_, number);
}

bool ChildProcess::running() const {
    siginfo_t info{};
    if (waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) != 0) {
        return false;
    }
    return info.si_pid == 0;  // nothing to report yet: still running
}

ProcessResult ChildProcess::wait() {
    int status = 0;
    waitpid(pid_, &status, 0);
    waited_ = true;
    ProcessResult result;
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.out = slurp(outPath_);
    result.err = slurp(errPath_);
    return result;
}

ProcessResult runProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::string& workDir) {
    ChildProcess child(program, args, workDir);
    return child.wait();
}

bool installed(const std::string& program) {
    return runProcess("/bin/sh", {"-c", "command -v " + program}, "/").status == 0;
}

}  // namespace tolvane::fixture
