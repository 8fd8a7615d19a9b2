#include "core/platform_error.h"

#include <cerrno>
#include <cstring>

namespace tolvane {

PlatformError PlatformError::fromErrno(const std::string& what, const std::string& path,
                                       int errorNumber) {
    const bool missing = errorNumber == ENOENT || errorNumber == ENOTDIR;
    return PlatformError(what + " \"" + path + "\". " + std::strerror(errorNumber),
                         missing ? ErrorCode::NotFound : ErrorCode::InputOutput);
}

}  // namespace tolvane
