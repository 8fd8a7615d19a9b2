#pragma once

#include <stdexcept>
#include <string>

namespace tolvane {

// What ends a running job before its end: the job stops, closes what it opened and shows the
// text to the user.
class JobError : public std::runtime_error {
public:
    explicit JobError(const std::string& message) : std::runtime_error(message) {}
};

// A failure of the platform (a file that cannot be opened, created, read or written). It ends
// the running job; its text names the path and the system's reason.
class PlatformError : public JobError {
public:
    explicit PlatformError(const std::string& message) : JobError(message) {}

    // `what` is the failed action ("Cannot open file"), `errorNumber` an errno value.
    static PlatformError fromErrno(const std::string& what, const std::string& path,
                                   int errorNumber);
};

}  // namespace tolvane
