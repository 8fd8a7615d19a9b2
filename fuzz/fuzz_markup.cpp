// The log's markup parser on arbitrary text, and escaped text shown as it is.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "report/markup.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tolvane;
    const std::string text(reinterpret_cast<const char*>(data), size);
    const LogLine line = parseMarkup(text);
    size_t covered = 0;
    for (const FormatRun& run : line.runs) {
        if (run.start != covered || run.start + run.length > line.text.size()) {
            std::abort();  // runs must cover the text in order
        }
        covered += run.length;
    }
    stripTags(text);
    if (parseMarkup(escapeMarkup(text)).text != text) {
        std::abort();  // an escaped name is shown as it is
    }
    return 0;
}
