#include "core/platform_error.h"

#include <cstring>

namespace tolvane {

PlatformError PlatformError::fromErrno(const std::string& what, const std::string& path,
                                       int errorNumber) {
    return PlatformError(what + " \"" + path + "\". " + std::strerror(errorNumber));
}

}  // namespace tolvane
