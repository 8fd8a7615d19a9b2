// The command-line parser on arguments split from arbitrary bytes at NULs: a usage error or a
// result, nothing else.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cli/cli_options.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tolvane::cli;
    std::vector<std::string> args(1);
    for (size_t k = 0; k < size; ++k) {
        if (data[k] == 0) {
            args.emplace_back();
        } else {
            args.back() += static_cast<char>(data[k]);
        }
    }
    try {
        parseArguments(args);
    } catch (const UsageError&) {
    }
    return 0;
}
