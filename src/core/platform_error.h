#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace tolvane {

// What kind of failure ended a job, for callers that act on it: a front end's exit status, a
// job that keeps or drops what it wrote.
enum class ErrorCode : uint8_t {
    Usage,        // the request cannot be met as asked (a name, a choice, a target)
    NotFound,     // a file, folder, disc or title that is not there
    InvalidData,  // the input is not what it claims to be (no program stream, a damaged table)
    Encrypted,    // the input is scrambled
    InputOutput,  // the system failed to open, read, create or write
    Cancelled,    // the user or a signal stopped it
};

// What ends a running job before its end: the job stops, closes what it opened and shows the
// text to the user.
class JobError : public std::runtime_error {
public:
    JobError(ErrorCode code, const std::string& message)
        : std::runtime_error(message), code_(code) {}

    ErrorCode code() const { return code_; }

private:
    ErrorCode code_;
};

// A failure of the platform (a file that cannot be opened, created, read or written). It ends
// the running job; its text names the path and the system's reason.
class PlatformError : public JobError {
public:
    explicit PlatformError(const std::string& message, ErrorCode code = ErrorCode::InputOutput)
        : JobError(code, message) {}

    // `what` is the failed action ("Cannot open file"), `errorNumber` an errno value: a path
    // that is not there is NotFound, a folder given for a file Usage, every other reason
    // InputOutput.
    static PlatformError fromErrno(const std::string& what, const std::string& path,
                                   int errorNumber);
};

}  // namespace tolvane
