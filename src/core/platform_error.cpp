#include "core/platform_error.h"

#include <cerrno>
#include <cstring>

namespace tolvane {

PlatformError PlatformError::fromErrno(const std::string& what, const std::string& path,
                                       int errorNumber) {
    const bool missing = errorNumber == ENOENT || errorNumber == ENOTDIR;
    // A folder where a file was asked for is the caller's mistake, not the system's.
    const ErrorCode code = missing                 ? ErrorCode::NotFound
                           : errorNumber == EISDIR ? ErrorCode::Usage
                                                   : ErrorCode::InputOutput;
    return PlatformError(what + " \"" + path + "\". " + std::strerror(errorNumber), code);
}

}  // namespace tolvane
